#include "fake_v4l2.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
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
constexpr uint32_t kFrameBytes = kWidth * kHeight * 2;
constexpr uint32_t kExposureId = V4L2_CID_EXPOSURE_ABSOLUTE;
constexpr int kNotMine = -2;  // an ioctl handler leaves the request to the next one

struct State {
    std::recursive_mutex mutex;
    std::set<int> fds;
    bool streaming = false;
    int64_t nextFrameUs = 0;
    uint32_t sequence = 0;
    std::vector<std::vector<uint8_t>> buffers;
    std::deque<uint32_t> queued, done;
    std::vector<int64_t> stamps;
} state;

int64_t nowUs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
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

// Frames "arrive" on a fixed schedule into queued buffers.
void produce()
{
    const int64_t now = nowUs();
    while (state.streaming && state.nextFrameUs <= now && !state.queued.empty()) {
        const uint32_t index = state.queued.front();
        state.queued.pop_front();
        std::fill(state.buffers[index].begin(), state.buffers[index].end(), uint8_t(state.sequence++));
        state.stamps[index] = state.nextFrameUs - knobs.lagUs;
        state.done.push_back(index);
        state.nextFrameUs += kFramePeriodUs;
    }
    if (state.nextFrameUs < now - kFramePeriodUs)  // no free buffer: frames are dropped
        state.nextFrameUs = now;
}

int fail(int err)
{
    errno = err;
    return -1;
}

// The camera's description: YUYV (and H.264, which is not ours) at one size, 100 or 30 fps.
int describe(unsigned long request, void* arg)
{
    if (request == VIDIOC_QUERYCAP) {
        auto* caps = static_cast<v4l2_capability*>(arg);
        *caps = {};
        std::strcpy(reinterpret_cast<char*>(caps->driver), "fakecam");
        std::strcpy(reinterpret_cast<char*>(caps->card), "Fake Camera");
        caps->version = 0x060104;
        caps->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        caps->capabilities = caps->device_caps | V4L2_CAP_DEVICE_CAPS;
    } else if (request == VIDIOC_ENUM_FMT) {
        auto* d = static_cast<v4l2_fmtdesc*>(arg);
        if (d->index >= 2)
            return fail(EINVAL);
        d->pixelformat = d->index ? V4L2_PIX_FMT_H264 : V4L2_PIX_FMT_YUYV;
        std::strcpy(reinterpret_cast<char*>(d->description), d->index ? "H.264" : "YUYV 4:2:2");
    } else if (request == VIDIOC_ENUM_FRAMESIZES) {
        auto* s = static_cast<v4l2_frmsizeenum*>(arg);
        if (s->index > 0)
            return fail(EINVAL);
        s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        s->discrete = {kWidth, kHeight};
    } else if (request == VIDIOC_ENUM_FRAMEINTERVALS) {
        auto* i = static_cast<v4l2_frmivalenum*>(arg);
        if (i->index > 1)
            return fail(EINVAL);
        i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        i->discrete = {1, i->index ? 30u : 100u};
    } else if (request == VIDIOC_G_PARM || request == VIDIOC_S_PARM) {
        auto* p = static_cast<v4l2_streamparm*>(arg);
        p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        if (request == VIDIOC_G_PARM)
            p->parm.capture.timeperframe = {1, 100};
    } else if (request == VIDIOC_G_FMT || request == VIDIOC_S_FMT) {
        if (request == VIDIOC_S_FMT && knobs.busy)
            return fail(EBUSY);
        v4l2_pix_format& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
        pix.width = kWidth;
        pix.height = kHeight;
        pix.pixelformat = V4L2_PIX_FMT_YUYV;
        pix.bytesperline = kWidth * 2;
        pix.sizeimage = kFrameBytes;
    } else {
        return kNotMine;
    }
    return 0;
}

// Brightness, and an exposure that is inactive (as while the camera sets it itself).
int controls(unsigned long request, void* arg)
{
    if (request == VIDIOC_QUERY_EXT_CTRL) {
        auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
        const uint32_t next = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        const uint32_t id = !(q->id & V4L2_CTRL_FLAG_NEXT_CTRL) ? q->id
                            : next < V4L2_CID_BRIGHTNESS        ? V4L2_CID_BRIGHTNESS
                            : next < kExposureId                ? kExposureId
                                                                : 0;
        if (id != V4L2_CID_BRIGHTNESS && id != kExposureId)
            return fail(EINVAL);
        const bool exposure = id == kExposureId;
        *q = {};
        q->id = id;
        q->type = V4L2_CTRL_TYPE_INTEGER;
        std::strcpy(q->name, exposure ? "Exposure (Absolute)" : "Brightness");
        q->minimum = exposure ? 1 : -64;
        q->maximum = exposure ? 5000 : 64;
        q->step = 1;
        q->flags = exposure ? V4L2_CTRL_FLAG_INACTIVE : 0;
        return 0;
    }
    if (request != VIDIOC_G_CTRL && request != VIDIOC_S_CTRL)
        return kNotMine;
    auto* c = static_cast<v4l2_control*>(arg);
    if (c->id != V4L2_CID_BRIGHTNESS)
        return c->id == kExposureId && request == VIDIOC_G_CTRL ? (c->value = 156, 0) : fail(EINVAL);
    if (request == VIDIOC_G_CTRL)
        c->value = int32_t(knobs.brightness);
    else if (c->value < -64 || c->value > 64)
        return fail(ERANGE);
    else
        knobs.brightness = c->value;
    return 0;
}

int stream(unsigned long request, void* arg)
{
    auto* b = static_cast<v4l2_buffer*>(arg);
    switch (request) {
    case VIDIOC_REQBUFS: {
        auto* r = static_cast<v4l2_requestbuffers*>(arg);
        if (knobs.busy)
            return fail(EBUSY);
        r->count = std::min<uint32_t>(r->count, 4);
        state.buffers.assign(r->count, std::vector<uint8_t>(kFrameBytes));
        state.stamps.assign(r->count, 0);
        state.queued.clear();
        state.done.clear();
        return 0;
    }
    case VIDIOC_QUERYBUF:
        if (b->index >= state.buffers.size())
            return fail(EINVAL);
        b->length = kFrameBytes;
        b->m.offset = b->index * kFrameBytes;
        return 0;
    case VIDIOC_QBUF: state.queued.push_back(b->index); return 0;
    case VIDIOC_DQBUF:
        produce();
        if (state.done.empty())
            return fail(EAGAIN);
        b->index = state.done.front();
        state.done.pop_front();
        b->bytesused = kFrameBytes;
        b->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        b->timestamp = {time_t(state.stamps[b->index] / 1000000), suseconds_t(state.stamps[b->index] % 1000000)};
        return 0;
    case VIDIOC_STREAMON:
        state.streaming = true;
        state.nextFrameUs = nowUs();
        return 0;
    case VIDIOC_STREAMOFF: state.streaming = false; return 0;
    }
    return fail(ENOTTY);
}

int handleIoctl(unsigned long request, void* arg)
{
    std::lock_guard lock(state.mutex);
    if (knobs.unplugged)
        return fail(ENODEV);
    for (auto handler : {describe, controls, stream})
        if (const int ret = handler(request, arg); ret != kNotMine)
            return ret;
    return fail(ENOTTY);
}

int openFake()
{
    std::lock_guard lock(state.mutex);
    if (knobs.unplugged)
        return fail(ENOENT);
    const int fd = real<int (*)(const char*, int, ...)>("open")("/dev/null", O_RDWR | O_CLOEXEC);
    state.fds.insert(fd);
    ++knobs.opens;
    return fd;
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
    knobs.lagUs = knobs.brightness = 0;
    knobs.opens = 0;
}

}  // namespace fakecam

using fakecam::real;
using fakecam::state;

// The interposed calls: the fake device's path and descriptors, everything else to the C library.
extern "C" int open(const char* path, int flags, ...)
{
    if (std::strcmp(path, fakecam::kPath) == 0)
        return fakecam::openFake();
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    return real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (fakecam::isFake(fd))
        return fakecam::handleIoctl(request, arg);
    return real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

extern "C" void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    if (fakecam::isFake(fd)) {
        std::lock_guard lock(state.mutex);
        const size_t index = size_t(offset) / fakecam::kFrameBytes;
        return index < state.buffers.size() ? state.buffers[index].data() : MAP_FAILED;
    }
    return real<void* (*)(void*, size_t, int, int, int, off_t)>("mmap")(addr, length, prot, flags, fd, offset);
}

extern "C" int munmap(void* addr, size_t length)
{
    {
        std::lock_guard lock(state.mutex);
        if (std::any_of(state.buffers.begin(), state.buffers.end(), [&](auto& b) { return b.data() == addr; }))
            return 0;
    }
    return real<int (*)(void*, size_t)>("munmap")(addr, length);
}

// glibc declares poll's array write-only, which it is not; reading it is what poll does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
extern "C" int poll(pollfd* fds, nfds_t n, int timeout)
{
    if (n == 1 && fakecam::isFake(fds[0].fd)) {
        // Wait in small steps for the next frame, as a driver's poll would.
        for (int waited = 0;; waited += 2) {
            fds[0].revents = short(fakecam::pollFake());
            if (fds[0].revents || waited >= timeout)
                return fds[0].revents ? 1 : 0;
            usleep(2000);
        }
    }
    return real<int (*)(pollfd*, nfds_t, int)>("poll")(fds, n, timeout);
}
#pragma GCC diagnostic pop

extern "C" int close(int fd)
{
    {
        std::lock_guard lock(state.mutex);
        state.fds.erase(fd);
    }
    return real<int (*)(int)>("close")(fd);
}
