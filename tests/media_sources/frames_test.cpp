// Frames made, converted and compressed: the built-in test source (stamps, capture numbering,
// faults, controls), frameBytes and FrameConverter, and the compressors, whose output is decoded
// by libavcodec independently of our converter.
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

StreamFormat streamFormat(PixelFormat format, int w, int h, uint32_t fps = 30)
{
    return {format, w, h, {fps, 1}};
}

uint64_t stampOf(const Frame& f)
{
    uint64_t seq = 0, ms = 0;
    return readTestStamp(f, seq, ms) ? seq : 0;
}

// Waits (bounded) for the preview thread's next frame after `after`.
bool waitPreview(FrameSource& source, Frame& out, uint64_t after)
{
    for (int i = 0; i < 400 && !source.latestFrame(out, after); ++i)
        std::this_thread::sleep_for(5ms);
    return source.latestFrame(out, after);
}

// Mean absolute difference of the picture below the stamp band (RGB24 frames of one size).
double patternDifference(const Frame& a, const Frame& b)
{
    const size_t start = size_t(a.height) * 2 / 5 * a.width * 3 + size_t(a.width) * 3;
    double sum = 0;
    for (size_t i = start; i < a.data.size(); ++i)
        sum += std::abs(int(a.data[i]) - int(b.data[i]));
    return sum / double(a.data.size() - start);
}

// FFmpeg's names for our raw formats, written out here rather than taken from the converter.
const std::pair<PixelFormat, AVPixelFormat> kRawFormats[] = {
    {PixelFormat::RGB24, AV_PIX_FMT_RGB24},     {PixelFormat::BGR24, AV_PIX_FMT_BGR24},
    {PixelFormat::BGRA, AV_PIX_FMT_BGRA},       {PixelFormat::YUYV422, AV_PIX_FMT_YUYV422},
    {PixelFormat::YUV420P, AV_PIX_FMT_YUV420P}, {PixelFormat::NV12, AV_PIX_FMT_NV12},
    {PixelFormat::GRAY8, AV_PIX_FMT_GRAY8}};

// 16x16-pixel blocks of flat grey levels, which survive chroma subsampling and JPEG.
Frame greyBlocks(int w, int h)
{
    Frame f;
    f.width = w, f.height = h, f.format = PixelFormat::RGB24, f.sequence = 7;
    f.data.resize(size_t(w) * h * 3);
    for (size_t i = 0; i < f.data.size(); ++i)
        f.data[i] = uint8_t(40 + ((i / 3 % w / 16 + i / 3 / w / 16) % 4) * 50);
    return f;
}

int maxDifference(const Frame& a, const Frame& b)
{
    int worst = 0;
    for (size_t i = 0; i < a.data.size(); ++i)
        worst = std::max(worst, std::abs(int(a.data[i]) - int(b.data[i])));
    return worst;
}

Frame testPicture(int w, int h, PixelFormat format = PixelFormat::RGB24)
{
    TestSource source;
    EXPECT_TRUE(source.setFormat(streamFormat(format, w, h)));
    Frame f;
    EXPECT_TRUE(source.grabFresh(f, 100ms));
    return f;
}

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
        out = {frame->width, frame->height, AVPixelFormat(frame->format), {}};
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

}  // namespace

TEST(TestSourceStamp, SurvivesMjpegQuality10AndDownscaleAbsentElsewhere)
{
    for (auto [w, h] : {std::pair{640, 480}, {1920, 1080}, {320, 240}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const Frame frame = testPicture(w, h, PixelFormat::YUYV422);
        Frame jpeg, small;
        std::unique_ptr<Encoder> encoder;
        ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, w, h, 10, encoder));
        jpeg.format = PixelFormat::MJPEG;
        bool key = false;
        ASSERT_TRUE(encoder->encode(frame, jpeg.data, key));
        ASSERT_TRUE(FrameConverter().convert(jpeg, PixelFormat::RGB24, small, 200, 150));
        TestStamp stamp;
        ASSERT_TRUE(readTestStamp(small, stamp));
        EXPECT_EQ(stamp.sequence, 1u);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(frame.captured.time_since_epoch());
        EXPECT_EQ(stamp.timeMs, uint64_t(ms.count()));
        EXPECT_FALSE(stamp.preview);
    }
    // Pictures without a stamp: flat, noise of full contrast, too small.
    Frame blank;
    blank.width = 320, blank.height = 240, blank.format = PixelFormat::GRAY8;
    blank.data.assign(320 * 240, 128);
    uint64_t seq, ms;
    EXPECT_FALSE(readTestStamp(blank, seq, ms));
    for (size_t i = 0; i < blank.data.size(); ++i)
        blank.data[i] = uint8_t((i * 2654435761u) >> 13);
    EXPECT_FALSE(readTestStamp(blank, seq, ms));
    blank.width = 8, blank.height = 8;
    blank.data.resize(64);
    EXPECT_FALSE(readTestStamp(blank, seq, ms));
}

// What the source cannot deliver is refused and leaves the format as it was; every size it offers
// (and any other even size) delivers pictures of its layout, stamped and numbered on.
TEST(TestSourceStamp, ReadableInEveryOfferedSizeAndFormatOthersRefused)
{
    TestSource source;
    for (const StreamFormat& bad :
         {streamFormat(PixelFormat::MJPEG, 640, 480), streamFormat(PixelFormat::RGB24, 100, 100),
          streamFormat(PixelFormat::RGB24, 4000, 1080), streamFormat(PixelFormat::YUYV422, 641, 480),
          streamFormat(PixelFormat::RGB24, 640, 480, 61), StreamFormat{PixelFormat::RGB24, 640, 480, {30, 0}}})
        EXPECT_FALSE(source.setFormat(bad)) << bad.width << "x" << bad.height << " " << bad.rate.numerator;
    EXPECT_EQ(source.format().width, 640);
    EXPECT_EQ(source.format().height, 480);
    ASSERT_TRUE(source.setFormat({PixelFormat::RGB24, 322, 242, {15, 2}}));  // any size, 7.5 fps
    Frame frame;
    ASSERT_TRUE(source.grabFresh(frame, 10ms));
    EXPECT_EQ(frame.width, 322);
    EXPECT_EQ(frame.height, 242);
    uint64_t expected = 1;
    for (const FormatDescription& f : source.formats())
        for (const FrameSize& size : f.sizes) {
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
            ASSERT_TRUE(source.setFormat(streamFormat(f.format, size.width, size.height)));
            ASSERT_TRUE(source.grabFresh(frame, 100ms));
            EXPECT_EQ(frame.format, f.format);
            EXPECT_EQ(frame.width, size.width);
            EXPECT_EQ(frame.data.size(), frameBytes(f.format, size.width, size.height));
            EXPECT_EQ(stampOf(frame), ++expected);
            EXPECT_EQ(frame.sequence, expected);
        }
}

TEST(TestSourceNumbering, CaptureNumbersConsecutiveWhilePreviewRuns)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 160, 120, 60)));
    ASSERT_TRUE(source.start());
    std::atomic<bool> done{false};
    std::atomic<int> previews{0};
    std::thread viewer([&] {
        Frame f;
        for (uint64_t last = 0; !done; std::this_thread::sleep_for(1ms)) {
            TestStamp stamp;
            if (source.latestFrame(f, last) && readTestStamp(f, stamp) && stamp.preview &&
                stamp.sequence == f.sequence && f.sequence > last)
                ++previews;
            last = std::max(last, f.sequence);
        }
    });
    Frame frame;
    ASSERT_TRUE(waitPreview(source, frame, 0));
    for (uint64_t n = 1; n <= 60; ++n) {
        const auto before = std::chrono::steady_clock::now();
        ASSERT_TRUE(source.grabFresh(frame, 100ms));
        TestStamp stamp;
        ASSERT_TRUE(readTestStamp(frame, stamp));
        EXPECT_EQ(stamp.sequence, n);
        EXPECT_FALSE(stamp.preview);
        EXPECT_GE(frame.captured, before);  // fresh: made after the request
        if (n % 20 == 0)
            std::this_thread::sleep_for(20ms);  // let preview frames come in between
    }
    done = true;
    viewer.join();
    EXPECT_GT(previews.load(), 0);
    EXPECT_EQ(source.capturedCount(), 60u);
    source.stop();
    EXPECT_EQ(source.state(), SourceState::Stopped);
    EXPECT_FALSE(source.latestFrame(frame, 0));
    // Numbers run on across stop/start and format changes.
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::YUYV422, 320, 240)));
    ASSERT_TRUE(source.grabFresh(frame, 100ms));
    EXPECT_EQ(frame.sequence, 61u);
}

// Stall, failure and unplugging one after another: each recovers, and none costs a capture number.
TEST(TestSourceFaults, StallFailureAndUnplugRecoverWithoutGaps)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 160, 120, 60)));
    source.setStalled(true);
    Frame f;
    Status st = source.grabFresh(f, 10ms);
    EXPECT_EQ(st.code, kTimedOut);
    EXPECT_FALSE(st.message.empty());
    EXPECT_EQ(source.capturedCount(), 0u);
    // A grab waiting on a stall gets its frame as soon as the stall ends.
    std::thread release([&] {
        std::this_thread::sleep_for(20ms);
        source.setStalled(false);
    });
    st = source.grabFresh(f, 10s);
    release.join();
    ASSERT_TRUE(st) << st.message;
    EXPECT_EQ(f.sequence, 1u);

    source.setFailing(true);
    st = source.grabFresh(f, 10ms);
    EXPECT_EQ(st.code, -EIO);
    EXPECT_FALSE(st.message.empty());
    source.setFailing(false);
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    EXPECT_EQ(stampOf(f), 2u);

    // A stalled preview delivers nothing, then resumes.
    ASSERT_TRUE(source.start());
    ASSERT_TRUE(waitPreview(source, f, 0));
    source.setStalled(true);
    EXPECT_FALSE(source.latestFrame(f, 0));
    source.setStalled(false);
    EXPECT_TRUE(waitPreview(source, f, f.sequence));

    source.setUnplugged(true);
    EXPECT_EQ(source.state(), SourceState::Lost);
    EXPECT_EQ(source.grabFresh(f, 10ms).code, kDeviceLost);
    EXPECT_FALSE(source.latestFrame(f, 0));
    source.stop();
    EXPECT_EQ(source.start().code, kDeviceLost);
    source.setUnplugged(false);
    EXPECT_EQ(source.state(), SourceState::Stopped);
    ASSERT_TRUE(source.start());
    EXPECT_EQ(source.state(), SourceState::Streaming);
    // Unplugged while streaming: streaming again once plugged back.
    source.setUnplugged(true);
    source.setUnplugged(false);
    EXPECT_EQ(source.state(), SourceState::Streaming);
    EXPECT_TRUE(waitPreview(source, f, 0));
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    EXPECT_EQ(f.sequence, 3u);
}

// Each control visibly changes another source's first picture, but not its stamp; the picture
// also moves by itself.
TEST(TestSourceControls, OfferedAndVisible)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
    const auto controls = source.controls();
    ASSERT_EQ(controls.size(), 6u);
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[4].type, ControlType::Boolean);
    EXPECT_EQ(controls[5].type, ControlType::Menu);
    EXPECT_EQ(controls[5].menu.size(), 3u);

    Frame base, changed;
    ASSERT_TRUE(source.grabFresh(base, 10ms));
    ASSERT_TRUE(source.grabFresh(changed, 10ms));
    EXPECT_GT(patternDifference(base, changed), 0.0);
    for (auto [id, value] : {std::pair{kTestControlBrightness, int64_t(200)}, {kTestControlContrast, 30},
                             {kTestControlSaturation, 0}, {kTestControlHue, 90}, {kTestControlMirror, 1},
                             {kTestControlPattern, kPatternCheckerboard}, {kTestControlPattern, kPatternGradient}}) {
        SCOPED_TRACE(id);
        TestSource other;
        ASSERT_TRUE(other.setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
        ASSERT_TRUE(other.setControl(id, value));
        ASSERT_TRUE(other.grabFresh(changed, 10ms));
        EXPECT_GT(patternDifference(base, changed), 5.0);
        EXPECT_EQ(stampOf(changed), 1u);  // the stamp is not affected
        const auto after = other.controls();
        auto it = std::find_if(after.begin(), after.end(), [id = id](const Control& c) { return c.id == id; });
        ASSERT_NE(it, after.end());
        EXPECT_EQ(it->value, value);
    }
    EXPECT_EQ(source.setControl(kTestControlBrightness, 256).code, -ERANGE);
    EXPECT_EQ(source.setControl(kTestControlHue, -181).code, -ERANGE);
    EXPECT_EQ(source.setControl(0x12345, 1).code, -EINVAL);
}

TEST(FrameBytes, AgreesWithFfmpegLayout)
{
    for (auto [f, av] : kRawFormats)
        for (auto [w, h] : {std::pair{640, 480}, {161, 121}, {1, 1}, {1920, 1080}})
            EXPECT_EQ(frameBytes(f, w, h), size_t(av_image_get_buffer_size(av, w, h, 1)))
                << int(f) << " " << w << "x" << h;
    EXPECT_EQ(frameBytes(PixelFormat::MJPEG, 640, 480), 0u);
    EXPECT_EQ(frameBytes(PixelFormat::RGB24, 0, 480), 0u);
    EXPECT_EQ(frameBytes(PixelFormat::RGB24, 640, -1), 0u);
}

TEST(FrameConverter, RoundTripsScalesDecodesJpegAndReusesItsOutput)
{
    const Frame source = greyBlocks(320, 240);
    FrameConverter converter;
    for (auto [f, av] : kRawFormats) {
        SCOPED_TRACE(int(f));
        Frame middle, back;
        ASSERT_TRUE(converter.convert(source, f, middle));
        EXPECT_EQ(middle.width, 320);
        EXPECT_EQ(middle.height, 240);
        EXPECT_EQ(middle.data.size(), frameBytes(f, 320, 240));
        EXPECT_EQ(middle.sequence, 7u);
        ASSERT_TRUE(converter.convert(middle, PixelFormat::RGB24, back));
        EXPECT_LE(maxDifference(source, back), 3);
    }
    std::unique_ptr<Encoder> encoder;
    ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 320, 240, 95, encoder));
    Frame jpeg, out;
    jpeg.format = PixelFormat::MJPEG;
    bool key;
    ASSERT_TRUE(encoder->encode(source, jpeg.data, key));
    ASSERT_TRUE(converter.convert(jpeg, PixelFormat::RGB24, out));
    EXPECT_EQ(out.width, 320);
    EXPECT_EQ(out.height, 240);
    EXPECT_LE(maxDifference(source, out), 12);  // full range kept: no washed-out greys

    ASSERT_TRUE(converter.convert(greyBlocks(640, 480), PixelFormat::BGRA, out, 200, 150));
    EXPECT_EQ(out.width, 200);
    EXPECT_EQ(out.height, 150);
    EXPECT_EQ(out.data.size(), 200u * 150 * 4);
    const Frame small = greyBlocks(160, 120);
    ASSERT_TRUE(converter.convert(small, PixelFormat::YUYV422, out, 1920, 1080));
    EXPECT_EQ(out.data.size(), frameBytes(PixelFormat::YUYV422, 1920, 1080));
    const uint8_t* buffer = out.data.data();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(converter.convert(small, PixelFormat::YUYV422, out, 1920, 1080));
    EXPECT_EQ(out.data.data(), buffer);
}

TEST(FrameConverter, BottomUpReversesRows)
{
    // Widths that are and are not multiples of swscale's SIMD blocks, from packed YUV as cameras send.
    for (int w : {64, 62, 162}) {
        SCOPED_TRACE(w);
        Frame rgb = greyBlocks(w, 48);
        std::fill_n(rgb.data.begin(), w * 3, 255);  // a white top row
        FrameConverter converter;
        Frame yuyv, down, up;
        ASSERT_TRUE(converter.convert(rgb, PixelFormat::YUYV422, yuyv));
        ASSERT_TRUE(converter.convert(yuyv, PixelFormat::BGR24, down));
        ASSERT_TRUE(converter.convert(yuyv, PixelFormat::BGR24, up, 0, 0, true));
        const size_t row = size_t(w) * 3;
        for (int y = 0; y < 48; ++y)
            EXPECT_TRUE(std::equal(down.data.begin() + row * y, down.data.begin() + row * (y + 1),
                                   up.data.begin() + row * (47 - y)))
                << y;
        EXPECT_GE(up.data[row * 47], 250);
        EXPECT_LE(maxDifference(rgb, down), 3);
    }
}

TEST(FrameConverter, RefusesBadInput)
{
    FrameConverter converter;
    Frame out, garbage;
    garbage.format = PixelFormat::MJPEG;
    garbage.data.assign(1000, 0x55);
    Status st = converter.convert(garbage, PixelFormat::RGB24, out);
    EXPECT_FALSE(st);
    EXPECT_FALSE(st.message.empty());
    garbage.data.clear();
    EXPECT_FALSE(converter.convert(garbage, PixelFormat::RGB24, out));
    Frame shortRaw = greyBlocks(64, 48);
    shortRaw.data.resize(100);
    EXPECT_FALSE(converter.convert(shortRaw, PixelFormat::BGRA, out));
    EXPECT_FALSE(converter.convert(greyBlocks(64, 48), PixelFormat::MJPEG, out));
    Frame self = greyBlocks(64, 48);
    EXPECT_FALSE(converter.convert(self, PixelFormat::BGRA, self));
    // The converter still works after the failures.
    EXPECT_TRUE(converter.convert(greyBlocks(64, 48), PixelFormat::BGRA, out));
}

TEST(Encoders, MotionJpegDecodesToSizeWithinTolerance)
{
    const Frame in = testPicture(640, 480, PixelFormat::YUYV422);
    size_t previous = 0;
    for (int quality : {10, 50, 95}) {
        std::unique_ptr<Encoder> enc;
        ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 640, 480, quality, enc));
        EXPECT_EQ(enc->format().handler, fourcc('M', 'J', 'P', 'G'));
        std::vector<uint8_t> out;
        bool key = false;
        ASSERT_TRUE(enc->encode(in, out, key));
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

// The list the dialogs show, and for every codec: its AVI format, key frames only, bad sizes and
// input refused, pictures of another size scaled. CaptureChain reads the lossless codecs back
// through FFmpeg to the very pixels (uncompressed: bottom-up BGR rows, word-aligned).
TEST(Encoders, ListedDecodedAndRefuseBadSizesAndInput)
{
    constexpr int kWidth = 162, kHeight = 120;  // rows of 486 bytes, 488 word-aligned
    const auto codecs = availableCodecs();
    ASSERT_EQ(codecs.size(), 3u);
    EXPECT_EQ(codecs[0].name, "Full Frames (Uncompressed)");
    std::unique_ptr<Encoder> enc;
    EXPECT_FALSE(Encoder::create(Codec::MotionJpeg, 0, 480, 50, enc));
    EXPECT_FALSE(Encoder::create(Codec::Uncompressed, 640, -480, 50, enc));
    EXPECT_FALSE(Encoder::create(Codec::Lossless, 100000, 480, 50, enc));
    const Frame in = testPicture(kWidth, kHeight);
    Frame bad = in;
    bad.data.resize(10);
    for (auto [i, c, quality, compression, sizeImage] :
         {std::tuple{0, Codec::Uncompressed, false, 0u, 488u * kHeight},
          {1, Codec::MotionJpeg, true, fourcc('M', 'J', 'P', 'G'), 3u * kWidth * kHeight},
          {2, Codec::Lossless, false, fourcc('F', 'F', 'V', '1'), 3u * kWidth * kHeight}}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(codecs[i].codec, c);
        EXPECT_EQ(codecs[i].hasQuality, quality);
        ASSERT_TRUE(Encoder::create(c, kWidth, kHeight, 50, enc));
        EXPECT_EQ(enc->format().compression, compression);
        EXPECT_EQ(enc->format().bitCount, 24);
        EXPECT_EQ(enc->format().sizeImage, sizeImage);
        std::vector<uint8_t> out;
        bool key = false;
        EXPECT_FALSE(enc->encode(bad, out, key));
        for (int n = 0; n < 3; ++n) {  // every frame stands alone, the output buffer reused
            ASSERT_TRUE(enc->encode(in, out, key));
            EXPECT_TRUE(key);
        }
        EXPECT_TRUE(c != Codec::Uncompressed || out.size() == sizeImage) << out.size();
        ASSERT_TRUE(enc->encode(testPicture(320, 240), out, key));
        Decoded d;
        ASSERT_TRUE(decodePacket(enc->format(), out, d));
        EXPECT_EQ(d.width, kWidth);
        EXPECT_EQ(d.height, kHeight);
    }
}
