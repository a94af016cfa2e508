// The dialog manager's keyboard interface, the close box, and the modal loop of DialogBoxParamA.
#include "dialog_fixture.h"

#include <QDialog>

namespace {

constexpr int kOkButton = 15;  // the OK button of the quick reference and About dialogs

using UserKeyboard = MainDialogTest;

TEST_F(UserKeyboard, EscapeIsCancelAndEnterIsOkUnlessAPushButtonHasTheFocus)
{
    const std::tuple<int, Qt::Key, int> cases[] = {  // (focused control, key, command heard)
        {20, Qt::Key_Escape, IDCANCEL}, {3, Qt::Key_Escape, IDCANCEL}, {20, Qt::Key_Return, IDOK},
        {21, Qt::Key_Enter, IDOK},      {17, Qt::Key_Return, IDOK},    {123, Qt::Key_Return, IDOK},
        {111, Qt::Key_Return, IDOK},    {3, Qt::Key_Return, 3},        {15, Qt::Key_Enter, 15},
        {6, Qt::Key_Return, 6},
    };
    for (auto [id, k, command] : cases) {
        SCOPED_TRACE("key to control " + std::to_string(id));
        sentLog.clear();
        focus(id);
        key(k);
        ASSERT_EQ(commands(), (Commands{{command, BN_CLICKED}}));
        // The button's handle goes along: the focused one, or the one with the command's id.
        auto sent = std::find_if(sentLog.begin(), sentLog.end(), [](const Sent& s) { return s.msg == WM_COMMAND; });
        EXPECT_EQ(reinterpret_cast<HWND>(sent->lParam), GetDlgItem(dlg, command));
        EXPECT_TRUE(IsWindowVisible(dlg)) << "neither key closes the dialog";
    }
    EXPECT_EQ(IsDlgButtonChecked(dlg, 17), BST_UNCHECKED) << "Enter does not click a radio button";
}

TEST_F(UserKeyboard, FocusStartsOnTheFirstTabStopAndTabFollowsTheTemplate)
{
    std::vector<int> order = {GetDlgCtrlID(GetFocus())};  // WM_INITDIALOG returned TRUE
    for (int i = 0; i < 23; ++i)
        order.push_back(key(Qt::Key_Tab));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 20, 123, 21, 23, 16, 17, 18, 19, 10, 11, 12,
                                       13, 14, 15, 1}))
        << "template order; read-only fields, labels and group boxes skipped";
    EXPECT_TRUE(commands().empty()) << "Tab alone sends nothing";

    // Checking a unit by program leaves the other units tab stops.
    CheckDlgButton(dlg, 16, BST_CHECKED);
    focus(23);
    EXPECT_EQ(key(Qt::Key_Tab), 16);
    EXPECT_EQ(key(Qt::Key_Tab), 17);
    // Once the user picks a unit, only the checked radio button of the group is a tab stop.
    SendDlgItemMessageA(dlg, 17, BM_CLICK, 0, 0);
    focus(23);
    EXPECT_EQ(key(Qt::Key_Tab), 17);
    EXPECT_EQ(key(Qt::Key_Tab), 10);
    EXPECT_EQ(key(Qt::Key_Backtab), 17);
}

TEST_F(UserKeyboard, ArrowsMoveInsideTheGroupAndCheckUnitButtons)
{
    CheckDlgButton(dlg, 16, BST_CHECKED);
    focus(16);
    const std::pair<Qt::Key, int> unitSteps[] = {
        {Qt::Key_Right, 17}, {Qt::Key_Down, 18}, {Qt::Key_Down, 19}, {Qt::Key_Down, 16}, {Qt::Key_Up, 19}};
    for (auto [k, id] : unitSteps) {
        EXPECT_EQ(key(k), id) << "the group wraps around at its WS_GROUP end";
        EXPECT_EQ(checked(16, 19), std::vector<int>{id});
    }
    EXPECT_EQ(commands(), (Commands{{17, BN_CLICKED}, {18, BN_CLICKED}, {19, BN_CLICKED}, {16, BN_CLICKED},
                                    {19, BN_CLICKED}}));

    // Between push buttons the arrows only move the focus, back round the group to the last field.
    focus(1);
    sentLog.clear();
    for (auto [k, id] : {std::pair{Qt::Key_Right, 2}, {Qt::Key_Left, 1}, {Qt::Key_Left, 112}})
        EXPECT_EQ(key(k), id);
    EXPECT_TRUE(commands().empty());
}

TEST_F(UserKeyboard, TheCloseBoxAsksTheProcedure)
{
    widgetFromHandle(dlg)->close();
    EXPECT_EQ(count(WM_CLOSE), 1u);
    EXPECT_TRUE(IsWindowVisible(dlg)) << "the procedure did not end the dialog";

    // Left to the dialog manager, WM_CLOSE becomes a posted IDCANCEL; still nothing closes.
    behaviour.handleClose = FALSE;
    sentLog.clear();
    widgetFromHandle(dlg)->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(commands(), (Commands{{IDCANCEL, BN_CLICKED}}));
    EXPECT_TRUE(IsWindowVisible(dlg));

    EXPECT_TRUE(EndDialog(dlg, 5));
    EXPECT_FALSE(IsWindowVisible(dlg)) << "EndDialog hides a modeless dialog";
    EXPECT_TRUE(IsWindow(dlg)) << "and leaves its destruction to DestroyWindow";
    EXPECT_FALSE(EndDialog(nullptr, 0));
}

// Runs template `id` in DialogBoxParamA's modal loop.
INT_PTR run(int id, HWND owner = nullptr)
{
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(id), owner, recordingProc, 0);
}

using UserDialog = DialogTest;

TEST_F(UserDialog, InitDialogGetsTheFirstTabStopAndFalseLeavesTheFocusAlone)
{
    behaviour.initDialog = FALSE;
    dlg = create(104);
    ASSERT_FALSE(sentLog.empty());
    EXPECT_EQ(sentLog.front().msg, UINT(WM_INITDIALOG)) << "the first message the procedure hears";
    EXPECT_EQ(reinterpret_cast<HWND>(sentLog.front().wParam), GetDlgItem(dlg, 1));
    EXPECT_EQ(widgetFromHandle(dlg)->focusWidget(), nullptr);
    EXPECT_TRUE(IsWindowVisible(dlg)) << "WS_VISIBLE: shown once WM_INITDIALOG is done";
}

TEST_F(UserDialog, ModalLoopReturnsTheEndDialogValueAndDisablesTheOwnerMeanwhile)
{
    HWND owner = create(104);
    behaviour.endOnCommand = kOkButton;
    behaviour.endResult = 77;
    HWND seen = nullptr;
    bool ownerEnabledInside = true;
    kt::scriptModal([&](QDialog& dialog, const kelvra::platform::ModalInfo& info) {
        EXPECT_EQ(info.kind, kelvra::platform::ModalKind::Dialog);
        EXPECT_EQ(info.caption, "Quick Reference of main controls");
        seen = kelvra::platform::handleFromWidget(&dialog);
        ownerEnabledInside = IsWindowEnabled(owner);
        EXPECT_EQ(GetActiveWindow(), seen);
        EXPECT_EQ(GetParent(seen), owner);
        EXPECT_EQ(dialog.geometry().topLeft(), widgetFromHandle(owner)->mapToGlobal(QPoint(mulDiv(47, 6, 4), 0)))
            << "at (47, 0) from the owner's client area";
        QTest::keyClick(&dialog, Qt::Key_Escape);  // IDCANCEL: not handled, nothing closes
        EXPECT_TRUE(dialog.isVisible());
        QTest::mouseClick(item(kOkButton, seen), Qt::LeftButton);
    });
    EXPECT_EQ(run(900, owner), 77);
    EXPECT_FALSE(ownerEnabledInside);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_FALSE(IsWindow(seen)) << "the dialog is destroyed when its loop ends";
    EXPECT_EQ(count(WM_DESTROY), 1u);
    EXPECT_EQ(count(WM_CLOSE), 0u) << "ending the loop does not ask the procedure to close";
}

TEST_F(UserDialog, ModalLoopEndingEarlyAnswersFromOutsideAndMissingTemplates)
{
    behaviour.endOnCommand = 0;  // EndDialog during WM_INITDIALOG
    behaviour.endResult = 3;
    EXPECT_EQ(run(200), 3);
    EXPECT_TRUE(kt::modalHistory().empty()) << "the dialog was never shown: no modal loop ran";

    behaviour = ProcBehaviour{};
    kt::scriptModal(kt::answer(9));
    EXPECT_EQ(run(600), 9);
    EXPECT_EQ(run(4242), -1);
    EXPECT_EQ(CreateDialogParamA(nullptr, "NOSUCH", nullptr, recordingProc, 0), nullptr);
}

}  // namespace
