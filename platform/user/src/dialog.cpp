// The dialog manager: dialogs made from templates, their procedures, keyboard interface and
// modal loop (DialogBoxParamA, CreateDialogParamA, EndDialog), after Windows' dialog.c.
#include "dialog_impl.h"

#include <kelvra/user/modal.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <cstdio>

namespace kelvra::platform {

namespace {

// Windows keeps a new dialog's frame on the work area. The frame is the window manager's, so
// its size is estimated with Windows' own metrics: a 3 px dialog frame and an 18 px caption.
constexpr int kFrameWidth = 3;
constexpr int kCaptionHeight = 18;

std::vector<HWND>& dialogs()
{
    static std::vector<HWND> live;
    return live;
}

Qt::WindowFlags windowFlagsFor(DWORD style, bool owned)
{
    // A dialog with a minimize box (or without an owner) is a window of its own in the task
    // list; an owned one stays above its owner.
    Qt::WindowFlags flags = ((style & WS_MINIMIZEBOX) || !owned) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if ((style & WS_CAPTION) == WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    return flags;
}

bool takesFocus(QWidget* w, QWidget* dialog)
{
    return w && w->focusPolicy() != Qt::NoFocus && w->isVisibleTo(dialog) && w->isEnabledTo(dialog);
}

}  // namespace

// ---- DialogWidget ----------------------------------------------------------------------------

DialogWidget::DialogWidget(QWidget* owner, HWND hwnd, Qt::WindowFlags flags)
    : QDialog(owner, flags), hwnd_(hwnd)
{
}

void DialogWidget::keyPressEvent(QKeyEvent* event)
{
    // Keys that reach the dialog itself (its controls forward theirs): the focus is wherever
    // the application says it is.
    Dialog* d = dialogFromHandle(hwnd_);
    HWND focus = handleFromWidget(QApplication::focusWidget());
    if (d && d->handleKey(event, focus))
        event->accept();
    else
        event->ignore();
}

void DialogWidget::closeEvent(QCloseEvent* event)
{
    // The title bar's close box only asks: the procedure gets WM_CLOSE, and the dialog ends
    // when (and if) it calls EndDialog.
    event->ignore();
    if (dialogFromHandle(hwnd_))
        SendMessageA(hwnd_, WM_CLOSE, 0, 0);
}

void DialogWidget::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    Dialog* d = dialogFromHandle(hwnd_);
    if (!d)
        return;
    // The client and static edges are non-client parts on Windows; here they are drawn along
    // the client area's border, which keeps client coordinates exactly those of the template.
    QPainter p(this);
    drawControlEdges(p, palette(), rect(), 0, d->dialogTemplate().exStyle);
}

// ---- Dialog ----------------------------------------------------------------------------------

Dialog::Dialog(const DialogTemplate& tmpl, HWND owner, DLGPROC proc) : tmpl_(&tmpl), proc_(proc)
{
    QWidget* ownerWidget = widgetFromHandle(owner);
    if (ownerWidget)
        ownerWidget = ownerWidget->window();  // the owner is always a top-level window
    widget_ = new DialogWidget(ownerWidget, handle(), windowFlagsFor(tmpl.style, ownerWidget));
    widget_->setWindowTitle(QString::fromLocal8Bit(tmpl.caption.c_str()));
    QFont font = dialogFont(tmpl.fontFace, tmpl.hasFont ? tmpl.pointSize : 0);
    widget_->setFont(font);
    units_ = measureBaseUnits(font);
    widget_->setSizeGripEnabled(false);
    widget_->setFixedSize(mulDiv(tmpl.cx, units_.x, 4), mulDiv(tmpl.cy, units_.y, 8));
    place(ownerWidget);
    dialogs().push_back(handle());
}

Dialog::~Dialog()
{
    auto& live = dialogs();
    live.erase(std::remove(live.begin(), live.end(), handle()), live.end());
    if (!widget_)
        return;
    widget_->hide();
    // Inside runModal the widget must outlive the loop; DialogBoxParamA deletes it after.
    if (!modal_->running)
        widget_->deleteLater();
}

// The template's position is the client area's, in dialog units from the owner's client area
// (from the screen without an owner or with DS_ABSALIGN; centred with DS_CENTER); the frame
// goes around it and stays on the work area.
void Dialog::place(QWidget* ownerWidget)
{
    QScreen* screen = ownerWidget ? ownerWidget->screen() : QGuiApplication::primaryScreen();
    QSize size = widget_->size();
    QPoint pos;
    if (tmpl_->style & DS_CENTER) {
        QRect area = ownerWidget ? ownerWidget->frameGeometry()
                                 : (screen ? screen->availableGeometry() : QRect());
        pos = area.center() - QPoint(size.width() / 2, size.height() / 2);
    } else {
        bool fromScreen = !ownerWidget || (tmpl_->style & DS_ABSALIGN);
        QPoint origin = !fromScreen ? ownerWidget->mapToGlobal(QPoint(0, 0))
                                    : (screen ? screen->geometry().topLeft() : QPoint());
        pos = origin + QPoint(mulDiv(tmpl_->x, units_.x, 4), mulDiv(tmpl_->y, units_.y, 8));
    }
    if (screen) {
        QRect work = screen->availableGeometry();
        int caption = (tmpl_->style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight : 0;
        if (pos.x() + size.width() + kFrameWidth > work.right() + 1)
            pos.setX(work.right() + 1 - size.width() - kFrameWidth);
        if (pos.y() + size.height() + kFrameWidth > work.bottom() + 1)
            pos.setY(work.bottom() + 1 - size.height() - kFrameWidth);
        pos.setX(std::max(pos.x(), work.left() + kFrameWidth));
        pos.setY(std::max(pos.y(), work.top() + kFrameWidth + caption));
    }
    widget_->setGeometry(QRect(pos, size));
}

bool Dialog::createControls(std::string& error)
{
    HWND previous = nullptr;
    for (const DialogItemTemplate& item : tmpl_->items) {
        ControlFactory factory = findControlClass(item.className);
        if (!factory) {
            error = "control " + std::to_string(item.id) + ": no window class \"" +
                    item.className + "\"";
            return false;
        }
        QRect rect = dialogUnitsToPixels(units_, item.x, item.y, item.cx, item.cy);
        Control* control = factory(ControlCreateInfo{item, handle(), previous, widget_, rect});
        if (!control) {
            error = "control " + std::to_string(item.id) + " of class " + item.className +
                    " could not be made";
            return false;
        }
        items_.push_back(control->handle());
        previous = control->handle();
    }
    setTabOrder();
    return true;
}

void Dialog::setTabOrder()
{
    // Tab order is template order.
    QWidget* last = nullptr;
    for (HWND h : items_) {
        QWidget* w = widgetFromHandle(h);
        if (!w || w->focusPolicy() == Qt::NoFocus)
            continue;
        if (last)
            QWidget::setTabOrder(last, w);
        last = w;
    }
}

Dialog* Dialog::create(const DialogTemplate& tmpl, HWND owner, DLGPROC proc, LPARAM param,
                       std::string& error)
{
    auto* d = new Dialog(tmpl, owner, proc);
    HWND self = d->handle();
    if (!d->createControls(error)) {
        DestroyWindow(self);
        return nullptr;
    }
    // WM_INITDIALOG goes out before the dialog is first shown, with the control that would get
    // the focus; TRUE asks the dialog manager to put the focus there.
    HWND first = d->firstTabItem();
    d->initialized_ = true;
    LRESULT wantsFocus = SendMessageA(self, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
    if (!dialogFromHandle(self)) {
        error = "the dialog procedure destroyed the dialog during WM_INITDIALOG";
        return nullptr;
    }
    if (wantsFocus) {
        if (HWND focus = d->firstTabItem())
            SetFocus(focus);
    }
    return d;
}

LRESULT Dialog::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    HWND self = handle();
    // The procedure hears nothing before WM_INITDIALOG (controls writing their initial state
    // while the template is being built notify nobody).
    if (proc_ && initialized_) {
        INT_PTR handled = proc_(self, msg, wParam, lParam);
        if (!windowFromHandle(self))
            return handled;  // the procedure destroyed its dialog
        if (handled)
            return handled;
    }
    return defaultMessage(msg, wParam, lParam);
}

LRESULT Dialog::defaultMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CLOSE:
        // DefDlgProc answers an unhandled WM_CLOSE with a posted IDCANCEL command; the dialog
        // itself stays until its procedure ends it.
        PostMessageA(handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(handle(), IDCANCEL)));
        return 0;
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return Window::message(msg, wParam, lParam);
    default:
        return 0;
    }
}

std::vector<HWND> Dialog::items() const
{
    std::vector<HWND> alive;
    for (HWND h : items_)
        if (windowFromHandle(h))
            alive.push_back(h);
    return alive;
}

void Dialog::end(INT_PTR result)
{
    modal_->ended = true;
    modal_->result = result;
    // Windows enables the owner before hiding the dialog, so that the owner gets activated.
    if (modal_->ownerToEnable) {
        EnableWindow(modal_->ownerToEnable, TRUE);
        modal_->ownerToEnable = nullptr;
    }
    if (!widget_)
        return;
    if (modal_->running)
        widget_->done(static_cast<int>(result));
    else
        widget_->hide();
}

HWND Dialog::firstTabItem() const
{
    for (HWND h : items()) {
        Control* c = controlFromHandle(h);
        if (c && (c->style() & WS_TABSTOP) && takesFocus(c->widget(), widget_))
            return h;
    }
    return nullptr;
}

std::vector<HWND> Dialog::groupOf(HWND control) const
{
    std::vector<HWND> all = items();
    auto it = std::find(all.begin(), all.end(), control);
    if (it == all.end())
        return {};
    size_t i = static_cast<size_t>(it - all.begin());
    auto startsGroup = [](HWND h) {
        Control* c = controlFromHandle(h);
        return c && (c->style() & WS_GROUP);
    };
    size_t start = i;
    while (start > 0 && !startsGroup(all[start]))
        --start;
    size_t end = i + 1;
    while (end < all.size() && !startsGroup(all[end]))
        ++end;
    return std::vector<HWND>(all.begin() + static_cast<long>(start), all.begin() + static_cast<long>(end));
}

HWND Dialog::nextGroupItem(HWND from, bool previous) const
{
    std::vector<HWND> group = groupOf(from);
    auto it = std::find(group.begin(), group.end(), from);
    if (it == group.end())
        return from;
    size_t n = group.size();
    size_t i = static_cast<size_t>(it - group.begin());
    for (size_t step = 1; step < n; ++step) {
        size_t j = previous ? (i + n - step) % n : (i + step) % n;
        if (takesFocus(widgetFromHandle(group[j]), widget_))
            return group[j];
    }
    return from;
}

// ---- Keyboard ----------------------------------------------------------------------------------

bool Dialog::handleKey(QKeyEvent* event, HWND focus)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    HWND self = handle();
    switch (event->key()) {
    case Qt::Key_Escape:
        // Escape is always IDCANCEL, whether or not there is such a button.
        SendMessageA(self, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(self, IDCANCEL)));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // A focused push button is clicked; otherwise the default push button's command, and
        // with none, IDOK. A focused edit or radio button does not take Enter.
        Control* focused = controlFromHandle(focus);
        if (focused && focused->dialog() == self && focused->isPushButton() &&
            focused->widget()->isEnabled()) {
            SendMessageA(self, WM_COMMAND, MAKEWPARAM(focused->controlId(), BN_CLICKED),
                         reinterpret_cast<LPARAM>(focus));
            return true;
        }
        int id = IDOK;
        for (HWND h : items()) {
            Control* c = controlFromHandle(h);
            if (c && (c->style() & BS_TYPEMASK) == BS_DEFPUSHBUTTON && c->isPushButton()) {
                if (!c->widget()->isEnabled())
                    return true;  // a disabled default button swallows Enter
                id = c->controlId();
                break;
            }
        }
        SendMessageA(self, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(self, id)));
        return true;
    }
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        if (!controlFromHandle(focus))
            return false;
        moveInGroup(focus, event->key() == Qt::Key_Left || event->key() == Qt::Key_Up);
        return true;
    default:
        return false;
    }
}

// The arrow keys move the focus inside the group; an auto radio button that gets the focus
// this way is checked and clicked, as Windows' button does on a keyboard WM_SETFOCUS.
void Dialog::moveInGroup(HWND from, bool previous)
{
    HWND next = nextGroupItem(from, previous);
    if (!next || next == from)
        return;
    SetFocus(next);
    Control* c = controlFromHandle(next);
    if (c && c->isAutoRadioButton() && SendMessageA(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
        SendMessageA(next, BM_CLICK, 0, 0);
}

bool forwardDialogKey(HWND control, QKeyEvent* event)
{
    Control* c = controlFromHandle(control);
    Dialog* d = c ? dialogFromHandle(c->dialog()) : nullptr;
    return d && d->handleKey(event, control);
}

// ---- Lookups -----------------------------------------------------------------------------------

Dialog* dialogFromHandle(HWND hwnd)
{
    return dynamic_cast<Dialog*>(windowFromHandle(hwnd));
}

std::vector<HWND>& modalDialogStack()
{
    static std::vector<HWND> stack;
    return stack;
}

std::vector<HWND> liveDialogs()
{
    return dialogs();
}

BaseUnits dialogBaseUnits(HWND dialog)
{
    Dialog* d = dialogFromHandle(dialog);
    return d ? d->units() : BaseUnits{};
}

}  // namespace kelvra::platform

// ---- Exported functions ------------------------------------------------------------------------

using kelvra::platform::Dialog;
using kelvra::platform::DialogTemplate;

namespace {

const DialogTemplate* templateOrComplain(LPCSTR name)
{
    const DialogTemplate* t = kelvra::platform::findDialogTemplate(name);
    if (!t) {
        if (IS_INTRESOURCE(name))
            std::fprintf(stderr, "dialog: no template %u\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(name)));
        else
            std::fprintf(stderr, "dialog: no template \"%s\"\n", name ? name : "");
    }
    return t;
}

HWND rootOwner(HWND owner)
{
    QWidget* w = kelvra::platform::widgetFromHandle(owner);
    if (!w)
        return nullptr;
    HWND root = kelvra::platform::handleFromWidget(w->window());
    return root ? root : owner;
}

Dialog* makeDialog(const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param)
{
    std::string error;
    Dialog* d = Dialog::create(t, rootOwner(owner), proc, param, error);
    if (!d)
        std::fprintf(stderr, "dialog: %s\n", error.c_str());
    return d;
}

Dialog* makeDialog(LPCSTR name, HWND owner, DLGPROC proc, LPARAM param)
{
    const DialogTemplate* t = templateOrComplain(name);
    return t ? makeDialog(*t, owner, proc, param) : nullptr;
}

HWND showModeless(Dialog* d)
{
    if (!d)
        return nullptr;
    HWND self = d->handle();
    // A modeless dialog with WS_VISIBLE shows itself once WM_INITDIALOG is done.
    if ((d->dialogTemplate().style & WS_VISIBLE) && !d->modalState()->ended)
        ShowWindow(self, SW_SHOWNORMAL);
    return self;
}

}  // namespace

HWND kelvra::platform::createDialogIndirect(const DialogTemplate& tmpl, HWND owner, DLGPROC proc,
                                            LPARAM param)
{
    return showModeless(makeDialog(tmpl, owner, proc, param));
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    return showModeless(makeDialog(lpTemplateName, hWndParent, lpDialogFunc, dwInitParam));
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    using namespace kelvra::platform;
    Dialog* d = makeDialog(lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    if (!d)
        return -1;
    HWND self = d->handle();
    std::shared_ptr<ModalState> state = d->modalState();
    QPointer<DialogWidget> widget = d->dialogWidget();
    // EndDialog may already have come from WM_INITDIALOG: then the dialog is never shown.
    if (!state->ended) {
        HWND owner = rootOwner(hWndParent);
        if (owner && IsWindowEnabled(owner)) {
            EnableWindow(owner, FALSE);  // the owner takes no input while the dialog runs
            state->ownerToEnable = owner;
        }
        state->running = true;
        modalDialogStack().push_back(self);
        ModalInfo info{ModalKind::Dialog, d->dialogTemplate().caption, ""};
        int loopResult = runModal(*widget, info);
        auto& stack = modalDialogStack();
        stack.erase(std::remove(stack.begin(), stack.end(), self), stack.end());
        state->running = false;
        if (!state->ended)  // closed from outside EndDialog (a test's answer)
            state->result = loopResult;
    }
    if (state->ownerToEnable) {
        EnableWindow(state->ownerToEnable, TRUE);
        state->ownerToEnable = nullptr;
    }
    if (IsWindow(self))
        DestroyWindow(self);
    else if (widget)
        widget->deleteLater();  // the procedure destroyed the dialog inside the loop
    return state->result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Dialog* d = kelvra::platform::dialogFromHandle(hDlg);
    if (!d)
        return FALSE;
    d->end(nResult);
    return TRUE;
}
