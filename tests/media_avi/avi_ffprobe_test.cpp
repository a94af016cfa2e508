// End to end: frames from the built-in test source, compressed by each of the program's
// compressors, written by the capture-file writer and checked by the `ffprobe` command, which
// decodes every frame.
#include "avi_test_support.h"

#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace kelvra::media;
using namespace avitest;

namespace {

// ffprobe's key=value lines; anything else it prints goes under "message".
std::map<std::string, std::string> ffprobe(const std::string& path)
{
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=codec_name,width,height,nb_frames,nb_read_frames,r_frame_rate "
                                "-of default=nw=1 '" + path + "' 2>&1";
    std::map<std::string, std::string> out;
    FILE* pipe = popen(command.c_str(), "r");
    for (char line[512]; pipe && fgets(line, sizeof line, pipe);) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        const size_t eq = text.find('=');
        out[eq == std::string::npos ? "message" : text.substr(0, eq)] += text.substr(eq == std::string::npos ? 0 : eq + 1);
    }
    if (!pipe || pclose(pipe) != 0)
        out["exit"] = "failed";
    return out;
}

TEST(AviFfprobe, EveryCompressorsFramesDecode)
{
    if (system("ffprobe -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffprobe command is not available";
    ScratchDir dir;
    TestSource source;
    ASSERT_TRUE(source.setFormat({PixelFormat::YUYV422, 320, 240, {}}));
    const std::map<Codec, std::string> names = {
        {Codec::Uncompressed, "rawvideo"}, {Codec::MotionJpeg, "mjpeg"}, {Codec::Lossless, "ffv1"}};
    for (const CodecInfo& codec : availableCodecs()) {
        SCOPED_TRACE(codec.name);
        const std::string path = dir.file(codec.name.substr(0, 4) + ".avi");
        std::unique_ptr<Encoder> encoder;
        ASSERT_TRUE(Encoder::create(codec.codec, 320, 240, 80, encoder));
        // The uncompressed file crosses into AVIX segments.
        auto writer = openWriter(path, encoder->format(), fastOptions(), 1000000 / 15);
        for (int i = 0; writer && i < 25; ++i) {
            Frame frame;
            std::vector<uint8_t> packet;
            bool keyframe = true;
            ASSERT_TRUE(source.grabFresh(frame, std::chrono::milliseconds(1000)));
            ASSERT_TRUE(encoder->encode(frame, packet, keyframe));
            ASSERT_TRUE(writer->append(packet.data(), packet.size(), keyframe));
        }
        ASSERT_TRUE(writer && writer->close());
        const std::map<std::string, std::string> want = {
            {"codec_name", names.at(codec.codec)}, {"width", "320"}, {"height", "240"}, {"nb_frames", "25"},
            {"nb_read_frames", "25"}, {"r_frame_rate", "500000/33333"}};
        EXPECT_EQ(ffprobe(path), want);
    }
}

}  // namespace
