// Room for frames: growing the slack, moving the first RIFF's idx1, new standard indexes, new
// AVIX segments, and giving back unused space when the file is closed.
#include "avi_writer_impl.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace kelvra::media::avi {

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;
constexpr uint64_t kMinSlackGrowth = 4 * kMiB;
constexpr uint64_t kMaxSlackGrowth = 64 * kMiB;
constexpr uint64_t kSlackGrowthShare = 4;  // the slack grows by a quarter of what the segment holds
constexpr uint64_t kRiffGrowthShare = 8;   // but at least an eighth of a RIFF
constexpr uint64_t kReserveBytes = 4096 * kIdx1EntrySize;
constexpr uint64_t kIdx1Align = 16;  // idx1 headers sit at 8 modulo 16, so that entries are 16-aligned

uint64_t idx1PlaceUp(uint64_t v) { return alignUp(std::max(v, kChunkHeader) - kChunkHeader, kIdx1Align) + kChunkHeader; }
uint64_t idx1PlaceDown(uint64_t v) { return alignDown(v - kChunkHeader, kIdx1Align) + kChunkHeader; }

bool outOfSpace(const Status& st)
{
    return st.code == -ENOSPC || st.code == -EFBIG || st.code == -EDQUOT;
}

// The header of a new, empty standard index of frame chunks whose offsets count from `base`.
void putStdIndexHeader(uint8_t* h, uint64_t base)
{
    put16(h + kIndexLongsPerEntry, kStdEntrySize / sizeof(uint32_t));
    h[kIndexType] = AVI_INDEX_OF_CHUNKS;
    put32(h + kIndexChunkId, kVideoChunk);
    put64(h + kIndexBaseOffset, base);
}

}  // namespace

uint64_t Writer::slackGrowth() const
{
    const uint64_t least = std::min(kMinSlackGrowth, options_.riffLimit / kRiffGrowthShare);
    return std::clamp((slack_ - segMovi_) / kSlackGrowthShare, least, kMaxSlackGrowth);
}

uint64_t Writer::riffLimitEnd(bool enforceLimit) const
{
    return enforceLimit ? segRiff_ + options_.riffLimit : std::numeric_limits<uint64_t>::max() / 2;
}

uint64_t Writer::superSlot(uint32_t slot) const
{
    return fields_.superIndex + kChunkHeader + kIndexHeaderSize + uint64_t(slot) * kSuperEntrySize;
}

// The next free super index slot names the standard index at `index`; it counts only once
// writeSuperInUse takes it in.
Status Writer::writeSuperEntry(uint64_t index, uint32_t bytes)
{
    uint8_t entry[kSuperEntrySize];
    putSuperEntry(entry, index, bytes);
    return file_.write(superSlot(superInUse_), entry, sizeof entry);
}

Status Writer::writeSuperInUse(uint32_t count)
{
    return file_.write32(fields_.superIndex + kChunkHeader + kIndexEntriesInUse, count);
}

// The standard index at `pos`, just listed in the super index, receives the entries from now on.
void Writer::useNewIndex(uint64_t pos, uint32_t capacity, uint64_t base)
{
    ixPos_ = pos;
    ixCapacity_ = capacity;
    ixInUse_ = 0;
    ixBase_ = base;
    ixSlot_ = superInUse_++;
}

// Grows the file to `preferredEnd`, or to `minimalEnd` when the disk (or a size limit) has no
// room for more, so that the last frames that fit still get written. The new size is on disk
// before any header takes the new space in: the other way round a power failure could leave a
// RIFF that runs past the end of the file.
Status Writer::growFile(uint64_t preferredEnd, uint64_t minimalEnd, uint64_t& end)
{
    end = std::max(preferredEnd, fileEnd_);
    Status st = end > fileEnd_ ? file_.allocate(fileEnd_, end - fileEnd_) : Status::ok();
    if (outOfSpace(st) && minimalEnd < preferredEnd) {
        end = std::max(minimalEnd, fileEnd_);
        st = end > fileEnd_ ? file_.allocate(fileEnd_, end - fileEnd_) : Status::ok();
    }
    if (st && end > fileEnd_)
        st = file_.sync();
    return st;
}

// The file grew from fileEnd_ to `end`; `chunks` (outermost first, the innermost a JUNK chunk)
// end at fileEnd_ and take the new space in. A JUNK chunk fills it first, behind the last RIFF
// where readers stop; then each chunk grows over it, each on disk before the next, so that no
// chunk ever ends past the one holding it, nor a list in bytes that are no chunk.
Status Writer::takeInGrowth(std::initializer_list<uint64_t> chunks, uint64_t end)
{
    if (end == fileEnd_)
        return Status::ok();
    Status st = file_.writeJunk(fileEnd_, end);
    if (st) st = file_.sync();
    for (uint64_t chunk : chunks) {
        if (st) st = file_.setChunkEnd(chunk, end);
        if (st) st = file_.sync();
    }
    if (st)
        fileEnd_ = end;
    return st;
}

// The JUNK chunk at `junk`, which ends the file and the `lists` holding it (outermost first),
// shrinks to its header and the file is cut behind it: the rest becomes a JUNK chunk of its own,
// which the lists then leave, innermost first, each on disk before the next.
Status Writer::cutAfterJunk(std::initializer_list<uint64_t> lists, uint64_t junk)
{
    const uint64_t end = junk + kChunkHeader;
    Status st;
    if (end < fileEnd_) {
        st = file_.writeJunk(end, fileEnd_);
        if (st) st = file_.sync();
        if (st) st = file_.writeHeader(junk, kJunk, 0);
        if (st) st = file_.sync();
        for (auto list = std::rbegin(lists); st && list != std::rend(lists); ++list) {
            st = file_.setChunkEnd(*list, end);
            if (st) st = file_.sync();
        }
    }
    if (st) st = file_.truncate(end);
    if (st) st = file_.sync();
    if (st)
        fileEnd_ = end;
    return st;
}

Status Writer::prepare(uint64_t span)
{
    Status st = fitFrame(span, true);
    if (st.code != kSegmentFull)
        return st;
    if (!(st = startSegment(span + kChunkHeader)))
        return st;
    st = fitFrame(span, true);
    if (st.code == kSegmentFull)
        return Status::error(EFBIG, "A frame of " + std::to_string(span) + " bytes is too large for '" + path() + "'");
    return st;
}

// Room for a frame chunk of `span` bytes plus the slack header behind it, for its standard
// index entry and, in the first RIFF, for its idx1 entry.
Status Writer::fitFrame(uint64_t span, bool enforceLimit)
{
    if (firstRiff_ && enforceLimit && idx1_.size() / kIdx1EntrySize >= kIdx1Capacity)
        return Status::error(kSegmentFull, "");
    Status st;
    if (ixInUse_ >= ixCapacity_ || ixPos_ < segRiff_) {
        if (superInUse_ >= fields_.superCapacity)
            return Status::error(EFBIG, "'" + path() + "' holds as many frames as its index can list");
        const uint64_t indexBytes = stdIndexBytes(stdIndexCapacity(superInUse_));
        if (!(st = ensureSlack(indexBytes + span + kChunkHeader, enforceLimit)) || !(st = allocateIndexChunk()))
            return st;
    }
    if (!(st = ensureSlack(span + kChunkHeader, enforceLimit)))
        return st;
    return firstRiff_ ? ensureReserve(enforceLimit) : st;
}

Status Writer::ensureSlack(uint64_t need, bool enforceLimit)
{
    if (slack_ + need <= moviEnd_)
        return Status::ok();
    if (firstRiff_)
        return relocateIdx1(need, {idx1Pos_}, reservePos_, enforceLimit);
    return extendSegment(need, enforceLimit);
}

Status Writer::ensureReserve(bool enforceLimit)
{
    const uint64_t minimal = reservePos_ + kIdx1EntrySize + kChunkHeader;
    if (minimal <= fileEnd_)
        return Status::ok();
    const uint64_t limit = riffLimitEnd(enforceLimit);
    if (minimal > limit)
        return Status::error(kSegmentFull, "");
    uint64_t end = 0;
    Status st = growFile(std::min(alignUp(minimal + kReserveBytes, kChunkAlign), alignDown(limit, kChunkAlign)),
                         alignUp(minimal, kChunkAlign), end);
    // The first RIFF, and the reserve with it, reach the new end of the file; behind an idx1 that
    // ends the RIFF, the new space is the reserve.
    if (!st)
        return st;
    return reservePos_ == fileEnd_ ? takeInGrowth({kFirstRiff}, end) : takeInGrowth({kFirstRiff, reservePos_}, end);
}

// A new standard index, placed in the slack like a frame and then listed in the super index.
Status Writer::allocateIndexChunk()
{
    const uint32_t capacity = stdIndexCapacity(superInUse_);
    const uint64_t bytes = stdIndexBytes(capacity), at = slack_, next = at + bytes;
    uint8_t header[kIndexHeaderSize] = {};
    putStdIndexHeader(header, segMovi_ + kChunkHeader);
    // 1. The index header, a new slack header behind the index, and the super index entry past
    //    the entries in use: nothing a reader looks at yet.
    Status st = file_.write(at + kChunkHeader, header, sizeof header);
    if (st) st = file_.writeJunk(next, moviEnd_);
    if (st) st = writeSuperEntry(at, uint32_t(bytes));
    if (st) st = file_.sync();
    // 2. The slack's JUNK header becomes the index's 'ix00' header.
    if (st) st = file_.writeHeader(at, kStdIndexChunk, uint32_t(bytes - kChunkHeader));
    if (st) st = file_.sync();
    if (!st)
        return st;
    slack_ = next;
    // 3. The count that makes the entry part of the super index.
    st = writeSuperInUse(superInUse_ + 1);
    if (st) st = file_.sync();
    if (!st)
        return st;
    useNewIndex(at, capacity, segMovi_ + kChunkHeader);
    return Status::ok();
}

// The first RIFF's movi list can only grow over the idx1 behind it, so idx1 moves: a copy is
// written inside the JUNK that ends the RIFF, that JUNK shrinks to end where the copy begins,
// the old idx1 becomes JUNK, and the movi list and its slack grow up to the copy. Each of these
// writes leaves a valid file.
Status Writer::relocateIdx1(uint64_t need, const std::vector<uint64_t>& retag, uint64_t trailingJunk,
                            bool enforceLimit)
{
    // Nothing to build the copy in yet: a JUNK chunk at the end will be.
    const bool addJunk = !trailingJunk;
    const uint64_t junk = addJunk ? fileEnd_ : trailingJunk;
    const uint64_t tail = 2 * kChunkHeader + idx1_.size(), limit = riffLimitEnd(enforceLimit);
    const uint64_t low = idx1PlaceUp(std::max(junk + kChunkHeader, slack_ + need));
    if (low + tail > limit)
        return Status::error(kSegmentFull, "");
    const uint64_t reserve = low + tail + kReserveBytes <= limit ? kReserveBytes : 0;
    const uint64_t high = idx1PlaceDown(std::min(limit - tail - reserve, std::max(low, slack_ + need + slackGrowth())));
    uint64_t end = 0;
    Status st = growFile(alignUp(high + tail + reserve, kChunkAlign), alignUp(low + tail, kChunkAlign), end);
    if (!st)
        return st;
    const uint64_t at = end >= alignUp(high + tail + reserve, kChunkAlign) ? high : low;
    // 1. The RIFF, and the JUNK that ends it (made of the new space when there is none), reach
    //    the new end of the file.
    st = addJunk ? takeInGrowth({kFirstRiff}, end) : takeInGrowth({kFirstRiff, trailingJunk}, end);
    if (!st)
        return st;
    trailingJunk = junk;
    // 2. The copy, with its reserve behind it, inside that JUNK.
    st = writeIdx1Copy(at, end);
    if (st) st = file_.sync();
    // 3. The JUNK ends where the copy begins.
    if (st) st = file_.writeJunk(trailingJunk, at);
    if (st) st = file_.sync();
    // 4. The old idx1 becomes JUNK.
    for (uint64_t old : retag)
        if (st) st = file_.write32(old, kJunk);
    if (st) st = file_.sync();
    // 5. The movi list grows up to the copy, then its slack does.
    if (st) st = file_.setChunkEnd(segMovi_, at);
    if (st) st = file_.sync();
    if (st) st = file_.writeJunk(slack_, at);
    if (st) st = file_.sync();
    if (!st)
        return st;
    idx1Pos_ = moviEnd_ = at;
    reservePos_ = at + kChunkHeader + idx1_.size();
    return Status::ok();
}

Status Writer::writeIdx1Copy(uint64_t at, uint64_t fileEnd, uint32_t tag)
{
    std::vector<uint8_t> copy(kChunkHeader + idx1_.size() + kChunkHeader);
    putHeader(copy.data(), tag, uint32_t(idx1_.size()));
    std::copy(idx1_.begin(), idx1_.end(), copy.begin() + kChunkHeader);
    const uint64_t reserve = at + kChunkHeader + idx1_.size();
    putHeader(copy.data() + copy.size() - kChunkHeader, kJunk, uint32_t(fileEnd - reserve - kChunkHeader));
    return file_.write(at, copy.data(), copy.size());
}

// An AVIX segment is the last thing in the file: its slack grows at the end, child first, so
// that the JUNK never ends before the lists that hold it.
Status Writer::extendSegment(uint64_t need, bool enforceLimit)
{
    const uint64_t minimal = alignUp(slack_ + need, kChunkAlign), limit = riffLimitEnd(enforceLimit);
    if (minimal > limit)
        return Status::error(kSegmentFull, "");
    const uint64_t preferred = std::min(alignUp(std::max(minimal, fileEnd_ + slackGrowth()), kChunkAlign),
                                        alignDown(limit, kChunkAlign));
    uint64_t end = 0;
    Status st = growFile(preferred, minimal, end);
    if (st) st = takeInGrowth({segRiff_, segMovi_, slack_}, end);
    if (!st)
        return st;
    moviEnd_ = end;
    return Status::ok();
}

// RIFF 'AVIX' ( LIST movi ( ix00 JUNK-slack ) ), written past the end of the file, then listed
// in the super index. The first RIFF's idx1 is complete by then and stays as it is.
Status Writer::startSegment(uint64_t need)
{
    if (superInUse_ >= fields_.superCapacity)
        return Status::error(EFBIG, "'" + path() + "' holds as many frames as its index can list");
    const uint32_t capacity = stdIndexCapacity(superInUse_);
    const uint64_t at = fileEnd_, index = at + 2 * kListHeader, slack = index + stdIndexBytes(capacity);
    const uint64_t minimal = alignUp(slack + need, kChunkAlign);
    if (minimal - at > options_.riffLimit)
        return Status::error(EFBIG, "A frame is too large for a RIFF segment of '" + path() + "'");
    uint64_t end = 0;
    const uint64_t growth = std::min(kMinSlackGrowth, options_.riffLimit / kRiffGrowthShare);
    Status st = growFile(std::min(alignUp(slack + need + growth, kChunkAlign), at + alignDown(options_.riffLimit, kChunkAlign)),
                         minimal, end);
    if (!st)
        return st;
    const uint64_t movi = at + kListHeader;
    uint8_t head[2 * kListHeader + kChunkHeader + kIndexHeaderSize] = {};
    putListHeader(head, kRiff, uint32_t(end - at - kChunkHeader), kAvixForm);
    putListHeader(head + kListHeader, kList, uint32_t(end - movi - kChunkHeader), kMovi);
    putHeader(head + 2 * kListHeader, kStdIndexChunk, uint32_t(stdIndexBytes(capacity) - kChunkHeader));
    putStdIndexHeader(head + 2 * kListHeader + kChunkHeader, movi + kChunkHeader);
    // 1. The segment's slack, then the segment and its super index entry, past everything a
    //    reader looks at.
    st = file_.writeJunk(slack, end);
    if (st) st = file_.sync();
    if (st) st = file_.write(at, head, sizeof head);
    if (st) st = writeSuperEntry(index, uint32_t(stdIndexBytes(capacity)));
    if (st) st = file_.sync();
    // 2. The count that makes the entry, and so the segment, part of the super index.
    if (st) st = writeSuperInUse(superInUse_ + 1);
    if (st) st = file_.sync();
    if (!st)
        return st;
    firstRiff_ = false;
    std::vector<uint8_t>().swap(idx1_);
    segRiff_ = at;
    segMovi_ = movi;
    slack_ = slack;
    fileEnd_ = moviEnd_ = end;
    useNewIndex(index, capacity, segMovi_ + kChunkHeader);
    return Status::ok();
}

// On close the unused slack goes back: in an AVIX segment by cutting the file after the last
// frame; in the first RIFF by writing idx1 right behind the last frame and cutting there.
Status Writer::compact()
{
    if (!firstRiff_)
        return cutAfterJunk({segRiff_, segMovi_}, slack_);
    const uint64_t at = idx1PlaceUp(slack_ + kChunkHeader), idx1End = at + kChunkHeader + idx1_.size();
    if (idx1End + kChunkHeader > moviEnd_)  // no room in the slack: only the reserve goes
        return reservePos_ + kChunkHeader <= fileEnd_ ? cutAfterJunk({kFirstRiff}, reservePos_) : Status::ok();
    // The copy in the slack, as a JUNK chunk while it lies inside the movi list; the slack and
    // the movi list end at it, then it becomes idx1 and the RIFF ends behind it, each on disk
    // before the next; then the file is cut there.
    Status st = writeIdx1Copy(at, moviEnd_, kJunk);
    if (st) st = file_.sync();
    if (st) st = file_.writeJunk(slack_, at);
    if (st) st = file_.sync();
    if (st) st = file_.setChunkEnd(segMovi_, at);
    if (st) st = file_.sync();
    if (st) st = file_.write32(at, kIdx1);
    if (st) st = file_.sync();
    if (st) st = file_.setChunkEnd(kFirstRiff, idx1End);
    if (st) st = file_.sync();
    if (st) st = file_.truncate(idx1End);
    if (st) st = file_.sync();
    return st;
}

}  // namespace kelvra::media::avi
