// Continuing an existing capture file, and recovering one that a crash, a kill or a power
// failure interrupted: frames that made it stay (indexed now if they were not yet), whatever was
// half-written becomes free space again.
#include "avi_writer_impl.h"

namespace kelvra::media::avi {

Status Writer::loadIndexes(const ParsedAvi& parsed)
{
    fields_ = parsed.fields;
    superInUse_ = parsed.superInUse;
    frames_ = parsed.indexedFrames;
    maxChunk_ = parsed.suggestedBuffer;
    firstRiff_ = parsed.inFirstRiff();
    firstMovi_ = parsed.first.moviList;
    segRiff_ = parsed.last().riff;
    segMovi_ = parsed.last().moviList;
    ixPos_ = ixBase_ = 0;
    ixCapacity_ = ixInUse_ = ixSlot_ = 0;
    firstRiffFrames_ = 0;
    idx1_.clear();
    std::vector<uint8_t> entries;
    for (const StdIndex& index : parsed.indexes) {
        if (index.pos >= parsed.firstEnd)
            continue;
        firstRiffFrames_ += index.inUse;
        if (!firstRiff_)
            continue;
        Status st = readStdEntries(file_, index, entries);
        if (!st)
            return st;
        for (size_t i = 0; i < entries.size(); i += kStdEntrySize) {
            uint8_t entry[kIdx1EntrySize];
            const uint32_t size = get32(&entries[i + kStdEntrySizeField]);
            const uint64_t chunk = index.base + get32(&entries[i + kStdEntryOffset]) - kChunkHeader;
            putIdx1Entry(entry, !(size & kDeltaFrameBit), idx1Offset(chunk), size & ~kDeltaFrameBit);
            idx1_.insert(idx1_.end(), entry, entry + sizeof entry);
        }
    }
    if (parsed.indexes.empty())
        return Status::ok();
    const StdIndex& last = parsed.indexes.back();
    ixPos_ = last.pos;
    ixCapacity_ = last.capacity;
    ixInUse_ = last.inUse;
    ixBase_ = last.base;
    ixSlot_ = uint32_t(parsed.indexes.size() - 1);
    // Entries whose frames never reached the disk were dropped by the parser. The super index
    // says so first: readers that trust its durations must not count frames that are gone.
    Status st;
    for (uint32_t slot = 0; st && slot < parsed.indexes.size(); ++slot)
        if (parsed.indexes[slot].duration != parsed.indexes[slot].inUse)
            st = file_.write32(superSlot(slot) + kSuperEntryDuration, parsed.indexes[slot].inUse);
    if (st) st = file_.write32(ixPos_ + kChunkHeader + kIndexEntriesInUse, ixInUse_);
    return st;
}

// Slack starts 8-aligned; behind a frame of odd length a JUNK filler makes up the difference.
uint64_t Writer::placeSlackAfter(uint64_t contentEnd, Status& st)
{
    const uint64_t misalign = contentEnd % kChunkAlign;
    if (!misalign)
        return contentEnd;
    st = file_.writeHeader(contentEnd, kJunk, uint32_t(kChunkAlign - misalign));
    return contentEnd + kChunkHeader + kChunkAlign - misalign;
}

Status Writer::resume(const ParsedAvi& parsed)
{
    Status st = loadIndexes(parsed);
    if (!st)
        return st;
    slack_ = placeSlackAfter(parsed.contentEnd, st);
    if (!st || !(st = firstRiff_ ? resumeFirstRiff(parsed) : resumeSegment(parsed)))
        return st;
    for (const TailChunk& chunk : parsed.unindexed)
        if (!(st = chunk.tag == kStdIndexChunk ? adoptIndexChunk(chunk) : adoptFrame(chunk)))
            return st;
    st = writeCounts();
    if (st) st = file_.sync();
    if (!st)
        return st;
    broken_ = false;
    return Status::ok();
}

// After a crash the slack runs from the last frame to `end` (at least its own header), and the
// movi list and the RIFF starting at `riff` end there too.
Status Writer::stretchSlackTo(uint64_t& end, uint64_t riff)
{
    Status st;
    if (end < slack_ + kChunkHeader) {
        end = slack_ + kChunkHeader;
        if (!(st = file_.allocate(slack_, kChunkHeader)))
            return st;
    }
    st = file_.writeJunk(slack_, end);
    if (st) st = file_.setChunkEnd(segMovi_, end);
    if (st) st = file_.setChunkEnd(riff, end);
    if (st) st = file_.sync();
    return st;
}

// The first RIFF is cut back to its last good chunk, then idx1 is written anew from the
// standard indexes, which is also how the slack for new frames comes about.
Status Writer::resumeFirstRiff(const ParsedAvi& parsed)
{
    Status st;
    uint64_t trailingJunk = parsed.trailingJunk;
    std::vector<uint64_t> retag = parsed.idx1Chunks;
    moviEnd_ = parsed.first.moviEnd;
    fileEnd_ = parsed.firstEnd;
    if (parsed.moviCutShort) {  // the file ends inside the movi list: the slack reaches its end
        uint64_t end = alignDown(parsed.fileSize, kChunkAlign);
        st = stretchSlackTo(end, kFirstRiff);
        if (st) st = file_.truncate(end);
        if (st) st = file_.sync();
        if (!st)
            return st;
        fileEnd_ = moviEnd_ = end;
        trailingJunk = 0;
        retag.clear();
    } else if (parsed.fileSize != fileEnd_ || parsed.first.riffEnd != fileEnd_) {
        // The RIFF ends at its last good chunk before the file does.
        st = file_.setChunkEnd(kFirstRiff, fileEnd_);
        if (st) st = file_.sync();
        if (st) st = file_.truncate(fileEnd_);
        if (st) st = file_.sync();
        if (!st)
            return st;
    }
    // A RIFF already at its limit takes the room for its idx1 beyond it; the next frame then
    // starts an AVIX segment.
    st = relocateIdx1(0, retag, trailingJunk, true);
    return st.code == kSegmentFull ? relocateIdx1(0, retag, trailingJunk, false) : st;
}

// The last AVIX segment: its slack runs from the last frame to the end of the file, and the
// lists around it say so.
Status Writer::resumeSegment(const ParsedAvi& parsed)
{
    Status st;
    uint64_t end = alignDown(parsed.keepEnd, kChunkAlign);
    if (!(st = stretchSlackTo(end, segRiff_)))
        return st;
    uint64_t size = 0;
    st = file_.size(size);
    if (st && size != end) {
        st = file_.truncate(end);
        if (st) st = file_.sync();
    }
    if (!st)
        return st;
    fileEnd_ = moviEnd_ = end;
    return Status::ok();
}

// A standard index that was made but not yet listed in the super index.
Status Writer::adoptIndexChunk(const TailChunk& chunk)
{
    if (superInUse_ >= fields_.superCapacity)
        return Status::ok();  // it holds nothing; it stays a chunk that readers skip
    // As a new index is listed: its entry first, then the count that takes it in.
    Status st = file_.write32(chunk.pos + kChunkHeader + kIndexEntriesInUse, 0);
    if (st) st = writeSuperEntry(chunk.pos, uint32_t(kChunkHeader + chunk.size));
    if (st) st = file_.sync();
    if (st) st = writeSuperInUse(superInUse_ + 1);
    if (st) st = file_.sync();
    if (!st)
        return st;
    useNewIndex(chunk.pos, (chunk.size - kIndexHeaderSize) / kStdEntrySize, chunk.base);
    return Status::ok();
}

// A whole frame whose append stopped before its index entries counted: it is indexed now.
Status Writer::adoptFrame(const TailChunk& chunk)
{
    Status st = fitFrame(0, false);
    if (!st)
        return st;
    // The interrupted append wrote its standard index entry first; it says whether this is a keyframe.
    uint8_t entry[kStdEntrySize];
    bool complete = false;
    if (!(st = file_.read(stdSlot(ixInUse_), entry, sizeof entry, complete)))
        return st;
    const uint32_t offset = get32(entry + kStdEntryOffset), size = get32(entry + kStdEntrySizeField);
    const bool matches = offset == chunk.pos + kChunkHeader - ixBase_ && (size & ~kDeltaFrameBit) == chunk.size;
    const bool keyframe = !matches || !(size & kDeltaFrameBit);
    // Steps 1 and 3 of an append; step 2, the frame's header, is on disk already.
    st = writeIndexSlots(chunk.pos, chunk.size, keyframe);
    if (st) st = file_.sync();
    if (st) st = commitIndex(chunk.pos, chunk.size, keyframe);
    if (st) st = file_.sync();
    return st;
}

Status Writer::resync()
{
    ParsedAvi parsed;
    Status st = parseAvi(file_, parsed);
    if (!st)
        return st;
    if (!parsed.unsupported.empty())
        return Status::error(kNotAvi, "'" + path() + "' cannot be continued: " + parsed.unsupported);
    return resume(parsed);
}

}  // namespace kelvra::media::avi
