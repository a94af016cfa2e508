// Decoding for the player: any AVI FFmpeg can read, frame by frame, in display format.
#pragma once

#include <kelvra/media/frame.h>
#include <kelvra/media/status.h>

#include <cstdint>
#include <memory>
#include <string>

namespace kelvra::media {

class VideoReader {
public:
    virtual ~VideoReader() = default;
    static Status open(const std::string& path, std::unique_ptr<VideoReader>& out);

    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual double framesPerSecond() const = 0;  // the file's own rate
    virtual int64_t frameCount() const = 0;
    virtual double durationSeconds() const = 0;

    // The next frame as BGRA, `sequence` = its index in the file; kEndOfStream after the last.
    virtual Status readNext(Frame& out) = 0;
    // The next readNext returns frame `index` (clamped into the file).
    virtual Status seekToFrame(int64_t index) = 0;
};

}  // namespace kelvra::media
