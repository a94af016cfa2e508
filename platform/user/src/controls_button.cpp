// The Button class: push buttons, check boxes, radio buttons (also push-like and flat) and group
// boxes, with the messages and notifications of Windows' button control.
#include "controls.h"
#include "dialog_impl.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace kelvra::platform {

namespace {

constexpr int kIndicatorSize = 13;  // Windows' check box and radio button square
constexpr int kIndicatorGap = 4;    // between the square and the text
constexpr int kBevelWidth = 2;      // the raised (or sunken) 3-D frame of a button
constexpr int kTextInset = 1;       // text keeps 1 px clear of the button's bevel
constexpr int kFocusInset = 3;      // the dotted focus rectangle inside the bevel
constexpr int kGroupTextLeft = 8;   // the group box title starts 8 px in
constexpr int kGroupTextPad = 2;    // background cleared on either side of the title
constexpr LRESULT kStatePushed = 0x0004;  // BST_PUSHED
constexpr LRESULT kStateFocus = 0x0008;   // BST_FOCUS

DWORD typeOf(DWORD style) { return style & BS_TYPEMASK; }
bool isRadio(DWORD t) { return t == BS_RADIOBUTTON || t == BS_AUTORADIOBUTTON; }
bool isCheck(DWORD t)
{
    return t == BS_CHECKBOX || t == BS_AUTOCHECKBOX || t == BS_3STATE || t == BS_AUTO3STATE;
}
bool isThreeState(DWORD t) { return t == BS_3STATE || t == BS_AUTO3STATE; }
bool isPush(DWORD t) { return t == BS_PUSHBUTTON || t == BS_DEFPUSHBUTTON; }

// Windows' DrawFocusRect: every other pixel of the rectangle's outline.
void drawFocusRect(QPainter& p, const QRect& r, const QColor& color)
{
    for (int x = r.left(); x <= r.right(); x += 2) {
        p.fillRect(x, r.top(), 1, 1, color);
        p.fillRect(x, r.bottom(), 1, 1, color);
    }
    for (int y = r.top(); y <= r.bottom(); y += 2) {
        p.fillRect(r.left(), y, 1, 1, color);
        p.fillRect(r.right(), y, 1, 1, color);
    }
}

int alignmentFor(DWORD style, bool pushLike)
{
    int h = pushLike ? Qt::AlignHCenter : Qt::AlignLeft;
    if ((style & BS_CENTER) == BS_LEFT)
        h = Qt::AlignLeft;
    else if ((style & BS_CENTER) == BS_RIGHT)
        h = Qt::AlignRight;
    else if ((style & BS_CENTER) == BS_CENTER)
        h = Qt::AlignHCenter;
    int v = Qt::AlignVCenter;
    if ((style & BS_VCENTER) == BS_TOP)
        v = Qt::AlignTop;
    else if ((style & BS_VCENTER) == BS_BOTTOM)
        v = Qt::AlignBottom;
    return h | v;
}

// Disabled text is embossed, as Windows draws it.
void drawLabel(QPainter& p, const QWidget& w, const QRect& r, int flags, const QString& text)
{
    const QPalette& pal = w.palette();
    if (!w.isEnabled()) {
        p.setPen(pal.light().color());
        p.drawText(r.translated(1, 1), flags, text);
        p.setPen(pal.dark().color());
    } else {
        p.setPen(pal.buttonText().color());
    }
    p.drawText(r, flags, text);
}

class ButtonWidget : public QAbstractButton {
public:
    ButtonWidget(QWidget* parent, HWND hwnd) : QAbstractButton(parent), hwnd_(hwnd) {}
    void setLook(DWORD style, DWORD exStyle, int check)
    {
        style_ = style;
        exStyle_ = exStyle;
        check_ = check;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void paintPushLike(QPainter& p, QRect r);
    void paintIndicator(QPainter& p, const QRect& r);

    HWND hwnd_;
    DWORD style_ = 0;
    DWORD exStyle_ = 0;
    int check_ = BST_UNCHECKED;
};

void ButtonWidget::keyPressEvent(QKeyEvent* event)
{
    // Space presses the button (QAbstractButton clicks on release); the dialog manager gets
    // Enter, Escape and the arrows.
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    if (forwardDialogKey(hwnd_, event)) {
        event->accept();
        return;
    }
    event->ignore();
}

void ButtonWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QRect r = drawControlEdges(p, palette(), rect(), style_, exStyle_);
    DWORD t = typeOf(style_);
    if ((style_ & BS_PUSHLIKE) || !(isRadio(t) || isCheck(t)))
        paintPushLike(p, r);
    else
        paintIndicator(p, r);
}

void ButtonWidget::paintPushLike(QPainter& p, QRect r)
{
    const QPalette& pal = palette();
    DWORD t = typeOf(style_);
    bool checked = !isPush(t) && check_ != BST_UNCHECKED;
    bool down = isDown();
    bool flat = (style_ & BS_FLAT) != 0;
    // A checked push-like button shows a dithered face, as Windows draws it.
    QBrush dither(pal.mid().color(), Qt::Dense4Pattern);
    p.fillRect(r, pal.button());
    // The text's room does not shrink for the default-button outline.
    const int textEdge = kBevelWidth + kTextInset;
    QRect textRect = r.adjusted(textEdge, textEdge, -textEdge, -textEdge);
    // A push button with the focus is the default button: Windows adds a dark outline.
    if (isPush(t) && !flat && (hasFocus() || t == BS_DEFPUSHBUTTON)) {
        drawBevel(p, r, pal.shadow().color(), pal.shadow().color());
        r.adjust(1, 1, -1, -1);
    }
    if (flat) {
        // BS_FLAT: a one-pixel frame; pressed or checked, a shadow line inside it at the top
        // and left over the dithered face.
        drawBevel(p, r, pal.shadow().color(), pal.shadow().color());
        if (down || checked) {
            p.fillRect(r.adjusted(1, 1, -1, -1), dither);
            drawBevel(p, r.adjusted(1, 1, -1, -1), pal.dark().color(), pal.button().color());
        }
    } else if (down) {
        drawBevel(p, r, pal.shadow().color(), pal.shadow().color());
        drawBevel(p, r.adjusted(1, 1, -1, -1), pal.dark().color(), pal.dark().color());
    } else if (checked) {
        drawSunkenEdge(p, pal, r);
        p.fillRect(r.adjusted(kBevelWidth, kBevelWidth, -kBevelWidth, -kBevelWidth), dither);
    } else {
        drawRaisedEdge(p, pal, r);
    }
    if (down || checked)
        textRect.translate(1, 1);
    int flags = alignmentFor(style_, true) | mnemonicFlag(false) |
                ((style_ & BS_MULTILINE) ? Qt::TextWordWrap : Qt::TextSingleLine);
    drawLabel(p, *this, textRect, flags, text());
    if (hasFocus())
        drawFocusRect(p, r.adjusted(kFocusInset, kFocusInset, -kFocusInset, -kFocusInset),
                      pal.buttonText().color());
}

void ButtonWidget::paintIndicator(QPainter& p, const QRect& r)
{
    bool radio = isRadio(typeOf(style_));
    bool leftText = (style_ & BS_LEFTTEXT) != 0;
    QStyleOptionButton opt;
    opt.initFrom(this);
    int top = r.top() + (r.height() - kIndicatorSize) / 2;
    int left = leftText ? r.right() - kIndicatorSize + 1 : r.left();
    opt.rect = QRect(left, top, kIndicatorSize, kIndicatorSize);
    opt.state &= ~(QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange);
    opt.state |= check_ == BST_CHECKED ? QStyle::State_On
               : check_ == BST_INDETERMINATE ? QStyle::State_NoChange : QStyle::State_Off;
    if (isDown())
        opt.state |= QStyle::State_Sunken;
    style()->drawPrimitive(radio ? QStyle::PE_IndicatorRadioButton : QStyle::PE_IndicatorCheckBox,
                           &opt, &p, this);
    QRect textRect = leftText ? QRect(r.left(), r.top(), r.width() - kIndicatorSize - kIndicatorGap, r.height())
                              : QRect(r.left() + kIndicatorSize + kIndicatorGap, r.top(),
                                      r.width() - kIndicatorSize - kIndicatorGap, r.height());
    int flags = alignmentFor(style_, false) | mnemonicFlag(false) |
                ((style_ & BS_MULTILINE) ? Qt::TextWordWrap : Qt::TextSingleLine);
    drawLabel(p, *this, textRect, flags, text());
    if (hasFocus()) {
        QRect bounds = p.boundingRect(textRect, flags, text()).adjusted(-1, 0, 1, 0);
        drawFocusRect(p, bounds & r, palette().buttonText().color());
    }
}

class Button : public Control {
public:
    explicit Button(const ControlCreateInfo& info) : Control(info)
    {
        widget_ = new ButtonWidget(info.parent, handle());
        widget_->setText(QString::fromLocal8Bit(info.item.text.c_str()));
        widget_->setFocusPolicy((style() & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        QObject::connect(widget_, &QAbstractButton::clicked, widget_, [h = handle()] {
            if (auto* b = dynamic_cast<Button*>(windowFromHandle(h)))
                b->clicked();
        });
        setWidget(widget_);
        refresh();
    }

    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool isPushButton() const override { return isPush(typeOf(style())); }
    bool isAutoRadioButton() const override { return typeOf(style()) == BS_AUTORADIOBUTTON; }

    // A click by mouse, Space or BM_CLICK: auto buttons change state, then BN_CLICKED goes to
    // the dialog, also for a radio button that was already checked.
    void clicked()
    {
        DWORD t = typeOf(style());
        if (t == BS_AUTOCHECKBOX)
            setCheck(check_ == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        else if (t == BS_AUTO3STATE)
            setCheck((check_ + 1) % (BST_INDETERMINATE + 1));
        else if (t == BS_AUTORADIOBUTTON) {
            setCheck(BST_CHECKED);
            uncheckGroup();
        }
        notifyParent(BN_CLICKED);
    }

    // BM_SETCHECK as Windows' button does it: radio buttons take WS_TABSTOP when checked and
    // lose it when unchecked (so that Tab reaches a group at its checked button). The other
    // buttons of the group are the program's business (CheckRadioButton); only a click
    // unchecks them.
    void setCheck(WPARAM state)
    {
        DWORD t = typeOf(style());
        WPARAM max = isThreeState(t) ? BST_INDETERMINATE : (isRadio(t) || isCheck(t)) ? BST_CHECKED : 0;
        if (state > max)
            state = max;
        if (isRadio(t))
            setStyleBits(WS_TABSTOP, state != BST_UNCHECKED);
        check_ = static_cast<int>(state);
        refresh();
    }

protected:
    std::string text() const override
    {
        return widget_ ? widget_->text().toLocal8Bit().toStdString() : std::string();
    }
    void setText(const std::string& text) override
    {
        if (widget_)
            widget_->setText(QString::fromLocal8Bit(text.c_str()));
    }

private:
    void refresh()
    {
        if (widget_)
            widget_->setLook(style(), exStyle(), check_);
    }

    // An auto radio button the user selects unchecks the other auto radio buttons of its
    // group (from its WS_GROUP to the next).
    void uncheckGroup()
    {
        Dialog* d = dialogFromHandle(dialog());
        if (!d)
            return;
        for (HWND h : d->groupOf(handle())) {
            Control* c = controlFromHandle(h);
            if (h != handle() && c && c->isAutoRadioButton())
                SendMessageA(h, BM_SETCHECK, BST_UNCHECKED, 0);
        }
    }

    QPointer<ButtonWidget> widget_;
    int check_ = BST_UNCHECKED;
};

LRESULT Button::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case BM_GETCHECK:
        return check_;
    case BM_SETCHECK:
        setCheck(wParam);
        return 0;
    case BM_GETSTATE:
        return check_ | (widget_ && widget_->isDown() ? kStatePushed : 0) |
               (widget_ && widget_->hasFocus() ? kStateFocus : 0);
    case BM_SETSTATE:
        if (widget_)
            widget_->setDown(wParam != 0);
        return 0;
    case BM_SETSTYLE:
        setStyleBits(BS_TYPEMASK, false);
        setStyleBits(static_cast<DWORD>(wParam) & BS_TYPEMASK, true);
        refresh();
        return 0;
    case BM_CLICK:
        // Windows presses and releases the button: it takes the focus, then it is clicked.
        if (!widget_ || !widget_->isEnabled())
            return 0;
        widget_->setFocus(Qt::MouseFocusReason);
        clicked();
        return 0;
    default:
        return Control::message(msg, wParam, lParam);
    }
}

// ---- Group box -------------------------------------------------------------------------------

class GroupBoxWidget : public QWidget {
public:
    explicit GroupBoxWidget(QWidget* parent) : QWidget(parent)
    {
        // A frame drawn behind the controls it holds; clicks reach them through it.
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    QString title;
    DWORD style = 0;
    DWORD exStyle = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QPalette& pal = palette();
        QFontMetrics fm(font());
        QRect frame = rect();
        frame.setTop(fm.height() / 2 - 1);  // the line runs through the title's middle
        // EDGE_ETCHED: sunken outer, raised inner.
        drawBevel(p, frame, pal.dark().color(), pal.light().color());
        drawBevel(p, frame.adjusted(1, 1, -1, -1), pal.light().color(), pal.dark().color());
        if (title.isEmpty())
            return;
        int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | mnemonicFlag(false);
        QRect textRect(kGroupTextLeft, 0, width() - 2 * kGroupTextLeft, fm.height());
        QRect bounds = p.boundingRect(textRect, flags, title);
        p.fillRect(bounds.adjusted(-kGroupTextPad, 0, kGroupTextPad, 0), pal.window());
        drawLabel(p, *this, textRect, flags, title);
    }
};

class GroupBox : public Control {
public:
    explicit GroupBox(const ControlCreateInfo& info) : Control(info)
    {
        widget_ = new GroupBoxWidget(info.parent);
        widget_->title = QString::fromLocal8Bit(info.item.text.c_str());
        widget_->style = style();
        widget_->exStyle = exStyle();
        setWidget(widget_);
        widget_->lower();
    }

protected:
    std::string text() const override
    {
        return widget_ ? widget_->title.toLocal8Bit().toStdString() : std::string();
    }
    void setText(const std::string& text) override
    {
        if (widget_) {
            widget_->title = QString::fromLocal8Bit(text.c_str());
            widget_->update();
        }
    }

private:
    QPointer<GroupBoxWidget> widget_;
};

}  // namespace

Control* createButton(const ControlCreateInfo& info)
{
    if (typeOf(info.item.style) == BS_GROUPBOX)
        return new GroupBox(info);
    return new Button(info);
}

}  // namespace kelvra::platform
