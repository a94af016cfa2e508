// Compressors: what they produce is decoded by libavcodec independently of our converter.
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

struct Decoded {
    int width = 0, height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::vector<uint8_t> plane0;  // first plane, rows packed
};

// Decodes one packet as FFmpeg would from an AVI with this format.
bool decodePacket(const AviVideoFormat& fmt, const std::vector<uint8_t>& data, Decoded& out)
{
    const AVCodecID id = fmt.compression == 0                           ? AV_CODEC_ID_RAWVIDEO
                         : fmt.compression == fourcc('M', 'J', 'P', 'G') ? AV_CODEC_ID_MJPEG
                                                                         : AV_CODEC_ID_FFV1;
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = fmt.width;
    ctx->height = fmt.height;
    if (id == AV_CODEC_ID_RAWVIDEO) {
        ctx->pix_fmt = AV_PIX_FMT_BGR24;
        ctx->bits_per_coded_sample = fmt.bitCount;
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    pkt->data = const_cast<uint8_t*>(data.data());
    pkt->size = int(data.size());
    ok = ok && avcodec_send_packet(ctx, pkt) >= 0 && avcodec_receive_frame(ctx, frame) >= 0;
    if (ok) {
        out.width = frame->width;
        out.height = frame->height;
        out.format = AVPixelFormat(frame->format);
        const int rowBytes = std::min(std::abs(frame->linesize[0]), frame->width * 4);
        for (int y = 0; y < frame->height; ++y) {
            const uint8_t* row = frame->data[0] + ptrdiff_t(frame->linesize[0]) * y;
            out.plane0.insert(out.plane0.end(), row, row + rowBytes);
        }
    }
    pkt->data = nullptr;
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return ok;
}

Frame testPicture(int w, int h, PixelFormat format = PixelFormat::RGB24)
{
    TestSource source;
    EXPECT_TRUE(source.setFormat({format, w, h, {30, 1}}));
    Frame f;
    EXPECT_TRUE(source.grabFresh(f, 100ms));
    return f;
}

}  // namespace

TEST(Encoders, UncompressedIsBottomUpBgrWithWordAlignedRows)
{
    for (int w : {320, 162}) {
        const Frame in = testPicture(w, 120);
        std::unique_ptr<Encoder> enc;
        ASSERT_TRUE(Encoder::create(Codec::Uncompressed, w, 120, 0, enc));
        const AviVideoFormat& fmt = enc->format();
        const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
        EXPECT_EQ(fmt.compression, 0u);
        EXPECT_EQ(fmt.bitCount, 24);
        EXPECT_EQ(fmt.height, 120);
        EXPECT_EQ(fmt.sizeImage, stride * 120);
        std::vector<uint8_t> out;
        bool key = false;
        ASSERT_TRUE(enc->encode(in, out, key));
        EXPECT_TRUE(key);
        ASSERT_EQ(out.size(), fmt.sizeImage);
        // Last stored row = top picture row, as B, G, R.
        const uint8_t* stored = out.data() + size_t(stride) * 119;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(stored[x * 3 + c], in.data[x * 3 + 2 - c]);
        // Repeated use keeps working with a reused output buffer.
        ASSERT_TRUE(enc->encode(in, out, key));
        EXPECT_EQ(out.size(), fmt.sizeImage);
    }
}

TEST(Encoders, MotionJpegDecodesToSizeWithinTolerance)
{
    const Frame in = testPicture(640, 480, PixelFormat::YUYV422);
    size_t previous = 0;
    for (int quality : {10, 50, 95}) {
        std::unique_ptr<Encoder> enc;
        ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 640, 480, quality, enc));
        EXPECT_EQ(enc->format().compression, fourcc('M', 'J', 'P', 'G'));
        EXPECT_EQ(enc->format().handler, fourcc('M', 'J', 'P', 'G'));
        std::vector<uint8_t> out;
        bool key = false;
        ASSERT_TRUE(enc->encode(in, out, key));
        EXPECT_TRUE(key);
        EXPECT_GT(out.size(), previous);  // higher quality, more bytes
        previous = out.size();
        Decoded d;
        ASSERT_TRUE(decodePacket(enc->format(), out, d));
        EXPECT_EQ(d.width, 640);
        EXPECT_EQ(d.height, 480);
        EXPECT_EQ(d.format, AV_PIX_FMT_YUVJ420P);  // full range, as players expect
        if (quality == 95) {
            // Luma against the source's luma (YUYV: every other byte).
            double sum = 0;
            for (int i = 0; i < 640 * 480; ++i)
                sum += std::abs(int(d.plane0[i]) - int(in.data[size_t(i) * 2] - 16) * 255 / 219);
            EXPECT_LT(sum / (640 * 480), 4.0);
        }
    }
}

TEST(Encoders, LosslessDecodesToTheSamePixels)
{
    const Frame in = testPicture(320, 240);
    std::unique_ptr<Encoder> enc;
    ASSERT_TRUE(Encoder::create(Codec::Lossless, 320, 240, 0, enc));
    EXPECT_EQ(enc->format().compression, fourcc('F', 'F', 'V', '1'));
    std::vector<uint8_t> out;
    bool key = false;
    for (int i = 0; i < 3; ++i) {  // every frame stands alone
        ASSERT_TRUE(enc->encode(in, out, key));
        EXPECT_TRUE(key);
    }
    Decoded d;
    ASSERT_TRUE(decodePacket(enc->format(), out, d));
    ASSERT_EQ(d.width, 320);
    ASSERT_EQ(d.format, AV_PIX_FMT_0RGB32);
    for (int i = 0; i < 320 * 240; ++i)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(d.plane0[size_t(i) * 4 + c], in.data[size_t(i) * 3 + 2 - c]) << i;
}

// The list the dialogs show, and every codec's handling of bad sizes and input.
TEST(Encoders, ListedAndRefuseBadSizesAndInput)
{
    const auto codecs = availableCodecs();
    ASSERT_EQ(codecs.size(), 3u);
    EXPECT_EQ(codecs[0].name, "Full Frames (Uncompressed)");
    std::unique_ptr<Encoder> enc;
    EXPECT_FALSE(Encoder::create(Codec::MotionJpeg, 0, 480, 50, enc));
    EXPECT_FALSE(Encoder::create(Codec::Uncompressed, 640, -480, 50, enc));
    EXPECT_FALSE(Encoder::create(Codec::Lossless, 100000, 480, 50, enc));
    for (auto [i, c, quality] : {std::tuple{0, Codec::Uncompressed, false}, {1, Codec::MotionJpeg, true},
                                  {2, Codec::Lossless, false}}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(codecs[i].codec, c);
        EXPECT_EQ(codecs[i].hasQuality, quality);
        ASSERT_TRUE(Encoder::create(c, 160, 120, 50, enc));
        Frame bad = testPicture(160, 120);
        bad.data.resize(10);
        std::vector<uint8_t> out;
        bool key;
        EXPECT_FALSE(enc->encode(bad, out, key));
        // A picture of another size is scaled to the stream's size.
        ASSERT_TRUE(enc->encode(testPicture(320, 240), out, key));
        Decoded d;
        ASSERT_TRUE(decodePacket(enc->format(), out, d));
        EXPECT_EQ(d.width, 160);
    }
}
