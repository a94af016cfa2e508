// The V4L2 source and the compressors against the simulated USB webcam, linked into this
// program: one profile per test suite (ctest starts each with its KELVRA_UVC_SIM_PROFILE).
#include "jpeg_check.h"

#include <kelvra/media/encoder.h>
#include <kelvra/media/source.h>

#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

using namespace kelvra::media;
using namespace std::chrono_literals;

namespace {

constexpr const char* kNode = "/dev/video0";

std::unique_ptr<FrameSource> openCamera(const char* node = kNode)
{
    std::unique_ptr<FrameSource> source;
    Status st = openSource({node, "", ""}, source);
    EXPECT_TRUE(st) << st.message;
    return source;
}

const Control* findControl(const std::vector<Control>& controls, uint32_t id)
{
    auto it = std::find_if(controls.begin(), controls.end(), [id](const Control& c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

std::string comment(const Frame& frame)
{
    const std::string data(frame.data.begin(), frame.data.end());
    const size_t at = data.find("kelvra-uvc-sim");
    return at == std::string::npos ? std::string() : data.substr(at, data.find('\0', at) - at);
}

bool waitForState(FrameSource& source, SourceState want)
{
    for (int i = 0; i < 1000 && source.state() != want; ++i)
        std::this_thread::sleep_for(10ms);
    return source.state() == want;
}

}  // namespace

// The driver list has the capture node and leaves out the metadata node beside it; the formats,
// sizes and rates are the camera's own.
TEST(Webcam, ListedWithItsFormats)
{
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    const auto drivers = installedDrivers();
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_EQ(drivers[0].id, kNode);
    EXPECT_EQ(drivers[0].name, "USB 1080p Webcam");
    EXPECT_EQ(drivers[0].version, "uvcvideo 6.1.0");
    auto source = openCamera();
    ASSERT_TRUE(source);
    const auto formats = source->formats();
    ASSERT_EQ(formats.size(), 2u);
    struct Want {
        PixelFormat format;
        int width, height;
        std::vector<uint32_t> fps;
    };
    const Want wants[] = {{PixelFormat::YUYV422, 640, 480, {30, 25, 20, 15, 10, 5}},
                          {PixelFormat::YUYV422, 1280, 720, {10, 5}},
                          {PixelFormat::MJPEG, 1920, 1080, {30, 25, 20, 15, 10, 5}},
                          {PixelFormat::MJPEG, 1280, 720, {30, 25, 20, 15, 10, 5}}};
    size_t n = 0;
    for (const FormatDescription& f : formats)
        for (const FrameSize& s : f.sizes) {
            ASSERT_LT(n, std::size(wants));
            const Want& w = wants[n++];
            EXPECT_EQ(f.format, w.format);
            EXPECT_EQ(s.width, w.width);
            EXPECT_EQ(s.height, w.height);
            std::vector<uint32_t> fps;
            for (const FrameRate& r : s.rates)
                fps.push_back(r.numerator / r.denominator);
            EXPECT_EQ(fps, w.fps) << s.width << "x" << s.height;
        }
    EXPECT_EQ(n, std::size(wants));
    EXPECT_EQ(formats[1].name, "Motion-JPEG");
}

// Controls as UVC reports them: kinds, ranges, the menu without its holes, manual values
// inactive while their automatic control is on and refused then; integers are clamped.
TEST(Webcam, ControlsByKindAndAutomaticModes)
{
    auto source = openCamera();
    ASSERT_TRUE(source);
    auto controls = source->controls();
    EXPECT_EQ(controls.size(), 16u);  // the two class headings are not offered
    struct Want {
        uint32_t id;
        ControlType type;
        int64_t minimum, maximum, step, defaultValue;
        bool inactive;
    };
    const Want wants[] = {
        {V4L2_CID_BRIGHTNESS, ControlType::Integer, 0, 255, 1, 128, false},
        {V4L2_CID_HUE, ControlType::Integer, -180, 180, 1, 0, false},
        {V4L2_CID_AUTO_WHITE_BALANCE, ControlType::Boolean, 0, 1, 1, 1, false},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, ControlType::Integer, 2000, 6500, 1, 4000, true},
        {V4L2_CID_POWER_LINE_FREQUENCY, ControlType::Menu, 0, 2, 1, 2, false},
        {V4L2_CID_EXPOSURE_AUTO, ControlType::Menu, 0, 3, 1, 3, false},
        {V4L2_CID_EXPOSURE_ABSOLUTE, ControlType::Integer, 3, 2047, 1, 250, true},
        {V4L2_CID_FOCUS_AUTO, ControlType::Boolean, 0, 1, 1, 1, false},
        {V4L2_CID_FOCUS_ABSOLUTE, ControlType::Integer, 0, 250, 5, 0, true},
    };
    for (const Want& w : wants) {
        const Control* c = findControl(controls, w.id);
        ASSERT_TRUE(c) << std::hex << w.id;
        SCOPED_TRACE(c->name);
        EXPECT_EQ(c->type, w.type);
        EXPECT_EQ(std::tie(c->minimum, c->maximum, c->step, c->defaultValue),
                  std::tie(w.minimum, w.maximum, w.step, w.defaultValue));
        EXPECT_EQ(c->inactive, w.inactive);
    }
    EXPECT_EQ(findControl(controls, V4L2_CID_EXPOSURE_ABSOLUTE)->automaticId, uint32_t(V4L2_CID_EXPOSURE_AUTO));
    EXPECT_EQ(findControl(controls, V4L2_CID_FOCUS_ABSOLUTE)->automaticId, uint32_t(V4L2_CID_FOCUS_AUTO));
    const Control* exposure = findControl(controls, V4L2_CID_EXPOSURE_AUTO);
    ASSERT_EQ(exposure->menu.size(), 2u);
    EXPECT_EQ(exposure->menu[0].value, V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(exposure->menu[1].value, V4L2_EXPOSURE_APERTURE_PRIORITY);
    EXPECT_EQ(findControl(controls, V4L2_CID_POWER_LINE_FREQUENCY)->menu[1].name, "50 Hz");

    EXPECT_EQ(source->setControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100).code, -EACCES);  // auto is on
    EXPECT_EQ(source->setControl(V4L2_CID_EXPOSURE_AUTO, 0).code, -EINVAL);         // a hole in the menu
    ASSERT_TRUE(source->setControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    ASSERT_TRUE(source->setControl(V4L2_CID_EXPOSURE_ABSOLUTE, 100));
    ASSERT_TRUE(source->setControl(V4L2_CID_AUTO_WHITE_BALANCE, 0));
    ASSERT_TRUE(source->setControl(V4L2_CID_BRIGHTNESS, 999));
    ASSERT_TRUE(source->setControl(V4L2_CID_FOCUS_AUTO, 0));
    ASSERT_TRUE(source->setControl(V4L2_CID_FOCUS_ABSOLUTE, 33));
    controls = source->controls();
    EXPECT_FALSE(findControl(controls, V4L2_CID_EXPOSURE_ABSOLUTE)->inactive);
    EXPECT_EQ(findControl(controls, V4L2_CID_EXPOSURE_ABSOLUTE)->value, 100);
    EXPECT_FALSE(findControl(controls, V4L2_CID_WHITE_BALANCE_TEMPERATURE)->inactive);
    EXPECT_EQ(findControl(controls, V4L2_CID_BRIGHTNESS)->value, 255);
    EXPECT_EQ(findControl(controls, V4L2_CID_FOCUS_ABSOLUTE)->value, 35);  // to the step of 5
    for (uint32_t id : {V4L2_CID_EXPOSURE_AUTO, V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_BRIGHTNESS,
                        V4L2_CID_FOCUS_AUTO})
        source->setControl(id, findControl(controls, id)->defaultValue);
}

// MJPEG pictures carry the camera's own JPEG; Motion JPEG at the same size keeps its bytes,
// another size is compressed afresh; a second program cannot take the streaming camera.
TEST(Webcam, MjpegPassesThroughTheCompressor)
{
    auto source = openCamera();
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->setFormat({PixelFormat::MJPEG, 1280, 720, {30, 1}}));
    ASSERT_TRUE(source->start());
    std::unique_ptr<FrameSource> second;
    EXPECT_EQ(openSource({kNode, "", ""}, second).code, -EBUSY);
    Frame frame;
    ASSERT_TRUE(source->grabFresh(frame, 2s));
    EXPECT_EQ(frame.format, PixelFormat::MJPEG);
    EXPECT_EQ(frame.width, 1280);
    EXPECT_EQ(frame.height, 720);
    EXPECT_NE(comment(frame).find("auto_exposure=3"), std::string::npos) << comment(frame);
    JpegCheck check;
    EXPECT_TRUE(check.check(frame.data.data(), frame.data.size(), 1280, 720));
    EXPECT_FALSE(check.check(frame.data.data(), frame.data.size(), 1920, 1080));

    std::unique_ptr<Encoder> same, other;
    ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 1280, 720, 50, same));
    ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 640, 360, 50, other));
    std::vector<uint8_t> packet;
    bool keyframe = false;
    ASSERT_TRUE(same->encode(frame, packet, keyframe));
    EXPECT_TRUE(keyframe);
    EXPECT_EQ(packet, frame.data);
    ASSERT_TRUE(other->encode(frame, packet, keyframe));
    EXPECT_NE(packet, frame.data);
    int w = 0, h = 0;
    ASSERT_TRUE(jpegSize(packet.data(), packet.size(), w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);
}

// Every seventh picture is broken in turn (empty, cut short, a piece lost): an empty buffer is
// never handed out, the others fail every compressor and the preview's conversion, and whole
// pictures pass unchanged.
TEST(Corrupt, DamagedPicturesNeverReachTheFile)
{
    auto source = openCamera();
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->setFormat({PixelFormat::MJPEG, 1280, 720, {30, 1}}));
    std::unique_ptr<Encoder> jpeg, raw;
    ASSERT_TRUE(Encoder::create(Codec::MotionJpeg, 1280, 720, 90, jpeg));
    ASSERT_TRUE(Encoder::create(Codec::Uncompressed, 1280, 720, 90, raw));
    int good = 0, refused = 0;
    FrameConverter converter;
    std::vector<uint8_t> packet;
    bool keyframe = false;
    for (int i = 0; i < 45; ++i) {
        Frame frame;
        ASSERT_TRUE(source->grabFresh(frame, 2s));
        ASSERT_FALSE(frame.data.empty());
        const Status st = jpeg->encode(frame, packet, keyframe);
        EXPECT_EQ(bool(st), bool(raw->encode(frame, packet, keyframe)));
        if (st) {
            ++good;
            ASSERT_TRUE(jpeg->encode(frame, packet, keyframe));
            EXPECT_EQ(packet, frame.data);
        } else {
            ++refused;
            EXPECT_NE(st.message.find("camera delivered"), std::string::npos) << st.message;
            Frame shown;  // nor is it previewed
            EXPECT_FALSE(converter.convert(frame, PixelFormat::BGRA, shown, 200, 112));
        }
    }
    EXPECT_GE(refused, 3);
    EXPECT_GE(good, 35);
}

// The camera fails a transfer, goes away and comes back as another node with its power-on
// settings: the source finds it there and puts the user's exposure lock back.
TEST(Unplug, ComesBackAsAnotherNodeWithTheLockedExposure)
{
    auto source = openCamera();
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->setControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    ASSERT_TRUE(source->setControl(V4L2_CID_EXPOSURE_ABSOLUTE, 120));
    ASSERT_TRUE(source->setFormat({PixelFormat::MJPEG, 1280, 720, {30, 1}}));
    ASSERT_TRUE(source->start());
    Frame frame;
    ASSERT_TRUE(source->grabFresh(frame, 2s));
    EXPECT_NE(comment(frame).find("auto_exposure=1 exposure=120"), std::string::npos) << comment(frame);
    ASSERT_TRUE(waitForState(*source, SourceState::Lost));
    EXPECT_EQ(source->grabFresh(frame, 100ms).code, kDeviceLost);
    ASSERT_TRUE(waitForState(*source, SourceState::Streaming));
    ASSERT_TRUE(source->grabFresh(frame, 2s));
    EXPECT_EQ(frame.width, 1280);
    EXPECT_NE(comment(frame).find("node=video2 auto_exposure=1 exposure=120"), std::string::npos) << comment(frame);
    const auto drivers = installedDrivers();
    ASSERT_FALSE(drivers.empty());
    EXPECT_EQ(drivers[0].id, "/dev/video2");
}

// In the dark, automatic exposure slows the camera to 2 fps; manual exposure keeps 30 fps.
TEST(Dark, AutomaticExposureSlowsTheCamera)
{
    auto source = openCamera();
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->start());
    auto period = [&] {
        Frame a, b;
        EXPECT_TRUE(source->grabFresh(a, 2s));
        EXPECT_TRUE(source->grabFresh(b, 2s));
        return std::chrono::duration_cast<std::chrono::milliseconds>(b.captured - a.captured).count();
    };
    EXPECT_GE(period(), 400);
    ASSERT_TRUE(source->setControl(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL));
    period();  // the frame exposed in the dark may still be under way
    EXPECT_LE(period(), 100);
}
