// The camera's pictures: a few distinct scenes per format and size, made once and cycled, so the
// simulated camera costs the program under test next to nothing per frame (a real camera
// compresses in its own hardware). JPEGs are made as webcams make them: 4:2:2, the standard
// Huffman tables and no DHT segment (the "AVI1" Motion JPEG of USB cameras).
#include "camera.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstring>

namespace uvcsim {

namespace {

constexpr int kScenes = 8;
constexpr int kQscale = 4;
constexpr uint8_t kMarker = 0xFF, kDht = 0xC4, kSos = 0xDA;
constexpr int kBoxSize = 8;       // the moving box, in eighths of the height
constexpr int kBlocks = 8;        // the scene number's bits along the top
constexpr int kBlockWidths = 16;  // a block is this fraction of the width
constexpr uint8_t kBoxLuma = 235, kBitOn = 220, kBitOff = 30;
// The background: luma rises to the right and downwards, chroma shifts across and down.
constexpr uint32_t kLumaBase = 40, kLumaAcross = 100, kLumaDown = 60;
constexpr uint32_t kBlueBase = 96, kRedBase = 160, kChromaSpan = 64;

// Scene `k`: a diagonal gradient, a white box that moves with k, and k in eight blocks.
void luma(uint32_t w, uint32_t h, int k, uint32_t x, uint32_t y, uint8_t& yv)
{
    const uint32_t box = h / kBoxSize, boxX = (w - box) * uint32_t(k) / kScenes, boxY = h / 2 - box / 2;
    const uint32_t block = w / kBlockWidths;
    if (x >= boxX && x < boxX + box && y >= boxY && y < boxY + box)
        yv = kBoxLuma;
    else if (y < block && x < kBlocks * block)
        yv = (k >> (x / block)) & 1 ? kBitOn : kBitOff;
    else
        yv = uint8_t(kLumaBase + x * kLumaAcross / w + y * kLumaDown / h);
}

void fill422(uint32_t w, uint32_t h, int k, uint8_t* y, int yStride, uint8_t* u, uint8_t* v, int cStride)
{
    for (uint32_t row = 0; row < h; ++row)
        for (uint32_t col = 0; col < w; ++col) {
            luma(w, h, k, col, row, y[row * yStride + col]);
            if (col % 2 == 0) {
                u[row * cStride + col / 2] = uint8_t(kBlueBase + col * kChromaSpan / w);
                v[row * cStride + col / 2] = uint8_t(kRedBase - row * kChromaSpan / h);
            }
        }
}

// The JPEG without its DHT segments: the decoder's standard tables are the ones it was made with.
std::vector<uint8_t> withoutHuffmanTables(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out(data, data + 2);
    size_t at = 2;
    while (at + 4 <= size && data[at] == kMarker && data[at + 1] != kSos) {
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        if (data[at + 1] != kDht)
            out.insert(out.end(), data + at, data + at + 2 + length);
        at += 2 + length;
    }
    out.insert(out.end(), data + at, data + size);
    return out;
}

std::vector<uint8_t> encodeJpeg(uint32_t w, uint32_t h, int k)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::vector<uint8_t> out;
    if (ctx && frame && packet) {
        ctx->width = int(w);
        ctx->height = int(h);
        ctx->pix_fmt = AV_PIX_FMT_YUVJ422P;
        ctx->time_base = {1, 30};
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * kQscale;
        av_opt_set(ctx->priv_data, "huffman", "default", 0);
        frame->format = ctx->pix_fmt;
        frame->width = ctx->width;
        frame->height = ctx->height;
        frame->quality = ctx->global_quality;
        if (avcodec_open2(ctx, codec, nullptr) == 0 && av_frame_get_buffer(frame, 0) == 0) {
            fill422(w, h, k, frame->data[0], frame->linesize[0], frame->data[1], frame->data[2], frame->linesize[1]);
            if (avcodec_send_frame(ctx, frame) == 0 && avcodec_receive_packet(ctx, packet) == 0)
                out = withoutHuffmanTables(packet->data, size_t(packet->size));
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    if (out.empty())
        std::fprintf(stderr, "uvc sim: cannot make a %ux%u JPEG\n", w, h);
    return out;
}

std::vector<uint8_t> makeYuyv(uint32_t w, uint32_t h, int k)
{
    std::vector<uint8_t> y(size_t(w) * h), u(size_t(w / 2) * h), v(size_t(w / 2) * h), out(size_t(w) * h * 2);
    fill422(w, h, k, y.data(), int(w), u.data(), v.data(), int(w / 2));
    for (size_t i = 0; i < size_t(w) * h / 2; ++i) {
        out[4 * i] = y[2 * i];
        out[4 * i + 1] = u[i];
        out[4 * i + 2] = y[2 * i + 1];
        out[4 * i + 3] = v[i];
    }
    return out;
}

}  // namespace

std::vector<std::vector<uint8_t>> makePictures(uint32_t fourcc, uint32_t width, uint32_t height)
{
    std::vector<std::vector<uint8_t>> pictures;
    for (int k = 0; k < kScenes; ++k)
        pictures.push_back(fourcc == V4L2_PIX_FMT_MJPEG ? encodeJpeg(width, height, k) : makeYuyv(width, height, k));
    return pictures;
}

std::string frameComment(uint64_t sequence, int node, int64_t autoExposure, int64_t exposure, int64_t autoWhiteBalance,
                         int64_t temperature)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s frame=%llu node=video%d auto_exposure=%lld exposure=%lld awb=%lld wb=%lld",
                  kCommentPrefix, static_cast<unsigned long long>(sequence), node, static_cast<long long>(autoExposure),
                  static_cast<long long>(exposure), static_cast<long long>(autoWhiteBalance),
                  static_cast<long long>(temperature));
    return text;
}

}  // namespace uvcsim
