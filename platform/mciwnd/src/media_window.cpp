#include "media_window.h"

#include "export_dialog.h"
#include "export_progress.h"

#include <kelvra/kernel/clock.h>
#include <kelvra/user/modal.h>

#include <vfw.h>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace kelvra::mciwnd {

namespace {

constexpr UINT_PTR kPlayTimerId = 1;
constexpr double kFallbackFps = 15.0;   // a file that states no usable rate plays at the capture default
constexpr double kMaxFps = 1000.0;
constexpr size_t kDecodeAheadBytes = size_t(48) << 20;  // pictures queued ahead, at most
constexpr size_t kMinDecodeAhead = 2;
constexpr size_t kMaxDecodeAhead = 8;
constexpr int kBytesPerPixel = 4;       // the reader hands over BGRA
constexpr int kEmptyPictureWidth = 320; // the picture area when there is no picture to size it
constexpr int kEmptyPictureHeight = 240;
constexpr int kMinBarWidth = 300;
constexpr double kMaxScreenShare = 0.75;  // a large film starts scaled down to fit the screen
constexpr int kOwnerGap = 8;            // pixels between the owner and a new media window
constexpr int kCascade = 24;            // each further media window of one owner moves this far

const char* const kNoDevice = "No Device";


Qt::WindowFlags windowFlagsFor(DWORD style)
{
    if (style & WS_CHILD)
        return Qt::Widget;
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if (style & WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
}

}  // namespace

// The picture, scaled to the area with its proportions kept, or a message in its place.
class PictureView : public QWidget {
public:
    explicit PictureView(QWidget* parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    void setImage(const QImage* image)
    {
        image_ = image;
        message_.clear();
        update();
    }
    void setMessage(const QString& message)
    {
        image_ = nullptr;
        message_ = message;
        update();
    }
    void setPreferredSize(QSize size)
    {
        preferred_ = size;
        updateGeometry();
    }
    QSize sizeHint() const override { return preferred_; }
    QSize minimumSizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (!message_.isEmpty() || !image_) {
            painter.fillRect(rect(), palette().window());
            painter.setPen(palette().windowText().color());
            painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, message_);
            return;
        }
        painter.fillRect(rect(), Qt::black);
        QSize fitted = image_->size().scaled(size(), Qt::KeepAspectRatio);
        QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, fitted != image_->size());
        painter.drawImage(target, *image_);
    }

private:
    const QImage* image_ = nullptr;
    QString message_;
    QSize preferred_{kEmptyPictureWidth, kEmptyPictureHeight};
};

MediaWindow::MediaWindow(QWidget* owner, DWORD style, const std::string& path)
    : QWidget(owner, windowFlagsFor(style)),
      Owner(this),
      path_(path)
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new PictureView(this);
    layout->addWidget(view_, 1);
    buildBar(style);
    layout->addWidget(bar_);
    setWindowTitle(QString::fromLocal8Bit(path_.c_str()));

    openFile();
    updateControls();
    setZoom(1.0);
    if (windowType() == Qt::Window)
        placeNear(owner);
    if (style & WS_VISIBLE)
        show();
    setFocus();
}

MediaWindow::~MediaWindow()
{
    windowGone();
}

MediaWindow* MediaWindow::fromHandle(HWND hwnd)
{
    platform::Window* window = platform::windowFromHandle(hwnd);
    return window ? dynamic_cast<MediaWindow*>(window->widget()) : nullptr;
}

void MediaWindow::windowGone()
{
    delete export_.data();  // an export still running is cancelled: nothing half-written stays
    stop();
    decoder_.reset();
}

void MediaWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    destroyWindow();
}

void MediaWindow::openFile()
{
    if (path_.empty()) {
        fail("No file was named.");
        return;
    }
    std::unique_ptr<media::VideoReader> reader;
    media::Status status = media::VideoReader::open(path_, reader);
    if (!status || !reader) {
        fail(status.message.empty() ? "The file cannot be read." : status.message);
        return;
    }
    width_ = reader->width();
    height_ = reader->height();
    fps_ = reader->framesPerSecond();
    if (!std::isfinite(fps_) || fps_ <= 0 || fps_ > kMaxFps)
        fps_ = kFallbackFps;
    length_ = reader->frameCount();
    if (length_ <= 0 && reader->durationSeconds() > 0)
        length_ = std::llround(reader->durationSeconds() * fps_);
    length_ = std::max<int64_t>(length_, 0);
    if (width_ <= 0 || height_ <= 0) {
        fail("The file holds no picture size.");
        return;
    }

    size_t frameBytes = size_t(width_) * size_t(height_) * kBytesPerPixel;
    size_t capacity = std::clamp(kDecodeAheadBytes / frameBytes, kMinDecodeAhead, kMaxDecodeAhead);
    decoder_ = std::make_unique<DecodeAhead>(std::move(reader), capacity, [this] {
        QMetaObject::invokeMethod(this, [this] { refreshPicture(); }, Qt::QueuedConnection);
    });
    if (length_ == 0)
        view_->setMessage(tr("This file holds no pictures yet."));
}

void MediaWindow::fail(const std::string& message)
{
    error_ = message;
    view_->setMessage(tr("This file cannot be played.") + "\n\n" + QString::fromStdString(message));
    setWindowTitle(kNoDevice);
}

void MediaWindow::buildBar(DWORD style)
{
    bar_ = new QWidget(this);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(2, 2, 4, 2);
    row->setSpacing(2);

    playButton_ = new QToolButton(bar_);
    playButton_->setFocusPolicy(Qt::NoFocus);
    connect(playButton_, &QToolButton::clicked, this, [this] { playing_ ? stop() : play(); });
    row->addWidget(playButton_);

    menuButton_ = new QToolButton(bar_);
    menuButton_->setFocusPolicy(Qt::NoFocus);
    menuButton_->setArrowType(Qt::DownArrow);
    menuButton_->setToolTip(tr("Menu"));
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    menu_ = buildMenu();
    if (!(style & MCIWNDF_NOOPEN)) {
        menu_->addSeparator();
        menu_->addAction(tr("Close"), this, [this] { destroyWindow(); });
    }
    menuButton_->setMenu(menu_);
    menuButton_->setVisible(!(style & MCIWNDF_NOMENU));
    row->addWidget(menuButton_);

    trackbar_ = new QSlider(Qt::Horizontal, bar_);
    trackbar_->setFocusPolicy(Qt::NoFocus);
    connect(trackbar_, &QSlider::valueChanged, this, [this](int value) {
        if (syncingTrackbar_)
            return;
        bool wasPlaying = playing_;
        seek(value);
        if (wasPlaying)
            play();
    });
    row->addWidget(trackbar_, 1);

    positionLabel_ = new QLabel(bar_);
    positionLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(positionLabel_);
    bar_->setVisible(!(style & MCIWNDF_NOPLAYBAR));
}

// The window's menu. It never offers Open: the program creates its media windows with
// MCIWNDF_NOOPEN, and a media window plays only the file it was made for.
QMenu* MediaWindow::buildMenu()
{
    auto* menu = new QMenu(this);
    menu->addAction(tr("Play / Stop\tSpace"), this, [this] { playing_ ? stop() : play(); });
    menu->addAction(tr("Step Forward\tRight"), this, [this] { step(1); });
    menu->addAction(tr("Step Back\tLeft"), this, [this] { step(-1); });
    menu->addAction(tr("Go to Start\tHome"), this, [this] { seek(0); });
    menu->addAction(tr("Go to End\tEnd"), this, [this] { seek(length_ - 1); });
    menu->addSeparator();
    menu->addAction(tr("Half Size"), this, [this] { setZoom(0.5); });
    menu->addAction(tr("Normal Size"), this, [this] { setZoom(1.0); });
    menu->addAction(tr("Double Size"), this, [this] { setZoom(2.0); });
    menu->addSeparator();
    QAction* repeat = menu->addAction(tr("Repeat"));
    repeat->setCheckable(true);
    connect(repeat, &QAction::toggled, this, [this](bool on) { setRepeat(on); });
    menu->addAction(tr("Copy Picture"), this, [this] { copyPicture(); });
    menu->addSeparator();
    exportAction_ = menu->addAction(tr("Export Film...\tCtrl+E"), this, [this] { exportFilm(); });
    return menu;
}

void MediaWindow::setZoom(double zoom)
{
    QSize picture = (width_ > 0 && height_ > 0) ? QSize(width_, height_) : QSize(kEmptyPictureWidth, kEmptyPictureHeight);
    picture *= zoom;
    if (QScreen* screen = this->screen()) {
        QSize limit = screen->availableSize() * kMaxScreenShare;
        if (picture.width() > limit.width() || picture.height() > limit.height())
            picture = picture.scaled(limit, Qt::KeepAspectRatio);
    }
    view_->setPreferredSize(picture);
    setMinimumWidth(std::min(kMinBarWidth, picture.width()));
    resize(std::max(picture.width(), kMinBarWidth), picture.height() + (bar_->isHidden() ? 0 : bar_->sizeHint().height()));
}

// Below the owner, moved on a step for each media window it already has, kept on the screen.
void MediaWindow::placeNear(QWidget* owner)
{
    QScreen* screen = owner ? owner->screen() : this->screen();
    QRect area = screen ? screen->availableGeometry() : QRect();
    QPoint at = area.topLeft();
    if (owner) {
        int others = 0;  // dynamic_cast: the class has no meta-object of its own for findChildren
        for (QObject* child : owner->children())
            others += child != this && dynamic_cast<MediaWindow*>(child) && !static_cast<QWidget*>(child)->isHidden();
        at = owner->frameGeometry().bottomLeft() + QPoint(0, kOwnerGap) + QPoint(kCascade, kCascade) * others;
    }
    if (!area.isEmpty()) {
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    }
    move(at);
}

int64_t MediaWindow::clockPosition() const
{
    double elapsed = double(platform::clock::nowMs() - anchorMs_);
    return pos_ + int64_t(std::floor(elapsed * fps_ / 1000.0 + 1e-9));
}

int64_t MediaWindow::position() const
{
    if (!playing_ || length_ <= 0)
        return pos_;
    int64_t frame = clockPosition();
    return repeat_ ? frame % length_ : std::min(frame, length_ - 1);
}

void MediaWindow::play()
{
    if (!decoder_ || length_ <= 0 || playing_ || !hwnd())
        return;
    if (pos_ >= length_ - 1)
        pos_ = 0;
    playing_ = true;
    anchorMs_ = platform::clock::nowMs();
    showPosition(pos_);
    SetTimer(hwnd(), kPlayTimerId, UINT(std::ceil(1000.0 / fps_)), timerProc);
    updateControls();
}

void MediaWindow::stop()
{
    if (!playing_)
        return;
    pos_ = position();
    playing_ = false;
    if (hwnd())
        KillTimer(hwnd(), kPlayTimerId);
    showPosition(pos_);
    updateControls();
}

void MediaWindow::seek(int64_t frame)
{
    if (!decoder_ || length_ <= 0)
        return;
    stop();
    pos_ = std::clamp<int64_t>(frame, 0, length_ - 1);
    showPosition(pos_);
    updateControls();
}

void MediaWindow::step(int64_t frames)
{
    seek(position() + frames);
}

void MediaWindow::setRepeat(bool repeat)
{
    if (playing_) {  // keep the picture where it is when the rule for the end changes
        pos_ = position();
        anchorMs_ = platform::clock::nowMs();
    }
    repeat_ = repeat;
}

void CALLBACK MediaWindow::timerProc(HWND hwnd, UINT, UINT_PTR, DWORD)
{
    if (MediaWindow* window = fromHandle(hwnd))
        window->tick();
}

// Each tick shows the frame the clock has reached and sets the timer for the next frame's due
// time, counted from where playback started, so late ticks never add up to drift.
void MediaWindow::tick()
{
    if (!playing_)
        return;
    int64_t frame = clockPosition();
    if (frame >= length_ && !repeat_) {
        pos_ = length_ - 1;
        playing_ = false;
        KillTimer(hwnd(), kPlayTimerId);
        showPosition(pos_);
        updateControls();
        return;
    }
    showPosition(position());
    double due = double(anchorMs_) + std::ceil(double(frame + 1 - pos_) * 1000.0 / fps_);
    double delay = std::max(due - double(platform::clock::nowMs()), double(USER_TIMER_MINIMUM));
    SetTimer(hwnd(), kPlayTimerId, UINT(delay), timerProc);
}

void MediaWindow::showPosition(int64_t frame)
{
    syncingTrackbar_ = true;
    trackbar_->setValue(int(frame));
    syncingTrackbar_ = false;
    positionLabel_->setText(length_ > 0 ? QString("%1 / %2").arg(frame + 1).arg(length_) : QString("0 / 0"));
    if (!decoder_)
        return;
    // The decoder only runs forward: going back, or far ahead of it, starts a new run there.
    int64_t lag = std::max<int64_t>(kMaxDecodeAhead, int64_t(fps_));
    if (frame < decoder_->runStart() || frame < shown_ || frame > decoder_->decodedUpTo() + lag)
        decoder_->restart(frame);
    refreshPicture();
}

void MediaWindow::refreshPicture()
{
    if (!decoder_)
        return;
    media::Frame frame;
    bool got = false;
    while (decoder_->take(position(), frame)) {
        bool complete = frame.format == media::PixelFormat::BGRA && frame.width > 0 && frame.height > 0 &&
                        frame.data.size() >= size_t(frame.width) * size_t(frame.height) * kBytesPerPixel;
        if (complete) {
            frame_ = std::move(frame);
            got = true;
        }
    }
    if (got) {
        image_ = QImage(frame_.data.data(), frame_.width, frame_.height, frame_.width * kBytesPerPixel,
                        QImage::Format_RGB32);
        shown_ = int64_t(frame_.sequence);
        view_->setImage(&image_);
        return;
    }
    if (!decoder_->atEnd())
        return;
    // A stream that ends before its header said: the frames decoded are all there is.
    int64_t end = decoder_->endOfStream();
    if (end > 0 && end < length_) {
        length_ = end;
        if (!playing_)
            pos_ = std::min(pos_, length_ - 1);
        updateControls();
    }
    if (shown_ < 0 && length_ > 0)
        view_->setMessage(tr("The pictures of this file cannot be decoded.") + "\n\n" +
                          QString::fromStdString(decoder_->lastError()));
}

void MediaWindow::updateControls()
{
    bool playable = decoder_ && length_ > 0;
    playButton_->setEnabled(playable);
    exportAction_->setEnabled(playable);
    trackbar_->setEnabled(playable);
    playButton_->setIcon(style()->standardIcon(playing_ ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
    playButton_->setToolTip(playing_ ? tr("Stop") : tr("Play"));
    syncingTrackbar_ = true;
    trackbar_->setRange(0, int(std::max<int64_t>(length_ - 1, 0)));
    trackbar_->setValue(int(position()));
    syncingTrackbar_ = false;
    int64_t frame = position();
    positionLabel_->setText(length_ > 0 ? QString("%1 / %2").arg(frame + 1).arg(length_) : QString("0 / 0"));
}

void MediaWindow::copyPicture()
{
    if (!image_.isNull())
        QApplication::clipboard()->setImage(image_.copy());
}

bool MediaWindow::waitForPicture(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (decoder_ && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        if (!decoder_)
            return false;
        refreshPicture();
        if (shown_ == position())
            return true;
        if (decoder_->atEnd() && decoder_->decodedUpTo() <= position())
            return false;
        decoder_->waitForProgress(5);
    }
    return false;
}

void MediaWindow::keyPressEvent(QKeyEvent* event)
{
    int64_t second = std::max<int64_t>(1, std::llround(fps_));
    if (event->key() == Qt::Key_E && event->modifiers() == Qt::ControlModifier) {
        exportFilm();
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        playing_ ? stop() : play();
        break;
    case Qt::Key_Right:
        step(1);
        break;
    case Qt::Key_Left:
        step(-1);
        break;
    case Qt::Key_PageDown:
        step(second);
        break;
    case Qt::Key_PageUp:
        step(-second);
        break;
    case Qt::Key_Home:
        seek(0);
        break;
    case Qt::Key_End:
        seek(length_ - 1);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

// The export reads the file afresh, so that a recording still going on gives the frames it
// holds now; the window's own count may be older.
void MediaWindow::exportFilm()
{
    if (!decoder_ || length_ <= 0)
        return;
    if (export_ && export_->running()) {  // one export a window at a time: show the one running
        export_->show();
        export_->raise();
        export_->activateWindow();
        return;
    }
    film::SourceInfo source;
    if (media::Status st = film::probeSource(path_, source); !st || source.frames <= 0) {
        std::string text = st ? "The recording holds no frames yet." : st.message + ".";
        MessageBoxA(hwnd(), text.c_str(), "Export Film", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    stop();
    ExportDialog dialog(this, path_, source);
    platform::ModalInfo info{platform::ModalKind::Dialog, dialog.windowTitle().toStdString(), ""};
    if (platform::runModal(dialog, info) != QDialog::Accepted)
        return;
    delete export_.data();  // the window of an export that ended
    export_ = new ExportProgressWindow(this, dialog.settings());
    export_->adjustSize();
    export_->move(frameGeometry().topLeft() + QPoint(kCascade, kCascade));
    export_->show();
}

bool MediaWindow::exportRunning() const
{
    return export_ && export_->running();
}

std::string MediaWindow::exportOutcome() const
{
    return export_ ? export_->outcome() : std::string();
}

bool MediaWindow::waitForExport(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QPointer<MediaWindow> self(this);
    constexpr auto kPoll = std::chrono::milliseconds(2);
    while (self && exportRunning() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(kPoll);
    }
    return self && !exportRunning();
}

}  // namespace kelvra::mciwnd
