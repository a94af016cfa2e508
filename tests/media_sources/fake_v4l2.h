// A V4L2 camera simulated inside this test program: open, ioctl, mmap, poll and close are
// interposed for one device path, so the streaming source runs its real code paths (buffers,
// timestamps, a device that goes away and comes back, a busy device) without a kernel driver.
#pragma once

#include <cstdint>
#include <string>

namespace fakecam {

constexpr const char* kPath = "/dev/kelvra-fake-video0";
constexpr int kWidth = 320, kHeight = 240;

void reset();
void setUnplugged(bool unplugged);  // open fails, ioctls fail with ENODEV, poll reports POLLERR
void setBusy(bool busy);            // S_FMT and REQBUFS fail with EBUSY, as while another program streams
void setTimestampLagUs(int64_t lag);  // frames carry times this far before they are handed over
int64_t brightness();
int openCount();

}  // namespace fakecam
