// The built-in test source: renders on request for capture, on a thread at its rate for preview.
#include "test_source_picture.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kelvra::media {

namespace {

constexpr int kMinWidth = 160, kMinHeight = 120;
constexpr int kMaxWidth = 1920, kMaxHeight = 1080;
constexpr double kMinRate = 5.0, kMaxRate = 60.0;
constexpr int kControlByteMax = 255;
constexpr int kHueLimit = 180;

const std::vector<std::pair<int, int>> kOfferedSizes = {{160, 120}, {320, 240}, {640, 480}, {800, 600},
                                                        {1024, 768}, {1280, 720}, {1920, 1080}};
const std::vector<uint32_t> kOfferedRates = {5, 10, 15, 20, 25, 30, 60};

double ratePerSecond(const FrameRate& rate)
{
    return rate.denominator ? double(rate.numerator) / rate.denominator : 0.0;
}

uint64_t millisecondsOf(std::chrono::steady_clock::time_point t)
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

}  // namespace

struct TestSource::Impl {
    mutable std::mutex mutex;
    std::condition_variable changed;
    StreamFormat format{PixelFormat::YUYV422, 640, 480, {30, 1}};
    PictureSettings settings;
    bool streaming = false;
    bool stalled = false, failing = false, unplugged = false, frozen = false;
    Frame lastGrab;  // what a frozen source hands out again
    uint64_t captureCount = 0, previewCount = 0;
    Frame latest;
    bool hasLatest = false;
    bool quit = false;
    std::thread thread;

    std::mutex grabMutex;  // one grab at a time, so numbers are handed out in order
    TestPicture grabPicture;

    void previewLoop();
    bool producing() const { return !stalled && !failing && !unplugged; }
};

void TestSource::Impl::previewLoop()
{
    TestPicture picture;
    Frame frame;
    auto due = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex);
    while (!quit) {
        if (changed.wait_until(lock, due, [&] { return quit; }))
            break;
        const double rate = ratePerSecond(format.rate);
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / (rate > 0 ? rate : kMinRate)));
        due += period;
        const auto now = std::chrono::steady_clock::now();
        if (due < now)  // fell behind: skip the missed frames rather than burst
            due = now + period;
        if (!producing())
            continue;
        const StreamFormat f = format;
        const PictureSettings s = settings;
        const uint64_t number = previewCount + 1;
        lock.unlock();
        const Status st = picture.render(f, s, {number, millisecondsOf(now), true}, number, now, frame);
        lock.lock();
        if (st && producing() && f.width == format.width && f.height == format.height && f.format == format.format) {
            previewCount = number;
            std::swap(latest, frame);
            hasLatest = true;
        }
    }
}

TestSource::TestSource() : impl_(std::make_unique<Impl>()) {}

TestSource::~TestSource()
{
    stop();
}

std::string TestSource::name() const
{
    return kTestDriverName;
}

std::vector<FormatDescription> TestSource::formats() const
{
    std::vector<FrameSize> sizes;
    for (const auto& [w, h] : kOfferedSizes) {
        FrameSize size{w, h, {}};
        for (uint32_t r : kOfferedRates)
            size.rates.push_back({r, 1});
        sizes.push_back(size);
    }
    return {{PixelFormat::YUYV422, "YUYV 4:2:2", sizes}, {PixelFormat::RGB24, "RGB 24-bit", sizes}};
}

StreamFormat TestSource::format() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->format;
}

Status TestSource::setFormat(const StreamFormat& format)
{
    if (format.format != PixelFormat::YUYV422 && format.format != PixelFormat::RGB24)
        return Status::error(EINVAL, "The test source delivers YUYV 4:2:2 or RGB 24-bit only");
    if (format.width < kMinWidth || format.width > kMaxWidth || format.height < kMinHeight ||
        format.height > kMaxHeight || (format.format == PixelFormat::YUYV422 && format.width % 2))
        return Status::error(EINVAL, "The test source cannot deliver " + std::to_string(format.width) + "x" +
                                         std::to_string(format.height) + " pictures");
    const double rate = ratePerSecond(format.rate);
    if (rate < kMinRate || rate > kMaxRate)
        return Status::error(EINVAL, "The test source runs at 5 to 60 frames per second");
    std::lock_guard lock(impl_->mutex);
    impl_->format = format;
    impl_->hasLatest = false;  // a preview frame of the old size must not be shown as new
    return Status::ok();
}

Status TestSource::start()
{
    std::lock_guard lock(impl_->mutex);
    if (impl_->unplugged)
        return Status::error(kDeviceLost, "The test source is unplugged");
    if (impl_->streaming)
        return Status::ok();
    impl_->streaming = true;
    impl_->quit = false;
    impl_->thread = std::thread([impl = impl_.get()] { impl->previewLoop(); });
    return Status::ok();
}

void TestSource::stop()
{
    std::thread thread;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->streaming = false;
        impl_->quit = true;
        impl_->hasLatest = false;
        thread = std::move(impl_->thread);
    }
    impl_->changed.notify_all();
    if (thread.joinable())
        thread.join();
}

SourceState TestSource::state() const
{
    std::lock_guard lock(impl_->mutex);
    if (impl_->unplugged)
        return SourceState::Lost;
    return impl_->streaming ? SourceState::Streaming : SourceState::Stopped;
}

bool TestSource::latestFrame(Frame& out, uint64_t afterSequence)
{
    std::lock_guard lock(impl_->mutex);
    if (!impl_->hasLatest || impl_->latest.sequence <= afterSequence || !impl_->producing())
        return false;
    out = impl_->latest;
    return true;
}

Status TestSource::grabFresh(Frame& out, std::chrono::milliseconds timeout)
{
    const auto requested = std::chrono::steady_clock::now();
    std::lock_guard grab(impl_->grabMutex);
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_until(lock, requested + timeout, [&] { return !impl_->stalled || impl_->unplugged; });
    if (impl_->unplugged)
        return Status::error(kDeviceLost, "The test source is unplugged");
    if (impl_->failing)
        return Status::error(EIO, "The test source failed to capture a frame");
    if (impl_->stalled)
        return Status::error(kTimedOut, "The test source sent no frame in time");
    if (impl_->frozen && !impl_->lastGrab.data.empty()) {
        out = impl_->lastGrab;  // a stuck driver: the same buffer again, no new number
        return Status::ok();
    }
    const StreamFormat format = impl_->format;
    const PictureSettings settings = impl_->settings;
    const uint64_t number = impl_->captureCount + 1;
    lock.unlock();

    const auto now = std::chrono::steady_clock::now();
    Status st = impl_->grabPicture.render(format, settings, {number, millisecondsOf(now), false}, number, now, out);
    if (!st)
        return st;
    lock.lock();
    impl_->captureCount = number;
    impl_->lastGrab = out;
    return Status::ok();
}

std::vector<Control> TestSource::controls()
{
    std::lock_guard lock(impl_->mutex);
    const PictureSettings& s = impl_->settings;
    auto integer = [](uint32_t id, const char* name, int64_t min, int64_t max, int64_t def, int64_t value) {
        Control c;
        c.id = id, c.name = name, c.type = ControlType::Integer;
        c.minimum = min, c.maximum = max, c.step = 1, c.defaultValue = def, c.value = value;
        return c;
    };
    std::vector<Control> list = {
        integer(kTestControlBrightness, "Brightness", 0, kControlByteMax, 128, s.brightness),
        integer(kTestControlContrast, "Contrast", 0, kControlByteMax, 128, s.contrast),
        integer(kTestControlSaturation, "Saturation", 0, kControlByteMax, 128, s.saturation),
        integer(kTestControlHue, "Hue", -kHueLimit, kHueLimit, 0, s.hue),
    };
    Control mirror = integer(kTestControlMirror, "Mirror", 0, 1, 0, s.mirror ? 1 : 0);
    mirror.type = ControlType::Boolean;
    list.push_back(mirror);
    Control pattern = integer(kTestControlPattern, "Pattern", kPatternColorBars, kPatternCheckerboard,
                              kPatternColorBars, s.pattern);
    pattern.type = ControlType::Menu;
    pattern.menu = {{kPatternColorBars, "Colour bars"}, {kPatternGradient, "Gradient"},
                    {kPatternCheckerboard, "Checkerboard"}};
    list.push_back(pattern);
    return list;
}

Status TestSource::setControl(uint32_t id, int64_t value)
{
    for (const Control& c : controls()) {
        if (c.id != id)
            continue;
        if (value < c.minimum || value > c.maximum)
            return Status::error(ERANGE, "Value " + std::to_string(value) + " is outside " + c.name + "'s range " +
                                             std::to_string(c.minimum) + " to " + std::to_string(c.maximum));
        std::lock_guard lock(impl_->mutex);
        PictureSettings& s = impl_->settings;
        switch (id) {
        case kTestControlBrightness: s.brightness = value; break;
        case kTestControlContrast: s.contrast = value; break;
        case kTestControlSaturation: s.saturation = value; break;
        case kTestControlHue: s.hue = value; break;
        case kTestControlMirror: s.mirror = value != 0; break;
        case kTestControlPattern: s.pattern = value; break;
        }
        return Status::ok();
    }
    return Status::error(EINVAL, "The test source has no control " + std::to_string(id));
}

void TestSource::setStalled(bool stalled)
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stalled = stalled;
    }
    impl_->changed.notify_all();
}

void TestSource::setFailing(bool failing)
{
    std::lock_guard lock(impl_->mutex);
    impl_->failing = failing;
}

void TestSource::setUnplugged(bool unplugged)
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->unplugged = unplugged;
        if (unplugged)
            impl_->hasLatest = false;
    }
    impl_->changed.notify_all();
}

void TestSource::setFrozen(bool frozen)
{
    std::lock_guard lock(impl_->mutex);
    impl_->frozen = frozen;
}

uint64_t TestSource::capturedCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->captureCount;
}

}  // namespace kelvra::media
