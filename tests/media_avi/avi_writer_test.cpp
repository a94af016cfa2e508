// The capture file's writer: what it writes reads back through FFmpeg's demuxer, frame for
// frame, after every append, across RIFF segments and after reopening.
#include "avi_test_support.h"

#include <gtest/gtest.h>

using namespace kelvra::media;
using namespace avitest;

namespace {

constexpr uint32_t k15Fps = 1000000 / 15;  // 66666 µs, truncated

std::unique_ptr<AviWriter> openWriter(const std::string& path, const AviVideoFormat& format, uint32_t us,
                                      AviWriterOptions options = {})
{
    std::unique_ptr<AviWriter> writer;
    Status st = AviWriter::open(path, format, us, options, writer);
    EXPECT_TRUE(st) << st.message;
    return writer;
}

void appendFrames(AviWriter& writer, uint64_t from, uint64_t to, size_t baseSize)
{
    for (uint64_t k = from; k < to; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, baseSize);
        Status st = writer.append(frame.data(), frame.size(), true);
        ASSERT_TRUE(st) << "frame " << k << ": " << st.message;
    }
}

TEST(AviWriter, WritesEveryFrameWithItsExactRate)
{
    ScratchDir dir;
    const std::string path = dir.file("rate.avi");
    auto writer = openWriter(path, rawFormat(64, 48), k15Fps);
    ASSERT_TRUE(writer);
    appendFrames(*writer, 0, 30, 9216);
    EXPECT_EQ(writer->frameCount(), 30u);
    ASSERT_TRUE(writer->close());

    const Readback r = readAvi(path, true, true);
    ASSERT_EQ(r.openError, "");
    EXPECT_EQ(r.loggedErrors, 0);
    EXPECT_EQ(r.headerFrames, 30);
    ASSERT_EQ(r.packets.size(), 30u);
    EXPECT_EQ(checkFrames(r, 9216), "");
    // 1,000,000 / 66666 as the stream's rate, reduced.
    EXPECT_EQ(int64_t(r.timeBaseNum) * 1000000, int64_t(r.timeBaseDen) * 66666);
    EXPECT_EQ(int64_t(r.rateNum) * 66666, int64_t(r.rateDen) * 1000000);
    EXPECT_EQ(int64_t(r.avgRateNum) * 66666, int64_t(r.avgRateDen) * 1000000);

    AviFileInfo info;
    ASSERT_TRUE(probeAvi(path, info));
    EXPECT_EQ(info.frames, 30u);
    EXPECT_EQ(info.microSecPerFrame, 66666u);
    EXPECT_TRUE(info.format.sameStream(rawFormat(64, 48)));
}

}  // namespace
