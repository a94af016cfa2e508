// The capture file's writer: what it writes reads back through FFmpeg's demuxer, frame for
// frame, after every append, across RIFF segments and after reopening.
#include "avi_test_support.h"

#include <filesystem>
#include <fstream>

using namespace avitest;

namespace {

// 1,000,000 / us as a reduced fraction; a rounded frame rate would not match.
bool isRate(Ratio r, uint32_t us) { return int64_t(r.num) * us == int64_t(r.den) * 1000000; }

// After every single append the file reads back whole, keyframe flags included, through the
// OpenDML indexes and through idx1, while the slack grows, idx1 moves and the recording crosses
// into AVIX segments. The codec has frames between keyframes: the demuxer marks every frame of
// an intra-only one such as Motion JPEG as a keyframe, whatever the index says.
TEST(AviWriter, FileIsCompleteAfterEveryAppend)
{
    ScratchDir dir;
    const std::string path = dir.file("every.avi");
    AviVideoFormat format = mjpegFormat(320, 240);
    format.compression = format.handler = fourcc('F', 'M', 'P', '4');
    auto writer = openWriter(path, format, fastOptions(), 40000);
    ASSERT_TRUE(writer);
    constexpr size_t kBase = 9000, kFrames = 300;
    for (uint64_t k = 0; k < kFrames; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), k % 4 == 0));
        const Readback r = readAvi(path);
        ASSERT_TRUE(r.openError.empty() && r.loggedErrors == 0 && r.packets.size() == k + 1 &&
                    r.headerFrames == int64_t(k + 1) && r.indexEntries == int(k + 1))
            << "after frame " << k << ": " << describe(r);
        if (k % 16 != 0 && k + 1 != kFrames)
            continue;
        for (bool odml : {true, false}) {
            const Readback read = odml ? r : readAvi(path, false);
            ASSERT_TRUE(read.openError.empty() && read.packets.size() == k + 1) << "after frame " << k << ": " << describe(read);
            ASSERT_EQ(checkFrames(read, kBase), "") << "after frame " << k;
            // Past the first RIFF, idx1 has no entries and the demuxer marks what it finds as keyframes.
            for (size_t i = 0; i < (odml ? k + 1 : size_t(read.indexEntries)); ++i)
                ASSERT_EQ(read.keyframes[i], i % 4 == 0) << "frame " << i << " after frame " << k << (odml ? "" : " (idx1)");
        }
    }
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(checkRecording(path, kFrames, kBase), "");
}

// A recording continues where it stopped, in the first RIFF and past it, at the exact rate
// given at the last open, which applies to the whole stream.
TEST(AviWriter, ReopeningContinuesTheRecordingAtItsExactRate)
{
    ScratchDir dir;
    const std::string path = dir.file("continue.avi");
    constexpr size_t kBase = 30000;
    for (uint64_t session = 0, written = 0; session < 5; ++session, written += 17) {
        SCOPED_TRACE("session " + std::to_string(session));
        const uint32_t us = kUs15Fps + uint32_t(session);
        auto writer = openWriter(path, mjpegFormat(160, 120), fastOptions(), us);
        ASSERT_TRUE(writer);
        ASSERT_EQ(writer->frameCount(), written);
        ASSERT_TRUE(appendFrames(*writer, written, written + 17, kBase));
        // Odd sessions end without close(), as when the writer's owner is destroyed.
        ASSERT_TRUE(session % 2 || writer->close());
        ASSERT_EQ(checkRecording(path, written + 17, kBase), "");
        const Readback r = readAvi(path, true, true);
        EXPECT_TRUE(isRate({r.timeBase.den, r.timeBase.num}, us) && isRate(r.rate, us) && isRate(r.avgRate, us));
        // idx1 covers the first RIFF; the rest is found by scanning
        EXPECT_EQ(readAvi(path, false).packets.size(), written + 17);
        AviFileInfo info;
        ASSERT_TRUE(probeAvi(path, info));
        EXPECT_EQ(std::pair(info.frames, info.microSecPerFrame), std::pair(written + 17, us));
        EXPECT_TRUE(info.format.sameStream(mjpegFormat(160, 120)));
    }
}

// A recording cut short (a copy stopped part way, a disk that lost its tail) is continued and
// closed without a new frame: by then the super index, the standard indexes, idx1 and every
// count name the frames that are left, for readers that trust any one of them.
TEST(AviWriter, ContinuingACutRecordingBringsEveryIndexInLineBeforeTheNextFrame)
{
    ScratchDir dir;
    const std::string path = dir.file("cut.avi");
    constexpr size_t kBase = 3700, kCut = 200001;
    ASSERT_EQ(record(path, 0, 95, kBase), "");
    std::filesystem::resize_file(path, kCut);
    auto writer = openWriter(path, mjpegFormat(160, 120));
    ASSERT_TRUE(writer);
    const uint64_t left = writer->frameCount();
    ASSERT_TRUE(left > 40 && left < 60) << left;
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(checkRecording(path, left, kBase), "");
    std::string fault;
    EXPECT_EQ(superIndexPackets(path, fault).size(), left) << fault;
    EXPECT_EQ(readAvi(path, false).packets.size(), left);
}

// Opens and appends that cannot work fail with a clear error; an empty file is started afresh.
TEST(AviWriter, BadOpensAndAppendsFailClearly)
{
    ScratchDir dir;
    auto busy = openWriter(dir.file("busy.avi"), rawFormat(16, 16), {});
    ASSERT_TRUE(busy);
    const struct { std::string path; uint32_t us; int code; std::vector<std::string> messageParts; } cases[] = {
        {dir.file("zero.avi"), 0, -EINVAL, {}},
        {dir.file("busy.avi"), kUs15Fps, -EBUSY, {dir.file("busy.avi")}},  // a second recording into it
        {dir.file("no/such/folder/x.avi"), kUs15Fps, -ENOENT, {"does not exist", dir.file("no/such/folder")}},
        {dir.path, kUs15Fps, -EISDIR, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::unique_ptr<AviWriter> writer;
        const Status st = AviWriter::open(c.path, rawFormat(16, 16), c.us, {}, writer);
        EXPECT_EQ(st.code, c.code) << st.message;
        EXPECT_FALSE(writer);
        for (const std::string& part : c.messageParts)
            EXPECT_NE(st.message.find(part), std::string::npos) << st.message;
    }

    const std::string path = dir.file("gone.avi");
    std::ofstream{path};
    auto writer = openWriter(path, rawFormat(16, 16), {});
    ASSERT_TRUE(writer);
    const uint8_t byte = 0;
    EXPECT_EQ(writer->append(&byte, 0, true).code, -EINVAL);
    EXPECT_EQ(writer->setMicroSecPerFrame(0).code, -EINVAL);
    ASSERT_TRUE(appendFrames(*writer, 0, 2, 768));
    EXPECT_EQ(checkRecording(path, 2, 768), "");
    // Uncompressed frames decode without complaint only if the header describes them rightly.
    EXPECT_EQ(readAvi(path, true, true).loggedErrors, 0);
    ASSERT_EQ(unlink(path.c_str()), 0);
    const Status st = appendFrames(*writer, 2, 3, 768);
    EXPECT_EQ(st.code, -ENOENT);
    EXPECT_NE(st.message.find(path), std::string::npos) << st.message;
    EXPECT_FALSE(writer->close());
    ASSERT_TRUE(busy->close());
    EXPECT_FALSE(busy->append(&byte, 1, true));
}

// idx1 holds at most 65,536 entries; a recording of more small frames goes on in AVIX
// segments long before the RIFF limit, and every frame stays readable either way.
TEST(AviWriter, ManySmallFramesGoOnPastTheIdx1Capacity)
{
    ScratchDir dir;
    const std::string path = dir.file("many.avi");
    auto writer = openWriter(path, mjpegFormat(16, 16), fastOptions(AviWriterOptions().riffLimit), 40000);
    ASSERT_TRUE(writer);
    constexpr uint64_t kFrames = 66000;
    std::vector<uint8_t> frame(40);
    for (uint64_t k = 0; k < kFrames; ++k) {
        frame[0] = uint8_t(k), frame[1] = uint8_t(k >> 8), frame[2] = uint8_t(k >> 16);
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
    // 48 bytes of chunk, 8 of standard index and 16 of idx1 a frame, and room for the next entries.
    EXPECT_LT(fileBytes(path).size(), kFrames * 96) << "the file should not carry much unused space";
}

}  // namespace
