// The webcam's nodes, formats and streaming (see camera.h). Frames fall due on the camera's
// clock (CLOCK_MONOTONIC, stamped at the start of exposure as uvcvideo does) and go into the
// queued buffers; with no buffer queued a frame is dropped and only its sequence number counts.
#include "camera.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace uvcsim {

namespace {

constexpr int64_t kUsPerSecond = 1000000, kUsPerMs = 1000;
constexpr uint32_t kDarkFps = 2;
constexpr uint32_t kMaxBuffers = 32;
constexpr int kDefaultCorruptEvery = 7;
constexpr int64_t kDefaultUnplugAfterMs = 2500, kDefaultAwayMs = 2000;
constexpr int kDefaultReturnAs = 2;
constexpr uint8_t kMarker = 0xFF, kCom = 0xFE;
constexpr size_t kSoiBytes = 2, kSegmentHeader = 4;
constexpr uint32_t kKernelVersion = (6u << 16) | (1u << 8) | 0u;
constexpr const char* kDevPrefix = "/dev/video";
constexpr int kTrackedFds = 4096;

// Which descriptors are the camera's, read without the lock: every read, poll and ioctl of the
// program asks, and most are not the camera's.
std::atomic<bool> trackedFds[kTrackedFds];

struct SizeDesc {
    uint32_t width, height;
    std::vector<uint32_t> fps;  // the first is the size's default
};
struct FormatDesc {
    uint32_t fourcc;
    const char* name;
    uint32_t flags;
    std::vector<SizeDesc> sizes;
};

const std::vector<FormatDesc>& formats()
{
    static const std::vector<FormatDesc> list = {
        {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", 0, {{640, 480, {30, 25, 20, 15, 10, 5}}, {1280, 720, {10, 5}}}},
        {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", V4L2_FMT_FLAG_COMPRESSED,
         {{1920, 1080, {30, 25, 20, 15, 10, 5}}, {1280, 720, {30, 25, 20, 15, 10, 5}}}},
    };
    return list;
}

enum class Profile { Webcam, Corrupt, Unplug, Dark };

int64_t envNumber(const char* name, int64_t fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

int64_t nowUs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * kUsPerSecond + t.tv_nsec / kUsPerMs;
}

int fail(int err)
{
    errno = err;
    return -1;
}

struct Format {
    uint32_t fourcc = V4L2_PIX_FMT_YUYV, width = 640, height = 480, fps = 30;
};

struct OpenFile {
    int generation;  // descriptors of a camera that went away stay dead
    bool metadata;
    bool nonBlocking;
};

struct Buffer {
    bool queued = false, done = false;
    uint32_t bytesUsed = 0, sequence = 0;
    int64_t stampUs = 0;
};

struct Camera {
    std::mutex mutex;
    Profile profile = Profile::Webcam;
    int corruptEvery = kDefaultCorruptEvery;
    int64_t unplugAfterUs = 0, awayUs = 0;
    int64_t burstFromUs = -1, burstUntilUs = -1;  // every picture broken in this span
    int64_t firstStreamUs = -1;
    int returnAs = kDefaultReturnAs;

    int node = 0;  // the capture node's number; the metadata node is the next one
    bool present = true;
    int generation = 0;
    int64_t unplugAtUs = -1, backAtUs = -1;
    bool unplugged = false, failNextDequeue = false;
    std::map<int, OpenFile> files;

    Format startFormat, format;  // as found at power-on, and now
    std::unique_ptr<ControlValues> controls{newControlValues()};

    int owner = -1;  // the descriptor whose buffers exist (others get EBUSY)
    uint8_t* memory = nullptr;
    size_t bufferLength = 0;
    std::vector<Buffer> buffers;
    std::deque<uint32_t> queue, done;
    bool streaming = false;
    int64_t nextDueUs = 0;
    uint32_t sequence = 0;
    uint64_t delivered = 0;
    std::map<uint64_t, std::vector<std::vector<uint8_t>>> pictures;

    Camera();
};

Camera& camera()
{
    static Camera c;
    return c;
}

const FormatDesc* findFormat(uint32_t fourcc)
{
    for (const FormatDesc& f : formats())
        if (f.fourcc == fourcc)
            return &f;
    return nullptr;
}

const SizeDesc* findSize(uint32_t fourcc, uint32_t w, uint32_t h)
{
    if (const FormatDesc* f = findFormat(fourcc))
        for (const SizeDesc& s : f->sizes)
            if (s.width == w && s.height == h)
                return &s;
    return nullptr;
}

// "MJPG:1280x720@30": the format the camera is found in.
void parseStartFormat(Camera& c)
{
    const char* text = std::getenv("KELVRA_UVC_SIM_FORMAT");
    char four[5] = {};
    unsigned w = 0, h = 0, fps = 0;
    if (!text || std::sscanf(text, "%4[A-Z0-9]:%ux%u@%u", four, &w, &h, &fps) != 4)
        return;
    const uint32_t fourcc = v4l2_fourcc(four[0], four[1], four[2], four[3]);
    const SizeDesc* size = findSize(fourcc, w, h);
    if (!size || std::find(size->fps.begin(), size->fps.end(), fps) == size->fps.end()) {
        std::fprintf(stderr, "uvc sim: the camera has no format %s\n", text);
        return;
    }
    c.startFormat = {fourcc, w, h, fps};
}

Camera::Camera()
{
    const char* name = std::getenv("KELVRA_UVC_SIM_PROFILE");
    const std::string p = name ? name : "webcam1080p";
    profile = p == "corrupt" ? Profile::Corrupt : p == "unplug" ? Profile::Unplug : p == "dark" ? Profile::Dark
                                                                                                : Profile::Webcam;
    if (p != "webcam1080p" && profile == Profile::Webcam)
        std::fprintf(stderr, "uvc sim: unknown profile '%s', simulating webcam1080p\n", p.c_str());
    corruptEvery = int(std::max<int64_t>(1, envNumber("KELVRA_UVC_SIM_CORRUPT_EVERY", kDefaultCorruptEvery)));
    unplugAfterUs = envNumber("KELVRA_UVC_SIM_UNPLUG_AFTER_MS", kDefaultUnplugAfterMs) * kUsPerMs;
    awayUs = envNumber("KELVRA_UVC_SIM_AWAY_MS", kDefaultAwayMs) * kUsPerMs;
    returnAs = int(envNumber("KELVRA_UVC_SIM_RETURN_AS", kDefaultReturnAs));
    burstFromUs = envNumber("KELVRA_UVC_SIM_BURST_FROM_MS", -1) * kUsPerMs;
    burstUntilUs = envNumber("KELVRA_UVC_SIM_BURST_UNTIL_MS", -1) * kUsPerMs;
    parseStartFormat(*this);
    format = startFormat;
}

uint32_t sizeImage(const Format& f)
{
    return f.width * f.height * 2;  // the camera's dwMaxVideoFrameBufferSize for both formats
}

uint32_t currentFps(Camera& c)
{
    const bool autoExposure = controlValue(*c.controls, V4L2_CID_EXPOSURE_AUTO) != V4L2_EXPOSURE_MANUAL;
    return c.profile == Profile::Dark && autoExposure ? std::min(c.format.fps, kDarkFps) : c.format.fps;
}

void freeBuffers(Camera& c)
{
    if (c.memory)
        munmap(c.memory, c.bufferLength * c.buffers.size());
    c.memory = nullptr;
    c.buffers.clear();
    c.queue.clear();
    c.done.clear();
    c.streaming = false;
    c.owner = -1;
}

// The unplug profile's schedule: gone at unplugAtUs (after one failing dequeue), back at backAtUs.
void updatePresence(Camera& c, int64_t now)
{
    if (c.profile != Profile::Unplug)
        return;
    if (c.present && !c.unplugged && c.unplugAtUs >= 0 && now >= c.unplugAtUs && !c.failNextDequeue) {
        c.failNextDequeue = true;  // the transfer that was running fails first
        c.unplugAtUs = -1;
    }
    if (!c.present && now >= c.backAtUs) {
        c.present = true;
        c.node = c.returnAs;
        resetControls(*c.controls);  // power was lost: the camera starts from its defaults
        c.format = c.startFormat;
    }
}

void goAway(Camera& c, int64_t now)
{
    c.failNextDequeue = false;
    c.unplugged = true;
    c.present = false;
    ++c.generation;
    c.backAtUs = now + c.awayUs;
    freeBuffers(c);
}

// Breaks every corruptEvery-th JPEG, and every one during the burst: empty, cut short, or with
// a piece of its scan lost, in turn.
uint32_t corrupt(Camera& c, uint8_t* data, uint32_t size)
{
    const int64_t sinceStartUs = c.nextDueUs - c.firstStreamUs;
    const bool burst = sinceStartUs >= c.burstFromUs && sinceStartUs < c.burstUntilUs;
    if (c.profile != Profile::Corrupt || (!burst && c.delivered % uint64_t(c.corruptEvery) != 0))
        return size;
    switch ((c.delivered / uint64_t(c.corruptEvery)) % 3) {
    case 0: return 0;
    case 1: return size / 2;
    default: {
        const uint32_t from = size / 2, lost = size / 8;
        std::memmove(data + from, data + from + lost, size - from - lost);
        return size - lost;
    }
    }
}

uint32_t fillPicture(Camera& c, uint8_t* out, uint32_t sequence)
{
    const Format& f = c.format;
    const uint64_t key = uint64_t(f.fourcc) << 32 | f.width << 16 | f.height;
    auto& set = c.pictures[key];
    if (set.empty())
        set = makePictures(f.fourcc, f.width, f.height);
    const std::vector<uint8_t>& picture = set[sequence % set.size()];
    if (f.fourcc != V4L2_PIX_FMT_MJPEG || picture.size() < kSoiBytes) {
        std::memcpy(out, picture.data(), std::min<size_t>(picture.size(), sizeImage(f)));
        return uint32_t(picture.size());
    }
    const ControlValues& v = *c.controls;
    const std::string text =
        frameComment(sequence, c.node, controlValue(v, V4L2_CID_EXPOSURE_AUTO), controlValue(v, V4L2_CID_EXPOSURE_ABSOLUTE),
                     controlValue(v, V4L2_CID_AUTO_WHITE_BALANCE), controlValue(v, V4L2_CID_WHITE_BALANCE_TEMPERATURE));
    const size_t segment = kSegmentHeader + text.size();
    std::memcpy(out, picture.data(), kSoiBytes);
    const uint8_t header[kSegmentHeader] = {kMarker, kCom, uint8_t((segment - 2) >> 8), uint8_t(segment - 2)};
    std::memcpy(out + kSoiBytes, header, kSegmentHeader);
    std::memcpy(out + kSoiBytes + kSegmentHeader, text.data(), text.size());
    std::memcpy(out + kSoiBytes + segment, picture.data() + kSoiBytes, picture.size() - kSoiBytes);
    const uint32_t size = uint32_t(picture.size() + segment);
    ++c.delivered;
    return corrupt(c, out, size);
}

// Frames that fell due go into queued buffers.
void produce(Camera& c, int64_t now)
{
    if (!c.streaming)
        return;
    const int64_t period = kUsPerSecond / currentFps(c);
    if (c.nextDueUs < now - period)  // a long stall: the camera does not catch up
        c.nextDueUs = now;
    for (; c.nextDueUs <= now; c.nextDueUs += period) {
        const uint32_t sequence = c.sequence++;
        if (c.queue.empty())
            continue;  // no free buffer: the frame is dropped
        const uint32_t index = c.queue.front();
        c.queue.pop_front();
        Buffer& b = c.buffers[index];
        b.bytesUsed = fillPicture(c, c.memory + size_t(index) * c.bufferLength, sequence);
        b.sequence = sequence;
        b.stampUs = c.nextDueUs;
        b.queued = false;
        b.done = true;
        c.done.push_back(index);
    }
}

// ---- formats ----

int queryCap(const Camera& c, const OpenFile& f, v4l2_capability& caps)
{
    caps = {};
    std::strncpy(reinterpret_cast<char*>(caps.driver), "uvcvideo", sizeof caps.driver - 1);
    std::strncpy(reinterpret_cast<char*>(caps.card), "USB 1080p Webcam", sizeof caps.card - 1);
    std::snprintf(reinterpret_cast<char*>(caps.bus_info), sizeof caps.bus_info, "usb-0000:00:14.0-%d",
                  c.unplugged ? 2 : 1);
    caps.version = kKernelVersion;
    caps.device_caps = f.metadata ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                  : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
    caps.capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING |
                        V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
    return 0;
}

int enumFormat(v4l2_fmtdesc& d)
{
    if (d.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d.index >= formats().size())
        return fail(EINVAL);
    const FormatDesc& f = formats()[d.index];
    const uint32_t index = d.index;
    d = {};
    d.index = index;
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    d.flags = f.flags;
    d.pixelformat = f.fourcc;
    std::strncpy(reinterpret_cast<char*>(d.description), f.name, sizeof d.description - 1);
    return 0;
}

int enumSizes(v4l2_frmsizeenum& s)
{
    const FormatDesc* f = findFormat(s.pixel_format);
    if (!f || s.index >= f->sizes.size())
        return fail(EINVAL);
    s.type = V4L2_FRMSIZE_TYPE_DISCRETE;
    s.discrete = {f->sizes[s.index].width, f->sizes[s.index].height};
    return 0;
}

int enumIntervals(v4l2_frmivalenum& i)
{
    const SizeDesc* s = findSize(i.pixel_format, i.width, i.height);
    if (!s || i.index >= s->fps.size())
        return fail(EINVAL);
    i.type = V4L2_FRMIVAL_TYPE_DISCRETE;
    i.discrete = {1, s->fps[i.index]};
    return 0;
}

void describeFormat(const Format& format, v4l2_format& fmt)
{
    auto& pix = fmt.fmt.pix;
    pix = {};
    pix.width = format.width;
    pix.height = format.height;
    pix.pixelformat = format.fourcc;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = format.fourcc == V4L2_PIX_FMT_YUYV ? format.width * 2 : 0;
    pix.sizeimage = sizeImage(format);
    pix.colorspace = V4L2_COLORSPACE_SRGB;
}

// The nearest size the format has, by uvcvideo's measure (the area the two do not share).
const SizeDesc& nearestSize(const FormatDesc& f, uint32_t w, uint32_t h)
{
    const SizeDesc* best = &f.sizes.front();
    uint64_t bestDistance = UINT64_MAX;
    for (const SizeDesc& s : f.sizes) {
        const uint64_t common = uint64_t(std::min(w, s.width)) * std::min(h, s.height);
        const uint64_t distance = uint64_t(w) * h + uint64_t(s.width) * s.height - 2 * common;
        if (distance < bestDistance)
            best = &s, bestDistance = distance;
    }
    return *best;
}

int setFormat(Camera& c, int fd, v4l2_format& fmt, bool apply)
{
    if (fmt.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return fail(EINVAL);
    if (apply && (c.streaming || (c.owner >= 0 && c.owner != fd)))
        return fail(EBUSY);
    const FormatDesc* f = findFormat(fmt.fmt.pix.pixelformat);
    if (!f)
        f = &formats().front();
    const SizeDesc& s = nearestSize(*f, fmt.fmt.pix.width, fmt.fmt.pix.height);
    const Format chosen = {f->fourcc, s.width, s.height, s.fps.front()};
    describeFormat(chosen, fmt);
    if (apply)
        c.format = chosen;
    return 0;
}

int streamParm(Camera& c, int fd, unsigned long request, v4l2_streamparm& parm)
{
    if (parm.type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
        return fail(EINVAL);
    const SizeDesc* s = findSize(c.format.fourcc, c.format.width, c.format.height);
    if (request == VIDIOC_S_PARM) {
        if (c.streaming || (c.owner >= 0 && c.owner != fd))
            return fail(EBUSY);
        const v4l2_fract want = parm.parm.capture.timeperframe;
        const double fps = want.numerator ? double(want.denominator) / want.numerator : s->fps.front();
        c.format.fps = *std::min_element(s->fps.begin(), s->fps.end(), [fps](uint32_t a, uint32_t b) {
            return std::abs(a - fps) < std::abs(b - fps);
        });
    }
    parm.parm.capture = {};
    parm.parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
    parm.parm.capture.timeperframe = {1, c.format.fps};
    return 0;
}

int input(unsigned long request, void* arg)
{
    switch (request) {
    case VIDIOC_G_INPUT: *static_cast<int*>(arg) = 0; return 0;
    case VIDIOC_S_INPUT: return *static_cast<int*>(arg) == 0 ? 0 : fail(EINVAL);
    default: {
        auto& in = *static_cast<v4l2_input*>(arg);
        if (in.index != 0)
            return fail(EINVAL);
        in = {};
        std::strncpy(reinterpret_cast<char*>(in.name), "Camera 1", sizeof in.name - 1);
        in.type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    }
}

// ---- buffers ----

int requestBuffers(Camera& c, int fd, v4l2_requestbuffers& r)
{
    if (r.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r.memory != V4L2_MEMORY_MMAP)
        return fail(EINVAL);
    if (c.owner >= 0 && c.owner != fd)
        return fail(EBUSY);
    if (c.streaming)
        return fail(EBUSY);
    freeBuffers(c);
    if (r.count == 0)
        return 0;
    r.count = std::min(r.count, kMaxBuffers);
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    c.bufferLength = (sizeImage(c.format) + page - 1) / page * page;
    if (ftruncate(fd, off_t(c.bufferLength * r.count)) < 0)
        return fail(ENOMEM);
    void* memory = mmap(nullptr, c.bufferLength * r.count, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED)
        return fail(ENOMEM);
    c.memory = static_cast<uint8_t*>(memory);
    c.buffers.assign(r.count, Buffer());
    c.owner = fd;
    r.capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    return 0;
}

void describeBuffer(const Camera& c, uint32_t index, v4l2_buffer& b)
{
    const Buffer& buffer = c.buffers[index];
    b.index = index;
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.length = uint32_t(c.bufferLength);
    b.m.offset = uint32_t(index * c.bufferLength);
    b.bytesused = buffer.done ? buffer.bytesUsed : 0;
    b.field = V4L2_FIELD_NONE;
    b.sequence = buffer.sequence;
    b.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE |
              (buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0) | (buffer.done ? V4L2_BUF_FLAG_DONE : 0);
    b.timestamp = {time_t(buffer.stampUs / kUsPerSecond), suseconds_t(buffer.stampUs % kUsPerSecond)};
}

// Waits for a filled buffer with the lock released; false when the wait must end (no stream).
bool waitForFrame(Camera& c, std::unique_lock<std::mutex>& lock, int64_t untilUs)
{
    for (;;) {
        const int64_t now = nowUs();
        updatePresence(c, now);
        produce(c, now);
        if (!c.done.empty() || c.failNextDequeue || !c.streaming)
            return !c.done.empty() || c.failNextDequeue;
        if (untilUs >= 0 && now >= untilUs)
            return false;
        const int64_t wake = untilUs < 0 ? c.nextDueUs : std::min(c.nextDueUs, untilUs);
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(std::max<int64_t>(wake - now, kUsPerMs)));
        lock.lock();
    }
}

int dequeue(Camera& c, const OpenFile& f, std::unique_lock<std::mutex>& lock, v4l2_buffer& b)
{
    if (!c.streaming)
        return fail(EINVAL);
    if (!waitForFrame(c, lock, f.nonBlocking ? nowUs() : -1))
        return fail(c.streaming ? EAGAIN : EINVAL);
    if (c.failNextDequeue) {
        goAway(c, nowUs());
        return fail(EIO);
    }
    const uint32_t index = c.done.front();
    c.done.pop_front();
    describeBuffer(c, index, b);
    c.buffers[index].done = false;
    b.flags &= ~V4L2_BUF_FLAG_DONE;
    return 0;
}

int bufferIoctl(Camera& c, int fd, const OpenFile& f, std::unique_lock<std::mutex>& lock, unsigned long request,
                v4l2_buffer& b)
{
    if (b.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || (c.owner != fd && request != VIDIOC_QUERYBUF))
        return fail(c.owner >= 0 ? EBUSY : EINVAL);
    if (request == VIDIOC_DQBUF)
        return dequeue(c, f, lock, b);
    if (b.index >= c.buffers.size())
        return fail(EINVAL);
    if (request == VIDIOC_QBUF) {
        Buffer& buffer = c.buffers[b.index];
        if (buffer.queued || buffer.done)
            return fail(EINVAL);
        buffer.queued = true;
        c.queue.push_back(b.index);
    }
    describeBuffer(c, b.index, b);
    return 0;
}

int streamSwitch(Camera& c, int fd, bool on)
{
    if (c.owner != fd)
        return fail(c.owner >= 0 ? EBUSY : EINVAL);
    if (on && !c.streaming) {
        c.nextDueUs = nowUs() + kUsPerSecond / currentFps(c);
        if (c.profile == Profile::Unplug && !c.unplugged && c.unplugAtUs < 0)
            c.unplugAtUs = nowUs() + c.unplugAfterUs;
        if (c.firstStreamUs < 0)
            c.firstStreamUs = nowUs();
    }
    if (!on) {  // every buffer comes back dequeued
        c.queue.clear();
        c.done.clear();
        for (Buffer& b : c.buffers)
            b.queued = b.done = false;
    }
    c.streaming = on;
    return 0;
}

int captureIoctl(Camera& c, int fd, const OpenFile& f, std::unique_lock<std::mutex>& lock, unsigned long request,
                 void* arg)
{
    switch (request) {
    case VIDIOC_ENUM_FMT: return enumFormat(*static_cast<v4l2_fmtdesc*>(arg));
    case VIDIOC_ENUM_FRAMESIZES: return enumSizes(*static_cast<v4l2_frmsizeenum*>(arg));
    case VIDIOC_ENUM_FRAMEINTERVALS: return enumIntervals(*static_cast<v4l2_frmivalenum*>(arg));
    case VIDIOC_G_FMT:
        if (static_cast<v4l2_format*>(arg)->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        describeFormat(c.format, *static_cast<v4l2_format*>(arg));
        return 0;
    case VIDIOC_S_FMT:
    case VIDIOC_TRY_FMT: return setFormat(c, fd, *static_cast<v4l2_format*>(arg), request == VIDIOC_S_FMT);
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: return streamParm(c, fd, request, *static_cast<v4l2_streamparm*>(arg));
    case VIDIOC_G_INPUT:
    case VIDIOC_S_INPUT:
    case VIDIOC_ENUMINPUT: return input(request, arg);
    case VIDIOC_REQBUFS: return requestBuffers(c, fd, *static_cast<v4l2_requestbuffers*>(arg));
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF: return bufferIoctl(c, fd, f, lock, request, *static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: return streamSwitch(c, fd, request == VIDIOC_STREAMON);
    default: return controlIoctl(*c.controls, request, arg);
    }
}

}  // namespace

bool isCameraPath(const char* path)
{
    const size_t prefix = std::strlen(kDevPrefix);
    if (!path || std::strncmp(path, kDevPrefix, prefix) != 0 || !path[prefix])
        return false;
    return std::strspn(path + prefix, "0123456789") == std::strlen(path + prefix);
}

std::vector<std::string> nodeNames()
{
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    updatePresence(c, nowUs());
    if (!c.present)
        return {};
    return {"video" + std::to_string(c.node), "video" + std::to_string(c.node + 1)};
}

int cameraOpen(const char* path, int flags)
{
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    updatePresence(c, nowUs());
    const int number = std::atoi(path + std::strlen(kDevPrefix));
    if (!c.present || (number != c.node && number != c.node + 1))
        return fail(ENOENT);
    const int fd = memfd_create("uvc-sim", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    c.files[fd] = {c.generation, number != c.node, (flags & O_NONBLOCK) != 0};
    if (fd < kTrackedFds)
        trackedFds[fd] = true;
    return fd;
}

bool isCameraFd(int fd)
{
    if (fd >= 0 && fd < kTrackedFds)
        return trackedFds[fd];
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    return c.files.count(fd) > 0;
}

void cameraClose(int fd)
{
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    if (c.owner == fd)
        freeBuffers(c);  // the program's own mappings stay valid until it unmaps them
    c.files.erase(fd);
    if (fd >= 0 && fd < kTrackedFds)
        trackedFds[fd] = false;
}

int cameraIoctl(int fd, unsigned long request, void* arg)
{
    Camera& c = camera();
    std::unique_lock lock(c.mutex);
    auto it = c.files.find(fd);
    if (it == c.files.end())
        return fail(EBADF);
    const OpenFile f = it->second;
    updatePresence(c, nowUs());
    if (f.generation != c.generation)
        return fail(ENODEV);
    if (request == VIDIOC_QUERYCAP)
        return queryCap(c, f, *static_cast<v4l2_capability*>(arg));
    if (f.metadata)
        return fail(request == VIDIOC_ENUM_FMT ? EINVAL : ENOTTY);
    return captureIoctl(c, fd, f, lock, request, arg);
}

short cameraPoll(int fd, short events, int timeoutMs)
{
    Camera& c = camera();
    std::unique_lock lock(c.mutex);
    auto it = c.files.find(fd);
    if (it == c.files.end())
        return POLLNVAL;
    const int generation = it->second.generation;
    const int64_t untilUs = timeoutMs < 0 ? -1 : nowUs() + int64_t(timeoutMs) * kUsPerMs;
    if (generation == c.generation && c.owner == fd && c.streaming)
        waitForFrame(c, lock, untilUs);
    if (generation != c.generation)
        return POLLERR | POLLHUP;
    if (c.owner != fd || !c.streaming)
        return POLLERR;  // as videobuf2 answers a descriptor that is not streaming
    return (!c.done.empty() || c.failNextDequeue) ? short(events & (POLLIN | POLLRDNORM)) : 0;
}

}  // namespace uvcsim
