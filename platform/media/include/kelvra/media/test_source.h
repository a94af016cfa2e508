// The built-in test source: a moving, deterministic picture that carries its own frame number and
// capture time as a block code in its top band, readable after MJPEG compression and scaling.
//
// Numbering: every frame handed out by grabFresh gets the next capture number, 1, 2, 3, ... over
// the lifetime of the source (stop/start and format changes do not reset it); a grab that fails
// consumes no number. Preview frames (latestFrame) have a counter of their own and are stamped
// as preview frames, so previewing never leaves a gap in the capture numbers.
//
// grabFresh renders the picture at the request, on the caller's thread: the frame is made after
// the request and no test waits for real time. The preview thread renders at the stream's rate.
#pragma once

#include <kelvra/media/source.h>

#include <cstdint>
#include <memory>

namespace kelvra::media {

constexpr const char* kTestDriverId = "test";
constexpr const char* kTestDriverName = "Kelvra test pattern";

// Control ids: the V4L2 numbers for the same kinds of control, so dialogs treat both alike.
constexpr uint32_t kTestControlBrightness = 0x00980900;
constexpr uint32_t kTestControlContrast = 0x00980901;
constexpr uint32_t kTestControlSaturation = 0x00980902;
constexpr uint32_t kTestControlHue = 0x00980903;
constexpr uint32_t kTestControlMirror = 0x00980914;   // Boolean: the pattern mirrored left-right
constexpr uint32_t kTestControlPattern = 0x009f0903;  // Menu: the background picture (test pattern)

enum TestPattern : int64_t { kPatternColorBars = 0, kPatternGradient = 1, kPatternCheckerboard = 2 };

class TestSource : public FrameSource {
public:
    TestSource();
    ~TestSource() override;

    std::string name() const override;
    std::vector<FormatDescription> formats() const override;
    StreamFormat format() const override;
    Status setFormat(const StreamFormat& format) override;
    Status start() override;
    void stop() override;
    SourceState state() const override;
    bool latestFrame(Frame& out, uint64_t afterSequence) override;
    Status grabFresh(Frame& out, std::chrono::milliseconds timeout) override;
    std::vector<Control> controls() override;
    Status setControl(uint32_t id, int64_t value) override;

    // Test controls.
    void setStalled(bool stalled);      // grabFresh waits out its timeout (kTimedOut); no preview frames
    void setFailing(bool failing);      // grabFresh fails with -EIO; no preview frames
    void setUnplugged(bool unplugged);  // Lost and kDeviceLost until plugged back; streaming resumes then
    void setFrozen(bool frozen);        // grabFresh hands out the last captured picture again
    uint64_t capturedCount() const;     // capture numbers handed out so far

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct TestStamp {
    uint64_t sequence = 0;
    uint64_t timeMs = 0;  // steady_clock milliseconds of the frame's capture time
    bool preview = false;
};

// Reads the stamp from a test-source picture in any format and size (down to about 200x150);
// false when there is no intact stamp.
bool readTestStamp(const Frame& frame, TestStamp& stamp);
bool readTestStamp(const Frame& frame, uint64_t& sequence, uint64_t& timeMs);

}  // namespace kelvra::media
