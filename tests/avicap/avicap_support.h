// Shared pieces of the capture window tests: a parent window, a fixture with a private home
// folder and the test driver, and an independent read-back of AVI files through libavformat.
#pragma once

#include <kelvra/avicap/testing.h>
#include <kelvra/media/test_source.h>
#include <kelvra/platform/testing.h>
#include <kelvra/platform/window.h>

#include <vfw.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace avicap_test {

// A plain top-level window with a handle, standing in for the program's main window.
class ParentWindow : public QWidget, public kelvra::platform::Window {
public:
    ParentWindow() { resize(640, 480); }
    QWidget* widget() const override { return const_cast<ParentWindow*>(this); }
};

LRESULT send(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
template <typename T>
LPARAM lp(T* pointer)
{
    return reinterpret_cast<LPARAM>(pointer);
}

CAPTUREPARMS getParms(HWND cap);
bool setFrameTime(HWND cap, DWORD microSecPerFrame);
bool setCaptureFile(HWND cap, const std::string& path);
std::string getCaptureFile(HWND cap);
std::vector<UINT> messageIds(HWND cap);

// Every test: the test driver only, a fresh home folder (so the default capture file lands in a
// private videos folder), the virtual clock, scripted modals and the message log.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The capture window as the program makes it: a 200x168 child at (22, 30).
    HWND createCaptureWindow();
    bool connect(WPARAM index = 0);
    std::string path(const std::string& name) const;
    // SINGLE_FRAME `count` times; returns how many answered TRUE.
    int grab(int count);

    QTemporaryDir dir_;
    std::unique_ptr<ParentWindow> parent_;
    HWND cap_ = nullptr;
};

// What FFmpeg's demuxer finds in a file.
struct ReadBack {
    bool opened = false;
    std::string error;
    int64_t headerFrames = -1;  // the stream's frame count from the headers
    int64_t packets = 0;        // frames actually read
    int timeBaseNum = 0, timeBaseDen = 0;
    int width = 0, height = 0;
    std::string codec;
    std::vector<uint64_t> stamps;  // the test source's capture number of each frame (0 = unreadable)
};
ReadBack readBack(const std::string& path, bool stamps = true);
// True when the file's rate is exactly 1,000,000 / microSecPerFrame frames per second.
bool rateIs(const ReadBack& file, uint32_t microSecPerFrame);
std::vector<uint64_t> oneTo(uint64_t n);

}  // namespace avicap_test
