// The media window behind MCIWndCreateA, as the platform's tests and tools reach it by handle.
// The program itself only creates it, titles it and closes it with WM_CLOSE.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kelvra::mciwnd {

class MediaControl {
public:
    virtual ~MediaControl() = default;

    virtual bool isOpen() const = 0;              // false: the file could not be read
    virtual std::string errorText() const = 0;    // what the window says about an unreadable file
    virtual std::string fileName() const = 0;

    virtual bool isPlaying() const = 0;
    virtual int64_t position() const = 0;         // index of the current frame, from 0
    virtual int64_t length() const = 0;           // number of frames
    virtual double framesPerSecond() const = 0;   // the file's own rate

    virtual void play() = 0;                      // from the start again when at the end
    virtual void stop() = 0;
    virtual void seek(int64_t frame) = 0;         // clamped into the file; stops playback
    virtual void step(int64_t frames) = 0;        // relative seek
    virtual void setRepeat(bool repeat) = 0;

    // The finished film (Export Film... in the window's menu, Ctrl+E): opens the export dialog;
    // an accepted dialog starts the export on its own thread with a progress window.
    virtual void exportFilm() = 0;
    virtual bool exportRunning() const = 0;
    // The progress window's closing words about the last export; empty while it runs or before.
    virtual std::string exportOutcome() const = 0;
    // Runs the event loop until the export started here ends; false on timeout. Tools and tests only.
    virtual bool waitForExport(int timeoutMs) = 0;

    // Index of the picture on screen; -1 before the first one is decoded.
    virtual int64_t shownFrame() const = 0;
    // Runs the event loop until the picture on screen is the current frame's, or the
    // decoder has nothing more to give; false on timeout. Tools and tests only.
    virtual bool waitForPicture(int timeoutMs) = 0;
};

// nullptr when `hwnd` is not an open media window.
MediaControl* mediaControl(HWND hwnd);

}  // namespace kelvra::mciwnd
