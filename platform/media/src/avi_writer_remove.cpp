// Taking the last frame out of the capture file: an append undone step by step, so that every
// state on disk reads as N or N-1 frames. The last frame is always the last entry of the
// current standard index, right before the slack; an index that removals emptied leaves the
// super index first, and an AVIX segment whose only index left is cut off the end of the file,
// so that the file is again what appends made it.
#include "avi_writer_impl.h"

#include <cerrno>

namespace kelvra::media::avi {

namespace {

// Where the slack begins behind content ending at `end` (see placeSlackAfter).
uint64_t slackAfter(uint64_t end)
{
    return end % kChunkAlign ? end + kChunkHeader + kChunkAlign - end % kChunkAlign : end;
}

}  // namespace

Status Writer::removeLastFrame(std::vector<uint8_t>& payload, bool& keyframe)
{
    if (closed_)
        return Status::error(EBADF, "Cannot change '" + path() + "': the file is closed");
    Status st = file_.checkStillThere();
    if (!st)
        return st;
    if (broken_ && !(st = resync()))
        return st;
    if (frames_ == 0)
        return Status::error(kNoFrames, "'" + path() + "' holds no frames to remove.");
    // Back to the index and the segment that hold the last frame.
    while (st && (ixPos_ < segRiff_ || ixInUse_ == 0))
        st = ixPos_ < segRiff_ ? leaveSegment() : dropEmptyIndex();
    if (!st)
        return failed(st);
    uint64_t pos = 0;
    uint32_t size = 0;
    bool key = true;
    if (!(st = readFrameEntry(ixInUse_ - 1, pos, size, key)))
        return st;
    if (slackAfter(pos + kChunkHeader + padded(size)) != slack_)
        return Status::error(kNotAvi, "'" + path() + "' cannot have its last frame removed: it does not end the recording.");
    std::vector<uint8_t> bytes(size);
    bool complete = false;
    if (!(st = file_.read(pos + kChunkHeader, bytes.data(), bytes.size(), complete)))
        return st;
    if (!complete)
        return Status::error(kNotAvi, "'" + path() + "' ends inside its last frame.");
    if (!(st = eraseLastFrame(pos)))
        return failed(st);
    payload = std::move(bytes);
    keyframe = key;
    return Status::ok();
}

// Entry `n` of the current standard index: its frame's chunk header, which must be there.
Status Writer::readFrameEntry(uint32_t n, uint64_t& pos, uint32_t& size, bool& keyframe) const
{
    uint8_t entry[kStdEntrySize], head[kChunkHeader];
    bool complete = false, headComplete = false;
    Status st = file_.read(stdSlot(n), entry, sizeof entry, complete);
    if (!st)
        return st;
    const uint32_t sizeField = get32(entry + kStdEntrySizeField);
    pos = ixBase_ + get32(entry + kStdEntryOffset) - kChunkHeader;
    size = sizeField & ~kDeltaFrameBit;
    keyframe = !(sizeField & kDeltaFrameBit);
    if (st = file_.read(pos, head, sizeof head, headComplete); !st)
        return st;
    if (!complete || !headComplete || get32(head) != kVideoChunk || get32(head + kChunkSizeField) != size)
        return Status::error(kNotAvi, "'" + path() + "' has an index entry that names no frame.");
    return Status::ok();
}

// The four steps that undo an append of the frame at `pos`.
Status Writer::eraseLastFrame(uint64_t pos)
{
    // 1. The counts: never more frames than the indexes list.
    --frames_;
    if (firstRiff_)
        --firstRiffFrames_;
    Status st = writeCounts();
    if (st) st = file_.sync();
    if (!st)
        return st;
    // 2. idx1's last entry reads as a JUNK header that readers skip, then idx1 ends before it
    //    and that header begins the reserve.
    if (firstRiff_) {
        const uint64_t entry = reservePos_ - kIdx1EntrySize;
        st = file_.writeJunk(entry, fileEnd_);
        if (st) st = file_.sync();
        if (st) st = file_.write32(idx1Pos_ + kChunkSizeField, uint32_t(idx1_.size() - kIdx1EntrySize));
        if (st) st = file_.sync();
        if (!st)
            return st;
        idx1_.resize(idx1_.size() - kIdx1EntrySize);
        reservePos_ = entry;
    }
    // 3. The standard index, its duration in the super index first: that never lists more.
    const uint32_t inUse = ixInUse_ - 1;
    st = file_.write32(superSlot(ixSlot_) + kSuperEntryDuration, inUse);
    if (st) st = file_.write32(ixPos_ + kChunkHeader + kIndexEntriesInUse, inUse);
    if (st) st = file_.sync();
    if (!st)
        return st;
    ixInUse_ = inUse;
    // 4. The frame's header becomes the slack's, which takes in the frame and the old slack.
    st = file_.writeJunk(pos, moviEnd_);
    if (st) st = file_.sync();
    if (!st)
        return st;
    slack_ = pos;
    return Status::ok();
}

// The standard index listed in super index slot `slot`, as its header says.
Status Writer::readListedIndex(uint32_t slot, StdIndex& out) const
{
    uint8_t entry[kSuperEntrySize], head[kChunkHeader + kIndexHeaderSize];
    bool complete = false, headComplete = false;
    Status st = file_.read(superSlot(slot), entry, sizeof entry, complete);
    if (st && complete)
        st = file_.read(get64(entry + kSuperEntryOffset), head, sizeof head, headComplete);
    if (!st)
        return st;
    const uint32_t bytes = get32(head + kChunkSizeField);
    const uint8_t* h = head + kChunkHeader;
    out = {get64(entry + kSuperEntryOffset), bytes < kIndexHeaderSize ? 0 : (bytes - kIndexHeaderSize) / kStdEntrySize,
           get32(h + kIndexEntriesInUse), get64(h + kIndexBaseOffset)};
    if (!complete || !headComplete || get32(head) != kStdIndexChunk || out.inUse > out.capacity ||
        get32(entry + kSuperEntrySizeField) != kChunkHeader + bytes)
        return Status::error(kNotAvi, "'" + path() + "' has a damaged index.");
    return Status::ok();
}

void Writer::useListedIndex(uint32_t slot, const StdIndex& index)
{
    ixPos_ = index.pos;
    ixCapacity_ = index.capacity;
    ixInUse_ = index.inUse;
    ixBase_ = index.base;
    ixSlot_ = slot;
}

// Where the frames of `index` end, or the index itself when it holds none.
Status Writer::contentEndOf(const StdIndex& index, uint64_t& end) const
{
    end = index.end();
    if (index.inUse == 0)
        return Status::ok();
    uint8_t entry[kStdEntrySize];
    bool complete = false;
    Status st = file_.read(index.pos + kChunkHeader + kIndexHeaderSize + uint64_t(index.inUse - 1) * kStdEntrySize,
                           entry, sizeof entry, complete);
    if (!st)
        return st;
    if (!complete)
        return Status::error(kNotAvi, "'" + path() + "' has a damaged index.");
    const uint64_t frame = index.base + get32(entry + kStdEntryOffset) - kChunkHeader;
    end = frame + kChunkHeader + padded(get32(entry + kStdEntrySizeField) & ~kDeltaFrameBit);
    return Status::ok();
}

// The current index holds no frames: it leaves the super index (the count first, so that an
// interruption leaves an unlisted index chunk, which continuing lists again), and the one before
// it receives entries again. Inside a movi list its header then becomes the slack's.
Status Writer::dropEmptyIndex()
{
    if (ixSlot_ == 0 || ixSlot_ + 1 != superInUse_)
        return Status::error(kNotAvi, "'" + path() + "' has a damaged index.");
    StdIndex previous;
    Status st = readListedIndex(ixSlot_ - 1, previous);
    if (!st)
        return st;
    const bool opensSegment = segRiff_ != kFirstRiff && ixPos_ == segMovi_ + kListHeader;
    if (!opensSegment && ixPos_ + stdIndexBytes(ixCapacity_) != slack_)
        return Status::error(kNotAvi, "'" + path() + "' cannot have its last frame removed: an index does not end the recording.");
    st = writeSuperInUse(superInUse_ - 1);
    if (st) st = file_.sync();
    if (!st)
        return st;
    --superInUse_;
    if (!opensSegment) {
        st = file_.writeJunk(ixPos_, moviEnd_);
        if (st) st = file_.sync();
        if (!st)
            return st;
        slack_ = ixPos_;
    }
    useListedIndex(ixSlot_ - 1, previous);
    return Status::ok();
}

// The last AVIX segment lists nothing any more: the file is cut where it begins, and the segment
// of the current index, the one before, receives frames again; back in the first RIFF, idx1 is
// read in again.
Status Writer::leaveSegment()
{
    const uint64_t movi = ixBase_ - kChunkHeader;
    const bool first = movi == firstMovi_;
    const uint64_t riff = first ? kFirstRiff : movi - kListHeader;
    uint8_t riffHead[kListHeader], moviHead[kListHeader], idx1Head[kChunkHeader] = {};
    bool a = false, b = false, c = true;
    uint64_t contentEnd = 0;
    Status st = file_.read(riff, riffHead, sizeof riffHead, a);
    if (st) st = file_.read(movi, moviHead, sizeof moviHead, b);
    if (st) st = contentEndOf({ixPos_, ixCapacity_, ixInUse_, ixBase_}, contentEnd);
    if (!st)
        return st;
    const uint64_t riffEnd = riff + kChunkHeader + get32(riffHead + kChunkSizeField);
    const uint64_t moviEnd = movi + kChunkHeader + get32(moviHead + kChunkSizeField);
    if (first && (st = file_.read(moviEnd, idx1Head, sizeof idx1Head, c)); !st)
        return st;
    const uint32_t idx1Bytes = get32(idx1Head + kChunkSizeField);
    const uint64_t slack = slackAfter(contentEnd);
    const bool good = a && b && c && get32(riffHead) == kRiff && get32(riffHead + 8) == (first ? kAviForm : kAvixForm) &&
                      get32(moviHead) == kList && get32(moviHead + 8) == kMovi && riffEnd == segRiff_ &&
                      moviEnd <= riffEnd && slack + kChunkHeader <= moviEnd &&
                      (!first || (get32(idx1Head) == kIdx1 && idx1Bytes == firstRiffFrames_ * kIdx1EntrySize &&
                                  moviEnd + kChunkHeader + idx1Bytes <= riffEnd && firstRiffFrames_ == frames_));
    if (!good)
        return Status::error(kNotAvi, "'" + path() + "' cannot have its last frame removed: its segments are damaged.");
    std::vector<uint8_t> idx1(first ? idx1Bytes : 0);
    if (first && (st = file_.read(moviEnd + kChunkHeader, idx1.data(), idx1.size(), c)); !st)
        return st;
    // The segment goes; what lay behind the last frame of the one before is its slack again.
    st = file_.truncate(segRiff_);
    if (st) st = file_.sync();
    if (st && slack != contentEnd)
        st = file_.writeJunk(contentEnd, slack);
    if (st) st = file_.writeJunk(slack, moviEnd);
    if (st && first && moviEnd + kChunkHeader + idx1Bytes + kChunkHeader <= riffEnd)
        st = file_.writeJunk(moviEnd + kChunkHeader + idx1Bytes, riffEnd);
    if (st) st = file_.sync();
    if (!st)
        return st;
    fileEnd_ = riffEnd;
    segRiff_ = riff;
    segMovi_ = movi;
    moviEnd_ = moviEnd;
    slack_ = slack;
    if (first) {
        firstRiff_ = true;
        idx1_ = std::move(idx1);
        idx1Pos_ = moviEnd;
        reservePos_ = moviEnd + kChunkHeader + idx1Bytes;
    }
    return Status::ok();
}

}  // namespace kelvra::media::avi
