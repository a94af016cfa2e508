#include "device.h"

#include <algorithm>

namespace kelvra::avicap {

namespace {
constexpr int kMinGrabTimeoutMs = 1000;
constexpr int kGrabTimeoutPeriods = 3;
constexpr int kMsPerSecond = 1000;
}  // namespace

Device::Device(const media::DriverInfo& driver, std::unique_ptr<media::FrameSource> source)
    : driver_(driver), source_(std::move(source))
{
}

Device::~Device()
{
    std::lock_guard<std::mutex> guard(mutex_);
    source_->stop();
}

media::Status Device::connect(const media::DriverInfo& driver, std::shared_ptr<Device>& out)
{
    std::unique_ptr<media::FrameSource> source;
    media::Status status = media::openSource(driver, source);
    if (!status)
        return status;
    // A device that opens but cannot stream (busy, no usable format) is no connection.
    status = source->start();
    if (!status) {
        source->stop();
        return status;
    }
    out.reset(new Device(driver, std::move(source)));
    return media::Status::ok();
}

int Device::framePeriodMs(const media::StreamFormat& format)
{
    if (format.rate.numerator == 0)
        return kMsPerSecond;
    return int(uint64_t(kMsPerSecond) * format.rate.denominator / format.rate.numerator);
}

std::chrono::milliseconds Device::grabTimeout()
{
    const media::StreamFormat format = locked([](media::FrameSource& s) { return s.format(); });
    return std::chrono::milliseconds(std::max(kMinGrabTimeoutMs, kGrabTimeoutPeriods * framePeriodMs(format)));
}

}  // namespace kelvra::avicap
