// A connected capture driver. It owns its frame source (acquired in connect(), released in the
// destructor); the window, its preview thread and the device dialogs share it.
#pragma once

#include <kelvra/media/source.h>

#include <chrono>
#include <memory>
#include <mutex>

namespace kelvra::avicap {

class Device {
public:
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

    // Opens the driver's device and starts it streaming; fails when it is missing or busy.
    static media::Status connect(const media::DriverInfo& driver, std::shared_ptr<Device>& out);

    const media::DriverInfo& driver() const { return driver_; }

    // Every call into the source goes through this lock: a FrameSource is not promised to be
    // safe from two threads, and the preview thread reads frames while the window grabs them.
    template <typename F>
    auto locked(F&& f)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return f(*source_);
    }

    // How long a capture request waits for a fresh frame: a few frame periods, at least a second.
    std::chrono::milliseconds grabTimeout();
    // The device's own frame period at its current format.
    static int framePeriodMs(const media::StreamFormat& format);

private:
    Device(const media::DriverInfo& driver, std::unique_ptr<media::FrameSource> source);

    media::DriverInfo driver_;
    std::mutex mutex_;
    std::unique_ptr<media::FrameSource> source_;
};

}  // namespace kelvra::avicap
