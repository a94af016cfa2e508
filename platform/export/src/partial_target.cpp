#include "partial_target.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvra::film {

namespace {

namespace fs = std::filesystem;
using media::Status;

std::string folderOf(const std::string& path)
{
    std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

std::string nameOf(const std::string& path)
{
    return fs::path(path).filename().string();
}

std::string named(const std::string& path)
{
    return "'" + path + "'";
}

std::string randomTag()
{
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string tag;
    uint64_t value = generator();
    for (int i = 0; i < 8; ++i, value >>= 4)
        tag += digits[value & 15];
    return tag;
}

// A lock that only a live process can hold: flock is released when its holder dies.
int lockedOpen(const std::string& path, bool nonBlocking)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | (nonBlocking ? LOCK_NB : 0)) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string partialPrefix(const std::string& target)
{
    return "." + nameOf(target) + ".";
}

void removeTree(const std::string& path)
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

PartialTarget::~PartialTarget()
{
    discard();
}

void PartialTarget::discard()
{
    if (!temp_.empty())
        removeTree(temp_);
    temp_.clear();
    if (lockFd_ >= 0)
        close(lockFd_);
    lockFd_ = -1;
}

Status PartialTarget::create(const std::string& target, bool asFolder)
{
    target_ = target;
    folder_ = asFolder;
    const std::string folder = folderOf(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate = folder + "/" + partialPrefix(target) + std::to_string(getpid()) + "-" + randomTag() +
                                kPartialSuffix;
        int made = asFolder ? mkdir(candidate.c_str(), 0755)
                            : open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (made < 0 && errno == EEXIST)
            continue;
        if (made < 0)
            return Status::error(errno, "Cannot write in the folder " + named(folder) + ": " + std::strerror(errno));
        if (!asFolder)
            close(made);
        temp_ = candidate;
        lockFd_ = lockedOpen(temp_, false);
        return Status::ok();
    }
    return Status::error(EEXIST, "Cannot make a temporary name in " + named(folder));
}

Status PartialTarget::commit()
{
    if (folder_) {
        // A folder cannot be swapped in one step: the old one is moved aside first, and
        // removed once the new one stands in its place.
        struct stat info {};
        std::string aside;
        if (lstat(target_.c_str(), &info) == 0) {
            aside = folderOf(target_) + "/" + partialPrefix(target_) + "old-" + randomTag() + kPartialSuffix;
            if (rename(target_.c_str(), aside.c_str()) < 0)
                return Status::error(errno, "Cannot replace " + named(target_) + ": " + std::strerror(errno));
        }
        if (rename(temp_.c_str(), target_.c_str()) < 0) {
            int err = errno;
            if (!aside.empty())
                rename(aside.c_str(), target_.c_str());
            return Status::error(err, "Cannot name the pictures' folder " + named(target_) + ": " + std::strerror(err));
        }
        if (!aside.empty())
            removeTree(aside);
    } else if (rename(temp_.c_str(), target_.c_str()) < 0) {
        return Status::error(errno, "Cannot name the film " + named(target_) + ": " + std::strerror(errno));
    }
    temp_.clear();
    if (lockFd_ >= 0)
        close(lockFd_);
    lockFd_ = -1;
    return Status::ok();
}

void removeStalePartials(const std::string& target)
{
    const std::string folder = folderOf(target);
    const std::string prefix = partialPrefix(target);
    const std::string suffix = kPartialSuffix;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string path = folder + "/" + name;
        int fd = lockedOpen(path, true);  // held: another export is writing it right now
        if (fd < 0)
            continue;
        removeTree(path);
        close(fd);
    }
    closedir(dir);
}

}  // namespace kelvra::film
