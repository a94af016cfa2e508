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
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace avicap_test {

namespace at = kelvra::avicap::testing;
namespace pt = kelvra::platform::testing;
namespace media = kelvra::media;

// A plain top-level window with a handle, standing in for the program's main window.
class ParentWindow : public QWidget, public kelvra::platform::Window {
public:
    ParentWindow() { resize(640, 480); }
    QWidget* widget() const override { return const_cast<ParentWindow*>(this); }
};

inline LRESULT send(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendMessageA(hwnd, msg, wParam, lParam);
}

template <typename T>
LPARAM lp(T* pointer)
{
    return reinterpret_cast<LPARAM>(pointer);
}

inline CAPTUREPARMS getParms(HWND cap)
{
    CAPTUREPARMS p;
    std::memset(&p, 0, sizeof p);
    EXPECT_TRUE(send(cap, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, lp(&p)));
    return p;
}

inline bool setFrameTime(HWND cap, DWORD microSecPerFrame)
{
    CAPTUREPARMS p = getParms(cap);
    p.dwRequestMicroSecPerFrame = microSecPerFrame;
    return send(cap, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, lp(&p)) != 0;
}

inline bool setCaptureFile(HWND cap, const std::string& path)
{
    return send(cap, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, lp(path.c_str())) != 0;
}

inline std::string getCaptureFile(HWND cap)
{
    char buffer[MAX_PATH] = {};
    EXPECT_TRUE(send(cap, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof buffer, lp(buffer)));
    return buffer;
}

// What FFmpeg's demuxer finds in a file. A file it cannot read to its end fails the test.
struct ReadBack {
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

// Every test: the test driver only, a fresh home folder (so the default capture file lands in a
// private videos folder), the virtual clock, scripted modals and the message log.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The capture window as the program makes it: a 200x168 child at (22, 30).
    HWND createCaptureWindow()
    {
        return cap_ = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 22, 30, 200, 168,
                                              parent_->handle(), 0);
    }
    bool connect(WPARAM index = 0) { return send(cap_, WM_CAP_DRIVER_CONNECT, index) != 0; }
    std::string path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }
    // SINGLE_FRAME `count` times; returns how many answered TRUE.
    int grab(int count)
    {
        int ok = 0;
        for (int i = 0; i < count; ++i)
            ok += send(cap_, WM_CAP_SINGLE_FRAME) ? 1 : 0;
        return ok;
    }
    // A whole recording of `frames` single frames into path(name), read back once closed.
    ReadBack record(const std::string& name, int frames);

    QTemporaryDir dir_;
    std::unique_ptr<ParentWindow> parent_;
    HWND cap_ = nullptr;
};

}  // namespace avicap_test
