// The stages of an export, after FFmpeg's transcode example: a recording's frames decoded,
// passed through a filter graph (size, pixel format, deflicker), encoded and written.
#pragma once

#include <kelvra/export/film_export.h>
#include <kelvra/media/av_input.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>

namespace kelvra::film {

std::string avErrorText(int err);
std::string quoted(const std::string& path);
// A write failure as the user should read it: a full disk (or a file-size limit) is named as such.
Status writeError(int err, const std::string& path);

// The recording: demuxer and decoder, frames numbered by their place in the file.
class FilmInput {
public:
    Status open(const std::string& path);
    const SourceInfo& info() const { return info_; }
    AVRational rate() const { return rate_; }
    // The number of the frame a timestamp (in the stream's time base) belongs to.
    int64_t indexOf(int64_t timestamp) const;
    Status seekTo(int64_t frame);

    // The next decoded frame at or after the seek point: 0, AVERROR_EOF at the end of the file's
    // frames (up to `stopAfter`), or a negative error for a frame that could not be decoded.
    int next(AVFrame* frame, int64_t stopAfter);
    bool damaged() const { return in_.demuxError != 0; }

private:
    media::AvInput in_;
    AVRational rate_{0, 1};
    SourceInfo info_;
    int64_t startPts_ = 0;
    int64_t packetCount_ = 0;
    std::string path_;
};

// deflicker -> scale or crop -> pixel format, built on the first frame's properties.
class FilmFilter {
public:
    ~FilmFilter();
    Status build(const AVFrame* first, AVRational timeBase, int width, int height, AVPixelFormat format,
                 int deflickerWindow);
    bool accepts(const AVFrame* frame) const;
    int push(AVFrame* frame);   // nullptr: the end, so that held frames come out
    int pull(AVFrame* frame);   // 0, AVERROR(EAGAIN) or AVERROR_EOF
    bool built() const { return graph_ != nullptr; }

private:
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    int inWidth_ = 0, inHeight_ = 0, inFormat_ = -1;
};

// Where the filtered pictures go.
class FilmSink {
public:
    virtual ~FilmSink() = default;
    virtual AVPixelFormat pixelFormat() const = 0;
    virtual Status open(const std::string& path, int width, int height, AVRational rate) = 0;
    virtual Status write(AVFrame* frame) = 0;   // frame->pts = the picture's number from 0
    virtual Status finish() = 0;                // flushes the encoder and closes the file
};

std::unique_ptr<FilmSink> makeMp4Sink(const ExportSettings& settings);
std::unique_ptr<FilmSink> makePictureSink(FilmFormat format);

}  // namespace kelvra::film
