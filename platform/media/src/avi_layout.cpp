// Laying out a new capture file, and reading back the layout of an existing one.
#include "avi_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kelvra::media::avi {

namespace {

constexpr uint32_t kMaxExtradata = 1 << 20;
constexpr uint32_t kStdIndexGrowthSteps = 8;  // 256 doubles up to 65536

// Builds chunks in memory, patching each size when the chunk ends.
class Buffer {
public:
    std::vector<uint8_t> bytes;

    uint64_t pos() const { return bytes.size(); }
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
    void u32(uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
    void u64(uint64_t v) { u32(uint32_t(v)); u32(uint32_t(v >> 32)); }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void raw(const void* p, size_t n) { auto* b = static_cast<const uint8_t*>(p); bytes.insert(bytes.end(), b, b + n); }

    uint64_t begin(uint32_t tag) { const uint64_t at = pos(); u32(tag); u32(0); return at; }
    uint64_t beginList(uint32_t tag, uint32_t type) { const uint64_t at = begin(tag); u32(type); return at; }
    void end(uint64_t at)
    {
        const uint64_t size = pos() - at - kChunkHeader;
        put32(&bytes[at + 4], uint32_t(size));
        if (size & 1)
            u8(0);
    }
    // A JUNK chunk so that the next chunk starts at `remainder` modulo `alignment`.
    void alignWithJunk(uint64_t alignment, uint64_t remainder)
    {
        if (pos() % alignment == remainder)
            return;
        const uint64_t data = (remainder + 2 * alignment - (pos() + kChunkHeader) % alignment) % alignment;
        const uint64_t junk = begin(kJunk);
        zeros(data);
        end(junk);
    }
};

void putMainHeader(Buffer& b, const AviVideoFormat& format, uint32_t microSecPerFrame)
{
    const uint64_t avih = b.begin(kAvih);
    b.u32(microSecPerFrame);
    b.u32(0);  // dwMaxBytesPerSec
    b.u32(0);  // dwPaddingGranularity
    b.u32(AVIF_HASINDEX | AVIF_ISINTERLEAVED | AVIF_TRUSTCKTYPE);
    b.u32(0);  // dwTotalFrames (of the first RIFF)
    b.u32(0);  // dwInitialFrames
    b.u32(1);  // dwStreams
    b.u32(0);  // dwSuggestedBufferSize
    b.u32(uint32_t(format.width));
    b.u32(uint32_t(std::abs(format.height)));
    b.zeros(4 * 4);
    b.end(avih);
}

void putStreamHeader(Buffer& b, const AviVideoFormat& format, uint32_t microSecPerFrame)
{
    const uint64_t strh = b.begin(kStrh);
    b.u32(kVids);
    b.u32(format.handler);
    b.u32(0);  // dwFlags
    b.u16(0);  // wPriority
    b.u16(0);  // wLanguage
    b.u32(0);  // dwInitialFrames
    b.u32(microSecPerFrame);  // dwScale / dwRate = seconds per frame, exactly
    b.u32(kMicrosPerSecond);
    b.u32(0);  // dwStart
    b.u32(0);  // dwLength
    b.u32(0);  // dwSuggestedBufferSize
    b.u32(0xFFFFFFFFu);  // dwQuality: default
    b.u32(0);  // dwSampleSize: one frame per chunk
    b.u16(0);
    b.u16(0);
    b.u16(uint16_t(format.width));
    b.u16(uint16_t(std::abs(format.height)));
    b.end(strh);

    const uint64_t strf = b.begin(kStrf);
    b.u32(kBitmapInfoSize + uint32_t(format.extradata.size()));
    b.u32(uint32_t(format.width));
    b.u32(uint32_t(format.height));
    b.u16(1);  // biPlanes
    b.u16(format.bitCount);
    b.u32(format.compression);
    b.u32(format.sizeImage);
    b.zeros(4 * 4);
    b.raw(format.extradata.data(), format.extradata.size());
    b.end(strf);
}

void putIndexHeader(Buffer& b, uint8_t type, uint32_t inUse, uint64_t base)
{
    b.u16(type == AVI_INDEX_OF_INDEXES ? 4 : 2);  // wLongsPerEntry
    b.u8(0);                                      // bIndexSubType
    b.u8(type);
    b.u32(inUse);
    b.u32(kVideoChunk);
    b.u64(base);
    b.u32(0);
}

}  // namespace

uint32_t stdIndexCapacity(uint32_t indexesBefore)
{
    return std::min(kFirstStdIndexCapacity << std::min(indexesBefore, kStdIndexGrowthSteps), kMaxStdIndexCapacity);
}

std::vector<uint8_t> buildEmptyFile(const AviVideoFormat& format, uint32_t microSecPerFrame)
{
    Buffer b;
    const uint64_t riff = b.beginList(kRiff, kAviForm);
    const uint64_t hdrl = b.beginList(kList, kHdrl);
    putMainHeader(b, format, microSecPerFrame);
    const uint64_t strl = b.beginList(kList, kStrl);
    putStreamHeader(b, format, microSecPerFrame);
    b.alignWithJunk(kChunkAlign, 0);
    const uint64_t indx = b.begin(kIndx);
    putIndexHeader(b, AVI_INDEX_OF_INDEXES, 1, 0);
    const uint64_t firstEntry = b.pos();
    b.zeros(uint64_t(kSuperEntrySize) * kSuperIndexCapacity);
    b.end(indx);
    b.end(strl);
    const uint64_t odml = b.beginList(kList, kOdml);
    const uint64_t dmlh = b.begin(kDmlh);
    b.zeros(kDmlhSize);
    b.end(dmlh);
    b.end(odml);
    b.end(hdrl);

    const uint64_t info = b.beginList(kList, kInfo);
    const uint64_t isft = b.begin(kIsft);
    b.raw(kSoftwareName, sizeof kSoftwareName);
    b.end(isft);
    b.end(info);

    // The movi list's chunks start 8-aligned, and idx1's entries 16-aligned, so that no entry
    // write straddles a sector.
    b.alignWithJunk(kChunkAlign, kListHeader % kChunkAlign);
    const uint64_t movi = b.beginList(kList, kMovi);
    const uint64_t ix = b.begin(kStdIndexChunk);
    putIndexHeader(b, AVI_INDEX_OF_CHUNKS, 0, movi + kChunkHeader);
    b.zeros(uint64_t(kStdEntrySize) * kFirstStdIndexCapacity);
    b.end(ix);
    b.end(movi);
    b.alignWithJunk(2 * kChunkAlign, kChunkAlign);
    b.end(b.begin(kIdx1));
    b.end(riff);

    putSuperEntry(&b.bytes[firstEntry], ix, uint32_t(stdIndexBytes(kFirstStdIndexCapacity)));
    return std::move(b.bytes);
}

namespace {

struct Head {
    uint32_t tag = 0, size = 0, type = 0;
    uint64_t pos = 0;
    uint64_t dataEnd() const { return pos + kChunkHeader + size; }
    uint64_t end() const { return pos + kChunkHeader + padded(size); }
};

Status readHead(const AviFile& file, uint64_t pos, Head& h)
{
    uint8_t b[kListHeader];
    bool complete = false;
    Status st = file.read(pos, b, sizeof b, complete);
    h = {get32(b), get32(b + 4), get32(b + 8), pos};
    return st;
}

Status notAvi(const AviFile& file)
{
    return Status::error(kNotAvi, "'" + file.path() + "' is not an AVI file.");
}

class Parser {
public:
    Parser(const AviFile& file, ParsedAvi& out) : file_(file), p_(out) {}
    Status run();

private:
    Status parseFirstRiff();
    Status parseAfterMovi(uint64_t pos, uint64_t declaredEnd);
    Status parseHdrl(uint64_t pos, uint64_t end);
    Status parseStrl(uint64_t pos, uint64_t end);
    Status parseStrf(const Head& h);
    Status parseSuperIndex(uint64_t pos, uint32_t size);
    Status parseSegments();
    Status parseIndexes();
    Status readStdIndex(uint64_t pos, StdIndex& out, bool& valid);
    Status dropUnwrittenEntries(StdIndex& index);
    Status lastIndexedEnd(const StdIndex& index, uint64_t& end);
    Status walkTail();
    void unsupported(const std::string& why) { if (p_.unsupported.empty()) p_.unsupported = why; }
    // A header chunk that claims to run past the list holding it: walking on would read (or,
    // continuing the file, write) whatever lies beyond.
    Status overlapping() const
    {
        return Status::error(kNotAvi, "'" + file_.path() + "' is an AVI file whose headers are damaged.");
    }

    const AviFile& file_;
    ParsedAvi& p_;
    int strls_ = 0;
    uint32_t streams_ = 0;
};

Status Parser::run()
{
    Status st = file_.size(p_.fileSize);
    if (!st)
        return st;
    if (p_.fileSize < kListHeader)
        return notAvi(file_);
    if (!(st = parseFirstRiff()))
        return st;
    if (streams_ != 1 || strls_ != 1)
        unsupported("it holds more than one stream");
    if (!p_.fields.avih || !p_.fields.strh || p_.format.width <= 0)
        return Status::error(kNotAvi, "'" + file_.path() + "' is an AVI file without a video stream.");
    if (!p_.fields.superIndex || !p_.fields.dmlh)
        unsupported("it has no OpenDML index");
    if (!p_.first.moviList)
        unsupported("it has no movi list");
    if (!p_.unsupported.empty())
        return Status::ok();
    if (!(st = parseSegments()) || !(st = parseIndexes()) || !p_.unsupported.empty())
        return st;
    return walkTail();
}

Status Parser::parseFirstRiff()
{
    Head riff;
    Status st = readHead(file_, 0, riff);
    if (!st)
        return st;
    if (riff.tag != kRiff || riff.type != kAviForm)
        return notAvi(file_);
    const uint64_t declaredEnd = riff.dataEnd();
    uint64_t pos = kListHeader;
    while (pos + kChunkHeader <= std::min(declaredEnd, p_.fileSize)) {
        Head h;
        if (!(st = readHead(file_, pos, h)))
            return st;
        if (h.tag == kList && h.type == kMovi) {
            p_.first = {0, declaredEnd, pos, h.dataEnd()};
            return parseAfterMovi(h.dataEnd(), declaredEnd);
        }
        if (h.end() > p_.fileSize)
            return Status::error(kNotAvi, "'" + file_.path() + "' is an AVI file whose headers are cut short.");
        if (h.tag == kList && h.type == kHdrl && !(st = parseHdrl(pos + kListHeader, h.dataEnd())))
            return st;
        pos = h.end();
    }
    p_.firstEnd = pos;
    return Status::ok();
}

// After the first movi list come idx1 and JUNK chunks. A JUNK chunk may run past the RIFF's
// declared end (growth was cut short); anything that does not parse marks where the good part ends.
Status Parser::parseAfterMovi(uint64_t pos, uint64_t declaredEnd)
{
    if (p_.first.moviEnd > p_.fileSize) {
        p_.firstEnd = p_.fileSize;
        return Status::ok();
    }
    while (pos + kChunkHeader <= std::min(declaredEnd, p_.fileSize)) {
        Head h;
        Status st = readHead(file_, pos, h);
        if (!st)
            return st;
        const bool known = h.tag == kIdx1 || h.tag == kJunk || (h.tag == kList && h.type == kInfo);
        if (!known || h.end() > p_.fileSize || (h.end() > declaredEnd && h.tag != kJunk))
            break;
        if (h.tag == kIdx1)
            p_.idx1Chunks.push_back(pos);
        p_.trailingJunk = h.tag == kJunk ? pos : 0;
        pos = h.end();
        if (pos > declaredEnd)
            break;
    }
    p_.firstEnd = pos;
    return Status::ok();
}

Status Parser::parseHdrl(uint64_t pos, uint64_t end)
{
    while (pos + kChunkHeader <= end) {
        Head h;
        Status st = readHead(file_, pos, h);
        if (!st)
            return st;
        if (h.dataEnd() > end)
            return overlapping();
        if (h.tag == kAvih && h.size >= kAvihSize) {
            uint8_t b[kAvihSize];
            bool complete = false;
            if (!(st = file_.read(pos + kChunkHeader, b, sizeof b, complete)))
                return st;
            p_.fields.avih = pos + kChunkHeader;
            p_.microSecPerFrame = get32(b + kAvihMicroSecPerFrame);
            streams_ = get32(b + kAvihStreams);
        } else if (h.tag == kList && h.type == kStrl) {
            if (strls_++ == 0 && !(st = parseStrl(pos + kListHeader, h.dataEnd())))
                return st;
        } else if (h.tag == kList && h.type == kOdml) {
            Head d;
            if (!(st = readHead(file_, pos + kListHeader, d)))
                return st;
            if (d.tag == kDmlh && d.size >= 4)
                p_.fields.dmlh = pos + kListHeader + kChunkHeader;
        }
        pos = h.end();
    }
    return Status::ok();
}

Status Parser::parseStrl(uint64_t pos, uint64_t end)
{
    while (pos + kChunkHeader <= end) {
        Head h;
        Status st = readHead(file_, pos, h);
        if (!st)
            return st;
        if (h.dataEnd() > end)
            return overlapping();
        if (h.tag == kStrh && h.size >= kStrhSize) {
            uint8_t b[kStrhSize];
            bool complete = false;
            if (!(st = file_.read(pos + kChunkHeader, b, sizeof b, complete)))
                return st;
            if (get32(b + kStrhType) != kVids)
                return Status::ok();
            p_.fields.strh = pos + kChunkHeader;
            p_.format.handler = get32(b + kStrhHandler);
            p_.scale = get32(b + kStrhScale);
            p_.rate = get32(b + kStrhRate);
            p_.strhLength = get32(b + kStrhLength);
            p_.suggestedBuffer = get32(b + kStrhSuggestedBuffer);
        } else if (h.tag == kStrf && !(st = parseStrf(h))) {
            return st;
        } else if (h.tag == kIndx && !(st = parseSuperIndex(pos, h.size))) {
            return st;
        }
        pos = h.end();
    }
    return Status::ok();
}

Status Parser::parseStrf(const Head& h)
{
    if (h.size < kBitmapInfoSize || h.size - kBitmapInfoSize > kMaxExtradata)
        return Status::ok();
    std::vector<uint8_t> b(h.size);
    bool complete = false;
    Status st = file_.read(h.pos + kChunkHeader, b.data(), b.size(), complete);
    if (!st || !complete)
        return st;
    p_.format.width = int32_t(get32(&b[4]));
    p_.format.height = int32_t(get32(&b[8]));
    p_.format.bitCount = get16(&b[14]);
    p_.format.compression = get32(&b[16]);
    p_.format.sizeImage = get32(&b[20]);
    p_.format.extradata.assign(b.begin() + kBitmapInfoSize, b.end());
    return Status::ok();
}

Status Parser::parseSuperIndex(uint64_t pos, uint32_t size)
{
    uint8_t b[kIndexHeaderSize];
    bool complete = false;
    Status st = file_.read(pos + kChunkHeader, b, sizeof b, complete);
    if (!st)
        return st;
    const uint32_t capacity = size < kIndexHeaderSize ? 0 : (size - kIndexHeaderSize) / kSuperEntrySize;
    if (get16(b) != 4 || b[kIndexSubType] != 0 || b[kIndexType] != AVI_INDEX_OF_INDEXES ||
        get32(b + kIndexChunkId) != kVideoChunk || get32(b + kIndexEntriesInUse) > capacity || capacity == 0) {
        unsupported("its OpenDML index is of another kind");
        return Status::ok();
    }
    p_.fields.superIndex = pos;
    p_.fields.superCapacity = capacity;
    p_.superInUse = get32(b + kIndexEntriesInUse);
    return Status::ok();
}

Status Parser::parseSegments()
{
    uint64_t pos = p_.firstEnd;
    while (pos + 2 * kListHeader <= p_.fileSize) {
        uint8_t b[2 * kListHeader];
        bool complete = false;
        Status st = file_.read(pos, b, sizeof b, complete);
        if (!st)
            return st;
        if (get32(b) != kRiff || get32(b + 8) != kAvixForm || get32(b + 12) != kList || get32(b + 20) != kMovi)
            break;
        Segment s{pos, pos + kChunkHeader + get32(b + 4), pos + kListHeader, 0};
        s.moviEnd = s.moviList + kChunkHeader + get32(b + 16);
        p_.avix.push_back(s);
        if (s.riffEnd >= p_.fileSize)
            break;
        pos = alignUp(s.riffEnd, 2);
    }
    return Status::ok();
}

Status Parser::readStdIndex(uint64_t pos, StdIndex& out, bool& valid)
{
    uint8_t b[kChunkHeader + kIndexHeaderSize];
    bool complete = false;
    Status st = file_.read(pos, b, sizeof b, complete);
    if (!st)
        return st;
    const uint32_t size = get32(b + 4);
    const uint8_t* h = b + kChunkHeader;
    out = {pos, size < kIndexHeaderSize ? 0 : (size - kIndexHeaderSize) / kStdEntrySize, get32(h + kIndexEntriesInUse),
           get64(h + kIndexBaseOffset)};
    valid = complete && get32(b) == kStdIndexChunk && size >= kIndexHeaderSize && get16(h) == 2 &&
            h[kIndexSubType] == 0 && h[kIndexType] == AVI_INDEX_OF_CHUNKS && get32(h + kIndexChunkId) == kVideoChunk &&
            out.inUse <= out.capacity && pos + kChunkHeader + size <= p_.fileSize && out.base < p_.fileSize;
    return Status::ok();
}

Status Parser::parseIndexes()
{
    std::vector<uint8_t> entries(size_t(p_.superInUse) * kSuperEntrySize);
    bool complete = false;
    Status st = file_.read(p_.fields.superIndex + kChunkHeader + kIndexHeaderSize, entries.data(), entries.size(), complete);
    if (!st)
        return st;
    for (uint32_t i = 0; i < p_.superInUse; ++i) {
        StdIndex index;
        bool valid = false;
        if (!(st = readStdIndex(get64(&entries[size_t(i) * kSuperEntrySize]), index, valid)))
            return st;
        if (!valid) {
            unsupported("its index is damaged");
            return Status::ok();
        }
        index.duration = get32(&entries[size_t(i) * kSuperEntrySize + kSuperEntryDuration]);
        p_.indexes.push_back(index);
    }
    if (!p_.indexes.empty() && !(st = dropUnwrittenEntries(p_.indexes.back())))
        return st;
    for (const StdIndex& index : p_.indexes)
        p_.indexedFrames += index.inUse;
    return Status::ok();
}

// Entries whose frame never reached the disk (a power failure without the sync to disk) are
// forgotten; with the sync on, the last entry always names a whole frame.
Status Parser::dropUnwrittenEntries(StdIndex& index)
{
    while (index.inUse > 0) {
        uint8_t e[kStdEntrySize], h[kChunkHeader];
        bool complete = false, headComplete = false;
        Status st = file_.read(index.pos + kChunkHeader + kIndexHeaderSize + uint64_t(index.inUse - 1) * kStdEntrySize,
                               e, sizeof e, complete);
        if (!st)
            return st;
        const uint64_t pos = index.base + get32(e) - kChunkHeader;
        const uint32_t size = get32(e + 4) & ~kDeltaFrameBit;
        if (!(st = file_.read(pos, h, sizeof h, headComplete)))
            return st;
        if (headComplete && get32(h) == kVideoChunk && get32(h + 4) == size && pos + kChunkHeader + size <= p_.fileSize)
            return Status::ok();
        --index.inUse;
    }
    return Status::ok();
}

Status Parser::lastIndexedEnd(const StdIndex& index, uint64_t& end)
{
    end = index.end();
    if (index.inUse == 0)
        return Status::ok();
    uint8_t e[kStdEntrySize];
    bool complete = false;
    Status st = file_.read(index.pos + kChunkHeader + kIndexHeaderSize + uint64_t(index.inUse - 1) * kStdEntrySize, e,
                           sizeof e, complete);
    const uint64_t frame = index.base + get32(e) - kChunkHeader;
    end = std::max(end, frame + kChunkHeader + padded(get32(e + 4) & ~kDeltaFrameBit));
    return st;
}

// From the last indexed frame of the last segment to the end of its movi list: frames and
// indexes made but not yet indexed (the writer stopped between two steps), JUNK, then garbage.
Status Parser::walkTail()
{
    const Segment& seg = p_.last();
    uint64_t pos = seg.moviList + kListHeader;
    for (const StdIndex& index : p_.indexes) {
        uint64_t end = 0;
        Status st = lastIndexedEnd(index, end);
        if (!st)
            return st;
        if (index.pos > seg.moviList)
            pos = std::max(pos, end);
    }
    p_.moviCutShort = seg.moviEnd > p_.fileSize;
    const uint64_t limit = std::min(seg.moviEnd, p_.fileSize);
    p_.contentEnd = pos;
    while (pos + kChunkHeader <= limit) {
        Head h;
        Status st = readHead(file_, pos, h);
        if (!st)
            return st;
        if (h.end() > limit) {
            if (h.tag == kJunk && h.end() <= p_.fileSize && !p_.inFirstRiff())
                pos = h.end();
            break;
        }
        if (h.tag == kVideoChunk && h.size > 0 && h.size < kDeltaFrameBit) {
            p_.unindexed.push_back({pos, h.tag, h.size, 0});
            p_.contentEnd = h.end();  // past the pad byte of an odd frame, where the next chunk starts
        } else if (h.tag == kStdIndexChunk) {
            StdIndex index;
            bool valid = false;
            if (!(st = readStdIndex(pos, index, valid)))
                return st;
            if (!valid)
                break;
            p_.unindexed.push_back({pos, h.tag, h.size, index.base});
            p_.contentEnd = index.end();
        } else if (h.tag != kJunk && h.tag != kIdx1) {
            break;
        }
        pos = h.end();
    }
    p_.keepEnd = p_.inFirstRiff() ? p_.firstEnd : std::min(std::max({seg.riffEnd, seg.moviEnd, pos}), p_.fileSize);
    return Status::ok();
}

}  // namespace

uint64_t ParsedAvi::unindexedFrames() const
{
    return uint64_t(std::count_if(unindexed.begin(), unindexed.end(),
                                  [](const TailChunk& c) { return c.tag == kVideoChunk; }));
}

Status parseAvi(const AviFile& file, ParsedAvi& out)
{
    out = ParsedAvi();
    Parser parser(file, out);
    return parser.run();
}

Status readStdEntries(const AviFile& file, const StdIndex& index, std::vector<uint8_t>& out)
{
    out.resize(size_t(index.inUse) * kStdEntrySize);
    bool complete = false;
    Status st = file.read(index.pos + kChunkHeader + kIndexHeaderSize, out.data(), out.size(), complete);
    if (st && !complete)
        return Status::error(kNotAvi, "'" + file.path() + "' has an index that runs past the end of the file.");
    return st;
}

std::string describeFormat(const AviVideoFormat& format)
{
    std::string size = std::to_string(format.width) + "x" + std::to_string(std::abs(format.height)) +
                       (format.height < 0 ? " top-down" : "");
    if (format.compression == 0)
        return size + " uncompressed " + std::to_string(format.bitCount) + "-bit";
    if (format.compression == fourcc('M', 'J', 'P', 'G'))
        return size + " Motion JPEG";
    std::string code;
    for (int i = 0; i < 4; ++i) {
        const char c = char(format.compression >> (8 * i));
        code += (c >= ' ' && c <= '~') ? c : '?';
    }
    return size + " '" + code + "'";
}

}  // namespace kelvra::media::avi
