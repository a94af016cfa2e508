// Taking the last frame out of a capture file and putting it back: the frames handed back, and
// the file after every step as FFmpeg's demuxer (through the OpenDML indexes and through idx1)
// and the strict chunk-by-chunk walk read it, in the first RIFF, across standard indexes and
// AVIX segments, down to no frame at all and on again.
#include "avi_test_support.h"

#include "avi_layout.h"  // where the last frame is, to name the cases

#include <cerrno>

using namespace avitest;

namespace {

// Key frames with frames between them; the demuxer reports the index's flags for this codec.
AviVideoFormat deltaFormat()
{
    AviVideoFormat format = mjpegFormat(320, 240);
    format.compression = format.handler = fourcc('F', 'M', 'P', '4');
    return format;
}

bool isKey(uint64_t k) { return k % 3 != 1; }

// Small frames first, to fill the first RIFF's standard indexes, then large ones that cross
// 1 MiB RIFF limits every few frames.
constexpr uint64_t kSmallFrames = 300;
std::vector<uint8_t> frameOf(uint64_t k) { return testFrame(k, k < kSmallFrames ? 100 : 60000); }

Status appendOf(AviWriter& writer, uint64_t k)
{
    const std::vector<uint8_t> frame = frameOf(k);
    return writer.append(frame.data(), frame.size(), isKey(k));
}

// The file holds frameOf(0 .. n - 1) with their key frame flags, for every reader.
std::string checkHolds(const std::string& path, uint64_t n)
{
    if (std::string fault = indexFault(path); !fault.empty())
        return "indexes: " + fault;
    std::string fault;
    if (chunkPackets(path, fault).size() != n)
        return "chunk by chunk, not " + std::to_string(n) + " frames " + fault;
    for (bool odml : {true, false}) {
        const Readback r = readAvi(path, odml);
        if (!r.openError.empty() || r.loggedErrors || r.packets.size() != n || (odml && r.headerFrames != int64_t(n)))
            return (odml ? "OpenDML: " : "idx1: ") + describe(r);
        for (uint64_t i = 0; i < n; ++i)
            if (r.packets[i] != frameOf(i) || (odml && r.keyframes[i] != isKey(i)))
                return (odml ? "OpenDML: packet " : "idx1: packet ") + std::to_string(i) + " differs";
    }
    return {};
}

// Where the last frame of the file is, as the writer's own parser sees it.
struct Place {
    size_t segments = 0;     // AVIX segments
    uint32_t lastIndexFrames = 0;
    bool indexOpensSegment = false;
};

Place placeOf(const std::string& path)
{
    avi::AviFile file;
    avi::ParsedAvi parsed;
    Place place;
    if (!file.openExisting(path, false) || !avi::parseAvi(file, parsed) || parsed.indexes.empty())
        return place;
    place.segments = parsed.avix.size();
    place.lastIndexFrames = parsed.indexes.back().inUse;
    place.indexOpensSegment = !parsed.inFirstRiff() && parsed.indexes.back().pos == parsed.last().moviList + 12;
    return place;
}

// In the first RIFF: frames come out last first with their flags, idx1 and every index follow
// after each one, and they go back in; the same after the file was closed (which moves idx1 up
// behind the last frame) and continued.
TEST(AviRemove, FramesComeOutAndGoBackInTheFirstRiff)
{
    ScratchDir dir;
    const std::string path = dir.file("first.avi");
    constexpr uint64_t kFrames = 10;
    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE("session " + std::to_string(session));
        auto writer = openWriter(path, deltaFormat());
        ASSERT_TRUE(writer);
        for (uint64_t k = writer->frameCount(); k < kFrames; ++k)
            ASSERT_TRUE(appendOf(*writer, k));
        std::vector<std::vector<uint8_t>> taken;
        for (uint64_t k = kFrames; k-- > kFrames - 4;) {
            std::vector<uint8_t> payload;
            bool keyframe = !isKey(k);
            ASSERT_TRUE(writer->removeLastFrame(payload, keyframe));
            EXPECT_TRUE(payload == frameOf(k) && keyframe == isKey(k)) << "frame " << k;
            EXPECT_EQ(writer->frameCount(), k);
            ASSERT_EQ(checkHolds(path, k), "");
            taken.push_back(std::move(payload));
        }
        for (uint64_t k = kFrames - 4; k < kFrames; ++k) {
            const std::vector<uint8_t>& frame = taken[kFrames - 1 - k];
            ASSERT_TRUE(writer->append(frame.data(), frame.size(), isKey(k)));
            ASSERT_EQ(checkHolds(path, k + 1), "");
        }
        ASSERT_TRUE(writer->close());
        ASSERT_EQ(checkHolds(path, kFrames), "");
    }
}

// Past the first RIFF: each frame comes out in turn down to none, through the only frame of an
// AVIX segment, the segment itself, the standard indexes of the first RIFF and its first frame;
// halfway the file is closed and continued while its last segment holds no frame. Then an empty
// file refuses a removal and changes nothing, takes frames again, and a closed writer refuses.
TEST(AviRemove, DownToNoFrameAcrossSegmentsAndIndexesThenOnAgain)
{
    ScratchDir dir;
    const std::string path = dir.file("odml.avi");
    constexpr uint64_t kFrames = kSmallFrames + 40;
    auto writer = openWriter(path, deltaFormat());
    ASSERT_TRUE(writer);
    for (uint64_t k = 0; k < kFrames; ++k)
        ASSERT_TRUE(appendOf(*writer, k));
    ASSERT_GE(placeOf(path).segments, 2u);
    bool reopened = false;
    for (uint64_t k = kFrames; k-- > 0;) {
        std::vector<uint8_t> payload;
        bool keyframe = false;
        const Place before = placeOf(path);
        ASSERT_TRUE(writer->removeLastFrame(payload, keyframe)) << "frame " << k;
        ASSERT_TRUE(payload == frameOf(k) && keyframe == isKey(k)) << "frame " << k;
        ASSERT_EQ(writer->frameCount(), k);
        const Place after = placeOf(path);
        const bool emptiedSegment = after.indexOpensSegment && after.lastIndexFrames == 0;
        if (k >= kSmallFrames - 2 || k % 16 == 0 || before.segments != after.segments || emptiedSegment)
            ASSERT_EQ(checkHolds(path, k), "") << "after frame " << k << " came out";
        if (emptiedSegment && !reopened) {
            reopened = true;
            ASSERT_TRUE(writer->close());
            writer = openWriter(path, deltaFormat());
            ASSERT_TRUE(writer);
            ASSERT_EQ(writer->frameCount(), k);
            ASSERT_EQ(checkHolds(path, k), "") << "continued with " << k << " frames";
        }
    }
    EXPECT_TRUE(reopened);
    EXPECT_EQ(placeOf(path).segments, 0u);

    const std::vector<uint8_t> empty = fileBytes(path);
    std::vector<uint8_t> payload{1, 2, 3};
    bool keyframe = false;
    const Status none = writer->removeLastFrame(payload, keyframe);
    EXPECT_EQ(none.code, kNoFrames);
    EXPECT_NE(none.message.find("odml.avi' holds no frames"), std::string::npos) << none.message;
    EXPECT_TRUE(fileBytes(path) == empty && payload.size() == 3);

    for (uint64_t k = 0; k < kSmallFrames + 20; ++k)
        ASSERT_TRUE(appendOf(*writer, k));
    ASSERT_EQ(checkHolds(path, kSmallFrames + 20), "");
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(checkHolds(path, kSmallFrames + 20), "");
    EXPECT_EQ(writer->removeLastFrame(payload, keyframe).code, -EBADF);
}

}  // namespace
