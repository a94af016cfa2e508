#include "live_view.h"

#include "capture_window.h"
#include "window_place.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

namespace kelvra::avicap {

namespace {

constexpr QSize kFirstSize(960, 540);  // the first time: a good look at a 16:9 camera
constexpr int kFirstOffset = 40;       // ... placed a little below and right of the main window

// True when a good part of `place` lies on one of the screens there are now.
bool onSomeScreen(const QRect& place)
{
    constexpr int kVisibleSide = 80;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(place);
        if (common.width() >= kVisibleSide && common.height() >= kVisibleSide)
            return true;
    }
    return false;
}

}  // namespace

LiveView::LiveView(CaptureWindow& capture, QWidget* owner) : QWidget(owner, Qt::Window), capture_(capture)
{
    setWindowTitle(QString::fromLatin1(kLiveViewCaption));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(160, 90);
    placeAtFirstShow();
}

// Kept when it closes, and when the program ends with it open.
LiveView::~LiveView()
{
    keepPlace();
}

void LiveView::placeAtFirstShow()
{
    std::string problem;
    const std::optional<QRect> kept = loadWindowPlace(kLiveViewPlaceName, problem);
    if (!problem.empty()) {
        // Ignored: the window opens where it would the first time.
        const std::string line = "The Live View's kept size and place (" + windowPlacePath(kLiveViewPlaceName) +
                                 ") " + problem + "; it opens at its first size.";
        qWarning("%s", line.c_str());
        capture_.journalNote(line);
    }
    if (kept && onSomeScreen(*kept)) {
        setGeometry(*kept);
        return;
    }
    resize(kFirstSize);
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().topLeft() + QPoint(kFirstOffset, kFirstOffset));
}

void LiveView::keepPlace()
{
    saveWindowPlace(kLiveViewPlaceName, geometry());
}

void LiveView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    capture_.paintView(painter, rect(), true);
}

void LiveView::resizeEvent(QResizeEvent* event)
{
    capture_.liveViewResized(size());
    QWidget::resizeEvent(event);
}

void LiveView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    // A held key repeats: one frame per press, never a burst of grabs or removals.
    const bool repeat = event->isAutoRepeat();
    if (key >= Qt::Key_0 && key <= Qt::Key_0 + kMaxOnionFrames) {
        OnionSettings s = capture_.onion();
        s.frames = key - Qt::Key_0;
        capture_.setOnion(s);
    } else if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (!repeat)
            capture_.grabFromLiveView();
    } else if (key == Qt::Key_Backspace) {
        if (!repeat)
            capture_.removeLastFrame();
    } else if (key == Qt::Key_P) {
        if (!repeat)
            capture_.playing() ? capture_.stopPlaying() : capture_.playLastFrames();
    } else if (key == Qt::Key_Escape) {
        close();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void LiveView::contextMenuEvent(QContextMenuEvent* event)
{
    capture_.menu().popup(event->globalPos());
}

void LiveView::closeEvent(QCloseEvent* event)
{
    capture_.liveViewClosing();
    QWidget::closeEvent(event);
}

}  // namespace kelvra::avicap
