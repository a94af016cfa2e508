#include "decode_ahead.h"

#include <chrono>

namespace kelvra::mciwnd {

// A file that fails this many frames in a row is treated as ending there, so a damaged
// stream cannot keep the worker spinning.
constexpr int kMaxConsecutiveErrors = 16;

DecodeAhead::DecodeAhead(std::unique_ptr<media::VideoReader> reader, size_t capacity,
                         std::function<void()> onProgress)
    : reader_(std::move(reader)), capacity_(capacity < 1 ? 1 : capacity), onProgress_(std::move(onProgress))
{
    worker_ = std::thread([this] { run(); });
}

DecodeAhead::~DecodeAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void DecodeAhead::restart(int64_t from)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
        queue_.clear();
        seekPending_ = true;
        from_ = from < 0 ? 0 : from;
        decodedUpTo_ = from_;
        producedInRun_ = false;
        endOfStream_ = -1;
        atEnd_ = false;
        consecutiveErrors_ = 0;
    }
    wake_.notify_all();
}

bool DecodeAhead::take(int64_t target, media::Frame& out)
{
    bool got = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!queue_.empty() && int64_t(queue_.front().sequence) <= target) {
            out = std::move(queue_.front());
            queue_.pop_front();
            got = true;
        }
    }
    if (got)
        wake_.notify_all();  // room for the worker again
    return got;
}

int64_t DecodeAhead::runStart() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return from_;
}

int64_t DecodeAhead::decodedUpTo() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return decodedUpTo_;
}

bool DecodeAhead::atEnd() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return atEnd_;
}

int64_t DecodeAhead::endOfStream() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return endOfStream_;
}

std::string DecodeAhead::lastError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

void DecodeAhead::waitForProgress(int ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !queue_.empty() || atEnd_; });
}

void DecodeAhead::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || seekPending_ || (!atEnd_ && queue_.size() < capacity_); });
        if (quit_)
            return;
        if (seekPending_) {
            seekPending_ = false;
            uint64_t generation = generation_;
            int64_t from = from_;
            lock.unlock();
            media::Status status = reader_->seekToFrame(from);
            lock.lock();
            if (generation != generation_)
                continue;
            if (!status) {
                lastError_ = status.message;
                atEnd_ = true;
                progress_.notify_all();
                lock.unlock();
                onProgress_();
                lock.lock();
                continue;
            }
        }
        if (decodeOne(lock)) {
            lock.unlock();
            onProgress_();
            lock.lock();
        }
    }
}

// Decodes the next frame with the lock released; true when the window should look again.
bool DecodeAhead::decodeOne(std::unique_lock<std::mutex>& lock)
{
    uint64_t generation = generation_;
    lock.unlock();
    media::Frame frame;
    media::Status status = reader_->readNext(frame);
    lock.lock();
    if (generation != generation_ || seekPending_)
        return false;  // a restart came in meanwhile: this frame belongs to the old run
    if (status) {
        consecutiveErrors_ = 0;
        // The first frame of a run may lie before its start: a seek past the real end of a
        // file whose header promised more gives the last frame there is. Later ones may not.
        int64_t index = int64_t(frame.sequence);
        if (producedInRun_ && index < decodedUpTo_)
            return false;
        producedInRun_ = true;
        decodedUpTo_ = index + 1;
        queue_.push_back(std::move(frame));
    } else if (status.code == media::kEndOfStream) {
        atEnd_ = true;
        if (producedInRun_)
            endOfStream_ = decodedUpTo_;
    } else {
        lastError_ = status.message;
        if (++consecutiveErrors_ >= kMaxConsecutiveErrors)
            atEnd_ = true;
        else
            return false;
    }
    progress_.notify_all();
    return true;
}

}  // namespace kelvra::mciwnd
