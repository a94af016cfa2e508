// Opening an existing file never destroys it: a recording of the same format is continued,
// anything else is left byte for byte as it was and the open fails with a message naming it.
#include "avi_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace kelvra::media;
using namespace avitest;

namespace {

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

void recordFrames(const std::string& path, const AviVideoFormat& format, uint64_t frames)
{
    std::unique_ptr<AviWriter> writer;
    ASSERT_TRUE(AviWriter::open(path, format, 66666, {}, writer));
    for (uint64_t k = 0; k < frames; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, 700);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true));
    }
    ASSERT_TRUE(writer->close());
}

struct Refusal {
    std::string name;
    int code;
    std::string messagePart;
};

void expectRefusedAndUntouched(const std::string& path, const AviVideoFormat& format, const Refusal& want)
{
    const std::vector<uint8_t> before = fileBytes(path);
    std::unique_ptr<AviWriter> writer;
    const Status st = AviWriter::open(path, format, 40000, {}, writer);
    EXPECT_EQ(st.code, want.code) << want.name << ": " << st.message;
    EXPECT_FALSE(writer);
    EXPECT_NE(st.message.find("'" + path + "'"), std::string::npos) << want.name << ": " << st.message;
    EXPECT_NE(st.message.find(want.messagePart), std::string::npos) << want.name << ": " << st.message;
    EXPECT_TRUE(fileBytes(path) == before) << want.name << " was changed";
}

TEST(AviExisting, FilesThatAreNotAvisAreLeftAlone)
{
    ScratchDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"notes.avi", "Shopping list: milk, eggs\n"},
        {"tiny.avi", "RIF"},
        {"sound.avi", std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16) + std::string(28, '\1')},
        {"headeronly.avi", std::string("RIFF\x04\x00\x00\x00" "AVI ", 12)},
    };
    for (const auto& [name, bytes] : files) {
        writeFile(dir.file(name), bytes);
        expectRefusedAndUntouched(dir.file(name), rawFormat(64, 48), {name, kNotAvi, "left unchanged"});
        AviFileInfo info;
        EXPECT_FALSE(probeAvi(dir.file(name), info)) << name;
    }
}

TEST(AviExisting, RecordingsOfAnotherFormatAreLeftAlone)
{
    ScratchDir dir;
    const std::string path = dir.file("small.avi");
    recordFrames(path, rawFormat(64, 48), 3);
    expectRefusedAndUntouched(path, rawFormat(32, 24), {"other size", kFormatMismatch, "64x48"});
    expectRefusedAndUntouched(path, mjpegFormat(64, 48), {"other codec", kFormatMismatch, "Motion JPEG"});
    AviVideoFormat withData = rawFormat(64, 48);
    withData.extradata = {1, 2, 3};
    expectRefusedAndUntouched(path, withData, {"other codec data", kFormatMismatch, "other compressor settings"});
    EXPECT_EQ(readAvi(path).packets.size(), 3u);
}

// An AVI made elsewhere, even of the same format, has a layout this writer does not continue.
TEST(AviExisting, ForeignAvisAreLeftAlone)
{
    ScratchDir dir;
    const std::string path = dir.file("foreign.avi");
    const std::string command = "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 3 "
                                "-c:v mjpeg '" + path + "'";
    if (system(command.c_str()) != 0)
        GTEST_SKIP() << "the ffmpeg command is not available";
    AviFileInfo info;
    ASSERT_TRUE(probeAvi(path, info));
    EXPECT_EQ(info.frames, 3u);
    EXPECT_EQ(info.microSecPerFrame, 200000u);
    EXPECT_TRUE(info.format.sameStream(mjpegFormat(64, 48)));
    expectRefusedAndUntouched(path, mjpegFormat(64, 48), {"foreign", kNotAvi, "cannot be continued safely"});
}

}  // namespace
