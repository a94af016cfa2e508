// The standard controls through the USER functions: text, buttons and their notifications,
// the fields' typing rules, enabling and destroying, posted messages, failures, wsprintfA.
#include "dialog_fixture.h"

#include <QClipboard>

#include <climits>
#include <cstring>
#include <optional>

namespace {

class UserControls : public MainDialogTest {
protected:
    void type(int id, const char* keys)
    {
        focus(id);
        QTest::keyClicks(item(id), keys);
    }
    void paste(int id, const char* clip)
    {
        QApplication::clipboard()->setText(clip);
        QTest::keyClick(item(id), Qt::Key_V, Qt::ControlModifier);
    }
};

TEST_F(UserControls, TextGoesInAndOutOfEveryKind)
{
    for (int id : {20, 111, 1, 6, 114, 129, 102, 16}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(SendDlgItemMessageA(dlg, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("abc def")));
        EXPECT_EQ(text(id), "abc def") << "fields take whatever the program writes, letters included";
        EXPECT_EQ(SendDlgItemMessageA(dlg, id, WM_GETTEXTLENGTH, 0, 0), 7);
        char small[4] = "xxx";
        EXPECT_EQ(GetDlgItemTextA(dlg, id, small, sizeof small), 3u) << "truncated, terminated";
        EXPECT_STREQ(small, "abc");
        EXPECT_TRUE(SetWindowTextA(GetDlgItem(dlg, id), ""));
        EXPECT_EQ(GetWindowTextA(GetDlgItem(dlg, id), small, sizeof small), 0);
    }
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
    type(20, "2a5 -x.9");
    EXPECT_EQ(text(20), "259");
    paste(20, "12ab");  // pasted text follows the same rule: all digits, or nothing
    EXPECT_EQ(text(20), "259");
    paste(20, "34");
    EXPECT_EQ(text(20), "25934");
    for (Qt::Key k : {Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete})
        key(k);
    EXPECT_EQ(text(20), "593") << "editing keys still work";

    for (int id : {111, 112, 128}) {
        SCOPED_TRACE(id);
        SetDlgItemTextA(dlg, id, "OFF");
        type(id, "12x");
        key(Qt::Key_Backspace);
        paste(id, "34");
        EXPECT_EQ(text(id), "OFF");
    }
    SendDlgItemMessageA(dlg, 21, EM_SETSEL, 0, -1);
    sentLog.clear();
    type(21, "x4");
    SetDlgItemTextA(dlg, 112, "REC");
    EXPECT_EQ(text(21), "4");
    EXPECT_EQ(commands(), (Commands{{21, EN_CHANGE}, {112, EN_CHANGE}})) << "a refused key changes nothing";
}

TEST_F(UserControls, PushButtonsReportClicksUnlessTheyOrTheirWindowAreDisabled)
{
    HWND rec = GetDlgItem(dlg, 1);
    QTest::mouseClick(widgetFromHandle(rec), Qt::LeftButton);
    SendDlgItemMessageA(dlg, 15, BM_CLICK, 0, 0);
    focus(4);
    key(Qt::Key_Space);
    EXPECT_EQ(commands(), (Commands{{1, BN_CLICKED}, {15, BN_CLICKED}, {4, BN_CLICKED}}));
    EXPECT_EQ(reinterpret_cast<HWND>(sentLog.front().lParam), rec);
    SendMessageA(rec, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageA(rec, BM_GETCHECK, 0, 0), BST_UNCHECKED) << "a push button has no check";

    // A disabled button sends nothing; the dialog manager's own state follows EnableWindow.
    sentLog.clear();
    EXPECT_FALSE(EnableWindow(rec, FALSE)) << "was enabled";
    EXPECT_FALSE(IsWindowEnabled(rec));
    QTest::mouseClick(widgetFromHandle(rec), Qt::LeftButton);
    SendMessageA(rec, BM_CLICK, 0, 0);
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(EnableWindow(rec, TRUE)) << "was disabled";

    // A disabled window keeps its look (its children their own state) but takes no input.
    EXPECT_FALSE(EnableWindow(dlg, FALSE));
    EXPECT_FALSE(IsWindowEnabled(dlg));
    EXPECT_TRUE(IsWindowEnabled(rec));
    EXPECT_TRUE(item(1)->isEnabled()) << "not greyed";
    QTest::mouseClick(item(1), Qt::LeftButton);
    QTest::keyClick(item(20), Qt::Key_Escape);
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(EnableWindow(dlg, TRUE));
    QTest::mouseClick(item(1), Qt::LeftButton);
    EXPECT_EQ(commands(), (Commands{{1, BN_CLICKED}}));
}

TEST_F(UserControls, UnitButtonsFormOneExclusiveGroup)
{
    EXPECT_TRUE(CheckDlgButton(dlg, 16, BST_CHECKED));
    EXPECT_EQ(checked(16, 19), std::vector<int>{16});
    EXPECT_TRUE(commands().empty()) << "checking by program sends no command";
    QTest::mouseClick(item(17), Qt::LeftButton);
    EXPECT_EQ(checked(16, 19), std::vector<int>{17});
    QTest::mouseClick(item(17), Qt::LeftButton);
    EXPECT_EQ(checked(16, 19), std::vector<int>{17}) << "clicking it again keeps it checked";
    SendDlgItemMessageA(dlg, 19, BM_CLICK, 0, 0);
    EXPECT_EQ(checked(16, 19), std::vector<int>{19});
    EXPECT_EQ(commands(), (Commands{{17, BN_CLICKED}, {17, BN_CLICKED}, {19, BN_CLICKED}}))
        << "every click is a command, also on the checked button";
    sentLog.clear();

    EXPECT_TRUE(CheckRadioButton(dlg, 16, 19, 18));
    EXPECT_EQ(checked(16, 19), std::vector<int>{18});
    // BM_SETCHECK sets one button only, as on Windows; exclusivity is the user's clicks.
    CheckDlgButton(dlg, 16, BST_CHECKED);
    EXPECT_EQ(checked(16, 19), (std::vector<int>{16, 18}));
    QTest::mouseClick(item(18), Qt::LeftButton);
    EXPECT_EQ(checked(1, 19), std::vector<int>{18}) << "buttons outside the group untouched";
    EXPECT_EQ(SendDlgItemMessageA(dlg, 18, BM_GETSTATE, 0, 0) & BST_CHECKED, BST_CHECKED);
    EXPECT_EQ(commands(), (Commands{{18, BN_CLICKED}}));
}

TEST_F(UserControls, PostedMessagesArriveFromTheEventLoopUnlessTheWindowIsDestroyed)
{
    EXPECT_TRUE(PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0));
    EXPECT_TRUE(commands().empty()) << "not yet";
    QCoreApplication::processEvents();
    EXPECT_EQ(commands(), (Commands{{7, BN_CLICKED}}));

    std::vector<HWND> controls;
    for (int id : {1, 20, 123, 102, 114})
        controls.push_back(GetDlgItem(dlg, id));
    EXPECT_TRUE(PostMessageA(dlg, WM_COMMAND, 15, 0));
    EXPECT_TRUE(DestroyWindow(dlg));
    EXPECT_EQ(count(WM_DESTROY), 1u);
    EXPECT_FALSE(IsWindow(dlg));
    for (HWND h : controls)
        EXPECT_FALSE(IsWindow(h)) << "controls go with their dialog";
    sentLog.clear();
    QCoreApplication::processEvents();
    EXPECT_TRUE(commands().empty()) << "a window destroyed before delivery gets nothing";
    EXPECT_FALSE(PostMessageA(dlg, WM_COMMAND, 15, 0));
    EXPECT_FALSE(DestroyWindow(dlg));
    EXPECT_EQ(GetDlgItem(dlg, 1), nullptr);
    EXPECT_FALSE(IsWindowVisible(dlg));

    // A procedure may destroy its own dialog from a click, or while it is being made.
    behaviour.endOnCommand = 15;
    behaviour.destroy = true;
    HWND victim = create(200);
    widgetFromHandle(victim)->show();
    QTest::mouseClick(item(15, victim), Qt::LeftButton);
    EXPECT_FALSE(IsWindow(victim));
    behaviour.endOnCommand = 0;
    EXPECT_EQ(create(200), nullptr);
}

TEST_F(UserControls, AnUnknownClassFailsTheDialogUnheard)
{
    kelvra::platform::ResourceScript parsed;
    std::string error;
    ASSERT_TRUE(kelvra::platform::parseResourceScript(
        "1 DIALOGEX 0, 0, 10, 10\nBEGIN\nCONTROL \"\", 1, \"NoSuchClass\", 0, 0, 0, 5, 5\nEND\n",
        [](const std::string&) { return std::optional<std::string>(); }, parsed, error)) << error;
    EXPECT_EQ(kelvra::platform::createDialogIndirect(parsed.dialogs[0], nullptr, recordingProc, 0), nullptr);
    EXPECT_TRUE(sentLog.empty()) << "the procedure never heard of it";
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
