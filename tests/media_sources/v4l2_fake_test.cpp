// The V4L2 source's streaming, freshness, loss and reopening against the simulated camera.
#include "fake_v4l2.h"

#include <kelvra/media/source.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

class FakeCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakecam::reset();
        setenv("KELVRA_CAPTURE_DRIVERS", (std::string(fakecam::kPath) + ",test").c_str(), 1);
    }
    void TearDown() override { unsetenv("KELVRA_CAPTURE_DRIVERS"); }

    std::unique_ptr<FrameSource> open()
    {
        std::unique_ptr<FrameSource> source;
        Status st = openSource({fakecam::kPath, "", ""}, source);
        EXPECT_TRUE(st) << st.message;
        return source;
    }
};

bool waitForState(FrameSource& source, SourceState want)
{
    for (int i = 0; i < 300 && source.state() != want; ++i)
        std::this_thread::sleep_for(10ms);
    return source.state() == want;
}

}  // namespace

TEST_F(FakeCamera, ListedDescribedAndControlled)
{
    const auto drivers = installedDrivers();
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].id, fakecam::kPath);
    EXPECT_EQ(drivers[0].name, "Fake Camera");
    EXPECT_EQ(drivers[0].version, "fakecam 6.1.4");
    EXPECT_EQ(drivers[1].id, "test");

    auto source = open();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name(), "Fake Camera");
    const auto formats = source->formats();
    ASSERT_EQ(formats.size(), 1u);  // H.264 is not offered
    EXPECT_EQ(formats[0].format, PixelFormat::YUYV422);
    EXPECT_EQ(formats[0].name, "YUYV 4:2:2");
    ASSERT_EQ(formats[0].sizes.size(), 1u);
    ASSERT_EQ(formats[0].sizes[0].rates.size(), 2u);
    EXPECT_EQ(formats[0].sizes[0].rates[0].numerator, 100u);
    EXPECT_EQ(source->format().width, fakecam::kWidth);
    EXPECT_EQ(source->format().rate.numerator, 100u);
    EXPECT_FALSE(source->setFormat({PixelFormat::MJPEG, 320, 240, {30, 1}}));

    const auto controls = source->controls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[0].minimum, -64);
    EXPECT_FALSE(controls[0].inactive);
    EXPECT_EQ(controls[1].value, 156);
    EXPECT_TRUE(controls[1].inactive);
    ASSERT_TRUE(source->setControl(controls[0].id, 20));
    EXPECT_EQ(fakecam::knobs.brightness.load(), 20);
    EXPECT_EQ(source->controls()[0].value, 20);
    Status st = source->setControl(controls[0].id, 99);
    EXPECT_EQ(st.code, -ERANGE);
    EXPECT_FALSE(st.message.empty());
}

TEST_F(FakeCamera, GrabsOnlyFramesTakenAfterTheRequest)
{
    auto source = open();
    ASSERT_TRUE(source);
    fakecam::knobs.lagUs = 25000;  // frames reach us 25 ms after they were taken
    uint64_t last = 0;
    for (int i = 0; i < 8; ++i) {  // a stopped source starts for the first grab
        const auto requested = std::chrono::steady_clock::now();
        Frame f;
        Status st = source->grabFresh(f, 2s);
        ASSERT_TRUE(st) << st.message;
        EXPECT_GT(f.captured, requested);
        EXPECT_GT(f.sequence, last);
        last = f.sequence;
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
    Frame f;
    EXPECT_TRUE(source->grabFresh(f, 2s));
}

TEST_F(FakeCamera, LostWhenUnpluggedAndReopenedWhenBack)
{
    auto source = open();
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->start());
    Frame f;
    ASSERT_TRUE(source->grabFresh(f, 2s));
    const int opens = fakecam::knobs.opens;
    fakecam::knobs.unplugged = true;
    ASSERT_TRUE(waitForState(*source, SourceState::Lost));
    EXPECT_EQ(source->grabFresh(f, 100ms).code, kDeviceLost);
    EXPECT_FALSE(source->latestFrame(f, 0));
    EXPECT_TRUE(source->controls().empty());
    EXPECT_EQ(source->setControl(0x00980900, 1).code, kDeviceLost);
    fakecam::knobs.unplugged = false;
    ASSERT_TRUE(waitForState(*source, SourceState::Streaming));
    EXPECT_GT(fakecam::knobs.opens.load(), opens);
    const auto requested = std::chrono::steady_clock::now();
    Status st = source->grabFresh(f, 2s);
    ASSERT_TRUE(st) << st.message;
    EXPECT_GT(f.captured, requested);
}

TEST_F(FakeCamera, BusyOrMissingCameraFailsToOpenWithAMessage)
{
    fakecam::knobs.busy = true;
    std::unique_ptr<FrameSource> source;
    Status st = openSource({fakecam::kPath, "", ""}, source);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find("in use"), std::string::npos) << st.message;
    fakecam::knobs.busy = false;
    fakecam::knobs.unplugged = true;
    st = openSource({fakecam::kPath, "", ""}, source);
    EXPECT_FALSE(st);
    EXPECT_NE(st.message.find(fakecam::kPath), std::string::npos) << st.message;
    EXPECT_FALSE(source);
}
