// Drawing and reading the test source's picture.
//
// The stamp is a grid of kStampColumns x kStampRows black or white cells filling the top
// kStampBandNum/kStampBandDen of the picture: 96 bits = 32-bit sequence, 40-bit capture time
// in milliseconds, a 7-bit marker with the preview flag, and a CRC-16 over those ten bytes. Cells
// are placed in proportion to the picture, so a scaled picture is read the same way; each cell is
// tens of pixels wide at usual sizes, far larger than what JPEG's 8x8 blocks smear.
#include "test_source_picture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace kelvra::media {

namespace {

constexpr int kStampColumns = 12;
constexpr int kStampRows = 8;
constexpr int kStampBandNum = 2;  // the stamp fills the top 2/5 of the picture
constexpr int kStampBandDen = 5;
constexpr int kStampBytes = kStampColumns * kStampRows / 8;
constexpr uint8_t kStampMarker = 0x5a;    // low bit carries the preview flag
constexpr int kMinStampContrast = 64;     // black and white cells must differ at least this much
constexpr uint8_t kCellWhite = 255;
constexpr int kNeutral = 128;             // control value that leaves the picture unchanged
constexpr int kBoxSizeDen = 5;            // the moving box is 1/5 of the pattern area's height
constexpr int kBoxStepDen = 64;           // it moves 1/64 of the width per picture
constexpr int kCheckerDen = 8;            // checkerboard squares: 1/8 of the pattern area's height
constexpr int kGradientScrollDen = 128;   // the gradient scrolls 1/128 of the width per picture
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    uint8_t r, g, b;
};

constexpr std::array<Rgb, 8> kBars = {{{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                       {235, 16, 235}, {235, 16, 16}, {16, 16, 235}, {16, 16, 16}}};
constexpr Rgb kBoxColor = {250, 160, 30};
constexpr Rgb kCheckerLight = {200, 200, 200};
constexpr Rgb kCheckerDark = {40, 40, 90};

uint16_t crc16(const uint8_t* data, size_t size)
{
    constexpr uint16_t kPolynomial = 0x1021;  // CRC-16/CCITT
    uint16_t crc = 0xffff;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint16_t(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ kPolynomial) : uint16_t(crc << 1);
    }
    return crc;
}

std::array<uint8_t, kStampBytes> packStamp(const TestStamp& stamp)
{
    std::array<uint8_t, kStampBytes> bytes{};
    for (int i = 0; i < 4; ++i)
        bytes[i] = uint8_t(stamp.sequence >> (8 * i));
    for (int i = 0; i < 5; ++i)
        bytes[4 + i] = uint8_t(stamp.timeMs >> (8 * i));
    bytes[9] = uint8_t((kStampMarker & 0xfe) | (stamp.preview ? 1 : 0));
    const uint16_t crc = crc16(bytes.data(), 10);
    bytes[10] = uint8_t(crc);
    bytes[11] = uint8_t(crc >> 8);
    return bytes;
}

bool unpackStamp(const std::array<uint8_t, kStampBytes>& bytes, TestStamp& stamp)
{
    if ((bytes[9] & 0xfe) != (kStampMarker & 0xfe))
        return false;
    if (crc16(bytes.data(), 10) != uint16_t(bytes[10] | bytes[11] << 8))
        return false;
    stamp.sequence = 0;
    stamp.timeMs = 0;
    for (int i = 0; i < 4; ++i)
        stamp.sequence |= uint64_t(bytes[i]) << (8 * i);
    for (int i = 0; i < 5; ++i)
        stamp.timeMs |= uint64_t(bytes[4 + i]) << (8 * i);
    stamp.preview = bytes[9] & 1;
    return true;
}

struct Cell {
    int x0, x1, y0, y1;
};

Cell cellOf(int index, int width, int height)
{
    const int column = index % kStampColumns, row = index / kStampColumns;
    const int band = height * kStampBandNum / kStampBandDen;
    return {column * width / kStampColumns, (column + 1) * width / kStampColumns, row * band / kStampRows,
            (row + 1) * band / kStampRows};
}

uint8_t clampByte(double v)
{
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// Brightness, contrast, saturation and hue, applied in YCbCr as a camera's processor would.
Rgb adjust(Rgb c, const PictureSettings& s)
{
    const double y = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    double cb = -0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b;
    double cr = 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b;
    const double luma = (y - kNeutral) * double(s.contrast) / kNeutral + kNeutral + double(s.brightness - kNeutral);
    const double angle = double(s.hue) * kPi / 180.0;
    const double gain = double(s.saturation) / kNeutral;
    const double rcb = (cb * std::cos(angle) - cr * std::sin(angle)) * gain;
    const double rcr = (cb * std::sin(angle) + cr * std::cos(angle)) * gain;
    cb = rcb, cr = rcr;
    return {clampByte(luma + 1.402 * cr), clampByte(luma - 0.344136 * cb - 0.714136 * cr), clampByte(luma + 1.772 * cb)};
}

// Hue sweep for the gradient pattern, at position t in [0, 1).
Rgb hueColor(double t)
{
    const double h = t * 6.0;
    const int sector = int(h) % 6;
    const double f = h - std::floor(h);
    const uint8_t up = clampByte(255 * f), down = clampByte(255 * (1 - f));
    switch (sector) {
    case 0: return {255, up, 0};
    case 1: return {down, 255, 0};
    case 2: return {0, 255, up};
    case 3: return {0, down, 255};
    case 4: return {up, 0, 255};
    default: return {255, 0, down};
    }
}

void putPixel(uint8_t* p, Rgb c)
{
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
}

// One row of the background pattern; `parity` picks the checkerboard's phase.
void patternRow(uint8_t* row, int width, int checker, int parity, uint64_t motion, const PictureSettings& s)
{
    const std::array<Rgb, 2> squares = {adjust(kCheckerLight, s), adjust(kCheckerDark, s)};
    std::array<Rgb, kBars.size()> bars;
    for (size_t i = 0; i < kBars.size(); ++i)
        bars[i] = adjust(kBars[i], s);
    const int scroll = int((motion * uint64_t(width) / kGradientScrollDen) % uint64_t(width));
    for (int x = 0; x < width; ++x) {
        const int px = s.mirror ? width - 1 - x : x;
        Rgb c;
        if (s.pattern == kPatternGradient)
            c = adjust(hueColor(double((px + scroll) % width) / width), s);
        else if (s.pattern == kPatternCheckerboard)
            c = squares[((px / checker) + parity) & 1];
        else
            c = bars[size_t(px) * kBars.size() / size_t(width)];
        putPixel(row + 3 * x, c);
    }
}

}  // namespace

void drawTestStamp(uint8_t* rgb, int width, int height, const TestStamp& stamp)
{
    const auto bytes = packStamp(stamp);
    for (int i = 0; i < kStampBytes * 8; ++i) {
        const bool one = (bytes[i / 8] >> (7 - i % 8)) & 1;
        const Cell cell = cellOf(i, width, height);
        for (int y = cell.y0; y < cell.y1; ++y)
            std::memset(rgb + (size_t(y) * width + cell.x0) * 3, one ? kCellWhite : 0, size_t(cell.x1 - cell.x0) * 3);
    }
}

Status TestPicture::render(const StreamFormat& format, const PictureSettings& settings, const TestStamp& stamp,
                           uint64_t motion, std::chrono::steady_clock::time_point captured, Frame& out)
{
    const int width = format.width, height = format.height;
    Frame& rgb = format.format == PixelFormat::RGB24 ? out : rgb_;
    rgb.width = width;
    rgb.height = height;
    rgb.format = PixelFormat::RGB24;
    rgb.data.resize(frameBytes(PixelFormat::RGB24, width, height));
    const size_t stride = size_t(width) * 3;

    const int top = height * kStampBandNum / kStampBandDen;
    const int area = height - top;
    const int checker = std::max(1, area / kCheckerDen);
    const int box = std::max(1, area / kBoxSizeDen);
    // The box sweeps left to right and back again.
    const uint64_t travel = uint64_t(std::max(1, width - box));
    const uint64_t step = std::max<uint64_t>(1, uint64_t(width) / kBoxStepDen);
    const uint64_t pos = (motion * step) % (2 * travel);
    const int boxX = int(pos < travel ? pos : 2 * travel - pos);
    const int boxY = top + (area - box) / 2;
    const Rgb boxColor = adjust(kBoxColor, settings);

    row_.resize(stride * 2);
    patternRow(row_.data(), width, checker, 0, motion, settings);
    patternRow(row_.data() + stride, width, checker, 1, motion, settings);
    for (int y = top; y < height; ++y) {
        uint8_t* line = rgb.data.data() + size_t(y) * stride;
        std::memcpy(line, row_.data() + stride * size_t(((y - top) / checker) & 1), stride);
        if (y >= boxY && y < boxY + box)
            for (int x = boxX; x < std::min(width, boxX + box); ++x)
                putPixel(line + 3 * x, boxColor);
    }
    drawTestStamp(rgb.data.data(), width, height, stamp);

    if (&rgb != &out) {
        Status st = converter_.convert(rgb, format.format, out);
        if (!st)
            return st;
    }
    out.sequence = stamp.sequence;
    out.captured = captured;
    return Status::ok();
}

bool readTestStamp(const Frame& frame, TestStamp& stamp)
{
    Frame gray;
    FrameConverter converter;
    if (!converter.convert(frame, PixelFormat::GRAY8, gray))
        return false;
    const int width = gray.width, height = gray.height;
    if (width < 2 * kStampColumns || height * kStampBandNum / kStampBandDen < 2 * kStampRows)
        return false;
    std::array<int, kStampBytes * 8> levels{};
    for (int i = 0; i < kStampBytes * 8; ++i) {
        // The middle half of the cell: away from the ringing at its edges.
        const Cell c = cellOf(i, width, height);
        const int x0 = c.x0 + (c.x1 - c.x0) / 4, x1 = std::max(x0 + 1, c.x1 - (c.x1 - c.x0) / 4);
        const int y0 = c.y0 + (c.y1 - c.y0) / 4, y1 = std::max(y0 + 1, c.y1 - (c.y1 - c.y0) / 4);
        long sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                sum += gray.data[size_t(y) * width + x];
        levels[i] = int(sum / (long(x1 - x0) * (y1 - y0)));
    }
    const auto [lo, hi] = std::minmax_element(levels.begin(), levels.end());
    if (*hi - *lo < kMinStampContrast)
        return false;
    const int threshold = (*hi + *lo) / 2;
    std::array<uint8_t, kStampBytes> bytes{};
    for (int i = 0; i < kStampBytes * 8; ++i)
        if (levels[i] > threshold)
            bytes[i / 8] |= uint8_t(1 << (7 - i % 8));
    return unpackStamp(bytes, stamp);
}

bool readTestStamp(const Frame& frame, uint64_t& sequence, uint64_t& timeMs)
{
    TestStamp stamp;
    if (!readTestStamp(frame, stamp))
        return false;
    sequence = stamp.sequence;
    timeMs = stamp.timeMs;
    return true;
}

}  // namespace kelvra::media
