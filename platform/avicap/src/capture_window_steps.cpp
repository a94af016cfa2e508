// Frame steps that find no open file, and a chosen file that is an earlier recording: what the
// capture window does for a user who is not there to press REC again or to remember how the
// recording was made.
#include "capture_window.h"

#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelvra::avicap {

namespace {

// Open failures that can pass by themselves: room made on the disk, the camera or the disk
// plugged in again. A file of another kind or format stays what it is until the user acts.
bool canPass(const media::Status& status)
{
    switch (-status.code) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case ENOENT:
    case EIO:
    case ENODEV:
    case ENXIO: return true;
    default: return status.code == media::kDeviceLost || status.code == media::kTimedOut;
    }
}

std::string stepsText(uint64_t n)
{
    return groupedNumber(n) + (n == 1 ? " frame step" : " frame steps");
}

std::optional<media::Codec> codecOf(const media::AviVideoFormat& format)
{
    switch (format.compression) {
    case 0: return media::Codec::Uncompressed;
    case media::fourcc('M', 'J', 'P', 'G'): return media::Codec::MotionJpeg;
    case media::fourcc('F', 'F', 'V', '1'): return media::Codec::Lossless;
    default: return std::nullopt;
    }
}

// The device's format for frames of width x height: its present kind of picture where it offers
// that size in it, else Motion JPEG for a Motion JPEG file (the camera's own pictures then go in
// as they are), else the first kind that has the size; at the offered rate nearest the present one.
std::optional<media::StreamFormat> formatForSize(const std::vector<media::FormatDescription>& offered,
                                                 const media::StreamFormat& now, int width, int height,
                                                 media::Codec codec)
{
    const media::FormatDescription* best = nullptr;
    const media::FrameSize* bestSize = nullptr;
    auto rank = [&](const media::FormatDescription& d) {
        if (d.format == now.format)
            return 0;
        return (codec == media::Codec::MotionJpeg && d.format == media::PixelFormat::MJPEG) ? 1 : 2;
    };
    for (const media::FormatDescription& d : offered)
        for (const media::FrameSize& s : d.sizes)
            if (s.width == width && s.height == height && (!best || rank(d) < rank(*best))) {
                best = &d;
                bestSize = &s;
            }
    if (!best)
        return std::nullopt;
    media::StreamFormat format{best->format, width, height, now.rate};
    const double wanted = double(now.rate.numerator) / std::max(1u, now.rate.denominator);
    double nearest = std::numeric_limits<double>::max();
    for (const media::FrameRate& r : bestSize->rates) {
        const double distance = std::abs(double(r.numerator) / std::max(1u, r.denominator) - wanted);
        if (distance < nearest) {
            nearest = distance;
            format.rate = r;
        }
    }
    return format;
}

std::string offeredSizes(const std::vector<media::FormatDescription>& offered)
{
    std::vector<std::pair<int, int>> sizes;
    for (const media::FormatDescription& d : offered)
        for (const media::FrameSize& s : d.sizes)
            if (std::find(sizes.begin(), sizes.end(), std::pair(s.width, s.height)) == sizes.end())
                sizes.emplace_back(s.width, s.height);
    std::string text;
    for (const auto& [w, h] : sizes)
        text += (text.empty() ? "" : ", ") + std::to_string(w) + "x" + std::to_string(h);
    return text.empty() ? "no frame size at all" : text;
}

}  // namespace

void CaptureWindow::openFailed(const media::Status& status)
{
    openFailure_ = status;
}

bool CaptureWindow::retryOpen()
{
    if (!openFailure_ || !canPass(*openFailure_))
        return false;
    const media::Status before = *openFailure_;
    if (singleFrameOpen())
        return true;
    // One line when the retries begin failing, not one per step of a week on a full disk.
    if (stepsWithoutFile_ == 0 || openFailure_->message != before.message)
        idleJournal().write("The capture file could not be opened again at a frame step: " +
                            sentence(openFailure_->message) + " It is tried again at each step.");
    return false;
}

void CaptureWindow::stepWithoutFile()
{
    ++stepsWithoutFile_;  // the program counts it as a frame: the status line says it is not
    update();
}

void CaptureWindow::endStepsWithoutFile()
{
    if (stepsWithoutFile_ == 0)
        return;
    std::string why = openFailure_ ? " (" + sentence(openFailure_->message) + ")" : std::string();
    idleJournal().write(stepsText(stepsWithoutFile_) + " not recorded: no capture file was open" + why +
                        (why.empty() ? "." : ""));
    stepsWithoutFile_ = 0;
    update();
}

Journal& CaptureWindow::idleJournal()
{
    if (!idleJournal_ || idleJournal_->path() != Journal::pathFor(captureFile_))
        idleJournal_ = std::make_unique<Journal>(captureFile_);
    return *idleJournal_;
}

void CaptureWindow::continueRecording()
{
    continueNote_.clear();
    media::AviFileInfo held;
    if (!device_ || !QFileInfo::exists(QString::fromLocal8Bit(captureFile_.c_str())) ||
        !media::probeAvi(captureFile_, held))
        return;  // a new file, or one the open will refuse and report
    const int width = held.format.width, height = std::abs(held.format.height);
    const std::string name = QFileInfo(QString::fromLocal8Bit(captureFile_.c_str())).fileName().toLocal8Bit().toStdString();
    const std::string holds = std::to_string(width) + "x" + std::to_string(height) + " " + compressionName(held.format);
    const std::optional<media::Codec> codec = codecOf(held.format);
    const auto [offered, now] = device_->locked([](media::FrameSource& s) { return std::pair(s.formats(), s.format()); });
    const std::optional<media::StreamFormat> format =
        codec ? formatForSize(offered, now, width, height, *codec) : std::nullopt;
    if (!format) {
        raise(Topic::FileName, "'" + name + "' holds " + holds + "; the capture device '" + device_->driver().name +
                                   "' " + (codec ? "offers " + offeredSizes(offered) : "has no compressor for it") +
                                   ". It cannot be continued with this device; choose another capture file, or "
                                   "another device.", "Video Format");
        return;
    }
    if (format->format != now.format || format->width != now.width || format->height != now.height) {
        const media::Status set = device_->locked([&](media::FrameSource& s) { return s.setFormat(*format); });
        if (!set) {
            raise(Topic::FileName, "'" + name + "' holds " + holds + ", but the capture device '" +
                                       device_->driver().name + "' did not take that size: " + sentence(set.message),
                  "Video Format");
            return;
        }
        devicePeriodChanged();
        deviceSettingsChanged();
    }
    if (compression_.codec != *codec) {
        compression_.codec = *codec;
        deviceSettingsChanged();
    }
    continueNote_ = "continues " + name + ": " + holds + ", " + groupedNumber(held.frames) +
                    (held.frames == 1 ? " frame" : " frames");
    idleJournal().write(continueNote_);
    update();
}

void CaptureWindow::loadDeviceSettings()
{
    std::vector<std::string> problems;
    settings_ = DeviceSettingsStore::load(device_->driver(), problems);
    device_->locked([&](media::FrameSource& s) {
        applyDeviceSettings(s, settings_, problems);
        return 0;
    });
    if (settings_.compression)
        compression_ = *settings_.compression;
    for (const std::string& p : problems)
        idleJournal().write(p);
    if (!problems.empty())
        DeviceSettingsStore::save(device_->driver(), settings_);  // what was dropped stays dropped
}

void CaptureWindow::deviceSettingsChanged()
{
    device_->locked([&](media::FrameSource& s) {
        settings_.format = s.format();
        settings_.controls.clear();
        for (const media::Control& c : s.controls())
            if (c.type != media::ControlType::Button)
                settings_.controls[c.id] = c.value;
        return 0;
    });
    settings_.compression = compression_;
    DeviceSettingsStore::save(device_->driver(), settings_);
}

void CaptureWindow::setCaptureHours(const CaptureHours& hours)
{
    if (hours == settings_.hours)
        return;
    settings_.hours = hours;
    if (watch_)
        watch_->note("Capture hours: " + hoursText(hours) + ".");
    if (device_)
        DeviceSettingsStore::save(device_->driver(), settings_);
    update();
}

bool CaptureWindow::outsideCaptureHours()
{
    const int64_t now = wallClockSeconds();
    const HoursVerdict verdict = checkHours(settings_.hours, now);
    if (verdict.inside) {
        if (outsideHoursUntil_) {
            watch_->note("Capture hours begin: frame steps are recorded again.");
            outsideHoursUntil_.reset();
            update();
        }
        return false;
    }
    // Once per pause, not once per step of a whole night.
    if (!outsideHoursUntil_)
        watch_->note("Frame steps not recorded: outside capture hours until " +
                     localClockText(verdict.nextBeginsEpoch, now) + ".");
    outsideHoursUntil_ = verdict.nextBeginsEpoch;
    update();
    return true;
}

}  // namespace kelvra::avicap
