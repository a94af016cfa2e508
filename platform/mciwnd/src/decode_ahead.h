// Decoding for the media window on a worker thread, a few frames ahead of the picture on
// screen, so that the window's timer only hands over pictures that are already decoded.
#pragma once

#include <kelvra/media/frame.h>
#include <kelvra/media/video_reader.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kelvra::mciwnd {

class DecodeAhead {
public:
    // `onProgress` runs on the worker thread after each decoded frame and at the end of the
    // stream; it must only post work to the window's thread.
    DecodeAhead(std::unique_ptr<media::VideoReader> reader, size_t capacity, std::function<void()> onProgress);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // Drops what is queued and decodes from frame `from` on.
    void restart(int64_t from);

    // The newest decoded frame whose index is at most `target`; older queued frames are dropped.
    bool take(int64_t target, media::Frame& out);

    int64_t runStart() const;       // `from` of the last restart
    int64_t decodedUpTo() const;    // one past the last frame decoded in this run
    bool atEnd() const;             // the run reached the end of the stream (or gave up)
    int64_t endOfStream() const;    // where this run found the stream's end; -1 when not found
    std::string lastError() const;  // the last decoding error, empty when none

    // Waits until a frame is queued or the run ends, at most `ms`; for tools only.
    void waitForProgress(int ms);

private:
    void run();
    bool decodeOne(std::unique_lock<std::mutex>& lock);

    std::unique_ptr<media::VideoReader> reader_;
    const size_t capacity_;
    std::function<void()> onProgress_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;      // the worker waits here for room or a restart
    std::condition_variable progress_;  // waitForProgress waits here
    std::deque<media::Frame> queue_;
    uint64_t generation_ = 0;           // bumped by restart; stale results are dropped
    bool seekPending_ = true;
    int64_t from_ = 0;
    int64_t decodedUpTo_ = 0;
    bool producedInRun_ = false;
    int64_t endOfStream_ = -1;
    bool atEnd_ = false;
    int consecutiveErrors_ = 0;
    std::string lastError_;
    bool quit_ = false;
    std::thread worker_;
};

}  // namespace kelvra::mciwnd
