// A recording that is killed, or loses power, at any moment: every file left behind is a valid
// AVI that holds every frame whose append had returned (and at most the one being written),
// and the writer continues it.
#include "avi_test_support.h"

#include "avi_layout.h"  // the writer's change observer, and its parser to name what a removal involves

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <set>

using namespace avitest;

namespace {

constexpr size_t kBase = 1000;

// The child appends frames and reports each count once append() has returned. SIGKILL loses
// nothing in the page cache, so it need not sync to disk (power failures are played below).
[[noreturn]] void recordUntilKilled(const std::string& path, int reportFd)
{
    std::unique_ptr<AviWriter> writer;
    if (!AviWriter::open(path, mjpegFormat(160, 120), kUs15Fps, fastOptions(5 << 20), writer))
        _exit(2);
    for (uint64_t count = writer->frameCount() + 1;; ++count)
        if (!appendFrames(*writer, count - 1, count, kBase) || write(reportFd, &count, sizeof count) != sizeof count)
            _exit(3);
}

TEST(AviCrash, KilledAtRandomMomentsLosesNothingThatWasAppended)
{
    ScratchDir dir;
    const std::string path = dir.file("killed.avi");
    std::mt19937 random(20261206);
    uint64_t returned = 0;
    // Thirty kills at least, and on a slow machine (sanitizers, load) more until the recording
    // has crossed the RIFF limit.
    constexpr uint64_t kPastRiffLimit = 5000;
    for (int round = 0; round < 30 || (returned <= kPastRiffLimit && round < 400); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string out = inChild([&](int fd) -> std::string { recordUntilKilled(path, fd); },
                                        useconds_t(std::uniform_int_distribution<int>(500, 15000)(random)));
        const std::string killed = "child died of signal " + std::to_string(SIGKILL) + " ";
        ASSERT_EQ(out.rfind(killed, 0), 0u) << "the child stopped by itself: " << out;
        // Each count is one atomic write to the pipe: the last one is whole.
        if (out.size() >= killed.size() + sizeof returned)
            std::memcpy(&returned, out.data() + out.size() - sizeof returned, sizeof returned);
        // A new file appears whole under its name, so one killed while being created is absent.
        if (returned == 0 && access(path.c_str(), F_OK) != 0)
            continue;
        const Readback r = readAvi(path);  // its header may not count the frame being written yet
        const int64_t n = int64_t(r.packets.size());
        ASSERT_TRUE(r.openError.empty() && r.loggedErrors == 0 && n >= int64_t(returned) && n <= int64_t(returned) + 1 &&
                    r.headerFrames <= n && r.headerFrames + 1 >= n)
            << "returned " << returned << ": " << describe(r);
        ASSERT_EQ(checkFrames(r, kBase), "");
        returned = r.packets.size();
    }
    EXPECT_GT(returned, kPastRiffLimit) << "the children appended too little to cross the RIFF limit";
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

// Changes [from, to) of `ops` on `image`, all but the one numbered `skip`.
void replay(std::vector<uint8_t>& image, const std::vector<Op>& ops, size_t from = 0, size_t to = SIZE_MAX,
           size_t skip = SIZE_MAX)
{
    for (size_t k = from; k < std::min(to, ops.size()); ++k) {
        const Op& op = ops[k];
        if (k == skip || op.kind == Op::Sync)
            continue;
        image.resize(op.kind == Op::Resize ? op.offset : std::max<uint64_t>(image.size(), op.offset + op.data.size()));
        std::copy(op.data.begin(), op.data.end(), image.begin() + long(op.offset));
    }
}

void store(const std::string& path, const std::vector<uint8_t>& image)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(image.data()), long(image.size()));
}

using FrameFn = std::function<std::vector<uint8_t>(uint64_t)>;

FrameFn framesOf(size_t base)
{
    return [base](uint64_t k) { return testFrame(k, base); };
}

std::string framesDiffer(const std::vector<std::vector<uint8_t>>& packets, const FrameFn& frame)
{
    for (size_t i = 0; i < packets.size(); ++i)
        if (packets[i] != frame(i))
            return "packet " + std::to_string(i) + " (" + std::to_string(packets[i].size()) + " bytes) differs from frame " +
                   std::to_string(i);
    return {};
}

// A file cut short by a power failure reads as `before` or `after` frames through FFmpeg's
// demuxer (OpenDML and idx1), chunk by chunk and trusting the super index (those two not when
// the file ends inside a chunk, `cutShort`), and the writer continues it with every index in
// line, taking frames and giving them back.
std::string checkCutFile(const std::string& path, uint64_t before, uint64_t after, const FrameFn& frame,
                         bool cutShort = false)
{
    for (bool odml : {true, false}) {
        Readback r = readAvi(path, odml);
        // A file cut inside its last frame may end in that frame's first bytes.
        const std::vector<uint8_t> last = frame(after - 1);
        if (cutShort && r.packets.size() == after && r.packets.back().size() < last.size()) {
            if (!std::equal(r.packets.back().begin(), r.packets.back().end(), last.begin()))
                return "the cut frame is not a prefix of the frame";
            r.packets.pop_back();
        }
        if (!r.openError.empty() || r.packets.size() < before || r.packets.size() > after)
            return std::string(odml ? "OpenDML" : "idx1") + " read " + std::to_string(r.packets.size()) + " frames " + r.openError;
        if (std::string bad = framesDiffer(r.packets, frame); !bad.empty())
            return bad;
    }
    for (bool bySuperIndex : {false, true}) {
        if (cutShort)
            break;
        std::string fault;
        const auto packets = bySuperIndex ? superIndexPackets(path, fault) : chunkPackets(path, fault);
        const std::string reader = bySuperIndex ? "trusting the super index: " : "chunk by chunk: ";
        if (!fault.empty())
            return reader + fault;
        if (packets.size() < before || packets.size() > after)
            return reader + std::to_string(packets.size()) + " frames";
        if (std::string bad = framesDiffer(packets, frame); !bad.empty())
            return reader + bad;
    }
    std::unique_ptr<AviWriter> writer;
    Status st = AviWriter::open(path, mjpegFormat(160, 120), kUs15Fps, fastOptions(), writer);
    if (!st)
        return "reopen: " + st.message;
    const uint64_t frames = writer->frameCount();
    // Continuing has brought every index and count in line before any new frame.
    if (std::string bad = indexFault(path); !bad.empty())
        return "continued with " + std::to_string(frames) + " frames: " + bad;
    // It takes a frame, gives back the last one (the new frame, or the last it recovered) and
    // takes it again.
    const std::vector<uint8_t> next = frame(frames);
    std::vector<uint8_t> taken;
    bool keyframe = false;
    if (frames < before || frames > after || !(st = writer->append(next.data(), next.size(), true)) ||
        !(st = writer->removeLastFrame(taken, keyframe)) || taken != next ||
        (frames > 0 && (!(st = writer->removeLastFrame(taken, keyframe)) || taken != frame(frames - 1) ||
                        !(st = writer->append(taken.data(), taken.size(), keyframe)))) ||
        !(st = writer->append(next.data(), next.size(), true)) || !(st = writer->close()))
        return "recovered " + std::to_string(frames) + " frames: " + (st ? "a frame taken out differs" : st.message);
    if (std::string bad = indexFault(path); !bad.empty())
        return "after recovery: " + bad;
    const Readback r = readAvi(path);
    if (!r.openError.empty() || r.loggedErrors || r.packets.size() != frames + 1 || r.headerFrames != int64_t(frames + 1))
        return "after recovery, expected " + std::to_string(frames + 1) + " frames: " + describe(r);
    return framesDiffer(r.packets, frame);
}

std::string checkCutFile(const std::string& path, uint64_t before, uint64_t after, size_t base, bool cutShort = false)
{
    return checkCutFile(path, before, after, framesOf(base), cutShort);
}

// Plays a power failure at every point of `ops`: everything before the last sync is on disk,
// of the writes after it any prefix, or all but one.
void replayCuts(const std::string& scratch, const std::vector<uint8_t>& image, const std::vector<Op>& ops,
                uint64_t before, uint64_t after, const FrameFn& frame, const std::string& what)
{
    std::vector<uint8_t> synced = image;
    size_t phaseStart = 0;
    for (size_t i = 0; i <= ops.size(); ++i) {
        if (i < ops.size() && ops[i].kind != Op::Sync)
            continue;
        for (size_t skip = phaseStart; skip <= i; ++skip) {
            for (size_t upTo = (skip == i ? phaseStart : i); upTo <= i; ++upTo) {
                std::vector<uint8_t> cut = synced;
                replay(cut, ops, phaseStart, upTo, skip);
                store(scratch, cut);
                ASSERT_EQ(checkCutFile(scratch, before, after, frame), "")
                    << what << ": cut after " << upTo << " of " << ops.size() << " changes"
                    << (skip < i ? ", change " + std::to_string(skip) + " lost" : "");
            }
        }
        replay(synced, ops, phaseStart, i);
        phaseStart = i + 1;
    }
}

void replayCuts(const std::string& scratch, const std::vector<uint8_t>& image, const std::vector<Op>& ops,
                uint64_t before, uint64_t after, size_t base, const std::string& what)
{
    replayCuts(scratch, image, ops, before, after, framesOf(base), what);
}

// What makes an append worth playing through: it starts a segment or an index, moves idx1
// (writes more than its header), grows the file, or it is one of the first.
std::string interesting(const std::vector<Op>& ops, uint64_t k)
{
    const struct { const char* tag; size_t minSize; const char* what; } kinds[] = {
        {"RIFF", 4, "new AVIX segment"}, {"ix00", 4, "new standard index"}, {"idx1", 17, "idx1 moves"}};
    for (const auto& kind : kinds)
        for (const Op& op : ops)
            if (op.kind == Op::Write && op.data.size() >= kind.minSize && std::equal(kind.tag, kind.tag + 4, op.data.begin()))
                return kind.what;
    if (std::any_of(ops.begin(), ops.end(), [](const Op& op) { return op.kind == Op::Resize; }))
        return "slack grows";
    return k < 2 ? "plain append" : "";
}

// Records small frames with a 1 MiB RIFF limit, playing a power failure at every point of the
// first append of each kind in the first RIFF and in the AVIX segments, then of closing the file
// and reopening it.
TEST(AviCrash, APowerFailureAtAnyPointLeavesAValidFile)
{
    ScratchDir dir;
    const std::string path = dir.file("power.avi"), scratch = dir.file("cut.avi");
    constexpr uint64_t kFrames = 2400;
    auto writer = openWriter(path, mjpegFormat(160, 120));
    ASSERT_TRUE(writer);
    std::vector<uint8_t> image = fileBytes(path);
    std::set<std::string> played;
    std::string segment = "first RIFF: ";
    for (uint64_t k = 0; k < kFrames; ++k) {
        const std::vector<uint8_t> frame = testFrame(k, kBase);
        const std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->append(frame.data(), frame.size(), k % 3 != 1)); });
        const std::string what = interesting(ops, k);
        if (!what.empty() && played.insert(segment + what).second)
            replayCuts(scratch, image, ops, k, k + 1, kBase, segment + what + " at frame " + std::to_string(k));
        replay(image, ops);
        if (what == "new AVIX segment")
            segment = "AVIX: ";
    }
    ASSERT_TRUE(image == fileBytes(path)) << "the observer missed a change";
    const auto inAvix = std::count_if(played.begin(), played.end(), [](const std::string& s) { return s[0] == 'A'; });
    EXPECT_TRUE(played.size() >= size_t(inAvix) + 4 && inAvix >= 2) << "too few kinds of append were played";
    std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->close()); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kBase, "closing in an AVIX segment");
    replay(image, ops);
    ops = recording([&] { writer = openWriter(path, mjpegFormat(160, 120)); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kBase, "reopening");
}

// With syncing on, as in real recordings, closing replays in several phases. Then the file as a
// power failure during its last append could leave it when the file system kept only part of
// it: cut at every byte from that frame's header to the end.
TEST(AviCrash, APowerFailureWhileClosingOrInsideTheLastAppendLeavesAValidFile)
{
    ScratchDir dir;
    const std::string path = dir.file("close.avi"), scratch = dir.file("cut.avi");
    constexpr size_t kTiny = 100;
    constexpr uint64_t kFrames = 6;
    auto writer = openWriter(path, mjpegFormat(160, 120), {});
    ASSERT_TRUE(writer && appendFrames(*writer, 0, kFrames, kTiny));
    const std::vector<uint8_t> image = fileBytes(path);
    const std::vector<Op> ops = recording([&] { ASSERT_TRUE(writer->close()); });
    replayCuts(scratch, image, ops, kFrames, kFrames, kTiny, "closing in the first RIFF");

    const std::vector<uint8_t> whole = fileBytes(path);
    const Readback r = readAvi(path);
    ASSERT_EQ(r.packets.size(), kFrames);
    const std::vector<uint8_t>& last = r.packets.back();
    const auto found = std::search(whole.begin(), whole.end(), last.begin(), last.end());
    ASSERT_NE(found, whole.end());
    for (size_t size = size_t(found - whole.begin()) - 8; size < whole.size(); ++size) {
        store(scratch, std::vector<uint8_t>(whole.begin(), whole.begin() + long(size)));
        ASSERT_EQ(checkCutFile(scratch, kFrames - 1, kFrames, kTiny, true), "") << "cut at " << size << " of " << whole.size();
    }
}

}  // namespace

namespace {

// Tiny frames fill more than one standard index in the first RIFF and in the first AVIX segment;
// large ones cross the 1 MiB RIFF limit into a first and a second AVIX segment.
constexpr uint64_t kMixedFrames = 1440;
std::vector<uint8_t> mixedFrame(uint64_t k)
{
    static const std::vector<std::vector<uint8_t>> frames = [] {
        std::vector<std::vector<uint8_t>> made;
        for (uint64_t i = 0; i <= kMixedFrames; ++i)
            made.push_back(testFrame(i, (i >= 300 && i < 320) || i >= 1420 ? 60000 : 100));
        return made;
    }();
    return k < frames.size() ? frames[k] : testFrame(k, 100);
}

// What taking the last frame out involves, from where it is.
std::string removalKind(const std::string& path, uint64_t frames)
{
    avi::AviFile file;
    avi::ParsedAvi parsed;
    if (!file.openExisting(path, false) || !avi::parseAvi(file, parsed) || parsed.indexes.empty())
        return "unreadable";
    if (frames == 1)
        return "the only frame left";
    const avi::StdIndex& last = parsed.indexes.back();
    const bool opens = !parsed.inFirstRiff() && last.pos == parsed.last().moviList + 12;
    if (parsed.inFirstRiff())
        return last.inUse ? "first RIFF" : "first RIFF, an emptied index goes";
    if (last.inUse == 0 && opens)
        return parsed.avix.size() == 1 ? "an emptied AVIX segment goes, back into the first RIFF"
                                       : "an emptied AVIX segment goes, back into the one before";
    if (last.inUse == 0)
        return "AVIX, an emptied index goes";
    return last.inUse == 1 && opens ? "the only frame of an AVIX segment" : "AVIX";
}

// Every frame comes out in turn, down to none. The first removal of each kind is played through a
// power failure at every point, and so is putting the frame back after some of them; the file then reads as one
// frame count or the other through FFmpeg's demuxer, chunk by chunk and by the super index, and
// the writer continues it with every index in line.
TEST(AviCrash, APowerFailureWhileTakingOutOrPuttingBackAFrameLeavesAValidFile)
{
    ScratchDir dir;
    const std::string path = dir.file("remove.avi"), scratch = dir.file("cut.avi");
    auto writer = openWriter(path, mjpegFormat(160, 120));
    ASSERT_TRUE(writer);
    for (uint64_t k = 0; k < kMixedFrames; ++k) {
        const std::vector<uint8_t> frame = mixedFrame(k);
        ASSERT_TRUE(writer->append(frame.data(), frame.size(), true));
    }
    std::vector<uint8_t> image = fileBytes(path);
    std::set<std::string> played;
    // A put back is an append, played through in the append tests; here into the places a
    // removal leaves: a segment, an index or a first RIFF that lost their last frame.
    const std::set<std::string> putBackPlayed = {"first RIFF", "the only frame of an AVIX segment",
                                                 "an emptied AVIX segment goes, back into the first RIFF"};
    for (uint64_t k = kMixedFrames; k-- > 0;) {
        const std::string kind = removalKind(path, k + 1);
        std::vector<uint8_t> payload;
        bool keyframe = false;
        const auto remove = [&] { ASSERT_TRUE(writer->removeLastFrame(payload, keyframe)); };
        std::vector<Op> ops = recording(remove);
        ASSERT_TRUE(payload == mixedFrame(k) && keyframe) << "frame " << k;
        if (!played.insert(kind).second) {
            replay(image, ops);
            continue;
        }
        const std::string what = kind + ", frame " + std::to_string(k);
        replayCuts(scratch, image, ops, k, k + 1, mixedFrame, "taking out: " + what);
        replay(image, ops);
        ops = recording([&] { ASSERT_TRUE(writer->append(payload.data(), payload.size(), keyframe)); });
        if (putBackPlayed.count(kind))
            replayCuts(scratch, image, ops, k, k + 1, mixedFrame, "putting back: " + what);
        replay(image, ops);
        ops = recording(remove);
        replay(image, ops);
    }
    ASSERT_TRUE(image == fileBytes(path)) << "the observer missed a change";
    EXPECT_EQ(played.size(), 8u) << "not every kind of removal was played";
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(checkCutFile(path, 0, 0, mixedFrame), "");
}

}  // namespace
