// MessageBoxA over QMessageBox, shown through runModal so that timers tick inside it and tests
// can answer it. Buttons, default button, Escape and the close box follow Windows.
#include <windows.h>

#include <kelvra/user/modal.h>
#include <kelvra/user/window.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <array>

namespace {

using kelvra::platform::ModalInfo;
using kelvra::platform::ModalKind;

constexpr int kMaxButtons = 3;
constexpr int kNoEscape = 0;  // no button answers Escape or the close box
constexpr int kDefButtonShift = 8;  // MB_DEFBUTTON2 == 1 << 8

struct ButtonEntry {
    QMessageBox::StandardButton qt;
    int id;
};

struct BoxLayout {
    std::array<ButtonEntry, kMaxButtons> buttons;
    int count;
    // Windows: Escape (and the close box) answer IDCANCEL when there is a Cancel button, IDOK
    // for a lone OK button, and do nothing otherwise (Yes/No, Abort/Retry/Ignore).
    int escapeId;
};

// Indexed by uType & MB_TYPEMASK, buttons in Windows' order (which MB_DEFBUTTONn counts in).
const std::array<BoxLayout, MB_RETRYCANCEL + 1> kBoxLayouts = {{
    {{{{QMessageBox::Ok, IDOK}}}, 1, IDOK},
    {{{{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}}, 2, IDCANCEL},
    {{{{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY},
       {QMessageBox::Ignore, IDIGNORE}}}, 3, kNoEscape},
    {{{{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}}},
     3, IDCANCEL},
    {{{{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}}, 2, kNoEscape},
    {{{{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}}, 2, IDCANCEL},
}};

QMessageBox::Icon iconFor(UINT uType)
{
    switch (uType & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONASTERISK: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;  // no icon flag: no icon, as the exit question has
    }
}

// Keeps Escape and the close box from answering a box that has no Cancel button; left alone,
// QMessageBox would take "No" or "Abort" as its escape button.
class NoEscapeFilter : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress
            && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

void addButtons(QMessageBox& box, const BoxLayout& layout, UINT uType)
{
    std::array<QPushButton*, kMaxButtons> added{};
    for (int i = 0; i < layout.count; ++i)
        added[i] = box.addButton(layout.buttons[i].qt);
    // MB_DEFBUTTONn past the last button falls back to the first, as on Windows.
    int defIndex = static_cast<int>((uType & MB_DEFMASK) >> kDefButtonShift);
    if (defIndex >= layout.count)
        defIndex = 0;
    box.setDefaultButton(added[defIndex]);
    added[defIndex]->setFocus();
    for (int i = 0; i < layout.count; ++i)
        if (layout.buttons[i].id == layout.escapeId)
            box.setEscapeButton(added[i]);
    if (layout.escapeId == kNoEscape)
        box.setWindowFlag(Qt::WindowCloseButtonHint, false);
}

// The box's answer: the button pressed, or the id a test script ended it with; a box closed
// any other way answers like Escape would, or 0 (failure) when Escape has no answer.
int answerOf(const QMessageBox& box, const BoxLayout& layout, int result)
{
    if (const QAbstractButton* clicked = box.clickedButton())
        for (int i = 0; i < layout.count; ++i)
            if (clicked == box.button(layout.buttons[i].qt))
                return layout.buttons[i].id;
    for (int i = 0; i < layout.count; ++i)
        if (layout.buttons[i].id == result)
            return result;
    return layout.escapeId;
}

}  // namespace

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    const UINT type = uType & MB_TYPEMASK;
    if (type >= kBoxLayouts.size())
        return 0;  // ERROR_INVALID_MSGBOX_STYLE on Windows
    QWidget* owner = kelvra::platform::widgetFromHandle(hWnd);
    if (hWnd && !owner)
        return 0;  // ERROR_INVALID_WINDOW_HANDLE
    // Windows captions a box "Error" when no caption is given.
    const char* caption = lpCaption ? lpCaption : "Error";
    const char* text = lpText ? lpText : "";

    // On the heap: a box goes away with its owner, also while it is open (a timer callback may
    // destroy the owner), and then must not be deleted a second time here.
    QPointer<QMessageBox> box = new QMessageBox(owner ? owner->window() : nullptr);
    box->setWindowTitle(QString::fromLocal8Bit(caption));
    box->setTextFormat(Qt::PlainText);  // the text is shown exactly, never read as markup
    box->setText(QString::fromLocal8Bit(text));
    box->setIcon(iconFor(uType));
    // Modal to the owner's window, like Windows disabling the owner; without an owner (or for
    // task- and system-modal boxes) to the whole program.
    const bool toOwner = owner && (uType & (MB_SYSTEMMODAL | MB_TASKMODAL)) == 0;
    box->setWindowModality(toOwner ? Qt::WindowModal : Qt::ApplicationModal);

    const BoxLayout& layout = kBoxLayouts[type];
    addButtons(*box, layout, uType);
    NoEscapeFilter noEscape;
    if (layout.escapeId == kNoEscape)
        box->installEventFilter(&noEscape);

    const int result = kelvra::platform::runModal(*box, ModalInfo{ModalKind::MessageBox, caption, text});
    if (!box)
        return 0;  // destroyed with its owner before anyone answered
    const int answer = answerOf(*box, layout, result);
    delete box.data();
    return answer;
}

BOOL WINAPI MessageBeep(UINT uType)
{
    (void)uType;
    QApplication::beep();
    return TRUE;
}
