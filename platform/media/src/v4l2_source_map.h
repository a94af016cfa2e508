// V4L2 facts turned into the media core's terms: pure functions, testable without a device.
#pragma once

#include <kelvra/media/source.h>

#include <linux/videodev2.h>

#include <optional>
#include <string>
#include <vector>

namespace kelvra::media::v4l2 {

// The pixel formats we take from cameras; others are not offered.
std::optional<PixelFormat> pixelFormatOf(uint32_t fourcc);
uint32_t fourccOf(PixelFormat format);

// A control as the dialogs show it; nullopt for what they cannot show (class headings,
// disabled controls, strings and compound types).
std::optional<Control> controlOf(const v4l2_query_ext_ctrl& query, int64_t value,
                                 const std::vector<ControlMenuItem>& menu);
std::string menuItemName(const v4l2_querymenu& item, uint32_t controlType);

// Frame time in CLOCK_MONOTONIC microseconds: the buffer's own when the driver stamps it from the
// monotonic clock, otherwise the moment we dequeued it.
int64_t frameTimeUs(const v4l2_buffer& buffer, int64_t dequeuedUs);
// A frame may be handed out for a capture request only when it was taken after the request.
inline bool isFresh(int64_t frameUs, int64_t requestUs)
{
    return frameUs > requestUs;
}

// A device picture (rows bytesPerLine apart, planes following each other) into our packed
// layout; false when the buffer is too short for the picture.
bool repack(const uint8_t* data, size_t bytesUsed, uint32_t bytesPerLine, PixelFormat format, int width,
            int height, std::vector<uint8_t>& out);

// Frame sizes to offer for a stepwise or continuous range: the common ones that fit, and the limits.
std::vector<std::pair<int, int>> sizesInRange(const v4l2_frmsize_stepwise& range);
// Frame rates from an interval in seconds (numerator/denominator).
FrameRate rateOf(const v4l2_fract& interval);
std::vector<FrameRate> ratesInRange(const v4l2_frmival_stepwise& range);

std::string capabilityVersion(uint32_t version);

}  // namespace kelvra::media::v4l2
