// The built-in test source: stamps, capture numbering, test controls, picture controls.
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

uint64_t msOf(std::chrono::steady_clock::time_point t)
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

StreamFormat streamFormat(PixelFormat format, int w, int h, uint32_t fps = 30)
{
    return {format, w, h, {fps, 1}};
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
        Frame frame;
        ASSERT_TRUE(source.grabFresh(frame, 100ms));
        std::unique_ptr<Encoder> encoder;
        ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, w, h, 10, encoder));
        Frame jpeg;
        jpeg.format = PixelFormat::MJPEG;
        bool key = false;
        ASSERT_TRUE(encoder->encode(frame, jpeg.data, key));
        Frame small;
        FrameConverter converter;
        ASSERT_TRUE(converter.convert(jpeg, PixelFormat::RGB24, small, 200, 150));
        TestStamp stamp;
        ASSERT_TRUE(readTestStamp(small, stamp));
        EXPECT_EQ(stamp.sequence, 1u);
        EXPECT_EQ(stamp.timeMs, msOf(frame.captured));
        EXPECT_FALSE(stamp.preview);
    }
}

TEST(TestSourceStamp, ReadableInEveryOfferedSizeAndFormat)
{
    TestSource source;
    uint64_t expected = 0;
    for (const FormatDescription& f : source.formats()) {
        for (const FrameSize& size : f.sizes) {
            ASSERT_TRUE(source.setFormat(streamFormat(f.format, size.width, size.height)));
            Frame frame;
            ASSERT_TRUE(source.grabFresh(frame, 100ms));
            EXPECT_EQ(frame.format, f.format);
            EXPECT_EQ(frame.width, size.width);
            EXPECT_EQ(frame.data.size(), frameBytes(f.format, size.width, size.height));
            uint64_t seq = 0, ms = 0;
            ASSERT_TRUE(readTestStamp(frame, seq, ms)) << size.width << "x" << size.height;
            EXPECT_EQ(seq, ++expected);
            EXPECT_EQ(frame.sequence, expected);
        }
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
    Frame tiny = blank;
    tiny.width = 8, tiny.height = 8;
    tiny.data.resize(64);
    EXPECT_FALSE(readTestStamp(tiny, seq, ms));
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
        uint64_t last = 0;
        while (!done) {
            if (source.latestFrame(f, last)) {
                TestStamp stamp;
                if (readTestStamp(f, stamp) && stamp.preview && stamp.sequence == f.sequence && f.sequence > last)
                    ++previews;
                last = f.sequence;
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    Frame first;
    ASSERT_TRUE(waitPreview(source, first, 0));
    for (uint64_t n = 1; n <= 60; ++n) {
        const auto before = std::chrono::steady_clock::now();
        Frame frame;
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
    Frame f;
    EXPECT_FALSE(source.latestFrame(f, 0));
    // Numbers run on across stop/start and format changes.
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::YUYV422, 320, 240)));
    ASSERT_TRUE(source.grabFresh(f, 100ms));
    EXPECT_EQ(f.sequence, 61u);
}

TEST(TestSourceFaults, StallTimesOutAndResumes)
{
    TestSource source;
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
}

TEST(TestSourceFaults, StalledPreviewDeliversNothing)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 160, 120, 60)));
    ASSERT_TRUE(source.start());
    Frame f;
    ASSERT_TRUE(waitPreview(source, f, 0));
    source.setStalled(true);
    EXPECT_FALSE(source.latestFrame(f, 0));
    source.setStalled(false);
    EXPECT_TRUE(waitPreview(source, f, f.sequence));
}

TEST(TestSourceFaults, FailureConsumesNoNumber)
{
    TestSource source;
    Frame f;
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    source.setFailing(true);
    Status st = source.grabFresh(f, 10ms);
    EXPECT_EQ(st.code, -EIO);
    EXPECT_FALSE(st.message.empty());
    source.setFailing(false);
    ASSERT_TRUE(source.grabFresh(f, 10ms));
    uint64_t seq, ms;
    ASSERT_TRUE(readTestStamp(f, seq, ms));
    EXPECT_EQ(seq, 2u);
}

TEST(TestSourceFaults, UnplugReportsLostAndPlugResumes)
{
    TestSource source;
    ASSERT_TRUE(source.setFormat(streamFormat(PixelFormat::RGB24, 160, 120, 60)));
    ASSERT_TRUE(source.start());
    Frame f;
    ASSERT_TRUE(waitPreview(source, f, 0));
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
    EXPECT_EQ(f.sequence, 1u);
}

TEST(TestSourceFormat, RejectsWhatItCannotDeliver)
{
    TestSource source;
    EXPECT_EQ(source.name(), "Kelvra test pattern");
    EXPECT_FALSE(source.setFormat(streamFormat(PixelFormat::MJPEG, 640, 480)));
    EXPECT_FALSE(source.setFormat(streamFormat(PixelFormat::RGB24, 100, 100)));
    EXPECT_FALSE(source.setFormat(streamFormat(PixelFormat::RGB24, 4000, 1080)));
    EXPECT_FALSE(source.setFormat(streamFormat(PixelFormat::YUYV422, 641, 480)));
    EXPECT_FALSE(source.setFormat({PixelFormat::RGB24, 640, 480, {61, 1}}));
    EXPECT_FALSE(source.setFormat({PixelFormat::RGB24, 640, 480, {30, 0}}));
    const StreamFormat def = source.format();
    EXPECT_EQ(def.width, 640);
    EXPECT_EQ(def.height, 480);
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
    struct Case {
        uint32_t id;
        int64_t value;
    };
    for (Case c : {Case{kTestControlBrightness, 200}, {kTestControlContrast, 30}, {kTestControlSaturation, 0},
                   {kTestControlHue, 90}, {kTestControlMirror, 1}, {kTestControlPattern, kPatternCheckerboard},
                   {kTestControlPattern, kPatternGradient}}) {
        TestSource other;
        ASSERT_TRUE(other.setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
        ASSERT_TRUE(other.setControl(c.id, c.value));
        ASSERT_TRUE(other.grabFresh(changed, 10ms));
        EXPECT_GT(patternDifference(base, changed), 5.0) << c.id;
        uint64_t seq, ms;
        EXPECT_TRUE(readTestStamp(changed, seq, ms));  // the stamp is not affected
        for (const Control& ctl : other.controls()) {
            if (ctl.id == c.id) {
                EXPECT_EQ(ctl.value, c.value);
            }
        }
    }
    EXPECT_EQ(source.setControl(kTestControlBrightness, 256).code, -ERANGE);
    EXPECT_EQ(source.setControl(kTestControlHue, -181).code, -ERANGE);
    EXPECT_EQ(source.setControl(0x12345, 1).code, -EINVAL);
}

TEST(TestSourcePicture, DeterministicAndMoving)
{
    TestSource a, b;
    for (TestSource* s : {&a, &b})
        ASSERT_TRUE(s->setFormat(streamFormat(PixelFormat::RGB24, 320, 240)));
    Frame a1, b1, a2;
    ASSERT_TRUE(a.grabFresh(a1, 10ms));
    ASSERT_TRUE(b.grabFresh(b1, 10ms));
    ASSERT_TRUE(a.grabFresh(a2, 10ms));
    EXPECT_EQ(patternDifference(a1, b1), 0.0);
    EXPECT_GT(patternDifference(a1, a2), 0.0);
}
