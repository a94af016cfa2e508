// V4L2: the mapping from kernel structures (no device needed), the driver list, and a kernel
// virtual camera (vivid or v4l2loopback) where the machine has one.
#include "v4l2_source_map.h"

#include <kelvra/media/source.h>
#include <kelvra/media/test_source.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

v4l2_query_ext_ctrl query(uint32_t id, uint32_t type, const char* name, int64_t min, int64_t max, uint32_t flags = 0)
{
    v4l2_query_ext_ctrl q{};
    q.id = id, q.type = type, q.flags = flags;
    std::strncpy(q.name, name, sizeof q.name - 1);
    q.minimum = q.default_value = min;
    q.maximum = max;
    q.step = 1;
    return q;
}

// Each test leaves the driver list variable as it found it.
class DriversVariable : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (saved_)
            setenv("KELVRA_CAPTURE_DRIVERS", saved_->c_str(), 1);
        else
            unsetenv("KELVRA_CAPTURE_DRIVERS");
    }
    void SetUp() override
    {
        if (const char* v = std::getenv("KELVRA_CAPTURE_DRIVERS"))
            saved_ = v;
    }
    std::optional<std::string> saved_;
};

// The first video node that a kernel virtual camera driver provides, if any.
std::string virtualCamera()
{
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    for (const DriverInfo& d : installedDrivers())
        if (d.version.rfind("vivid", 0) == 0 || d.version.rfind("v4l2 loopback", 0) == 0)
            return d.id;
    return {};
}

}  // namespace

TEST(V4l2Mapping, PixelFormats)
{
    for (auto [fourcc, format] :
         {std::pair{V4L2_PIX_FMT_YUYV, PixelFormat::YUYV422}, {V4L2_PIX_FMT_MJPEG, PixelFormat::MJPEG},
          {V4L2_PIX_FMT_NV12, PixelFormat::NV12}, {V4L2_PIX_FMT_YUV420, PixelFormat::YUV420P},
          {V4L2_PIX_FMT_RGB24, PixelFormat::RGB24}, {V4L2_PIX_FMT_BGR24, PixelFormat::BGR24},
          {V4L2_PIX_FMT_GREY, PixelFormat::GRAY8}}) {
        EXPECT_EQ(v4l2::pixelFormatOf(fourcc), format);
        EXPECT_EQ(v4l2::fourccOf(format), fourcc);
    }
    EXPECT_EQ(v4l2::pixelFormatOf(V4L2_PIX_FMT_JPEG), PixelFormat::MJPEG);
    EXPECT_FALSE(v4l2::pixelFormatOf(V4L2_PIX_FMT_H264));
    EXPECT_FALSE(v4l2::pixelFormatOf(V4L2_PIX_FMT_SRGGB10));
    EXPECT_EQ(v4l2::fourccOf(PixelFormat::BGRA), 0u);
}

TEST(V4l2Mapping, Controls)
{
    struct Case {
        v4l2_query_ext_ctrl query;
        int64_t current;
        std::optional<ControlType> type;  // none: not offered
        bool inactive = false;
        int64_t value = 0;
    };
    const Case cases[] = {
        {query(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", -64, 64), 10, ControlType::Integer, false,
         10},
        {query(V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure", 1, 5000, V4L2_CTRL_FLAG_INACTIVE), 156,
         ControlType::Integer, true, 156},
        {query(1, V4L2_CTRL_TYPE_INTEGER, "Status", 0, 1, V4L2_CTRL_FLAG_READ_ONLY), 0, ControlType::Integer, true},
        {query(V4L2_CID_AUTOGAIN, V4L2_CTRL_TYPE_BOOLEAN, "Gain, Automatic", 0, 1), 1, ControlType::Boolean, false, 1},
        {query(V4L2_CID_PAN_RESET, V4L2_CTRL_TYPE_BUTTON, "Pan, Reset", 0, 0), 99, ControlType::Button},
        {query(V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0), 0, std::nullopt},
        {query(2, V4L2_CTRL_TYPE_STRING, "Name", 0, 32), 0, std::nullopt},
        {query(3, V4L2_CTRL_TYPE_INTEGER, "Gone", 0, 1, V4L2_CTRL_FLAG_DISABLED), 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.name);
        const auto control = v4l2::controlOf(c.query, c.current, {});
        ASSERT_EQ(control.has_value(), c.type.has_value());
        if (!control)
            continue;
        EXPECT_EQ(control->name, c.query.name);
        EXPECT_EQ(control->type, *c.type);
        EXPECT_EQ(control->minimum, c.query.minimum);
        EXPECT_EQ(control->inactive, c.inactive);
        EXPECT_EQ(control->value, c.value);
    }
    auto q = query(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2);
    auto menu = v4l2::controlOf(q, 1, {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}});
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->type, ControlType::Menu);
    ASSERT_EQ(menu->menu.size(), 3u);
    EXPECT_EQ(menu->menu[1].name, "50 Hz");

    v4l2_querymenu item{};
    std::strcpy(reinterpret_cast<char*>(item.name), "60 Hz");
    EXPECT_EQ(v4l2::menuItemName(item, V4L2_CTRL_TYPE_MENU), "60 Hz");
    item.value = 1234;
    EXPECT_EQ(v4l2::menuItemName(item, V4L2_CTRL_TYPE_INTEGER_MENU), "1234");
}

TEST(V4l2Mapping, FreshnessFromBufferTimes)
{
    v4l2_buffer buf{};
    buf.timestamp.tv_sec = 100;
    buf.timestamp.tv_usec = 500;
    buf.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    EXPECT_EQ(v4l2::frameTimeUs(buf, 999), 100000500);
    // A frame stamped before the request stays old even though we dequeue it after.
    EXPECT_FALSE(v4l2::isFresh(v4l2::frameTimeUs(buf, 100200000), 100100000));
    EXPECT_TRUE(v4l2::isFresh(v4l2::frameTimeUs(buf, 0), 100000000));
    EXPECT_FALSE(v4l2::isFresh(100000000, 100000000));
    // A driver that copies times from elsewhere: only our dequeue time can be trusted.
    buf.flags = V4L2_BUF_FLAG_TIMESTAMP_COPY;
    EXPECT_EQ(v4l2::frameTimeUs(buf, 777), 777);
    buf.flags = V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN;
    EXPECT_EQ(v4l2::frameTimeUs(buf, 778), 778);
}

TEST(V4l2Mapping, RepackRemovesRowPadding)
{
    // 4x2 YUYV with rows padded to 16 bytes.
    std::vector<uint8_t> padded(32, 0xee);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 8; ++i)
            padded[y * 16 + i] = uint8_t(y * 10 + i);
    std::vector<uint8_t> out;
    ASSERT_TRUE(v4l2::repack(padded.data(), padded.size(), 16, PixelFormat::YUYV422, 4, 2, out));
    ASSERT_EQ(out.size(), 16u);
    EXPECT_EQ(out[8], 10);
    EXPECT_EQ(out[15], 17);
    EXPECT_FALSE(v4l2::repack(padded.data(), 20, 16, PixelFormat::YUYV422, 4, 2, out));  // truncated buffer

    // 4x2 YUV420 with an 8-byte luma stride: chroma rows are 4 bytes apart.
    std::vector<uint8_t> planar(8 * 2 + 4 + 4, 0xee);
    planar[0] = 1, planar[8] = 2, planar[16] = 3, planar[20] = 4;
    ASSERT_TRUE(v4l2::repack(planar.data(), planar.size(), 8, PixelFormat::YUV420P, 4, 2, out));
    ASSERT_EQ(out.size(), frameBytes(PixelFormat::YUV420P, 4, 2));
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[4], 2);
    EXPECT_EQ(out[8], 3);
    EXPECT_EQ(out[10], 4);

    // Unpadded and JPEG data pass as they are; a short picture is refused.
    std::vector<uint8_t> rgb(4 * 2 * 3, 7);
    ASSERT_TRUE(v4l2::repack(rgb.data(), rgb.size(), 12, PixelFormat::RGB24, 4, 2, out));
    EXPECT_EQ(out, rgb);
    EXPECT_FALSE(v4l2::repack(rgb.data(), rgb.size() - 1, 12, PixelFormat::RGB24, 4, 2, out));
    ASSERT_TRUE(v4l2::repack(rgb.data(), 5, 0, PixelFormat::MJPEG, 640, 480, out));
    EXPECT_EQ(out.size(), 5u);
}

TEST(V4l2Mapping, SizeAndRateRanges)
{
    v4l2_frmsize_stepwise range{};
    range.min_width = 48, range.max_width = 1280, range.step_width = 16;
    range.min_height = 32, range.max_height = 720, range.step_height = 16;
    const auto sizes = v4l2::sizesInRange(range);
    ASSERT_GE(sizes.size(), 3u);
    EXPECT_EQ(sizes.front(), std::make_pair(48, 32));
    EXPECT_EQ(sizes.back(), std::make_pair(1280, 720));
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), std::make_pair(640, 480)), sizes.end());
    EXPECT_EQ(std::find(sizes.begin(), sizes.end(), std::make_pair(1920, 1080)), sizes.end());

    EXPECT_EQ(v4l2::rateOf({1, 30}).numerator, 30u);
    EXPECT_EQ(v4l2::rateOf({1001, 30000}).denominator, 1001u);
    v4l2_frmival_stepwise rates{};
    rates.min = {1, 30}, rates.max = {1, 5}, rates.step = {1, 1};
    const auto list = v4l2::ratesInRange(rates);
    EXPECT_EQ(list.front().numerator, 30u);
    EXPECT_EQ(list.back().numerator, 5u);
}

TEST_F(DriversVariable, ReplacesTheDriverListOrAddsTheTestSource)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "", 1);
    EXPECT_TRUE(installedDrivers().empty());
    setenv("KELVRA_CAPTURE_DRIVERS", "test", 1);
    auto list = installedDrivers();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, "test");
    EXPECT_EQ(list[0].name, "Kelvra test pattern");
    setenv("KELVRA_CAPTURE_DRIVERS", " /dev/kelvra-no-such-camera , test,", 1);
    list = installedDrivers();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, "/dev/kelvra-no-such-camera");
    EXPECT_EQ(list[1].id, "test");
    std::unique_ptr<FrameSource> source;
    Status st = openSource(list[0], source);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("/dev/kelvra-no-such-camera"), std::string::npos);
    EXPECT_FALSE(source);
    ASSERT_TRUE(openSource(list[1], source));
    EXPECT_NE(dynamic_cast<TestSource*>(source.get()), nullptr);
    // A node that is not a camera is refused with a message.
    EXPECT_FALSE(openSource({"/dev/null", "null", ""}, source));
    // Unset: the machine's video devices, then the test source.
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    list = installedDrivers();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back().id, "test");
    for (size_t i = 0; i + 1 < list.size(); ++i)
        EXPECT_EQ(list[i].id.rfind("/dev/video", 0), 0u);
}

TEST_F(DriversVariable, VirtualCameraStreamsFreshFramesAndControls)
{
    const std::string path = virtualCamera();
    if (path.empty())
        GTEST_SKIP() << "no kernel virtual camera (vivid, v4l2loopback) on this machine";
    std::unique_ptr<FrameSource> source;
    ASSERT_TRUE(openSource({path, "", ""}, source));
    const auto formats = source->formats();
    ASSERT_FALSE(formats.empty());
    ASSERT_FALSE(formats[0].sizes.empty());
    const FrameSize& size = formats[0].sizes[0];
    StreamFormat want{formats[0].format, size.width, size.height, size.rates.empty() ? FrameRate{} : size.rates[0]};
    ASSERT_TRUE(source->setFormat(want));
    ASSERT_TRUE(source->start());
    EXPECT_EQ(source->state(), SourceState::Streaming);
    FrameConverter converter;
    Frame f, bgra;
    for (uint64_t i = 0, last = 0; i < 3; ++i, last = f.sequence) {
        const auto before = std::chrono::steady_clock::now();
        Status st = source->grabFresh(f, 3s);
        ASSERT_TRUE(st) << st.message;
        EXPECT_GT(f.captured, before);
        EXPECT_GT(f.sequence, last);
        EXPECT_EQ(f.width, want.width);
        EXPECT_TRUE(converter.convert(f, PixelFormat::BGRA, bgra));
    }
    EXPECT_TRUE(source->latestFrame(f, 0));
    for (const Control& c : source->controls())
        if (c.type == ControlType::Integer && !c.inactive && c.maximum > c.minimum) {
            EXPECT_TRUE(source->setControl(c.id, c.minimum)) << c.name;
            for (const Control& after : source->controls())
                EXPECT_TRUE(after.id != c.id || after.value == c.minimum) << c.name;
            source->setControl(c.id, c.value);
            break;
        }
    source->stop();
    EXPECT_EQ(source->state(), SourceState::Stopped);
    // A second opener cannot take the stream of a busy camera, and says so.
    ASSERT_TRUE(source->start());
    std::unique_ptr<FrameSource> second;
    Status st = openSource({path, "", ""}, second);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("in use"), std::string::npos) << st.message;
}
