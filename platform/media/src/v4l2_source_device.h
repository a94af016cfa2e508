// Low-level V4L2 device access shared by the enumeration and the streaming source.
#pragma once

#include <kelvra/media/source.h>

#include <linux/videodev2.h>

#include <string>
#include <vector>

namespace kelvra::media::v4l2 {

int64_t monotonicUs();

// ioctl that retries on EINTR and logs a failure with the ioctl's name; returns 0 or -errno.
// `quietErrno` is the error that ends an enumeration and is not logged.
int xioctl(int fd, unsigned long request, void* arg, const char* name, const std::string& path,
           int quietErrno = 0);
#define KELVRA_IOCTL(fd, request, arg, path) ::kelvra::media::v4l2::xioctl(fd, request, arg, #request, path)
#define KELVRA_IOCTL_ENUM(fd, request, arg, path) \
    ::kelvra::media::v4l2::xioctl(fd, request, arg, #request, path, EINVAL)

// The errors after which the device is taken as gone (unplugged, powered off).
bool isDeviceGone(int negativeErrno);

// Opens a node that captures video; on failure returns -errno and a sentence in `message`.
int openCaptureDevice(const std::string& path, v4l2_capability& caps, std::string& message);

std::vector<FormatDescription> enumerateFormats(int fd, const std::string& path);
std::vector<Control> queryControls(int fd, const std::string& path);
Status setDeviceControl(int fd, const std::string& path, uint32_t id, int64_t value);

}  // namespace kelvra::media::v4l2
