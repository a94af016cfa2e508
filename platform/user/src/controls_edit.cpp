// The Edit class: single-line fields with Windows' read-only and digits-only (ES_NUMBER) rules,
// their edges, and EN_CHANGE.
#include "controls.h"
#include "dialog_impl.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>

namespace kelvra::platform {

namespace {

// QLineEdit keeps a 1 px margin above and below its text; the edges take its place.
constexpr int kLineEditVerticalMargin = 1;
// Windows' single-line edit limit when EM_LIMITTEXT asks for "no limit".
constexpr int kMaxEditText = 0x7FFFFFFE;
// QLineEdit's own space on each side of its text, and its cursor.
constexpr int kLineEditHorizontalMargin = 2;
constexpr int kCursorWidth = 1;
// How far a text that does not fit is drawn narrower before it scrolls instead.
constexpr int kNarrowestStretch = 70;
constexpr int kStretchStep = 5;
constexpr qreal kTightestSpacing = -1.0;  // pixels between letters, at the most
constexpr qreal kSpacingStep = 0.25;

bool allDigits(const QString& s)
{
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

class EditWidget : public QLineEdit {
public:
    EditWidget(QWidget* parent, HWND hwnd, DWORD style, DWORD exStyle)
        : QLineEdit(parent), hwnd_(hwnd), style_(style), exStyle_(exStyle)
    {
        setFrame(false);
        int edge = controlEdgeWidth(style, exStyle);
        int vertical = std::max(edge - kLineEditVerticalMargin, 0);
        setTextMargins(edge, vertical, edge, vertical);
        if (style & ES_NUMBER)
            setAcceptDrops(false);  // dropped text would bypass the digits-only rule
        connect(this, &QLineEdit::textChanged, this, [this] { fitText(); });
    }

    // A text a little too wide for its field (a five-digit count in the program's 22-unit fields)
    // is drawn narrower, down to kNarrowestStretch percent, so all of it shows; longer texts
    // scroll as they always do. The field's size and its font's face stay.
    void fitText()
    {
        const int room = contentsRect().width() - textMargins().left() - textMargins().right() -
                         2 * kLineEditHorizontalMargin - kCursorWidth;
        QFont narrowed = font();
        narrowed.setLetterSpacing(QFont::AbsoluteSpacing, 0);
        narrowed.setStretch(QFont::Unstretched);
        auto fits = [&] { return QFontMetrics(narrowed).horizontalAdvance(text()) <= room; };
        // Narrower letters first, then, at the narrowest, less space between them.
        while (!fits() && narrowed.stretch() > kNarrowestStretch)
            narrowed.setStretch(narrowed.stretch() - kStretchStep);
        for (qreal spacing = 0; !fits() && spacing > kTightestSpacing;) {
            spacing -= kSpacingStep;
            narrowed.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        }
        if (narrowed != font()) {
            fitting_ = true;
            setFont(narrowed);
            fitting_ = false;
        }
    }

    void setReadOnlyLook(bool readOnly)
    {
        setReadOnly(readOnly);
        // Windows paints a read-only field with the dialog's face colour.
        QPalette pal = palette();
        pal.setBrush(QPalette::Base, readOnly ? pal.window() : QApplication::palette(this).base());
        setPalette(pal);
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLineEdit::resizeEvent(event);
        fitText();
    }
    void changeEvent(QEvent* event) override
    {
        QLineEdit::changeEvent(event);
        if (event->type() == QEvent::FontChange && !fitting_)
            fitText();  // the dialog's font came: measure again with it
    }
    void paintEvent(QPaintEvent* event) override
    {
        QLineEdit::paintEvent(event);
        QPainter p(this);
        drawControlEdges(p, palette(), rect(), style_, exStyle_);
    }
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool numberOnly() const { return (style_ & ES_NUMBER) && !isReadOnly(); }
    void pasteDigits(QClipboard::Mode mode);
    bool refuses(const QString& typed) const { return numberOnly() && !allDigits(typed); }

    HWND hwnd_;
    DWORD style_;
    DWORD exStyle_;
    bool fitting_ = false;
};

void EditWidget::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // A single-line edit leaves Enter and Escape to the dialog manager.
        if (!forwardDialogKey(hwnd_, event))
            event->ignore();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        // An edit wants the arrow keys (DLGC_WANTARROWS): they never move between controls.
        event->accept();
        return;
    default:
        break;
    }
    if (event->matches(QKeySequence::Paste) && numberOnly()) {
        pasteDigits(QClipboard::Clipboard);
        return;
    }
    bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    QString typed = event->text();
    if (!command && !typed.isEmpty() && typed[0].isPrint() && refuses(typed)) {
        QApplication::beep();  // ES_NUMBER: Windows refuses anything but digits from the keyboard
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
    event->accept();
}

// Pasted text follows the typing rule: digits only, or nothing. Windows would let other text
// in, but then the field holds a value the up-down control reports as an error, and the
// program acts on it; refusing keeps the field a number.
void EditWidget::pasteDigits(QClipboard::Mode mode)
{
    QString text = QApplication::clipboard()->text(mode);
    if (!allDigits(text)) {
        QApplication::beep();
        return;
    }
    insert(text);
}

void EditWidget::contextMenuEvent(QContextMenuEvent* event)
{
    if (!numberOnly()) {
        QLineEdit::contextMenuEvent(event);
        return;
    }
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
        QObject::disconnect(paste, &QAction::triggered, nullptr, nullptr);
        QObject::connect(paste, &QAction::triggered, this,
                         [this] { pasteDigits(QClipboard::Clipboard); });
    }
    menu->popup(event->globalPos());
}

void EditWidget::mouseReleaseEvent(QMouseEvent* event)
{
    // The middle button pastes the selection on X11; it obeys the same rule.
    if (event->button() == Qt::MiddleButton && numberOnly()) {
        if (QApplication::clipboard()->supportsSelection())
            pasteDigits(QClipboard::Selection);
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void EditWidget::inputMethodEvent(QInputMethodEvent* event)
{
    if (refuses(event->commitString())) {
        QApplication::beep();
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

class Edit : public Control {
public:
    explicit Edit(const ControlCreateInfo& info) : Control(info)
    {
        widget_ = new EditWidget(info.parent, handle(), style(), exStyle());
        if (style() & ES_PASSWORD)
            widget_->setEchoMode(QLineEdit::Password);
        if (style() & ES_CENTER)
            widget_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        else if (style() & ES_RIGHT)
            widget_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        widget_->setReadOnlyLook((style() & ES_READONLY) != 0);
        // Without WS_TABSTOP a field is left out of the Tab order but can still be clicked into.
        widget_->setFocusPolicy((style() & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        widget_->setText(QString::fromLocal8Bit(info.item.text.c_str()));
        QObject::connect(widget_, &QLineEdit::textEdited, widget_, [h = handle()] {
            if (auto* e = dynamic_cast<Edit*>(windowFromHandle(h)))
                e->notifyParent(EN_CHANGE);
        });
        setWidget(widget_);
    }

    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (!widget_)
            return 0;
        switch (msg) {
        case EM_SETREADONLY:
            setStyleBits(ES_READONLY, wParam != 0);
            widget_->setReadOnlyLook(wParam != 0);
            return TRUE;
        case EM_LIMITTEXT:
            widget_->setMaxLength(wParam == 0 ? kMaxEditText : static_cast<int>(wParam));
            return 0;
        case EM_SETSEL: {
            // (0, -1) selects everything; a start of -1 removes the selection.
            int start = static_cast<int>(wParam);
            int end = static_cast<int>(lParam);
            int length = static_cast<int>(widget_->text().size());
            if (start < 0) {
                widget_->deselect();
                return 0;
            }
            if (end < 0 || end > length)
                end = length;
            start = std::min(start, length);
            widget_->setSelection(std::min(start, end), std::abs(end - start));
            return 0;
        }
        default:
            return Control::message(msg, wParam, lParam);
        }
    }

protected:
    std::string text() const override
    {
        return widget_ ? widget_->text().toLocal8Bit().toStdString() : std::string();
    }
    // WM_SETTEXT replaces the text whatever ES_NUMBER says (the style limits typing only) and,
    // as on Windows, tells the dialog with EN_CHANGE.
    void setText(const std::string& text) override
    {
        if (!widget_)
            return;
        widget_->setText(QString::fromLocal8Bit(text.c_str()));
        notifyParent(EN_CHANGE);
    }

private:
    QPointer<EditWidget> widget_;
};

}  // namespace

Control* createEdit(const ControlCreateInfo& info)
{
    return new Edit(info);
}

}  // namespace kelvra::platform
