// The frames already in an AVI file, by number, each decoded by itself: for looking back at a
// recording while it goes on (the capture window's onion skin and its replay of the last frames).
// Opening reads the headers and the index once; a file that grows later needs a new reader.
#pragma once

#include <kelvra/media/frame.h>
#include <kelvra/media/status.h>

#include <cstdint>
#include <memory>
#include <string>

namespace kelvra::media {

struct StoredPicture {
    int ownWidth = 0, ownHeight = 0;  // the picture's size as stored, whatever the headers say
    Frame picture;                    // BGRA, fitted into the box asked for
};

class StoredFrames {
public:
    virtual ~StoredFrames() = default;
    static Status open(const std::string& path, std::unique_ptr<StoredFrames>& out);

    virtual int64_t count() const = 0;  // frames the file held when it was opened
    virtual int width() const = 0;      // the frame size the headers give
    virtual int height() const = 0;
    virtual uint32_t microSecPerFrame() const = 0;  // the file's own rate

    // Frame `index` (0 = first) as BGRA, scaled to the largest size with its own aspect ratio
    // that fits boxWidth x boxHeight, never larger than it is (0 x 0: its own size). A frame that
    // holds no picture (a dropped one) or cannot be decoded fails; the others are unaffected.
    virtual Status read(int64_t index, StoredPicture& out, int boxWidth = 0, int boxHeight = 0) = 0;
};

}  // namespace kelvra::media
