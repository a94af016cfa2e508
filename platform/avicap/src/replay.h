// Play Last Frames: the last frames of the capture file shown again at the file's own rate, one
// decoded per tick, so that the animator sees the movement before taking the next frame. The
// ticks come from the platform's timers (the virtual clock in tests); nothing here waits.
#pragma once

#include <kelvra/media/stored_frames.h>

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <string>

namespace kelvra::avicap {

constexpr int kMinReplayFrames = 5;
constexpr int kMaxReplayFrames = 50;
constexpr int kDefaultReplayFrames = 10;

class Replay {
public:
    // The last `frames` frames of the file at `path` (all of them when it holds fewer), shown in
    // pictures that fit `box`; the first one is ready at once.
    static media::Status start(const std::string& path, int frames, QSize box, std::unique_ptr<Replay>& out);

    // On to the next frame; at the end back to the first when `loop`, else false.
    bool advance(bool loop);

    const QImage& picture() const { return picture_; }
    QSize frameSize() const { return frameSize_; }  // the shown frame's own size
    int64_t position() const { return position_; }  // the shown frame's number in the file
    int64_t first() const { return first_; }
    int64_t length() const { return end_ - first_; }
    uint32_t intervalMs() const;  // the file's time per frame

private:
    Replay() = default;
    void show(int64_t index);

    std::unique_ptr<media::StoredFrames> reader_;
    int64_t first_ = 0, end_ = 0, position_ = 0;
    QSize box_, frameSize_;
    QImage picture_;
};

}  // namespace kelvra::avicap
