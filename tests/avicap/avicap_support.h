// Shared pieces of the capture window tests: a parent window, a fixture with a private home
// folder and the test driver, and an independent read-back of AVI files through libavformat.
#pragma once

#include <kelvra/avicap/testing.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>
#include <kelvra/user/testing.h>
#include <kelvra/user/window.h>

#include <vfw.h>

#include <gtest/gtest.h>

#include <QDialog>
#include <QTemporaryDir>
#include <QWidget>

#include <cstring>
#include <functional>
#include <memory>
#include <numeric>

namespace avicap_test {

namespace at = kelvra::avicap::testing;
namespace pt = kelvra::platform::testing;
namespace media = kelvra::media;
using kelvra::platform::ModalInfo;

// A plain top-level window with a handle, standing in for the program's main window.
class ParentWindow : public QWidget, public kelvra::platform::Window {
public:
    ParentWindow() { resize(640, 480); }
    QWidget* widget() const override { return const_cast<ParentWindow*>(this); }
};

// Runs `during` with files limited to the size `file` has now, as a full disk would.
void withFullDisk(const std::string& file, const std::function<void()>& during);

inline LRESULT send(HWND hwnd, UINT msg, WPARAM w = 0, LPARAM l = 0) { return SendMessageA(hwnd, msg, w, l); }
template <typename T>
LPARAM lp(T* pointer) { return reinterpret_cast<LPARAM>(pointer); }

inline CAPTUREPARMS getParms(HWND cap)
{
    CAPTUREPARMS p{};
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

// The context menu's entry at `path` ("Submenu/Entry"); a missing one fails the test.
inline at::MenuEntry menuEntry(HWND cap, const std::string& path)
{
    for (const at::MenuEntry& e : at::menuEntries(cap))
        if (e.path == path)
            return e;
    ADD_FAILURE() << "no menu entry " << path;
    return {};
}

bool writeFile(const std::string& path, const QByteArray& bytes);
QByteArray contents(const std::string& path);
// The dialog's child of that name; a missing one fails the test.
template <typename T>
T* child(QDialog& dialog, const QString& name)
{
    T* w = dialog.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
}
// Picks `text` in the dialog's combo box named `combo`.
void select(QDialog& dialog, const char* combo, const QString& text);
QString codecName(media::Codec which);

// What FFmpeg's demuxer finds in a file. A file it cannot read to its end fails the test.
struct ReadBack {
    int64_t headerFrames = -1;  // the stream's frame count from the headers
    int64_t packets = 0;        // frames actually read
    int timeBaseNum = 0, timeBaseDen = 0, width = 0, height = 0;
    std::string codec;
    std::vector<uint64_t> stamps;  // the test source's capture number of each frame (0 = unreadable)

    // True when the rate is exactly 1,000,000 / microSecPerFrame frames per second, as fractions.
    bool rateIs(uint32_t microSecPerFrame) const
    {
        return timeBaseDen > 0 && int64_t(timeBaseNum) * 1000000 == int64_t(microSecPerFrame) * timeBaseDen;
    }
};
ReadBack readBack(const std::string& path, bool stamps = true);

inline std::vector<uint64_t> seq(uint64_t first, uint64_t last)  // first, first + 1, ..., last
{
    std::vector<uint64_t> v(last + 1 - first);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// The free space every disk reports in these tests: weeks of uncompressed frames at one a second,
// so that only a test's own full-disk stand-in brings the room warnings.
constexpr uint64_t kDiskRoomBytes = uint64_t(1) << 44;

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

// Connected to the test driver and previewing, as the program is while it records.
class CaptureFileTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        createCaptureWindow();
        ASSERT_TRUE(connect());
        send(cap_, WM_CAP_SET_PREVIEWRATE, 5);
        send(cap_, WM_CAP_SET_PREVIEW, 30);
        ticking_ = cap_;
    }
    // What REC does: the frame time into the settings, then open.
    bool open(const std::string& file, DWORD microSecPerFrame = 1000000 / 15)
    {
        return setCaptureFile(cap_, file) && setFrameTime(cap_, microSecPerFrame) &&
               send(cap_, WM_CAP_SINGLE_FRAME_OPEN) != 0;
    }
    bool close() { return send(cap_, WM_CAP_SINGLE_FRAME_CLOSE) != 0; }
    // REC with the program's frame step: one SINGLE_FRAME per tick of a one-second timer.
    void startRecording(const std::string& file)
    {
        ASSERT_TRUE(open(file));
        auto tick = [](HWND, UINT, UINT_PTR, DWORD) { send(ticking_, WM_CAP_SINGLE_FRAME); };
        ASSERT_NE(SetTimer(parent_->handle(), 1, 1000, tick), 0u);
    }
    // The camera misbehaving: unplugged, stalled, failing, another format.
    void onTestSource(const std::function<void(media::TestSource&)>& use)
    {
        ASSERT_TRUE(at::withSource(cap_, [&](media::FrameSource& s) {
            auto* test = dynamic_cast<media::TestSource*>(&s);
            ASSERT_NE(test, nullptr);
            use(*test);
        }));
    }
    static inline HWND ticking_ = nullptr;
};
using DeviceDialogTest = CaptureFileTest;

}  // namespace avicap_test
