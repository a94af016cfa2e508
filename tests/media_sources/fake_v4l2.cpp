#include "fake_v4l2.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace fakecam {

Knobs knobs;

namespace {

constexpr int64_t kFramePeriodUs = 10000;  // 100 fps: tests stay short
constexpr uint32_t kFps = 1000000 / kFramePeriodUs;
constexpr uint32_t kFrameBytes = kWidth * kHeight * 2;
constexpr int32_t kBrightnessLimit = 64;

struct State {
    std::recursive_mutex mutex;
    std::set<int> fds;
    bool streaming = false;
    int64_t nextFrameUs = 0;
    std::vector<int64_t> stampsUs;  // per buffer; the pictures are left blank
    std::deque<uint32_t> queued, done;
    int32_t brightness = 0;
} state;

int64_t nowUs()  // CLOCK_MONOTONIC, as drivers stamp buffers
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool isFake(int fd)
{
    std::lock_guard lock(state.mutex);
    return state.fds.count(fd) > 0;
}

int fail(int err)
{
    errno = err;
    return -1;
}

// Frames "arrive" on a fixed schedule into queued buffers.
void produce()
{
    const int64_t now = nowUs();
    for (; state.streaming && state.nextFrameUs <= now && !state.queued.empty(); state.queued.pop_front()) {
        state.stampsUs[state.queued.front()] = state.nextFrameUs - knobs.lagUs;
        state.done.push_back(state.queued.front());
        state.nextFrameUs += kFramePeriodUs;
    }
    if (state.nextFrameUs < now - kFramePeriodUs)  // no free buffer: frames are dropped
        state.nextFrameUs = now;
}

// Describes one camera: YUYV (and H.264, which the source does not take) at one size and rate,
// and a brightness control.
int describe(unsigned long request, void* arg)
{
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto& caps = *static_cast<v4l2_capability*>(arg);
        caps = {};
        std::strcpy(reinterpret_cast<char*>(caps.driver), "fakecam");
        std::strcpy(reinterpret_cast<char*>(caps.card), "Fake Camera");
        caps.version = (6 << 16) | (1 << 8) | 4;
        caps.device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        caps.capabilities = caps.device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto& d = *static_cast<v4l2_fmtdesc*>(arg);
        d.pixelformat = d.index ? V4L2_PIX_FMT_H264 : V4L2_PIX_FMT_YUYV;
        std::strcpy(reinterpret_cast<char*>(d.description), d.index ? "H.264" : "YUYV 4:2:2");
        return d.index > 1 ? fail(EINVAL) : 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto& s = *static_cast<v4l2_frmsizeenum*>(arg);
        s.type = V4L2_FRMSIZE_TYPE_DISCRETE, s.discrete = {kWidth, kHeight};
        return s.index ? fail(EINVAL) : 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto& i = *static_cast<v4l2_frmivalenum*>(arg);
        i.type = V4L2_FRMIVAL_TYPE_DISCRETE, i.discrete = {1, kFps};
        return i.index ? fail(EINVAL) : 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM:  // the camera keeps its one rate
        static_cast<v4l2_streamparm*>(arg)->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe = {1, kFps};
        return 0;
    case VIDIOC_S_FMT:
        if (knobs.busy)
            return fail(EBUSY);
        [[fallthrough]];
    case VIDIOC_G_FMT: {
        auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
        pix.width = kWidth, pix.height = kHeight, pix.pixelformat = V4L2_PIX_FMT_YUYV;
        pix.bytesperline = kWidth * 2, pix.sizeimage = kFrameBytes;
        return 0;
    }
    case VIDIOC_QUERY_EXT_CTRL: {
        auto& q = *static_cast<v4l2_query_ext_ctrl*>(arg);
        if ((q.id & V4L2_CTRL_FLAG_NEXT_CTRL) ? (q.id & V4L2_CTRL_ID_MASK) >= V4L2_CID_BRIGHTNESS
                                              : q.id != V4L2_CID_BRIGHTNESS)
            return fail(EINVAL);
        q = {};
        q.id = V4L2_CID_BRIGHTNESS, q.type = V4L2_CTRL_TYPE_INTEGER, q.step = 1;
        q.minimum = -kBrightnessLimit, q.maximum = kBrightnessLimit;
        std::strcpy(q.name, "Brightness");
        return 0;
    }
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        auto& c = *static_cast<v4l2_control*>(arg);
        if (c.id != V4L2_CID_BRIGHTNESS)
            return fail(EINVAL);
        if (request == VIDIOC_G_CTRL)
            c.value = state.brightness;
        else if (c.value < -kBrightnessLimit || c.value > kBrightnessLimit)
            return fail(ERANGE);
        else
            state.brightness = c.value;
        return 0;
    }
    }
    return fail(ENOTTY);
}

// Streaming requests here, the rest describe the camera.
int stream(unsigned long request, void* arg)
{
    auto& b = *static_cast<v4l2_buffer*>(arg);
    switch (request) {
    case VIDIOC_REQBUFS: {
        auto& r = *static_cast<v4l2_requestbuffers*>(arg);
        state.stampsUs.assign(r.count, 0);
        state.queued.clear();
        state.done.clear();
        return 0;
    }
    case VIDIOC_QUERYBUF:
        b.length = kFrameBytes;
        b.m.offset = b.index * kFrameBytes;
        return b.index < state.stampsUs.size() ? 0 : fail(EINVAL);
    case VIDIOC_QBUF: state.queued.push_back(b.index); return 0;
    case VIDIOC_DQBUF:
        produce();
        if (state.done.empty())
            return fail(EAGAIN);
        b.index = state.done.front();
        state.done.pop_front();
        b.bytesused = kFrameBytes;
        b.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        b.timestamp = {time_t(state.stampsUs[b.index] / 1000000), suseconds_t(state.stampsUs[b.index] % 1000000)};
        return 0;
    case VIDIOC_STREAMON: state.nextFrameUs = nowUs(); [[fallthrough]];
    case VIDIOC_STREAMOFF: state.streaming = request == VIDIOC_STREAMON; return 0;
    }
    return describe(request, arg);
}

int pollFake()
{
    std::lock_guard lock(state.mutex);
    if (knobs.unplugged)
        return POLLERR;
    produce();
    return state.done.empty() ? 0 : POLLIN;
}

}  // namespace

void reset()
{
    knobs.unplugged = knobs.busy = false;
    knobs.lagUs = knobs.opens = 0;
}

}  // namespace fakecam

using namespace fakecam;

// The interposed calls: the fake device's path and descriptors, everything else to the C library.
extern "C" int open(const char* path, int flags, ...)
{
    const auto realOpen = real<int (*)(const char*, int, ...)>("open");
    if (std::strcmp(path, kPath) == 0) {
        std::lock_guard lock(state.mutex);
        if (knobs.unplugged)
            return fail(ENOENT);
        const int fd = realOpen("/dev/null", O_RDWR | O_CLOEXEC);
        state.fds.insert(fd);
        ++knobs.opens;
        return fd;
    }
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    return realOpen(path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (isFake(fd)) {
        std::lock_guard lock(state.mutex);
        return knobs.unplugged ? fail(ENODEV) : stream(request, arg);
    }
    return real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

// The camera's buffers are plain memory, which the source's munmap gives back.
extern "C" void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    const auto realMmap = real<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
    if (isFake(fd))
        return realMmap(addr, length, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return realMmap(addr, length, prot, flags, fd, offset);
}

// glibc declares poll's array write-only, which it is not; reading it is what poll does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
extern "C" int poll(pollfd* fds, nfds_t n, int timeout)
{
    if (n != 1 || !isFake(fds[0].fd))
        return real<int (*)(pollfd*, nfds_t, int)>("poll")(fds, n, timeout);
    // Wait in small steps for the next frame, as a driver's poll would.
    for (int waited = 0; (fds[0].revents = short(pollFake())) == 0 && waited < timeout; waited += 2)
        usleep(2000);
    return fds[0].revents ? 1 : 0;
}
#pragma GCC diagnostic pop

extern "C" int close(int fd)
{
    std::lock_guard lock(state.mutex);
    state.fds.erase(fd);
    return real<int (*)(int)>("close")(fd);
}
