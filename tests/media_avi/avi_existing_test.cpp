// Opening an existing file never destroys it: a recording of the same format is continued,
// anything else is left byte for byte as it was and the open fails with a message naming it.
#include "avi_test_support.h"

#include <sys/stat.h>

#include <fstream>

using namespace avitest;

namespace {

void expectRefusedAndUntouched(const std::string& path, const AviVideoFormat& format, int code,
                               const std::string& messagePart)
{
    SCOPED_TRACE(path + " (" + messagePart + ")");
    const std::vector<uint8_t> before = fileBytes(path);
    std::unique_ptr<AviWriter> writer;
    const Status st = AviWriter::open(path, format, 40000, {}, writer);
    EXPECT_EQ(st.code, code) << st.message;
    EXPECT_FALSE(writer);
    EXPECT_NE(st.message.find("'" + path + "'"), std::string::npos) << st.message;
    EXPECT_NE(st.message.find(messagePart), std::string::npos) << st.message;
    EXPECT_TRUE(fileBytes(path) == before) << "the file was changed";
}

// Files that are not AVIs, recordings of another format, size or compressor settings, and a
// foreign AVI (made by the ffmpeg command, checked where it is installed).
TEST(AviExisting, FilesThatCannotBeContinuedAreLeftAlone)
{
    ScratchDir dir;
    const std::pair<std::string, std::string> files[] = {
        {"notes.avi", "Shopping list: milk, eggs\n"}, {"tiny.avi", "RIF"},
        {"sound.avi", std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16) + std::string(28, '\1')},
        {"headeronly.avi", std::string("RIFF\x04\x00\x00\x00" "AVI ", 12)},
    };
    for (const auto& [name, bytes] : files) {
        std::ofstream(dir.file(name), std::ios::binary) << bytes;
        expectRefusedAndUntouched(dir.file(name), rawFormat(64, 48), kNotAvi, "left unchanged");
        AviFileInfo info;
        EXPECT_FALSE(probeAvi(dir.file(name), info)) << name;
    }

    // Names that are not ordinary files are refused at once: a FIFO would block a reader forever.
    const std::string fifo = dir.file("pipe.avi");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& special : {fifo, std::string("/dev/null")}) {
        std::unique_ptr<AviWriter> refused;
        EXPECT_EQ(AviWriter::open(special, rawFormat(64, 48), 40000, {}, refused).code, -EINVAL) << special;
        AviFileInfo info;
        EXPECT_EQ(probeAvi(special, info).code, -EINVAL) << special;
    }

    const std::string path = dir.file("small.avi");
    auto writer = openWriter(path, rawFormat(64, 48), {});
    ASSERT_TRUE(writer && appendFrames(*writer, 0, 3, 700) && writer->close());
    AviVideoFormat withData = rawFormat(64, 48);
    withData.extradata = {1, 2, 3};
    expectRefusedAndUntouched(path, rawFormat(32, 24), kFormatMismatch, "64x48");
    expectRefusedAndUntouched(path, mjpegFormat(64, 48), kFormatMismatch, "Motion JPEG");
    expectRefusedAndUntouched(path, withData, kFormatMismatch, "other compressor settings");
    EXPECT_EQ(checkRecording(path, 3, 700), "");

    // An AVI made elsewhere, even of the same format, has a layout this writer does not continue.
    const std::string foreign = dir.file("foreign.avi");
    const std::string command = "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 3 "
                                "-c:v mjpeg '" + foreign + "'";
    if (system(command.c_str()) != 0)
        GTEST_SKIP() << "the ffmpeg command is not available";
    AviFileInfo info;
    ASSERT_TRUE(probeAvi(foreign, info));
    EXPECT_EQ(std::pair(info.frames, info.microSecPerFrame), std::pair(uint64_t(3), 200000u));
    EXPECT_TRUE(info.format.sameStream(mjpegFormat(64, 48)));
    expectRefusedAndUntouched(foreign, mjpegFormat(64, 48), kNotAvi, "cannot be continued safely");
}

}  // namespace
