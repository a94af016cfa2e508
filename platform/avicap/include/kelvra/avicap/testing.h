// Test hooks of the capture window: the messages it received, in order and with what their
// pointers carried, and a look inside (its source, its open file, the problems it reported).
// Production code never calls these.
#pragma once

#include <vfw.h>

#include <kelvra/media/source.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace kelvra::avicap::testing {

struct CapMessage {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    // WM_CAP_FILE_SET_CAPTURE_FILEA: the path passed; WM_CAP_FILE_GET_CAPTURE_FILEA and
    // WM_CAP_DRIVER_GET_NAMEA / _VERSIONA: the text handed back.
    std::optional<std::string> text;
    // WM_CAP_SET_SEQUENCE_SETUP: the record passed; WM_CAP_GET_SEQUENCE_SETUP: the record as
    // copied back (only the first wParam bytes come from the window).
    std::optional<CAPTUREPARMS> parms;
};

// From now on every capture window logs each message when it arrives (so a message sent from a
// modal loop inside another one comes after it), with its result once handled.
void recordMessages(bool on);
std::vector<CapMessage> messages(HWND capWindow);
void clearMessages(HWND capWindow);

// The connected driver's source, locked against the preview thread while `use` runs; false
// when no driver is connected.
bool withSource(HWND capWindow, const std::function<void(media::FrameSource&)>& use);
std::string connectedDriver(HWND capWindow);  // its id ("test", "/dev/video0"), or empty

// The open capture file.
bool fileOpen(HWND capWindow);
std::string openFilePath(HWND capWindow);
uint64_t openFileFrames(HWND capWindow);

// Problems the window reported itself: the last text, how many occurrences so far, and what
// its banner shows now (empty when nothing is wrong).
std::string lastError(HWND capWindow);
int reportedErrors(HWND capWindow);
std::string bannerText(HWND capWindow);
bool noticeVisible(HWND capWindow);
std::string noticeTitle(HWND capWindow);  // the notice's window title

// The status line over the preview ("" when it shows nothing), and the open file's journal.
std::string statusText(HWND capWindow);
std::string journalPath(HWND capWindow);

// Preview: pictures painted so far, and the interval the preview runs at.
uint64_t picturesShown(HWND capWindow);
int previewIntervalMs(HWND capWindow);

// How long WM_CAP_SINGLE_FRAME waits for a frame (tests of a stalled device shorten it).
void setGrabTimeout(HWND capWindow, std::chrono::milliseconds timeout);

// The free space every disk reports from now on (a file-size limit still applies); nullopt gives
// back the real disks'. The fixtures set one, so that no test depends on this machine's disk.
void setDiskRoom(std::optional<uint64_t> bytes);

// Capture hours judged on a wall clock that starts at `epochAtVirtualZero` and moves with the
// virtual clock (nullopt: the system's clock). Modes: 0 always, 1 between, 2 daylight.
void setWallClock(std::optional<int64_t> epochAtVirtualZero);
struct Hours {
    int mode = 0;
    int fromMinute = 0, toMinute = 0;
    double latitude = 0, longitude = 0;
};
Hours captureHours(HWND capWindow);
// Where the platform keeps each device's settings.
std::string deviceSettingsPath();

// Where the window writes when no capture file was set: capture.avi in the videos folder.
std::string defaultCaptureFile();

// The context menu, shared by the preview and the Live View, without a popup: every entry as
// "Submenu/Entry" (its text without the key hint), in order, enabled and checked as when it
// opens; and triggering one as a click would (false when there is none or it is disabled).
struct MenuEntry {
    std::string path;
    bool enabled = false, checkable = false, checked = false;
};
std::vector<MenuEntry> menuEntries(HWND capWindow);
bool triggerMenu(HWND capWindow, const std::string& path);

// The Live View (null when it is not open), and the Live View's kept size and place.
QWidget* liveView(HWND capWindow);
std::string liveViewPlaceFile();

// Onion skin: the numbers (0 = first) of the file's frames it shows now, newest first, and how
// many pictures it has decoded from the file so far. Play Last Frames: the number of the frame
// shown, or -1 when none is playing.
std::vector<uint64_t> onionFrames(HWND capWindow);
uint64_t onionDecodes(HWND capWindow);
int64_t playingFrame(HWND capWindow);

}  // namespace kelvra::avicap::testing
