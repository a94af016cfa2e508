#include "device_settings.h"

#include "control_settings.h"

#include <kelvra/media/encoder.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace kelvra::avicap {

namespace {

constexpr int kMinQuality = 1, kMaxQuality = 100;
constexpr int kMinutesPerDay = 1440;
constexpr double kMaxLatitude = 90, kMaxLongitude = 180;
constexpr int kLastPixelFormat = int(media::PixelFormat::MJPEG);
constexpr int kLastCodec = int(media::Codec::Lossless);

QString str(const std::string& s) { return QString::fromUtf8(s.c_str()); }

bool sameDevice(const QJsonObject& entry, const media::DriverInfo& driver)
{
    return entry.value("name").toString() == str(driver.name) && entry.value("driver").toString() == str(driver.driverName) &&
           entry.value("port").toString() == str(driver.port);
}

QJsonObject toJson(const media::DriverInfo& driver, const DeviceSettings& s)
{
    QJsonObject entry{{"name", str(driver.name)}, {"driver", str(driver.driverName)}, {"port", str(driver.port)}};
    if (s.format)
        entry["format"] = QJsonObject{{"pixels", int(s.format->format)},
                                      {"width", s.format->width},
                                      {"height", s.format->height},
                                      {"rate", QJsonArray{double(s.format->rate.numerator), double(s.format->rate.denominator)}}};
    if (s.compression)
        entry["compression"] = QJsonObject{{"codec", int(s.compression->codec)}, {"quality", s.compression->quality}};
    QJsonObject controls;
    for (const auto& [id, value] : s.controls)
        controls[QString::number(id)] = double(value);
    entry["controls"] = controls;
    entry["hours"] = QJsonObject{{"mode", int(s.hours.mode)},
                                 {"from", s.hours.fromMinute},
                                 {"to", s.hours.toMinute},
                                 {"latitude", s.hours.latitude},
                                 {"longitude", s.hours.longitude}};
    return entry;
}

// Values out of their range are left at their defaults: the file may have been edited by hand.
DeviceSettings fromJson(const QJsonObject& entry)
{
    DeviceSettings s;
    const QJsonObject format = entry.value("format").toObject();
    const QJsonArray rate = format.value("rate").toArray();
    const int pixels = format.value("pixels").toInt(-1);
    if (pixels >= 0 && pixels <= kLastPixelFormat && format.value("width").toInt() > 0 &&
        format.value("height").toInt() > 0 && rate.size() == 2 && rate[0].toDouble() > 0 && rate[1].toDouble() > 0)
        s.format = media::StreamFormat{media::PixelFormat(pixels), format.value("width").toInt(),
                                       format.value("height").toInt(),
                                       {uint32_t(rate[0].toDouble()), uint32_t(rate[1].toDouble())}};
    const QJsonObject compression = entry.value("compression").toObject();
    const int codec = compression.value("codec").toInt(-1);
    const int quality = compression.value("quality").toInt(-1);
    if (codec >= 0 && codec <= kLastCodec && quality >= kMinQuality && quality <= kMaxQuality)
        s.compression = Compression{media::Codec(codec), quality};
    const QJsonObject controls = entry.value("controls").toObject();
    for (auto it = controls.begin(); it != controls.end(); ++it) {
        bool ok = false;
        const uint32_t id = it.key().toUInt(&ok);
        if (ok && it.value().isDouble())
            s.controls[id] = int64_t(it.value().toDouble());
    }
    const QJsonObject hours = entry.value("hours").toObject();
    const int mode = hours.value("mode").toInt(0);
    const int from = hours.value("from").toInt(-1), to = hours.value("to").toInt(-1);
    const double latitude = hours.value("latitude").toDouble(), longitude = hours.value("longitude").toDouble();
    if (mode >= 0 && mode <= int(CaptureHours::Mode::Daylight) && from >= 0 && from < kMinutesPerDay && to >= 0 &&
        to < kMinutesPerDay && std::abs(latitude) <= kMaxLatitude && std::abs(longitude) <= kMaxLongitude)
        s.hours = CaptureHours{CaptureHours::Mode(mode), from, to, latitude, longitude};
    return s;
}

// The file's device entries; false (with nothing) when it exists and cannot be read as such.
bool readEntries(QJsonArray& entries, std::string& problem)
{
    QFile file(QString::fromLocal8Bit(DeviceSettingsStore::path().c_str()));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "The saved device settings in '" + DeviceSettingsStore::path() + "' cannot be read: " +
                  file.errorString().toStdString() + ". The device starts with its own settings.";
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !doc.object().value("devices").isArray()) {
        problem = "The saved device settings in '" + DeviceSettingsStore::path() +
                  "' are damaged and were ignored; the device starts with its own settings.";
        return false;
    }
    entries = doc.object().value("devices").toArray();
    return true;
}

bool offers(const std::vector<media::FormatDescription>& offered, const media::StreamFormat& f)
{
    for (const media::FormatDescription& d : offered)
        for (const media::FrameSize& s : d.sizes)
            if (d.format == f.format && s.width == f.width && s.height == f.height &&
                std::any_of(s.rates.begin(), s.rates.end(), [&](const media::FrameRate& r) {
                    return uint64_t(r.numerator) * f.rate.denominator == uint64_t(f.rate.numerator) * r.denominator;
                }))
                return true;
    return false;
}

}  // namespace

std::string platformConfigPath(const std::string& fileName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config");
    return QDir(folder).filePath(QStringLiteral("kelvra/") + QString::fromStdString(fileName)).toLocal8Bit().toStdString();
}

std::string DeviceSettingsStore::path()
{
    return platformConfigPath("devices.json");
}

DeviceSettings DeviceSettingsStore::load(const media::DriverInfo& driver, std::vector<std::string>& problems)
{
    QJsonArray entries;
    std::string problem;
    if (!readEntries(entries, problem)) {
        problems.push_back(problem);
        return {};
    }
    for (const QJsonValue& e : entries)
        if (e.isObject() && sameDevice(e.toObject(), driver))
            return fromJson(e.toObject());
    return {};
}

bool DeviceSettingsStore::save(const media::DriverInfo& driver, const DeviceSettings& settings)
{
    QJsonArray entries, kept;
    std::string ignored;
    readEntries(entries, ignored);
    for (const QJsonValue& e : entries)
        if (e.isObject() && !sameDevice(e.toObject(), driver))
            kept.append(e);
    kept.append(toJson(driver, settings));
    const QString file = QString::fromLocal8Bit(path().c_str());
    QDir().mkpath(QFileInfo(file).absolutePath());
    // Written whole under another name and renamed: a crash never leaves half a file.
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) &&
           out.write(QJsonDocument(QJsonObject{{"devices", kept}}).toJson()) >= 0 && out.commit();
}

void applyDeviceSettings(media::FrameSource& source, DeviceSettings& settings, std::vector<std::string>& dropped)
{
    const std::string device = "'" + source.name() + "'";
    if (settings.format) {
        const media::StreamFormat& f = *settings.format;
        if (!offers(source.formats(), f)) {
            dropped.push_back("The saved video format " + std::to_string(f.width) + "x" + std::to_string(f.height) +
                              " is no longer offered by " + device + " and was dropped.");
            settings.format.reset();
        } else if (!source.setFormat(f)) {
            dropped.push_back("The saved video format " + std::to_string(f.width) + "x" + std::to_string(f.height) +
                              " was refused by " + device + " and was dropped.");
            settings.format.reset();
        }
    }
    const std::vector<media::Control> controls = source.controls();
    std::map<uint32_t, int64_t> usable;
    for (const auto& [id, value] : settings.controls) {
        const auto c = std::find_if(controls.begin(), controls.end(), [id = id](const media::Control& c) { return c.id == id; });
        if (c != controls.end() && c->type != media::ControlType::Button && value >= c->minimum && value <= c->maximum)
            usable[id] = value;
        else
            dropped.push_back("A saved camera control (" + std::to_string(id) + ") is no longer offered by " + device +
                              " and was dropped.");
    }
    settings.controls = usable;
    applyControlValues(source, usable);
}

}  // namespace kelvra::avicap
