// The test source's picture: pattern, moving box, colour controls and the stamp.
#pragma once

#include <kelvra/media/source.h>
#include <kelvra/media/test_source.h>

namespace kelvra::media {

struct PictureSettings {
    int64_t brightness = 128;
    int64_t contrast = 128;
    int64_t saturation = 128;
    int64_t hue = 0;
    bool mirror = false;
    int64_t pattern = kPatternColorBars;
};

class TestPicture {
public:
    // Draws picture number `motion` (which places the moving parts) carrying `stamp`, in the
    // stream's format and size, taken at `captured`.
    Status render(const StreamFormat& format, const PictureSettings& settings, const TestStamp& stamp,
                  uint64_t motion, std::chrono::steady_clock::time_point captured, Frame& out);

private:
    Frame rgb_;
    FrameConverter converter_;
    std::vector<uint8_t> row_;
};

// The stamp's block code, on a packed RGB24 picture.
void drawTestStamp(uint8_t* rgb, int width, int height, const TestStamp& stamp);

}  // namespace kelvra::media
