// End to end: frames from the built-in test source, compressed by each of the program's
// compressors, written by the capture-file writer and checked by the `ffprobe` command, which
// decodes every frame.
#include "avi_test_support.h"

#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <cstdio>
#include <map>

using namespace avitest;

namespace {

// What ffprobe prints, errors included, and whether it failed.
std::string ffprobe(const std::string& path)
{
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=codec_name,width,height,nb_frames,nb_read_frames,r_frame_rate "
                                "-of default=nw=1 '" + path + "' 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (char line[512]; pipe && fgets(line, sizeof line, pipe);)
        out += line;
    return !pipe || pclose(pipe) != 0 ? out + "(ffprobe failed)" : out;
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
        EXPECT_EQ(ffprobe(path), "codec_name=" + names.at(codec.codec) +
                                     "\nwidth=320\nheight=240\nr_frame_rate=500000/33333\nnb_frames=25\nnb_read_frames=25\n");
    }
}

}  // namespace
