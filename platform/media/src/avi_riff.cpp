// The capture file handle: positioned reads and writes that finish or fail with the file's name.
#include "avi_riff.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kelvra::media::avi {

namespace {

std::atomic<AviIoObserver*> gObserver{nullptr};

}  // namespace

void setAviIoObserver(AviIoObserver* observer)
{
    gObserver.store(observer);
}

AviFile::~AviFile()
{
    close();
}

Status AviFile::ioError(const char* what, int err) const
{
    return Status::error(err, std::string("Cannot ") + what + " '" + path_ + "': " + std::strerror(err));
}

Status AviFile::adopt(int fd, const std::string& path)
{
    close();
    fd_ = fd;
    path_ = path;
    struct stat st;
    if (fstat(fd_, &st) < 0)
        return ioError("examine", errno);
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return Status::ok();
}

Status AviFile::openExisting(const std::string& path, bool writable)
{
    close();
    path_ = path;
    // Non-blocking, so that a FIFO under the name cannot hold the open (or a read) forever; only
    // an ordinary file is used, and then in blocking mode.
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return ioError(writable ? "open for writing" : "open", errno);
    Status st = adopt(fd, path);
    if (!st)
        return st;
    struct stat info;
    if (fstat(fd_, &info) < 0)
        return ioError("examine", errno);
    if (S_ISDIR(info.st_mode))
        return Status::error(EISDIR, "Cannot use '" + path_ + "': it is a folder, not a file");
    if (!S_ISREG(info.st_mode))
        return Status::error(EINVAL, "Cannot use '" + path_ + "': it is not an ordinary file");
    if (fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK) < 0)
        return ioError("open", errno);
    // Two recordings into one file would interleave their frames; the second one is refused.
    if (writable && flock(fd_, LOCK_EX | LOCK_NB) < 0) {
        const int err = errno;
        if (err == EWOULDBLOCK)
            return Status::error(EBUSY, "Cannot record into '" + path_ + "': another recording is using it");
        return ioError("lock", err);
    }
    return Status::ok();
}

void AviFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

Status AviFile::size(uint64_t& out) const
{
    struct stat st;
    if (fstat(fd_, &st) < 0)
        return ioError("examine", errno);
    out = uint64_t(st.st_size);
    return Status::ok();
}

Status AviFile::read(uint64_t offset, void* data, size_t size, bool& complete) const
{
    auto* p = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd_, p + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ioError("read", errno);
        if (n == 0)
            break;
        done += size_t(n);
    }
    complete = done == size;
    if (!complete)
        std::memset(p + done, 0, size - done);
    return Status::ok();
}

Status AviFile::writev(uint64_t offset, const iovec* parts, int count)
{
    std::vector<iovec> rest(parts, parts + count);
    size_t total = 0;
    for (const iovec& part : rest)
        total += part.iov_len;
    if (AviIoObserver* observer = gObserver.load()) {
        uint64_t at = offset;
        for (const iovec& part : rest) {
            observer->written(at, static_cast<const uint8_t*>(part.iov_base), part.iov_len);
            at += part.iov_len;
        }
    }
    size_t done = 0, first = 0;
    while (done < total) {
        const ssize_t n = pwritev(fd_, rest.data() + first, int(rest.size() - first), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ioError("write", errno);
        if (n == 0)
            return ioError("write", EIO);
        done += size_t(n);
        for (size_t left = size_t(n); left > 0 && first < rest.size();) {
            const size_t take = std::min(left, rest[first].iov_len);
            rest[first].iov_base = static_cast<uint8_t*>(rest[first].iov_base) + take;
            rest[first].iov_len -= take;
            left -= take;
            if (rest[first].iov_len == 0)
                ++first;
        }
    }
    return Status::ok();
}

Status AviFile::write(uint64_t offset, const void* data, size_t size)
{
    iovec part{const_cast<void*>(data), size};
    return writev(offset, &part, 1);
}

Status AviFile::write32(uint64_t offset, uint32_t value)
{
    uint8_t bytes[4];
    put32(bytes, value);
    return write(offset, bytes, sizeof bytes);
}

Status AviFile::writeHeader(uint64_t offset, uint32_t tag, uint32_t size)
{
    uint8_t bytes[kChunkHeader];
    putHeader(bytes, tag, size);
    return write(offset, bytes, sizeof bytes);
}

Status AviFile::setChunkEnd(uint64_t chunk, uint64_t end)
{
    return write32(chunk + kChunkSizeField, uint32_t(end - chunk - kChunkHeader));
}

Status AviFile::sync()
{
    if (AviIoObserver* observer = gObserver.load())
        observer->synced();
    if (!sync_)
        return Status::ok();
    if (fdatasync(fd_) < 0)
        return ioError("write", errno);
    return Status::ok();
}

Status AviFile::allocate(uint64_t offset, uint64_t length)
{
    uint64_t before = 0;
    Status st = size(before);
    if (!st)
        return st;
    // Real blocks up front: a full disk shows here, before anything refers to the new space.
    int err = posix_fallocate(fd_, off_t(offset), off_t(length));
    if (err == EOPNOTSUPP || err == EINVAL) {
        err = 0;
        if (offset + length > before && ftruncate(fd_, off_t(offset + length)) < 0)
            err = errno;
    }
    if (err)
        return ioError("write", err);
    if (AviIoObserver* observer = gObserver.load(); observer && offset + length > before)
        observer->resized(offset + length);
    return Status::ok();
}

Status AviFile::truncate(uint64_t size)
{
    if (AviIoObserver* observer = gObserver.load())
        observer->resized(size);
    if (ftruncate(fd_, off_t(size)) < 0)
        return ioError("write", errno);
    return Status::ok();
}

Status AviFile::checkStillThere() const
{
    struct stat st;
    if (stat(path_.c_str(), &st) < 0 || st.st_dev != dev_ || st.st_ino != ino_)
        return Status::error(ENOENT, "Cannot write '" + path_ + "': the file was deleted or replaced while recording");
    return Status::ok();
}

}  // namespace kelvra::media::avi
