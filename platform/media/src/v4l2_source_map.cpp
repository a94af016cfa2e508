// V4L2 structures to the media core's terms.
#include "v4l2_source_map.h"

#include <algorithm>
#include <cstring>

namespace kelvra::media::v4l2 {

namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
const std::pair<int, int> kCommonSizes[] = {{160, 120},  {176, 144},  {320, 240},  {352, 288},  {640, 360},
                                            {640, 480},  {800, 600},  {1024, 768}, {1280, 720}, {1280, 960},
                                            {1600, 1200}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
const uint32_t kCommonRates[] = {1, 5, 10, 15, 20, 25, 30, 50, 60};

// Manual values and the automatic modes that set them while on. V4L2 has no query for this; the
// driver only flags the value inactive, so the pairs come from the control ids.
const std::pair<uint32_t, uint32_t> kAutomaticModes[] = {
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {V4L2_CID_RED_BALANCE, V4L2_CID_AUTO_WHITE_BALANCE},
    {V4L2_CID_BLUE_BALANCE, V4L2_CID_AUTO_WHITE_BALANCE},
    {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO},
    {V4L2_CID_EXPOSURE, V4L2_CID_EXPOSURE_AUTO},
    {V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
    {V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
    {V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO},
    {V4L2_CID_FOCUS_RELATIVE, V4L2_CID_FOCUS_AUTO},
};

}  // namespace

std::optional<PixelFormat> pixelFormatOf(uint32_t fourcc)
{
    switch (fourcc) {
    case V4L2_PIX_FMT_YUYV: return PixelFormat::YUYV422;
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG: return PixelFormat::MJPEG;
    case V4L2_PIX_FMT_NV12: return PixelFormat::NV12;
    case V4L2_PIX_FMT_YUV420: return PixelFormat::YUV420P;
    case V4L2_PIX_FMT_RGB24: return PixelFormat::RGB24;
    case V4L2_PIX_FMT_BGR24: return PixelFormat::BGR24;
    case V4L2_PIX_FMT_GREY: return PixelFormat::GRAY8;
    default: return std::nullopt;
    }
}

uint32_t fourccOf(PixelFormat format)
{
    switch (format) {
    case PixelFormat::YUYV422: return V4L2_PIX_FMT_YUYV;
    case PixelFormat::MJPEG: return V4L2_PIX_FMT_MJPEG;
    case PixelFormat::NV12: return V4L2_PIX_FMT_NV12;
    case PixelFormat::YUV420P: return V4L2_PIX_FMT_YUV420;
    case PixelFormat::RGB24: return V4L2_PIX_FMT_RGB24;
    case PixelFormat::BGR24: return V4L2_PIX_FMT_BGR24;
    case PixelFormat::GRAY8: return V4L2_PIX_FMT_GREY;
    case PixelFormat::BGRA: return 0;  // no camera delivers our display format
    }
    return 0;
}

std::optional<Control> controlOf(const v4l2_query_ext_ctrl& query, int64_t value,
                                 const std::vector<ControlMenuItem>& menu)
{
    if (query.flags & V4L2_CTRL_FLAG_DISABLED)
        return std::nullopt;
    Control c;
    switch (query.type) {
    case V4L2_CTRL_TYPE_INTEGER:
    case V4L2_CTRL_TYPE_INTEGER64: c.type = ControlType::Integer; break;
    case V4L2_CTRL_TYPE_BOOLEAN: c.type = ControlType::Boolean; break;
    case V4L2_CTRL_TYPE_MENU:
    case V4L2_CTRL_TYPE_INTEGER_MENU: c.type = ControlType::Menu; break;
    case V4L2_CTRL_TYPE_BUTTON: c.type = ControlType::Button; break;
    default: return std::nullopt;  // class headings, strings, bitmasks, compound controls
    }
    if (query.flags & V4L2_CTRL_FLAG_HAS_PAYLOAD)
        return std::nullopt;
    c.id = query.id;
    c.name.assign(query.name, strnlen(query.name, sizeof query.name));
    c.minimum = query.minimum;
    c.maximum = query.maximum;
    c.step = query.step ? int64_t(query.step) : 1;
    c.defaultValue = query.default_value;
    c.value = c.type == ControlType::Button ? 0 : value;
    c.menu = menu;
    for (auto [manual, automatic] : kAutomaticModes)
        if (manual == query.id)
            c.automaticId = automatic;
    // Read-only and inactive controls are shown but cannot be changed now.
    c.inactive = query.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED);
    return c;
}

std::string menuItemName(const v4l2_querymenu& item, uint32_t controlType)
{
    if (controlType == V4L2_CTRL_TYPE_INTEGER_MENU)
        return std::to_string(item.value);
    return std::string(reinterpret_cast<const char*>(item.name),
                       strnlen(reinterpret_cast<const char*>(item.name), sizeof item.name));
}

int64_t frameTimeUs(const v4l2_buffer& buffer, int64_t dequeuedUs)
{
    if ((buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
        return dequeuedUs;
    return int64_t(buffer.timestamp.tv_sec) * kMicrosPerSecond + buffer.timestamp.tv_usec;
}

bool repack(const uint8_t* data, size_t bytesUsed, uint32_t bytesPerLine, PixelFormat format, int width,
            int height, std::vector<uint8_t>& out)
{
    if (format == PixelFormat::MJPEG) {
        out.assign(data, data + bytesUsed);
        return bytesUsed > 0;
    }
    const size_t packed = frameBytes(format, width, height);
    if (packed == 0)
        return false;
    // Bytes of one packed row of the first plane: the planar formats start with a luma plane.
    const bool planar = format == PixelFormat::YUV420P || format == PixelFormat::NV12;
    const size_t lumaRow = planar ? size_t(width) : frameBytes(format, width, 1);
    const size_t stride = std::max<size_t>(bytesPerLine, lumaRow);
    out.resize(packed);
    if (stride == lumaRow) {
        if (bytesUsed < packed)
            return false;
        std::memcpy(out.data(), data, packed);
        return true;
    }
    // Padded rows: each plane's rows are copied without their padding.
    const size_t chromaW = (size_t(width) + 1) / 2, chromaH = (size_t(height) + 1) / 2;
    struct Plane {
        size_t rowBytes, rows, stride;
    };
    std::vector<Plane> planes = {{lumaRow, size_t(height), stride}};
    if (format == PixelFormat::YUV420P)
        planes.insert(planes.end(), 2, Plane{chromaW, chromaH, stride / 2});
    else if (format == PixelFormat::NV12)
        planes.push_back({2 * chromaW, chromaH, stride});
    size_t in = 0, at = 0;
    for (const Plane& p : planes) {
        if (in + p.stride * (p.rows - 1) + p.rowBytes > bytesUsed)
            return false;
        for (size_t y = 0; y < p.rows; ++y, at += p.rowBytes)
            std::memcpy(out.data() + at, data + in + p.stride * y, p.rowBytes);
        in += p.stride * p.rows;
    }
    return true;
}

std::vector<std::pair<int, int>> sizesInRange(const v4l2_frmsize_stepwise& r)
{
    auto fits = [&](uint32_t w, uint32_t h) {
        return w >= r.min_width && w <= r.max_width && h >= r.min_height && h <= r.max_height &&
               (r.step_width <= 1 || (w - r.min_width) % r.step_width == 0) &&
               (r.step_height <= 1 || (h - r.min_height) % r.step_height == 0);
    };
    std::vector<std::pair<int, int>> sizes;
    if (r.min_width > 0 && r.min_height > 0)
        sizes.emplace_back(int(r.min_width), int(r.min_height));
    for (auto [w, h] : kCommonSizes)
        if (fits(uint32_t(w), uint32_t(h)) && std::find(sizes.begin(), sizes.end(), std::pair{w, h}) == sizes.end())
            sizes.emplace_back(w, h);
    const std::pair<int, int> largest{int(r.max_width), int(r.max_height)};
    if (largest.first > 0 && largest.second > 0 && std::find(sizes.begin(), sizes.end(), largest) == sizes.end())
        sizes.push_back(largest);
    return sizes;
}

FrameRate rateOf(const v4l2_fract& interval)
{
    // An interval of n/d seconds is d/n frames per second.
    return {interval.denominator, interval.numerator ? interval.numerator : 1};
}

std::vector<FrameRate> ratesInRange(const v4l2_frmival_stepwise& range)
{
    const FrameRate slowest = rateOf(range.max), fastest = rateOf(range.min);
    auto fps = [](const FrameRate& r) { return double(r.numerator) / r.denominator; };
    std::vector<FrameRate> rates = {fastest};
    for (uint32_t r : kCommonRates)
        if (r < fps(fastest) && r > fps(slowest))
            rates.push_back({r, 1});
    if (fps(slowest) < fps(fastest))
        rates.push_back(slowest);
    return rates;
}

std::string capabilityVersion(uint32_t version)
{
    return std::to_string((version >> 16) & 0xff) + "." + std::to_string((version >> 8) & 0xff) + "." +
           std::to_string(version & 0xff);
}

}  // namespace kelvra::media::v4l2
