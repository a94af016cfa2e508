// What the player's tests share: recordings made the way the capture window makes them (test
// source, compressor, our AVI writer), a window to own media windows, the test stamp read off
// the screen, and a fixture with the virtual clock, a scratch folder and that owner window.
#pragma once

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>
#include <kelvra/user/testing.h>
#include <kelvra/user/window.h>

#include <vfw.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace player_test {

namespace kt = kelvra::platform::testing;
namespace media = kelvra::media;

constexpr DWORD kPlayerStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN;

struct Recording {
    int frames = 20, fps = 10, width = 320, height = 240;
    media::Codec codec = media::Codec::MotionJpeg;
};

constexpr int kQuality = 90;
constexpr int kPictureWaitMs = 5000;
constexpr auto kGrabTimeout = std::chrono::seconds(5);

// Writes the recording; an empty result is success, otherwise the reason it failed.
inline std::string makeRecording(const std::string& path, const Recording& setup)
{
    media::TestSource source;
    media::StreamFormat format = source.format();
    format.width = setup.width;
    format.height = setup.height;
    std::unique_ptr<media::Encoder> encoder;
    std::unique_ptr<media::AviWriter> writer;
    media::AviWriterOptions options;
    options.syncToDisk = false;
    media::Status st;
    auto ok = [&st](media::Status result) { return bool(st = std::move(result)); };
    if (!ok(source.setFormat(format)) || !ok(source.start()) ||
        !ok(media::Encoder::create(setup.codec, setup.width, setup.height, kQuality, encoder)) ||
        !ok(media::AviWriter::open(path, encoder->format(), 1000000 / setup.fps, options, writer)))
        return st.message;
    std::vector<uint8_t> bytes;
    media::Frame frame;
    for (int i = 0; i < setup.frames; ++i) {
        bool keyframe = true;
        if (!ok(source.grabFresh(frame, kGrabTimeout)) || !ok(encoder->encode(frame, bytes, keyframe)) ||
            !ok(writer->append(bytes.data(), bytes.size(), keyframe)))
            return st.message;
    }
    source.stop();
    return ok(writer->close()) ? std::string() : st.message;
}

// Waits for the window's picture of its current frame, then reads the test source's capture
// number from its top-left corner; 0 when no intact stamp is there. Frame k shows k + 1.
inline uint64_t shownStamp(HWND mediaWindow, int width = 320, int height = 240)
{
    kelvra::mciwnd::MediaControl* control = kelvra::mciwnd::mediaControl(mediaWindow);
    QWidget* widget = kelvra::platform::widgetFromHandle(mediaWindow);
    if (!control || !widget || !control->waitForPicture(kPictureWaitMs))
        return 0;
    QImage shot = widget->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(0, 0, width, height);
    media::Frame frame;
    frame.width = shot.width();
    frame.height = shot.height();
    frame.format = media::PixelFormat::BGRA;
    for (int y = 0; y < shot.height(); ++y)
        frame.data.insert(frame.data.end(), shot.constScanLine(y), shot.constScanLine(y) + size_t(shot.width()) * 4);
    media::TestStamp stamp;
    return media::readTestStamp(frame, stamp) ? stamp.sequence : 0;
}

inline std::string titleOf(HWND hwnd)
{
    char text[MAX_PATH] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// Rendered and checked always; written to KELVRA_SHOTS_DIR only when that is set.
inline void saveShot(const QImage& image, const char* name)
{
    ASSERT_FALSE(image.isNull()) << name;
    if (const char* dir = std::getenv("KELVRA_SHOTS_DIR")) {
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(QDir(dir).filePath(name))) << name;
    }
}

// A top-level window with a handle, standing in for the player dialog.
class OwnerWindow : public QWidget, public kelvra::platform::Window {
public:
    OwnerWindow() { resize(400, 120); }
    QWidget* widget() const override { return const_cast<OwnerWindow*>(this); }
};

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        kt::useVirtualClock();
        owner_ = std::make_unique<OwnerWindow>();
        owner_->show();
    }
    void TearDown() override
    {
        owner_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kt::useRealClock();
    }
    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
    std::string recording(const char* name, const Recording& setup = {})
    {
        EXPECT_EQ(makeRecording(path(name), setup), "") << name;
        return path(name);
    }
    HWND open(const std::string& file)  // a media window owned by owner_
    {
        HWND hwnd = MCIWndCreateA(owner_->handle(), nullptr, kPlayerStyle, file.c_str());
        EXPECT_TRUE(IsWindow(hwnd)) << "the window is made even for " << file;
        return hwnd;
    }

    QTemporaryDir dir_;
    std::unique_ptr<OwnerWindow> owner_;
};

}  // namespace player_test
