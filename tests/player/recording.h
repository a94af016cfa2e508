// Test recordings made the way the capture window makes them (test source, compressor, our AVI
// writer), a window to own media windows, and a reading of the test stamp on screen.
#pragma once

#include <kelvra/media/encoder.h>
#include <kelvra/platform/window.h>

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <string>

namespace player_test {

struct Recording {
    int frames = 20;
    int fps = 10;
    int width = 320;
    int height = 240;
    kelvra::media::Codec codec = kelvra::media::Codec::MotionJpeg;
};

// Writes the recording; an empty result is success, otherwise the reason it failed.
std::string makeRecording(const std::string& path, const Recording& setup);

// A top-level window with a handle, standing in for the player dialog.
class OwnerWindow : public QWidget, public kelvra::platform::Window {
public:
    OwnerWindow() { resize(400, 120); }
    QWidget* widget() const override { return const_cast<OwnerWindow*>(this); }
};

// The test source's capture number in the top-left `width` x `height` pixels of the picture;
// 0 when no intact stamp is there. Capture numbers count from 1, so frame k shows k + 1.
uint64_t stampIn(const QImage& picture, int width, int height);
uint64_t stampOnScreen(HWND mediaWindow, int width, int height);

}  // namespace player_test
