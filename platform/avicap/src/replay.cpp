#include "replay.h"

#include <algorithm>
#include <cerrno>

namespace kelvra::avicap {

namespace {
constexpr int kBgraBytesPerPixel = 4;
constexpr uint32_t kMicroSecPerMs = 1000;
constexpr uint32_t kShortestIntervalMs = 10;  // the platform's timers go no faster
}  // namespace

media::Status Replay::start(const std::string& path, int frames, QSize box, std::unique_ptr<Replay>& out)
{
    std::unique_ptr<Replay> replay(new Replay);
    media::Status status = media::StoredFrames::open(path, replay->reader_);
    if (!status)
        return status;
    const int64_t count = replay->reader_->count();
    if (count <= 0)
        return media::Status::error(ENODATA, "The capture file holds no frames yet.");
    replay->end_ = count;
    replay->first_ = std::max<int64_t>(0, count - std::clamp(frames, 1, kMaxReplayFrames));
    replay->box_ = box;
    replay->show(replay->first_);
    out = std::move(replay);
    return media::Status::ok();
}

uint32_t Replay::intervalMs() const
{
    const uint32_t us = reader_->microSecPerFrame();
    return std::max(kShortestIntervalMs, (us + kMicroSecPerMs / 2) / kMicroSecPerMs);
}

bool Replay::advance(bool loop)
{
    if (position_ + 1 < end_) {
        show(position_ + 1);
        return true;
    }
    if (!loop)
        return false;
    show(first_);
    return true;
}

// A frame that cannot be decoded keeps the last picture up for its turn, so the timing stays.
void Replay::show(int64_t index)
{
    position_ = index;
    media::StoredPicture stored;
    if (!reader_->read(index, stored, box_.width(), box_.height()))
        return;
    const media::Frame& f = stored.picture;
    picture_ = QImage(f.data.data(), f.width, f.height, f.width * kBgraBytesPerPixel, QImage::Format_RGB32).copy();
    frameSize_ = QSize(stored.ownWidth, stored.ownHeight);
}

}  // namespace kelvra::avicap
