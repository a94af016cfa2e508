// VideoReader on files of FFmpeg's own AVI muxer and of our AVI writer fed by the compressors
// (the whole capture chain): rate, length, frames in order and upright, seeking, and files that
// are missing, not video, truncated or corrupted.
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/stored_frames.h>
#include <kelvra/media/test_source.h>
#include <kelvra/media/video_reader.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace kelvra::media;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMicroSecPerFrame = 66666;  // 15 fps as a capture file records it

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

uint64_t stampOf(const Frame& f)
{
    uint64_t seq = 0, ms = 0;
    return readTestStamp(f, seq, ms) ? seq : 0;
}

// A file as the program records one: test-source pictures (capture numbers 1..frames) through our
// compressors and AVI writer.
bool writeCaptureFile(const std::string& path, Codec codec, PixelFormat sourceFormat, int width, int height,
                      uint32_t microSecPerFrame, int frames)
{
    TestSource source;
    std::unique_ptr<Encoder> encoder;
    std::unique_ptr<AviWriter> writer;
    AviWriterOptions options;
    options.syncToDisk = false;
    if (!source.setFormat({sourceFormat, width, height, {30, 1}}) ||
        !Encoder::create(codec, width, height, 75, encoder) ||
        !AviWriter::open(path, encoder->format(), microSecPerFrame, options, writer))
        return false;
    Frame picture;
    std::vector<uint8_t> data;
    bool key = false;
    for (int i = 0; i < frames; ++i)
        if (!source.grabFresh(picture, std::chrono::milliseconds(100)) || !encoder->encode(picture, data, key) ||
            !writer->append(data.data(), data.size(), key))
            return false;
    return bool(writer->close());
}

// The same pictures laid out by another writer: the ffmpeg command's own AVI muxer, copying the
// stream of RGB pictures at 1e6 / microSecPerFrame frames per second.
bool writeFfmpegAvi(const std::string& path, Codec codec, int width, int height, uint32_t microSecPerFrame, int frames)
{
    const std::string ours = path + ".ours";
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + ours + "' -c copy '" + path + "'";
    return writeCaptureFile(ours, codec, PixelFormat::RGB24, width, height, microSecPerFrame, frames) &&
           std::system(command.c_str()) == 0 && fs::remove(ours);
}

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

class CaptureChain : public VideoReaderTest {};

// Reads a file to its end the way the player does; every call must return, and the calls end.
void readToTheEnd(const std::string& path)
{
    std::unique_ptr<VideoReader> reader;
    Status st = VideoReader::open(path, reader);
    if (!st) {
        EXPECT_FALSE(st.message.empty());
        return;
    }
    Frame f;
    for (int calls = 0; (st = reader->readNext(f)).code != kEndOfStream;) {
        ASSERT_LT(++calls, 100) << path;
        if (st)
            EXPECT_EQ(f.data.size(), size_t(reader->width()) * reader->height() * 4);
        else
            EXPECT_FALSE(st.message.empty());
    }
    reader->seekToFrame(reader->frameCount() / 2);
    reader->readNext(f);
}

// At the end, then seeks anywhere, past either end (clamped) and back after the end, each exact.
void checkSeeking(VideoReader& reader, int64_t frames)
{
    Frame f;
    EXPECT_EQ(reader.readNext(f).code, kEndOfStream);
    EXPECT_EQ(reader.readNext(f).code, kEndOfStream);
    const int64_t last = frames - 1, middle = frames / 2;
    for (auto [target, expected] : {std::pair<int64_t, int64_t>{last, last}, {0, 0}, {middle, middle},
                                    {middle + 1, middle + 1}, {3, 3}, {1000, last}, {-5, 0}, {last, last}}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(reader.seekToFrame(target));
        ASSERT_TRUE(reader.readNext(f));
        EXPECT_EQ(f.sequence, uint64_t(expected));
        EXPECT_EQ(stampOf(f), uint64_t(expected + 1));
    }
    EXPECT_EQ(reader.readNext(f).code, kEndOfStream);
    ASSERT_TRUE(reader.seekToFrame(last - 3));
    for (int64_t i = last - 3; i <= last; ++i) {
        ASSERT_TRUE(reader.readNext(f));
        EXPECT_EQ(stampOf(f), uint64_t(i + 1));
    }
    EXPECT_EQ(reader.readNext(f).code, kEndOfStream);
}

}  // namespace

// Every codec at widths on and off swscale's SIMD blocks, through either writer: the exact rate and
// length, every frame in order and upright, (lossless codecs) the very pixels the test source made,
// and exact seeks.
TEST_F(CaptureChain, EveryCodecReadsBackUprightInOrderAndSeeks)
{
    constexpr int kFrames = 10, kHeight = 120;
    for (bool ours : {false, true})
        for (const CodecInfo& codec : availableCodecs())
            for (int width : {320, 162}) {
                SCOPED_TRACE(std::string(ours ? "our writer, " : "FFmpeg's muxer, ") + codec.name + ", " +
                             std::to_string(width));
                const std::string path = file("chain.avi");
                fs::remove(path);
                // Our files from YUYV pictures as cameras send them, FFmpeg's from RGB to compare pixels.
                ASSERT_TRUE(ours ? writeCaptureFile(path, codec.codec, PixelFormat::YUYV422, width, kHeight,
                                                    kMicroSecPerFrame, kFrames)
                                 : writeFfmpegAvi(path, codec.codec, width, kHeight, kMicroSecPerFrame, kFrames));
                std::unique_ptr<VideoReader> reader;
                Status st = VideoReader::open(path, reader);
                ASSERT_TRUE(st) << st.message;
                EXPECT_EQ(reader->frameCount(), kFrames);
                EXPECT_EQ(reader->width(), width);
                EXPECT_EQ(reader->height(), kHeight);
                EXPECT_NEAR(reader->framesPerSecond(), 1e6 / kMicroSecPerFrame, 1e-6);
                EXPECT_NEAR(reader->durationSeconds(), kFrames * kMicroSecPerFrame / 1e6, 1e-6);
                TestSource source;
                ASSERT_TRUE(source.setFormat({PixelFormat::RGB24, width, kHeight, {30, 1}}));
                FrameConverter converter;
                Frame f, original, expected;
                for (uint64_t i = 0; i < kFrames; ++i) {
                    ASSERT_TRUE(reader->readNext(f));
                    EXPECT_EQ(f.sequence, i);
                    EXPECT_EQ(f.format, PixelFormat::BGRA);
                    EXPECT_EQ(stampOf(f), i + 1);  // upright and intact
                    if (ours || codec.codec == Codec::MotionJpeg)
                        continue;
                    ASSERT_TRUE(source.grabFresh(original, std::chrono::milliseconds(100)));
                    ASSERT_TRUE(converter.convert(original, PixelFormat::BGRA, expected));
                    const size_t stampBand = size_t(width) * 4 * (kHeight * 2 / 5);  // capture times differ
                    EXPECT_TRUE(
                        std::equal(f.data.begin() + stampBand, f.data.end(), expected.data.begin() + stampBand));
                }
                checkSeeking(*reader, kFrames);
            }
}

TEST_F(VideoReaderTest, ClearErrorsForBadFilesNeverCrashOrHang)
{
    // A sound file is readable, but has no pictures (8000 samples of 8-bit mono).
    const std::string wav(
        "RIFF\x64\x1f\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\x40\x1f\0\0", 44);
    writeAll(file("empty.avi"), "");
    writeAll(file("note.avi"), "This is a note, not a film.\n");
    writeAll(file("sound.wav"), wav + std::string(8000, '\0'));
    for (auto [path, words] : {std::pair{file("missing.avi"), "does not exist"}, {dir_.string(), ""},
                               {file("empty.avi"), ""}, {file("note.avi"), "note.avi"},
                               {file("sound.wav"), "no video"}}) {
        SCOPED_TRACE(path);
        std::unique_ptr<VideoReader> reader;
        Status st = VideoReader::open(path, reader);
        EXPECT_FALSE(st);
        EXPECT_FALSE(st.message.empty());
        EXPECT_NE(st.message.find(words), std::string::npos) << st.message;
        EXPECT_FALSE(reader);
    }
    // Truncated or corrupted: a clear message, or pictures and errors that end; never a crash or hang.
    ASSERT_TRUE(writeFfmpegAvi(file("whole.avi"), Codec::MotionJpeg, 160, 120, 100000, 12));
    ASSERT_TRUE(writeFfmpegAvi(file("raw.avi"), Codec::Uncompressed, 160, 120, 100000, 6));
    const std::string whole = readAll(file("whole.avi")), raw = readAll(file("raw.avi"));
    std::vector<std::string> damaged{raw.substr(0, raw.size() * 2 / 3)};
    for (size_t cut : {size_t(4), size_t(12), size_t(100), size_t(300), whole.size() / 4, whole.size() / 2,
                       whole.size() - 200, whole.size() - 1})
        damaged.push_back(whole.substr(0, cut));
    std::mt19937 random(20261206);
    for (int round = 0; round < 40; ++round) {
        std::string& bytes = damaged.emplace_back(whole);
        // Early rounds hit the headers, later ones anywhere.
        const size_t span = round < 20 ? std::min<size_t>(bytes.size(), 2048) : bytes.size();
        for (int n = 0; n < 1 + round % 8; ++n)
            bytes[random() % span] = char(random());
    }
    for (size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        writeAll(file("bad.avi"), damaged[i]);
        readToTheEnd(file("bad.avi"));
    }
}

// The player's reader and the onion skin's share their opening code but each keeps its own words:
// the player explains a file it cannot read and names a compression it cannot decode.
TEST_F(VideoReaderTest, EachReaderSaysWhyAFileCannotBeOpened)
{
    const std::string wav(
        "RIFF\x64\x1f\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data\x40\x1f\0\0", 44);
    writeAll(file("sound.wav"), wav + std::string(8000, '\0'));
    writeAll(file("empty.avi"), "");
    // A compression nobody knows, and a picture with no width.
    ASSERT_TRUE(writeCaptureFile(file("mjpeg.avi"), Codec::MotionJpeg, PixelFormat::RGB24, 160, 120, 100000, 2));
    ASSERT_TRUE(writeCaptureFile(file("raw.avi"), Codec::Uncompressed, PixelFormat::RGB24, 160, 120, 100000, 2));
    std::string unknown = readAll(file("mjpeg.avi")), narrow = readAll(file("raw.avi"));
    for (size_t at = 0; (at = unknown.find("MJPG", at)) != std::string::npos;)
        unknown.replace(at, 4, "ZZZZ");
    const size_t strf = narrow.find("strf");
    ASSERT_NE(strf, std::string::npos);
    narrow.replace(strf + 12, 4, std::string(4, '\0'));  // BITMAPINFOHEADER.biWidth
    writeAll(file("unknown.avi"), unknown);
    writeAll(file("narrow.avi"), narrow);

    const auto q = [&](const std::string& name) { return "'" + file(name) + "'"; };
    const std::string invalid = "Invalid data found when processing input";  // FFmpeg's AVERROR_INVALIDDATA
    struct Case {
        std::string name, player, onionSkin;
    };
    for (const Case& c : std::vector<Case>{
             {"empty.avi", "Cannot open " + q("empty.avi") + ": not a video file that can be read (" + invalid + ")",
              "Cannot open " + q("empty.avi") + ": " + invalid},
             {"sound.wav", "The file " + q("sound.wav") + " holds no video",
              "The file " + q("sound.wav") + " holds no video"},
             {"unknown.avi",
              "The video in " + q("unknown.avi") + " is compressed with none, which cannot be decoded here",
              "The video in " + q("unknown.avi") + " cannot be decoded here"},
             {"narrow.avi", "The video in " + q("narrow.avi") + " has no usable picture size",
              "The video in " + q("narrow.avi") + " has no usable picture size"},
         }) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VideoReader> reader;
        EXPECT_EQ(VideoReader::open(file(c.name), reader).message, c.player);
        EXPECT_FALSE(reader);
        std::unique_ptr<StoredFrames> stored;
        EXPECT_EQ(StoredFrames::open(file(c.name), stored).message, c.onionSkin);
        EXPECT_FALSE(stored);
    }
}
