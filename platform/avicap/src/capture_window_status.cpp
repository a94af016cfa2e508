// The capture window's watch over its open file: the journal's events, the warnings they raise,
// and the status line drawn over the preview, which tells a user who comes back what is being
// recorded where, and for how much longer.
#include "capture_window.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QTimer>

#include <cstring>

namespace kelvra::avicap {

namespace {

constexpr int kStatusMargin = 3;
constexpr int kStatusFontPixels = 10;          // small: the program's preview is 200 pixels wide
constexpr const char* kPaceWords = " at the present pace";
constexpr int kStatusRefreshMs = 1000;          // "last frame ... ago" moves on by the second
constexpr QRgb kStatusColor = 0xB0000000;        // translucent black over the picture
constexpr QRgb kNotRecordingColor = 0xD0A05000;  // amber: frame steps go nowhere

// "~/Videos" for a folder in the home folder, the full path otherwise.
QString shownFolder(const QString& folder)
{
    const QString home = QDir::homePath();
    if (folder == home)
        return QStringLiteral("~");
    if (folder.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + folder.mid(home.size());
    return folder;
}

}  // namespace

const char* noticeCaption(Topic topic)
{
    switch (topic) {
    case Topic::Device:
    case Topic::Frozen: return "Capture Device";
    case Topic::FrameTime: return "Frame Rate";
    case Topic::File:
    case Topic::Room:
    case Topic::FileName:
    case Topic::Count: break;
    }
    return "Capture File";
}

void CaptureWindow::startWatch()
{
    watch_ = std::make_unique<RecordingWatch>(
        file_->path(), file_->frames(), streamText(file_->width(), file_->height(), compressionName(file_->format())),
        stepClockMs());
    stepsWithoutFile_ = 0;
    if (!statusTimer_) {
        statusTimer_ = new QTimer(this);
        connect(statusTimer_, &QTimer::timeout, this, [this] { update(); });
    }
    statusTimer_->start(kStatusRefreshMs);
    update();
}

void CaptureWindow::watchFramed(const media::Frame& frame)
{
    const RecordingWatch::StepNews news =
        watch_->framed(pictureDigest(frame.data.data(), frame.data.size()), file_->lastFrameBytes(), file_->frames());
    if (news.frozenBegan)
        raise(Topic::Frozen, "The camera '" + device_->driver().name + "' has delivered the same picture " +
                                 std::to_string(kFrozenPictures) +
                                 " times in a row: it may be frozen. Frames go on into the file; if the scene "
                                 "should move, plug the camera out and in again.");
    if (news.frozenEnded)
        clear(Topic::Frozen);
    if (news.lowRoomBegan)
        raise(Topic::Room, "Less than a day of recording fits on the disk of '" + file_->path() +
                               "' at the present pace. Make room on it, or stop and choose a capture file on "
                               "another disk.");
    if (news.lowRoomEnded)
        clear(Topic::Room);
    update();
}

void CaptureWindow::watchStepFailed(const media::Status& status, const std::string& text)
{
    if (status.code == media::kDeviceLost)
        watch_->deviceLost(device_->driver().name);
    watch_->stepFailed(text);
    update();
}

void CaptureWindow::finishWatch(const media::Status& closing, uint64_t frames)
{
    outsideHoursUntil_.reset();
    if (!watch_)
        return;
    watch_->closed(frames, closing ? std::string() : closing.message);
    watch_.reset();
    if (statusTimer_)
        statusTimer_->stop();
    // Warnings about a recording end with it.
    problems_.clear(Topic::Room);
    problems_.clear(Topic::Frozen);
    update();
}

std::string CaptureWindow::statusText() const
{
    if (!file_ || !watch_) {
        std::string rows = continueNote_;
        if (stepsWithoutFile_ > 0)
            rows += (rows.empty() ? "" : "\n") + ("Not recording: " + groupedNumber(stepsWithoutFile_) +
                                                   (stepsWithoutFile_ == 1 ? " frame step" : " frame steps") +
                                                   " found no open capture file.");
        return rows;
    }
    const QFileInfo info(QString::fromLocal8Bit(file_->path().c_str()));
    const std::string where = QDir(shownFolder(info.absolutePath())).filePath(info.fileName()).toLocal8Bit().toStdString();
    const uint64_t frames = file_->frames();
    std::string count = groupedNumber(frames) + (frames == 1 ? " frame" : " frames");
    const std::optional<uint64_t> since = watch_->msSinceLastFrame(stepClockMs());
    count += since ? ", last " + shortDuration(*since) + " ago" : ", none taken yet";
    std::string rows = "REC " + where + "\n" + count + "\n" + watch_->forecastLine();
    if (outsideHoursUntil_)
        rows += "\noutside capture hours until " + localClockText(*outsideHoursUntil_, wallClockSeconds());
    return rows;
}

void CaptureWindow::paintStatusLine(QPainter& painter)
{
    const std::string status = statusText();
    if (status.empty())
        return;
    QFont font = painter.font();
    font.setPixelSize(kStatusFontPixels);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int textWidth = width() - 2 * kStatusMargin;
    // One row per line, so the band keeps its height: a long path loses its middle, and a forecast
    // that does not fit drops its closing words first.
    QStringList rows = QString::fromLocal8Bit(status.c_str()).split(QLatin1Char('\n'));
    for (QString& row : rows) {
        if (metrics.horizontalAdvance(row) > textWidth && row.endsWith(QLatin1String(kPaceWords)))
            row.chop(int(std::strlen(kPaceWords)));
        if (metrics.horizontalAdvance(row) > textWidth && row.startsWith(QLatin1String("room for ")))
            row.replace(QLatin1String("room for "), QLatin1String("room ")).replace(QLatin1String(", about "), QLatin1String(", ~"));
        row = metrics.elidedText(row, row.startsWith(QLatin1String("REC ")) ? Qt::ElideMiddle : Qt::ElideRight, textWidth);
    }
    const int bandHeight = std::min(height() / 2, int(rows.size()) * metrics.lineSpacing() + 2 * kStatusMargin);
    const QRect band(0, 0, width(), bandHeight);  // the top: problems take the bottom
    painter.fillRect(band, QColor::fromRgba(file_ ? kStatusColor : kNotRecordingColor));
    painter.setPen(Qt::white);
    painter.drawText(band.adjusted(kStatusMargin, kStatusMargin, -kStatusMargin, -kStatusMargin),
                     Qt::AlignLeft | Qt::AlignTop, rows.join(QLatin1Char('\n')));
}

}  // namespace kelvra::avicap
