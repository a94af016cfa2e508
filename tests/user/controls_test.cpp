// The standard controls through the USER functions: text, buttons and their notifications,
// the fields' typing rules, enabling, showing and destroying, posted messages, wsprintfA.
#include "dialog_fixture.h"

#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include <climits>
#include <cstring>

namespace {

class UserControls : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        dlg = create(104);
        ASSERT_TRUE(IsWindow(dlg));
        sentLog().clear();
    }
    void typeInto(int id, const char* keys)
    {
        QWidget* w = item(dlg, id);
        w->setFocus();
        QTest::keyClicks(w, keys);
    }
    HWND dlg = nullptr;
};

TEST_F(UserControls, TextGoesInAndOutOfEveryKind)
{
    for (int id : {20, 111, 1, 6, 114, 129, 102, 16}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(SetDlgItemTextA(dlg, id, "abc def"));
        EXPECT_EQ(text(dlg, id), "abc def");
        EXPECT_EQ(SendDlgItemMessageA(dlg, id, WM_GETTEXTLENGTH, 0, 0), 7);
        char small[4] = "xxx";
        EXPECT_EQ(GetDlgItemTextA(dlg, id, small, sizeof small), 3u) << "truncated, terminated";
        EXPECT_STREQ(small, "abc");
        EXPECT_TRUE(SetWindowTextA(GetDlgItem(dlg, id), ""));
        EXPECT_EQ(GetWindowTextA(GetDlgItem(dlg, id), small, sizeof small), 0);
    }
    // The number fields take whatever the program writes, letters included.
    SetDlgItemTextA(dlg, 112, "READY");
    EXPECT_EQ(text(dlg, 112), "READY");
    EXPECT_TRUE(SetWindowTextA(dlg, "New title"));
    char title[64];
    EXPECT_EQ(GetWindowTextA(dlg, title, sizeof title), 9);
    EXPECT_STREQ(title, "New title");

    char buffer[8] = "junk";
    EXPECT_FALSE(SetDlgItemTextA(dlg, 999, "x"));
    EXPECT_EQ(GetDlgItemTextA(dlg, 999, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "") << "a missing item leaves an empty string";
    EXPECT_EQ(SendDlgItemMessageA(dlg, 999, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_EQ(SendMessageA(reinterpret_cast<HWND>(0x4), WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_EQ(GetDlgItem(dlg, 999), nullptr);
}

TEST_F(UserControls, FieldsTakeDigitsOnlyAndReadOnlyFieldsNothing)
{
    SetDlgItemTextA(dlg, 20, "");
    typeInto(20, "2a5 -x.9");
    EXPECT_EQ(text(dlg, 20), "259");
    // Pasted text follows the same rule: all digits, or nothing.
    QApplication::clipboard()->setText("12ab");
    QTest::keyClick(item(dlg, 20), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(dlg, 20), "259");
    QApplication::clipboard()->setText("34");
    QTest::keyClick(item(dlg, 20), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(text(dlg, 20), "25934");
    // Editing keys still work.
    QTest::keyClick(item(dlg, 20), Qt::Key_Backspace);
    QTest::keyClick(item(dlg, 20), Qt::Key_Home);
    QTest::keyClick(item(dlg, 20), Qt::Key_Delete);
    EXPECT_EQ(text(dlg, 20), "593");

    for (int id : {111, 112, 128}) {
        SCOPED_TRACE(id);
        SetDlgItemTextA(dlg, id, "OFF");
        typeInto(id, "12x");
        QTest::keyClick(item(dlg, id), Qt::Key_Backspace);
        QTest::keyClick(item(dlg, id), Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(text(dlg, id), "OFF");
    }
    // EM_SETREADONLY turns the rule on and off.
    SendDlgItemMessageA(dlg, 21, EM_SETREADONLY, TRUE, 0);
    typeInto(21, "7");
    EXPECT_EQ(text(dlg, 21), "1");
    SendDlgItemMessageA(dlg, 21, EM_SETREADONLY, FALSE, 0);
    SendDlgItemMessageA(dlg, 21, EM_SETSEL, 0, -1);
    typeInto(21, "7");
    EXPECT_EQ(text(dlg, 21), "7");
}

TEST_F(UserControls, FieldsReportChanges)
{
    typeInto(21, "4");
    SetDlgItemTextA(dlg, 112, "REC");
    auto got = commands();
    EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{21, EN_CHANGE}, {112, EN_CHANGE}}));
    sentLog().clear();
    typeInto(21, "x");
    EXPECT_TRUE(commands().empty()) << "a refused key changes nothing";
}

TEST_F(UserControls, PushButtonsReportClicksWithTheirHandle)
{
    HWND rec = GetDlgItem(dlg, 1);
    QTest::mouseClick(widgetFromHandle(rec), Qt::LeftButton);
    SendDlgItemMessageA(dlg, 15, BM_CLICK, 0, 0);
    SetFocus(GetDlgItem(dlg, 4));
    QTest::keyClick(widgetFromHandle(GetDlgItem(dlg, 4)), Qt::Key_Space);
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{1, BN_CLICKED}, {15, BN_CLICKED}, {4, BN_CLICKED}}));
    EXPECT_EQ(reinterpret_cast<HWND>(sentLog().front().lParam), rec);
    EXPECT_EQ(SendMessageA(rec, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageA(rec, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageA(rec, BM_GETCHECK, 0, 0), BST_UNCHECKED) << "a push button has no check";

    // A disabled button sends nothing; the dialog manager's own state follows EnableWindow.
    sentLog().clear();
    EXPECT_FALSE(EnableWindow(rec, FALSE)) << "was enabled";
    EXPECT_FALSE(IsWindowEnabled(rec));
    QTest::mouseClick(widgetFromHandle(rec), Qt::LeftButton);
    SendMessageA(rec, BM_CLICK, 0, 0);
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(EnableWindow(rec, TRUE)) << "was disabled";
    EXPECT_TRUE(IsWindowEnabled(rec));
}

TEST_F(UserControls, UnitButtonsFormOneExclusiveGroup)
{
    auto checked = [this] {
        std::vector<int> on;
        for (int id = 16; id <= 19; ++id)
            if (IsDlgButtonChecked(dlg, id) == BST_CHECKED)
                on.push_back(id);
        return on;
    };
    EXPECT_TRUE(CheckDlgButton(dlg, 16, BST_CHECKED));
    EXPECT_EQ(checked(), std::vector<int>{16});
    EXPECT_TRUE(commands().empty()) << "checking by program sends no command";

    QTest::mouseClick(item(dlg, 17), Qt::LeftButton);
    EXPECT_EQ(checked(), std::vector<int>{17});
    QTest::mouseClick(item(dlg, 17), Qt::LeftButton);
    EXPECT_EQ(checked(), std::vector<int>{17}) << "clicking it again keeps it checked";
    SendDlgItemMessageA(dlg, 19, BM_CLICK, 0, 0);
    EXPECT_EQ(checked(), std::vector<int>{19});
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{17, BN_CLICKED}, {17, BN_CLICKED}, {19, BN_CLICKED}}))
        << "every click is a command, also on the checked button";
    sentLog().clear();

    EXPECT_TRUE(CheckRadioButton(dlg, 16, 19, 18));
    EXPECT_EQ(checked(), std::vector<int>{18});
    // BM_SETCHECK sets one button only, as on Windows; exclusivity is the user's clicks.
    CheckDlgButton(dlg, 16, BST_CHECKED);
    EXPECT_EQ(checked(), (std::vector<int>{16, 18}));
    QTest::mouseClick(item(dlg, 18), Qt::LeftButton);
    EXPECT_EQ(checked(), std::vector<int>{18});
    // Buttons outside the group are not touched by the group's exclusivity.
    EXPECT_EQ(IsDlgButtonChecked(dlg, 1), BST_UNCHECKED);
    EXPECT_EQ(SendDlgItemMessageA(dlg, 18, BM_GETSTATE, 0, 0) & BST_CHECKED, BST_CHECKED);
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{18, BN_CLICKED}}));
}

TEST_F(UserControls, ADisabledWindowKeepsItsLookButTakesNoInput)
{
    QWidget* w = widgetFromHandle(dlg);
    w->show();
    EXPECT_FALSE(EnableWindow(dlg, FALSE));
    EXPECT_FALSE(IsWindowEnabled(dlg));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, 1))) << "a child keeps its own state";
    EXPECT_TRUE(item(dlg, 1)->isEnabled()) << "not greyed";
    QTest::mouseClick(item(dlg, 1), Qt::LeftButton);
    QTest::keyClick(item(dlg, 20), Qt::Key_Escape);
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(EnableWindow(dlg, TRUE));
    QTest::mouseClick(item(dlg, 1), Qt::LeftButton);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(UserControls, ShowAndDestroy)
{
    HWND rec = GetDlgItem(dlg, 1);
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_TRUE(ShowWindow(rec, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(rec));
    EXPECT_FALSE(ShowWindow(rec, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(rec));

    std::vector<HWND> controls;
    for (int id : {1, 20, 123, 102, 114})
        controls.push_back(GetDlgItem(dlg, id));
    EXPECT_TRUE(DestroyWindow(dlg));
    EXPECT_EQ(count(WM_DESTROY), 1u);
    EXPECT_FALSE(IsWindow(dlg));
    for (HWND h : controls)
        EXPECT_FALSE(IsWindow(h)) << "controls go with their dialog";
    EXPECT_FALSE(DestroyWindow(dlg));
    EXPECT_EQ(GetDlgItem(dlg, 1), nullptr);
    EXPECT_FALSE(IsWindowVisible(dlg));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(UserControls, PostedMessagesArriveFromTheEventLoop)
{
    EXPECT_TRUE(PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0));
    EXPECT_TRUE(commands().empty()) << "not yet";
    QCoreApplication::processEvents();
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{7, BN_CLICKED}}));
    // A window destroyed before delivery gets nothing, and nothing breaks.
    HWND other = create(200);
    EXPECT_TRUE(PostMessageA(other, WM_COMMAND, 15, 0));
    DestroyWindow(other);
    sentLog().clear();
    QCoreApplication::processEvents();
    EXPECT_TRUE(commands().empty());
    EXPECT_FALSE(PostMessageA(other, WM_COMMAND, 15, 0));
}

TEST_F(UserControls, AProcedureMayDestroyItsDialogFromAClick)
{
    static INT_PTR (*const destroyOnClick)(HWND, UINT, WPARAM, LPARAM) =
        [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (msg == WM_COMMAND && LOWORD(wParam) == 15) {
            DestroyWindow(hwnd);
            return TRUE;
        }
        return FALSE;
    };
    HWND victim = create(200, nullptr, destroyOnClick);
    widgetFromHandle(victim)->show();
    QTest::mouseClick(item(victim, 15), Qt::LeftButton);
    EXPECT_FALSE(IsWindow(victim));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(UserWsprintf, FormatsAsWindowsDoes)
{
    char buffer[2048];
    EXPECT_EQ(wsprintfA(buffer, "%d|%u|%x|%X|%ld|%lu", -5, 4000000000u, 255, 255, -7, 7u), 24);
    EXPECT_STREQ(buffer, "-5|4000000000|ff|FF|-7|7");
    wsprintfA(buffer, "%05d|%-4d|%4s|%.2s|%c|%%|%s", 42, 7, "ab", "xyz", 'Q', static_cast<const char*>(nullptr));
    EXPECT_STREQ(buffer, "00042|7   |  ab|xy|Q|%|(null)");
    wsprintfA(buffer, "%I64d %I64u", -1234567890123LL, 18446744073709551615ULL);
    EXPECT_STREQ(buffer, "-1234567890123 18446744073709551615");
    wsprintfA(buffer, "%S|%ls|%C|%hs|%lc", u"wide", u"x", static_cast<int>(u'Z'), "n", static_cast<int>(u'\u00e9'));
    EXPECT_STREQ(buffer, "wide|x|Z|n|\u00e9") << "l, C and S mean UTF-16 text";
    wsprintfA(buffer, "%d frames", INT_MIN);
    EXPECT_STREQ(buffer, "-2147483648 frames");
    std::string big(3000, 'a');
    EXPECT_EQ(wsprintfA(buffer, "%s", big.c_str()), 1023) << "output stops at 1024 bytes";
    EXPECT_EQ(std::strlen(buffer), 1023u);
}

}  // namespace
