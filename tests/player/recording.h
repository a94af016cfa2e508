// What the player's tests share: recordings made the way the capture window makes them (test
// source, compressor, our AVI writer), a window to own media windows, the test stamp read off
// the screen, and a fixture with the virtual clock, a scratch folder and that owner window.
#pragma once

#include <kelvra/media/encoder.h>
#include <kelvra/platform/testing.h>
#include <kelvra/platform/window.h>

#include <vfw.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>
#include <string>

namespace player_test {

namespace kt = kelvra::platform::testing;

constexpr DWORD kPlayerStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN;

struct Recording {
    int frames = 20;
    int fps = 10;
    int width = 320;
    int height = 240;
    kelvra::media::Codec codec = kelvra::media::Codec::MotionJpeg;
};

// Writes the recording; an empty result is success, otherwise the reason it failed.
std::string makeRecording(const std::string& path, const Recording& setup);

// Waits for the window's picture of its current frame, then reads the test source's capture
// number from its top-left corner; 0 when no intact stamp is there. Frame k shows k + 1.
uint64_t shownStamp(HWND mediaWindow, int width = 320, int height = 240);
std::string titleOf(HWND hwnd);
// Rendered and checked always; written to KELVRA_SHOTS_DIR only when that is set.
void saveShot(const QImage& image, const char* name);

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
