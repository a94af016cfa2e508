// Frame sources: V4L2 cameras and the built-in test source, behind one interface.
#pragma once

#include <kelvra/media/frame.h>
#include <kelvra/media/status.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvra::media {

struct FrameRate {
    uint32_t numerator = 30;  // frames per second = numerator / denominator
    uint32_t denominator = 1;
};

struct FrameSize {
    int width = 0;
    int height = 0;
    std::vector<FrameRate> rates;
};

struct FormatDescription {
    PixelFormat format;
    std::string name;  // as the device names it ("YUYV 4:2:2", "Motion-JPEG")
    std::vector<FrameSize> sizes;
};

struct StreamFormat {
    PixelFormat format = PixelFormat::YUYV422;
    int width = 640;
    int height = 480;
    FrameRate rate;
};

enum class ControlType { Integer, Boolean, Menu, Button };

struct ControlMenuItem {
    int64_t value;
    std::string name;
};

struct Control {
    uint32_t id = 0;
    std::string name;
    ControlType type = ControlType::Integer;
    int64_t minimum = 0, maximum = 0, step = 1, defaultValue = 0, value = 0;
    std::vector<ControlMenuItem> menu;
    bool inactive = false;  // the device says it does not apply now (e.g. exposure while auto)
    uint32_t automaticId = 0;  // the automatic mode that sets this value while it is on (0: none)
};

enum class SourceState { Stopped, Streaming, Lost };

class FrameSource {
public:
    virtual ~FrameSource() = default;

    virtual std::string name() const = 0;
    virtual std::vector<FormatDescription> formats() const = 0;
    virtual StreamFormat format() const = 0;
    virtual Status setFormat(const StreamFormat& format) = 0;  // restarts a running stream

    virtual Status start() = 0;
    virtual void stop() = 0;
    virtual SourceState state() const = 0;

    // Preview: the newest frame if its sequence is above `afterSequence`; never blocks.
    virtual bool latestFrame(Frame& out, uint64_t afterSequence) = 0;
    // Capture: a frame taken after this call, waiting at most `timeout` (kTimedOut; kDeviceLost
    // while the device is gone). A stopped source serves it too: a camera starts streaming for it.
    virtual Status grabFresh(Frame& out, std::chrono::milliseconds timeout) = 0;

    virtual std::vector<Control> controls() = 0;
    virtual Status setControl(uint32_t id, int64_t value) = 0;
};

struct DriverInfo {
    std::string id;    // device path ("/dev/video0") or "test"
    std::string name;  // what the device calls itself
    std::string version;
    std::string driverName;  // the kernel driver ("uvcvideo"); with name and port, which device it is
    std::string port;        // where it is plugged in ("usb-0000:00:14.0-2")
};

// The installed capture drivers, in order: V4L2 devices that can capture, then the test source.
// KELVRA_CAPTURE_DRIVERS (comma-separated paths and "test"; empty = none) replaces the list.
std::vector<DriverInfo> installedDrivers();
Status openSource(const DriverInfo& driver, std::unique_ptr<FrameSource>& out);

}  // namespace kelvra::media
