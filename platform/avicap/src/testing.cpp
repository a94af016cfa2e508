#include <kelvra/avicap/testing.h>

#include "capture_window.h"
#include "capture_hours.h"
#include "device_settings.h"
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

void setCaptureHours(HWND capWindow, const Hours& h)
{
    if (CaptureWindow* w = captureWindow(capWindow))
        w->setCaptureHours({CaptureHours::Mode(h.mode), h.fromMinute, h.toMinute, h.latitude, h.longitude});
}

std::string deviceSettingsPath()
{
    return DeviceSettingsStore::path();
}

std::string defaultCaptureFile()
{
    return defaultCaptureFilePath();
}

}  // namespace testing
}  // namespace kelvra::avicap
