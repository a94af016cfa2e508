// The capture window (the "AVICap" class): a child widget that previews the connected driver and
// writes single-frame AVI files, driven by WM_CAP_* messages.
//
// How it answers where Windows leaves room:
// - No driver here has a hardware overlay: WM_CAP_SET_OVERLAY answers FALSE, the preview goes on.
// - Settings (file name, preview on/off and rate, sequence setup) are kept without a driver too;
//   device work (open, frame, dialogs, abort) answers FALSE without one.
// - SINGLE_FRAME_OPEN continues an existing recording of the same format and refuses (reports)
//   any other existing file; it never overwrites. A time per frame set while the file is open
//   takes effect for the whole file. 0 microseconds per frame is refused.
// - Files are Motion JPEG at quality 90 until the compression dialog chooses otherwise.
// - Problems the program does not ask about are shown in a banner over the picture and once per
//   occurrence in a non-modal notice; nothing here blocks a running time-lapse.
// - While a file is open a status line over the picture names it, counts its frames and tells how
//   long the room left lasts; NAME.avi.log beside it journals the recording's events. Both are
//   for the user who left it running (capture_window_status.cpp, recording_watch.h).
// - For animation it has a context menu (capture_menu.h), a Live View (live_view.h), an onion
//   skin of the file's last frames (onion_skin.h), Play Last Frames (replay.h) and Remove Last
//   Frame; capture_window_animation.cpp ties them to the window.
#pragma once

#include "capture_file.h"
#include "capture_menu.h"
#include "device.h"
#include "device_settings.h"
#include "onion_skin.h"
#include "preview_thread.h"
#include "problems.h"
#include "recording_watch.h"
#include "replay.h"

#include <kelvra/avicap/testing.h>
#include <kelvra/user/window.h>

#include <vfw.h>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFontMetrics;
class QMessageBox;
class QPainter;
class QTimer;

namespace kelvra::avicap {

std::string defaultCaptureFilePath();
// The title of the notice for a topic: the thing the user works with, not this window.
const char* noticeCaption(Topic topic);
// A row of the status line made to fit `width`: the first of its shorter forms that fits, made of
// whole words (only a file name may lose its middle, when nothing else is left).
QString fitStatusRow(const QFontMetrics& metrics, const QString& row, int width);

class CaptureWindow : public QWidget, public platform::Window {
    Q_OBJECT
public:
    CaptureWindow(QWidget* parent, int id);
    ~CaptureWindow() override;

    QWidget* widget() const override { return const_cast<CaptureWindow*>(this); }
    int controlId() const override { return id_; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // What tests look at (kelvra/avicap/testing.h).
    std::vector<testing::CapMessage> log;
    std::shared_ptr<Device> device() const { return device_; }
    const CaptureFile* file() const { return file_.get(); }
    const Problems& problems() const { return problems_; }
    uint64_t picturesShown() const { return picturesShown_; }
    bool noticeVisible() const;
    std::string noticeTitle() const;
    int previewIntervalMs() { return preview_->effectiveIntervalMs(); }
    // The status line over the preview, one line per row; empty when it shows nothing.
    std::string statusText() const;
    std::string journalPath() const { return watch_ ? watch_->journalPath() : std::string(); }
    // When frame steps record, kept with the device's settings (capture_window_steps.cpp).
    const CaptureHours& captureHours() const { return settings_.hours; }
    void setCaptureHours(const CaptureHours& hours);
    std::optional<std::chrono::milliseconds> grabTimeoutOverride;

    // Animation (capture_window_animation.cpp): what the menu, the Live View and its keys do.
    void openLiveView();
    QWidget* liveView() const;
    const OnionSettings& onion() const { return onion_; }
    void setOnion(const OnionSettings& settings);
    void playLastFrames();
    void stopPlaying();
    bool playing() const { return replay_ != nullptr; }
    int playFrames() const { return playFrames_; }
    void setPlayFrames(int frames);
    bool loop() const { return loop_; }
    void setLoop(bool on) { loop_ = on; }
    void removeLastFrame();
    void putBackRemovedFrame();
    bool canRemove() const;
    bool canPutBack() const;
    void grabFromLiveView();
    CaptureMenu& menu();
    // The file frames the onion skin shows now, newest first; the replayed frame's number.
    std::vector<uint64_t> onionFrameNumbers();
    std::optional<int64_t> playingFrame() const;
    uint64_t onionDecodes() const { return fileFrames_ ? fileFrames_->decodes() : 0; }

    // For the Live View.
    void paintView(QPainter& painter, const QRect& area, bool live);
    void liveViewResized(QSize box);
    void liveViewClosing();
    void journalNote(const std::string& event);
    void replayStep();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    LRESULT dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

    LRESULT driverConnect(WPARAM index);
    LRESULT driverDisconnect();
    LRESULT driverGetText(bool version, WPARAM size, LPARAM buffer);
    LRESULT setCaptureFile(LPARAM path);
    LRESULT getCaptureFile(WPARAM size, LPARAM buffer);
    LRESULT setPreview(bool on);
    LRESULT setPreviewRate(WPARAM ms);
    LRESULT setSequenceSetup(WPARAM size, LPARAM parms);
    LRESULT getSequenceSetup(WPARAM size, LPARAM parms);
    LRESULT singleFrameOpen();
    LRESULT singleFrame();
    LRESULT singleFrameClose();
    LRESULT videoSourceDialog();
    LRESULT videoFormatDialog();
    LRESULT compressionDialog();
    bool reportNoDriver(const char* caption);

    void raise(Topic topic, const std::string& text, const char* caption = nullptr);
    void clear(Topic topic);
    void showNotice(const std::string& text, const QString& caption);
    void pictureArrived();
    void devicePeriodChanged();
    void deviceStateChanged(const Device* device, media::SourceState state);
    // Refusal text when a new stream format cannot go into the open file; empty when it can.
    std::string formatRefusal(const media::StreamFormat& format) const;
    std::string openFailureText(const media::Status& status, const media::StreamFormat& format) const;

    // The watch over the open file (capture_window_status.cpp).
    void startWatch();
    void watchFramed(const media::Frame& frame);
    void watchStepFailed(const media::Status& status, const std::string& text);
    void finishWatch(const media::Status& closing, uint64_t frames);
    void paintStatusLine(QPainter& painter, const QRect& area, bool live);
    void paintBanner(QPainter& painter, const QRect& area, bool live);

    // Animation (capture_window_animation.cpp).
    void note(const std::string& text);  // a line of news in the status line for a while
    std::optional<std::string> currentNote() const;
    std::string playingText() const;
    void fileFramesChanged(uint64_t firstChanged);
    void refreshViews();
    std::vector<FileFrames::Picture> onionPictures();

    // Steps without a file, a chosen earlier recording, the device's kept settings and the
    // capture hours (capture_window_steps.cpp).
    void openFailed(const media::Status& status);
    bool retryOpen();
    void stepWithoutFile();
    void endStepsWithoutFile();
    Journal& idleJournal();
    void continueRecording();
    void loadDeviceSettings();
    void deviceSettingsChanged();
    bool outsideCaptureHours();

    int id_;
    CAPTUREPARMS parms_;
    std::string captureFile_;
    Compression compression_;
    bool previewOn_ = false;
    std::shared_ptr<Device> device_;
    std::unique_ptr<CaptureFile> file_;
    Problems problems_;
    QPointer<QMessageBox> notice_;
    Topic noticeTopic_ = Topic::Count;  // the problem the notice tells of
    QImage picture_;
    uint64_t picturesShown_ = 0;
    std::unique_ptr<PreviewThread> preview_;
    std::unique_ptr<RecordingWatch> watch_;
    QTimer* statusTimer_ = nullptr;
    uint64_t stepsWithoutFile_ = 0;  // frame steps since the last open that found no file to go into
    std::optional<media::Status> openFailure_;  // why the last open failed, while no file is open
    std::unique_ptr<Journal> idleJournal_;      // the capture file's journal while it is not open
    std::string continueNote_;                  // the chosen file is an earlier recording: what it holds
    DeviceSettings settings_;
    std::optional<int64_t> outsideHoursUntil_;  // steps fall outside the capture hours until then

    // Animation.
    QImage livePicture_;  // the Live View's picture, made for its size
    QSize cameraSize_;    // the live picture's own size
    OnionSettings onion_;
    std::unique_ptr<FileFrames> fileFrames_;
    OnionLayer previewOnion_, liveOnion_;
    std::unique_ptr<Replay> replay_;
    int playFrames_ = kDefaultReplayFrames;
    bool loop_ = false;
    std::string note_;
    uint64_t noteUntilMs_ = 0;
    std::unique_ptr<CaptureMenu> menu_;
    QPointer<QWidget> liveView_;
};

}  // namespace kelvra::avicap
