// VideoReader on files of FFmpeg's own AVI muxer and of our AVI writer fed by the compressors
// (the whole capture chain): rate, length, frames in order and upright, seeking, and files that
// are missing, not video, truncated or corrupted.
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>
#include <kelvra/media/video_reader.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace kelvra::media;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMicroSecPerFrame = 66666;  // 15 fps as a capture file records it

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

// The same pictures laid out by another writer: FFmpeg's own AVI muxer, copying the stream.
bool remuxWithFfmpeg(const std::string& from, const std::string& to)
{
    AVFormatContext *in = nullptr, *out = nullptr;
    AVPacket* pkt = av_packet_alloc();
    bool ok = avformat_open_input(&in, from.c_str(), nullptr, nullptr) >= 0 &&
              avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, "avi", to.c_str()) >= 0;
    AVStream* st = ok ? avformat_new_stream(out, nullptr) : nullptr;
    ok = st && avcodec_parameters_copy(st->codecpar, in->streams[0]->codecpar) >= 0;
    if (ok) {
        st->time_base = in->streams[0]->time_base;
        st->avg_frame_rate = in->streams[0]->avg_frame_rate;
    }
    ok = ok && avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    while (ok && av_read_frame(in, pkt) >= 0) {
        av_packet_rescale_ts(pkt, in->streams[0]->time_base, st->time_base);  // the muxer may change the base
        ok = av_interleaved_write_frame(out, pkt) >= 0;
    }
    ok = ok && av_write_trailer(out) >= 0;
    av_packet_free(&pkt);
    avformat_close_input(&in);
    if (out)
        avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

// A file of FFmpeg's muxer from RGB pictures at 1e6 / microSecPerFrame frames per second.
bool writeFfmpegAvi(const std::string& path, Codec codec, int width, int height, uint32_t microSecPerFrame, int frames)
{
    const std::string ours = path + ".ours";
    return writeCaptureFile(ours, codec, PixelFormat::RGB24, width, height, microSecPerFrame, frames) &&
           remuxWithFfmpeg(ours, path) && fs::remove(ours);
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

}  // namespace

TEST_F(VideoReaderTest, ReadsInOrderAndSeeksExactly)
{
    const std::string path = file("mjpeg.avi");
    ASSERT_TRUE(writeFfmpegAvi(path, Codec::MotionJpeg, 320, 240, 100000, 25));
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
    for (auto [target, expected] : {std::pair<int64_t, int64_t>{24, 24}, {0, 0}, {12, 12}, {13, 13}, {3, 3},
                                    {1000, 24}, {-5, 0}, {24, 24}}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(reader->seekToFrame(target));
        ASSERT_TRUE(reader->readNext(f));
        EXPECT_EQ(f.sequence, uint64_t(expected));
        EXPECT_EQ(stampOf(f), uint64_t(expected + 1));
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

// Every codec at widths on and off swscale's SIMD blocks, through either writer: the exact rate,
// every frame in order and upright, and (lossless codecs) the very pixels the test source made.
TEST_F(CaptureChain, EveryCodecReadsBackUprightInOrder)
{
    constexpr int kFrames = 4, kHeight = 120;
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
                EXPECT_NEAR(reader->framesPerSecond(), 1e6 / kMicroSecPerFrame, 1e-6);
                TestSource source;
                ASSERT_TRUE(source.setFormat({PixelFormat::RGB24, width, kHeight, {30, 1}}));
                FrameConverter converter;
                Frame f, original, expected;
                for (uint64_t i = 0; i < kFrames; ++i) {
                    ASSERT_TRUE(reader->readNext(f));
                    EXPECT_EQ(stampOf(f), i + 1);  // upright and intact
                    if (ours || codec.codec == Codec::MotionJpeg)
                        continue;
                    ASSERT_TRUE(source.grabFresh(original, std::chrono::milliseconds(100)));
                    ASSERT_TRUE(converter.convert(original, PixelFormat::BGRA, expected));
                    const size_t stampBand = size_t(width) * 4 * (kHeight * 2 / 5);  // capture times differ
                    EXPECT_TRUE(
                        std::equal(f.data.begin() + stampBand, f.data.end(), expected.data.begin() + stampBand));
                }
                EXPECT_EQ(reader->readNext(f).code, kEndOfStream);
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

TEST_F(VideoReaderTest, TruncatedOrCorruptedFilesNeverCrashOrHang)
{
    ASSERT_TRUE(writeFfmpegAvi(file("whole.avi"), Codec::MotionJpeg, 160, 120, 100000, 12));
    ASSERT_TRUE(writeFfmpegAvi(file("raw.avi"), Codec::Uncompressed, 160, 120, 100000, 6));
    const std::vector<char> whole = readAll(file("whole.avi")), raw = readAll(file("raw.avi"));
    std::vector<std::vector<char>> damaged;
    for (size_t cut : {size_t(4), size_t(12), size_t(100), size_t(300), whole.size() / 4, whole.size() / 2,
                       whole.size() - 200, whole.size() - 1})
        damaged.emplace_back(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
    damaged.emplace_back(raw.begin(), raw.begin() + std::ptrdiff_t(raw.size() * 2 / 3));
    std::mt19937 random(20261206);
    for (int round = 0; round < 40; ++round) {
        std::vector<char>& bytes = damaged.emplace_back(whole);
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
