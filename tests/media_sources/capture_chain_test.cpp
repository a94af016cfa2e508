// The whole capture chain as the program uses it: test source -> compressor -> capture file ->
// the player's reader. Every codec's frames come back upright, in order, none lost.
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>
#include <kelvra/media/video_reader.h>

#include <gtest/gtest.h>

#include <filesystem>

using namespace kelvra::media;
using namespace std::chrono_literals;

TEST(CaptureChain, EveryCodecReadsBackInOrder)
{
    char pattern[] = "/tmp/kelvra-chain-XXXXXX";
    const std::filesystem::path dir = mkdtemp(pattern);
    constexpr uint32_t kMicroSecPerFrame = 1000000 / 15;
    constexpr int kFrames = 6;
    for (const CodecInfo& codec : availableCodecs()) {
        for (int width : {320, 162}) {
            SCOPED_TRACE(codec.name + " " + std::to_string(width));
            const std::string path = (dir / (std::to_string(int(codec.codec)) + "_" + std::to_string(width) + ".avi")).string();
            TestSource source;
            ASSERT_TRUE(source.setFormat({PixelFormat::YUYV422, width, 120, {15, 1}}));
            std::unique_ptr<Encoder> encoder;
            ASSERT_TRUE(Encoder::create(codec.codec, width, 120, 30, encoder));
            std::unique_ptr<AviWriter> writer;
            AviWriterOptions options;
            options.syncToDisk = false;
            Status st = AviWriter::open(path, encoder->format(), kMicroSecPerFrame, options, writer);
            ASSERT_TRUE(st) << st.message;
            for (int i = 0; i < kFrames; ++i) {
                Frame frame;
                std::vector<uint8_t> data;
                bool key = false;
                ASSERT_TRUE(source.grabFresh(frame, 100ms));
                ASSERT_TRUE(encoder->encode(frame, data, key));
                st = writer->append(data.data(), data.size(), key);
                ASSERT_TRUE(st) << st.message;
            }
            ASSERT_TRUE(writer->close());

            std::unique_ptr<VideoReader> reader;
            st = VideoReader::open(path, reader);
            ASSERT_TRUE(st) << st.message;
            EXPECT_EQ(reader->frameCount(), kFrames);
            EXPECT_EQ(reader->width(), width);
            EXPECT_NEAR(reader->framesPerSecond(), 1e6 / kMicroSecPerFrame, 1e-3);
            Frame f;
            for (uint64_t i = 1; i <= kFrames; ++i) {
                ASSERT_TRUE(reader->readNext(f));
                uint64_t seq = 0, ms = 0;
                ASSERT_TRUE(readTestStamp(f, seq, ms)) << "frame " << i;  // upright and intact
                EXPECT_EQ(seq, i);
            }
            EXPECT_EQ(reader->readNext(f).code, kEndOfStream);
        }
    }
    std::filesystem::remove_all(dir);
}
