// The capture window's animation side: its context menu and Live View, the onion skin, Play Last
// Frames and Remove Last Frame. Nothing here changes what the program's messages do.
#include "capture_window.h"

#include "live_view.h"
#include "run_watch.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>

namespace kelvra::avicap {

namespace {

constexpr UINT_PTR kReplayTimerId = 0x4B52;  // the capture window's own timer, apart from the program's
constexpr uint64_t kNoteMs = 10000;          // how long a piece of news stays in the status line

void CALLBACK replayTick(HWND hwnd, UINT, UINT_PTR, DWORD)
{
    if (auto* window = dynamic_cast<CaptureWindow*>(platform::windowFromHandle(hwnd)))
        window->replayStep();
}

std::string fileName(const std::string& path)
{
    return QFileInfo(QString::fromLocal8Bit(path.c_str())).fileName().toLocal8Bit().toStdString();
}

}  // namespace

CaptureMenu& CaptureWindow::menu()
{
    if (!menu_)
        menu_ = std::make_unique<CaptureMenu>(*this);
    return *menu_;
}

void CaptureWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        openLiveView();
}

void CaptureWindow::contextMenuEvent(QContextMenuEvent* event)
{
    menu().popup(event->globalPos());
}

QWidget* CaptureWindow::liveView() const
{
    return liveView_.data();
}

void CaptureWindow::openLiveView()
{
    if (!liveView_) {
        // Owned by the main window: above it, closed with it, and never modal.
        liveView_ = new LiveView(*this, window());
        liveView_->show();
        preview_->setLargeBox(static_cast<LiveView*>(liveView_.data())->pictureBox());
    }
    liveView_->raise();
    liveView_->activateWindow();
}

void CaptureWindow::liveViewResized(QSize box)
{
    preview_->setLargeBox(box);
}

void CaptureWindow::liveViewClosing()
{
    preview_->setLargeBox(QSize());
    livePicture_ = QImage();
}

void CaptureWindow::journalNote(const std::string& event)
{
    if (watch_)
        watch_->note(event);
}

void CaptureWindow::grabFromLiveView()
{
    // Exactly what the main window's GRAB SINGLE FRAME button does: its command goes to the main
    // window, whose own procedure counts the frame and sets its status.
    HWND main = platform::handleFromWidget(parentWidget());
    if (!main) {
        note("No frame taken: this capture window has no main window to take it.");
        return;
    }
    HWND button = GetDlgItem(main, kGrabSingleFrameCommand);
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(kGrabSingleFrameCommand, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void CaptureWindow::refreshViews()
{
    update();
    if (liveView_)
        liveView_->update();
}

void CaptureWindow::note(const std::string& text)
{
    note_ = text;
    noteUntilMs_ = stepClockMs() + kNoteMs;
    refreshViews();
    QPointer<CaptureWindow> self(this);
    QTimer::singleShot(int(kNoteMs), this, [self] {
        if (self)
            self->refreshViews();
    });
}

std::optional<std::string> CaptureWindow::currentNote() const
{
    if (note_.empty() || stepClockMs() >= noteUntilMs_)
        return std::nullopt;
    return note_;
}

// ---- Onion skin -----------------------------------------------------------------------------

void CaptureWindow::setOnion(const OnionSettings& settings)
{
    onion_ = settings;
    onion_.frames = std::clamp(onion_.frames, 0, kMaxOnionFrames);
    refreshViews();
}

void CaptureWindow::fileFramesChanged(uint64_t firstChanged)
{
    if (fileFrames_ && file_)
        fileFrames_->changed(file_->frames(), firstChanged);
    refreshViews();
}

std::vector<FileFrames::Picture> CaptureWindow::onionPictures()
{
    if (!fileFrames_ || onion_.frames <= 0)
        return {};
    return fileFrames_->last(onion_.difference ? 1 : onion_.frames);
}

std::vector<uint64_t> CaptureWindow::onionFrameNumbers()
{
    std::vector<uint64_t> numbers;
    for (const FileFrames::Picture& p : onionPictures())
        numbers.push_back(p.index);
    return numbers;
}

// ---- Play Last Frames -----------------------------------------------------------------------

void CaptureWindow::setPlayFrames(int frames)
{
    playFrames_ = std::clamp(frames, kMinReplayFrames, kMaxReplayFrames);
}

void CaptureWindow::playLastFrames()
{
    if (!file_) {
        note("Nothing to play: no capture file is open.");
        return;
    }
    if (file_->frames() == 0) {
        note("Nothing to play: " + fileName(file_->path()) + " holds no frames yet.");
        return;
    }
    stopPlaying();
    const QSize box = liveView_ ? static_cast<LiveView*>(liveView_.data())->pictureBox() : size();
    std::unique_ptr<Replay> replay;
    media::Status status = Replay::start(file_->path(), playFrames_, box, replay);
    if (!status) {
        note("The last frames cannot be played: " + status.message);
        return;
    }
    replay_ = std::move(replay);
    // The platform's timer: a frame step of the recording comes on time in between.
    SetTimer(handle(), kReplayTimerId, replay_->intervalMs(), replayTick);
    refreshViews();
}

void CaptureWindow::replayStep()
{
    if (!replay_ || !replay_->advance(loop_)) {
        stopPlaying();
        return;
    }
    refreshViews();
}

void CaptureWindow::stopPlaying()
{
    KillTimer(handle(), kReplayTimerId);
    if (!replay_)
        return;
    replay_.reset();
    refreshViews();
}

std::optional<int64_t> CaptureWindow::playingFrame() const
{
    if (!replay_)
        return std::nullopt;
    return replay_->position();
}

std::string CaptureWindow::playingText() const
{
    return "Playing frame " + groupedNumber(uint64_t(replay_->position() - replay_->first() + 1)) + " of " +
           groupedNumber(uint64_t(replay_->length())) + (loop_ ? ", looping" : "");
}

// ---- Remove Last Frame ----------------------------------------------------------------------

bool CaptureWindow::canRemove() const
{
    return file_ && file_->frames() > 0;
}

bool CaptureWindow::canPutBack() const
{
    return file_ && file_->canPutBack();
}

void CaptureWindow::removeLastFrame()
{
    if (!file_) {
        note("Nothing removed: no capture file is open.");
        return;
    }
    const uint64_t before = file_->frames();
    if (before == 0) {
        note("Nothing removed: " + fileName(file_->path()) + " holds no frames.");
        return;
    }
    stopPlaying();  // the replay may be showing the frame that goes
    media::Status status = file_->removeLastFrame();
    if (!status) {
        note("The last frame could not be removed: " + status.message);
        watch_->note("Removing the last frame failed: " + status.message);
        return;
    }
    watch_->note("Frame " + groupedNumber(before) + " removed by the user; " + groupedNumber(file_->frames()) +
                 (file_->frames() == 1 ? " frame" : " frames") + " in the file.");
    note("Frame " + groupedNumber(before) + " removed. Put Back Removed Frame brings it back.");
    fileFramesChanged(file_->frames());
}

void CaptureWindow::putBackRemovedFrame()
{
    if (!canPutBack()) {
        note("Nothing to put back: no frame was removed since the last one was taken.");
        return;
    }
    stopPlaying();
    media::Status status = file_->putBackRemovedFrame();
    if (!status) {
        note("The removed frame could not be put back: " + status.message);
        watch_->note("Putting back the removed frame failed: " + status.message);
        return;
    }
    watch_->note("Frame " + groupedNumber(file_->frames()) + " put back by the user; " +
                 groupedNumber(file_->frames()) + (file_->frames() == 1 ? " frame" : " frames") + " in the file.");
    note("Frame " + groupedNumber(file_->frames()) + " put back.");
    fileFramesChanged(file_->frames() - 1);
}

}  // namespace kelvra::avicap
