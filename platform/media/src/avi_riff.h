// RIFF/AVI building blocks shared by the capture-file writer and its probe: chunk ids, header
// sizes and the file handle through which every byte of a capture file is read and written.
#pragma once

#include <kelvra/media/avi_format.h>
#include <kelvra/media/status.h>

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvra::media::avi {

constexpr uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kAviForm = fourcc('A', 'V', 'I', ' ');
constexpr uint32_t kAvixForm = fourcc('A', 'V', 'I', 'X');
constexpr uint32_t kHdrl = fourcc('h', 'd', 'r', 'l');
constexpr uint32_t kAvih = fourcc('a', 'v', 'i', 'h');
constexpr uint32_t kStrl = fourcc('s', 't', 'r', 'l');
constexpr uint32_t kStrh = fourcc('s', 't', 'r', 'h');
constexpr uint32_t kStrf = fourcc('s', 't', 'r', 'f');
constexpr uint32_t kIndx = fourcc('i', 'n', 'd', 'x');
constexpr uint32_t kOdml = fourcc('o', 'd', 'm', 'l');
constexpr uint32_t kDmlh = fourcc('d', 'm', 'l', 'h');
constexpr uint32_t kInfo = fourcc('I', 'N', 'F', 'O');
constexpr uint32_t kIsft = fourcc('I', 'S', 'F', 'T');
constexpr uint32_t kMovi = fourcc('m', 'o', 'v', 'i');
constexpr uint32_t kIdx1 = fourcc('i', 'd', 'x', '1');
constexpr uint32_t kJunk = fourcc('J', 'U', 'N', 'K');
constexpr uint32_t kVids = fourcc('v', 'i', 'd', 's');
constexpr uint32_t kVideoChunk = fourcc('0', '0', 'd', 'c');  // stream 0, compressed or not
constexpr uint32_t kStdIndexChunk = fourcc('i', 'x', '0', '0');

constexpr uint64_t kChunkHeader = 8;   // fourcc + 32-bit size
constexpr uint64_t kChunkSizeField = 4;     // where the 32-bit size sits in a chunk or list header
constexpr uint64_t kFirstRiff = 0;     // the first RIFF header starts the file
constexpr uint64_t kListHeader = 12;   // 'LIST'/'RIFF' + size + list type
// Every chunk the writer places starts on an 8-byte boundary, so that the 8-byte write turning
// a JUNK header into a frame header never straddles a disk sector and lands whole or not at all.
constexpr uint64_t kChunkAlign = 8;

constexpr uint32_t kAvihSize = 56;
constexpr uint32_t kStrhSize = 56;
constexpr uint32_t kBitmapInfoSize = 40;
constexpr uint32_t kDmlhSize = 248;
constexpr uint32_t kIdx1EntrySize = 16;
constexpr uint32_t kIndexHeaderSize = 24;   // after the chunk header, for both index kinds
constexpr uint32_t kSuperEntrySize = 16;
constexpr uint32_t kStdEntrySize = 8;

constexpr uint32_t AVIIF_KEYFRAME = 0x10;
constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr uint32_t AVIF_TRUSTCKTYPE = 0x800;
constexpr uint8_t AVI_INDEX_OF_INDEXES = 0;
constexpr uint8_t AVI_INDEX_OF_CHUNKS = 1;
constexpr uint32_t kDeltaFrameBit = 0x80000000u;  // standard index dwSize: not a keyframe
constexpr uint32_t kMicrosPerSecond = 1000000;

// Field offsets inside the avih, strh and index headers (from the start of the chunk data).
constexpr uint32_t kAvihMicroSecPerFrame = 0, kAvihMaxBytesPerSec = 4, kAvihFlags = 12, kAvihTotalFrames = 16,
                   kAvihStreams = 24, kAvihSuggestedBuffer = 28, kAvihWidth = 32, kAvihHeight = 36;
constexpr uint32_t kStrhType = 0, kStrhHandler = 4, kStrhScale = 20, kStrhRate = 24, kStrhLength = 32,
                   kStrhSuggestedBuffer = 36, kStrhQuality = 40, kStrhFrame = 48;
constexpr uint32_t kIndexLongsPerEntry = 0, kIndexSubType = 2, kIndexType = 3, kIndexEntriesInUse = 4,
                   kIndexChunkId = 8, kIndexBaseOffset = 12;
// Field offsets inside the entries of idx1, of a super index and of a standard index.
constexpr uint32_t kIdx1ChunkId = 0, kIdx1Flags = 4, kIdx1Offset = 8, kIdx1Size = 12;
constexpr uint32_t kSuperEntryOffset = 0, kSuperEntrySizeField = 8, kSuperEntryDuration = 12;
constexpr uint32_t kStdEntryOffset = 0, kStdEntrySizeField = 4;

inline uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }
inline uint64_t alignDown(uint64_t v, uint64_t a) { return v / a * a; }
inline uint64_t padded(uint64_t size) { return size + (size & 1); }

inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline void put64(uint8_t* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
inline uint64_t get64(const uint8_t* p) { return get32(p) | uint64_t(get32(p + 4)) << 32; }

inline void putHeader(uint8_t* p, uint32_t tag, uint32_t size) { put32(p, tag); put32(p + kChunkSizeField, size); }
// A 'RIFF' or 'LIST' header: fourcc, size, list type.
inline void putListHeader(uint8_t* p, uint32_t tag, uint32_t size, uint32_t type)
{
    putHeader(p, tag, size);
    put32(p + kChunkHeader, type);
}
// One idx1 entry; `offset` counts from the 'movi' fourcc of the first RIFF.
inline void putIdx1Entry(uint8_t* p, bool keyframe, uint32_t offset, uint32_t size)
{
    put32(p + kIdx1ChunkId, kVideoChunk);
    put32(p + kIdx1Flags, keyframe ? AVIIF_KEYFRAME : 0);
    put32(p + kIdx1Offset, offset);
    put32(p + kIdx1Size, size);
}
// One super index entry: where a standard index chunk is and how long, with no frames yet.
inline void putSuperEntry(uint8_t* p, uint64_t index, uint32_t bytes)
{
    put64(p + kSuperEntryOffset, index);
    put32(p + kSuperEntrySizeField, bytes);
    put32(p + kSuperEntryDuration, 0);
}

// Sees every change the writer makes to any capture file, in order. Only tests install one: they
// replay the changes cut short at every point to play a power failure.
class AviIoObserver {
public:
    virtual ~AviIoObserver() = default;
    virtual void written(uint64_t offset, const uint8_t* data, size_t size) = 0;
    virtual void resized(uint64_t size) = 0;  // truncation or preallocation that grew the file
    virtual void synced() = 0;
};
void setAviIoObserver(AviIoObserver* observer);

// One open capture file. Every failure comes back as a Status naming the file.
class AviFile {
public:
    AviFile() = default;
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;
    ~AviFile();

    Status openExisting(const std::string& path, bool writable);
    Status adopt(int fd, const std::string& path);  // takes ownership of a descriptor made elsewhere
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    void setSyncToDisk(bool sync) { sync_ = sync; }

    Status size(uint64_t& out) const;
    // Reads exactly `size` bytes; a file that ends first is reported as `short` (no error).
    Status read(uint64_t offset, void* data, size_t size, bool& complete) const;
    Status write(uint64_t offset, const void* data, size_t size);
    Status writev(uint64_t offset, const iovec* parts, int count);
    Status write32(uint64_t offset, uint32_t value);
    Status writeHeader(uint64_t offset, uint32_t tag, uint32_t size);  // one 8-byte chunk header
    // The size field of the chunk or list at `chunk`, so that it ends at `end`.
    Status setChunkEnd(uint64_t chunk, uint64_t end);
    // A JUNK chunk from `at` to `end`.
    Status writeJunk(uint64_t at, uint64_t end) { return writeHeader(at, kJunk, uint32_t(end - at - kChunkHeader)); }
    Status sync();
    Status allocate(uint64_t offset, uint64_t length);  // reserves blocks, growing the file
    Status truncate(uint64_t size);
    // The path still names this file: a recording whose file was deleted or replaced must stop
    // instead of writing frames into a file nobody can reach.
    Status checkStillThere() const;

    Status ioError(const char* what, int err) const;

private:
    int fd_ = -1;
    std::string path_;
    bool sync_ = true;
    uint64_t dev_ = 0, ino_ = 0;
};

}  // namespace kelvra::media::avi
