// A V4L2 camera simulated inside this test program: open, ioctl, mmap, poll and close are
// interposed for one device path, so the streaming source runs its real code paths (buffers,
// timestamps, a device that goes away and comes back, a busy device) without a kernel driver.
#pragma once

#include <atomic>
#include <cstdint>

namespace fakecam {

constexpr const char* kPath = "/dev/kelvra-fake-video0";
constexpr int kWidth = 320, kHeight = 240;

// What a test sets or looks at; reset() puts it back.
struct Knobs {
    std::atomic<bool> unplugged{false};  // open fails, ioctls fail with ENODEV, poll reports POLLERR
    std::atomic<bool> busy{false};       // S_FMT fails with EBUSY, as while another program streams
    std::atomic<int64_t> lagUs{0};       // frames carry times this far before they are handed over
    std::atomic<int> opens{0};
};
extern Knobs knobs;

void reset();

}  // namespace fakecam
