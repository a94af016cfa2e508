// VideoReader on files of FFmpeg's own muxer: rate, length, frames in order, seeking, and files
// that are missing, not video, truncated or corrupted.
#include "avi_maker.h"

#include <kelvra/media/test_source.h>
#include <kelvra/media/video_reader.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace kelvra::media;
namespace fs = std::filesystem;

namespace {

class VideoReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kelvra-reader-XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

std::vector<char> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

uint64_t stampOf(const Frame& f)
{
    uint64_t seq = 0, ms = 0;
    return readTestStamp(f, seq, ms) ? seq : 0;
}

// Reads a file to its end the way the player does; every call must return, and the calls end.
void readToTheEnd(const std::string& path, int bound)
{
    std::unique_ptr<VideoReader> reader;
    Status st = VideoReader::open(path, reader);
    if (!st) {
        EXPECT_FALSE(st.message.empty());
        return;
    }
    Frame f;
    int calls = 0;
    while ((st = reader->readNext(f)).code != kEndOfStream) {
        ASSERT_LT(++calls, bound) << path;
        if (st)
            EXPECT_EQ(f.data.size(), size_t(reader->width()) * reader->height() * 4);
        else
            EXPECT_FALSE(st.message.empty());
    }
    reader->seekToFrame(reader->frameCount() / 2);
    reader->readNext(f);
}

}  // namespace

TEST_F(VideoReaderTest, ReadsRateLengthAndFramesInOrder)
{
    const std::string path = file("mjpeg.avi");
    ASSERT_TRUE(writeTestAvi(path, Codec::MotionJpeg, 320, 240, 10, 1, 25));
    std::unique_ptr<VideoReader> reader;
    ASSERT_TRUE(VideoReader::open(path, reader));
    EXPECT_EQ(reader->width(), 320);
    EXPECT_EQ(reader->height(), 240);
    EXPECT_DOUBLE_EQ(reader->framesPerSecond(), 10.0);
    EXPECT_EQ(reader->frameCount(), 25);
    EXPECT_DOUBLE_EQ(reader->durationSeconds(), 2.5);
    Frame f;
    for (uint64_t i = 0; i < 25; ++i) {
        ASSERT_TRUE(reader->readNext(f)) << i;
        EXPECT_EQ(f.sequence, i);
        EXPECT_EQ(f.format, PixelFormat::BGRA);
        EXPECT_EQ(stampOf(f), i + 1);
    }
    EXPECT_EQ(reader->readNext(f).code, kEndOfStream);
    EXPECT_EQ(reader->readNext(f).code, kEndOfStream);
}

TEST_F(VideoReaderTest, SeeksExactlyAndClamps)
{
    const std::string path = file("seek.avi");
    ASSERT_TRUE(writeTestAvi(path, Codec::MotionJpeg, 320, 240, 10, 1, 25));
    std::unique_ptr<VideoReader> reader;
    ASSERT_TRUE(VideoReader::open(path, reader));
    Frame f;
    struct Case {
        int64_t target, expected;
    };
    for (Case c : {Case{24, 24}, {0, 0}, {12, 12}, {13, 13}, {3, 3}, {1000, 24}, {-5, 0}, {24, 24}}) {
        ASSERT_TRUE(reader->seekToFrame(c.target)) << c.target;
        ASSERT_TRUE(reader->readNext(f)) << c.target;
        EXPECT_EQ(f.sequence, uint64_t(c.expected));
        EXPECT_EQ(stampOf(f), uint64_t(c.expected + 1));
    }
    // After the last frame: the end, then a seek back works again.
    EXPECT_EQ(reader->readNext(f).code, kEndOfStream);
    ASSERT_TRUE(reader->seekToFrame(20));
    for (uint64_t i = 20; i < 25; ++i) {
        ASSERT_TRUE(reader->readNext(f));
        EXPECT_EQ(stampOf(f), i + 1);
    }
    EXPECT_EQ(reader->readNext(f).code, kEndOfStream);
}

TEST_F(VideoReaderTest, FractionalRateOfMicrosecondsPerFrame)
{
    // 66,666 us per frame, as a 15 fps capture file records it.
    const std::string path = file("rate.avi");
    ASSERT_TRUE(writeTestAvi(path, Codec::MotionJpeg, 160, 120, 1000000, 66666, 5));
    std::unique_ptr<VideoReader> reader;
    ASSERT_TRUE(VideoReader::open(path, reader));
    EXPECT_NEAR(reader->framesPerSecond(), 1000000.0 / 66666, 1e-6);
    EXPECT_EQ(reader->frameCount(), 5);
}

TEST_F(VideoReaderTest, UncompressedBottomUpAndLosslessShowUpright)
{
    for (auto [codec, width] : {std::pair{Codec::Uncompressed, 320}, {Codec::Uncompressed, 162}, {Codec::Lossless, 320}}) {
        SCOPED_TRACE(std::to_string(int(codec)) + " " + std::to_string(width));
        const std::string path = file("file.avi");
        ASSERT_TRUE(writeTestAvi(path, codec, width, 120, 5, 1, 4));
        std::unique_ptr<VideoReader> reader;
        ASSERT_TRUE(VideoReader::open(path, reader));
        EXPECT_EQ(reader->frameCount(), 4);
        EXPECT_EQ(reader->width(), width);
        // The very pixels the test source made, as the display format.
        TestSource source;
        ASSERT_TRUE(source.setFormat({PixelFormat::RGB24, width, 120, {30, 1}}));
        FrameConverter converter;
        for (uint64_t i = 0; i < 4; ++i) {
            Frame original, expected, f;
            ASSERT_TRUE(source.grabFresh(original, std::chrono::milliseconds(100)));
            ASSERT_TRUE(reader->readNext(f));
            EXPECT_EQ(stampOf(f), i + 1);
            ASSERT_TRUE(converter.convert(original, PixelFormat::BGRA, expected));
            const size_t stampBand = size_t(width) * 4 * (120 * 2 / 5);  // capture times differ
            EXPECT_TRUE(std::equal(f.data.begin() + stampBand, f.data.end(), expected.data.begin() + stampBand));
        }
        EXPECT_EQ(reader->readNext(*std::make_unique<Frame>()).code, kEndOfStream);
    }
}

TEST_F(VideoReaderTest, ClearErrorsForFilesItCannotRead)
{
    std::unique_ptr<VideoReader> reader;
    Status st = VideoReader::open(file("missing.avi"), reader);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("does not exist"), std::string::npos);
    EXPECT_FALSE(VideoReader::open(dir_.string(), reader));
    writeAll(file("empty.avi"), {});
    EXPECT_FALSE(VideoReader::open(file("empty.avi"), reader));
    const std::string text = "This is a note, not a film.\n";
    writeAll(file("note.avi"), std::vector<char>(text.begin(), text.end()));
    st = VideoReader::open(file("note.avi"), reader);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("note.avi"), std::string::npos);
    // A sound file: readable, but no pictures.
    std::vector<char> wav(44 + 8000, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&wav[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&wav[at], &v, 2); };
    std::memcpy(&wav[0], "RIFF", 4), put32(4, uint32_t(wav.size() - 8)), std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16), put16(20, 1), put16(22, 1), put32(24, 8000), put32(28, 8000), put16(32, 1), put16(34, 8);
    std::memcpy(&wav[36], "data", 4), put32(40, 8000);
    writeAll(file("sound.wav"), wav);
    st = VideoReader::open(file("sound.wav"), reader);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("no video"), std::string::npos) << st.message;
    EXPECT_FALSE(reader);
}

TEST_F(VideoReaderTest, TruncatedFilesNeverCrashOrHang)
{
    const std::string path = file("whole.avi");
    ASSERT_TRUE(writeTestAvi(path, Codec::MotionJpeg, 160, 120, 10, 1, 12));
    const std::vector<char> whole = readAll(path);
    for (size_t cut : {size_t(4), size_t(12), size_t(100), size_t(300), whole.size() / 4, whole.size() / 2,
                       whole.size() - 200, whole.size() - 1}) {
        SCOPED_TRACE(cut);
        writeAll(file("cut.avi"), std::vector<char>(whole.begin(), whole.begin() + std::ptrdiff_t(cut)));
        readToTheEnd(file("cut.avi"), 100);
    }
    const std::string rawPath = file("raw.avi");
    ASSERT_TRUE(writeTestAvi(rawPath, Codec::Uncompressed, 160, 120, 10, 1, 6));
    const std::vector<char> raw = readAll(rawPath);
    writeAll(file("rawcut.avi"), std::vector<char>(raw.begin(), raw.begin() + std::ptrdiff_t(raw.size() * 2 / 3)));
    readToTheEnd(file("rawcut.avi"), 100);
}

TEST_F(VideoReaderTest, CorruptedFilesNeverCrashOrHang)
{
    const std::string path = file("whole.avi");
    ASSERT_TRUE(writeTestAvi(path, Codec::MotionJpeg, 160, 120, 10, 1, 12));
    const std::vector<char> whole = readAll(path);
    std::mt19937 random(20261206);
    for (int round = 0; round < 40; ++round) {
        std::vector<char> bytes = whole;
        // Early rounds hit the headers, later ones anywhere.
        const size_t span = round < 20 ? std::min<size_t>(bytes.size(), 2048) : bytes.size();
        for (int n = 0; n < 1 + round % 8; ++n)
            bytes[random() % span] = char(random());
        writeAll(file("bad.avi"), bytes);
        SCOPED_TRACE(round);
        readToTheEnd(file("bad.avi"), 100);
    }
}
