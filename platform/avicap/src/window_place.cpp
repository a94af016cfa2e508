#include "window_place.h"

#include "device_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdlib>

namespace kelvra::avicap {

namespace {
constexpr int kMinSide = 80;        // smaller than this no window of ours is usable
constexpr int kMaxSide = 16384;     // larger than any screen: a damaged number
constexpr int kMaxOffset = 100000;  // a position beyond this is no screen's either
constexpr qint64 kMaxFileBytes = 256;
}  // namespace

std::string windowPlacePath(const std::string& name)
{
    return platformConfigPath(name + ".place");
}

std::optional<QRect> loadWindowPlace(const std::string& name, std::string& problem)
{
    problem.clear();
    QFile file(QString::fromStdString(windowPlacePath(name)));
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "cannot be read";
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    const QStringList fields = QString::fromLatin1(bytes).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int v[4] = {};
    bool ok = bytes.size() <= kMaxFileBytes && fields.size() == 4;
    for (int i = 0; ok && i < 4; ++i)
        v[i] = fields[i].toInt(&ok);
    ok = ok && v[2] >= kMinSide && v[3] >= kMinSide && v[2] <= kMaxSide && v[3] <= kMaxSide &&
         std::abs(v[0]) <= kMaxOffset && std::abs(v[1]) <= kMaxOffset;
    if (!ok) {
        problem = "is damaged";
        return std::nullopt;
    }
    return QRect(v[0], v[1], v[2], v[3]);
}

bool saveWindowPlace(const std::string& name, const QRect& place)
{
    const QString path = QString::fromStdString(windowPlacePath(name));
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // Written whole or not at all: a crash mid-write leaves the last place, not half of one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray line = QStringLiteral("%1 %2 %3 %4\n")
                                .arg(place.x()).arg(place.y()).arg(place.width()).arg(place.height())
                                .toLatin1();
    return file.write(line) == line.size() && file.commit();
}

}  // namespace kelvra::avicap
