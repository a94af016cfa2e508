// The dialog manager's keyboard interface, the close box, and the modal loop of DialogBoxParamA.
#include "dialog_fixture.h"

#include <kelvra/platform/testing.h>

#include <QDialog>
#include <QTest>

namespace {

namespace kt = kelvra::platform::testing;

constexpr int kOkButton = 15;  // the OK button of the quick reference and About dialogs

class UserKeyboard : public DialogTest {
protected:
    HWND open(int id = 104)
    {
        HWND dlg = create(id);
        QWidget* w = widgetFromHandle(dlg);
        w->show();
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        sentLog().clear();
        return dlg;
    }
    // The command as the procedure got it: (id, code, control handle).
    static std::tuple<int, int, HWND> lastCommand()
    {
        for (auto it = sentLog().rbegin(); it != sentLog().rend(); ++it)
            if (it->msg == WM_COMMAND)
                return {LOWORD(it->wParam), HIWORD(it->wParam), reinterpret_cast<HWND>(it->lParam)};
        return {-1, -1, nullptr};
    }
};

TEST_F(UserKeyboard, EscapeIsCancelAndEnterIsOkUnlessAPushButtonHasTheFocus)
{
    HWND dlg = open();
    struct Case {
        int focus;      // control the key goes to
        Qt::Key key;
        int command;    // what the procedure hears
    };
    const Case cases[] = {
        {20, Qt::Key_Escape, IDCANCEL},  {3, Qt::Key_Escape, IDCANCEL},
        {20, Qt::Key_Return, IDOK},      {21, Qt::Key_Enter, IDOK},
        {17, Qt::Key_Return, IDOK},      {123, Qt::Key_Return, IDOK},
        {111, Qt::Key_Return, IDOK},     {3, Qt::Key_Return, 3},
        {15, Qt::Key_Enter, 15},         {6, Qt::Key_Return, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("key to control " + std::to_string(c.focus));
        sentLog().clear();
        SetFocus(GetDlgItem(dlg, c.focus));
        QTest::keyClick(QApplication::focusWidget(), c.key);
        ASSERT_EQ(commands().size(), 1u);
        auto [id, code, from] = lastCommand();
        EXPECT_EQ(id, c.command);
        EXPECT_EQ(code, BN_CLICKED);
        // The button's handle goes along: the focused one, or the one with the command's id.
        EXPECT_EQ(from, GetDlgItem(dlg, c.command));
        EXPECT_TRUE(IsWindowVisible(dlg)) << "neither key closes the dialog";
    }
    EXPECT_EQ(IsDlgButtonChecked(dlg, 17), BST_UNCHECKED) << "Enter does not click a radio button";
}

TEST_F(UserKeyboard, FocusStartsOnTheFirstTabStopAndTabFollowsTheTemplate)
{
    HWND dlg = open();
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1)) << "WM_INITDIALOG returned TRUE: REC has the focus";
    std::vector<int> order;
    for (int i = 0; i < 24; ++i) {
        order.push_back(GetDlgCtrlID(GetFocus()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    const std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 20, 123, 21, 23,
                                       16, 17, 18, 19, 10, 11, 12, 13, 14, 15, 1};
    EXPECT_EQ(order, expected) << "template order; read-only fields, labels and group boxes skipped";
    EXPECT_TRUE(commands().empty()) << "Tab alone sends nothing";

    // Checking a unit by program leaves the other units tab stops.
    CheckDlgButton(dlg, 16, BST_CHECKED);
    SetFocus(GetDlgItem(dlg, 23));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 17);
    // Once the user picks a unit, only the checked radio button of the group is a tab stop.
    SendDlgItemMessageA(dlg, 17, BM_CLICK, 0, 0);
    SetFocus(GetDlgItem(dlg, 23));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 17);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 10);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 17);
}

TEST_F(UserKeyboard, InitDialogGetsTheFirstTabStopAndFalseLeavesTheFocusAlone)
{
    behaviour().initDialog = FALSE;
    HWND dlg = create(104);
    ASSERT_FALSE(sentLog().empty());
    EXPECT_EQ(sentLog().front().msg, UINT(WM_INITDIALOG)) << "the first message the procedure hears";
    EXPECT_EQ(reinterpret_cast<HWND>(sentLog().front().wParam), GetDlgItem(dlg, 1));
    EXPECT_EQ(widgetFromHandle(dlg)->focusWidget(), nullptr);
    EXPECT_TRUE(IsWindowVisible(dlg)) << "WS_VISIBLE: shown once WM_INITDIALOG is done";
}

TEST_F(UserKeyboard, ArrowsMoveInsideTheGroupAndCheckUnitButtons)
{
    HWND dlg = open();
    CheckDlgButton(dlg, 16, BST_CHECKED);
    SetFocus(GetDlgItem(dlg, 16));
    sentLog().clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 17);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 17), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 16), BST_UNCHECKED);
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{17, BN_CLICKED}}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 19);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 16) << "the group wraps around at its WS_GROUP end";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 19);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 19), BST_CHECKED);
    EXPECT_EQ(commands().size(), 5u);

    // Between push buttons the arrows only move the focus.
    SetFocus(GetDlgItem(dlg, 1));
    sentLog().clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 112) << "back round the group to the last field";
    EXPECT_TRUE(commands().empty());
}

TEST_F(UserKeyboard, TheCloseBoxAsksTheProcedure)
{
    HWND dlg = open();
    widgetFromHandle(dlg)->close();
    EXPECT_EQ(count(WM_CLOSE), 1u);
    EXPECT_TRUE(IsWindowVisible(dlg)) << "the procedure did not end the dialog";

    // Left to the dialog manager, WM_CLOSE becomes a posted IDCANCEL; still nothing closes.
    behaviour().handleClose = FALSE;
    sentLog().clear();
    widgetFromHandle(dlg)->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{IDCANCEL, BN_CLICKED}}));
    EXPECT_TRUE(IsWindowVisible(dlg));

    EXPECT_TRUE(EndDialog(dlg, 5));
    EXPECT_FALSE(IsWindowVisible(dlg)) << "EndDialog hides a modeless dialog";
    EXPECT_TRUE(IsWindow(dlg)) << "and leaves its destruction to DestroyWindow";
    EXPECT_FALSE(EndDialog(nullptr, 0));
}

class UserModalLoop : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        kt::enableScriptedModals();
    }
    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty());
        EXPECT_TRUE(kt::timedOutModals().empty());
        kt::disableScriptedModals();
        DialogTest::TearDown();
    }
};

TEST_F(UserModalLoop, ReturnsTheEndDialogValueAndDisablesTheOwnerMeanwhile)
{
    HWND owner = create(104);
    behaviour().endOnCommand = kOkButton;
    behaviour().endResult = 77;
    HWND seen = nullptr;
    bool ownerEnabledInside = true;
    kt::scriptModal([&](QDialog& dialog, const kelvra::platform::ModalInfo& info) {
        EXPECT_EQ(info.kind, kelvra::platform::ModalKind::Dialog);
        EXPECT_EQ(info.caption, "Quick Reference of main controls");
        seen = kelvra::platform::handleFromWidget(&dialog);
        ownerEnabledInside = IsWindowEnabled(owner);
        EXPECT_EQ(GetActiveWindow(), seen);
        EXPECT_EQ(GetParent(seen), owner);
        QPoint expected = widgetFromHandle(owner)->mapToGlobal(
            QPoint(kelvra::platform::mulDiv(47, 6, 4), 0));
        EXPECT_EQ(dialog.geometry().topLeft(), expected) << "at (47, 0) from the owner's client area";
        QTest::keyClick(&dialog, Qt::Key_Escape);  // IDCANCEL: not handled, nothing closes
        EXPECT_TRUE(dialog.isVisible());
        QTest::mouseClick(widgetFromHandle(GetDlgItem(seen, kOkButton)), Qt::LeftButton);
    });
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(900), owner,
                                     recordingProc, 0);
    EXPECT_EQ(result, 77);
    EXPECT_FALSE(ownerEnabledInside);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_FALSE(IsWindow(seen)) << "the dialog is destroyed when its loop ends";
    EXPECT_EQ(count(WM_DESTROY), 1u);
    EXPECT_EQ(count(WM_CLOSE), 0u) << "ending the loop does not ask the procedure to close";
}

TEST_F(UserModalLoop, EndDialogDuringInitDialogNeverShowsTheDialog)
{
    static INT_PTR (*const endAtOnce)(HWND, UINT, WPARAM, LPARAM) =
        [](HWND hwnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            EndDialog(hwnd, 3);
        return FALSE;
    };
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCE(200), nullptr, endAtOnce, 0), 3);
    EXPECT_TRUE(kt::modalHistory().empty()) << "no modal loop ran";
}

TEST_F(UserModalLoop, AnswerFromOutsideAndMissingTemplates)
{
    kt::scriptModal(kt::answer(9));
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCE(600), nullptr, recordingProc, 0), 9);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCE(4242), nullptr, recordingProc, 0), -1);
    EXPECT_EQ(CreateDialogParamA(nullptr, "NOSUCH", nullptr, recordingProc, 0), nullptr);
}

}  // namespace
