// The journal beside the capture file and the status line over the preview, after a scripted
// run on the virtual clock: the camera unplugged and back, a full disk and room again, a step
// late after a suspend, a frozen camera.
#include "avicap_support.h"
#include "journal.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTest>

#include <cstdlib>

using namespace avicap_test;
using media::TestSource;

namespace {

// The journal's events, each line checked for its local time stamp.
std::vector<std::string> journalEvents(const std::string& capture)
{
    static const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  (.+)$"));
    std::vector<std::string> events;
    const QByteArray text = contents(kelvra::avicap::Journal::pathFor(capture));
    EXPECT_TRUE(text.endsWith('\n'));
    for (const QByteArray& l : text.split('\n')) {
        if (l.isEmpty())
            continue;
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(l));
        EXPECT_TRUE(m.hasMatch()) << l.toStdString();
        events.push_back(m.captured(1).toStdString());
    }
    return events;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

TEST_F(CaptureFileTest, JournalAndStatusLineTellTheWholeRun)
{
    pt::scriptModal([](QDialog& dialog, const ModalInfo&) {
        select(dialog, "codec", codecName(media::Codec::Uncompressed));  // big frames fill the disk soon
        dialog.accept();
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    const std::string file = path("week.avi");
    ASSERT_TRUE(open(file));
    EXPECT_EQ(at::journalPath(cap_), file + ".log");
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(close());
    EXPECT_EQ(at::statusText(cap_), "");

    startRecording(file);
    at::setGrabTimeout(cap_, std::chrono::milliseconds(30));
    pt::advanceClock(4000);
    const std::string status = at::statusText(cap_);
    EXPECT_EQ(status.rfind("REC " + path("week.avi") + "\n6 frames, last 0 s ago\nroom for ", 0), 0u) << status;
    EXPECT_NE(status.find(" at the present pace"), std::string::npos) << status;
    pt::advanceClock(500);
    EXPECT_NE(at::statusText(cap_).find("last 0 s ago"), std::string::npos);

    onTestSource([](TestSource& s) { s.setUnplugged(true); });
    pt::advanceClock(2000);
    onTestSource([](TestSource& s) { s.setUnplugged(false); });
    pt::advanceClock(1000);
    int refused = 0;
    withFullDisk(file, [&] {
        for (int i = 0; i < 100 && refused < 3; ++i) {
            const uint64_t before = at::openFileFrames(cap_);
            pt::advanceClock(1000);
            refused += at::openFileFrames(cap_) == before;
        }
    });
    ASSERT_EQ(refused, 3) << "the limit was never reached";
    pt::advanceClock(1000);
    EXPECT_EQ(at::bannerText(cap_), "");
    pt::spendClock(3601000);  // the computer sleeps for an hour
    pt::advanceClock(1000);
    onTestSource([](TestSource& s) { s.setFrozen(true); });
    pt::advanceClock(10000);
    EXPECT_NE(at::bannerText(cap_).find("same picture 10 times"), std::string::npos) << at::bannerText(cap_);
    onTestSource([](TestSource& s) { s.setFrozen(false); });
    pt::advanceClock(1000);
    EXPECT_EQ(at::bannerText(cap_), "");

    // What a person sees over the preview (KELVRA_SHOTS_DIR=folder keeps it).
    const uint64_t shown = at::picturesShown(cap_);
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap_) >= shown + 2; }, 5000));
    const QImage shot = kelvra::platform::widgetFromHandle(cap_)->grab().toImage();
    EXPECT_FALSE(shot.isNull());
    const char* shots = std::getenv("KELVRA_SHOTS_DIR");
    EXPECT_TRUE(!shots || (QDir().mkpath(shots) && shot.save(QDir(shots).filePath("avicap-status.png"))));

    KillTimer(parent_->handle(), 1);
    const uint64_t frames = at::openFileFrames(cap_);
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file, false).packets, int64_t(frames));

    // The room warnings come and go with the full disk; the rest is exactly this.
    std::vector<std::string> events = journalEvents(file);
    std::vector<std::string> room;
    std::erase_if(events, [&](const std::string& e) {
        const bool isRoom = startsWith(e, "Less than a day") || startsWith(e, "More than a day");
        if (isRoom)
            room.push_back(e.substr(0, 15));
        return isRoom;
    });
    EXPECT_TRUE(room.empty() || room == (std::vector<std::string>{"Less than a day", "More than a day"}));
    const std::string camera = "Camera '" + std::string(media::kTestDriverName) + "' ";
    const std::string gone = "Frame step not recorded: The capture device '" + std::string(media::kTestDriverName) +
                             "' is gone.";
    const std::vector<std::string> expected = {
        "Opened '" + file + "' for capture: a new recording, 640x480, Full Frames (Uncompressed).",
        "Closed with 2 frames in the file.",
        "continues week.avi: 640x480 Full Frames (Uncompressed), 2 frames",
        "Continued '" + file + "': 2 frames already in it, 640x480, Full Frames (Uncompressed).",
        camera + "lost.", gone, gone, camera + "back.",
        "Disk error, frame step not recorded:", "Disk error, frame step not recorded:",
        "Disk error, frame step not recorded:",
        "Frame step 1 h late (the steps came every 1 s); the computer may have been asleep or busy.",
        "The camera delivered the same picture 10 times in a row: it may be frozen.",
        "The camera's picture changes again.",
        "Closed with " + std::to_string(frames) + " frames in the file."};
    ASSERT_EQ(events.size(), expected.size()) << ::testing::PrintToString(events);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(startsWith(events[i], expected[i])) << events[i] << "\nexpected: " << expected[i];
}

// The journal can never stop a recording: where it cannot be written the frames still go in;
// lines a full disk refuses wait and follow once there is room, in order and whole.
TEST_F(CaptureFileTest, JournalFailuresNeverStopARecordingAndLinesCatchUp)
{
    const std::string file = path("nolog.avi");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file + ".log")));  // a folder where the journal would go
    ASSERT_TRUE(open(file));
    EXPECT_EQ(grab(3), 3);
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).stamps, seq(1, 3));
    EXPECT_EQ(at::reportedErrors(cap_), 0);

    const std::string capture = path("catch-up.avi");
    kelvra::avicap::Journal journal(capture);
    journal.write("one");
    withFullDisk(journal.path(), [&] {
        journal.write("two");
        journal.write("three");
        EXPECT_EQ(journal.pendingLines(), 2u);
    });
    EXPECT_EQ(journalEvents(capture), (std::vector<std::string>{"one"}));
    journal.write("four");
    EXPECT_EQ(journal.pendingLines(), 0u);
    EXPECT_EQ(journalEvents(capture), (std::vector<std::string>{"one", "two", "three", "four"}));
}

// Frames grabbed by hand between timed ones make the pace unknown for a step each time; with the
// room shrinking steadily the warning comes once and stays, never flickering with the pace.
TEST_F(CaptureFileTest, RoomWarningHoldsWhileGrabbedFramesMixIntoATimedRecording)
{
    pt::scriptModal([](QDialog& dialog, const ModalInfo&) {
        select(dialog, "codec", codecName(media::Codec::Uncompressed));  // frames of a known size
        dialog.accept();
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    const uint64_t frameBytes = 640 * 480 * 3;
    uint64_t room = frameBytes * 40000;  // half a day at one frame a second
    at::setDiskRoom(room);
    const std::string file = path("mixed.avi");
    startRecording(file);
    for (int second = 0; second < 20; ++second) {
        pt::advanceClock(1000);
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));  // GRAB SINGLE FRAME, as the program sends it
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME));
        room -= 2 * frameBytes;
        at::setDiskRoom(room);
    }
    KillTimer(parent_->handle(), 1);
    EXPECT_NE(at::bannerText(cap_).find("Less than a day"), std::string::npos) << at::bannerText(cap_);
    ASSERT_TRUE(close());
    std::vector<std::string> room_lines;
    for (const std::string& e : journalEvents(file))
        if (startsWith(e, "Less than a day") || startsWith(e, "More than a day"))
            room_lines.push_back(e.substr(0, 15));
    EXPECT_EQ(room_lines, std::vector<std::string>{"Less than a day"});
}
