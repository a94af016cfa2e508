// The film is written under a temporary name beside its target and renamed into place only when
// complete. The temporary file (or folder) is locked while it is written, so that the next export
// to the same name can tell one left by a killed run from one still in use, and remove it.
#pragma once

#include <kelvra/media/status.h>

#include <string>

namespace kelvra::film {

class PartialTarget {
public:
    ~PartialTarget();  // not committed: the temporary file or folder is removed
    PartialTarget() = default;
    PartialTarget(const PartialTarget&) = delete;
    PartialTarget& operator=(const PartialTarget&) = delete;

    // Creates the temporary file (asFolder: folder) beside `target`.
    media::Status create(const std::string& target, bool asFolder);
    const std::string& path() const { return temp_; }
    // Moves the finished film to the target name, replacing what was there.
    media::Status commit();

private:
    void discard();

    std::string target_;
    std::string temp_;
    bool folder_ = false;
    int lockFd_ = -1;
};

// Removes the temporary files and folders that earlier, killed exports to `target` left.
void removeStalePartials(const std::string& target);

// What a temporary name for `target` starts and ends with (tests look for leftovers by these).
std::string partialPrefix(const std::string& target);
constexpr const char* kPartialSuffix = ".partial";

// Removes a file, or a folder with everything in it.
void removeTree(const std::string& path);

}  // namespace kelvra::film
