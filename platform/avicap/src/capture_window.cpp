#include "capture_window.h"

#include "device_dialogs.h"
#include "preview_image.h"

#include <kelvra/kernel/capture_state.h>

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QResizeEvent>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kelvra::avicap {

bool recordingMessages();  // testing.cpp

namespace {

constexpr UINT kVkEscape = 0x1B;
constexpr DWORD kDefaultMicroSecPerFrame = 66667;  // 15 frames per second
constexpr UINT kDefaultPercentDropForError = 10;
constexpr UINT kDefaultStepCaptureAverageFrames = 5;
constexpr double kMicroSecPerSecond = 1e6;
constexpr int kBannerMargin = 3;
constexpr int kBannerFontPoints = 8;
constexpr int kLiveBannerFontPoints = 11;
constexpr QRgb kBannerColor = 0xD0B00000;  // translucent dark red over the picture

// The settings a fresh capture window answers to WM_CAP_GET_SEQUENCE_SETUP, as Windows fills
// them. fCaptureAudio is FALSE: this window records no sound, whatever hardware there is.
CAPTUREPARMS defaultParms()
{
    CAPTUREPARMS p;
    std::memset(&p, 0, sizeof p);
    p.dwRequestMicroSecPerFrame = kDefaultMicroSecPerFrame;
    p.fMakeUserHitOKToCapture = FALSE;
    p.wPercentDropForError = kDefaultPercentDropForError;
    p.fYield = FALSE;
    p.dwIndexSize = 0;        // 0 = the default index size
    p.wChunkGranularity = 0;  // 0 = the sector size
    p.fCaptureAudio = FALSE;
    p.vKeyAbort = kVkEscape;
    p.fAbortLeftMouse = TRUE;
    p.fAbortRightMouse = TRUE;
    p.fLimitEnabled = FALSE;
    p.wStepCaptureAverageFrames = kDefaultStepCaptureAverageFrames;
    p.AVStreamMaster = AVSTREAMMASTER_AUDIO;
    return p;
}

CAPTUREPARMS parmsSnapshot(LPARAM lParam, WPARAM size)
{
    CAPTUREPARMS p;
    std::memset(&p, 0, sizeof p);
    std::memcpy(&p, reinterpret_cast<const void*>(lParam), std::min<size_t>(size, sizeof p));
    return p;
}

// Copies `text` into a caller's buffer of `size` bytes, cut to fit and always terminated.
void copyText(const std::string& text, WPARAM size, LPARAM buffer)
{
    char* out = reinterpret_cast<char*>(buffer);
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::string framesPerSecond(uint32_t microSecPerFrame)
{
    return QString::number(kMicroSecPerSecond / microSecPerFrame, 'g', 6).toStdString();
}

std::string sizeText(int width, int height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string deviceGoneText(const Device& device)
{
    return "The capture device '" + device.driver().name +
           "' is gone. Frame steps go on without pictures until it returns; the capture file keeps every "
           "frame already taken.";
}

std::string deviceFailureText(const Device& device, const media::Status& status)
{
    if (status.code == media::kDeviceLost)
        return deviceGoneText(device);
    if (status.code == media::kTimedOut)
        return "The capture device '" + device.driver().name +
               "' delivered no picture in time; frame steps are skipped while it stays silent.";
    return "The capture device '" + device.driver().name + "' failed: " + sentence(status.message);
}

}  // namespace

std::string defaultCaptureFilePath()
{
    // The user's videos folder: the XDG one when set, else ~/Videos.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/Videos");
    return QDir(folder).filePath(QStringLiteral("capture.avi")).toLocal8Bit().toStdString();
}

CaptureWindow::CaptureWindow(QWidget* parent, int id)
    : QWidget(parent),
      id_(id),
      parms_(defaultParms()),
      captureFile_(defaultCaptureFilePath()),
      preview_(std::make_unique<PreviewThread>(
          [this] { QMetaObject::invokeMethod(this, [this] { pictureArrived(); }, Qt::QueuedConnection); },
          [this](const Device* device, media::SourceState state) {
              QMetaObject::invokeMethod(
                  this, [this, device, state] { deviceStateChanged(device, state); }, Qt::QueuedConnection);
          }))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    platform::setCurrentCaptureFile(captureFile_);
}

CaptureWindow::~CaptureWindow()
{
    // The Live View is owned by the main window, but shows this window: it goes with it.
    delete liveView_.data();
    replay_.reset();
    // The worker goes first: it must not post to a window that is half destroyed.
    preview_.reset();
    if (file_) {
        const uint64_t frames = file_->frames();
        finishWatch(file_->close(), frames);
    }
    endStepsWithoutFile();
}

LRESULT CaptureWindow::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!recordingMessages())
        return dispatch(msg, wParam, lParam);
    const size_t index = log.size();
    testing::CapMessage entry;
    entry.msg = msg;
    entry.wParam = wParam;
    entry.lParam = lParam;
    if (msg == WM_CAP_FILE_SET_CAPTURE_FILEA && lParam)
        entry.text = reinterpret_cast<const char*>(lParam);
    if (msg == WM_CAP_SET_SEQUENCE_SETUP && lParam)
        entry.parms = parmsSnapshot(lParam, wParam);
    log.push_back(std::move(entry));

    QPointer<CaptureWindow> self(this);
    const LRESULT result = dispatch(msg, wParam, lParam);
    if (!self || index >= log.size())
        return result;  // destroyed from inside a modal loop of its own, or the log was cleared
    testing::CapMessage& done = log[index];
    done.result = result;
    if (msg == WM_CAP_GET_SEQUENCE_SETUP && lParam && result)
        done.parms = parmsSnapshot(lParam, wParam);
    const bool textBack = msg == WM_CAP_FILE_GET_CAPTURE_FILEA || msg == WM_CAP_DRIVER_GET_NAMEA ||
                          msg == WM_CAP_DRIVER_GET_VERSIONA;
    if (textBack && lParam && wParam && result)
        done.text = reinterpret_cast<const char*>(lParam);
    return result;
}

LRESULT CaptureWindow::dispatch(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CAP_DRIVER_CONNECT: return driverConnect(wParam);
    case WM_CAP_DRIVER_DISCONNECT: return driverDisconnect();
    case WM_CAP_DRIVER_GET_NAMEA: return driverGetText(false, wParam, lParam);
    case WM_CAP_DRIVER_GET_VERSIONA: return driverGetText(true, wParam, lParam);
    case WM_CAP_FILE_SET_CAPTURE_FILEA: return setCaptureFile(lParam);
    case WM_CAP_FILE_GET_CAPTURE_FILEA: return getCaptureFile(wParam, lParam);
    case WM_CAP_DLG_VIDEOFORMAT: return videoFormatDialog();
    case WM_CAP_DLG_VIDEOSOURCE: return videoSourceDialog();
    case WM_CAP_DLG_VIDEOCOMPRESSION: return compressionDialog();
    case WM_CAP_SET_PREVIEW: return setPreview(wParam != 0);
    // No driver of ours has a hardware overlay: like a driver without one, the answer is FALSE
    // and nothing changes, so the software preview goes on.
    case WM_CAP_SET_OVERLAY: return FALSE;
    case WM_CAP_SET_PREVIEWRATE: return setPreviewRate(wParam);
    case WM_CAP_SET_SEQUENCE_SETUP: return setSequenceSetup(wParam, lParam);
    case WM_CAP_GET_SEQUENCE_SETUP: return getSequenceSetup(wParam, lParam);
    // Only single frames are captured here, each complete when its message returns, so there
    // is no running capture to end; the single-frame file stays open until SINGLE_FRAME_CLOSE.
    case WM_CAP_STOP:
    case WM_CAP_ABORT: return device_ ? TRUE : FALSE;
    case WM_CAP_SINGLE_FRAME_OPEN: return singleFrameOpen();
    case WM_CAP_SINGLE_FRAME: return singleFrame();
    case WM_CAP_SINGLE_FRAME_CLOSE: return singleFrameClose();
    default: return platform::Window::message(msg, wParam, lParam);
    }
}

LRESULT CaptureWindow::driverConnect(WPARAM index)
{
    const std::vector<media::DriverInfo> drivers = media::installedDrivers();
    if (index >= drivers.size())
        return FALSE;
    const media::DriverInfo& driver = drivers[index];
    if (device_ && device_->driver().id == driver.id)
        return TRUE;
    if (file_) {
        // Frames of another device would not fit the open file's stream.
        raise(Topic::File, "Another capture device cannot be connected while '" + file_->path() +
                               "' is open for capture; close it first.");
        return FALSE;
    }
    std::shared_ptr<Device> device;
    if (!Device::connect(driver, device))
        return FALSE;  // the caller is told by the result; a busy or missing device is no news here
    // Like Windows, a window that already has a driver gives it up for the new one.
    preview_->setDevice(device);
    device_ = std::move(device);
    loadDeviceSettings();
    devicePeriodChanged();
    preview_->setEnabled(previewOn_);
    picture_ = QImage();
    clear(Topic::Device);
    update();
    return TRUE;
}

LRESULT CaptureWindow::driverDisconnect()
{
    if (!device_)
        return FALSE;
    if (file_)
        singleFrameClose();  // a file without its device can take no more frames: finish it
    preview_->setDevice(nullptr);
    device_.reset();  // the last owner: the device is released before the message returns
    picture_ = QImage();
    clear(Topic::Device);
    update();
    return TRUE;
}

LRESULT CaptureWindow::driverGetText(bool version, WPARAM size, LPARAM buffer)
{
    if (!device_ || !buffer || size == 0)
        return FALSE;
    copyText(version ? device_->driver().version : device_->driver().name, size, buffer);
    return TRUE;
}

LRESULT CaptureWindow::setCaptureFile(LPARAM lParam)
{
    if (!lParam)
        return FALSE;
    const std::string path = reinterpret_cast<const char*>(lParam);
    // A cancelled file chooser leaves its pattern ("*.AVI") in the caller's buffer; a pattern
    // names no file, so the capture file stays as it was.
    if (path.empty() || path.find_first_of("*?") != std::string::npos)
        return FALSE;
    if (file_) {
        // As on Windows, the name cannot change under a running capture.
        raise(Topic::FileName, "'" + path + "' was not made the capture file: '" + file_->path() +
                                   "' is open for capture. Stop the recording, then choose the file again.");
        return FALSE;
    }
    endStepsWithoutFile();  // told in the journal of the file they were meant for
    openFailure_.reset();
    captureFile_ = path;  // the window's own copy; the caller's buffer may go
    platform::setCurrentCaptureFile(captureFile_);
    clear(Topic::FileName);
    continueRecording();
    return TRUE;
}

LRESULT CaptureWindow::getCaptureFile(WPARAM size, LPARAM buffer)
{
    if (!buffer || size == 0)
        return FALSE;
    copyText(captureFile_, size, buffer);
    return TRUE;
}

LRESULT CaptureWindow::setPreview(bool on)
{
    // Kept without a driver too: the preview starts when one is connected.
    previewOn_ = on;
    preview_->setEnabled(on);
    return TRUE;
}

LRESULT CaptureWindow::setPreviewRate(WPARAM ms)
{
    preview_->setRequestedIntervalMs(unsigned(std::min<WPARAM>(ms, UINT32_MAX)));
    return TRUE;
}

LRESULT CaptureWindow::setSequenceSetup(WPARAM size, LPARAM lParam)
{
    if (!lParam || size == 0)
        return FALSE;
    CAPTUREPARMS next = parms_;
    std::memcpy(&next, reinterpret_cast<const void*>(lParam), std::min<size_t>(size, sizeof next));
    LRESULT result = TRUE;
    if (next.dwRequestMicroSecPerFrame == 0) {
        // No AVI can say "0 microseconds per frame"; the other settings are still taken.
        raise(Topic::FrameTime, "A time per frame of 0 microseconds cannot be recorded; the capture file keeps " +
                                    std::to_string(parms_.dwRequestMicroSecPerFrame) + " microseconds per frame (" +
                                    framesPerSecond(parms_.dwRequestMicroSecPerFrame) + " frames per second).");
        next.dwRequestMicroSecPerFrame = parms_.dwRequestMicroSecPerFrame;
        result = FALSE;
    } else {
        clear(Topic::FrameTime);
    }
    // A time per frame set while the file is open takes effect: the whole file plays at it.
    if (file_) {
        media::Status status = file_->setMicroSecPerFrame(next.dwRequestMicroSecPerFrame);
        if (!status)
            raise(Topic::File, "The new frame rate could not be written into '" + file_->path() + "': " +
                                   sentence(status.message));
    }
    parms_ = next;
    return result;
}

LRESULT CaptureWindow::getSequenceSetup(WPARAM size, LPARAM lParam)
{
    if (!lParam || size == 0)
        return FALSE;
    std::memcpy(reinterpret_cast<void*>(lParam), &parms_, std::min<size_t>(size, sizeof parms_));
    return TRUE;
}

LRESULT CaptureWindow::singleFrameOpen()
{
    if (file_) {
        watch_->reopened(stepClockMs());  // REC or RESUME may bring another interval
        return TRUE;  // already open: it stays open, frames go on into it
    }
    if (!device_) {
        openFailed(media::Status::error(ENODEV, "No capture device is connected."));
        return FALSE;
    }
    const media::StreamFormat format = device_->locked([](media::FrameSource& s) { return s.format(); });
    if (captureFile_ == defaultCaptureFilePath())
        QDir().mkpath(QFileInfo(QString::fromLocal8Bit(captureFile_.c_str())).absolutePath());
    std::unique_ptr<CaptureFile> file;
    // An existing recording of the same format is continued, never overwritten.
    media::Status status = CaptureFile::open(captureFile_, format.width, format.height, compression_,
                                             parms_.dwRequestMicroSecPerFrame, file);
    if (!status) {
        raise(Topic::File, openFailureText(status, format),
              status.code == media::kFormatMismatch ? "Video Format" : nullptr);
        openFailed(status);
        return FALSE;
    }
    endStepsWithoutFile();
    if (idleJournal_)
        idleJournal_->flush();  // lines from before the folder was there
    idleJournal_.reset();
    openFailure_.reset();
    continueNote_.clear();
    file_ = std::move(file);
    startWatch();
    clear(Topic::File);
    return TRUE;
}

LRESULT CaptureWindow::singleFrame()
{
    if (!file_ && !retryOpen()) {
        stepWithoutFile();
        return FALSE;
    }
    watch_->stepBegins(stepClockMs());
    if (!device_)
        return FALSE;  // not while a file is open: disconnecting closes it
    if (outsideCaptureHours())
        return FALSE;
    const std::chrono::milliseconds timeout = grabTimeoutOverride.value_or(device_->grabTimeout());
    media::Frame frame;
    media::Status status = device_->locked([&](media::FrameSource& s) { return s.grabFresh(frame, timeout); });
    if (!status) {
        const std::string text = deviceFailureText(*device_, status);
        raise(Topic::Device, text);
        watchStepFailed(status, text);
        return FALSE;
    }
    clear(Topic::Device);
    watch_->deviceBack(device_->driver().name);
    const bool otherSize = frame.width != file_->width() || frame.height != file_->height();
    status = file_->append(frame);
    if (!status) {
        raise(Topic::File, "A frame could not be recorded: " + sentence(status.message) + " Every frame already in '" +
                               file_->path() + "' is kept.", otherSize ? "Video Format" : nullptr);
        watch_->diskError(status.message);
        return FALSE;
    }
    clear(Topic::File);
    watchFramed(frame);
    fileFramesChanged(file_->frames() - 1);
    return TRUE;
}

LRESULT CaptureWindow::singleFrameClose()
{
    if (!file_) {
        endStepsWithoutFile();
        openFailure_.reset();  // stopped: nothing is waiting for the file any more
        return FALSE;
    }
    const std::string path = file_->path();
    const uint64_t frames = file_->frames();
    media::Status status = file_->close();
    file_.reset();
    finishWatch(status, frames);
    if (!status) {
        raise(Topic::File, "'" + path + "' could not be finished: " + sentence(status.message));
        return FALSE;
    }
    clear(Topic::File);
    return TRUE;
}

bool CaptureWindow::reportNoDriver(const char* caption)
{
    // The user asked for this dialog, so a modal answer is right here (timers tick inside it).
    MessageBoxA(handle(), "No capture device is connected to this window.", caption, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
}

LRESULT CaptureWindow::videoSourceDialog()
{
    if (!device_)
        return reportNoDriver("Video Source");
    QPointer<CaptureWindow> self(this);  // a tick inside the dialog may close the window
    runVideoSourceDialog(this, device_);
    if (self && self->device_)
        self->deviceSettingsChanged();
    return TRUE;
}

LRESULT CaptureWindow::videoFormatDialog()
{
    if (!device_)
        return reportNoDriver("Video Format");
    QPointer<CaptureWindow> self(this);
    runVideoFormatDialog(this, device_, [self](const media::StreamFormat& format) {
        return self ? self->formatRefusal(format) : std::string();
    });
    if (self && self->device_) {
        self->devicePeriodChanged();
        self->deviceSettingsChanged();
    }
    return TRUE;
}

LRESULT CaptureWindow::compressionDialog()
{
    if (!device_)
        return reportNoDriver("Video Compression");
    QPointer<CaptureWindow> self(this);
    Compression choice = compression_;
    runCompressionDialog(this, choice, file_ != nullptr);
    if (self) {
        self->compression_ = choice;
        if (self->device_)
            self->deviceSettingsChanged();
    }
    return TRUE;
}

std::string CaptureWindow::formatRefusal(const media::StreamFormat& format) const
{
    if (!file_ || (format.width == file_->width() && format.height == file_->height()))
        return std::string();
    return "The capture file '" + file_->path() + "' is open and records " +
           streamText(file_->width(), file_->height(), compressionName(file_->format())) + "; " +
           sizeText(format.width, format.height) +
           " frames cannot be added to it. Stop the recording first, or keep this frame size.";
}

std::string CaptureWindow::openFailureText(const media::Status& status, const media::StreamFormat& format) const
{
    const std::string& path = captureFile_;
    if (status.code == media::kNotAvi)
        return "'" + path + "' was not opened for capture: it exists and is not a recording that can be "
               "continued. It is left as it is; choose another capture file. Frame steps are not recorded until then.";
    if (status.code != media::kFormatMismatch)
        return "The capture file cannot be opened: " + sentence(status.message) + " Frame steps are not recorded until it can.";
    media::AviFileInfo held;
    const std::string holds = media::probeAvi(path, held)
                                  ? streamText(held.format.width, std::abs(held.format.height), compressionName(held.format))
                                  : "another frame size or compressor";
    return "'" + path + "' holds a recording of " + holds + "; this window would write " +
           streamText(format.width, format.height, compressionName(compression_.codec)) +
           ", which cannot be added to it. It is left as it is: choose another capture file, or set Video Format and "
           "Video Compression to match it. Frame steps are not recorded until then.";
}

void CaptureWindow::raise(Topic topic, const std::string& text, const char* caption)
{
    if (!problems_.raise(topic, text))
        return;  // the same problem goes on: it was reported when it began
    showNotice(text, QString::fromLatin1(caption ? caption : noticeCaption(topic)));
    noticeTopic_ = topic;
    update();
}

void CaptureWindow::clear(Topic topic)
{
    // A notice of a problem that is over would tell of trouble that is gone: it goes with it (the
    // journal keeps what happened). The banner tells what is wrong now.
    if (!problems_.clear(topic))
        return;
    if (notice_ && noticeTopic_ == topic)
        notice_->hide();
    update();
}

void CaptureWindow::showNotice(const std::string& text, const QString& caption)
{
    // Never modal: a time-lapse goes on under it, and it takes no keyboard focus. Its title names
    // what the user works with (the capture file, the video format), not this window.
    if (!notice_) {
        notice_ = new QMessageBox(QMessageBox::Warning, caption, QString(), QMessageBox::Ok, window());
        notice_->setWindowModality(Qt::NonModal);
        notice_->setModal(false);
        notice_->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    notice_->setWindowTitle(caption);
    notice_->setText(QString::fromLocal8Bit(text.c_str()));
    notice_->show();
}

bool CaptureWindow::noticeVisible() const
{
    return notice_ && notice_->isVisible();
}

std::string CaptureWindow::noticeTitle() const
{
    return notice_ ? notice_->windowTitle().toStdString() : std::string();
}

void CaptureWindow::devicePeriodChanged()
{
    const media::StreamFormat format = device_->locked([](media::FrameSource& s) { return s.format(); });
    preview_->setDevicePeriodMs(Device::framePeriodMs(format));
}

void CaptureWindow::pictureArrived()
{
    QImage large;
    QImage picture = preview_->takePicture(&large, &cameraSize_);
    if (picture.isNull() || !device_)
        return;
    picture_ = std::move(picture);
    livePicture_ = std::move(large);
    ++picturesShown_;
    update();
    if (liveView_)
        liveView_->update();
}

void CaptureWindow::deviceStateChanged(const Device* device, media::SourceState state)
{
    if (!device_ || device_.get() != device)
        return;  // news about a device this window has given up
    if (device_->locked([](media::FrameSource& s) { return s.state(); }) != state)
        return;  // stale news: the device has moved on since it was posted
    if (state == media::SourceState::Lost) {
        raise(Topic::Device, deviceGoneText(*device_));
        if (watch_)
            watch_->deviceLost(device_->driver().name);
    } else if (state == media::SourceState::Streaming) {
        clear(Topic::Device);
        if (watch_)
            watch_->deviceBack(device_->driver().name);
    }
}

void CaptureWindow::resizeEvent(QResizeEvent* event)
{
    preview_->setBox(event->size());
    update();
    QWidget::resizeEvent(event);
}

void CaptureWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintView(painter, rect(), false);
}

void CaptureWindow::paintView(QPainter& painter, const QRect& area, bool live)
{
    painter.fillRect(area, Qt::black);
    const bool replaying = replay_ && !replay_->picture().isNull();
    const QImage& picture = replaying ? replay_->picture() : (live && !livePicture_.isNull()) ? livePicture_ : picture_;
    const QSize own = replaying ? replay_->frameSize() : cameraSize_;
    if (!picture.isNull()) {
        // Scaled into the view with its own aspect ratio, centred; the Live View never shows it
        // larger than the camera made it.
        const QSize box = live && own.isValid() ? area.size().boundedTo(own) : area.size();
        const QSize shape = own.isValid() ? own : picture.size();
        QRect target(QPoint(0, 0), fittedSize(shape.width(), shape.height(), box));
        target.moveCenter(area.center());
        painter.drawImage(target, picture);
        if (!replaying && fileFrames_ && onion_.frames > 0)
            (live ? liveOnion_ : previewOnion_).paint(painter, target, onionPictures(), onion_, fileFrames_->generation());
    } else if (!device_) {
        painter.setPen(Qt::gray);
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("No capture device"));
    }
    paintStatusLine(painter, area, live);
    paintBanner(painter, area, live);
}

void CaptureWindow::paintBanner(QPainter& painter, const QRect& area, bool live)
{
    const std::string problems = problems_.text();
    if (problems.empty())
        return;
    QFont font = painter.font();
    font.setPointSize(live ? kLiveBannerFontPoints : kBannerFontPoints);
    painter.setFont(font);
    const QRect textArea = area.adjusted(kBannerMargin, 0, -kBannerMargin, 0);
    const QString text = QString::fromLocal8Bit(problems.c_str());
    QRect needed = painter.boundingRect(textArea, Qt::AlignLeft | Qt::TextWordWrap, text);
    // At most half the picture; the notice window has the whole text.
    const int bannerHeight = std::min(area.height() / 2, needed.height() + 2 * kBannerMargin);
    const QRect banner(area.left(), area.bottom() + 1 - bannerHeight, area.width(), bannerHeight);
    painter.fillRect(banner, QColor::fromRgba(kBannerColor));
    painter.setPen(Qt::white);
    painter.drawText(banner.adjusted(kBannerMargin, kBannerMargin, -kBannerMargin, -kBannerMargin),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

}  // namespace kelvra::avicap
