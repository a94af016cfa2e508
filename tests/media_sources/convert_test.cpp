// frameBytes and FrameConverter: sizes, round trips, orientation, JPEG input, bad input.
#include <kelvra/media/encoder.h>
#include <kelvra/media/frame.h>

extern "C" {
#include <libavutil/imgutils.h>
}

#include <gtest/gtest.h>

using namespace kelvra::media;

namespace {

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

}  // namespace

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

TEST(FrameConverter, RoundTripsScalesAndReusesItsOutput)
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
    Frame out;
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

TEST(FrameConverter, DecodesJpegInput)
{
    const Frame source = greyBlocks(320, 240);
    std::unique_ptr<Encoder> encoder;
    ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 320, 240, 95, encoder));
    Frame jpeg, rgb;
    jpeg.format = PixelFormat::MJPEG;
    bool key;
    ASSERT_TRUE(encoder->encode(source, jpeg.data, key));
    ASSERT_TRUE(FrameConverter().convert(jpeg, PixelFormat::RGB24, rgb));
    EXPECT_EQ(rgb.width, 320);
    EXPECT_EQ(rgb.height, 240);
    EXPECT_LE(maxDifference(source, rgb), 12);  // full range kept: no washed-out greys
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
