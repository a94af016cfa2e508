// Damaged files into the reader and the media window: our own recordings cut at every chunk
// boundary, header fields set to extremes, and random bytes changed. Nothing may crash or hang;
// what can be read is read.
#include "recording.h"

#include <kelvra/media/video_reader.h>
#include <kelvra/mciwnd/media_window.h>
#include <kelvra/platform/testing.h>

#include <vfw.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <random>
#include <set>

namespace {

namespace kt = kelvra::platform::testing;
namespace media = kelvra::media;
using kelvra::mciwnd::mediaControl;

constexpr int kFrames = 12;
constexpr DWORD kPlayerStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN;
constexpr uint32_t kRiff = media::fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = media::fourcc('L', 'I', 'S', 'T');
constexpr size_t kChunkHeader = 8;
constexpr size_t kListHeader = 12;

using Bytes = std::vector<uint8_t>;

uint32_t read32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void write32(Bytes& b, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(value >> (8 * i));
}

struct Chunk {
    size_t at;  // offset of the chunk's header
    uint32_t id;
    uint32_t size;
};

// Every chunk of the RIFF tree, lists included, in file order.
void walk(const Bytes& b, size_t begin, size_t end, std::vector<Chunk>& chunks)
{
    size_t at = begin;
    while (at + kChunkHeader <= end) {
        Chunk chunk{at, read32(b, at), read32(b, at + 4)};
        chunks.push_back(chunk);
        size_t dataEnd = std::min<size_t>(end, at + kChunkHeader + chunk.size);
        if ((chunk.id == kRiff || chunk.id == kList) && chunk.size >= 4)
            walk(b, at + kListHeader, dataEnd, chunks);
        at = at + kChunkHeader + chunk.size + (chunk.size & 1);
    }
}

struct Outcome {
    bool opened = false;
    int64_t frames = 0;
};

// Reads the file to its end through the reader, then seeks about; the loop is bounded so a
// reader that never ends fails the test instead of hanging it.
Outcome readAll(const std::string& path)
{
    Outcome outcome;
    std::unique_ptr<media::VideoReader> reader;
    if (!media::VideoReader::open(path, reader) || !reader)
        return outcome;
    outcome.opened = true;
    media::Frame frame;
    int errors = 0;
    for (int step = 0; step < 4 * kFrames + 20; ++step) {
        media::Status st = reader->readNext(frame);
        if (st.code == media::kEndOfStream)
            break;
        if (st)
            ++outcome.frames;
        else if (++errors > kFrames + 4)
            break;
    }
    for (int64_t index : {reader->frameCount() - 1, int64_t(0), reader->frameCount() / 2, int64_t(1) << 40, int64_t(-3)}) {
        reader->seekToFrame(index);
        reader->readNext(frame);
    }
    return outcome;
}

// The same file in a media window: to the end, a step back, play through, close.
void playInWindow(HWND owner, const std::string& path)
{
    HWND hwnd = MCIWndCreateA(owner, nullptr, kPlayerStyle, path.c_str());
    ASSERT_TRUE(IsWindow(hwnd));
    kelvra::mciwnd::MediaControl* media = mediaControl(hwnd);
    ASSERT_NE(media, nullptr);
    if (media->isOpen()) {
        media->seek(media->length() - 1);
        media->waitForPicture(1000);
        media->step(-1);
        media->play();
        kt::advanceClock(3000);
        media->waitForPicture(200);
        EXPECT_LE(media->position(), std::max<int64_t>(media->length() - 1, 0));
    } else {
        EXPECT_FALSE(media->errorText().empty());
    }
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

class DamagedFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        kt::useVirtualClock();
        std::string original = dir_.filePath("whole.avi").toStdString();
        ASSERT_EQ(player_test::makeRecording(original, {.frames = kFrames, .fps = 10, .width = 160, .height = 120}), "");
        std::ifstream in(original, std::ios::binary);
        whole_.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_GT(whole_.size(), kListHeader);
        walk(whole_, kListHeader, whole_.size(), chunks_);
        owner_ = std::make_unique<player_test::OwnerWindow>();
    }
    void TearDown() override
    {
        owner_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kt::useRealClock();
    }

    std::string write(const Bytes& bytes)
    {
        std::string path = dir_.filePath(QString("variant%1.avi").arg(variant_++)).toStdString();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    // Feeds one variant to both readers; returns what the reader got.
    Outcome feed(const Bytes& bytes, const std::string& what)
    {
        SCOPED_TRACE(what);
        std::string path = write(bytes);
        Outcome outcome = readAll(path);
        EXPECT_LE(outcome.frames, kFrames);
        playInWindow(owner_->handle(), path);
        std::remove(path.c_str());
        return outcome;
    }

    QTemporaryDir dir_;
    Bytes whole_;
    std::vector<Chunk> chunks_;
    std::unique_ptr<player_test::OwnerWindow> owner_;
    int variant_ = 0;
};

TEST_F(DamagedFiles, OurRecordingIsReadWhole)
{
    Outcome outcome = feed(whole_, "the file as written");
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.frames, kFrames);
}

TEST_F(DamagedFiles, CutAtEveryChunkBoundary)
{
    std::set<size_t> cuts = {0, 4, kListHeader};
    for (const Chunk& c : chunks_) {
        cuts.insert(c.at);
        cuts.insert(c.at + kChunkHeader);
        cuts.insert(c.at + kChunkHeader + c.size / 2);  // inside the chunk's data, too
        cuts.insert(c.at + kChunkHeader + c.size);
    }
    ASSERT_GT(cuts.size(), size_t(2 * kFrames));
    for (size_t cut : cuts) {
        if (cut >= whole_.size())
            continue;
        Bytes part(whole_.begin(), whole_.begin() + cut);
        feed(part, "cut at " + std::to_string(cut));
    }
}

TEST_F(DamagedFiles, FramesBeforeALostIndexAreStillRead)
{
    // A recording whose end (the index after the frames) was lost keeps its frames.
    const uint32_t idx1 = media::fourcc('i', 'd', 'x', '1');
    auto index = std::find_if(chunks_.begin(), chunks_.end(), [&](const Chunk& c) { return c.id == idx1; });
    ASSERT_NE(index, chunks_.end());
    Bytes part(whole_.begin(), whole_.begin() + index->at);
    Outcome outcome = feed(part, "without its index");
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.frames, kFrames);
}

TEST_F(DamagedFiles, HeaderFieldsAtTheirExtremes)
{
    const uint32_t headers[] = {media::fourcc('a', 'v', 'i', 'h'), media::fourcc('s', 't', 'r', 'h'),
                                media::fourcc('s', 't', 'r', 'f'), media::fourcc('i', 'n', 'd', 'x'),
                                media::fourcc('d', 'm', 'l', 'h')};
    const uint32_t extremes[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    int variants = 0;
    for (const Chunk& c : chunks_) {
        if (std::find(std::begin(headers), std::end(headers), c.id) == std::end(headers))
            continue;
        for (size_t field = 0; field + 4 <= c.size && field < 64; field += 4) {
            for (uint32_t value : extremes) {
                Bytes bytes = whole_;
                write32(bytes, c.at + kChunkHeader + field, value);
                feed(bytes, "field " + std::to_string(field) + " of chunk at " + std::to_string(c.at) + " = " +
                                std::to_string(value));
                ++variants;
            }
        }
    }
    EXPECT_GT(variants, 50);
    // Chunk sizes that lie: every chunk claims nothing, or more than the file holds.
    for (const Chunk& c : chunks_) {
        for (uint32_t value : {0u, 0xFFFFFFF0u}) {
            Bytes bytes = whole_;
            write32(bytes, c.at + 4, value);
            feed(bytes, "size of chunk at " + std::to_string(c.at) + " = " + std::to_string(value));
        }
    }
}

TEST_F(DamagedFiles, RandomBytesChanged)
{
    std::mt19937 random(20240611);  // fixed, so a failure can be repeated
    for (int variant = 0; variant < 120; ++variant) {
        Bytes bytes = whole_;
        int changes = 1 + variant % 16;
        for (int i = 0; i < changes; ++i)
            bytes[random() % bytes.size()] = uint8_t(random());
        feed(bytes, "random variant " + std::to_string(variant));
    }
    // Whole frames of noise: the pictures' data replaced, the structure intact.
    const uint32_t frameChunk = media::fourcc('0', '0', 'd', 'c');
    for (const Chunk& c : chunks_) {
        if (c.id != frameChunk)
            continue;
        Bytes bytes = whole_;
        for (size_t i = 0; i < c.size; ++i)
            bytes[c.at + kChunkHeader + i] = uint8_t(random());
        feed(bytes, "noise in frame chunk at " + std::to_string(c.at));
    }
}

}  // namespace
