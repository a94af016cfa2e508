// The film export: MP4s and picture sequences checked with FFmpeg's demuxer and ffprobe (codec,
// pixel format, every picture counted, rate, the index before the pictures), sizes and ranges,
// and the rule that nothing half-written is ever left at the target: cancel, a kill, a full
// disk, folders that cannot be written, a recording still going on, a damaged recording.
#include "film_test_support.h"

#include <kelvra/export/export_job.h>
#include <kelvra/export/film_export.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sched.h>
#include <unistd.h>

namespace {

using namespace film_test;
using namespace kelvra::film;

constexpr uid_t kNobody = 65534;

class FilmExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir_.path.empty());
        if (!h264Available(why_))
            GTEST_SKIP() << "no H.264 encoding on this machine: " << why_;
    }
    std::string recording(const std::string& name, const RecordingSetup& setup = {})
    {
        EXPECT_EQ(makeRecording(dir_.file(name), setup), "") << name;
        return dir_.file(name);
    }
    ExportSettings settingsFor(const std::string& source, const std::string& target)
    {
        ExportSettings settings;
        settings.source = source;
        settings.target = dir_.file(target);
        return settings;
    }
    ExportResult run(const ExportSettings& settings)
    {
        std::atomic<bool> never{false};
        return exportFilm(settings, {}, never);
    }
    // Files in the scratch folder that an export left under a temporary name.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names = filesIn(dir_.path), partial;
        std::copy_if(names.begin(), names.end(), std::back_inserter(partial),
                     [](const std::string& name) { return name.find(".partial") != std::string::npos; });
        return partial;
    }

    ScratchDir dir_;
    std::string why_;
};

TEST_F(FilmExport, MakesAStreamableHighProfileH264Mp4WithEveryFrameAtTheRecordingsRate)
{
    ExportSettings settings = settingsFor(recording("walk.avi", {.frames = 24, .fps = 12}), "walk.mp4");
    std::vector<int64_t> seen;
    std::atomic<bool> never{false};
    ExportResult result = exportFilm(settings, [&](const ExportProgress& p) {
        EXPECT_EQ(p.total, 24);
        seen.push_back(p.done);
    }, never);
    ASSERT_TRUE(result.status) << result.status.message;
    EXPECT_EQ(result.written, 24);
    EXPECT_EQ(result.skipped, 0);
    EXPECT_EQ(seen.size(), 24u);
    EXPECT_EQ(seen.back(), 24);

    FilmFacts film = readFilm(settings.target);
    ASSERT_EQ(film.error, "");
    EXPECT_EQ(film.codec, "h264");
    EXPECT_EQ(film.pixelFormat, "yuv420p");
    EXPECT_EQ(film.profile, "High");
    EXPECT_EQ(film.width, 160);
    EXPECT_EQ(film.height, 120);
    EXPECT_DOUBLE_EQ(film.framesPerSecond, 12.0);
    EXPECT_EQ(film.frames, 24);
    EXPECT_TRUE(film.moovBeforeMdat) << "+faststart puts the index first";
    EXPECT_TRUE(leftovers().empty());

    const std::string probe = ffprobe(settings.target, "codec_name,pix_fmt,nb_read_frames,avg_frame_rate");
    if (probe.empty())
        GTEST_SKIP() << "ffprobe is not installed";
    EXPECT_NE(probe.find("codec_name=h264"), std::string::npos) << probe;
    EXPECT_NE(probe.find("pix_fmt=yuv420p"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=24"), std::string::npos) << probe;
    EXPECT_NE(probe.find("avg_frame_rate=12/1"), std::string::npos) << probe;
}

TEST_F(FilmExport, RangeRateAndSizeAreThoseChosen)
{
    const std::string source = recording("range.avi", {.frames = 30, .fps = 10, .width = 320, .height = 240});
    struct Case {
        int64_t first, last;
        double fps;
        int boxWidth, boxHeight;
        int64_t frames;
        double expectedFps;
        int width, height;
    };
    const Case cases[] = {
        {5, 14, 25.0, 854, 480, 10, 25.0, 640, 480},       // 4:3 inside 16:9: the height decides
        {0, kToTheEnd, 0, 1280, 720, 30, 10.0, 960, 720},  // the recording's own rate
        {29, 29, 29.97, 0, 0, 1, 29.97, 320, 240},         // the last frame alone
        {20, 500, 240, 1920, 1080, 10, 240.0, 1440, 1080}, // a range past the end stops at it
    };
    for (const Case& c : cases) {
        ExportSettings settings = settingsFor(source, "range.mp4");
        settings.first = c.first;
        settings.last = c.last;
        settings.framesPerSecond = c.fps;
        settings.boxWidth = c.boxWidth;
        settings.boxHeight = c.boxHeight;
        ExportResult result = run(settings);
        ASSERT_TRUE(result.status) << result.status.message;
        FilmFacts film = readFilm(settings.target);
        EXPECT_EQ(film.frames, c.frames) << c.first << ".." << c.last;
        EXPECT_NEAR(film.framesPerSecond, c.expectedFps, 0.001) << c.fps;
        EXPECT_EQ(film.width, c.width) << c.boxWidth;
        EXPECT_EQ(film.height, c.height) << c.boxHeight;
    }
    ExportSettings beyond = settingsFor(source, "beyond.mp4");
    beyond.first = 30;
    ExportResult result = run(beyond);
    EXPECT_FALSE(result.status);
    EXPECT_NE(result.status.message.find("30 frames"), std::string::npos) << result.status.message;
    EXPECT_FALSE(exists(beyond.target));
}

TEST_F(FilmExport, TheFirstFrameOfARangeIsTheFrameAskedFor)
{
    // Frame i is drawn i/30 darker, so the first picture's brightness tells which frame it is.
    RecordingSetup setup{.frames = 30};
    setup.brightness = [](int i) { return 1.0 - i / 30.0; };
    ExportSettings settings = settingsFor(recording("fade.avi", setup), "fade.mp4");
    ExportResult all = run(settings);
    ASSERT_TRUE(all.status) << all.status.message;
    FilmFacts whole = readFilm(settings.target, true);
    settings.first = 10;
    settings.last = 19;
    ASSERT_TRUE(run(settings).status);
    FilmFacts part = readFilm(settings.target, true);
    ASSERT_EQ(whole.meanLuma.size(), 30u);
    ASSERT_EQ(part.meanLuma.size(), 10u);
    for (int i = 0; i < 10; ++i)
        EXPECT_NEAR(part.meanLuma[i], whole.meanLuma[10 + i], 1.5) << "picture " << i;
}

TEST_F(FilmExport, SizesAreMadeEvenAndTheSmallestRecordingsExport)
{
    struct Case {
        int width, height, boxWidth, boxHeight, frames, outWidth, outHeight;
    };
    const Case cases[] = {
        {161, 121, 0, 0, 3, 160, 120},    // odd sides lose their last column and row
        {160, 120, 0, 0, 1, 160, 120},    // one frame gives a one-frame film
        {161, 121, 854, 480, 2, 638, 480},
        {32, 18, 1920, 1080, 2, 1920, 1080},
    };
    for (const Case& c : cases) {
        ExportSettings settings = settingsFor(
            recording("small.avi", {.frames = c.frames, .width = c.width, .height = c.height}), "small.mp4");
        settings.boxWidth = c.boxWidth;
        settings.boxHeight = c.boxHeight;
        ExportResult result = run(settings);
        ASSERT_TRUE(result.status) << c.width << "x" << c.height << ": " << result.status.message;
        FilmFacts film = readFilm(settings.target);
        EXPECT_EQ(film.frames, c.frames);
        EXPECT_EQ(film.width, c.outWidth) << c.width << "x" << c.height << " in " << c.boxWidth;
        EXPECT_EQ(film.height, c.outHeight) << c.width << "x" << c.height << " in " << c.boxHeight;
        std::remove(dir_.file("small.avi").c_str());
    }
    int w = 0, h = 0;
    filmSize(1, 1, 0, 0, w, h);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    filmSize(1920, 1080, 854, 480, w, h);
    EXPECT_EQ(w, 854);
    EXPECT_EQ(h, 480);
}

TEST_F(FilmExport, DeflickerKeepsEveryFrameAndEvensOutBrightness)
{
    RecordingSetup setup{.frames = 40};
    setup.brightness = [](int i) { return i % 2 ? 0.9 : 1.1; };
    const std::string source = recording("flicker.avi", setup);
    auto spread = [](const std::vector<double>& values) {
        double mean = 0, sum = 0;
        for (double v : values)
            mean += v / values.size();
        for (double v : values)
            sum += (v - mean) * (v - mean);
        return std::sqrt(sum / values.size());
    };
    double before = 0;
    for (Deflicker strength : {Deflicker::Off, Deflicker::Light, Deflicker::Strong}) {
        ExportSettings settings = settingsFor(source, "flicker.mp4");
        settings.deflicker = strength;
        ExportResult result = run(settings);
        ASSERT_TRUE(result.status) << result.status.message;
        FilmFacts film = readFilm(settings.target, true);
        EXPECT_EQ(film.frames, 40) << "the filter's held frames come out at the end";
        double after = spread(film.meanLuma);
        if (strength == Deflicker::Off)
            before = after;
        else
            EXPECT_LT(after, before * 0.5) << deflickerWindow(strength);
    }
}

TEST_F(FilmExport, PictureSequencesAreNumberedFilesInANewFolder)
{
    const std::string source = recording("seq.avi", {.frames = 7, .width = 161, .height = 121});
    for (FilmFormat format : {FilmFormat::JpegSequence, FilmFormat::PngSequence}) {
        ExportSettings settings = settingsFor(source, "seq_frames");
        settings.format = format;
        settings.first = 2;
        ExportResult result = run(settings);
        ASSERT_TRUE(result.status) << result.status.message;
        std::vector<std::string> names = filesIn(settings.target);
        ASSERT_EQ(names.size(), 5u);
        EXPECT_EQ(names.front(), pictureName(format, 0));
        EXPECT_EQ(names.back(), format == FilmFormat::PngSequence ? "frame_000005.png" : "frame_000005.jpg");
        for (const std::string& name : names) {
            PictureFacts picture = readPicture(settings.target + "/" + name);
            EXPECT_EQ(picture.error, "") << name;
            EXPECT_EQ(picture.codec, format == FilmFormat::PngSequence ? "png" : "mjpeg") << name;
            EXPECT_EQ(picture.width, 160) << name;
            EXPECT_EQ(picture.height, 120) << name;
        }
        EXPECT_TRUE(leftovers().empty());
    }
    // A second export replaces the folder of pictures whole: no picture of the first stays.
    ExportSettings again = settingsFor(source, "seq_frames");
    again.format = FilmFormat::PngSequence;
    again.last = 1;
    ASSERT_TRUE(run(again).status);
    EXPECT_EQ(filesIn(again.target), (std::vector<std::string>{"frame_000001.png", "frame_000002.png"}));

    // A folder with anything else in it is never taken for a folder of pictures.
    std::ofstream(again.target + "/notes.txt") << "mine";
    TargetState state;
    ASSERT_TRUE(checkTarget(again, state));
    EXPECT_TRUE(state.exists);
    EXPECT_FALSE(state.replaceable);
    ExportResult refused = run(again);
    EXPECT_FALSE(refused.status);
    EXPECT_TRUE(exists(again.target + "/notes.txt"));
}

TEST_F(FilmExport, AnExistingFilmIsReplacedOnlyByACompleteOne)
{
    const std::string source = recording("old.avi", {.frames = 10});
    ExportSettings settings = settingsFor(source, "film.mp4");
    std::ofstream(settings.target) << "an older film";
    TargetState state;
    ASSERT_TRUE(checkTarget(settings, state));
    EXPECT_TRUE(state.exists);
    EXPECT_TRUE(state.replaceable);

    std::atomic<bool> cancel{false};
    ExportResult cancelled = exportFilm(settings, [&](const ExportProgress& p) {
        if (p.done == 3)
            cancel = true;
    }, cancel);
    EXPECT_EQ(cancelled.status.code, kCancelled);
    std::ifstream kept(settings.target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "an older film") << "cancel keeps the old film";
    EXPECT_TRUE(leftovers().empty()) << leftovers().front();

    ASSERT_TRUE(run(settings).status);
    EXPECT_EQ(readFilm(settings.target).frames, 10);
    EXPECT_TRUE(leftovers().empty());

    ExportSettings onItself = settingsFor(source, "old.avi");
    ExportResult refused = run(onItself);
    EXPECT_FALSE(refused.status);
    EXPECT_EQ(readFilm(source).frames, 10) << "the recording is untouched";
}

TEST_F(FilmExport, OnItsOwnThreadItRunsAtALowerPriorityAndCancelLeavesNothing)
{
    ExportSettings settings = settingsFor(recording("job.avi", {.frames = 60}), "job.mp4");
    std::atomic<int> notices{0};
    std::atomic<int> niceness{-100};
    errno = 0;
    const int ours = getpriority(PRIO_PROCESS, id_t(gettid()));
    ASSERT_EQ(errno, 0);
    ExportJob job(settings, [&] {
        ++notices;
        niceness = getpriority(PRIO_PROCESS, id_t(gettid()));
    });
    while (job.progress().done < 2 && !job.finished())
        std::this_thread::yield();
    job.cancel();
    job.wait();
    ASSERT_TRUE(job.finished());
    EXPECT_EQ(job.result().status.code, kCancelled);
    EXPECT_FALSE(exists(settings.target));
    EXPECT_TRUE(leftovers().empty());
    EXPECT_GE(notices.load(), 3);
    EXPECT_EQ(niceness.load(), std::min(ours + 10, 19)) << "the export yields to the windows and the recording";
}

TEST_F(FilmExport, AKilledExportLeavesNoFilmAndTheNextOneRemovesItsTemporaryFile)
{
    ExportSettings settings = settingsFor(recording("killed.avi", {.frames = 20}), "killed.mp4");
    const std::string died = inChild([&](int) {
        std::atomic<bool> never{false};
        exportFilm(settings, [](const ExportProgress& p) {
            if (p.done == 5)
                raise(SIGKILL);
        }, never);
        return std::string("the export was not killed");
    });
    EXPECT_NE(died.find("signal 9"), std::string::npos) << died;
    EXPECT_FALSE(exists(settings.target));
    ASSERT_EQ(leftovers().size(), 1u) << "the killed run's temporary file";

    // Another export to another name leaves it alone; the next one to this name removes it.
    ASSERT_TRUE(run(settingsFor(settings.source, "other.mp4")).status);
    EXPECT_EQ(leftovers().size(), 1u);
    ExportResult again = run(settings);
    ASSERT_TRUE(again.status) << again.status.message;
    EXPECT_EQ(readFilm(settings.target).frames, 20);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(FilmExport, AFullDiskEndsTheExportClearlyWithNothingLeftAndTheRecordingUntouched)
{
    const std::string source = recording("full.avi", {.frames = 30, .width = 320, .height = 240});
    std::ifstream in(source, std::ios::binary);
    const std::string before(std::istreambuf_iterator<char>(in), {});
    ExportSettings settings = settingsFor(source, "full.mp4");
    for (FilmFormat format : {FilmFormat::Mp4, FilmFormat::PngSequence}) {
        settings.format = format;
        settings.target = dir_.file(format == FilmFormat::Mp4 ? "full.mp4" : "full_frames");
        const std::string message = inChild([&](int) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{4096, RLIM_INFINITY};  // as a disk with 4 KiB left would
            setrlimit(RLIMIT_FSIZE, &limit);
            std::atomic<bool> never{false};
            ExportResult result = exportFilm(settings, {}, never);
            return result.status ? std::string("the export did not fail") : result.status.message;
        });
        EXPECT_NE(message.find("The disk is full"), std::string::npos) << message;
        EXPECT_NE(message.find("recording is untouched"), std::string::npos) << message;
        EXPECT_FALSE(exists(settings.target));
        EXPECT_TRUE(leftovers().empty());
    }
    std::ifstream after(source, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(after), {}) == before);
}

TEST_F(FilmExport, FoldersThatAreMissingOrCannotBeWrittenAreRefusedBeforeAnyWork)
{
    const std::string source = recording("src.avi", {.frames = 3});
    ExportSettings missing = settingsFor(source, "no/such/folder/film.mp4");
    TargetState state;
    Status st = checkTarget(missing, state);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("does not exist"), std::string::npos) << st.message;
    EXPECT_FALSE(run(missing).status);

    const std::string locked = dir_.file("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(dir_.path.c_str(), 0755), 0);
    ASSERT_EQ(chmod(source.c_str(), 0644), 0);
    ExportSettings readOnly = settingsFor(source, "locked/film.mp4");
    // As root, permissions do not apply: the child gives them up first.
    const std::string refused = inChild([&](int) -> std::string {
        if (geteuid() == 0 && (setgid(kNobody) < 0 || setuid(kNobody) < 0))
            return std::string("cannot give up root: ") + std::strerror(errno);
        TargetState ignored;
        Status check = checkTarget(readOnly, ignored);
        if (check || check.message.find("cannot be written to") == std::string::npos)
            return "checkTarget: " + check.message;
        std::atomic<bool> never{false};
        ExportResult result = exportFilm(readOnly, {}, never);
        return result.status ? "the export ran" : "";
    });
    EXPECT_EQ(refused, "");
    EXPECT_TRUE(filesIn(locked).empty());

    ExportSettings onFolder = settingsFor(source, "locked");
    EXPECT_FALSE(checkTarget(onFolder, state)) << "an MP4 cannot replace a folder";
}

TEST_F(FilmExport, ARecordingStillGoingOnExportsTheFramesItHeldAtTheStart)
{
    RecordingSetup setup{.frames = 6};
    std::unique_ptr<kelvra::media::AviWriter> writer;
    const std::string source = dir_.file("live.avi");
    ASSERT_EQ(makeRecording(source, setup, &writer), "");
    ExportSettings settings = settingsFor(source, "live.mp4");
    std::atomic<bool> never{false};
    bool appended = false;
    ExportResult result = exportFilm(settings, [&](const ExportProgress& p) {
        if (p.done == 2 && !appended) {  // the recording goes on during the export
            appended = true;
            EXPECT_EQ(appendFrames(*writer, setup, 6, 9), "");
        }
    }, never);
    ASSERT_TRUE(result.status) << result.status.message;
    EXPECT_EQ(result.written, 6);
    EXPECT_EQ(readFilm(settings.target).frames, 6);
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(readFilm(source).frames, 9) << "the recording carries on untouched";
}

TEST_F(FilmExport, ADamagedRecordingExportsWhatCanBeReadAndCountsTheRest)
{
    const std::string source = recording("damaged.avi", {.frames = 12});
    // Three pictures are overwritten whole (the chunks stay, their bytes are no JPEG any more).
    std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    int damaged = 0;
    for (size_t at = 0, seen = 0; (at = bytes.find("00dc", at)) != std::string::npos; at += 4) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at + 8, 2, "\xFF\xD8") != 0)
            continue;  // an index entry, not a chunk
        if (seen == 3 || seen == 6 || seen == 7) {
            file.seekp(std::streamoff(at + 8));
            file.write(std::string(size, '\x55').data(), size);
            ++damaged;
        }
        ++seen;
    }
    file.close();
    ASSERT_EQ(damaged, 3);
    ExportSettings settings = settingsFor(source, "damaged.mp4");
    ExportResult result = run(settings);
    ASSERT_TRUE(result.status) << result.status.message;
    EXPECT_EQ(result.written + result.skipped, 12);
    EXPECT_GE(result.skipped, 1);
    EXPECT_EQ(readFilm(settings.target).frames, result.written);

    // A file that is no recording at all is refused with a message, and nothing is written.
    std::ofstream(dir_.file("junk.avi")) << "not a recording";
    ExportResult junk = run(settingsFor(dir_.file("junk.avi"), "junk.mp4"));
    EXPECT_FALSE(junk.status);
    EXPECT_FALSE(junk.status.message.empty());
    EXPECT_FALSE(exists(dir_.file("junk.mp4")));
    EXPECT_TRUE(leftovers().empty());
}

// The export words a file it cannot open in its own terms; the rest it says as the player does.
TEST_F(FilmExport, AFileThatCannotBeReadIsNamedAsTheRecording)
{
    std::ofstream(dir_.file("empty.avi"));
    std::string bytes;
    {
        std::ifstream in(recording("zzzz.avi"), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    for (size_t at = 0; (at = bytes.find("MJPG", at)) != std::string::npos;)
        bytes.replace(at, 4, "ZZZZ");  // a compression nobody knows
    std::ofstream(dir_.file("zzzz.avi"), std::ios::binary) << bytes;

    SourceInfo info;
    EXPECT_EQ(probeSource(dir_.file("empty.avi"), info).message,
              "Cannot open the recording '" + dir_.file("empty.avi") + "': Invalid data found when processing input");
    EXPECT_EQ(probeSource(dir_.file("zzzz.avi"), info).message,
              "The video in '" + dir_.file("zzzz.avi") + "' cannot be decoded here");
    EXPECT_EQ(run(settingsFor(dir_.file("zzzz.avi"), "zzzz.mp4")).status.message,
              "The video in '" + dir_.file("zzzz.avi") + "' cannot be decoded here");
    EXPECT_FALSE(exists(dir_.file("zzzz.mp4")));
}

}  // namespace
