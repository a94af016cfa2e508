#include "preview_thread.h"

#include "preview_image.h"

#include <algorithm>
#include <utility>

namespace kelvra::avicap {

namespace {
// How often the device's state is looked at while the preview is off.
constexpr int kIdlePollMs = 250;
// While previewing: how long before a picture is due the worker wakes, and how often it looks
// again until the picture is there.
constexpr int kEarlyMs = 5;
constexpr int kLookAgainMs = 4;
}  // namespace

PreviewThread::PreviewThread(std::function<void()> pictureReady,
                             std::function<void(const Device*, media::SourceState)> stateChanged)
    : pictureReady_(std::move(pictureReady)), stateChanged_(std::move(stateChanged)), thread_([this] { run(); })
{
}

PreviewThread::~PreviewThread()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PreviewThread::setDevice(std::shared_ptr<Device> device)
{
    std::lock_guard<std::mutex> use(useMutex_);
    std::lock_guard<std::mutex> guard(mutex_);
    device_ = std::move(device);
    lastSequence_ = 0;
    lastState_ = media::SourceState::Streaming;
    devicePeriodMs_ = 0;
    picture_ = QImage();
    picturePending_ = false;
    wake_.notify_all();
}

void PreviewThread::setEnabled(bool on)
{
    std::lock_guard<std::mutex> guard(mutex_);
    enabled_ = on;
    wake_.notify_all();
}

void PreviewThread::setRequestedIntervalMs(unsigned ms)
{
    std::lock_guard<std::mutex> guard(mutex_);
    requestedMs_ = ms;
    wake_.notify_all();
}

void PreviewThread::setBox(QSize box)
{
    std::lock_guard<std::mutex> guard(mutex_);
    box_ = box;
}

void PreviewThread::setLargeBox(QSize box)
{
    std::lock_guard<std::mutex> guard(mutex_);
    largeBox_ = box;
}

void PreviewThread::setDevicePeriodMs(int ms)
{
    std::lock_guard<std::mutex> guard(mutex_);
    devicePeriodMs_ = ms;
}

int PreviewThread::effectiveIntervalMsLocked() const
{
    return std::max<int>(int(std::min<unsigned>(requestedMs_, INT32_MAX)), devicePeriodMs_);
}

int PreviewThread::effectiveIntervalMs()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return effectiveIntervalMsLocked();
}

QImage PreviewThread::takePicture(QImage* large, QSize* frameSize)
{
    std::lock_guard<std::mutex> guard(mutex_);
    picturePending_ = false;
    if (large)
        *large = std::exchange(largePicture_, QImage());
    if (frameSize)
        *frameSize = frameSize_;
    return std::exchange(picture_, QImage());
}

// Lock order: useMutex_ before mutex_, here and in setDevice().
//
// Paced by the pictures: after one is taken the worker sleeps until shortly before the next is
// due, then looks every few milliseconds until it is there. Sleeping a whole interval after the
// work would add the work's time (a 1080p JPEG's decode) to every interval.
void PreviewThread::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point due = Clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (quit_)
                return;
            if (enabled_ && device_)
                wake_.wait_until(lock, due);
            else
                wake_.wait_for(lock, std::chrono::milliseconds(kIdlePollMs));
            if (quit_)
                return;
        }
        std::lock_guard<std::mutex> use(useMutex_);
        std::shared_ptr<Device> device;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            device = device_;
        }
        const bool got = device && step(device);
        const Clock::time_point now = Clock::now();
        const int interval = std::max(1, effectiveIntervalMs());
        if (got)
            due = now + std::chrono::milliseconds(interval - std::min(kEarlyMs, interval / 4));
        else
            due = now + std::chrono::milliseconds(std::clamp(interval / 8, 1, kLookAgainMs));
    }
}

bool PreviewThread::step(const std::shared_ptr<Device>& device)
{
    bool enabled, pending;
    uint64_t after;
    QSize box, largeBox;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        enabled = enabled_;
        pending = picturePending_;
        after = lastSequence_;
        box = box_;
        largeBox = largeBox_;
    }
    media::Frame frame;
    bool got = false;
    media::SourceState state = media::SourceState::Streaming;
    media::StreamFormat format;
    device->locked([&](media::FrameSource& source) {
        state = source.state();
        format = source.format();
        // While the UI has not painted the last picture, a new one would only be thrown away.
        if (enabled && !pending)
            got = source.latestFrame(frame, after);
        return 0;
    });
    bool stateChanged;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        devicePeriodMs_ = Device::framePeriodMs(format);
        stateChanged = state != lastState_;
        lastState_ = state;
        if (got)
            lastSequence_ = frame.sequence;
    }
    if (stateChanged)
        stateChanged_(device.get(), state);
    if (!got)
        return false;
    QImage image, large;
    if (largeBox.isEmpty()) {
        image = previewImage(converter_, frame, box, scratch_);
    } else {
        // One decode for both views: the small picture is scaled down from the large one.
        large = previewImage(converter_, frame, largeBox.boundedTo(QSize(frame.width, frame.height)), scratch_);
        if (!large.isNull())
            image = large.scaled(fittedSize(large.width(), large.height(), box), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
    }
    if (image.isNull())
        return true;  // taken, though it could not be shown: the next is due an interval later
    {
        std::lock_guard<std::mutex> guard(mutex_);
        picture_ = std::move(image);
        largePicture_ = std::move(large);
        frameSize_ = QSize(frame.width, frame.height);
        picturePending_ = true;
    }
    pictureReady_();
    return true;
}

}  // namespace kelvra::avicap
