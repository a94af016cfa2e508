#include <kelvra/avicap/testing.h>

#include "capture_window.h"
#include "capture_hours.h"
#include "device_settings.h"
#include "live_view.h"
#include "window_place.h"
#include "recording_watch.h"

#include <QMessageBox>

namespace kelvra::avicap {

namespace {
bool recordAll = false;

CaptureWindow* captureWindow(HWND hwnd)
{
    return dynamic_cast<CaptureWindow*>(platform::windowFromHandle(hwnd));
}
}  // namespace

bool recordingMessages()
{
    return recordAll;
}

namespace testing {

void recordMessages(bool on)
{
    recordAll = on;
}

std::vector<CapMessage> messages(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->log : std::vector<CapMessage>();
}

void clearMessages(HWND capWindow)
{
    if (CaptureWindow* w = captureWindow(capWindow))
        w->log.clear();
}

bool withSource(HWND capWindow, const std::function<void(media::FrameSource&)>& use)
{
    CaptureWindow* w = captureWindow(capWindow);
    if (!w || !w->device())
        return false;
    w->device()->locked([&](media::FrameSource& source) {
        use(source);
        return 0;
    });
    return true;
}

std::string connectedDriver(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->device() ? w->device()->driver().id : std::string();
}

bool fileOpen(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->file();
}

std::string openFilePath(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->file() ? w->file()->path() : std::string();
}

uint64_t openFileFrames(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->file() ? w->file()->frames() : 0;
}

std::string lastError(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->problems().last() : std::string();
}

int reportedErrors(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->problems().occurrences() : 0;
}

std::string bannerText(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->problems().text() : std::string();
}

bool noticeVisible(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->noticeVisible();
}

std::string statusText(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->statusText() : std::string();
}

std::string journalPath(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->journalPath() : std::string();
}

std::string noticeTitle(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->noticeTitle() : std::string();
}

uint64_t picturesShown(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->picturesShown() : 0;
}

int previewIntervalMs(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->previewIntervalMs() : 0;
}

void setGrabTimeout(HWND capWindow, std::chrono::milliseconds timeout)
{
    if (CaptureWindow* w = captureWindow(capWindow))
        w->grabTimeoutOverride = timeout;
}

void setDiskRoom(std::optional<uint64_t> bytes)
{
    setDiskRoomOverride(bytes);
}

void setWallClock(std::optional<int64_t> epochAtVirtualZero)
{
    setWallClockBase(epochAtVirtualZero);
}

Hours captureHours(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    if (!w)
        return {};
    const CaptureHours& h = w->captureHours();
    return {int(h.mode), h.fromMinute, h.toMinute, h.latitude, h.longitude};
}

std::string deviceSettingsPath()
{
    return DeviceSettingsStore::path();
}

std::string defaultCaptureFile()
{
    return defaultCaptureFilePath();
}

std::vector<MenuEntry> menuEntries(HWND capWindow)
{
    std::vector<MenuEntry> out;
    if (CaptureWindow* w = captureWindow(capWindow))
        for (const CaptureMenu::Entry& e : w->menu().entries())
            out.push_back({e.path, e.enabled, e.checkable, e.checked});
    return out;
}

bool triggerMenu(HWND capWindow, const std::string& path)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->menu().trigger(path);
}

QWidget* liveView(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->liveView() : nullptr;
}

std::string liveViewPlaceFile()
{
    return windowPlacePath(kLiveViewPlaceName);
}

std::vector<uint64_t> onionFrames(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->onionFrameNumbers() : std::vector<uint64_t>();
}

uint64_t onionDecodes(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w ? w->onionDecodes() : 0;
}

int64_t playingFrame(HWND capWindow)
{
    CaptureWindow* w = captureWindow(capWindow);
    return w && w->playingFrame() ? *w->playingFrame() : -1;
}

}  // namespace testing
}  // namespace kelvra::avicap
