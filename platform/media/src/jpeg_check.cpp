#include "jpeg_check.h"
#include "convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cerrno>
#include <string>

namespace kelvra::media {

namespace {

constexpr uint8_t kMarker = 0xFF, kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA;
constexpr uint8_t kSof0 = 0xC0, kSof2 = 0xC2;  // baseline, extended and progressive frame headers
constexpr size_t kSofHeight = 5, kSofWidth = 7, kSofBytes = 9;  // offsets from the marker
// The decoder works at an eighth of the size: it still reads every coefficient of the scan,
// which is where damage shows, at a fraction of the cost of a full decode.
constexpr int kCheckLowres = 3;
constexpr int kQuietLogOffset = AV_LOG_DEBUG;  // the decoder's errors below the default log level

uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

}  // namespace

size_t jpegLength(const uint8_t* data, size_t size)
{
    while (size > 2 && data[size - 1] == 0)
        --size;
    return size >= 4 && data[size - 2] == kMarker && data[size - 1] == kEoi ? size : 0;
}

bool jpegSize(const uint8_t* data, size_t size, int& width, int& height)
{
    if (size < 4 || data[0] != kMarker || data[1] != kSoi)
        return false;
    for (size_t at = 2; at + 4 <= size && data[at] == kMarker;) {
        const uint8_t marker = data[at + 1];
        if (marker == kSos)
            return false;  // the scan came before any frame header
        const size_t length = be16(data + at + 2);
        if (marker >= kSof0 && marker <= kSof2) {
            if (at + kSofBytes > size)
                return false;
            height = be16(data + at + kSofHeight);
            width = be16(data + at + kSofWidth);
            return true;
        }
        at += 2 + length;
    }
    return false;
}

JpegCheck::~JpegCheck()
{
    avcodec_free_context(&decoder_);
    av_packet_free(&packet_);
    av_frame_free(&picture_);
}

Status JpegCheck::check(const uint8_t* data, size_t size, int width, int height)
{
    if (size == 0)
        return Status::error(EINVAL, "The camera delivered an empty picture.");
    int w = 0, h = 0;
    if (!jpegSize(data, size, w, h))
        return Status::error(EINVAL, "The camera delivered a damaged picture (no JPEG header).");
    if (w != width || h != height)
        return Status::error(EINVAL, "The camera delivered a " + std::to_string(w) + "x" + std::to_string(h) +
                                         " picture instead of " + std::to_string(width) + "x" +
                                         std::to_string(height) + ".");
    if (jpegLength(data, size) == 0)
        return Status::error(EINVAL, "The camera delivered an incomplete picture (cut short).");
    if (scanIsWhole(data, size, padded_))
        return Status::ok();
    return decode(data, size);
}

Status JpegCheck::decode(const uint8_t* data, size_t size)
{
    // A new decoder for each picture: the decoder keeps the Huffman tables of the last picture
    // that had its own, and would read a picture without tables with those.
    avcodec_free_context(&decoder_);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (!codec)
        return Status::error(ENOSYS, "This FFmpeg has no Motion JPEG decoder");
    decoder_ = avcodec_alloc_context3(codec);
    if (!packet_)
        packet_ = av_packet_alloc();
    if (!picture_)
        picture_ = av_frame_alloc();
    if (!decoder_ || !packet_ || !picture_)
        return Status::error(ENOMEM, "Out of memory for the picture check");
    decoder_->lowres = std::min(kCheckLowres, int(codec->max_lowres));
    decoder_->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    decoder_->log_level_offset = kQuietLogOffset;  // the damage is reported in our own words
    int ret = avcodec_open2(decoder_, codec, nullptr);
    if (ret < 0) {
        avcodec_free_context(&decoder_);
        return Status::error(ret, "Cannot open the picture check: " + avErrorText(ret));
    }
    padded_.assign(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::copy(data, data + size, padded_.begin());
    packet_->data = padded_.data();
    packet_->size = int(size);
    ret = avcodec_send_packet(decoder_, packet_);
    if (ret >= 0)
        ret = avcodec_receive_frame(decoder_, picture_);
    const bool damaged = ret >= 0 && (picture_->decode_error_flags || (picture_->flags & AV_FRAME_FLAG_CORRUPT));
    av_frame_unref(picture_);
    if (ret < 0 || damaged)
        return Status::error(ret < 0 ? ret : -EINVAL,
                             "The camera delivered a damaged picture (" +
                                 (ret < 0 ? avErrorText(ret) : std::string("decoding errors")) + ").");
    return Status::ok();
}

}  // namespace kelvra::media
