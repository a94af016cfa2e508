// V4L2: the mapping from kernel structures, the driver list, and the source's streaming,
// freshness, loss and reopening against the simulated camera.
#include "fake_v4l2.h"
#include "v4l2_source_map.h"

#include <kelvra/media/source.h>
#include <kelvra/media/test_source.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

class FakeCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakecam::reset();
        Status st = openSource({fakecam::kPath, "", "", "", ""}, source);
        ASSERT_TRUE(st) << st.message;
    }
    std::unique_ptr<FrameSource> source;
};

bool waitForState(FrameSource& source, SourceState want)
{
    for (int i = 0; i < 300 && source.state() != want; ++i)
        std::this_thread::sleep_for(10ms);
    return source.state() == want;
}

v4l2_query_ext_ctrl query(uint32_t id, uint32_t type, const char* name, int64_t min, int64_t max, uint32_t flags = 0)
{
    v4l2_query_ext_ctrl q{};
    q.id = id, q.type = type, q.flags = flags;
    std::strncpy(q.name, name, sizeof q.name - 1);
    q.minimum = q.default_value = min;
    q.maximum = max, q.step = 1;
    return q;
}

}  // namespace

TEST(V4l2Mapping, PixelFormatsSizeAndRateRanges)
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

// The variable replaces the machine's camera list: "test" is the built-in source, spaces and empty
// entries are ignored; unset, the machine's video devices come first.
TEST(DriversVariable, ReplacesTheDriverListOrAddsTheTestSource)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "", 1);
    EXPECT_TRUE(installedDrivers().empty());
    setenv("KELVRA_CAPTURE_DRIVERS", "test", 1);
    auto list = installedDrivers();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, "test");
    EXPECT_EQ(list[0].name, "Kelvra test pattern");
    std::unique_ptr<FrameSource> source;
    ASSERT_TRUE(openSource(list[0], source));
    EXPECT_NE(dynamic_cast<TestSource*>(source.get()), nullptr);
    // A node that is not a camera is refused with a message.
    EXPECT_FALSE(openSource({"/dev/null", "null", "", "", ""}, source));
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    list = installedDrivers();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back().id, "test");
    for (size_t i = 0; i + 1 < list.size(); ++i)
        EXPECT_EQ(list[i].id.rfind("/dev/video", 0), 0u);
}

TEST_F(FakeCamera, ListedDescribedAndControlled)
{
    setenv("KELVRA_CAPTURE_DRIVERS", (" " + std::string(fakecam::kPath) + " , test,").c_str(), 1);
    const auto drivers = installedDrivers();
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].id, fakecam::kPath);
    EXPECT_EQ(drivers[0].name, "Fake Camera");
    EXPECT_EQ(drivers[0].version, "fakecam 6.1.4");
    EXPECT_EQ(drivers[1].id, "test");
    EXPECT_EQ(source->name(), "Fake Camera");
    const auto formats = source->formats();
    ASSERT_EQ(formats.size(), 1u);  // H.264 is not offered
    EXPECT_EQ(formats[0].format, PixelFormat::YUYV422);
    EXPECT_EQ(formats[0].name, "YUYV 4:2:2");
    ASSERT_EQ(formats[0].sizes.size(), 1u);
    ASSERT_EQ(formats[0].sizes[0].rates.size(), 1u);
    EXPECT_EQ(formats[0].sizes[0].rates[0].numerator, 100u);
    EXPECT_EQ(source->format().width, fakecam::kWidth);
    EXPECT_EQ(source->format().rate.numerator, 100u);
    EXPECT_FALSE(source->setFormat({PixelFormat::MJPEG, 320, 240, {30, 1}}));

    const auto controls = source->controls();
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[0].minimum, -64);
    ASSERT_TRUE(source->setControl(controls[0].id, 20));
    EXPECT_EQ(source->controls()[0].value, 20);
    Status st = source->setControl(controls[0].id, 99);
    EXPECT_EQ(st.code, -ERANGE);
    EXPECT_FALSE(st.message.empty());
}

TEST_F(FakeCamera, GrabsOnlyFramesTakenAfterTheRequest)
{
    fakecam::knobs.lagUs = 25000;  // frames reach us 25 ms after they were taken
    Frame f;
    for (uint64_t i = 0, last = 0; i < 8; ++i, last = f.sequence) {  // a stopped source starts for the first grab
        const auto requested = std::chrono::steady_clock::now();
        Status st = source->grabFresh(f, 2s);
        ASSERT_TRUE(st) << st.message;
        EXPECT_GT(f.captured, requested);
        EXPECT_GT(f.sequence, last);
        EXPECT_EQ(f.format, PixelFormat::YUYV422);
        EXPECT_EQ(f.data.size(), frameBytes(PixelFormat::YUYV422, fakecam::kWidth, fakecam::kHeight));
    }
    EXPECT_EQ(source->state(), SourceState::Streaming);
    Frame preview;
    EXPECT_TRUE(source->latestFrame(preview, 0));
    EXPECT_FALSE(source->latestFrame(preview, preview.sequence));
    // Stopped and started again: the buffers are set up afresh.
    source->stop();
    EXPECT_EQ(source->state(), SourceState::Stopped);
    ASSERT_TRUE(source->start());
    EXPECT_TRUE(source->grabFresh(f, 2s));
}

// A second opener of a busy camera is told so. Unplugged while streaming, the camera is lost (and
// cannot be opened); plugged back, it is reopened and streams fresh frames again.
TEST_F(FakeCamera, BusyOrLostAndReopenedWhenBack)
{
    std::unique_ptr<FrameSource> second;
    fakecam::knobs.busy = true;  // another program streams
    Status st = openSource({fakecam::kPath, "", "", "", ""}, second);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("in use"), std::string::npos) << st.message;
    fakecam::knobs.busy = false;
    ASSERT_TRUE(source->start());
    Frame f;
    ASSERT_TRUE(source->grabFresh(f, 2s));
    const int opens = fakecam::knobs.opens;
    fakecam::knobs.unplugged = true;
    ASSERT_TRUE(waitForState(*source, SourceState::Lost));
    EXPECT_EQ(source->grabFresh(f, 100ms).code, kDeviceLost);
    EXPECT_FALSE(source->latestFrame(f, 0));
    EXPECT_TRUE(source->controls().empty());
    EXPECT_EQ(source->setControl(V4L2_CID_BRIGHTNESS, 1).code, kDeviceLost);
    st = openSource({fakecam::kPath, "", "", "", ""}, second);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find(fakecam::kPath), std::string::npos) << st.message;
    EXPECT_FALSE(second);
    fakecam::knobs.unplugged = false;
    ASSERT_TRUE(waitForState(*source, SourceState::Streaming));
    EXPECT_GT(fakecam::knobs.opens.load(), opens);
    const auto requested = std::chrono::steady_clock::now();
    st = source->grabFresh(f, 2s);
    ASSERT_TRUE(st) << st.message;
    EXPECT_GT(f.captured, requested);
}
