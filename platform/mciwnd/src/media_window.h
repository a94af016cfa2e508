// The media window: a picture above a bar with Play/Stop, a menu button, a trackbar and the
// position. It plays an AVI at the file's own rate on a platform timer, so it follows the
// virtual clock in tests like every other timer.
#pragma once

#include "decode_ahead.h"

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/user/detached_handle.h>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QMenu;
class QSlider;
class QToolButton;

namespace kelvra::mciwnd {

class ExportProgressWindow;
class PictureView;

class MediaWindow : public QWidget, public MediaControl, public platform::DetachedHandle::Owner {
public:
    MediaWindow(QWidget* owner, DWORD style, const std::string& path);
    ~MediaWindow() override;

    HWND handle() const { return hwnd(); }
    static MediaWindow* fromHandle(HWND hwnd);

    bool isOpen() const override { return decoder_ != nullptr; }
    std::string errorText() const override { return error_; }
    std::string fileName() const override { return path_; }
    bool isPlaying() const override { return playing_; }
    int64_t position() const override;
    int64_t length() const override { return length_; }
    double framesPerSecond() const override { return fps_; }
    void play() override;
    void stop() override;
    void seek(int64_t frame) override;
    void step(int64_t frames) override;
    void setRepeat(bool repeat) override;
    void exportFilm() override;
    bool exportRunning() const override;
    std::string exportOutcome() const override;
    bool waitForExport(int timeoutMs) override;
    int64_t shownFrame() const override { return shown_; }
    bool waitForPicture(int timeoutMs) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static void CALLBACK timerProc(HWND hwnd, UINT msg, UINT_PTR id, DWORD time);
    void openFile();
    void buildBar(DWORD style);
    QMenu* buildMenu();
    void placeNear(QWidget* owner);
    void setZoom(double zoom);
    void tick();
    int64_t clockPosition() const;
    void showPosition(int64_t frame);
    void refreshPicture();
    void updateControls();
    void fail(const std::string& message);
    void copyPicture();
    void windowGone() override;

    std::unique_ptr<DecodeAhead> decoder_;
    std::string path_;
    std::string error_;
    int width_ = 0, height_ = 0;
    double fps_ = 0;
    int64_t length_ = 0;
    int64_t pos_ = 0;       // the current frame while stopped; the anchor's base while playing
    int64_t shown_ = -1;
    bool playing_ = false;
    bool repeat_ = false;
    uint64_t anchorMs_ = 0; // clock time at which playback left frame pos_
    media::Frame frame_;    // the picture on screen; image_ points into its pixels
    QImage image_;

    PictureView* view_ = nullptr;
    QWidget* bar_ = nullptr;
    QToolButton* playButton_ = nullptr;
    QToolButton* menuButton_ = nullptr;
    QSlider* trackbar_ = nullptr;
    QLabel* positionLabel_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* exportAction_ = nullptr;
    QPointer<ExportProgressWindow> export_;  // the export started here, running or ended
    bool syncingTrackbar_ = false;
};

}  // namespace kelvra::mciwnd
