// A recording that runs for weeks: an earlier recording chosen again continues in one step, each
// device keeps its settings across runs, frame steps record only in the capture hours, and an
// open that failed for a passing reason is tried again at the next step.
#include "avicap_support.h"
#include "capture_hours.h"
#include "journal.h"

#include <kelvra/media/avi_writer.h>

#include <QDir>
#include <QDoubleSpinBox>
#include <QTimeEdit>
#include <QFile>

#include <cmath>
#include <ctime>

using namespace avicap_test;
using kelvra::avicap::CaptureHours;
using media::TestSource;

namespace {

std::string journalText(const std::string& capture)
{
    return contents(kelvra::avicap::Journal::pathFor(capture)).toStdString();
}

int occurrences(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The local time zone for a test, put back afterwards.
class LocalZone {
public:
    explicit LocalZone(const char* zone)
    {
        if (const char* tz = std::getenv("TZ"))
            saved_ = tz;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone()
    {
        if (saved_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved_.c_str(), 1);
        tzset();
    }

private:
    std::string saved_;
};

int64_t utc(int year, int month, int day, int hour, int minute)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return int64_t(timegm(&tm));
}

}  // namespace

// Sunrise and sunset against almanac values (the sun's centre 50' below the horizon), to within
// two minutes, at three latitudes and both solstices; a polar day and a polar night have neither.
TEST(SunTimes, MatchPublishedValuesWithinTwoMinutes)
{
    const struct {
        const char* place;
        double latitude, longitude;
        int year, month, day;
        double rise, set;  // minutes after UTC midnight
    } rows[] = {
        // Wayne, New Jersey: the almanac's worked example, sunrise 05:26 EDT.
        {"Wayne NJ", 40.9, -74.3, 1990, 6, 25, 9 * 60 + 26, 24 * 60 + 33},
        // London: 04:43 and 21:21 BST at midsummer, 08:04 and 15:53 GMT at midwinter.
        {"London", 51.5074, -0.1278, 2024, 6, 20, 3 * 60 + 43, 20 * 60 + 21},
        {"London", 51.5074, -0.1278, 2024, 12, 21, 8 * 60 + 4, 15 * 60 + 53},
        // Sydney: 05:41 and 20:05 AEDT at midsummer (the day before, in UTC, for the sunrise).
        {"Sydney", -33.8688, 151.2093, 2024, 12, 21, -(5 * 60 + 19), 9 * 60 + 5},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.place) + " " + std::to_string(r.month));
        const kelvra::avicap::SunTimes sun = kelvra::avicap::sunTimes(r.year, r.month, r.day, r.latitude, r.longitude);
        ASSERT_TRUE(sun.riseUtcMinutes && sun.setUtcMinutes);
        EXPECT_NEAR(*sun.riseUtcMinutes, r.rise, 2.0);
        EXPECT_NEAR(*sun.setUtcMinutes, r.set, 2.0);
    }
    const kelvra::avicap::SunTimes midsummer = kelvra::avicap::sunTimes(2024, 6, 21, 69.65, 18.96);  // Tromsø
    EXPECT_TRUE(!midsummer.riseUtcMinutes && !midsummer.setUtcMinutes && midsummer.alwaysUp);
    const kelvra::avicap::SunTimes midwinter = kelvra::avicap::sunTimes(2024, 12, 21, 69.65, 18.96);
    EXPECT_TRUE(!midwinter.riseUtcMinutes && !midwinter.setUtcMinutes && !midwinter.alwaysUp);
}

// Hours across midnight, by the local clock; daylight from the sun, the next beginning found past
// a polar night.
TEST(CaptureHours, InsideAndWhenTheyNextBegin)
{
    LocalZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    CaptureHours night;
    night.mode = CaptureHours::Mode::Between;
    night.fromMinute = 22 * 60;
    night.toMinute = 6 * 60 + 30;
    // 2026-01-10 in Central Europe (UTC+1).
    const struct { int hour, minute; bool inside; int64_t next; } rows[] = {
        {21, 59, false, utc(2026, 1, 10, 21, 0)}, {22, 0, true, 0}, {23, 59, true, 0},
        {0, 0, true, 0}, {6, 29, true, 0}, {6, 30, false, utc(2026, 1, 10, 21, 0)}, {12, 0, false, utc(2026, 1, 10, 21, 0)}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.hour) + ":" + std::to_string(r.minute));
        const kelvra::avicap::HoursVerdict v = kelvra::avicap::checkHours(night, utc(2026, 1, 10, r.hour, r.minute) - 3600);
        EXPECT_EQ(v.inside, r.inside);
        if (!r.inside) {
            EXPECT_EQ(v.nextBeginsEpoch, r.next);
        }
    }
    CaptureHours day;
    day.mode = CaptureHours::Mode::Daylight;
    day.latitude = 51.5074;
    day.longitude = -0.1278;
    LocalZone london("GMT0BST,M3.5.0/1,M10.5.0");
    const kelvra::avicap::HoursVerdict dawn = kelvra::avicap::checkHours(day, utc(2024, 12, 21, 3, 0));
    EXPECT_FALSE(dawn.inside);
    EXPECT_NEAR(double(dawn.nextBeginsEpoch - utc(2024, 12, 21, 8, 4)), 0, 120);
    EXPECT_TRUE(kelvra::avicap::checkHours(day, utc(2024, 12, 21, 12, 0)).inside);
    const kelvra::avicap::HoursVerdict evening = kelvra::avicap::checkHours(day, utc(2024, 12, 21, 17, 0));
    EXPECT_FALSE(evening.inside);
    EXPECT_NEAR(double(evening.nextBeginsEpoch - utc(2024, 12, 22, 8, 5)), 0, 120);
    // Tromsø in its polar night: the sun comes back in the middle of January.
    day.latitude = 69.65;
    day.longitude = 18.96;
    const kelvra::avicap::HoursVerdict polar = kelvra::avicap::checkHours(day, utc(2024, 12, 21, 12, 0));
    EXPECT_FALSE(polar.inside);
    EXPECT_GT(polar.nextBeginsEpoch, utc(2025, 1, 10, 0, 0));
    EXPECT_LT(polar.nextBeginsEpoch, utc(2025, 1, 20, 0, 0));
}

class WeeksTest : public CaptureFileTest {
protected:
    void useCompression(media::Codec codec)
    {
        pt::scriptModal([codec](QDialog& dialog, const ModalInfo&) {
            select(dialog, "codec", codecName(codec));
            dialog.accept();
        });
        ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    }
    void setFormat(int width, int height)
    {
        onTestSource([&](TestSource& s) { ASSERT_TRUE(s.setFormat({media::PixelFormat::YUYV422, width, height, {30, 1}})); });
    }
    media::StreamFormat format()
    {
        media::StreamFormat f;
        at::withSource(cap_, [&](media::FrameSource& s) { f = s.format(); });
        return f;
    }
    // The program closed and started again: a new window connects to the same device.
    void restart()
    {
        DestroyWindow(cap_);
        createCaptureWindow();
        ASSERT_TRUE(connect());
        ticking_ = cap_;
    }
};

// A recording chosen again brings the device to its size and the compressor to its own at once,
// and says so; REC then adds to it. One the device cannot make is told of at once, before REC.
TEST_F(WeeksTest, AnEarlierRecordingContinuesInOneStep)
{
    const std::string file = path("garden.avi");
    useCompression(media::Codec::Uncompressed);
    setFormat(320, 240);
    EXPECT_EQ(record("garden.avi", 3).packets, 3);
    std::remove(at::deviceSettingsPath().c_str());  // a device that remembers nothing
    restart();
    EXPECT_EQ(format().width, 640);

    ASSERT_TRUE(setCaptureFile(cap_, file));
    EXPECT_EQ(at::statusText(cap_), "continues garden.avi: 320x240 Full Frames (Uncompressed), 3 frames");
    EXPECT_EQ(std::pair(format().width, format().height), std::pair(320, 240));
    EXPECT_EQ(at::reportedErrors(cap_), 0);
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN)) << at::lastError(cap_);
    EXPECT_EQ(grab(2), 2);
    ASSERT_TRUE(close());
    const ReadBack back = readBack(file, false);
    EXPECT_EQ(std::tuple(back.packets, back.codec, back.width), std::tuple(5, std::string("rawvideo"), 320));
    EXPECT_EQ(occurrences(journalText(file), "continues garden.avi: 320x240 Full Frames (Uncompressed), 3 frames"), 1);

    // 100x60 is no size of this device: the refusal names what the file needs and what is offered.
    std::unique_ptr<media::AviWriter> odd;
    media::AviVideoFormat oddFormat{};
    oddFormat.width = 100;
    oddFormat.height = 60;
    oddFormat.bitCount = 24;
    oddFormat.compression = 0;
    oddFormat.sizeImage = 100 * 60 * 3;
    ASSERT_TRUE(media::AviWriter::open(path("odd.avi"), oddFormat, 100000, {}, odd));
    const std::vector<uint8_t> black(100 * 60 * 3);
    ASSERT_TRUE(odd->append(black.data(), black.size(), true));
    ASSERT_TRUE(odd->close());
    ASSERT_TRUE(setCaptureFile(cap_, path("odd.avi")));
    EXPECT_EQ(at::reportedErrors(cap_), 1);
    EXPECT_EQ(at::noticeTitle(cap_), "Video Format");
    EXPECT_NE(at::lastError(cap_).find("holds 100x60 Full Frames (Uncompressed); the capture device 'Kelvra test "
                                       "pattern' offers 160x120, 320x240, 640x480"),
              std::string::npos)
        << at::lastError(cap_);
    EXPECT_EQ(std::pair(format().width, format().height), std::pair(320, 240));  // left as it was
}

// Format, compressor and controls come back for the same device after a restart; what it no
// longer offers is dropped with a journal line; a damaged file is ignored and started anew.
TEST_F(WeeksTest, EachDeviceKeepsItsSettingsAcrossRuns)
{
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/Videos"));  // where the journal of the default file goes
    useCompression(media::Codec::Lossless);
    setFormat(320, 240);
    pt::scriptModal([](QDialog& dialog, const ModalInfo&) { dialog.accept(); });  // Video Format: as it is
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
    restart();
    EXPECT_EQ(std::pair(format().width, format().height), std::pair(320, 240));
    EXPECT_EQ(record("kept.avi", 1).codec, "ffv1");

    // A size this device lacks (written by an older version, or by hand).
    QFile settings(QString::fromStdString(at::deviceSettingsPath()));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    QByteArray text = settings.readAll();
    settings.close();
    text.replace("\"width\": 320", "\"width\": 321");
    ASSERT_TRUE(writeFile(at::deviceSettingsPath(), text));
    restart();
    EXPECT_EQ(format().width, 640);
    const std::string journal = journalText(at::defaultCaptureFile());
    EXPECT_EQ(occurrences(journal, "The saved video format 321x240 is no longer offered by 'Kelvra test pattern' "
                                   "and was dropped."), 1) << journal;
    EXPECT_EQ(record("dropped.avi", 1).codec, "ffv1");  // the rest is kept

    for (const QByteArray& damage : {QByteArray("{\"devices\": [{\"name\": "), QByteArray("\x00\xff garbage", 10)}) {
        ASSERT_TRUE(writeFile(at::deviceSettingsPath(), damage));
        restart();
        EXPECT_EQ(record("fresh.avi", 1).codec, "mjpeg");
    }
    EXPECT_EQ(occurrences(journalText(at::defaultCaptureFile()), "are damaged and were ignored"), 2);
    useCompression(media::Codec::Uncompressed);  // saving starts the file anew
    restart();
    EXPECT_EQ(record("again.avi", 1).codec, "rawvideo");
}

// A night-only time-lapse over two days at a frame an hour: steps outside the hours record
// nothing, each pause is told once in the journal and in the status line.
TEST_F(WeeksTest, CaptureHoursAcrossMidnightOnTheVirtualClock)
{
    LocalZone zone("UTC0");
    at::setWallClock(utc(2026, 3, 1, 12, 0) - int64_t(pt::clockNowMs() / 1000));
    const std::string file = path("night.avi");
    ASSERT_TRUE(open(file));
    auto tick = [](HWND, UINT, UINT_PTR, DWORD) { send(ticking_, WM_CAP_SINGLE_FRAME); };
    ASSERT_NE(SetTimer(parent_->handle(), 1, 3600000, tick), 0u);
    pt::scriptModal([](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.caption, "Capture Hours");
        child<QTimeEdit>(dialog, "from")->setTime(QTime(22, 0));
        child<QTimeEdit>(dialog, "to")->setTime(QTime(2, 0));
        dialog.accept();
    });
    ASSERT_TRUE(at::triggerMenu(cap_, "Capture Hours/Between 07:00 and 19:00"));
    EXPECT_TRUE(menuEntry(cap_, "Capture Hours/Between 22:00 and 02:00").checked);
    EXPECT_FALSE(menuEntry(cap_, "Capture Hours/Always").checked);
    pt::advanceClock(3600000);  // 13:00
    EXPECT_NE(at::statusText(cap_).find("\noutside capture hours until 22:00"), std::string::npos) << at::statusText(cap_);
    pt::advanceClock(48 * 3600000ull - 3600000);  // to 12:00 two days later
    KillTimer(parent_->handle(), 1);
    // 22:00, 23:00, 00:00 and 01:00 on each of two nights; three pauses, each told once.
    EXPECT_EQ(at::openFileFrames(cap_), 8u);
    ASSERT_TRUE(close());
    const std::string journal = journalText(file);
    EXPECT_EQ(occurrences(journal, "Frame steps not recorded: outside capture hours until 22:00."), 3) << journal;
    EXPECT_EQ(occurrences(journal, "Capture hours begin"), 2) << journal;
    restart();  // kept with the device's settings
    EXPECT_TRUE(menuEntry(cap_, "Capture Hours/Between 22:00 and 02:00").checked);

    // Daylight from a place typed once; a cancelled dialog changes nothing.
    pt::scriptModal([](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.caption, "Daylight only");
        child<QDoubleSpinBox>(dialog, "latitude")->setValue(51.4779);
        child<QDoubleSpinBox>(dialog, "longitude")->setValue(-0.0015);
        dialog.accept();
    });
    ASSERT_TRUE(at::triggerMenu(cap_, "Capture Hours/Daylight only"));
    const at::Hours hours = at::captureHours(cap_);
    EXPECT_EQ(hours.mode, 2);
    EXPECT_NEAR(hours.latitude, 51.4779, 1e-6);
    pt::scriptModal(pt::cancel());
    ASSERT_TRUE(at::triggerMenu(cap_, "Capture Hours/Between 22:00 and 02:00"));
    EXPECT_TRUE(menuEntry(cap_, "Capture Hours/Daylight only").checked);
    ASSERT_TRUE(at::triggerMenu(cap_, "Capture Hours/Always"));
    EXPECT_EQ(at::captureHours(cap_).mode, 0);
}

// An open refused for a reason that passes (the folder is not there yet, the disk is full) is
// tried again at each frame step; the steps that went nowhere are one journal line.
TEST_F(WeeksTest, AFailedOpenIsTriedAgainAtEachStep)
{
    const std::string file = path("later/week.avi");
    EXPECT_FALSE(open(file));
    EXPECT_EQ(grab(3), 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path("later"))));  // the disk is plugged in
    EXPECT_EQ(grab(2), 2);
    EXPECT_TRUE(at::fileOpen(cap_));
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(file).packets, 2);
    std::string journal = journalText(file);
    EXPECT_EQ(occurrences(journal, "3 frame steps not recorded: no capture file was open (Cannot"), 1) << journal;
    EXPECT_LT(journal.find("3 frame steps not recorded"), journal.find("Continued '") == std::string::npos
                                                                 ? journal.find("Opened '")
                                                                 : journal.find("Continued '"));

    // A full disk at the open: retried, and the failures are one line, not one per step.
    const std::string full = path("full.avi");
    ASSERT_TRUE(writeFile(path("empty"), QByteArray()));
    withFullDisk(path("empty"), [&] {  // not a byte more fits
        EXPECT_FALSE(open(full));
        EXPECT_EQ(grab(4), 0);
    });
    EXPECT_EQ(grab(1), 1);
    ASSERT_TRUE(close());
    journal = journalText(full);
    EXPECT_EQ(occurrences(journal, "could not be opened again at a frame step"), 1) << journal;
    EXPECT_EQ(occurrences(journal, "4 frame steps not recorded: no capture file was open"), 1) << journal;

    // A file of another kind is not tried again: nothing about it can pass by itself.
    ASSERT_TRUE(writeFile(path("notes.avi"), "a shopping list"));
    EXPECT_FALSE(open(path("notes.avi")));
    EXPECT_EQ(grab(2), 0);
    EXPECT_EQ(contents(path("notes.avi")), QByteArray("a shopping list"));
    EXPECT_FALSE(close());
    EXPECT_EQ(occurrences(journalText(path("notes.avi")), "2 frame steps not recorded"), 1);
}
