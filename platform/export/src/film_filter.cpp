// The filter graph of an export, after FFmpeg's filtering example: buffer -> [deflicker] ->
// (scale | crop) -> format -> buffersink.
#include "film_parts.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

#include <cerrno>
#include <string>

namespace kelvra::film {

namespace {

// The chain's text for a picture of inWidth x inHeight made into width x height: a picture that
// is only made even loses its last row or column instead of being resampled. Deflicker comes
// first, on the pictures as decoded: a camera's JPEGs are full range, where scaling the
// brightness keeps black black (on video range it would lift the black level with each jump).
std::string chainText(int inWidth, int inHeight, int width, int height, AVPixelFormat format, int deflicker)
{
    std::string chain;
    // am: the arithmetic mean of the window's brightness, the filter's default.
    if (deflicker > 0)
        chain = "deflicker=size=" + std::to_string(deflicker) + ":mode=am,";
    if (width <= inWidth && height <= inHeight && inWidth - width <= 1 && inHeight - height <= 1)
        chain += "crop=" + std::to_string(width) + ":" + std::to_string(height) + ":0:0";
    else
        chain += "scale=" + std::to_string(width) + ":" + std::to_string(height);
    return chain + ",format=" + av_get_pix_fmt_name(format);
}

}  // namespace

FilmFilter::~FilmFilter()
{
    avfilter_graph_free(&graph_);
}

bool FilmFilter::accepts(const AVFrame* frame) const
{
    return frame->width == inWidth_ && frame->height == inHeight_ && frame->format == inFormat_;
}

Status FilmFilter::build(const AVFrame* first, AVRational timeBase, int width, int height, AVPixelFormat format,
                         int deflickerWindow)
{
    inWidth_ = first->width;
    inHeight_ = first->height;
    inFormat_ = first->format;
    graph_ = avfilter_graph_alloc();
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!graph_ || !outputs || !inputs) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        return Status::error(ENOMEM, "Out of memory for the film's filters");
    }
    graph_->nb_threads = 0;  // as many as the machine has, for the scaler's slices
    AVRational aspect = first->sample_aspect_ratio.num > 0 ? first->sample_aspect_ratio : AVRational{1, 1};
    std::string args = "video_size=" + std::to_string(inWidth_) + "x" + std::to_string(inHeight_) +
                       ":pix_fmt=" + std::to_string(inFormat_) + ":time_base=" + std::to_string(timeBase.num) + "/" +
                       std::to_string(timeBase.den) + ":pixel_aspect=" + std::to_string(aspect.num) + "/" +
                       std::to_string(aspect.den);
    int ret = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args.c_str(), nullptr, graph_);
    if (ret >= 0)
        ret = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph_);
    if (ret >= 0) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source_;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink_;
        std::string chain = chainText(inWidth_, inHeight_, width, height, format, deflickerWindow);
        ret = avfilter_graph_parse_ptr(graph_, chain.c_str(), &inputs, &outputs, nullptr);
    }
    if (ret >= 0)
        ret = avfilter_graph_config(graph_, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (ret < 0) {
        avfilter_graph_free(&graph_);
        return Status::error(ret, "Cannot set up the film's filters: " + avErrorText(ret));
    }
    return Status::ok();
}

int FilmFilter::push(AVFrame* frame)
{
    return av_buffersrc_add_frame_flags(source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
}

int FilmFilter::pull(AVFrame* frame)
{
    return av_buffersink_get_frame(sink_, frame);
}

}  // namespace kelvra::film
