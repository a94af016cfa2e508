// The capture window's watch over its open file: the journal's events, the warnings they raise,
// and the status line drawn over the preview, which tells a user who comes back what is being
// recorded where, and for how much longer.
#include "capture_window.h"

#include <QDir>
#include <QFontMetrics>
#include <QFileInfo>
#include <QPainter>
#include <QTimer>

#include <cstring>

namespace kelvra::avicap {

namespace {

constexpr int kStatusMargin = 3;
constexpr int kStatusFontPixels = 11;          // the smallest size whose commas and descenders read
constexpr int kLiveStatusFontPixels = 15;      // the Live View has room for the whole line
constexpr const char* kPaceWords = " at the present pace";
constexpr int kStatusRefreshMs = 1000;          // "last frame ... ago" moves on by the second
constexpr QRgb kStatusColor = 0xD0000000;        // nearly opaque black: the text reads over any picture
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
    fileFrames_ = std::make_unique<FileFrames>(file_->path(), file_->width(), file_->height(), file_->frames());
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
    stopPlaying();
    fileFrames_.reset();
    if (statusTimer_)
        statusTimer_->stop();
    // Warnings about a recording end with it.
    problems_.clear(Topic::Room);
    problems_.clear(Topic::Frozen);
    update();
}

std::string CaptureWindow::statusText() const
{
    // What the animation side has to say comes last: a replay running, or news about a command.
    std::string news;
    if (replay_)
        news = playingText();
    if (std::optional<std::string> n = currentNote())
        news += (news.empty() ? "" : "\n") + *n;
    std::string rows;
    if (!file_ || !watch_) {
        rows = continueNote_;
        if (stepsWithoutFile_ != 0)
            rows += (rows.empty() ? "" : "\n") + ("Not recording: " + groupedNumber(stepsWithoutFile_) +
                                                   (stepsWithoutFile_ == 1 ? " frame step" : " frame steps") +
                                                   " found no open capture file.");
    } else {
        const QFileInfo info(QString::fromLocal8Bit(file_->path().c_str()));
        const std::string where =
            QDir(shownFolder(info.absolutePath())).filePath(info.fileName()).toLocal8Bit().toStdString();
        const uint64_t frames = file_->frames();
        std::string count = groupedNumber(frames) + (frames == 1 ? " frame" : " frames");
        const std::optional<uint64_t> since = watch_->msSinceLastFrame(stepClockMs());
        count += since ? ", last " + shortDuration(*since) + " ago" : ", none taken yet";
        rows = "REC " + where + "\n" + count + "\n" + watch_->forecastLine();
        if (outsideHoursUntil_)
            rows += "\noutside capture hours until " + localClockText(*outsideHoursUntil_, wallClockSeconds());
    }
    if (news.empty())
        return rows;
    return rows.empty() ? news : rows + "\n" + news;
}

namespace {

// Shorter forms of a status row, longest first, each made of whole words: a narrow view shows
// the first that fits. Only the file's name may lose its middle, when nothing else is left.
QStringList shorterForms(const QString& row)
{
    QStringList forms{row};
    if (row.startsWith(QLatin1String("REC "))) {
        const QString name = row.section(QLatin1Char('/'), -1);
        if (name != row.mid(4))
            forms << QStringLiteral("REC \u2026/") + name;
        forms << QStringLiteral("REC ") + name;
        return forms;
    }
    if (row.startsWith(QLatin1String("room for "))) {
        QString shorter = row;
        if (shorter.endsWith(QLatin1String(kPaceWords)))
            forms << (shorter = shorter.chopped(int(std::strlen(kPaceWords))));
        const int comma = shorter.indexOf(QLatin1String(", "));
        if (comma > 0) {
            // "room for about 3 days" says more to a user who comes back than the frame count.
            forms << QStringLiteral("room for ") + shorter.mid(comma + 2);
            forms << shorter.left(comma);
        }
        return forms;
    }
    const int comma = row.indexOf(QLatin1String(", "));
    if (comma > 0)
        forms << row.left(comma);
    return forms;
}

}  // namespace

QString fitStatusRow(const QFontMetrics& metrics, const QString& row, int width)
{
    const QStringList forms = shorterForms(row);
    for (const QString& form : forms)
        if (metrics.horizontalAdvance(form) <= width)
            return form;
    const QString& last = forms.last();
    if (last.startsWith(QLatin1String("REC ")))
        return QStringLiteral("REC ") + metrics.elidedText(last.mid(4), Qt::ElideMiddle,
                                                           width - metrics.horizontalAdvance(QStringLiteral("REC ")));
    // Whole words from the end, then an ellipsis.
    QStringList words = last.split(QLatin1Char(' '));
    while (words.size() > 1) {
        words.removeLast();
        const QString text = words.join(QLatin1Char(' ')) + QStringLiteral("\u2026");
        if (metrics.horizontalAdvance(text) <= width)
            return text;
    }
    return metrics.elidedText(last, Qt::ElideRight, width);
}

void CaptureWindow::paintStatusLine(QPainter& painter, const QRect& area, bool live)
{
    const std::string status = statusText();
    if (status.empty())
        return;
    QFont font = painter.font();
    font.setPixelSize(live ? kLiveStatusFontPixels : kStatusFontPixels);
    font.setHintingPreference(QFont::PreferFullHinting);  // crisp commas and descenders when small
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int textWidth = area.width() - 2 * kStatusMargin;
    QStringList rows = QString::fromLocal8Bit(status.c_str()).split(QLatin1Char('\n'));
    for (QString& row : rows)
        row = fitStatusRow(metrics, row, textWidth);
    // Each row drawn at its own baseline and nothing clipped: the band holds every descender.
    const int rowsHeight = (int(rows.size()) - 1) * metrics.lineSpacing() + metrics.height();
    const int bandHeight = std::min(area.height() / 2, rowsHeight + 2 * kStatusMargin);
    const QRect band(area.left(), area.top(), area.width(), bandHeight);  // the top: problems take the bottom
    painter.fillRect(band, QColor::fromRgba(file_ ? kStatusColor : kNotRecordingColor));
    painter.setPen(Qt::white);
    int baseline = band.top() + kStatusMargin + metrics.ascent();
    for (const QString& row : rows) {
        if (baseline + metrics.descent() > band.bottom() + 1)
            break;  // a row that would not fit whole is left out
        painter.drawText(QPoint(band.left() + kStatusMargin, baseline), row);
        baseline += metrics.lineSpacing();
    }
}

}  // namespace kelvra::avicap
