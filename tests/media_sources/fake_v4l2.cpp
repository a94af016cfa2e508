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
namespace {

constexpr int64_t kFramePeriodUs = 10000;  // 100 fps: tests stay short
constexpr uint32_t kFrameBytes = kWidth * kHeight * 2;
constexpr uint32_t kExposureId = V4L2_CID_EXPOSURE_ABSOLUTE;

struct State {
    std::recursive_mutex mutex;
    std::set<int> fds;
    bool unplugged = false, busy = false, streaming = false;
    int64_t lagUs = 0, brightness = 0, nextFrameUs = 0;
    int opens = 0;
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
        std::fill(state.buffers[index].begin(), state.buffers[index].end(), uint8_t(state.sequence));
        state.stamps[index] = state.nextFrameUs - state.lagUs;
        state.done.push_back(index);
        ++state.sequence;
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

int enumerate(unsigned long request, void* arg)
{
    switch (request) {
    case VIDIOC_ENUM_FMT: {
        auto* d = static_cast<v4l2_fmtdesc*>(arg);
        const uint32_t formats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_H264};  // the second is not ours
        if (d->index >= 2)
            return fail(EINVAL);
        d->pixelformat = formats[d->index];
        std::strcpy(reinterpret_cast<char*>(d->description), d->index ? "H.264" : "YUYV 4:2:2");
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* s = static_cast<v4l2_frmsizeenum*>(arg);
        if (s->index > 0)
            return fail(EINVAL);
        s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        s->discrete = {kWidth, kHeight};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* i = static_cast<v4l2_frmivalenum*>(arg);
        if (i->index > 1)
            return fail(EINVAL);
        i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        i->discrete = {1, i->index ? 30u : 100u};
        return 0;
    }
    }
    return fail(ENOTTY);
}

int controlIoctl(unsigned long request, void* arg)
{
    if (request == VIDIOC_QUERY_EXT_CTRL) {
        auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
        const uint32_t next = q->id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        const bool advance = q->id & V4L2_CTRL_FLAG_NEXT_CTRL;
        const uint32_t id = !advance ? q->id : next < V4L2_CID_BRIGHTNESS ? V4L2_CID_BRIGHTNESS
                                             : next < kExposureId          ? kExposureId
                                                                           : 0;
        if (id != V4L2_CID_BRIGHTNESS && id != kExposureId)
            return fail(EINVAL);
        *q = {};
        q->id = id;
        q->type = V4L2_CTRL_TYPE_INTEGER;
        std::strcpy(q->name, id == kExposureId ? "Exposure (Absolute)" : "Brightness");
        q->minimum = id == kExposureId ? 1 : -64;
        q->maximum = id == kExposureId ? 5000 : 64;
        q->step = 1;
        q->flags = id == kExposureId ? V4L2_CTRL_FLAG_INACTIVE : 0;
        return 0;
    }
    auto* c = static_cast<v4l2_control*>(arg);
    if (c->id != V4L2_CID_BRIGHTNESS)
        return c->id == kExposureId && request == VIDIOC_G_CTRL ? (c->value = 156, 0) : fail(EINVAL);
    if (request == VIDIOC_G_CTRL) {
        c->value = int32_t(state.brightness);
        return 0;
    }
    if (c->value < -64 || c->value > 64)
        return fail(ERANGE);
    state.brightness = c->value;
    return 0;
}

int streamIoctl(unsigned long request, void* arg)
{
    switch (request) {
    case VIDIOC_REQBUFS: {
        auto* r = static_cast<v4l2_requestbuffers*>(arg);
        if (state.busy)
            return fail(EBUSY);
        r->count = std::min<uint32_t>(r->count, 4);
        state.buffers.assign(r->count, std::vector<uint8_t>(kFrameBytes));
        state.stamps.assign(r->count, 0);
        state.queued.clear();
        state.done.clear();
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (b->index >= state.buffers.size())
            return fail(EINVAL);
        b->length = kFrameBytes;
        b->m.offset = b->index * kFrameBytes;
        return 0;
    }
    case VIDIOC_QBUF:
        state.queued.push_back(static_cast<v4l2_buffer*>(arg)->index);
        return 0;
    case VIDIOC_DQBUF: {
        produce();
        if (state.done.empty())
            return fail(EAGAIN);
        auto* b = static_cast<v4l2_buffer*>(arg);
        b->index = state.done.front();
        state.done.pop_front();
        b->bytesused = kFrameBytes;
        b->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        b->timestamp = {time_t(state.stamps[b->index] / 1000000), suseconds_t(state.stamps[b->index] % 1000000)};
        return 0;
    }
    case VIDIOC_STREAMON:
        state.streaming = true;
        state.nextFrameUs = nowUs();
        return 0;
    case VIDIOC_STREAMOFF:
        state.streaming = false;
        return 0;
    }
    return fail(ENOTTY);
}

int formatIoctl(unsigned long request, void* arg)
{
    if (request == VIDIOC_G_PARM || request == VIDIOC_S_PARM) {
        auto* p = static_cast<v4l2_streamparm*>(arg);
        p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        if (request == VIDIOC_G_PARM)
            p->parm.capture.timeperframe = {1, 100};
        return 0;
    }
    auto* f = static_cast<v4l2_format*>(arg);
    if (request == VIDIOC_S_FMT && state.busy)
        return fail(EBUSY);
    f->fmt.pix.width = kWidth;
    f->fmt.pix.height = kHeight;
    f->fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    f->fmt.pix.bytesperline = kWidth * 2;
    f->fmt.pix.sizeimage = kFrameBytes;
    return 0;
}

}  // namespace

void reset()
{
    std::lock_guard lock(state.mutex);
    state.unplugged = state.busy = false;
    state.lagUs = 0;
    state.brightness = 0;
    state.opens = 0;
}

void setUnplugged(bool unplugged)
{
    std::lock_guard lock(state.mutex);
    state.unplugged = unplugged;
    if (unplugged)
        state.streaming = false;
}

void setBusy(bool busy)
{
    std::lock_guard lock(state.mutex);
    state.busy = busy;
}

void setTimestampLagUs(int64_t lag)
{
    std::lock_guard lock(state.mutex);
    state.lagUs = lag;
}

int64_t brightness()
{
    std::lock_guard lock(state.mutex);
    return state.brightness;
}

int openCount()
{
    std::lock_guard lock(state.mutex);
    return state.opens;
}

int handleIoctl(unsigned long request, void* arg)
{
    std::lock_guard lock(state.mutex);
    if (state.unplugged)
        return fail(ENODEV);
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* caps = static_cast<v4l2_capability*>(arg);
        *caps = {};
        std::strcpy(reinterpret_cast<char*>(caps->driver), "fakecam");
        std::strcpy(reinterpret_cast<char*>(caps->card), "Fake Camera");
        caps->version = 0x060104;
        caps->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
        caps->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        return 0;
    }
    case VIDIOC_ENUM_FMT:
    case VIDIOC_ENUM_FRAMESIZES:
    case VIDIOC_ENUM_FRAMEINTERVALS: return enumerate(request, arg);
    case VIDIOC_QUERY_EXT_CTRL:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: return controlIoctl(request, arg);
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: return formatIoctl(request, arg);
    case VIDIOC_QUERYMENU: return fail(EINVAL);
    }
    return streamIoctl(request, arg);
}

void* bufferAt(size_t offset)
{
    std::lock_guard lock(state.mutex);
    const size_t index = offset / kFrameBytes;
    return index < state.buffers.size() ? state.buffers[index].data() : MAP_FAILED;
}

bool isFakeBuffer(void* p)
{
    std::lock_guard lock(state.mutex);
    return std::any_of(state.buffers.begin(), state.buffers.end(), [&](auto& b) { return b.data() == p; });
}

int openFake()
{
    std::lock_guard lock(state.mutex);
    if (state.unplugged)
        return fail(ENOENT);
    const int fd = real<int (*)(const char*, int, ...)>("open")("/dev/null", O_RDWR | O_CLOEXEC);
    state.fds.insert(fd);
    ++state.opens;
    return fd;
}

int pollFake(int fd)
{
    std::lock_guard lock(state.mutex);
    if (state.unplugged)
        return POLLERR;
    produce();
    return state.done.empty() ? 0 : POLLIN;
}

}  // namespace fakecam

// The interposed calls: the fake device's path and descriptors, everything else to the C library.
extern "C" int open(const char* path, int flags, ...)
{
    if (std::strcmp(path, fakecam::kPath) == 0)
        return fakecam::openFake();
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(args, int)) : 0;
    va_end(args);
    return fakecam::real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (fakecam::isFake(fd))
        return fakecam::handleIoctl(request, arg);
    return fakecam::real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

extern "C" void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
{
    if (fakecam::isFake(fd))
        return fakecam::bufferAt(size_t(offset));
    return fakecam::real<void* (*)(void*, size_t, int, int, int, off_t)>("mmap")(addr, length, prot, flags, fd, offset);
}

extern "C" int munmap(void* addr, size_t length)
{
    if (fakecam::isFakeBuffer(addr))
        return 0;
    return fakecam::real<int (*)(void*, size_t)>("munmap")(addr, length);
}

// glibc declares poll's array write-only, which it is not; reading it is what poll does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
extern "C" int poll(pollfd* fds, nfds_t n, int timeout)
{
    if (n == 1 && fakecam::isFake(fds[0].fd)) {
        // Wait in small steps for the next frame, as a driver's poll would.
        for (int waited = 0;; waited += 2) {
            fds[0].revents = short(fakecam::pollFake(fds[0].fd));
            if (fds[0].revents || waited >= timeout)
                return fds[0].revents ? 1 : 0;
            usleep(2000);
        }
    }
    return fakecam::real<int (*)(pollfd*, nfds_t, int)>("poll")(fds, n, timeout);
}
#pragma GCC diagnostic pop

extern "C" int close(int fd)
{
    {
        std::lock_guard lock(fakecam::state.mutex);
        fakecam::state.fds.erase(fd);
    }
    return fakecam::real<int (*)(int)>("close")(fd);
}
