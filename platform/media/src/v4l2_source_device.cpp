// Opening V4L2 nodes, enumerating their formats and controls.
#include "v4l2_source_device.h"
#include "v4l2_source_map.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kelvra::media::v4l2 {

namespace {

constexpr int64_t kMenuLimit = 256;  // a longer menu is a driver fault; show the first entries
constexpr int kEnumerationLimit = 1024;

uint32_t captureCaps(const v4l2_capability& caps)
{
    return (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
}

std::vector<FrameRate> frameRates(int fd, const std::string& path, uint32_t fourcc, int width, int height)
{
    std::vector<FrameRate> rates;
    v4l2_frmivalenum ival{};
    ival.pixel_format = fourcc;
    ival.width = uint32_t(width);
    ival.height = uint32_t(height);
    for (ival.index = 0; ival.index < kEnumerationLimit; ++ival.index) {
        if (KELVRA_IOCTL_ENUM(fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival, path) < 0)
            break;
        if (ival.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            return ratesInRange(ival.stepwise);
        rates.push_back(rateOf(ival.discrete));
    }
    return rates;
}

std::vector<FrameSize> frameSizes(int fd, const std::string& path, uint32_t fourcc)
{
    std::vector<std::pair<int, int>> dims;
    v4l2_frmsizeenum size{};
    size.pixel_format = fourcc;
    for (size.index = 0; size.index < kEnumerationLimit; ++size.index) {
        if (KELVRA_IOCTL_ENUM(fd, VIDIOC_ENUM_FRAMESIZES, &size, path) < 0)
            break;
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
            dims = sizesInRange(size.stepwise);
            break;
        }
        dims.emplace_back(int(size.discrete.width), int(size.discrete.height));
    }
    std::vector<FrameSize> sizes;
    for (auto [w, h] : dims)
        sizes.push_back({w, h, frameRates(fd, path, fourcc, w, h)});
    return sizes;
}

std::vector<ControlMenuItem> menuOf(int fd, const std::string& path, const v4l2_query_ext_ctrl& q)
{
    std::vector<ControlMenuItem> menu;
    if (q.type != V4L2_CTRL_TYPE_MENU && q.type != V4L2_CTRL_TYPE_INTEGER_MENU)
        return menu;
    for (int64_t i = q.minimum; i <= q.maximum && i - q.minimum < kMenuLimit; ++i) {
        v4l2_querymenu item{};
        item.id = q.id;
        item.index = uint32_t(i);
        if (KELVRA_IOCTL_ENUM(fd, VIDIOC_QUERYMENU, &item, path) == 0)  // drivers leave holes
            menu.push_back({i, menuItemName(item, q.type)});
    }
    return menu;
}

}  // namespace

int64_t monotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int xioctl(int fd, unsigned long request, void* arg, const char* name, const std::string& path, int quietErrno)
{
    int ret;
    do {
        ret = ioctl(fd, request, arg);
    } while (ret < 0 && errno == EINTR);
    if (ret >= 0)
        return 0;
    const int err = errno;
    if (err != quietErrno)
        std::fprintf(stderr, "kelvra media: %s: %s: %s\n", path.c_str(), name, std::strerror(err));
    return -err;
}

bool isDeviceGone(int negativeErrno)
{
    return negativeErrno == -ENODEV || negativeErrno == -EIO || negativeErrno == -ENXIO;
}

int openCaptureDevice(const std::string& path, v4l2_capability& caps, std::string& message)
{
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EBUSY)
            message = "The camera '" + path + "' is in use by another program";
        else if (err == EACCES || err == EPERM)
            message = "No permission to open the camera '" + path + "'";
        else if (err == ENOENT || err == ENODEV || err == ENXIO)
            message = "There is no camera at '" + path + "' (unplugged?)";
        else
            message = "Cannot open the camera '" + path + "': " + std::strerror(err);
        return -err;
    }
    caps = {};
    int ret = KELVRA_IOCTL(fd, VIDIOC_QUERYCAP, &caps, path);
    if (ret < 0) {
        message = "'" + path + "' is not a video device: " + std::strerror(-ret);
    } else if (!(captureCaps(caps) & V4L2_CAP_VIDEO_CAPTURE) || !(captureCaps(caps) & V4L2_CAP_STREAMING)) {
        message = "'" + path + "' does not capture video";
        ret = -ENODEV;
    }
    if (ret < 0) {
        close(fd);
        return ret;
    }
    return fd;
}

std::vector<FormatDescription> enumerateFormats(int fd, const std::string& path)
{
    std::vector<FormatDescription> formats;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; desc.index < kEnumerationLimit; ++desc.index) {
        if (KELVRA_IOCTL_ENUM(fd, VIDIOC_ENUM_FMT, &desc, path) < 0)
            break;
        const auto format = pixelFormatOf(desc.pixelformat);
        if (!format)
            continue;
        const char* text = reinterpret_cast<const char*>(desc.description);
        formats.push_back({*format, std::string(text, strnlen(text, sizeof desc.description)),
                           frameSizes(fd, path, desc.pixelformat)});
    }
    return formats;
}

std::vector<Control> queryControls(int fd, const std::string& path)
{
    std::vector<Control> controls;
    v4l2_query_ext_ctrl q{};
    constexpr uint32_t kNext = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
    q.id = kNext;
    for (int n = 0; n < kEnumerationLimit && KELVRA_IOCTL_ENUM(fd, VIDIOC_QUERY_EXT_CTRL, &q, path) == 0; ++n) {
        int64_t value = q.default_value;
        const bool readable = !(q.flags & V4L2_CTRL_FLAG_WRITE_ONLY) && q.type != V4L2_CTRL_TYPE_BUTTON &&
                              q.type != V4L2_CTRL_TYPE_CTRL_CLASS && !(q.flags & V4L2_CTRL_FLAG_DISABLED);
        if (readable && q.type != V4L2_CTRL_TYPE_INTEGER64 && !(q.flags & V4L2_CTRL_FLAG_HAS_PAYLOAD)) {
            v4l2_control c{};
            c.id = q.id;
            if (KELVRA_IOCTL(fd, VIDIOC_G_CTRL, &c, path) == 0)
                value = c.value;
        }
        if (auto control = controlOf(q, value, menuOf(fd, path, q)))
            controls.push_back(*control);
        q.id |= kNext;
    }
    return controls;
}

Status setDeviceControl(int fd, const std::string& path, uint32_t id, int64_t value)
{
    v4l2_control c{};
    c.id = id;
    c.value = int32_t(value);
    const int ret = KELVRA_IOCTL(fd, VIDIOC_S_CTRL, &c, path);
    if (ret == 0)
        return Status::ok();
    switch (-ret) {
    case ERANGE: return Status::error(ret, "The value " + std::to_string(value) + " is out of the control's range");
    case EACCES: return Status::error(ret, "The control cannot be changed now: it is read-only, or its automatic mode is on");
    case EBUSY: return Status::error(ret, "The control cannot be changed now");
    case EINVAL: return Status::error(ret, "The camera has no such control or refuses that value");
    default: return Status::error(ret, std::string("The camera refused the setting: ") + std::strerror(-ret));
    }
}

}  // namespace kelvra::media::v4l2
