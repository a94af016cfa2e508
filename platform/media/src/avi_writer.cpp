// The capture-file writer: opening (creating or continuing), appending a frame, closing.
#include "avi_writer_impl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace kelvra::media {

using namespace avi;

namespace {

constexpr uint64_t kMinRiffLimit = uint64_t(1) << 20;
// Index offsets are 32-bit and some readers take them as signed.
constexpr uint64_t kMaxRiffLimit = 0x7FF00000;
constexpr int kTempNameAttempts = 16;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Status createError(const std::string& path, int err)
{
    if (err == ENOENT)
        return Status::error(err, "Cannot create '" + path + "': the folder '" + folderOf(path) + "' does not exist");
    return Status::error(err, "Cannot create '" + path + "': " + std::strerror(err));
}

void syncFolder(const std::string& path)
{
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

}  // namespace

Status AviWriter::open(const std::string& path, const AviVideoFormat& format, uint32_t microSecPerFrame,
                       const AviWriterOptions& options, std::unique_ptr<AviWriter>& out)
{
    if (microSecPerFrame == 0)
        return Status::error(EINVAL, "Cannot record into '" + path + "': the time per frame must be at least 1 µs");
    if (format.width <= 0 || format.height == 0 || format.bitCount == 0)
        return Status::error(EINVAL, "Cannot record into '" + path + "': the video format has no picture size");
    auto writer = std::make_unique<Writer>(options);
    Status st = writer->start(path, format, microSecPerFrame);
    if (!st)
        return st;
    out = std::move(writer);
    return Status::ok();
}

namespace avi {

Writer::Writer(const AviWriterOptions& options) : options_(options)
{
    options_.riffLimit = std::clamp(options_.riffLimit, kMinRiffLimit, kMaxRiffLimit);
    file_.setSyncToDisk(options_.syncToDisk);
}

Writer::~Writer()
{
    close();
}

// A new file is written beside its final name and linked into place whole, so that a crash
// never leaves a half-written header under the user's file name.
Status Writer::createFile(const std::string& path, bool replaceEmpty)
{
    const std::vector<uint8_t> bytes = buildEmptyFile(format_, microSecPerFrame_);
    std::mt19937_64 random(std::random_device{}());
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
        temp = folderOf(path) + "/." + nameOf(path) + "." + std::to_string(random() % 1000000000) + ".new";
        fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return createError(path, errno);
    }
    if (fd < 0)
        return createError(path, EEXIST);
    AviFile file;
    file.setSyncToDisk(options_.syncToDisk);
    Status st = file.adopt(fd, temp);
    if (st)
        st = file.write(0, bytes.data(), bytes.size());
    if (st)
        st = file.sync();
    if (!st) {
        unlink(temp.c_str());
        return createError(path, -st.code);
    }
    // A file that appeared (or stopped being empty) meanwhile is left alone and opened as it is.
    struct stat info;
    int err = 0;
    if (replaceEmpty) {
        if (stat(path.c_str(), &info) == 0 && info.st_size == 0 && rename(temp.c_str(), path.c_str()) < 0)
            err = errno;
    } else if (link(temp.c_str(), path.c_str()) < 0 && errno != EEXIST) {
        // A file system without hard links.
        if (stat(path.c_str(), &info) < 0 && rename(temp.c_str(), path.c_str()) < 0)
            err = errno;
    }
    unlink(temp.c_str());
    if (err)
        return createError(path, err);
    if (options_.syncToDisk)
        syncFolder(path);
    return Status::ok();
}

Status Writer::checkExisting(const ParsedAvi& parsed) const
{
    const std::string& path = file_.path();
    const bool sameCodecData = parsed.format.extradata == format_.extradata;
    if (!parsed.format.sameStream(format_) || !sameCodecData)
        return Status::error(kFormatMismatch,
                             "'" + path + "' holds " + describeFormat(parsed.format) + " video" +
                                 (sameCodecData ? "" : " made with other compressor settings") +
                                 ", which cannot be continued with " + describeFormat(format_) +
                                 " frames. The file was left unchanged.");
    if (!parsed.unsupported.empty())
        return Status::error(kNotAvi, "'" + path + "' is an AVI file that cannot be continued safely (" +
                                          parsed.unsupported + "). The file was left unchanged.");
    return Status::ok();
}

Status Writer::start(const std::string& path, const AviVideoFormat& format, uint32_t microSecPerFrame)
{
    format_ = format;
    microSecPerFrame_ = microSecPerFrame;
    struct stat info;
    Status st;
    if (stat(path.c_str(), &info) < 0) {
        if (errno != ENOENT)
            return createError(path, errno);
        st = createFile(path, false);
    } else if (S_ISDIR(info.st_mode)) {
        return Status::error(EISDIR, "Cannot record into '" + path + "': it is a folder");
    } else if (!S_ISREG(info.st_mode)) {
        return Status::error(EINVAL, "Cannot record into '" + path + "': it is not an ordinary file");
    } else if (S_ISREG(info.st_mode) && info.st_size == 0) {
        st = createFile(path, true);
    }
    if (!st)
        return st;
    if (!(st = file_.openExisting(path, true)))
        return st;
    ParsedAvi parsed;
    if (!(st = parseAvi(file_, parsed)))
        return Status::error(st.code, st.message + (st.code == kNotAvi ? " It was left unchanged." : ""));
    if (!(st = checkExisting(parsed)) || !(st = resume(parsed)))
        return st;
    if (parsed.scale != microSecPerFrame_ || parsed.rate != kMicrosPerSecond || parsed.microSecPerFrame != microSecPerFrame_) {
        microSecPerFrame_ = 0;
        closed_ = false;
        st = setMicroSecPerFrame(microSecPerFrame);
    }
    closed_ = !st;
    return st;
}

Status Writer::failed(Status st)
{
    broken_ = true;
    return st;
}

Status Writer::append(const uint8_t* data, size_t size, bool keyframe)
{
    if (closed_)
        return Status::error(EBADF, "Cannot write to '" + path() + "': the file is closed");
    if (size == 0 || size >= kDeltaFrameBit)
        return Status::error(EINVAL, "Cannot write a frame of " + std::to_string(size) + " bytes to '" + path() + "'");
    Status st = file_.checkStillThere();
    if (!st)
        return st;
    if (broken_ && !(st = resync()))
        return st;
    // The frame chunk, padded to even, then a JUNK filler so that the next chunk is 8-aligned.
    const uint64_t chunkEnd = kChunkHeader + padded(size);
    const uint64_t span = chunkEnd % kChunkAlign ? chunkEnd + kChunkHeader + (kChunkAlign - chunkEnd % kChunkAlign) : chunkEnd;
    if (!(st = prepare(span)) || !(st = writeFrame(data, size, keyframe, span)))
        return failed(st);
    return Status::ok();
}

Status Writer::writeFrame(const uint8_t* data, size_t size, bool keyframe, uint64_t span)
{
    const uint64_t at = slack_, next = at + span;
    uint8_t tail[1 + 2 * kChunkHeader + kChunkAlign] = {};
    size_t tailSize = padded(size) - size;
    const uint64_t chunkEnd = at + kChunkHeader + padded(size);
    if (next != chunkEnd) {
        putHeader(tail + tailSize, kJunk, uint32_t(next - chunkEnd - kChunkHeader));
        tailSize += next - chunkEnd;
    }
    putHeader(tail + tailSize, kJunk, uint32_t(moviEnd_ - next - kChunkHeader));
    tailSize += kChunkHeader;
    const iovec parts[2] = {{const_cast<uint8_t*>(data), size}, {tail, tailSize}};
    // 1. The payload with the new slack header behind it, and the index entries.
    Status st = file_.writev(at + kChunkHeader, parts, 2);
    if (st) st = writeIndexSlots(at, uint32_t(size), keyframe);
    if (st) st = file_.sync();
    // 2. The slack's JUNK header becomes the frame's header.
    if (st) st = file_.writeHeader(at, kVideoChunk, uint32_t(size));
    if (st) st = file_.sync();
    if (!st)
        return st;
    slack_ = next;
    // 3. The counts.
    st = commitIndex(at, uint32_t(size), keyframe);
    if (st) st = file_.sync();
    return st;
}

// Step 1: the entries go where no reader looks yet: past the standard index's count, and
// inside the JUNK reserve behind idx1 together with a new reserve header 16 bytes further on.
Status Writer::writeIndexSlots(uint64_t pos, uint32_t size, bool keyframe)
{
    uint8_t entry[kStdEntrySize];
    put32(entry + kStdEntryOffset, uint32_t(pos + kChunkHeader - ixBase_));
    put32(entry + kStdEntrySizeField, size | (keyframe ? 0 : kDeltaFrameBit));
    Status st = file_.write(stdSlot(ixInUse_), entry, sizeof entry);
    if (!st || !firstRiff_)
        return st;
    // The idx1 entry's offset and size, then the new reserve header: its id and flags come in
    // step 3, over the old reserve header.
    uint8_t idx1[kIdx1EntrySize + kChunkHeader];
    putIdx1Entry(idx1, keyframe, idx1Offset(pos), size);
    putHeader(idx1 + kIdx1EntrySize, kJunk, uint32_t(fileEnd_ - (reservePos_ + kIdx1EntrySize) - kChunkHeader));
    return file_.write(reservePos_ + kIdx1Offset, idx1 + kIdx1Offset, kIdx1EntrySize);
}

// Step 3: counts. idx1 first grows over the old reserve header, which then reads as an entry
// that readers skip; only once that is on disk does the entry itself land: the other way round
// a power failure could leave an entry behind idx1 that reads as a chunk.
Status Writer::commitIndex(uint64_t pos, uint32_t size, bool keyframe)
{
    Status st;
    if (firstRiff_) {
        const uint64_t entries = idx1_.size() / kIdx1EntrySize + 1;
        uint8_t entry[kIdx1EntrySize];
        putIdx1Entry(entry, keyframe, idx1Offset(pos), size);
        st = file_.write32(idx1Pos_ + kChunkSizeField, uint32_t(entries * kIdx1EntrySize));
        if (st) st = file_.sync();
        if (st) st = file_.write(reservePos_, entry, kIdx1Offset);
        if (!st)
            return st;
        idx1_.insert(idx1_.end(), entry, entry + sizeof entry);
        reservePos_ += kIdx1EntrySize;
        ++firstRiffFrames_;
    }
    const uint32_t inUse = ixInUse_ + 1;
    st = file_.write32(ixPos_ + kChunkHeader + kIndexEntriesInUse, inUse);
    if (st) st = file_.write32(superSlot(ixSlot_) + kSuperEntryDuration, inUse);
    if (!st)
        return st;
    ixInUse_ = inUse;
    ++frames_;
    if (size > maxChunk_) {
        maxChunk_ = size;
        st = file_.write32(fields_.avih + kAvihSuggestedBuffer, size);
        if (st) st = file_.write32(fields_.strh + kStrhSuggestedBuffer, size);
        if (!st)
            return st;
    }
    return writeCounts();
}

Status Writer::writeCounts()
{
    Status st = file_.write32(fields_.strh + kStrhLength, uint32_t(frames_));
    if (st)
        st = file_.write32(fields_.dmlh, uint32_t(frames_));
    if (st)
        st = file_.write32(fields_.avih + kAvihTotalFrames, uint32_t(firstRiffFrames_));
    return st;
}

// One stream has one rate: the new time per frame applies to the whole file.
Status Writer::setMicroSecPerFrame(uint32_t microSecPerFrame)
{
    if (microSecPerFrame == 0)
        return Status::error(EINVAL, "The time per frame of '" + path() + "' must be at least 1 µs");
    if (closed_)
        return Status::error(EBADF, "Cannot change '" + path() + "': the file is closed");
    if (microSecPerFrame == microSecPerFrame_)
        return Status::ok();
    Status st = file_.write32(fields_.avih + kAvihMicroSecPerFrame, microSecPerFrame);
    if (st)
        st = file_.write32(fields_.strh + kStrhScale, microSecPerFrame);
    if (st)
        st = file_.write32(fields_.strh + kStrhRate, kMicrosPerSecond);
    if (st)
        st = file_.sync();
    if (st)
        microSecPerFrame_ = microSecPerFrame;
    return st;
}

Status Writer::close()
{
    if (closed_)
        return Status::ok();
    closed_ = true;
    Status st = file_.checkStillThere();
    if (st && broken_)
        st = resync();
    if (st)
        st = compact();
    file_.close();
    return st;
}

}  // namespace avi

}  // namespace kelvra::media
