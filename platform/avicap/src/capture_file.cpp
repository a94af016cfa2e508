#include "capture_file.h"

#include <cerrno>

namespace kelvra::avicap {

media::Status CaptureFile::open(const std::string& path, int width, int height, const Compression& compression,
                                uint32_t microSecPerFrame, std::unique_ptr<CaptureFile>& out)
{
    std::unique_ptr<CaptureFile> file(new CaptureFile);
    file->width_ = width;
    file->height_ = height;
    media::Status status = media::Encoder::create(compression.codec, width, height, compression.quality, file->encoder_);
    if (!status)
        return status;
    status = media::AviWriter::open(path, file->encoder_->format(), microSecPerFrame, media::AviWriterOptions(),
                                    file->writer_);
    if (!status)
        return status;
    out = std::move(file);
    return media::Status::ok();
}

media::Status CaptureFile::append(const media::Frame& frame)
{
    // The format dialog keeps the size fixed while a file is open; a device that comes back
    // at another size must not put frames of two sizes into one stream.
    if (frame.width != width_ || frame.height != height_)
        return media::Status::error(EINVAL, "The camera delivers " + std::to_string(frame.width) + "x" +
                                                std::to_string(frame.height) + " pictures, but '" + path() +
                                                "' records " + std::to_string(width_) + "x" +
                                                std::to_string(height_) + ".");
    bool keyframe = true;
    media::Status status = encoder_->encode(frame, packet_, keyframe);
    if (!status)
        return status;
    status = writer_->append(packet_.data(), packet_.size(), keyframe);
    if (status)
        hasRemoved_ = false;
    return status;
}

media::Status CaptureFile::removeLastFrame()
{
    std::vector<uint8_t> payload;
    bool keyframe = true;
    media::Status status = writer_->removeLastFrame(payload, keyframe);
    if (!status)
        return status;
    removed_ = std::move(payload);
    removedKeyframe_ = keyframe;
    hasRemoved_ = true;
    return status;
}

media::Status CaptureFile::putBackRemovedFrame()
{
    if (!hasRemoved_)
        return media::Status::error(media::kNoFrames, "There is no removed frame to put back into '" + path() + "'.");
    media::Status status = writer_->append(removed_.data(), removed_.size(), removedKeyframe_);
    if (!status)
        return status;
    hasRemoved_ = false;
    packet_ = std::move(removed_);
    removed_.clear();
    return status;
}

media::Status CaptureFile::setMicroSecPerFrame(uint32_t microSecPerFrame)
{
    if (microSecPerFrame == writer_->microSecPerFrame())
        return media::Status::ok();
    return writer_->setMicroSecPerFrame(microSecPerFrame);
}

media::Status CaptureFile::close()
{
    return writer_->close();
}

}  // namespace kelvra::avicap
