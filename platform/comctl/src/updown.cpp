// The up-down control (msctls_updown32) and InitCommonControls, as Windows' comctl32 behaves:
// buddy, position kept in the buddy's text, arrows by mouse and keyboard.
#include <commctrl.h>

#include <kelvra/user/control.h>
#include <kelvra/user/control_drawing.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace kelvra::platform {

namespace {

// The range a spinner has until the program sets one. Windows starts at minimum 100, maximum
// 0, position 0, so its "up" arrow counts down; the program sets no range and its two spinners
// hold counts (frames per second, units between frames) that mean something only from 1 up.
// So: 1..UD_MAXVAL, arrows count up to the right and upwards and never reach 0, and the
// largest count still fits the low word of UDM_GETPOS as a positive number.
constexpr int kDefaultMinimum = 1;
constexpr int kDefaultMaximum = UD_MAXVAL;
// The position a new spinner starts at, written into its buddy when UDS_SETBUDDYINT is set,
// so that a field nobody has typed into yet reads as a valid count instead of empty.
constexpr int kDefaultPosition = 1;

constexpr UINT kFirstRepeatMs = 500;  // auto-repeat: first step at once, again after 500 ms,
constexpr UINT kRepeatMs = 50;        // then every 50 ms
// The auto-repeat is a SetTimer of the control's own window (WM_TIMER), as in comctl32, so it
// runs on the platform clock.
constexpr UINT_PTR kRepeatTimer = 1;
constexpr int kStep = 1;
// Scroll codes of the WM_HSCROLL/WM_VSCROLL the control sends its parent.
constexpr WORD kScrollThumbPosition = 4;  // SB_THUMBPOSITION
constexpr WORD kScrollEnd = 8;            // SB_ENDSCROLL
constexpr int kArrowInset = 2;            // the arrow glyph keeps clear of the button bevel

enum class Arrow { None, Decrement, Increment };

class UpDown;

class UpDownWidget : public QWidget {
public:
    UpDownWidget(QWidget* parent, HWND hwnd, DWORD style, DWORD exStyle);
    void repeat();  // a tick of the repeat timer

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    Arrow arrowAt(const QPoint& p) const;
    QRect arrowRect(Arrow a) const;

    HWND hwnd_;
    DWORD style_;
    DWORD exStyle_;
    Arrow pressed_ = Arrow::None;
    bool over_ = false;
};

// Up and Down typed into the buddy step the spinner when it has UDS_ARROWKEYS, and only
// while the buddy has the focus (which is where its key events go).
class BuddyKeys : public QObject {
public:
    BuddyKeys(QObject* parent, HWND updown) : QObject(parent), updown_(updown) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    HWND updown_;
};

class UpDown : public Control {
public:
    explicit UpDown(const ControlCreateInfo& info);
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // One step from the current value (read from the buddy first, as Windows does before each
    // arrow), written back into the buddy, then WM_HSCROLL/WM_VSCROLL to the parent.
    void step(Arrow arrow);
    void endScroll();
    // A click on an arrow puts the focus into an edit buddy, as Windows does.
    void focusBuddy()
    {
        if (qobject_cast<QLineEdit*>(widgetFromHandle(buddy_)))
            SetFocus(buddy_);
    }

private:
    bool readBuddy();
    void writeBuddy();
    int position(bool& error);
    void setBuddy(HWND buddy);
    int low() const { return std::min(min_, max_); }
    int high() const { return std::max(min_, max_); }
    bool inRange(long v) const { return v >= low() && v <= high(); }
    int clamp(long v) const { return static_cast<int>(std::clamp<long>(v, low(), high())); }
    WORD scrollMessage() const { return (style() & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL; }

    int min_ = kDefaultMinimum;
    int max_ = kDefaultMaximum;
    int pos_ = kDefaultPosition;
    int base_ = 10;
    HWND buddy_ = nullptr;
};

// ---- Widget ----------------------------------------------------------------------------------

UpDownWidget::UpDownWidget(QWidget* parent, HWND hwnd, DWORD style, DWORD exStyle)
    : QWidget(parent), hwnd_(hwnd), style_(style), exStyle_(exStyle)
{
    // Reached with Tab when it is a tab stop; a click gives the focus to the buddy instead.
    setFocusPolicy((style & WS_TABSTOP) ? Qt::TabFocus : Qt::NoFocus);
}

QRect UpDownWidget::arrowRect(Arrow a) const
{
    QRect inner = rect().adjusted(controlEdgeWidth(style_, exStyle_), controlEdgeWidth(style_, exStyle_),
                                  -controlEdgeWidth(style_, exStyle_), -controlEdgeWidth(style_, exStyle_));
    if (style_ & UDS_HORZ) {
        int half = inner.width() / 2;
        return a == Arrow::Decrement ? QRect(inner.left(), inner.top(), half, inner.height())
                                     : QRect(inner.left() + half, inner.top(), inner.width() - half, inner.height());
    }
    int half = inner.height() / 2;
    return a == Arrow::Increment ? QRect(inner.left(), inner.top(), inner.width(), half)
                                 : QRect(inner.left(), inner.top() + half, inner.width(), inner.height() - half);
}

Arrow UpDownWidget::arrowAt(const QPoint& p) const
{
    if (arrowRect(Arrow::Decrement).contains(p))
        return Arrow::Decrement;
    if (arrowRect(Arrow::Increment).contains(p))
        return Arrow::Increment;
    return Arrow::None;
}

void UpDownWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    drawControlEdges(p, pal, rect(), style_, exStyle_);
    for (Arrow a : {Arrow::Decrement, Arrow::Increment}) {
        QRect r = arrowRect(a);
        p.fillRect(r, pal.button());
        bool down = pressed_ == a && over_;
        if (down)
            drawBevel(p, r, pal.dark().color(), pal.dark().color());
        else
            drawRaisedEdge(p, pal, r);
        QRect g = r.adjusted(kArrowInset, kArrowInset, -kArrowInset, -kArrowInset);
        if (down)
            g.translate(1, 1);
        // A solid triangle pointing the way the arrow counts: `depth` pixels deep along it and
        // 2 * depth - 1 wide across it.
        bool horz = style_ & UDS_HORZ;
        int depth = std::max(1, std::min(horz ? g.width() : g.height(), ((horz ? g.height() : g.width()) + 1) / 2));
        QPoint c = g.center();
        int dir = a == Arrow::Increment ? 1 : -1;
        QPolygon tri;
        int tip = dir * (depth - 1) / 2;
        int back = tip - dir * (depth - 1);
        if (horz)
            tri << QPoint(c.x() + tip, c.y()) << QPoint(c.x() + back, c.y() - (depth - 1))
                << QPoint(c.x() + back, c.y() + (depth - 1));
        else
            tri << QPoint(c.x(), c.y() - tip) << QPoint(c.x() - (depth - 1), c.y() - back)
                << QPoint(c.x() + (depth - 1), c.y() - back);
        p.setPen(Qt::NoPen);
        p.setBrush(isEnabled() ? pal.buttonText() : pal.dark());
        p.drawPolygon(tri);
    }
}

void UpDownWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressed_ = arrowAt(event->position().toPoint());
    over_ = pressed_ != Arrow::None;
    update();
    if (pressed_ == Arrow::None)
        return;
    SetTimer(hwnd_, kRepeatTimer, kFirstRepeatMs, nullptr);
    if (auto* u = dynamic_cast<UpDown*>(windowFromHandle(hwnd_))) {
        u->focusBuddy();
        u->step(pressed_);
    }
}

void UpDownWidget::mouseMoveEvent(QMouseEvent* event)
{
    // Repeating pauses while the pointer is off the pressed arrow, as on Windows.
    bool over = pressed_ != Arrow::None && arrowAt(event->position().toPoint()) == pressed_;
    if (over != over_) {
        over_ = over;
        update();
    }
}

void UpDownWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pressed_ == Arrow::None)
        return;
    KillTimer(hwnd_, kRepeatTimer);
    pressed_ = Arrow::None;
    over_ = false;
    update();
    if (auto* u = dynamic_cast<UpDown*>(windowFromHandle(hwnd_)))
        u->endScroll();
}

void UpDownWidget::repeat()
{
    SetTimer(hwnd_, kRepeatTimer, kRepeatMs, nullptr);  // the same timer, from now on faster
    if (pressed_ == Arrow::None || !over_)
        return;
    if (auto* u = dynamic_cast<UpDown*>(windowFromHandle(hwnd_)))
        u->step(pressed_);
}

void UpDownWidget::keyPressEvent(QKeyEvent* event)
{
    // With UDS_ARROWKEYS the control itself also steps on Up and Down while it has the focus.
    bool up = event->key() == Qt::Key_Up;
    if ((style_ & UDS_ARROWKEYS) && (up || event->key() == Qt::Key_Down)) {
        if (auto* u = dynamic_cast<UpDown*>(windowFromHandle(hwnd_)))
            u->step(up ? Arrow::Increment : Arrow::Decrement);
        event->accept();
        return;
    }
    if (!forwardDialogKey(hwnd_, event))
        event->ignore();
}

void UpDownWidget::keyReleaseEvent(QKeyEvent* event)
{
    if ((style_ & UDS_ARROWKEYS) && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down))
        if (auto* u = dynamic_cast<UpDown*>(windowFromHandle(hwnd_)))
            u->endScroll();
    event->ignore();
}

bool BuddyKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Up && key->key() != Qt::Key_Down)
        return false;
    auto* u = dynamic_cast<UpDown*>(windowFromHandle(updown_));
    if (!u)
        return false;
    u->step(key->key() == Qt::Key_Up ? Arrow::Increment : Arrow::Decrement);
    return true;
}

// ---- Control ---------------------------------------------------------------------------------

UpDown::UpDown(const ControlCreateInfo& info) : Control(info)
{
    auto* w = new UpDownWidget(info.parent, handle(), style(), exStyle());
    setWidget(w);
    // UDS_AUTOBUDDY: the buddy is the control made just before it in the template.
    if ((style() & UDS_AUTOBUDDY) && info.previous)
        setBuddy(info.previous);
    writeBuddy();
}

void UpDown::setBuddy(HWND buddy)
{
    if (QWidget* old = widgetFromHandle(buddy_))
        for (BuddyKeys* f : widget()->findChildren<BuddyKeys*>(Qt::FindDirectChildrenOnly)) {
            old->removeEventFilter(f);
            delete f;
        }
    buddy_ = buddy;
    QWidget* w = widgetFromHandle(buddy);
    if (w && (style() & UDS_ARROWKEYS))
        w->installEventFilter(new BuddyKeys(widget(), handle()));
}

// As Windows reads the buddy: the whole text, separators removed, must be a number within
// the range; then it becomes the position. Empty text reads as 0.
bool UpDown::readBuddy()
{
    if (!(style() & UDS_SETBUDDYINT) || !windowFromHandle(buddy_))
        return false;
    char text[64] = {};
    GetWindowTextA(buddy_, text, sizeof text);
    std::string digits;
    QString separator = QLocale().groupSeparator();
    std::string sep = separator.toStdString();
    for (size_t i = 0; text[i]; ++i) {
        if (!sep.empty() && std::string(text + i).rfind(sep, 0) == 0) {
            i += sep.size() - 1;
            continue;
        }
        digits += text[i];
    }
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(digits.c_str(), &end, base_);
    bool number = *end == '\0' && errno != ERANGE;
    if (!number)
        return false;  // the last valid position stays
    if (!inRange(value)) {
        // A number outside the range: reported as an error with the nearest end of the range,
        // which also becomes the position the arrows go on from.
        pos_ = clamp(value);
        return false;
    }
    pos_ = static_cast<int>(value);
    return true;
}

// As Windows writes the buddy: decimal (or hex with base 16), thousands separators unless
// UDS_NOTHOUSANDS, and the text is set only when it changes.
void UpDown::writeBuddy()
{
    if (!(style() & UDS_SETBUDDYINT) || !windowFromHandle(buddy_))
        return;
    QString text;
    if (base_ == 16)
        text = QStringLiteral("0x") + QStringLiteral("%1").arg(pos_, 4, 16, QLatin1Char('0')).toUpper();
    else if (style() & UDS_NOTHOUSANDS)
        text = QString::number(pos_);
    else
        text = QLocale().toString(pos_);
    char current[64] = {};
    GetWindowTextA(buddy_, current, sizeof current);
    QByteArray bytes = text.toLocal8Bit();
    if (bytes != QByteArray(current))
        SetWindowTextA(buddy_, bytes.constData());
}

// UDM_GETPOS: the buddy's number with error 0, or error 1 with: the number clamped into the
// range when the text is a number outside it, else the last valid position clamped into it.
int UpDown::position(bool& error)
{
    // Without a buddy to read (or UDS_SETBUDDYINT) Windows answers an error too.
    error = !readBuddy();
    if (!inRange(pos_))
        error = true;
    return clamp(pos_);
}

void UpDown::step(Arrow arrow)
{
    HWND self = handle();
    HWND parent = dialog();
    readBuddy();
    // The "increment" arrow moves from minimum towards maximum, whichever way round they are.
    int delta = (arrow == Arrow::Increment ? kStep : -kStep) * (max_ < min_ ? -1 : 1);
    long next = static_cast<long>(pos_) + delta;
    if (!inRange(next)) {
        if (style() & UDS_WRAP)
            next = next > high() ? low() : high();
        else
            next = clamp(next);
    }
    if (next != pos_) {
        pos_ = static_cast<int>(next);
        writeBuddy();
    }
    if (windowFromHandle(self))
        SendMessageA(parent, scrollMessage(), MAKEWPARAM(kScrollThumbPosition, pos_),
                     reinterpret_cast<LPARAM>(self));
}

void UpDown::endScroll()
{
    SendMessageA(dialog(), scrollMessage(), MAKEWPARAM(kScrollEnd, pos_),
                 reinterpret_cast<LPARAM>(handle()));
}

LRESULT UpDown::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case UDM_GETPOS: {
        bool error = false;
        int pos = position(error);
        return MAKELONG(pos, error ? 1 : 0);
    }
    case UDM_GETPOS32: {
        bool error = false;
        int pos = position(error);
        if (lParam)
            *reinterpret_cast<BOOL*>(lParam) = error ? TRUE : FALSE;
        return pos;
    }
    case UDM_SETPOS:
    case UDM_SETPOS32: {
        int wanted = msg == UDM_SETPOS ? static_cast<short>(LOWORD(lParam)) : static_cast<int>(lParam);
        int old = pos_;
        pos_ = clamp(wanted);
        writeBuddy();
        return old;
    }
    case UDM_SETRANGE:
        // MAKELONG(maximum, minimum); like Windows, the position is left as it is.
        max_ = static_cast<short>(LOWORD(lParam));
        min_ = static_cast<short>(HIWORD(lParam));
        return 0;
    case UDM_GETRANGE:
        return MAKELONG(max_, min_);
    case UDM_SETRANGE32:
        min_ = static_cast<int>(wParam);
        max_ = static_cast<int>(lParam);
        return 0;
    case UDM_GETRANGE32:
        if (wParam)
            *reinterpret_cast<int*>(wParam) = min_;
        if (lParam)
            *reinterpret_cast<int*>(lParam) = max_;
        return 0;
    case UDM_SETBUDDY: {
        HWND old = buddy_;
        setBuddy(reinterpret_cast<HWND>(wParam));
        return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY:
        return reinterpret_cast<LRESULT>(buddy_);
    case UDM_SETBASE: {
        if (wParam != 10 && wParam != 16)
            return 0;  // Windows accepts only decimal and hexadecimal
        int old = base_;
        base_ = static_cast<int>(wParam);
        return old;
    }
    case UDM_GETBASE:
        return base_;
    case WM_TIMER:
        if (auto* w = dynamic_cast<UpDownWidget*>(widget()); w && wParam == kRepeatTimer) {
            w->repeat();
            return 0;
        }
        return Control::message(msg, wParam, lParam);
    default:
        return Control::message(msg, wParam, lParam);
    }
}

Control* createUpDown(const ControlCreateInfo& info)
{
    return new UpDown(info);
}

// Registered when the library is loaded, as comctl32 does on load: the program's templates
// name the class before InitCommonControls runs.
const bool registered = [] {
    registerControlClass(UPDOWN_CLASSA, createUpDown);
    return true;
}();

}  // namespace

}  // namespace kelvra::platform

void WINAPI InitCommonControls(void)
{
    // The classes are registered with the library; a second registration is harmless.
    kelvra::platform::registerControlClass(UPDOWN_CLASSA, kelvra::platform::createUpDown);
}
