// A recording that is killed, or loses power, at any moment: every file left behind is a valid
// AVI that holds every frame whose append had returned (and at most the one being written),
// and the writer continues it.
#include "avi_test_support.h"

#include "avi_riff.h"  // the writer's change observer

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>

using namespace kelvra::media;
using namespace avitest;

namespace {

constexpr size_t kBase = 1000;

// The child appends frames and reports each count once append() has returned. SIGKILL loses
// nothing that is in the page cache, so the child need not sync to disk; power failures are
// played separately below.
[[noreturn]] void recordUntilKilled(const std::string& path, int reportFd)
{
    std::unique_ptr<AviWriter> writer;
    if (!AviWriter::open(path, mjpegFormat(160, 120), kUs15Fps, fastOptions(5 << 20), writer))
        _exit(2);
    for (uint64_t count = writer->frameCount() + 1;; ++count) {
        if (!appendFrames(*writer, count - 1, count, kBase))
            _exit(3);
        if (write(reportFd, &count, sizeof count) != sizeof count)
            _exit(4);
    }
}

TEST(AviCrash, KilledAtRandomMomentsLosesNothingThatWasAppended)
{
    ScratchDir dir;
    const std::string path = dir.file("killed.avi");
    std::mt19937 random(20261206);
    uint64_t returned = 0;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            recordUntilKilled(path, fds[1]);
        }
        close(fds[1]);
        usleep(useconds_t(std::uniform_int_distribution<int>(500, 15000)(random)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << WEXITSTATUS(status);
        for (uint64_t count; read(fds[0], &count, sizeof count) == sizeof count;)
            returned = count;
        close(fds[0]);
        // A new file appears whole under its name, so one killed while being created is absent.
        if (returned == 0 && access(path.c_str(), F_OK) != 0)
            continue;
        const Readback r = readAvi(path);
        ASSERT_TRUE(r.openError.empty() && r.loggedErrors == 0) << describe(r);
        ASSERT_GE(r.packets.size(), returned);
        ASSERT_LE(r.packets.size(), returned + 1);
        ASSERT_EQ(checkFrames(r, kBase), "");
        ASSERT_LE(r.headerFrames, int64_t(r.packets.size()));
        ASSERT_GE(r.headerFrames + 1, int64_t(r.packets.size()));
        returned = r.packets.size();
    }
    EXPECT_GT(returned, 5000u) << "the children appended too little to cross the RIFF limit";
    auto writer = openWriter(path, mjpegFormat(160, 120), {});
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->frameCount(), returned);
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(checkRecording(path, returned, kBase), "");
    EXPECT_EQ(readAvi(path, false).packets.size(), returned);
}

// Every change the writer makes, in order, as the disk would see it.
struct Op {
    enum Kind { Write, Resize, Sync } kind;
    uint64_t offset;  // the new size for Resize
    std::vector<uint8_t> data;
};

std::vector<Op> recording(const std::function<void()>& action)
{
    struct Recorder final : avi::AviIoObserver {
        void written(uint64_t offset, const uint8_t* data, size_t size) override { ops.push_back({Op::Write, offset, {data, data + size}}); }
        void resized(uint64_t size) override { ops.push_back({Op::Resize, size, {}}); }
        void synced() override { ops.push_back({Op::Sync, 0, {}}); }
        std::vector<Op> ops;
    } recorder;
    avi::setAviIoObserver(&recorder);
    action();
    avi::setAviIoObserver(nullptr);
    return std::move(recorder.ops);
}

void apply(std::vector<uint8_t>& image, const Op& op)
{
    if (op.kind == Op::Resize)
        image.resize(op.offset);
    if (op.kind != Op::Write)
        return;
    if (op.offset + op.data.size() > image.size())
        image.resize(op.offset + op.data.size());
    std::copy(op.data.begin(), op.data.end(), image.begin() + long(op.offset));
}

void store(const std::string& path, const std::vector<uint8_t>& image)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(image.data()), long(image.size()));
}

// A file cut short by a power failure reads as `before` or `after` frames, and the writer
// continues it.
std::string checkCutFile(const std::string& path, uint64_t before, uint64_t after, size_t base, bool cutShort = false)
{
    for (bool odml : {true, false}) {
        Readback r = readAvi(path, odml);
        // A file cut inside its last frame may end in that frame's first bytes.
        const std::vector<uint8_t> last = testFrame(after - 1, base);
        if (cutShort && r.packets.size() == after && r.packets.back().size() < last.size()) {
            if (!std::equal(r.packets.back().begin(), r.packets.back().end(), last.begin()))
                return "the cut frame is not a prefix of the frame";
            r.packets.pop_back();
        }
        if (!r.openError.empty() || r.packets.size() < before || r.packets.size() > after)
            return std::string(odml ? "OpenDML" : "idx1") + " read " + std::to_string(r.packets.size()) + " frames " + r.openError;
        if (std::string bad = checkFrames(r, base); !bad.empty())
            return bad;
    }
    std::unique_ptr<AviWriter> writer;
    Status st = AviWriter::open(path, mjpegFormat(160, 120), kUs15Fps, fastOptions(), writer);
    if (!st)
        return "reopen: " + st.message;
    const uint64_t frames = writer->frameCount();
    if (frames < before || frames > after || !(st = appendFrames(*writer, frames, frames + 1, base)) ||
        !(st = writer->close()))
        return "recovered " + std::to_string(frames) + " frames: " + st.message;
    if (std::string bad = checkRecording(path, frames + 1, base); !bad.empty())
        return "after recovery: " + bad;
    return {};
}

// Plays a power failure at every point of `ops`: everything before the last sync is on disk,
// of the writes after it any prefix, or all but one.
void replayCuts(const std::string& scratch, const std::vector<uint8_t>& image, const std::vector<Op>& ops,
                uint64_t before, uint64_t after, size_t base, const std::string& what)
{
    std::vector<uint8_t> synced = image;
    size_t phaseStart = 0;
    for (size_t i = 0; i <= ops.size(); ++i) {
        if (i < ops.size() && ops[i].kind != Op::Sync)
            continue;
        for (size_t skip = phaseStart; skip <= i; ++skip) {
            for (size_t upTo = (skip == i ? phaseStart : i); upTo <= i; ++upTo) {
                std::vector<uint8_t> cut = synced;
                for (size_t k = phaseStart; k < upTo; ++k)
                    if (k != skip)
                        apply(cut, ops[k]);
                store(scratch, cut);
                ASSERT_EQ(checkCutFile(scratch, before, after, base), "")
                    << what << ": cut after " << upTo << " of " << ops.size() << " changes"
                    << (skip < i ? ", change " + std::to_string(skip) + " lost" : "");
            }
        }
        for (size_t k = phaseStart; k < i; ++k)
            apply(synced, ops[k]);
        phaseStart = i + 1;
    }
}

// What makes an append worth playing through: it starts a segment or an index, moves idx1
// (writes more than its header), grows the file, or it is one of the first.
std::string interesting(const std::vector<Op>& ops, uint64_t k)
{
    const auto wrote = [&](const char* tag, size_t minSize) {
        return std::any_of(ops.begin(), ops.end(), [&](const Op& op) {
            return op.kind == Op::Write && op.data.size() >= minSize && std::equal(tag, tag + 4, op.data.begin());
        });
    };
    if (wrote("RIFF", 4))
        return "new AVIX segment";
    if (wrote("ix00", 4))
        return "new standard index";
    if (wrote("idx1", 17))
        return "idx1 moves";
    if (std::any_of(ops.begin(), ops.end(), [](const Op& op) { return op.kind == Op::Resize; }))
        return "slack grows";
    return k < 2 ? "plain append" : "";
}

// Records small frames with a 1 MiB RIFF limit, playing a power failure at every point of
// the first append of each kind: in the first RIFF, or in the AVIX segments and then closing
// and reopening the file.
void playPowerFailures(bool inFirstRiff)
{
    ScratchDir dir;
    const std::string path = dir.file("power.avi"), scratch = dir.file("cut.avi");
    const uint64_t kFrames = inFirstRiff ? 1200 : 2400;
    auto writer = openWriter(path, mjpegFormat(160, 120));
    ASSERT_TRUE(writer);
    std::vector<uint8_t> image = fileBytes(path);
    std::set<std::string> played;
    bool firstRiff = true;
    for (uint64_t k = 0; k < kFrames && (firstRiff || !inFirstRiff); ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        const std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->append(frame.data(), frame.size(), k % 3 != 1)); });
        const std::string what = interesting(ops, k);
        if (!what.empty() && firstRiff == inFirstRiff && played.insert(what).second)
            replayCuts(scratch, image, ops, k, k + 1, kBase, what + " at frame " + std::to_string(k));
        for (const Op& op : ops)
            apply(image, op);
        firstRiff = firstRiff && what != "new AVIX segment";
    }
    ASSERT_TRUE(image == fileBytes(path)) << "the observer missed a change";
    EXPECT_GE(played.size(), inFirstRiff ? 4u : 2u) << "too few kinds of append were played";
    if (inFirstRiff)
        return;
    std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->close()); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kBase, "closing in an AVIX segment");
    for (const Op& op : ops)
        apply(image, op);
    ops = recording([&] { writer = openWriter(path, mjpegFormat(160, 120)); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kBase, "reopening");
}

TEST(AviCrash, APowerFailureAtAnyPointOfTheFirstRiffLeavesAValidFile)
{
    playPowerFailures(true);
}

TEST(AviCrash, APowerFailureAtAnyPointOfAnAvixSegmentLeavesAValidFile)
{
    playPowerFailures(false);
}

// With syncing on, as in real recordings, closing replays in several phases.
TEST(AviCrash, APowerFailureWhileClosingTheFirstRiffLeavesAValidFile)
{
    ScratchDir dir;
    const std::string path = dir.file("close.avi"), scratch = dir.file("cut.avi");
    auto writer = openWriter(path, mjpegFormat(160, 120), {});
    ASSERT_TRUE(writer && appendFrames(*writer, 0, 20, 500));
    const std::vector<uint8_t> image = fileBytes(path);
    const std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->close()); });
    replayCuts(scratch, image, ops, 20, 20, 500, "closing in the first RIFF");
}

// The file as a power failure during its last append could leave it when the file system
// kept only part of it: cut at every byte from that frame's header to the end.
TEST(AviCrash, AFileCutAtAnyByteOfItsLastAppendStillReads)
{
    ScratchDir dir;
    const std::string path = dir.file("cut-short.avi"), scratch = dir.file("cut.avi");
    constexpr size_t kTiny = 100;
    constexpr uint64_t kFrames = 6;
    ASSERT_EQ(record(path, 0, kFrames, kTiny, {}), "");
    const std::vector<uint8_t> whole = fileBytes(path);
    const Readback r = readAvi(path);
    ASSERT_EQ(r.packets.size(), kFrames);
    const std::vector<uint8_t>& last = r.packets.back();
    const auto found = std::search(whole.begin(), whole.end(), last.begin(), last.end());
    ASSERT_NE(found, whole.end());
    const size_t lastChunk = size_t(found - whole.begin()) - 8;
    for (size_t size = lastChunk; size < whole.size(); ++size) {
        store(scratch, std::vector<uint8_t>(whole.begin(), whole.begin() + long(size)));
        ASSERT_EQ(checkCutFile(scratch, kFrames - 1, kFrames, kTiny, true), "") << "cut at " << size << " of " << whole.size();
    }
}

}  // namespace
