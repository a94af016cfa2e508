// A recording that is killed, or loses power, at any moment: every file left behind is a valid
// AVI that holds every frame whose append had returned (and at most the one being written),
// and the writer continues it.
#include "avi_test_support.h"

#include "avi_riff.h"  // the writer's change observer

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <algorithm>
#include <random>
#include <set>

using namespace kelvra::media;
using namespace avitest;

namespace {

constexpr size_t kBase = 1000;

// The child appends frames and reports each count once append() has returned. SIGKILL loses
// nothing that is in the page cache, so the child need not sync to disk; power failures are
// played separately below.
void recordUntilKilled(const std::string& path, int reportFd, uint64_t riffLimit)
{
    AviWriterOptions options;
    options.syncToDisk = false;
    options.riffLimit = riffLimit;
    std::unique_ptr<AviWriter> writer;
    if (!AviWriter::open(path, mjpegFormat(160, 120), 66666, options, writer))
        _exit(2);
    for (uint64_t k = writer->frameCount();; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        if (!writer->append(frame.data(), frame.size(), true))
            _exit(3);
        const uint64_t count = k + 1;
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
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            recordUntilKilled(path, fds[1], 5 << 20);
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

        const Readback r = readAvi(path);
        ASSERT_EQ(r.openError, "") << "round " << round;
        ASSERT_EQ(r.loggedErrors, 0) << "round " << round;
        ASSERT_GE(r.packets.size(), returned) << "round " << round;
        ASSERT_LE(r.packets.size(), returned + 1) << "round " << round;
        ASSERT_EQ(checkFrames(r, kBase), "") << "round " << round;
        ASSERT_LE(r.headerFrames, int64_t(r.packets.size())) << "round " << round;
        ASSERT_GE(r.headerFrames + 1, int64_t(r.packets.size())) << "round " << round;
        returned = r.packets.size();
    }
    EXPECT_GT(returned, 5000u) << "the children appended too little to cross the RIFF limit";
    RecordProperty("frames", int(returned));
    std::unique_ptr<AviWriter> writer;
    ASSERT_TRUE(AviWriter::open(path, mjpegFormat(160, 120), 66666, {}, writer));
    EXPECT_EQ(writer->frameCount(), returned);
    ASSERT_TRUE(writer->close());
    const Readback r = readAvi(path);
    EXPECT_EQ(r.packets.size(), returned);
    EXPECT_EQ(r.headerFrames, int64_t(returned));
    EXPECT_EQ(readAvi(path, false).packets.size(), returned);
}

// Every change the writer makes, in order, as the disk would see it.
struct Op {
    enum Kind { Write, Resize, Sync } kind;
    uint64_t offset;
    std::vector<uint8_t> data;
};

class Recorder final : public avi::AviIoObserver {
public:
    Recorder() { avi::setAviIoObserver(this); }
    ~Recorder() override { avi::setAviIoObserver(nullptr); }
    void written(uint64_t offset, const uint8_t* data, size_t size) override { ops.push_back({Op::Write, offset, {data, data + size}}); }
    void resized(uint64_t size) override { ops.push_back({Op::Resize, size, {}}); }
    void synced() override { ops.push_back({Op::Sync, 0, {}}); }
    std::vector<Op> ops;
};

std::vector<Op> recording(const std::function<void()>& action)
{
    Recorder recorder;
    action();
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
        // A file cut inside a frame ends in that frame's first bytes.
        if (cutShort && r.packets.size() == after && r.packets.back().size() < testFrame(after - 1, base).size()) {
            const std::vector<uint8_t> whole = testFrame(after - 1, base);
            if (!std::equal(r.packets.back().begin(), r.packets.back().end(), whole.begin()))
                return "the cut frame is not a prefix of the frame";
            r.packets.pop_back();
        }
        if (!r.openError.empty() || r.packets.size() < before || r.packets.size() > after)
            return std::string(odml ? "OpenDML" : "idx1") + " read " + std::to_string(r.packets.size()) + " frames " + r.openError;
        if (std::string bad = checkFrames(r, base); !bad.empty())
            return bad;
    }
    std::unique_ptr<AviWriter> writer;
    AviWriterOptions options;
    options.syncToDisk = false;
    options.riffLimit = 1 << 20;
    Status st = AviWriter::open(path, mjpegFormat(160, 120), 66666, options, writer);
    if (!st)
        return "reopen: " + st.message;
    const uint64_t frames = writer->frameCount();
    const std::vector<uint8_t> frame = testFrame(frames, base);
    if (frames < before || frames > after || !(st = writer->append(frame.data(), frame.size(), true)) ||
        !(st = writer->close()))
        return "recovered " + std::to_string(frames) + " frames: " + st.message;
    const Readback r = readAvi(path);
    if (r.packets.size() != frames + 1 || r.loggedErrors || r.headerFrames != int64_t(frames + 1))
        return "after recovery read " + std::to_string(r.packets.size()) + " of " + std::to_string(frames + 1);
    return checkFrames(r, base);
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
                const std::string bad = checkCutFile(scratch, before, after, base);
                ASSERT_EQ(bad, "") << what << ": cut after " << upTo << " of " << ops.size() << " changes"
                                   << (skip < i ? ", change " + std::to_string(skip) + " lost" : "");
            }
        }
        for (size_t k = phaseStart; k < i; ++k)
            apply(synced, ops[k]);
        phaseStart = i + 1;
    }
}

bool startsWith(const Op& op, const char* tag)
{
    return op.kind == Op::Write && op.data.size() >= 4 && std::equal(tag, tag + 4, op.data.begin());
}

// What makes an append worth playing through: it grows the file, moves idx1, starts a segment
// or an index, or it is one of the first.
std::string interesting(const std::vector<Op>& ops, uint64_t k)
{
    auto any = [&](auto pred) { return std::any_of(ops.begin(), ops.end(), pred); };
    if (any([](const Op& op) { return startsWith(op, "RIFF"); }))
        return "new AVIX segment";
    if (any([](const Op& op) { return startsWith(op, "ix00"); }))
        return "new standard index";
    if (any([](const Op& op) { return op.data.size() > 16 && startsWith(op, "idx1"); }))
        return "idx1 moves";
    if (any([](const Op& op) { return op.kind == Op::Resize; }))
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
    AviWriterOptions options;
    options.syncToDisk = false;
    options.riffLimit = 1 << 20;
    constexpr size_t kSmall = 1000;
    const uint64_t kFrames = inFirstRiff ? 1200 : 2400;
    std::unique_ptr<AviWriter> writer;
    ASSERT_TRUE(AviWriter::open(path, mjpegFormat(160, 120), 66666, options, writer));
    std::vector<uint8_t> image = fileBytes(path);
    std::set<std::string> played;
    bool firstRiff = true;
    for (uint64_t k = 0; k < kFrames && (firstRiff || !inFirstRiff); ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kSmall);
        const std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->append(frame.data(), frame.size(), k % 3 != 1)); });
        const std::string what = interesting(ops, k);
        if (!what.empty() && firstRiff == inFirstRiff && played.insert(what).second)
            replayCuts(scratch, image, ops, k, k + 1, kSmall, what + " at frame " + std::to_string(k));
        for (const Op& op : ops)
            apply(image, op);
        firstRiff = firstRiff && what != "new AVIX segment";
    }
    ASSERT_TRUE(image == fileBytes(path)) << "the observer missed a change";
    std::string names;
    for (const std::string& name : played)
        names += name + "; ";
    EXPECT_GE(played.size(), inFirstRiff ? 4u : 2u) << names;
    if (inFirstRiff)
        return;
    std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->close()); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kSmall, "closing in an AVIX segment");
    for (const Op& op : ops)
        apply(image, op);
    ops = recording([&] { ASSERT_TRUE(AviWriter::open(path, mjpegFormat(160, 120), 66666, options, writer)); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kSmall, "reopening");
}

TEST(AviCrash, APowerFailureAtAnyPointOfTheFirstRiffLeavesAValidFile)
{
    playPowerFailures(true);
}

TEST(AviCrash, APowerFailureAtAnyPointOfAnAvixSegmentLeavesAValidFile)
{
    playPowerFailures(false);
}

TEST(AviCrash, APowerFailureWhileClosingTheFirstRiffLeavesAValidFile)
{
    ScratchDir dir;
    const std::string path = dir.file("close.avi"), scratch = dir.file("cut.avi");
    std::unique_ptr<AviWriter> writer;
    ASSERT_TRUE(AviWriter::open(path, mjpegFormat(160, 120), 66666, {}, writer));
    for (uint64_t k = 0; k < 20; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, 500);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true));
    }
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
    std::unique_ptr<AviWriter> writer;
    ASSERT_TRUE(AviWriter::open(path, mjpegFormat(160, 120), 66666, {}, writer));
    for (uint64_t k = 0; k < kFrames; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kTiny);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true));
    }
    ASSERT_TRUE(writer->close());
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
