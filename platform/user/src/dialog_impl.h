// The dialog window behind DialogBoxParamA and CreateDialogParamA: its widget, its controls in
// template order, the keyboard interface and the modal state.
#pragma once

#include <kelvra/user/templates.h>
#include <kelvra/user/dialog_units.h>
#include <kelvra/user/control.h>
#include <kelvra/user/control_drawing.h>

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QKeyEvent;

namespace kelvra::platform {

class Dialog;

class DialogWidget : public QDialog {
public:
    DialogWidget(QWidget* owner, HWND hwnd, Qt::WindowFlags flags);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    HWND hwnd_;
};

// What DialogBoxParamA and EndDialog share; it outlives the Dialog when a procedure destroys
// its own modal dialog.
struct ModalState {
    bool running = false;      // inside runModal
    bool ended = false;        // EndDialog was called
    INT_PTR result = 0;
    HWND ownerToEnable = nullptr;  // disabled by DialogBoxParamA, enabled again at the end
};

class Dialog : public Window {
public:
    // Makes the dialog and its controls and sends WM_INITDIALOG; nullptr with `error` set when
    // a control cannot be made, or when the procedure destroyed the dialog meanwhile.
    static Dialog* create(const DialogTemplate& tmpl, HWND owner, DLGPROC proc, LPARAM param,
                          std::string& error);
    ~Dialog() override;

    QWidget* widget() const override { return widget_; }
    DialogWidget* dialogWidget() const { return widget_; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;

    const DialogTemplate& dialogTemplate() const { return *tmpl_; }
    BaseUnits units() const { return units_; }
    std::shared_ptr<ModalState> modalState() const { return modal_; }
    // The controls made from the template, in its order, that still exist.
    std::vector<HWND> items() const;

    // EndDialog: remember the result, give the owner back its input, hide the dialog.
    void end(INT_PTR result);

    // Keyboard interface; `focus` is the control the key went to (or null). Returns true when
    // the key belongs to the dialog manager (Enter, Escape, arrows between controls).
    bool handleKey(QKeyEvent* event, HWND focus);

    // GetNextDlgGroupItem: the next (or previous) control of `from`'s group, wrapping around
    // inside the group, skipping hidden, disabled and focus-less controls.
    HWND nextGroupItem(HWND from, bool previous) const;
    // The controls of `control`'s group: from the nearest WS_GROUP at or before it up to the
    // next WS_GROUP.
    std::vector<HWND> groupOf(HWND control) const;
    // GetNextDlgTabItem(dialog, NULL, FALSE): the first visible, enabled WS_TABSTOP control.
    HWND firstTabItem() const;

private:
    Dialog(const DialogTemplate& tmpl, HWND owner, DLGPROC proc);
    bool createControls(std::string& error);
    void place(QWidget* ownerWidget);
    void setTabOrder();
    LRESULT defaultMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void moveInGroup(HWND from, bool previous);

    const DialogTemplate* tmpl_;
    DLGPROC proc_;
    BaseUnits units_;
    QPointer<DialogWidget> widget_;
    std::vector<HWND> items_;
    bool initialized_ = false;  // WM_INITDIALOG has gone out
    std::shared_ptr<ModalState> modal_ = std::make_shared<ModalState>();
};

Dialog* dialogFromHandle(HWND hwnd);
Control* controlFromHandle(HWND hwnd);

// Dialogs now running modally (DialogBoxParamA), innermost last.
std::vector<HWND>& modalDialogStack();
// Dialogs alive, oldest first (GetFocus and GetActiveWindow fall back on them when the
// platform has no active window, as under the offscreen platform before activation).
std::vector<HWND> liveDialogs();

// Window classes.
ControlFactory findControlClass(const std::string& className);
void registerBuiltinControlClasses();

}  // namespace kelvra::platform
