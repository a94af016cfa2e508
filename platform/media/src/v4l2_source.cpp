// A V4L2 camera: mmap streaming on a thread that keeps the newest frame, reopening the device
// when it comes back after going away.
#include "v4l2_source.h"
#include "v4l2_source_device.h"
#include "v4l2_source_map.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace kelvra::media {

namespace {

using namespace v4l2;

constexpr uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 200;
constexpr auto kReopenInterval = std::chrono::seconds(1);
constexpr const char* kDevicePrefix = "video";

struct Mapping {
    void* start = MAP_FAILED;
    size_t length = 0;
};

// The device's side of one running stream: the buffers and the negotiated layout.
struct Stream {
    int fd = -1;
    std::string path;
    std::vector<Mapping> buffers;
    uint32_t bytesPerLine = 0;
    StreamFormat format;

    ~Stream() { close(); }

    void close()
    {
        if (fd >= 0 && !buffers.empty()) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            KELVRA_IOCTL(fd, VIDIOC_STREAMOFF, &type, path);
        }
        for (Mapping& m : buffers)
            if (m.start != MAP_FAILED)
                munmap(m.start, m.length);
        if (fd >= 0 && !buffers.empty()) {
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            KELVRA_IOCTL(fd, VIDIOC_REQBUFS, &req, path);
        }
        buffers.clear();
    }
};

Status ioctlError(int ret, const std::string& path, const char* what)
{
    if (isDeviceGone(ret))
        return Status::error(kDeviceLost, "The camera '" + path + "' went away");
    if (ret == -EBUSY)
        return Status::error(ret, "The camera '" + path + "' is in use by another program");
    return Status::error(ret, "The camera '" + path + "' " + what + ": " + std::strerror(-ret));
}

Status applyFormat(int fd, const std::string& path, const StreamFormat& want, uint32_t& bytesPerLine)
{
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = uint32_t(want.width);
    fmt.fmt.pix.height = uint32_t(want.height);
    fmt.fmt.pix.pixelformat = fourccOf(want.format);
    fmt.fmt.pix.field = V4L2_FIELD_NONE;
    int ret = KELVRA_IOCTL(fd, VIDIOC_S_FMT, &fmt, path);
    if (ret < 0)
        return ioctlError(ret, path, "refused the picture format");
    if (fmt.fmt.pix.pixelformat != fourccOf(want.format) || int(fmt.fmt.pix.width) != want.width ||
        int(fmt.fmt.pix.height) != want.height)
        return Status::error(EINVAL, "The camera '" + path + "' cannot deliver " + std::to_string(want.width) + "x" +
                                         std::to_string(want.height) + " in that format");
    bytesPerLine = fmt.fmt.pix.bytesperline;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (KELVRA_IOCTL(fd, VIDIOC_G_PARM, &parm, path) == 0 && (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        // A rate of n/d frames per second is an interval of d/n seconds.
        parm.parm.capture.timeperframe = {want.rate.denominator, want.rate.numerator};
        KELVRA_IOCTL(fd, VIDIOC_S_PARM, &parm, path);  // a camera that keeps its own rate still streams
    }
    return Status::ok();
}

Status mapBuffers(Stream& s)
{
    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    int ret = KELVRA_IOCTL(s.fd, VIDIOC_REQBUFS, &req, s.path);
    if (ret < 0)
        return ioctlError(ret, s.path, "has no streaming buffers");
    s.buffers.resize(req.count);
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if ((ret = KELVRA_IOCTL(s.fd, VIDIOC_QUERYBUF, &buf, s.path)) < 0)
            return ioctlError(ret, s.path, "cannot share its buffers");
        s.buffers[i].length = buf.length;
        s.buffers[i].start = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd, buf.m.offset);
        if (s.buffers[i].start == MAP_FAILED)
            return Status::error(errno, "Cannot map the camera's buffers: " + std::string(std::strerror(errno)));
        if ((ret = KELVRA_IOCTL(s.fd, VIDIOC_QBUF, &buf, s.path)) < 0)
            return ioctlError(ret, s.path, "cannot queue its buffers");
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if ((ret = KELVRA_IOCTL(s.fd, VIDIOC_STREAMON, &type, s.path)) < 0)
        return ioctlError(ret, s.path, "cannot start streaming");
    return Status::ok();
}

// What tells one camera from another across a replug: its name, its driver and its USB port.
struct Identity {
    std::string card, driver, busInfo;
};

std::string fieldText(const uint8_t* field, size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

Identity identityOf(const v4l2_capability& caps)
{
    return {fieldText(caps.card, sizeof caps.card), fieldText(caps.driver, sizeof caps.driver),
            fieldText(caps.bus_info, sizeof caps.bus_info)};
}

std::vector<std::string> videoNodes();

// Opens the camera at `node`, or where it came back: a USB camera that was unplugged, or reset
// by its hub, may come back under another number. The same port is preferred, then the same
// kind of camera elsewhere. Returns the descriptor and sets `node`, or -1.
int openSameCamera(const Identity& identity, std::string& node)
{
    v4l2_capability caps{};
    std::string message;
    int fd = openCaptureDevice(node, caps, message);
    if (fd >= 0 && identityOf(caps).card == identity.card)
        return fd;
    if (fd >= 0)
        ::close(fd);
    std::string other;
    for (const std::string& path : videoNodes()) {
        if ((fd = openCaptureDevice(path, caps, message)) < 0)
            continue;
        const Identity found = identityOf(caps);
        ::close(fd);
        if (found.card != identity.card || found.driver != identity.driver)
            continue;
        if (found.busInfo == identity.busInfo) {
            other = path;
            break;
        }
        if (other.empty())
            other = path;
    }
    if (other.empty() || (fd = openCaptureDevice(other, caps, message)) < 0)
        return -1;
    node = other;
    return fd;
}

class V4l2Source final : public FrameSource {
public:
    V4l2Source(std::string path, int fd, const v4l2_capability& caps);
    ~V4l2Source() override;

    std::string name() const override { return name_; }
    std::vector<FormatDescription> formats() const override { return formats_; }
    StreamFormat format() const override;
    Status setFormat(const StreamFormat& format) override;
    Status start() override;
    void stop() override;
    SourceState state() const override;
    bool latestFrame(Frame& out, uint64_t afterSequence) override;
    Status grabFresh(Frame& out, std::chrono::milliseconds timeout) override;
    std::vector<Control> controls() override;
    Status setControl(uint32_t id, int64_t value) override;

private:
    Status startStream(Stream& stream);  // on the device in fd_, with format_
    void run();
    int pump(Stream& stream);
    int readFrame(Stream& stream);  // 0, -EAGAIN, or the error that ended the stream
    std::unique_ptr<Stream> reopen();
    void chooseInitialFormat();
    void reapplyControls();  // with the lock held, on a device just opened again

    const std::string path_;  // the camera's name for the program
    Identity identity_;
    std::string name_;
    std::vector<FormatDescription> formats_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int fd_ = -1;  // replaced by the thread when the device comes back
    std::string node_;  // where the camera is now: path_, or the node it came back as
    // The settings made through setControl, in the order made: a camera that lost power comes
    // back with its defaults, and a time-lapse must keep its locked exposure.
    std::vector<std::pair<uint32_t, int64_t>> settings_;
    StreamFormat format_;
    bool streaming_ = false, lost_ = false, quit_ = false;
    Frame newest_, spare_;
    bool hasNewest_ = false;
    int64_t newestUs_ = 0;
    uint64_t sequence_ = 0;
    std::unique_ptr<Stream> stream_;  // handed to the thread while it runs
    std::thread thread_;
};

V4l2Source::V4l2Source(std::string path, int fd, const v4l2_capability& caps)
    : path_(std::move(path)), identity_(identityOf(caps)), fd_(fd), node_(path_)
{
    name_ = identity_.card;
    formats_ = enumerateFormats(fd_, path_);
    chooseInitialFormat();
}

V4l2Source::~V4l2Source()
{
    stop();
    if (fd_ >= 0)
        ::close(fd_);
}

// The device's current format when we can take it, else the first one it offers.
void V4l2Source::chooseInitialFormat()
{
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (KELVRA_IOCTL(fd_, VIDIOC_G_FMT, &fmt, path_) == 0) {
        if (auto pf = pixelFormatOf(fmt.fmt.pix.pixelformat)) {
            format_.format = *pf;
            format_.width = int(fmt.fmt.pix.width);
            format_.height = int(fmt.fmt.pix.height);
            v4l2_streamparm parm{};
            parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (KELVRA_IOCTL(fd_, VIDIOC_G_PARM, &parm, path_) == 0 && parm.parm.capture.timeperframe.numerator)
                format_.rate = rateOf(parm.parm.capture.timeperframe);
            return;
        }
    }
    for (const FormatDescription& f : formats_)
        for (const FrameSize& s : f.sizes) {
            format_ = {f.format, s.width, s.height, s.rates.empty() ? FrameRate{} : s.rates.front()};
            return;
        }
}

StreamFormat V4l2Source::format() const
{
    std::lock_guard lock(mutex_);
    return format_;
}

Status V4l2Source::setFormat(const StreamFormat& format)
{
    const bool offered = std::any_of(formats_.begin(), formats_.end(), [&](const FormatDescription& f) {
        return f.format == format.format;
    });
    if (!offered || format.width <= 0 || format.height <= 0 || format.rate.numerator == 0 ||
        format.rate.denominator == 0)
        return Status::error(EINVAL, "The camera '" + path_ + "' does not offer that picture format");
    const bool wasStreaming = state() != SourceState::Stopped;
    stop();
    const StreamFormat previous = this->format();
    {
        std::lock_guard lock(mutex_);
        format_ = format;
    }
    if (!wasStreaming)
        return Status::ok();
    Status st = start();
    if (!st) {  // back to what worked, so the camera keeps streaming
        std::lock_guard lock(mutex_);
        format_ = previous;
    }
    if (!st)
        start();
    return st;
}

SourceState V4l2Source::state() const
{
    std::lock_guard lock(mutex_);
    if (lost_)
        return SourceState::Lost;
    return streaming_ ? SourceState::Streaming : SourceState::Stopped;
}

Status V4l2Source::startStream(Stream& stream)
{
    std::unique_lock lock(mutex_);
    if (fd_ < 0) {  // lost earlier while stopped: look for the camera again
        const int fd = openSameCamera(identity_, node_);
        if (fd < 0)
            return Status::error(kDeviceLost, "There is no camera at '" + path_ + "' (unplugged?)");
        fd_ = fd;
        lost_ = false;
        reapplyControls();
    }
    stream.path = node_;
    stream.fd = fd_;
    stream.format = format_;
    lock.unlock();
    Status st = applyFormat(stream.fd, stream.path, stream.format, stream.bytesPerLine);
    if (st)
        st = mapBuffers(stream);
    if (!st)
        stream.close();
    return st;
}

Status V4l2Source::start()
{
    {
        std::lock_guard lock(mutex_);
        if (streaming_)
            return Status::ok();
    }
    auto stream = std::make_unique<Stream>();
    Status st = startStream(*stream);
    if (!st) {
        stream->fd = -1;  // the source keeps owning the descriptor
        return st;
    }
    std::lock_guard lock(mutex_);
    stream_ = std::move(stream);
    streaming_ = true;
    quit_ = false;
    hasNewest_ = false;
    thread_ = std::thread([this] { run(); });
    return Status::ok();
}

void V4l2Source::stop()
{
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        thread = std::move(thread_);
    }
    changed_.notify_all();
    if (thread.joinable())
        thread.join();
    std::lock_guard lock(mutex_);
    streaming_ = false;
    hasNewest_ = false;
}

int V4l2Source::readFrame(Stream& s)
{
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    int ret = xioctl(s.fd, VIDIOC_DQBUF, &buf, "VIDIOC_DQBUF", s.path, EAGAIN);
    if (ret < 0)
        return ret;
    const int64_t timeUs = frameTimeUs(buf, monotonicUs());
    const bool good = !(buf.flags & V4L2_BUF_FLAG_ERROR) && buf.index < s.buffers.size() &&
                      repack(static_cast<const uint8_t*>(s.buffers[buf.index].start),
                             std::min<size_t>(buf.bytesused, s.buffers[buf.index].length), s.bytesPerLine,
                             s.format.format, s.format.width, s.format.height, spare_.data);
    ret = KELVRA_IOCTL(s.fd, VIDIOC_QBUF, &buf, s.path);
    if (good) {
        spare_.width = s.format.width;
        spare_.height = s.format.height;
        spare_.format = s.format.format;
        // CLOCK_MONOTONIC is steady_clock's clock on Linux.
        spare_.captured = std::chrono::steady_clock::time_point(std::chrono::microseconds(timeUs));
        std::lock_guard lock(mutex_);
        spare_.sequence = ++sequence_;
        std::swap(newest_, spare_);
        hasNewest_ = true;
        newestUs_ = timeUs;
    }
    if (good)
        changed_.notify_all();
    return ret;
}

// Streams until asked to quit (0) or until the device fails (its error).
int V4l2Source::pump(Stream& s)
{
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (quit_)
                return 0;
        }
        pollfd p{s.fd, POLLIN, 0};
        const int n = poll(&p, 1, kPollTimeoutMs);
        if (n < 0 && errno != EINTR)
            return -errno;
        if (n <= 0)
            continue;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return -ENODEV;
        const int ret = readFrame(s);
        if (ret < 0 && ret != -EAGAIN)
            return ret;
    }
}

// Waits for the device node to come back, then opens it and streams again; null when asked to quit.
std::unique_ptr<Stream> V4l2Source::reopen()
{
    std::unique_lock lock(mutex_);
    while (!changed_.wait_for(lock, kReopenInterval, [&] { return quit_; })) {
        std::string node = node_;
        lock.unlock();
        const int fd = openSameCamera(identity_, node);
        lock.lock();
        if (fd < 0)
            continue;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
        node_ = node;
        reapplyControls();
        lock.unlock();
        auto stream = std::make_unique<Stream>();
        const Status st = startStream(*stream);
        lock.lock();
        if (st) {
            lost_ = false;
            return stream;
        }
    }
    return nullptr;
}

void V4l2Source::run()
{
    std::unique_ptr<Stream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
    }
    // Any failure of a running stream is handled as the device going away: the node is closed and
    // opened afresh, which also recovers a driver that wedged.
    while (stream && pump(*stream) < 0) {
        stream.reset();
        {
            std::lock_guard lock(mutex_);
            lost_ = true;
            hasNewest_ = false;
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = -1;
        }
        changed_.notify_all();
        stream = reopen();
    }
}

bool V4l2Source::latestFrame(Frame& out, uint64_t afterSequence)
{
    std::lock_guard lock(mutex_);
    if (!hasNewest_ || newest_.sequence <= afterSequence)
        return false;
    out = newest_;
    return true;
}

Status V4l2Source::grabFresh(Frame& out, std::chrono::milliseconds timeout)
{
    const int64_t requestUs = monotonicUs();
    if (state() == SourceState::Stopped) {
        Status st = start();  // a capture needs the stream running
        if (!st)
            return st;
    }
    std::unique_lock lock(mutex_);
    const bool ready = changed_.wait_for(lock, timeout, [&] {
        return lost_ || !streaming_ || (hasNewest_ && isFresh(newestUs_, requestUs));
    });
    if (lost_)
        return Status::error(kDeviceLost, "The camera '" + path_ + "' went away");
    if (!ready || !hasNewest_ || !isFresh(newestUs_, requestUs))
        return Status::error(kTimedOut, "The camera '" + path_ + "' sent no picture in time");
    out = newest_;
    return Status::ok();
}

std::vector<Control> V4l2Source::controls()
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return {};
    return queryControls(fd_, node_);
}

Status V4l2Source::setControl(uint32_t id, int64_t value)
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return Status::error(kDeviceLost, "The camera '" + path_ + "' went away");
    Status st = setDeviceControl(fd_, node_, id, value);
    if (st) {
        std::erase_if(settings_, [id](const auto& s) { return s.first == id; });
        settings_.emplace_back(id, value);
    }
    return st;
}

void V4l2Source::reapplyControls()
{
    for (const auto& [id, value] : settings_)
        setDeviceControl(fd_, node_, id, value);  // one the camera refuses now is logged, the rest still apply
}

// "video12" -> 12; -1 for other names.
int deviceNumber(const char* name)
{
    const size_t prefix = std::strlen(kDevicePrefix);
    if (std::strncmp(name, kDevicePrefix, prefix) != 0 || !name[prefix])
        return -1;
    int n = 0;
    for (const char* p = name + prefix; *p; ++p) {
        if (*p < '0' || *p > '9')
            return -1;
        n = n * 10 + (*p - '0');
    }
    return n;
}

// The /dev/video* nodes, by number.
std::vector<std::string> videoNodes()
{
    std::vector<int> numbers;
    if (DIR* dir = opendir("/dev")) {
        while (const dirent* entry = readdir(dir))
            if (int n = deviceNumber(entry->d_name); n >= 0)
                numbers.push_back(n);
        closedir(dir);
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> nodes;
    for (int n : numbers)
        nodes.push_back("/dev/" + std::string(kDevicePrefix) + std::to_string(n));
    return nodes;
}

}  // namespace

bool describeV4l2Device(const std::string& path, DriverInfo& info)
{
    v4l2_capability caps{};
    std::string message;
    const int fd = openCaptureDevice(path, caps, message);
    if (fd < 0)
        return false;
    const char* card = reinterpret_cast<const char*>(caps.card);
    const char* driver = reinterpret_cast<const char*>(caps.driver);
    info.id = path;
    info.name.assign(card, strnlen(card, sizeof caps.card));
    info.driverName.assign(driver, strnlen(driver, sizeof caps.driver));
    info.version = info.driverName + " " + capabilityVersion(caps.version);
    const char* port = reinterpret_cast<const char*>(caps.bus_info);
    info.port.assign(port, strnlen(port, sizeof caps.bus_info));
    ::close(fd);
    return true;
}

std::vector<DriverInfo> enumerateV4l2Devices()
{
    std::vector<DriverInfo> devices;
    for (const std::string& node : videoNodes()) {
        DriverInfo info;
        if (describeV4l2Device(node, info))
            devices.push_back(info);
    }
    return devices;
}

Status openV4l2Source(const std::string& path, std::unique_ptr<FrameSource>& out)
{
    v4l2_capability caps{};
    std::string message;
    const int fd = openCaptureDevice(path, caps, message);
    if (fd < 0)
        return Status::error(fd, message);
    // Opening a node succeeds while another program streams from it; setting the format it
    // already has does not, which tells the user now rather than at the first picture.
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (KELVRA_IOCTL(fd, VIDIOC_G_FMT, &fmt, path) == 0 && KELVRA_IOCTL(fd, VIDIOC_S_FMT, &fmt, path) == -EBUSY) {
        ::close(fd);
        return Status::error(EBUSY, "The camera '" + path + "' is in use by another program");
    }
    out = std::make_unique<V4l2Source>(path, fd, caps);
    return Status::ok();
}

}  // namespace kelvra::media
