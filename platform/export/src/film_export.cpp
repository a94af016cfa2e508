// One export from start to end: the checks that come before any work, then decode -> filter ->
// encode -> write into a temporary name, renamed to the target once the film is complete.
#include "film_parts.h"
#include "partial_target.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvra::film {

namespace {

namespace fs = std::filesystem;

// Deflicker windows measured with bench/export_film (deflicker_residual_window_N): a still
// scene whose brightness jumps by up to +-10 % at random each frame; the spread of the frame
// means after the filter over before it: 3 frames 0.46, 5 frames 0.36, 9 frames 0.25,
// 15 frames 0.18, 21 frames 0.14, 31 frames 0.09. Light keeps slow changes of light (a sunset,
// clouds) and takes out a good half of single-frame jumps; Strong leaves under a fifth of them,
// at the cost of spreading a real change of light over 15 frames.
constexpr int kLightWindow = 5;
constexpr int kStrongWindow = 15;
constexpr int kMinSide = 2;

// An AVI states its rate as microseconds a frame, so 12 fps is stored as 1000000/83333; the film
// gets the rate that was meant: a whole number, or one of the 1000/1001 television rates.
AVRational filmRate(const ExportSettings& settings, AVRational own)
{
    const double fps = settings.framesPerSecond > 0 ? settings.framesPerSecond : av_q2d(own);
    constexpr double kTolerance = 1e-4;  // relative; one microsecond in a frame of 10 ms
    const double whole = std::round(fps);
    if (whole >= 1 && std::fabs(fps - whole) <= whole * kTolerance)
        return {int(whole), 1};
    const double television = std::round(fps * 1.001);
    if (television >= 1 && std::fabs(fps - television / 1.001) <= fps * kTolerance)
        return {int(television) * 1000, 1001};
    return av_d2q(fps, 1001000);
}

// Pictures on their way from one stage of the export to the next: decoding, filtering and
// encoding each run on a thread of their own, so that on a machine with several cores the
// encoder never waits for the decoder. A few pictures at a time keep memory flat however long
// the film.
class PictureQueue {
public:
    ~PictureQueue()
    {
        for (AVFrame* frame : frames_)
            av_frame_free(&frame);
    }
    // Takes the frame; false when the taker has stopped (the frame is freed then).
    bool put(AVFrame* frame)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return frames_.size() < kCapacity || stopped_; });
        if (stopped_) {
            av_frame_free(&frame);
            return false;
        }
        frames_.push_back(frame);
        ready_.notify_one();
        return true;
    }
    // The next picture; nullptr once the giver has finished and all were taken.
    AVFrame* take()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !frames_.empty() || finished_; });
        if (frames_.empty())
            return nullptr;
        AVFrame* frame = frames_.front();
        frames_.pop_front();
        room_.notify_one();
        return frame;
    }
    void finish(Status status)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        status_ = std::move(status);
        ready_.notify_all();
    }
    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        room_.notify_all();
    }
    Status status()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return status_;
    }

private:
    static constexpr size_t kCapacity = 4;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<AVFrame*> frames_;
    bool finished_ = false, stopped_ = false;
    Status status_;
};

class Run {
public:
    Run(const ExportSettings& settings, const std::function<void(const ExportProgress&)>& onProgress,
        const std::atomic<bool>& cancel)
        : settings_(settings), onProgress_(onProgress), cancel_(cancel)
    {
    }
    ExportResult go();

private:
    Status prepare();
    Status decodeAll();     // decoding thread: the range's frames into decoded_
    Status filterAll();     // filtering thread: decoded_ through the filters into filtered_
    Status feed(AVFrame* frame);
    Status passFiltered();
    Status encodeAll();     // calling thread: filtered_ into the sink

    const ExportSettings& settings_;
    const std::function<void(const ExportProgress&)>& onProgress_;
    const std::atomic<bool>& cancel_;
    FilmInput input_;
    FilmFilter filter_;
    std::unique_ptr<FilmSink> sink_;
    PartialTarget partial_;
    PictureQueue decoded_;
    PictureQueue filtered_;
    AVPixelFormat pixelFormat_ = AV_PIX_FMT_NONE;
    int width_ = 0, height_ = 0;
    AVRational rate_{0, 1};
    int64_t first_ = 0, last_ = 0;
    ExportProgress progress_;
};

Status Run::prepare()
{
    TargetState target;
    Status st = checkTarget(settings_, target);
    if (!st)
        return st;
    if (target.exists && !target.replaceable)
        return Status::error(EEXIST, "The folder " + film::quoted(settings_.target) +
                                         " holds other files; choose a new folder for the pictures");
    if (!(st = input_.open(settings_.source)))
        return st;
    const SourceInfo& info = input_.info();
    if (info.frames <= 0)
        return Status::error(EINVAL, "The recording " + film::quoted(settings_.source) + " holds no frames yet");
    first_ = std::max<int64_t>(settings_.first, 0);
    last_ = settings_.last < 0 ? info.frames - 1 : std::min(settings_.last, info.frames - 1);
    if (first_ > last_)
        return Status::error(EINVAL, "The recording has " + std::to_string(info.frames) + " frames; frame " +
                                         std::to_string(first_ + 1) + " is not among them");
    progress_.total = last_ - first_ + 1;
    filmSize(info.width, info.height, settings_.boxWidth, settings_.boxHeight, width_, height_);
    rate_ = filmRate(settings_, input_.rate());

    removeStalePartials(settings_.target);
    const bool pictures = settings_.format != FilmFormat::Mp4;
    if (!(st = partial_.create(settings_.target, pictures)))
        return st;
    sink_ = pictures ? makePictureSink(settings_.format) : makeMp4Sink(settings_);
    pixelFormat_ = sink_->pixelFormat();
    if (!(st = sink_->open(partial_.path(), width_, height_, rate_)))
        return st;
    return input_.seekTo(first_);
}

Status Run::passFiltered()
{
    for (;;) {
        AVFrame* filtered = av_frame_alloc();
        if (!filtered)
            return Status::error(ENOMEM, "Out of memory for the film's pictures");
        int ret = filter_.pull(filtered);
        if (ret < 0)
            av_frame_free(&filtered);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return Status::ok();
        if (ret < 0)
            return Status::error(ret, "The film's filters failed: " + avErrorText(ret));
        if (!filtered_.put(filtered))
            return Status::error(kCancelled, "The export was stopped");
    }
}

Status Run::feed(AVFrame* frame)
{
    if (!filter_.built()) {
        const int window = deflickerWindow(settings_.deflicker);
        Status st = filter_.build(frame, av_inv_q(input_.rate()), width_, height_, pixelFormat_, window);
        if (!st)
            return st;
    }
    if (frame && !filter_.accepts(frame))
        return Status::ok();  // a damaged picture decoded at another size is left out
    int ret = filter_.push(frame);
    if (ret < 0)
        return Status::error(ret, "The film's filters failed: " + avErrorText(ret));
    return passFiltered();
}

Status Run::decodeAll()
{
    for (;;) {
        AVFrame* frame = av_frame_alloc();
        if (!frame)
            return Status::error(ENOMEM, "Out of memory for the film's pictures");
        int ret = input_.next(frame, last_);
        if (ret < 0)
            av_frame_free(&frame);
        if (ret == AVERROR_EOF)
            return Status::ok();
        if (ret < 0)
            continue;  // a damaged frame: counted among the skipped ones at the end
        int64_t ts = frame->best_effort_timestamp;
        int64_t index = ts != AV_NOPTS_VALUE ? input_.indexOf(ts) : first_;
        if (index < first_ || index > last_)
            av_frame_free(&frame);
        else if (!decoded_.put(frame))
            return Status::error(kCancelled, "The export was stopped");
    }
}

Status Run::filterAll()
{
    while (AVFrame* frame = decoded_.take()) {
        Status st = feed(frame);
        av_frame_free(&frame);
        if (!st)
            return st;
    }
    if (Status st = decoded_.status(); !st)
        return st;
    if (!filter_.built())
        return Status::error(EINVAL, "No frame of " + film::quoted(settings_.source) + " in the range could be read");
    return feed(nullptr);
}

Status Run::encodeAll()
{
    while (AVFrame* frame = filtered_.take()) {
        frame->pts = progress_.done;
        Status st = cancel_.load(std::memory_order_relaxed) ? Status::error(kCancelled, "The export was cancelled")
                                                            : sink_->write(frame);
        av_frame_free(&frame);
        if (!st)
            return st;
        ++progress_.done;
        if (onProgress_)
            onProgress_(progress_);
    }
    if (cancel_.load(std::memory_order_relaxed))
        return Status::error(kCancelled, "The export was cancelled");
    return filtered_.status();
}

ExportResult Run::go()
{
    ExportResult result;
    result.status = prepare();
    if (result.status) {
        std::thread decoder([this] { decoded_.finish(decodeAll()); });
        std::thread filter([this] {
            Status st = filterAll();
            decoded_.stop();  // a decoder still giving pictures stops at its next one
            filtered_.finish(std::move(st));
        });
        result.status = encodeAll();
        filtered_.stop();
        filter.join();
        decoder.join();
    }
    if (result.status)
        result.status = sink_->finish();
    sink_.reset();  // the file is closed before it is renamed or removed
    if (result.status)
        result.status = partial_.commit();
    result.written = result.status ? progress_.done : 0;
    result.skipped = result.status ? progress_.total - progress_.done : 0;
    return result;
}

bool isPictureName(const std::string& name)
{
    static const std::regex picture(R"(frame_\d{6,}\.(jpg|png))");
    return std::regex_match(name, picture);
}

// A folder may be replaced by a new sequence only when it holds nothing but pictures of one.
bool onlyPictures(const std::string& folder)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool only = true;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && !isPictureName(name))
            only = false;
    }
    closedir(dir);
    return only;
}

}  // namespace

void filmSize(int width, int height, int boxWidth, int boxHeight, int& outWidth, int& outHeight)
{
    double w = width, h = height;
    if (boxWidth > 0 && boxHeight > 0 && width > 0 && height > 0) {
        double scale = std::min(double(boxWidth) / width, double(boxHeight) / height);
        w = width * scale;
        h = height * scale;
    }
    // Even sides, as 4:2:0 pictures need; a fitted side is rounded to the nearest even number.
    auto even = [](double side) { return std::max(kMinSide, int(std::lround(side / 2)) * 2); };
    outWidth = boxWidth > 0 ? std::min(even(w), boxWidth & ~1) : std::max(kMinSide, int(w) & ~1);
    outHeight = boxHeight > 0 ? std::min(even(h), boxHeight & ~1) : std::max(kMinSide, int(h) & ~1);
}

int deflickerWindow(Deflicker strength)
{
    switch (strength) {
    case Deflicker::Light: return kLightWindow;
    case Deflicker::Strong: return kStrongWindow;
    case Deflicker::Off: break;
    }
    return 0;
}

std::string pictureName(FilmFormat format, int64_t index)
{
    char name[64];
    std::snprintf(name, sizeof name, "frame_%06lld.%s", static_cast<long long>(index + 1),
                  format == FilmFormat::PngSequence ? "png" : "jpg");
    return name;
}

Status checkTarget(const ExportSettings& settings, TargetState& state)
{
    state = {};
    if (settings.target.empty())
        return Status::error(EINVAL, "No name was given for the film");
    const std::string folder = fs::path(settings.target).parent_path().empty()
                                   ? std::string(".")
                                   : fs::path(settings.target).parent_path().string();
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Status::error(ENOENT, "The folder " + film::quoted(folder) + " does not exist");
    // AT_EACCESS: the effective user's rights; a read-only mount answers EROFS even for root.
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        const int err = errno;
        return Status::error(err, "The folder " + film::quoted(folder) + " cannot be written to (" + std::strerror(err) +
                                      "); choose another place for the film");
    }
    std::error_code same;
    if (fs::equivalent(settings.target, settings.source, same))
        return Status::error(EEXIST, "The film cannot take the place of the recording it is made from");
    struct stat existing {};
    if (lstat(settings.target.c_str(), &existing) != 0)
        return Status::ok();
    state.exists = true;
    if (S_ISDIR(existing.st_mode)) {
        if (settings.format == FilmFormat::Mp4)
            return Status::error(EISDIR, film::quoted(settings.target) + " is a folder; choose a name for the film file");
        state.replaceable = onlyPictures(settings.target);
    } else if (!S_ISREG(existing.st_mode)) {
        state.replaceable = false;
    }
    return Status::ok();
}

ExportResult exportFilm(const ExportSettings& settings, const std::function<void(const ExportProgress&)>& onProgress,
                        const std::atomic<bool>& cancel)
{
    // Damaged pictures are counted and reported once; FFmpeg's own line for each would only
    // fill the terminal.
    av_log_set_level(AV_LOG_FATAL);
    Run run(settings, onProgress, cancel);
    return run.go();
}

bool h264Available(std::string& why)
{
    av_log_set_level(AV_LOG_FATAL);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        why = "FFmpeg here was built without libx264";
        return false;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) {
        why = "out of memory";
        return false;
    }
    constexpr int kProbeSide = 64;
    context->width = kProbeSide;
    context->height = kProbeSide;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 25};
    int ret = avcodec_open2(context, codec, nullptr);
    avcodec_free_context(&context);
    if (ret < 0) {
        why = "libx264 cannot start on this machine: " + avErrorText(ret);
        return false;
    }
    return true;
}

}  // namespace kelvra::film
