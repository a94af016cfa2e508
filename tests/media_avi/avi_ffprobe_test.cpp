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

std::map<std::string, std::string> ffprobe(const std::string& path)
{
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=codec_name,width,height,nb_frames,nb_read_frames,r_frame_rate "
                                "-of default=nw=1 '" + path + "' 2>&1";
    std::map<std::string, std::string> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        const size_t eq = text.find('=');
        out[eq == std::string::npos ? "message" : text.substr(0, eq)] += eq == std::string::npos ? text : text.substr(eq + 1);
    }
    if (pclose(pipe) != 0)
        out["exit"] = "failed";
    return out;
}

TEST(AviFfprobe, EveryCompressorsFramesDecode)
{
    if (system("ffprobe -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffprobe command is not available";
    ScratchDir dir;
    TestSource source;
    StreamFormat stream;
    stream.format = PixelFormat::YUYV422;
    stream.width = 320;
    stream.height = 240;
    ASSERT_TRUE(source.setFormat(stream));
    const std::map<Codec, std::string> names = {
        {Codec::Uncompressed, "rawvideo"}, {Codec::MotionJpeg, "mjpeg"}, {Codec::Lossless, "ffv1"}};
    for (const CodecInfo& codec : availableCodecs()) {
        const std::string path = dir.file(codec.name.substr(0, 4) + ".avi");
        std::unique_ptr<Encoder> encoder;
        ASSERT_TRUE(Encoder::create(codec.codec, 320, 240, 80, encoder));
        AviWriterOptions options;
        options.syncToDisk = false;
        options.riffLimit = 1 << 20;  // the uncompressed file crosses into AVIX segments
        std::unique_ptr<AviWriter> writer;
        ASSERT_TRUE(AviWriter::open(path, encoder->format(), 1000000 / 15, options, writer));
        for (int i = 0; i < 25; ++i) {
            Frame frame;
            std::vector<uint8_t> packet;
            bool keyframe = true;
            ASSERT_TRUE(source.grabFresh(frame, std::chrono::milliseconds(1000)));
            ASSERT_TRUE(encoder->encode(frame, packet, keyframe));
            ASSERT_TRUE(writer->append(packet.data(), packet.size(), keyframe));
        }
        ASSERT_TRUE(writer->close());
        std::map<std::string, std::string> probe = ffprobe(path);
        EXPECT_EQ(probe["codec_name"], names.at(codec.codec)) << codec.name;
        EXPECT_EQ(probe["width"], "320");
        EXPECT_EQ(probe["height"], "240");
        EXPECT_EQ(probe["nb_frames"], "25") << codec.name;
        EXPECT_EQ(probe["nb_read_frames"], "25") << codec.name;
        EXPECT_EQ(probe["r_frame_rate"], "500000/33333") << codec.name;
        EXPECT_EQ(probe["message"], "") << codec.name;
        EXPECT_EQ(probe["exit"], "") << codec.name;
    }
}

}  // namespace
