// The single-frame capture file: one compressor and one AVI writer for one frame size.
#pragma once

#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/source.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvra::avicap {

struct Compression {
    // Motion JPEG: a fraction of the size of full frames (a day of one frame a minute at
    // 640x480 is 1.3 GB uncompressed), and every AVI player reads it.
    media::Codec codec = media::Codec::MotionJpeg;
    int quality = 90;
};

class CaptureFile {
public:
    // Creates `path`, or continues the recording in it when its format matches; a file of any
    // other kind is left untouched and the open fails.
    static media::Status open(const std::string& path, int width, int height, const Compression& compression,
                              uint32_t microSecPerFrame, std::unique_ptr<CaptureFile>& out);

    // Compresses and appends one frame; the file holds every earlier frame whatever happens.
    // A frame kept by removeLastFrame is dropped once a new frame is in the file.
    media::Status append(const media::Frame& frame);
    // Takes the last frame out of the file and keeps it for putBackRemovedFrame. On a file
    // without frames (kNoFrames) nothing changes.
    media::Status removeLastFrame();
    // Appends the kept frame again, as it was; once only, and not after a new frame was appended
    // (kNoFrames then).
    media::Status putBackRemovedFrame();
    bool canPutBack() const { return hasRemoved_; }
    media::Status setMicroSecPerFrame(uint32_t microSecPerFrame);
    media::Status close();

    const std::string& path() const { return writer_->path(); }
    uint64_t frames() const { return writer_->frameCount(); }
    const media::AviVideoFormat& format() const { return encoder_->format(); }
    uint64_t lastFrameBytes() const { return packet_.size(); }  // the last frame as compressed
    int width() const { return width_; }
    int height() const { return height_; }

private:
    CaptureFile() = default;

    int width_ = 0, height_ = 0;
    std::unique_ptr<media::Encoder> encoder_;
    std::unique_ptr<media::AviWriter> writer_;
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> removed_;  // the frame removeLastFrame took, as compressed
    bool removedKeyframe_ = true;
    bool hasRemoved_ = false;
};

}  // namespace kelvra::avicap
