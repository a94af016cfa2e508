#include "journal.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace kelvra::avicap {

namespace {

constexpr mode_t kJournalMode = 0644;

// One write() for the whole line where the disk takes it; false leaves the rest unwritten.
bool writeAll(int fd, const std::string& line, size_t& done)
{
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

std::string localTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

Journal::Journal(std::string capturePath) : path_(pathFor(capturePath)) {}

Journal::~Journal()
{
    flush();
    if (fd_ >= 0)
        ::close(fd_);
}

void Journal::write(const std::string& event)
{
    if (pending_.size() >= kMaxPending) {
        pending_.pop_front();
        ++dropped_;
    }
    pending_.push_back(localTimeStamp() + "  " + event + "\n");
    flush();
}

bool Journal::flush()
{
    if (fd_ < 0)
        fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kJournalMode);
    if (fd_ < 0)
        return false;
    if (dropped_ > 0) {
        pending_.push_front(localTimeStamp() + "  (" + std::to_string(dropped_) +
                            " earlier lines could not be written and were dropped)\n");
        dropped_ = 0;
    }
    while (!pending_.empty()) {
        size_t done = 0;
        if (!writeAll(fd_, pending_.front(), done)) {
            // What the disk did not take of a line goes first next time: lines are never mixed.
            pending_.front().erase(0, done);
            return false;
        }
        pending_.pop_front();
    }
    ::fdatasync(fd_);
    return true;
}

}  // namespace kelvra::avicap
