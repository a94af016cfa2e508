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

namespace {

struct Expect {
    size_t frames;
    size_t baseSize;
};

std::string describe(const Readback& r)
{
    return "open='" + r.openError + "' errors=" + std::to_string(r.loggedErrors) +
           " packets=" + std::to_string(r.packets.size()) + " header=" + std::to_string(r.headerFrames) +
           " index=" + std::to_string(r.indexEntries);
}

// After every single append the file reads back whole, through the OpenDML indexes and through
// idx1, while the slack grows, idx1 moves and the recording crosses into AVIX segments.
TEST(AviWriter, FileIsCompleteAfterEveryAppend)
{
    ScratchDir dir;
    const std::string path = dir.file("every.avi");
    AviWriterOptions options;
    options.syncToDisk = false;
    options.riffLimit = 1 << 20;
    auto writer = openWriter(path, mjpegFormat(320, 240), 40000, options);
    ASSERT_TRUE(writer);
    constexpr size_t kBase = 9000, kFrames = 300;
    for (uint64_t k = 0; k < kFrames; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true));
        const Readback r = readAvi(path);
        ASSERT_TRUE(r.openError.empty() && r.loggedErrors == 0 && r.packets.size() == k + 1 &&
                    r.headerFrames == int64_t(k + 1) && r.indexEntries == int(k + 1))
            << "after frame " << k << ": " << describe(r);
        if (k % 16 == 0 || k + 1 == kFrames) {
            ASSERT_EQ(checkFrames(r, kBase), "") << "after frame " << k;
            const Readback old = readAvi(path, false);
            ASSERT_TRUE(old.openError.empty() && old.packets.size() == k + 1) << "idx1 after frame " << k << ": " << describe(old);
            ASSERT_EQ(checkFrames(old, kBase), "");
        }
    }
    ASSERT_TRUE(writer->close());
    const Readback r = readAvi(path);
    EXPECT_EQ(r.packets.size(), kFrames);
    EXPECT_EQ(checkFrames(r, kBase), "");
    EXPECT_EQ(r.loggedErrors, 0);
}

// A recording continues where it stopped, in the first RIFF and past it; the time per frame
// given at the last open applies to the whole stream.
TEST(AviWriter, ReopeningContinuesTheRecording)
{
    ScratchDir dir;
    const std::string path = dir.file("continue.avi");
    AviWriterOptions options;
    options.syncToDisk = false;
    options.riffLimit = 1 << 20;
    constexpr size_t kBase = 30000;
    uint64_t written = 0;
    for (int session = 0; session < 5; ++session) {
        const uint32_t us = 100000 + session;
        auto writer = openWriter(path, mjpegFormat(160, 120), us, options);
        ASSERT_TRUE(writer);
        ASSERT_EQ(writer->frameCount(), written);
        ASSERT_EQ(writer->microSecPerFrame(), us);
        appendFrames(*writer, written, written + 17, kBase);
        written += 17;
        if (session % 2 == 0)
            ASSERT_TRUE(writer->close());
        // otherwise the writer goes away without close(), as when its owner is destroyed
        const Readback r = readAvi(path, true, true);
        ASSERT_EQ(r.packets.size(), written) << describe(r);
        ASSERT_EQ(checkFrames(r, kBase), "");
        EXPECT_EQ(int64_t(r.rateNum) * us, int64_t(r.rateDen) * 1000000);
    }
    AviFileInfo info;
    ASSERT_TRUE(probeAvi(path, info));
    EXPECT_EQ(info.frames, written);
    EXPECT_EQ(info.microSecPerFrame, 100004u);
    const Readback old = readAvi(path, false);  // idx1 covers the first RIFF; the rest is found by scanning
    EXPECT_EQ(old.packets.size(), written);
}

TEST(AviWriter, KeepsKeyframeFlagsInBothIndexes)
{
    ScratchDir dir;
    const std::string path = dir.file("keys.avi");
    // A codec with frames between keyframes (the demuxer marks every frame of an intra-only
    // codec such as Motion JPEG as a keyframe, whatever the index says).
    AviVideoFormat format = mjpegFormat(32, 32);
    format.compression = format.handler = fourcc('F', 'M', 'P', '4');
    auto writer = openWriter(path, format, 40000);
    ASSERT_TRUE(writer);
    for (uint64_t k = 0; k < 12; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, 500);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), k % 4 == 0));
    }
    ASSERT_TRUE(writer->close());
    for (bool odml : {true, false}) {
        const Readback r = readAvi(path, odml);
        ASSERT_EQ(r.packets.size(), 12u);
        for (size_t k = 0; k < 12; ++k)
            EXPECT_EQ(r.keyframes[k], k % 4 == 0) << "frame " << k << (odml ? " (OpenDML)" : " (idx1)");
    }
}

TEST(AviWriter, RefusesEmptyFramesAndAZeroRate)
{
    ScratchDir dir;
    std::unique_ptr<AviWriter> writer;
    EXPECT_EQ(AviWriter::open(dir.file("zero.avi"), rawFormat(8, 8), 0, {}, writer).code, -EINVAL);
    writer = openWriter(dir.file("a.avi"), rawFormat(8, 8), 1000);
    ASSERT_TRUE(writer);
    const uint8_t byte = 0;
    EXPECT_EQ(writer->append(&byte, 0, true).code, -EINVAL);
    EXPECT_EQ(writer->setMicroSecPerFrame(0).code, -EINVAL);
    ASSERT_TRUE(writer->close());
    EXPECT_FALSE(writer->append(&byte, 1, true));
}

TEST(AviWriter, AnEmptyFileIsStartedAfresh)
{
    ScratchDir dir;
    const std::string path = dir.file("empty.avi");
    FILE* f = fopen(path.c_str(), "w");
    fclose(f);
    auto writer = openWriter(path, rawFormat(16, 16), 66666);
    ASSERT_TRUE(writer);
    appendFrames(*writer, 0, 3, 768);
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(readAvi(path).packets.size(), 3u);
}

TEST(AviWriter, ASecondRecordingIntoTheSameFileIsRefused)
{
    ScratchDir dir;
    const std::string path = dir.file("busy.avi");
    auto first = openWriter(path, rawFormat(16, 16), 66666);
    ASSERT_TRUE(first);
    std::unique_ptr<AviWriter> second;
    const Status st = AviWriter::open(path, rawFormat(16, 16), 66666, {}, second);
    EXPECT_EQ(st.code, -EBUSY);
    EXPECT_NE(st.message.find(path), std::string::npos) << st.message;
}

TEST(AviWriter, MissingFolderAndFolderPathFailClearly)
{
    ScratchDir dir;
    std::unique_ptr<AviWriter> writer;
    const std::string missing = dir.file("no/such/folder/x.avi");
    Status st = AviWriter::open(missing, rawFormat(16, 16), 66666, {}, writer);
    EXPECT_EQ(st.code, -ENOENT);
    EXPECT_NE(st.message.find("does not exist"), std::string::npos) << st.message;
    EXPECT_NE(st.message.find(dir.file("no/such/folder")), std::string::npos) << st.message;
    st = AviWriter::open(dir.path(), rawFormat(16, 16), 66666, {}, writer);
    EXPECT_EQ(st.code, -EISDIR);
    EXPECT_FALSE(writer);
}

TEST(AviWriter, AFileDeletedWhileRecordingStopsTheRecording)
{
    ScratchDir dir;
    const std::string path = dir.file("gone.avi");
    auto writer = openWriter(path, rawFormat(16, 16), 66666);
    ASSERT_TRUE(writer);
    appendFrames(*writer, 0, 2, 768);
    ASSERT_EQ(unlink(path.c_str()), 0);
    const std::vector<uint8_t> frame = testFrame(2, 768);
    const Status st = writer->append(frame.data(), frame.size(), true);
    EXPECT_EQ(st.code, -ENOENT);
    EXPECT_NE(st.message.find(path), std::string::npos) << st.message;
    EXPECT_FALSE(writer->close());
}

}  // namespace

namespace {

// idx1 holds at most 65,536 entries; a recording of more small frames goes on in AVIX
// segments long before the RIFF limit, and every frame stays readable either way.
TEST(AviWriter, ManySmallFramesGoOnPastTheIdx1Capacity)
{
    ScratchDir dir;
    const std::string path = dir.file("many.avi");
    AviWriterOptions options;
    options.syncToDisk = false;
    auto writer = openWriter(path, mjpegFormat(16, 16), 40000, options);
    ASSERT_TRUE(writer);
    constexpr uint64_t kFrames = 66000;
    std::vector<uint8_t> frame(40);
    for (uint64_t k = 0; k < kFrames; ++k) {
        frame[0] = uint8_t(k);
        frame[1] = uint8_t(k >> 8);
        frame[2] = uint8_t(k >> 16);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true)) << k;
    }
    ASSERT_TRUE(writer->close());
    for (bool odml : {true, false}) {
        const Readback r = readAvi(path, odml);
        ASSERT_EQ(r.packets.size(), kFrames) << describe(r);
        EXPECT_EQ(r.headerFrames, int64_t(kFrames));
        for (uint64_t k = 0; k < kFrames; k += 997)
            ASSERT_EQ(r.packets[k][0] | r.packets[k][1] << 8 | r.packets[k][2] << 16, int(k));
    }
    const std::vector<uint8_t> bytes = fileBytes(path);
    // 48 bytes of chunk, 8 of standard index and 16 of idx1 a frame, and room for the next entries.
    EXPECT_LT(bytes.size(), kFrames * 96) << "the file should not carry much unused space";
}

}  // namespace
