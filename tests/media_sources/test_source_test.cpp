// The built-in test source: stamps, capture numbering, test controls, picture controls.
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

StreamFormat streamFormat(PixelFormat format, int w, int h, uint32_t fps = 30)
{
    return {format, w, h, {fps, 1}};
}

uint64_t stampOf(const Frame& f)
{
    uint64_t seq = 0, ms = 0;
    return readTestStamp(f, seq, ms) ? seq : 0;
}

// Waits (bounded) for the preview thread's next frame after `after`.
bool waitPreview(FrameSource& source, Frame& out, uint64_t after)
{
    for (int i = 0; i < 400; ++i) {
        if (source.latestFrame(out, after))
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

// Mean absolute difference of the picture below the stamp band (RGB24 frames of one size).
double patternDifference(const Frame& a, const Frame& b)
{
    const size_t start = size_t(a.height) * 2 / 5 * a.width * 3 + size_t(a.width) * 3;
    double sum = 0;
    for (size_t i = start; i < a.data.size(); ++i)
        sum += std::abs(int(a.data[i]) - int(b.data[i]));
    return sum / double(a.data.size() - start);
}

}  // namespace

TEST(TestSourceStamp, SurvivesMjpegQuality10AndDownscale)
{
    for (auto [w, h] : {std::pair{640, 480}, {1920, 1080}, {320, 240}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TestSource source;
        ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::YUYV422, w, h)));
        Frame frame, jpeg, small;
        ASSERT_TRUE(source.grabFresh(frame, 100ms));
        std::unique_ptr<Encoder> encoder;
        ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, w, h, 10, encoder));
        jpeg.format = PixelFormat::MJPEG;
        bool key = false;
        ASSERT_TRUE(encoder->encode(frame, jpeg.data, key));
        ASSERT_TRUE(FrameConverter().convert(jpeg, PixelFormat::RGB24, small, 200, 150));
        TestStamp stamp;
        ASSERT_TRUE(readTestStamp(small, stamp));
        EXPECT_EQ(stamp.sequence, 1u);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(frame.captured.time_since_epoch());
        EXPECT_EQ(stamp.timeMs, uint64_t(ms.count()));
        EXPECT_FALSE(stamp.preview);
    }
}

TEST(TestSourceStamp, ReadableInEveryOfferedSizeAndFormat)
{
    TestSource source;
    uint64_t expected = 0;
    for (const FormatDescription& f : source.formats())
        for (const FrameSize& size : f.sizes) {
            SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
            ASSERT_TRUE(source.setFormat(streamFormat(f.format, size.width, size.height)));
            Frame frame;
            ASSERT_TRUE(source.grabFresh(frame, 100ms));
            EXPECT_EQ(frame.format, f.format);
            EXPECT_EQ(frame.width, size.width);
            EXPECT_EQ(frame.data.size(), frameBytes(f.format, size.width, size.height));
            EXPECT_EQ(stampOf(frame), ++expected);
            EXPECT_EQ(frame.sequence, expected);
        }
}

TEST(TestSourceStamp, RejectsPicturesWithoutStamp)
{
    Frame blank;
    blank.width = 320, blank.height = 240, blank.format = PixelFormat::GRAY8;
    blank.data.assign(320 * 240, 128);
    uint64_t seq, ms;
    EXPECT_FALSE(readTestStamp(blank, seq, ms));
    for (size_t i = 0; i < blank.data.size(); ++i)  // noise of full contrast
        blank.data[i] = uint8_t((i * 2654435761u) >> 13);
    EXPECT_FALSE(readTestStamp(blank, seq, ms));
    blank.width = 8, blank.height = 8;
    blank.data.resize(64);
    EXPECT_FALSE(readTestStamp(blank, seq, ms));
}

TEST(TestSourceNumbering, CaptureNumbersConsecutiveWhilePreviewRuns)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 160, 120, 60)));
    ASSERT_TRUE(source.start());
    EXPECT_EQ(source.state(), SourceState::Streaming);
    std::atomic<bool> done{false};
    std::atomic<int> previews{0};
    std::thread viewer([&] {
        Frame f;
        for (uint64_t last = 0; !done; std::this_thread::sleep_for(1ms)) {
            TestStamp stamp;
            if (source.latestFrame(f, last) && readTestStamp(f, stamp) && stamp.preview &&
                stamp.sequence == f.sequence && f.sequence > last)
                ++previews;
            last = std::max(last, f.sequence);
        }
    });
    Frame frame;
    ASSERT_TRUE(waitPreview(source, frame, 0));
    for (uint64_t n = 1; n <= 60; ++n) {
        const auto before = std::chrono::steady_clock::now();
        ASSERT_TRUE(source.grabFresh(frame, 100ms));
        TestStamp stamp;
        ASSERT_TRUE(readTestStamp(frame, stamp));
        EXPECT_EQ(stamp.sequence, n);
        EXPECT_FALSE(stamp.preview);
        EXPECT_GE(frame.captured, before);  // fresh: made after the request
        if (n % 20 == 0)
            std::this_thread::sleep_for(20ms);  // let preview frames come in between
    }
    done = true;
    viewer.join();
    EXPECT_GT(previews.load(), 0);
    EXPECT_EQ(source.capturedCount(), 60u);
    source.stop();
    EXPECT_EQ(source.state(), SourceState::Stopped);
    EXPECT_FALSE(source.latestFrame(frame, 0));
    // Numbers run on across stop/start and format changes.
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::YUYV422, 320, 240)));
    ASSERT_TRUE(source.grabFresh(frame, 100ms));
    EXPECT_EQ(frame.sequence, 61u);
}

// Stall, failure and unplugging one after another: each recovers, and none costs a capture number.
TEST(TestSourceFaults, StallFailureAndUnplugRecoverWithoutGaps)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 160, 120, 60)));
    source.setStalled(true);
    Frame f;
    Status st = source.grabFresh(f, 10ms);
    EXPECT_EQ(st.code, kTimedOut);
    EXPECT_FALSE(st.message.empty());
    EXPECT_EQ(source.capturedCount(), 0u);
    // A grab waiting on a stall gets its frame as soon as the stall ends.
    std::thread release([&] {
        std::this_thread::sleep_for(20ms);
        source.setStalled(false);
    });
    st = source.grabFresh(f, 10s);
    release.join();
    ASSERT_TRUE(st) << st.message;
    EXPECT_EQ(f.sequence, 1u);

    source.setFailing(true);
    st = source.grabFresh(f, 10ms);
    EXPECT_EQ(st.code, -EIO);
    EXPECT_FALSE(st.message.empty());
    source.setFailing(false);
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    EXPECT_EQ(stampOf(f), 2u);

    // A stalled preview delivers nothing, then resumes.
    ASSERT_TRUE(source.start());
    ASSERT_TRUE(waitPreview(source, f, 0));
    source.setStalled(true);
    EXPECT_FALSE(source.latestFrame(f, 0));
    source.setStalled(false);
    EXPECT_TRUE(waitPreview(source, f, f.sequence));

    source.setUnplugged(true);
    EXPECT_EQ(source.state(), SourceState::Lost);
    EXPECT_EQ(source.grabFresh(f, 10ms).code, kDeviceLost);
    EXPECT_FALSE(source.latestFrame(f, 0));
    source.stop();
    EXPECT_EQ(source.start().code, kDeviceLost);
    source.setUnplugged(false);
    EXPECT_EQ(source.state(), SourceState::Stopped);
    ASSERT_TRUE(source.start());
    EXPECT_EQ(source.state(), SourceState::Streaming);
    // Unplugged while streaming: streaming again once plugged back.
    source.setUnplugged(true);
    source.setUnplugged(false);
    EXPECT_EQ(source.state(), SourceState::Streaming);
    EXPECT_TRUE(waitPreview(source, f, 0));
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    EXPECT_EQ(f.sequence, 3u);
}

TEST(TestSourceFormat, RejectsWhatItCannotDeliver)
{
    TestSource source;
    for (const StreamFormat& bad :
         {streamFormat(PixelFormat::MJPEG, 640, 480), streamFormat(PixelFormat::RGB24, 100, 100),
          streamFormat(PixelFormat::RGB24, 4000, 1080), streamFormat(PixelFormat::YUYV422, 641, 480),
          streamFormat(PixelFormat::RGB24, 640, 480, 61), StreamFormat{PixelFormat::RGB24, 640, 480, {30, 0}}})
        EXPECT_FALSE(source.setFormat(bad)) << bad.width << "x" << bad.height << " " << bad.rate.numerator;
    EXPECT_EQ(source.format().width, 640);
    EXPECT_EQ(source.format().height, 480);
    ASSERT_TRUE(source.setFormat({PixelFormat::RGB24, 322, 242, {15, 2}}));  // any size, 7.5 fps
    Frame f;
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    EXPECT_EQ(f.width, 322);
    EXPECT_EQ(f.height, 242);
}

TEST(TestSourceControls, OfferedAndVisible)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
    const auto controls = source.controls();
    ASSERT_EQ(controls.size(), 6u);
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[4].type, ControlType::Boolean);
    EXPECT_EQ(controls[5].type, ControlType::Menu);
    EXPECT_EQ(controls[5].menu.size(), 3u);

    Frame base, changed;
    ASSERT_TRUE(source.grabFresh(base, 10ms));
    for (auto [id, value] : {std::pair{kTestControlBrightness, int64_t(200)}, {kTestControlContrast, 30},
                             {kTestControlSaturation, 0}, {kTestControlHue, 90}, {kTestControlMirror, 1},
                             {kTestControlPattern, kPatternCheckerboard}, {kTestControlPattern, kPatternGradient}}) {
        SCOPED_TRACE(id);
        TestSource other;
        ASSERT_TRUE(other.setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
        ASSERT_TRUE(other.setControl(id, value));
        ASSERT_TRUE(other.grabFresh(changed, 10ms));
        EXPECT_GT(patternDifference(base, changed), 5.0);
        EXPECT_EQ(stampOf(changed), 1u);  // the stamp is not affected
        const auto after = other.controls();
        auto it = std::find_if(after.begin(), after.end(), [&](const Control& c) { return c.id == id; });
        ASSERT_NE(it, after.end());
        EXPECT_EQ(it->value, value);
    }
    EXPECT_EQ(source.setControl(kTestControlBrightness, 256).code, -ERANGE);
    EXPECT_EQ(source.setControl(kTestControlHue, -181).code, -ERANGE);
    EXPECT_EQ(source.setControl(0x12345, 1).code, -EINVAL);
}

TEST(TestSourcePicture, DeterministicAndMoving)
{
    TestSource a, b;
    Frame a1, b1, a2;
    for (TestSource* s : {&a, &b})
        ASSERT_TRUE(s->setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
    ASSERT_TRUE(a.grabFresh(a1, 10ms));
    ASSERT_TRUE(b.grabFresh(b1, 10ms));
    ASSERT_TRUE(a.grabFresh(a2, 10ms));
    EXPECT_EQ(patternDifference(a1, b1), 0.0);
    EXPECT_GT(patternDifference(a1, a2), 0.0);
}
