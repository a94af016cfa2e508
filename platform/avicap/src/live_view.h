// The Live View: the capture window's picture at up to the camera's full size in a window of its
// own, owned by the main window and never blocking it (a recording and its timer go on). It
// shows what the preview shows (the onion skin, the status line in full, the problems) and takes
// the animator's keys: Space or Enter grab a frame through the main window's own command,
// Backspace removes the last frame, P plays the last frames, 0-5 set the onion skin, Escape
// closes it. Its size and place are kept for the next run.
#pragma once

#include <QWidget>

namespace kelvra::avicap {

class CaptureWindow;

// GRAB SINGLE FRAME of the main window: the command its button sends (IDMAN of the program's
// resources), which the Live View's Space and Enter send too, so its counter and status follow.
constexpr int kGrabSingleFrameCommand = 5;
constexpr const char* kLiveViewCaption = "Live View";
constexpr const char* kLiveViewPlaceName = "live-view";

class LiveView : public QWidget {
    Q_OBJECT
public:
    // `owner`: the main window (the capture window's top-level parent).
    LiveView(CaptureWindow& capture, QWidget* owner);
    ~LiveView() override;

    // The area of the window the picture may take.
    QSize pictureBox() const { return size(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeAtFirstShow();
    void keepPlace();

    CaptureWindow& capture_;
};

}  // namespace kelvra::avicap
