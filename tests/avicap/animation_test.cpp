// The capture window's animation side: its context menu, the Live View and its keys, the onion
// skin from the file's own frames, Play Last Frames on the platform's timers, Remove Last Frame
// and its put back. Everything on the virtual clock; files read back with FFmpeg.
#include "avicap_support.h"

#include "capture_window.h"
#include "resource.h"  // the program's control identifiers: GRAB SINGLE FRAME's command

#include <kelvra/media/avi_writer.h>
#include <kelvra/media/stored_frames.h>
#include <kelvra/user/window.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QTest>

#include <fstream>

using namespace avicap_test;

namespace {

constexpr UINT kGrab = IDMAN;  // GRAB SINGLE FRAME

// The main window as far as the capture window sees it: it takes GRAB SINGLE FRAME as the
// program does (open the file, one frame) and counts the commands it got.
class MainStandIn : public ParentWindow {
public:
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_COMMAND) {
            commands.push_back(UINT(LOWORD(wParam)));
            if (LOWORD(wParam) == kGrab && cap) {
                SendMessageA(cap, WM_CAP_SINGLE_FRAME_OPEN, 0, 0);
                SendMessageA(cap, WM_CAP_SINGLE_FRAME, 0, 0);
            }
            return 0;
        }
        return ParentWindow::message(msg, wParam, lParam);
    }
    std::vector<UINT> commands;
    HWND cap = nullptr;
};

std::vector<std::string> journalLines(const std::string& capture)
{
    std::ifstream in(capture + ".log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool anyContains(const std::vector<std::string>& lines, const std::string& part)
{
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class AnimationTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        auto main = std::make_unique<MainStandIn>();
        main_ = main.get();
        parent_ = std::move(main);
        parent_->show();
        createCaptureWindow();
        main_->cap = cap_;
        ASSERT_TRUE(connect());
        send(cap_, WM_CAP_SET_PREVIEWRATE, 5);
        send(cap_, WM_CAP_SET_PREVIEW, 1);
        ticking_ = cap_;
    }
    QWidget* capWidget() const { return kelvra::platform::widgetFromHandle(cap_); }
    QWidget* openLiveView()
    {
        QTest::mouseDClick(capWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 80));
        QWidget* view = at::liveView(cap_);
        EXPECT_NE(view, nullptr);
        return view;
    }
    bool open(const std::string& file, DWORD microSecPerFrame = 1000000 / 15)
    {
        return setCaptureFile(cap_, file) && setFrameTime(cap_, microSecPerFrame) &&
               send(cap_, WM_CAP_SINGLE_FRAME_OPEN) != 0;
    }
    bool checked(const std::string& path) { return menuEntry(cap_, path).checked; }
    bool enabled(const std::string& path) { return menuEntry(cap_, path).enabled; }
    static void key(QWidget* w, Qt::Key k) { QTest::keyClick(w, k); }

    MainStandIn* main_ = nullptr;
    static inline HWND ticking_ = nullptr;
};

}  // namespace

// One menu for the preview and the Live View, in this order, with the key hints kept out of
// the names; what cannot act now is disabled.
TEST_F(AnimationTest, OneMenuInItsOrderWithWhatCannotActDisabled)
{
    std::vector<std::string> paths;
    for (const at::MenuEntry& e : at::menuEntries(cap_))
        paths.push_back(e.path);
    const std::vector<std::string> expected = {
        "Live View", "Onion Skin", "Onion Skin/Off", "Onion Skin/1 Frame", "Onion Skin/2 Frames",
        "Onion Skin/3 Frames", "Onion Skin/4 Frames", "Onion Skin/5 Frames", "Onion Skin/Opacity 25%",
        "Onion Skin/Opacity 50%", "Onion Skin/Opacity 75%", "Onion Skin/Opacity 100%", "Onion Skin/Difference",
        "Play Last Frames", "Play Last", "Play Last/5 Frames", "Play Last/10 Frames", "Play Last/20 Frames",
        "Play Last/50 Frames", "Loop", "Stop Playing", "Remove Last Frame", "Put Back Removed Frame",
        "Capture Hours", "Capture Hours/Always", "Capture Hours/Between 07:00 and 19:00",
        "Capture Hours/Daylight only"};
    EXPECT_EQ(paths, expected);
    EXPECT_TRUE(checked("Capture Hours/Always"));
    EXPECT_TRUE(checked("Onion Skin/Off")) << "the onion skin is off until asked for";
    EXPECT_TRUE(checked("Play Last/10 Frames"));
    EXPECT_FALSE(checked("Loop"));
    for (const char* idle : {"Play Last Frames", "Stop Playing", "Remove Last Frame", "Put Back Removed Frame"})
        EXPECT_FALSE(enabled(idle)) << idle << " with no file open";
    EXPECT_FALSE(at::triggerMenu(cap_, "Remove Last Frame")) << "a disabled entry does nothing";
    EXPECT_FALSE(at::triggerMenu(cap_, "No Such Entry"));

    ASSERT_TRUE(open(path("menu.avi")));
    EXPECT_EQ(grab(2), 2);
    EXPECT_TRUE(enabled("Play Last Frames"));
    EXPECT_TRUE(enabled("Remove Last Frame"));
    EXPECT_FALSE(enabled("Put Back Removed Frame"));
    EXPECT_TRUE(at::triggerMenu(cap_, "Onion Skin/2 Frames"));
    EXPECT_TRUE(at::triggerMenu(cap_, "Onion Skin/Opacity 75%"));
    EXPECT_TRUE(at::triggerMenu(cap_, "Onion Skin/Difference"));
    EXPECT_TRUE(at::triggerMenu(cap_, "Play Last/20 Frames"));
    EXPECT_TRUE(at::triggerMenu(cap_, "Loop"));
    EXPECT_TRUE(checked("Onion Skin/2 Frames") && checked("Onion Skin/Opacity 75%") && checked("Onion Skin/Difference"));
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{1})) << "the difference is against the last frame";
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/Off"));
    EXPECT_EQ(at::onionFrames(cap_), std::vector<uint64_t>{});
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/Difference"));
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/Difference"));
    EXPECT_TRUE(checked("Onion Skin/1 Frame")) << "checking Difference while off shows the last frame";
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/2 Frames"));
    EXPECT_FALSE(checked("Onion Skin/Off") || checked("Onion Skin/Opacity 50%"));
    EXPECT_TRUE(checked("Play Last/20 Frames") && checked("Loop"));
    EXPECT_TRUE(at::triggerMenu(cap_, "Live View"));
    ASSERT_NE(at::liveView(cap_), nullptr);
    EXPECT_FALSE(enabled("Live View")) << "it is open already";
}

// The Live View: a top-level window owned by the main window, not modal; Escape closes it, and
// it comes back at the size and place it had. A damaged entry is passed over with a journal line.
TEST_F(AnimationTest, LiveViewIsOwnedNotModalAndKeepsItsPlace)
{
    QWidget* view = openLiveView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Live View"));
    EXPECT_TRUE(view->isWindow());
    EXPECT_EQ(view->parentWidget(), parent_.get()) << "owned by the main window";
    EXPECT_FALSE(view->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(view->isVisible());

    // A recording goes on with the Live View open: its timer's steps come on time.
    ASSERT_TRUE(open(path("beside.avi")));
    auto tick = [](HWND, UINT, UINT_PTR, DWORD) { send(ticking_, WM_CAP_SINGLE_FRAME); };
    ASSERT_NE(SetTimer(parent_->handle(), 1, 1000, tick), 0u);
    pt::advanceClock(3000);
    EXPECT_EQ(at::openFileFrames(cap_), 3u);
    KillTimer(parent_->handle(), 1);
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));

    view->setGeometry(130, 90, 720, 420);
    const QRect place = view->geometry();
    key(view, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(at::liveView(cap_), nullptr) << "Escape closes it";
    ASSERT_TRUE(QFile::exists(QString::fromStdString(at::liveViewPlaceFile())));

    ASSERT_TRUE(at::triggerMenu(cap_, "Live View"));
    view = at::liveView(cap_);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->size(), place.size());
    EXPECT_EQ(view->geometry().topLeft(), place.topLeft());
    view->close();
    QCoreApplication::processEvents();

    // Damaged: numbers missing, then nonsense sizes, then bytes. The window opens at its first size.
    ASSERT_TRUE(open(path("place.avi")));
    for (const char* damaged : {"130 90 garbage\n", "1 2 -5 999999\n", "\x01\x02\x03", "50000 50000 800 600\n"}) {
        ASSERT_TRUE(writeFile(at::liveViewPlaceFile(), QByteArray(damaged)));
        view = openLiveView();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->size(), QSize(960, 540)) << damaged;
        view->close();
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(anyContains(journalLines(path("place.avi")), "kept size and place"));
}

// The Live View's keys: 0-5 set the onion skin, Space and Enter are the main window's GRAB
// SINGLE FRAME (its command, so its counter follows), Backspace removes the last frame, P plays
// and stops, Escape closes. A held key grabs once.
TEST_F(AnimationTest, LiveViewKeys)
{
    ASSERT_TRUE(setCaptureFile(cap_, path("keys.avi")));
    QWidget* view = openLiveView();
    ASSERT_NE(view, nullptr);
    for (int n : {3, 5, 0, 1}) {
        key(view, Qt::Key(Qt::Key_0 + n));
        EXPECT_TRUE(checked(n == 0 ? "Onion Skin/Off" : "Onion Skin/" + std::to_string(n) + (n == 1 ? " Frame" : " Frames")));
    }
    key(view, Qt::Key_Space);
    key(view, Qt::Key_Return);
    key(view, Qt::Key_Enter);
    EXPECT_EQ(main_->commands, (std::vector<UINT>{kGrab, kGrab, kGrab}));
    EXPECT_EQ(at::openFileFrames(cap_), 3u);
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(view, &held);
    EXPECT_EQ(main_->commands.size(), 3u) << "a repeating key grabs nothing more";
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{2}));

    key(view, Qt::Key_Backspace);
    EXPECT_EQ(at::openFileFrames(cap_), 2u);
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{1})) << "the onion skin follows the removal";
    EXPECT_TRUE(contains(at::statusText(cap_), "Frame 3 removed")) << at::statusText(cap_);

    key(view, Qt::Key_P);
    EXPECT_EQ(at::playingFrame(cap_), 0) << "2 frames in the file: both are played";
    key(view, Qt::Key_P);
    EXPECT_EQ(at::playingFrame(cap_), -1) << "P again stops";
    key(view, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(at::liveView(cap_), nullptr);
    EXPECT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    const ReadBack back = readBack(path("keys.avi"));
    EXPECT_EQ(back.packets, 2);
    EXPECT_EQ(back.stamps, seq(1, 2));
}

// A recording made earlier and continued: its last frames are in the onion skin at once, read
// from the file, each decoded once; after a frame step only the new frame is decoded.
TEST_F(AnimationTest, OnionFramesComeFromAContinuedFile)
{
    const std::string file = path("continued.avi");
    ASSERT_EQ(record("continued.avi", 6).packets, 6);

    // The media core's reader finds the test source's stamps in the file's frames.
    std::unique_ptr<media::StoredFrames> stored;
    ASSERT_TRUE(media::StoredFrames::open(file, stored));
    ASSERT_EQ(stored->count(), 6);
    for (int64_t i : {5, 0, 3}) {
        media::StoredPicture picture;
        ASSERT_TRUE(stored->read(i, picture));
        media::TestStamp stamp;
        ASSERT_TRUE(media::readTestStamp(picture.picture, stamp));
        EXPECT_EQ(stamp.sequence, uint64_t(i + 1));
        EXPECT_EQ(QSize(picture.ownWidth, picture.ownHeight), QSize(stored->width(), stored->height()));
    }
    media::StoredPicture none;
    EXPECT_FALSE(stored->read(6, none));

    ASSERT_TRUE(open(file));
    ASSERT_EQ(at::openFileFrames(cap_), 6u);
    EXPECT_EQ(at::onionFrames(cap_), std::vector<uint64_t>{}) << "off by default";
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/3 Frames"));
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{5, 4, 3}));
    for (int i = 0; i < 5; ++i)
        capWidget()->repaint();
    EXPECT_EQ(at::onionDecodes(cap_), 3u) << "decoded once, not at each paint";
    EXPECT_EQ(grab(1), 1);
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{6, 5, 4}));
    EXPECT_EQ(at::onionDecodes(cap_), 4u) << "only the appended frame";
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/5 Frames"));
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{6, 5, 4, 3, 2}));
    EXPECT_EQ(at::onionDecodes(cap_), 6u) << "frames 3 and 2: only the frames shown stay decoded";
    capWidget()->repaint();
    EXPECT_EQ(at::onionDecodes(cap_), 6u);
}

// A frame of another size in the file is passed over; fewer frames than asked: the ones there are.
TEST_F(AnimationTest, OnionPassesOverAFrameOfAnotherSize)
{
    const std::string file = path("mixed.avi");
    media::StreamFormat format;
    ASSERT_TRUE(at::withSource(cap_, [&](media::FrameSource& s) { format = s.format(); }));
    std::unique_ptr<media::Encoder> full, small;
    ASSERT_TRUE(media::Encoder::create(media::Codec::MotionJpeg, format.width, format.height, 90, full));
    ASSERT_TRUE(media::Encoder::create(media::Codec::MotionJpeg, format.width / 2, format.height / 2, 90, small));
    std::unique_ptr<media::AviWriter> writer;
    ASSERT_TRUE(media::AviWriter::open(file, full->format(), 66666, media::AviWriterOptions(), writer));
    auto put = [&](media::Encoder& encoder, int w, int h, uint8_t shade) {
        media::Frame frame;
        frame.width = w;
        frame.height = h;
        frame.format = media::PixelFormat::RGB24;
        frame.data.assign(media::frameBytes(frame.format, w, h), shade);
        std::vector<uint8_t> packet;
        bool key = true;
        ASSERT_TRUE(encoder.encode(frame, packet, key));
        ASSERT_TRUE(writer->append(packet.data(), packet.size(), key));
    };
    put(*full, format.width, format.height, 40);
    put(*full, format.width, format.height, 80);
    put(*small, format.width / 2, format.height / 2, 120);
    put(*full, format.width, format.height, 160);
    ASSERT_TRUE(writer->close());

    ASSERT_TRUE(open(file)) << at::lastError(cap_);
    ASSERT_EQ(at::openFileFrames(cap_), 4u);
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/5 Frames"));
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{3, 1, 0}));
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/2 Frames"));
    EXPECT_EQ(at::onionFrames(cap_), (std::vector<uint64_t>{3, 1}));
    QWidget* view = openLiveView();
    ASSERT_NE(view, nullptr);
    view->repaint();  // painting both views over the stranger does not trip
    capWidget()->repaint();
    // Played, the stranger is shown in its turn, fitted; the replay ends on time all the same.
    ASSERT_TRUE(at::triggerMenu(cap_, "Play Last Frames"));
    EXPECT_EQ(at::playingFrame(cap_), 0);
    pt::advanceClock(201);  // 67 ms a frame: ticks at 67, 134 and 201
    EXPECT_EQ(at::playingFrame(cap_), 3);
    view->repaint();
    pt::advanceClock(67);
    EXPECT_EQ(at::playingFrame(cap_), -1);
}

// Play Last Frames runs on the platform's timers at the file's own rate and returns to the live
// picture; the recording's timed frame steps come on time meanwhile, looping or not.
TEST_F(AnimationTest, PlayLastFramesReturnsToLiveAndTimedStepsStayOnTime)
{
    const std::string file = path("play.avi");
    ASSERT_TRUE(open(file, 100000));  // 10 frames per second: 100 ms a frame
    EXPECT_EQ(grab(12), 12);
    auto tick = [](HWND, UINT, UINT_PTR, DWORD) { send(ticking_, WM_CAP_SINGLE_FRAME); };
    ASSERT_NE(SetTimer(parent_->handle(), 1, 1000, tick), 0u);

    ASSERT_TRUE(at::triggerMenu(cap_, "Play Last Frames"));
    EXPECT_EQ(at::playingFrame(cap_), 2) << "the last 10 of 12";
    EXPECT_TRUE(contains(at::statusText(cap_), "Playing frame 1 of 10")) << at::statusText(cap_);
    EXPECT_TRUE(enabled("Stop Playing"));
    pt::advanceClock(300);
    EXPECT_EQ(at::playingFrame(cap_), 5);
    pt::advanceClock(699);
    EXPECT_EQ(at::playingFrame(cap_), 11) << "the 10th frame, shown at 900 ms";
    EXPECT_EQ(at::openFileFrames(cap_), 12u);
    pt::advanceClock(1);
    EXPECT_EQ(at::openFileFrames(cap_), 13u) << "the step at 1000 ms";
    EXPECT_EQ(at::playingFrame(cap_), -1) << "back to the live picture after the 10th frame";

    ASSERT_TRUE(at::triggerMenu(cap_, "Loop"));
    ASSERT_TRUE(at::triggerMenu(cap_, "Play Last/5 Frames"));
    ASSERT_TRUE(at::triggerMenu(cap_, "Play Last Frames"));
    EXPECT_EQ(at::playingFrame(cap_), 8);
    for (uint64_t frames = 14; frames <= 16; ++frames) {
        pt::advanceClock(999);
        EXPECT_EQ(at::openFileFrames(cap_), frames - 1);
        pt::advanceClock(1);
        EXPECT_EQ(at::openFileFrames(cap_), frames) << "each step on time while the replay loops";
        EXPECT_NE(at::playingFrame(cap_), -1);
    }
    EXPECT_TRUE(contains(at::statusText(cap_), ", looping")) << at::statusText(cap_);
    ASSERT_TRUE(at::triggerMenu(cap_, "Stop Playing"));
    EXPECT_EQ(at::playingFrame(cap_), -1);
    EXPECT_FALSE(contains(at::statusText(cap_), "Playing"));
    KillTimer(parent_->handle(), 1);

    // Nothing to play: no file open.
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    QWidget* view = openLiveView();
    key(view, Qt::Key_P);
    EXPECT_EQ(at::playingFrame(cap_), -1);
    EXPECT_TRUE(contains(at::statusText(cap_), "Nothing to play: no capture file is open.")) << at::statusText(cap_);
    EXPECT_EQ(readBack(file).packets, 16);
}

// Remove and put back through the menu: the file holds N-1 frames, then N again, once; a new
// frame ends the chance. Each is a journal line; FFmpeg reads the file as it is told.
TEST_F(AnimationTest, RemoveAndPutBackThroughTheMenuWithJournalLines)
{
    const std::string file = path("remove.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(3), 3);
    EXPECT_FALSE(enabled("Put Back Removed Frame"));
    ASSERT_TRUE(at::triggerMenu(cap_, "Remove Last Frame"));
    EXPECT_EQ(at::openFileFrames(cap_), 2u);
    EXPECT_EQ(readBack(file).stamps, seq(1, 2)) << "the file on disk holds two frames at once";
    EXPECT_TRUE(enabled("Put Back Removed Frame"));
    ASSERT_TRUE(at::triggerMenu(cap_, "Put Back Removed Frame"));
    EXPECT_EQ(at::openFileFrames(cap_), 3u);
    EXPECT_EQ(readBack(file).stamps, seq(1, 3));
    EXPECT_FALSE(enabled("Put Back Removed Frame")) << "once only";
    EXPECT_FALSE(at::triggerMenu(cap_, "Put Back Removed Frame"));

    ASSERT_TRUE(at::triggerMenu(cap_, "Remove Last Frame"));
    ASSERT_TRUE(at::triggerMenu(cap_, "Remove Last Frame"));
    EXPECT_EQ(at::openFileFrames(cap_), 1u);
    EXPECT_EQ(grab(1), 1);  // capture number 4
    EXPECT_FALSE(enabled("Put Back Removed Frame")) << "a new frame ends the put back";
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    const ReadBack back = readBack(file);
    EXPECT_EQ(back.headerFrames, 2);
    EXPECT_EQ(back.stamps, (std::vector<uint64_t>{1, 4}));

    const std::vector<std::string> journal = journalLines(file);
    int removed = 0, putBack = 0;
    for (const std::string& line : journal) {
        removed += contains(line, "removed by the user");
        putBack += contains(line, "put back by the user");
    }
    EXPECT_EQ(removed, 3);
    EXPECT_EQ(putBack, 1);
    EXPECT_TRUE(anyContains(journal, "Frame 3 removed by the user; 2 frames in the file."));
    EXPECT_TRUE(anyContains(journal, "Frame 3 put back by the user; 3 frames in the file."));
}

// Remove with no file open, or an empty one: nothing happens, and the status line says why.
TEST_F(AnimationTest, RemoveWithNoFileOrAnEmptyFileSaysWhy)
{
    QWidget* view = openLiveView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(at::statusText(cap_), "");
    key(view, Qt::Key_Backspace);
    EXPECT_TRUE(contains(at::statusText(cap_), "Nothing removed: no capture file is open.")) << at::statusText(cap_);
    pt::advanceClock(10000);
    EXPECT_EQ(at::statusText(cap_), "") << "the news goes after a while";

    const std::string file = path("empty.avi");
    ASSERT_TRUE(open(file));
    EXPECT_FALSE(enabled("Remove Last Frame"));
    key(view, Qt::Key_Backspace);
    EXPECT_TRUE(contains(at::statusText(cap_), "Nothing removed: empty.avi holds no frames.")) << at::statusText(cap_);
    EXPECT_EQ(at::openFileFrames(cap_), 0u);
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    EXPECT_EQ(readBack(file).stamps, seq(1, 1));
    EXPECT_FALSE(anyContains(journalLines(file), "removed"));
}

// What a person sees (KELVRA_SHOTS_DIR=folder keeps the pictures): the Live View with three
// onion frames, then the same in difference mode; and the small preview's status line.
TEST_F(AnimationTest, PicturesOfTheLiveViewWithOnionSkin)
{
    ASSERT_TRUE(open(path("shots.avi")));
    EXPECT_EQ(grab(4), 4);
    QWidget* view = openLiveView();
    ASSERT_NE(view, nullptr);
    view->resize(640, 400);
    key(view, Qt::Key_3);
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/Opacity 50%"));
    const uint64_t shown = at::picturesShown(cap_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap_) >= shown + 3; }, 5000));
    const QImage normal = view->grab().toImage();
    ASSERT_TRUE(at::triggerMenu(cap_, "Onion Skin/Difference"));
    const QImage difference = view->grab().toImage();
    const QImage preview = capWidget()->grab().toImage();
    EXPECT_EQ(normal.size(), QSize(640, 400));
    EXPECT_NE(normal, difference);
    if (const char* shots = std::getenv("KELVRA_SHOTS_DIR")) {
        ASSERT_TRUE(QDir().mkpath(shots));
        EXPECT_TRUE(normal.save(QDir(shots).filePath("live-view-onion.png")));
        EXPECT_TRUE(difference.save(QDir(shots).filePath("live-view-difference.png")));
        EXPECT_TRUE(preview.save(QDir(shots).filePath("preview-status.png")));
    }
}

// The status line over the 200-pixel preview: rows that do not fit are shortened to whole words,
// never cut inside one; only a file's name may lose its middle when nothing else is left.
TEST(StatusLine, RowsAreShortenedToWholeWords)
{
    QFont font;
    font.setPixelSize(11);
    const QFontMetrics m(font);
    const int width = 194;
    using kelvra::avicap::fitStatusRow;
    auto fits = [&](const QString& s) { return m.horizontalAdvance(s) <= width; };

    const QString room = QStringLiteral("room for 21,841,564 frames, about 1263 days at the present pace");
    const QString shortRoom = fitStatusRow(m, room, width);
    EXPECT_TRUE(fits(shortRoom)) << shortRoom.toStdString();
    EXPECT_TRUE(shortRoom == QStringLiteral("room for 21,841,564 frames, about 1263 days") ||
                shortRoom == QStringLiteral("room for about 1263 days"))
        << shortRoom.toStdString();
    EXPECT_EQ(fitStatusRow(m, QStringLiteral("room for 3 frames"), width), QStringLiteral("room for 3 frames"));

    const QString rec = QStringLiteral("REC /tmp/kelvra-app-recording-very5000ms/folder/take.avi");
    EXPECT_EQ(fitStatusRow(m, rec, width), QStringLiteral("REC \u2026/take.avi"));
    const QString longName = QStringLiteral("REC ~/Videos/a-scene-with-a-very-long-name-for-its-file-indeed.avi");
    const QString fitted = fitStatusRow(m, longName, width);
    EXPECT_TRUE(fits(fitted) && fitted.startsWith(QStringLiteral("REC a-scene")) && fitted.endsWith(QStringLiteral(".avi")))
        << fitted.toStdString();

    const QString news = QStringLiteral("Frame 12 removed. Put Back Removed Frame brings it back.");
    const QString shortNews = fitStatusRow(m, news, width);
    EXPECT_TRUE(fits(shortNews)) << shortNews.toStdString();
    ASSERT_TRUE(shortNews.endsWith(QStringLiteral("\u2026"))) << shortNews.toStdString();
    const QString kept = shortNews.chopped(1);
    EXPECT_TRUE(news.startsWith(kept + QLatin1Char(' '))) << "whole words only: " << shortNews.toStdString();
    EXPECT_EQ(fitStatusRow(m, QStringLiteral("3 frames, last 2 min ago"), 60), QStringLiteral("3 frames"));
}
