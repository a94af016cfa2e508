// The shape of a capture file: how a new one is laid out, and what an existing one holds.
//
//   RIFF 'AVI ' ( LIST hdrl ( avih  LIST strl ( strh strf indx )  LIST odml ( dmlh ) )
//                 LIST INFO  JUNK
//                 LIST movi ( ix00 00dc 00dc ... [ix00 ...] JUNK-slack )
//                 idx1  JUNK-reserve )
//   RIFF 'AVIX' ( LIST movi ( ix00 00dc ... JUNK-slack ) ) ...
//
// Frames go into the slack at the end of the last movi list; 'indx' (the OpenDML super index)
// lists the 'ix00' standard indexes, which sit in the movi lists with room reserved for their
// entries; the first RIFF also carries an AVI 1.0 idx1 for players that know nothing else.
#pragma once

#include "avi_riff.h"

#include <string>
#include <vector>

namespace kelvra::media::avi {

constexpr uint32_t kSuperIndexCapacity = 1024;
constexpr uint32_t kFirstStdIndexCapacity = 256;
constexpr uint32_t kMaxStdIndexCapacity = 65536;
// Entries of the first RIFF's idx1. It moves along as the movi list grows, so its size bounds
// the cost of such a move; a recording of more frames goes on in AVIX segments.
constexpr uint32_t kIdx1Capacity = 65536;
constexpr char kSoftwareName[] = "Kelvra Time-lapse";

// Standard indexes grow from small (little waste in short files) to large (few of them).
uint32_t stdIndexCapacity(uint32_t indexesBefore);
inline uint64_t stdIndexBytes(uint32_t capacity) { return kChunkHeader + kIndexHeaderSize + uint64_t(kStdEntrySize) * capacity; }

// Where the writer patches the first RIFF's headers (absolute file offsets).
struct HeaderFields {
    uint64_t avih = 0;        // avih chunk data
    uint64_t strh = 0;        // strh chunk data
    uint64_t superIndex = 0;  // the 'indx' chunk header
    uint32_t superCapacity = 0;
    uint64_t dmlh = 0;        // dmlh chunk data
};

// A new, empty file: headers, a movi list holding the first standard index, an empty idx1.
std::vector<uint8_t> buildEmptyFile(const AviVideoFormat& format, uint32_t microSecPerFrame);

struct StdIndex {
    uint64_t pos = 0;       // chunk header
    uint32_t capacity = 0;
    uint32_t inUse = 0;
    uint64_t base = 0;      // qwBaseOffset: entry offsets count from here
    uint32_t duration = 0;  // the frames its super index entry says it holds
    uint64_t end() const { return pos + stdIndexBytes(capacity); }
};

struct Segment {
    uint64_t riff = 0;      // 'RIFF' header
    uint64_t riffEnd = 0;   // as declared
    uint64_t moviList = 0;  // 'LIST' header of its movi list
    uint64_t moviEnd = 0;   // as declared
};

struct TailChunk {
    uint64_t pos = 0;
    uint32_t tag = 0;       // kVideoChunk or kStdIndexChunk
    uint32_t size = 0;
    uint64_t base = 0;      // of a standard index
};

// An existing file as parsed, without changing it.
struct ParsedAvi {
    uint64_t fileSize = 0;
    AviVideoFormat format;
    uint32_t scale = 0, rate = 0, microSecPerFrame = 0, strhLength = 0, suggestedBuffer = 0;
    HeaderFields fields;
    std::string unsupported;  // why the writer cannot continue this file; empty when it can

    Segment first;
    uint64_t firstEnd = 0;             // where the first RIFF's good chunks end
    std::vector<uint64_t> idx1Chunks;  // idx1 chunks after the first movi list
    uint64_t trailingJunk = 0;         // a JUNK chunk that ends the first RIFF at firstEnd (0: none)
    std::vector<Segment> avix;

    uint32_t superInUse = 0;
    std::vector<StdIndex> indexes;  // in super index order
    uint64_t indexedFrames = 0;

    // The last segment past its last indexed frame: chunks made but not yet indexed when the
    // writer stopped, and where its free space (slack) begins.
    std::vector<TailChunk> unindexed;
    uint64_t contentEnd = 0;
    uint64_t keepEnd = 0;      // the last segment's good data ends here; the rest of the file is garbage
    bool moviCutShort = false; // the last movi list runs past the end of the file

    bool inFirstRiff() const { return avix.empty(); }
    const Segment& last() const { return avix.empty() ? first : avix.back(); }
    uint64_t unindexedFrames() const;
};

// kNotAvi for anything that is not a RIFF AVI file; an AVI of another layout parses with
// `unsupported` set, so that it can still be described.
Status parseAvi(const AviFile& file, ParsedAvi& out);

// The raw entries of a standard index (inUse x 8 bytes).
Status readStdEntries(const AviFile& file, const StdIndex& index, std::vector<uint8_t>& out);

// "640x480 Motion JPEG" and the like, for messages.
std::string describeFormat(const AviVideoFormat& format);

}  // namespace kelvra::media::avi
