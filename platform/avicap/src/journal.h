// The journal of a recording: NAME.avi.log beside the capture file, plain text, one line per
// event with the local time. Lines are only ever appended (O_APPEND), each synced like the
// frames. Nothing here can fail a recording: a line the disk refuses is kept and written before
// the next one, so the journal catches up once there is room again.
#pragma once

#include <deque>
#include <string>

namespace kelvra::avicap {

class Journal {
public:
    explicit Journal(std::string capturePath);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    static std::string pathFor(const std::string& capturePath) { return capturePath + ".log"; }

    void write(const std::string& event);
    const std::string& path() const { return path_; }
    size_t pendingLines() const { return pending_.size(); }
    // Writes the lines waiting for room (or for the folder); true when none is left waiting.
    bool flush();

private:
    static constexpr size_t kMaxPending = 1000;  // beyond this the oldest waiting lines are dropped

    std::string path_;
    int fd_ = -1;
    std::deque<std::string> pending_;
    size_t dropped_ = 0;
};

// "2026-12-08 04:10:33" in local time.
std::string localTimeStamp();

}  // namespace kelvra::avicap
