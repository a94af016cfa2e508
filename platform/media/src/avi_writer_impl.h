// The capture-file writer. Every change to the file is a sequence of small writes, each of which
// leaves a valid, fully indexed AVI behind (reading as N or N+1 frames), with a sync to disk
// between the steps that depend on each other:
//
//   append:  1. payload, a new slack JUNK header behind it, and the index entries, all in space
//               that no reader looks at yet                                             sync
//            2. one 8-byte write turns the slack's 'JUNK' header into the frame's '00dc' header
//                                                                                        sync
//            3. idx1 size                                                                sync
//               idx1 entry id and flags, index entry counts, frame counts                sync
//
//   remove:  the same steps undone, in reverse order
//            1. frame counts                                                             sync
//            2. idx1's last entry id and flags become the reserve's JUNK header          sync
//               idx1 size                                                                sync
//            3. super index duration, then the standard index's entry count              sync
//            4. one 8-byte write turns the frame's '00dc' header into the slack's 'JUNK'  sync
//            Before that, an index that removals emptied leaves the super index (the count,
//            sync, then its header becomes the slack's, sync), and an AVIX segment whose index
//            left is cut off the end of the file (sync), so that the last frame is again the
//            last entry of the current index, right before the slack.
//
// In the code each step is one line and each sync stands on its own line, in this order.
// The idx1 of the first RIFF follows its movi list; when the slack runs out it is written anew
// further on and the old place joins the slack (see relocateIdx1). Past the RIFF limit the
// recording goes on in 'AVIX' segments, which grow at the end of the file.
#pragma once

#include "avi_layout.h"

#include <kelvra/media/avi_writer.h>

#include <vector>

namespace kelvra::media::avi {

class Writer final : public AviWriter {
public:
    explicit Writer(const AviWriterOptions& options);
    ~Writer() override;

    Status start(const std::string& path, const AviVideoFormat& format, uint32_t microSecPerFrame);

    Status append(const uint8_t* data, size_t size, bool keyframe) override;
    Status removeLastFrame(std::vector<uint8_t>& payload, bool& keyframe) override;
    Status setMicroSecPerFrame(uint32_t microSecPerFrame) override;
    uint32_t microSecPerFrame() const override { return microSecPerFrame_; }
    uint64_t frameCount() const override { return frames_; }
    const std::string& path() const override { return file_.path(); }
    Status close() override;

private:
    // avi_writer.cpp
    Status createFile(const std::string& path, bool replaceEmpty);
    Status checkExisting(const ParsedAvi& parsed) const;
    Status writeFrame(const uint8_t* data, size_t size, bool keyframe, uint64_t span);
    Status writeIndexSlots(uint64_t pos, uint32_t size, bool keyframe);
    Status commitIndex(uint64_t pos, uint32_t size, bool keyframe);
    Status failed(Status st);
    // Entry `n` of the standard index receiving entries.
    uint64_t stdSlot(uint32_t n) const { return ixPos_ + kChunkHeader + kIndexHeaderSize + uint64_t(n) * kStdEntrySize; }
    // An idx1 offset: from the 'movi' fourcc of the first RIFF to the chunk at `chunk`.
    uint32_t idx1Offset(uint64_t chunk) const { return uint32_t(chunk - (segMovi_ + kChunkHeader)); }

    // avi_writer_space.cpp
    Status prepare(uint64_t span);
    Status fitFrame(uint64_t span, bool enforceLimit);
    Status ensureSlack(uint64_t need, bool enforceLimit);
    Status ensureReserve(bool enforceLimit);
    Status allocateIndexChunk();
    Status relocateIdx1(uint64_t need, const std::vector<uint64_t>& retag, uint64_t trailingJunk, bool enforceLimit);
    Status writeIdx1Copy(uint64_t at, uint64_t fileEnd, uint32_t tag = kIdx1);
    Status extendSegment(uint64_t need, bool enforceLimit);
    Status startSegment(uint64_t need);
    Status growFile(uint64_t preferredEnd, uint64_t minimalEnd, uint64_t& end);
    Status takeInGrowth(std::initializer_list<uint64_t> chunks, uint64_t end);
    Status cutAfterJunk(std::initializer_list<uint64_t> lists, uint64_t junk);
    Status compact();
    uint64_t slackGrowth() const;
    uint64_t riffLimitEnd(bool enforceLimit) const;
    uint64_t superSlot(uint32_t slot) const;
    Status writeSuperEntry(uint64_t index, uint32_t bytes);
    Status writeSuperInUse(uint32_t count);
    void useNewIndex(uint64_t pos, uint32_t capacity, uint64_t base);

    // avi_writer_remove.cpp
    Status readFrameEntry(uint32_t n, uint64_t& pos, uint32_t& size, bool& keyframe) const;
    Status eraseLastFrame(uint64_t pos);
    Status readListedIndex(uint32_t slot, StdIndex& out) const;
    Status dropEmptyIndex();
    Status leaveSegment();
    void useListedIndex(uint32_t slot, const StdIndex& index);
    Status contentEndOf(const StdIndex& index, uint64_t& end) const;

    // avi_writer_resume.cpp
    Status resume(const ParsedAvi& parsed);
    Status loadIndexes(const ParsedAvi& parsed);
    Status resumeFirstRiff(const ParsedAvi& parsed);
    Status resumeSegment(const ParsedAvi& parsed);
    Status stretchSlackTo(uint64_t& end, uint64_t riff);
    Status adoptIndexChunk(const TailChunk& chunk);
    Status adoptFrame(const TailChunk& chunk);
    Status writeCounts();
    Status resync();
    uint64_t placeSlackAfter(uint64_t contentEnd, Status& st);

    AviWriterOptions options_;
    AviFile file_;
    AviVideoFormat format_;
    uint32_t microSecPerFrame_ = 0;
    HeaderFields fields_;
    uint32_t superInUse_ = 0;

    uint64_t fileEnd_ = 0;   // end of the last RIFF, which is the end of the file
    uint64_t segRiff_ = 0;   // the RIFF receiving frames
    uint64_t segMovi_ = 0;   // its movi list
    uint64_t moviEnd_ = 0;
    uint64_t slack_ = 0;     // the JUNK chunk that ends the movi list: where the next frame goes

    bool firstRiff_ = true;  // frames still go into the first RIFF, which has an idx1
    uint64_t firstMovi_ = 0; // the first RIFF's movi list
    uint64_t idx1Pos_ = 0;
    uint64_t reservePos_ = 0;      // JUNK behind the idx1 entries, into which idx1 grows
    std::vector<uint8_t> idx1_;    // the first RIFF's idx1 entries, to write them anew when it moves

    uint64_t ixPos_ = 0;     // the standard index receiving entries
    uint32_t ixCapacity_ = 0, ixInUse_ = 0, ixSlot_ = 0;
    uint64_t ixBase_ = 0;

    uint64_t frames_ = 0, firstRiffFrames_ = 0;
    uint32_t maxChunk_ = 0;
    bool broken_ = false;    // a write failed: the state is read back from the file before going on
    bool closed_ = true;     // until start() has opened the file
};

// Internal: the frame does not fit into the current RIFF.
constexpr int kSegmentFull = -200001;

}  // namespace kelvra::media::avi
