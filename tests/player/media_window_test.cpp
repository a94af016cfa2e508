// The media window behind MCIWndCreateA: the file's own rate on the virtual clock, seeking and
// stepping by every means the window offers, closing, and files it cannot play. Damaged files go
// through the reader and the window: our own recordings cut at every chunk boundary, header
// fields set to extremes, random bytes changed. Nothing may crash or hang; what can be read is.
#include "recording.h"

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/media/video_reader.h>

#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>

namespace {

using namespace player_test;
using kelvra::mciwnd::MediaControl;
using kelvra::mciwnd::mediaControl;
using kelvra::platform::widgetFromHandle;
using MediaWindowTest = PlayerFixture;

TEST_F(MediaWindowTest, OpensAsAnOwnedPopupAndPlaysTenFramesASecondOnTheClock)
{
    std::string file = recording("ten.avi");
    HWND hwnd = open(file);
    MediaControl* media = mediaControl(hwnd);
    ASSERT_NE(media, nullptr);
    EXPECT_TRUE(media->isOpen()) << media->errorText();
    EXPECT_EQ(media->length(), 20);
    EXPECT_DOUBLE_EQ(media->framesPerSecond(), 10.0);
    EXPECT_EQ(media->position(), 0);
    EXPECT_FALSE(media->isPlaying());
    QWidget* widget = widgetFromHandle(hwnd);
    EXPECT_TRUE(widget->isWindow());
    EXPECT_TRUE(widget->isVisible()) << "WS_VISIBLE shows it at once";
    EXPECT_EQ(widget->parentWidget(), owner_.get()) << "owned by the parent's window";
    EXPECT_EQ(titleOf(hwnd), file) << "the title is the full path";
    EXPECT_EQ(shownStamp(hwnd), 1u) << "the first picture of the file is on screen";
    EXPECT_EQ(media->shownFrame(), 0);

    media->play();
    EXPECT_TRUE(media->isPlaying());
    for (int tenth = 1; tenth <= 10; ++tenth) {
        kt::advanceClock(100);
        EXPECT_EQ(media->position(), tenth) << "after " << tenth * 100 << " ms";
    }
    EXPECT_EQ(shownStamp(hwnd), 11u);
    kt::advanceClock(999);
    EXPECT_EQ(media->position(), 19);
    EXPECT_TRUE(media->isPlaying()) << "the last frame still has its tenth of a second";
    kt::advanceClock(1);
    EXPECT_FALSE(media->isPlaying()) << "stops at the end of the film";
    kt::advanceClock(5000);
    EXPECT_EQ(media->position(), 19);

    media->play();  // at the end, Play starts the film again
    EXPECT_EQ(media->position(), 0);
    kt::advanceClock(350);
    EXPECT_EQ(media->position(), 3);
    media->stop();
    kt::advanceClock(1000);
    EXPECT_EQ(media->position(), 3) << "stopped means stopped";
}

TEST_F(MediaWindowTest, RepeatLoopsAFastFileSkipsWhatTheClockPassedAndAnEmptyOneStays)
{
    MediaControl* loop = mediaControl(open(recording("loop.avi")));
    loop->setRepeat(true);
    loop->play();
    kt::advanceClock(2500);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->position(), 5);
    loop->stop();

    MediaControl* fast = mediaControl(open(recording("fast.avi", {.frames = 60, .fps = 50, .width = 160, .height = 120})));
    EXPECT_DOUBLE_EQ(fast->framesPerSecond(), 50.0);
    fast->play();
    kt::advanceClock(1000);
    EXPECT_EQ(fast->position(), 50);

    MediaControl* empty = mediaControl(open(recording("none.avi", {.frames = 0})));
    EXPECT_EQ(empty->length(), 0);
    empty->play();
    EXPECT_FALSE(empty->isPlaying());
    empty->seek(3);
    EXPECT_EQ(empty->position(), 0);
}

TEST_F(MediaWindowTest, SeeksAndStepsByCallKeysAndTrackbar)
{
    HWND hwnd = open(recording("seek.avi"));
    MediaControl* media = mediaControl(hwnd);
    QWidget* widget = widgetFromHandle(hwnd);
    media->seek(1000);
    EXPECT_EQ(media->position(), 19) << "clamped into the file";
    media->seek(-5);
    EXPECT_EQ(media->position(), 0);
    media->step(-1);
    EXPECT_EQ(media->position(), 0);

    // Each step shows its own picture; End is the last frame of the file.
    const std::pair<Qt::Key, int64_t> keys[] = {{Qt::Key_End, 19},   {Qt::Key_Left, 18},     {Qt::Key_Home, 0},
                                                {Qt::Key_Right, 1},  {Qt::Key_Right, 2},     {Qt::Key_PageDown, 12},
                                                {Qt::Key_PageUp, 2}, {Qt::Key_Left, 1}};
    for (const auto& [key, expected] : keys) {
        QTest::keyClick(widget, key);
        EXPECT_EQ(media->position(), expected) << "after key " << key;
        EXPECT_EQ(shownStamp(hwnd), uint64_t(expected + 1)) << "after key " << key;
    }
    QTest::keyClick(widget, Qt::Key_Space);
    EXPECT_TRUE(media->isPlaying());
    kt::advanceClock(200);
    QTest::keyClick(widget, Qt::Key_Right);
    EXPECT_FALSE(media->isPlaying()) << "stepping stops playback";
    EXPECT_EQ(media->position(), 4);

    QSlider* trackbar = widget->findChild<QSlider*>();
    ASSERT_NE(trackbar, nullptr);
    EXPECT_EQ(trackbar->maximum(), 19);
    EXPECT_EQ(trackbar->value(), 4) << "the trackbar follows the position";
    trackbar->setValue(15);
    EXPECT_EQ(media->position(), 15);
    EXPECT_EQ(shownStamp(hwnd), 16u);
}

TEST_F(MediaWindowTest, EveryCompressorOfTheRecorderPlays)
{
    using kelvra::media::Codec;
    for (Codec codec : {Codec::Uncompressed, Codec::Lossless, Codec::MotionJpeg}) {
        SCOPED_TRACE(int(codec));
        std::string name = "codec" + std::to_string(int(codec)) + ".avi";
        HWND hwnd = open(recording(name.c_str(), {.frames = 8, .fps = 5, .codec = codec}));
        MediaControl* media = mediaControl(hwnd);
        ASSERT_TRUE(media->isOpen()) << media->errorText();
        EXPECT_EQ(media->length(), 8);
        media->seek(5);
        EXPECT_EQ(shownStamp(hwnd), 6u);
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
    }
}

TEST_F(MediaWindowTest, CloseDestroysAtOnceAndTheOwnerTakesTheRest)
{
    std::string file = recording("close.avi");
    const std::function<void(HWND)> closers[] = {
        [](HWND hwnd) { SendMessageA(hwnd, WM_CLOSE, 0, 0); },  // destroys, as DefWindowProc does
        [](HWND hwnd) { widgetFromHandle(hwnd)->close(); },     // the title bar's close box
        [](HWND hwnd) { EXPECT_TRUE(DestroyWindow(hwnd)); }};
    for (const auto& close : closers) {
        SCOPED_TRACE(&close - closers);
        HWND playing = open(file);
        mediaControl(playing)->play();
        kt::advanceClock(300);
        close(playing);
        EXPECT_FALSE(IsWindow(playing));
        EXPECT_EQ(mediaControl(playing), nullptr);
        kt::advanceClock(1000);  // its timer went with it
    }

    // DestroyWindow of the owner takes its media windows, as Windows does with owned windows.
    HWND first = open(file);
    HWND second = open(file);
    mediaControl(second)->play();
    EXPECT_TRUE(DestroyWindow(owner_.release()->handle()));  // which deletes it
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(second));
    kt::advanceClock(1000);
}

TEST_F(MediaWindowTest, AFileItCannotPlayIsReportedInTheWindow)
{
    std::ofstream(path("notes.avi")) << "These are notes, not a film.\n";
    std::ofstream{path("empty.avi")};
    for (const std::string& file : {path("notes.avi"), path("empty.avi"), path("missing.avi"), dir_.path().toStdString(), std::string()}) {
        SCOPED_TRACE(file);
        HWND hwnd = open(file);
        ASSERT_TRUE(IsWindow(hwnd));
        MediaControl* media = mediaControl(hwnd);
        EXPECT_FALSE(media->isOpen());
        EXPECT_FALSE(media->errorText().empty());
        EXPECT_EQ(titleOf(hwnd), "No Device");
        QWidget* widget = widgetFromHandle(hwnd);
        EXPECT_TRUE(widget->isVisible());
        auto* play = widget->findChild<QToolButton*>();
        ASSERT_NE(play, nullptr);
        EXPECT_FALSE(play->isEnabled());
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_End, Qt::Key_Right, Qt::Key_Left, Qt::Key_Home})
            QTest::keyClick(widget, key);
        media->play();
        kt::advanceClock(1000);
        EXPECT_FALSE(media->isPlaying());
        EXPECT_EQ(media->length(), 0);
        SetWindowTextA(hwnd, file.c_str());  // what the player does next
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(hwnd));
    }
}

constexpr int kFrames = 12;
constexpr size_t kChunkHeader = 8;
constexpr size_t kListHeader = 12;

using Bytes = std::vector<uint8_t>;

uint32_t read32(const Bytes& b, size_t at)  // RIFF is little-endian, as are the machines we run on
{
    uint32_t value;
    std::memcpy(&value, &b[at], sizeof value);
    return value;
}

struct Chunk {
    size_t at;  // offset of the chunk's header
    uint32_t id, size;
};

// Every chunk of the RIFF tree, lists included, in file order.
void walk(const Bytes& b, size_t begin, size_t end, std::vector<Chunk>& chunks)
{
    for (size_t at = begin; at + kChunkHeader <= end;) {
        Chunk chunk{at, read32(b, at), read32(b, at + 4)};
        chunks.push_back(chunk);
        bool list = chunk.id == media::fourcc('R', 'I', 'F', 'F') || chunk.id == media::fourcc('L', 'I', 'S', 'T');
        if (list && chunk.size >= 4)
            walk(b, at + kListHeader, std::min<size_t>(end, at + kChunkHeader + chunk.size), chunks);
        at += kChunkHeader + chunk.size + (chunk.size & 1);
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

class DamagedFiles : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        std::ifstream in(recording("whole.avi", {.frames = kFrames, .fps = 10, .width = 160, .height = 120}), std::ios::binary);
        whole_.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_GT(whole_.size(), kListHeader);
        walk(whole_, kListHeader, whole_.size(), chunks_);
    }

    // One variant through the reader, then in a media window: to the end, a step back, play
    // through, close. Returns what the reader got.
    Outcome feed(const Bytes& bytes, const std::string& what)
    {
        SCOPED_TRACE(what);
        std::string file = path("variant.avi");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        Outcome outcome = readAll(file);
        EXPECT_LE(outcome.frames, kFrames);
        HWND hwnd = open(file);
        MediaControl* media = mediaControl(hwnd);
        EXPECT_NE(media, nullptr);
        if (media && media->isOpen()) {
            media->seek(media->length() - 1);
            media->waitForPicture(1000);
            media->step(-1);
            media->play();
            kt::advanceClock(3000);
            media->waitForPicture(200);
            EXPECT_LE(media->position(), std::max<int64_t>(media->length() - 1, 0));
        } else if (media) {
            EXPECT_FALSE(media->errorText().empty());
        }
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(hwnd));
        std::remove(file.c_str());  // the next variant is a new file, not this one rewritten under a decoder
        return outcome;
    }

    Bytes whole_;
    std::vector<Chunk> chunks_;
};

TEST_F(DamagedFiles, CutAtEveryChunkBoundary)
{
    auto index = std::find_if(chunks_.begin(), chunks_.end(), [](const Chunk& c) { return c.id == media::fourcc('i', 'd', 'x', '1'); });
    ASSERT_NE(index, chunks_.end());
    std::set<size_t> cuts = {0, 4, kListHeader, whole_.size()};
    for (const Chunk& c : chunks_) {
        cuts.insert(c.at);
        cuts.insert(c.at + kChunkHeader);
        cuts.insert(c.at + kChunkHeader + c.size / 2);  // inside the chunk's data, too
        cuts.insert(c.at + kChunkHeader + c.size);
    }
    ASSERT_GT(cuts.size(), size_t(2 * kFrames));
    for (size_t cut : cuts) {
        if (cut > whole_.size())
            continue;
        Outcome outcome = feed(Bytes(whole_.begin(), whole_.begin() + cut), "cut at " + std::to_string(cut));
        if (cut == whole_.size() || cut == index->at) {  // a lost index after the frames loses no frame
            EXPECT_TRUE(outcome.opened) << cut;
            EXPECT_EQ(outcome.frames, kFrames) << cut;
        }
    }
}

TEST_F(DamagedFiles, HeaderFieldsAndChunkSizesAtTheirExtremes)
{
    auto put32 = [this](size_t at, uint32_t value, const std::string& what) {
        Bytes bytes = whole_;
        std::memcpy(&bytes[at], &value, sizeof value);
        feed(bytes, what + " = " + std::to_string(value));
    };
    const uint32_t headers[] = {media::fourcc('a', 'v', 'i', 'h'), media::fourcc('s', 't', 'r', 'h'),
                                media::fourcc('s', 't', 'r', 'f'), media::fourcc('i', 'n', 'd', 'x'),
                                media::fourcc('d', 'm', 'l', 'h')};
    int fields = 0;
    for (const Chunk& c : chunks_) {
        for (uint32_t size : {0u, 0xFFFFFFF0u})  // sizes that lie: nothing, or more than the file holds
            put32(c.at + 4, size, "size of chunk at " + std::to_string(c.at));
        if (std::find(std::begin(headers), std::end(headers), c.id) == std::end(headers))
            continue;
        for (size_t field = 0; field + 4 <= c.size && field < 64; field += 4, ++fields)
            for (uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
                put32(c.at + kChunkHeader + field, value, "field " + std::to_string(field) + " of chunk at " + std::to_string(c.at));
    }
    EXPECT_GT(fields, 10);
}

TEST_F(DamagedFiles, RandomBytesChanged)
{
    std::mt19937 random(20240611);  // fixed, so a failure can be repeated
    for (int variant = 0; variant < 120; ++variant) {
        Bytes bytes = whole_;
        for (int i = 0; i <= variant % 16; ++i)
            bytes[random() % bytes.size()] = uint8_t(random());
        feed(bytes, "random variant " + std::to_string(variant));
    }
    // Whole frames of noise: the pictures' data replaced, the structure intact.
    for (const Chunk& c : chunks_) {
        if (c.id != media::fourcc('0', '0', 'd', 'c'))
            continue;
        Bytes bytes = whole_;
        for (size_t i = 0; i < c.size; ++i)
            bytes[c.at + kChunkHeader + i] = uint8_t(random());
        feed(bytes, "noise in frame chunk at " + std::to_string(c.at));
    }
}

}  // namespace
