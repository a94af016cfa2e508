// The up-down control: buddy, range, the position kept in the buddy's text and read back by
// UDM_GETPOS (after Wine's conformance tests), arrows by mouse and keyboard.
#include "dialog_fixture.h"

#include <QLocale>
#include <QTest>

namespace {

constexpr int kSpeed = 20;       // field and spinner of Speed Fps (with UDS_ARROWKEYS)
constexpr int kSpeedSpin = 123;
constexpr int kEvery = 21;       // field and spinner of Capture Every (without)
constexpr int kEverySpin = 23;
constexpr WORD kThumbPosition = 4;  // SB_THUMBPOSITION
constexpr WORD kEndScroll = 8;      // SB_ENDSCROLL

class UserUpDown : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        dlg = create(104);
        ASSERT_TRUE(IsWindow(dlg));
        sentLog().clear();
    }
    std::pair<int, int> getPos(int spin = kSpeedSpin)
    {
        LRESULT r = SendDlgItemMessageA(dlg, spin, UDM_GETPOS, 0, 0);
        return {static_cast<short>(LOWORD(r)), HIWORD(r)};
    }
    void clickArrow(int spin, bool increment)
    {
        QWidget* w = item(dlg, spin);
        QPoint at(increment ? w->width() * 3 / 4 : w->width() / 4, w->height() / 2);
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    }
    HWND dlg = nullptr;
};

TEST_F(UserUpDown, BuddyIsThePreviousControlAndTheStartIsOne)
{
    EXPECT_EQ(reinterpret_cast<HWND>(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_GETBUDDY, 0, 0)),
              GetDlgItem(dlg, kSpeed));
    EXPECT_EQ(reinterpret_cast<HWND>(SendDlgItemMessageA(dlg, kEverySpin, UDM_GETBUDDY, 0, 0)),
              GetDlgItem(dlg, kEvery));
    // Our default range: counts from 1 to UD_MAXVAL, so the arrows count up to the right.
    EXPECT_EQ(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_GETRANGE, 0, 0), MAKELONG(UD_MAXVAL, 1));
    int lo = 0, hi = 0;
    SendDlgItemMessageA(dlg, kEverySpin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, UD_MAXVAL);
    EXPECT_EQ(text(dlg, kEvery), "1") << "a field nobody typed into reads as a valid count";
    EXPECT_EQ(getPos(kEverySpin), std::make_pair(1, 0));
}

TEST_F(UserUpDown, GetPosReadsTheBuddyText)
{
    struct Case {
        const char* text;
        int pos;
        int error;
    };
    // In order: each row starts from the position the rows before it left.
    const Case cases[] = {
        {"11", 11, 0},
        {"21st", 11, 1},     // not a number: the last valid position, marked
        {"", 1, 1},          // empty reads as 0, below the range
        {"11", 11, 0},
        {" 7", 7, 0},        // leading blanks are skipped, as strtol does
        {"7 ", 7, 1},        // trailing ones are not
        {"0", 1, 1},         // a number outside the range: clamped into it, marked
        {"-3", 1, 1},
        {"40000", UD_MAXVAL, 1},
        {"99999999999999999999", UD_MAXVAL, 1},
        {"32767", UD_MAXVAL, 0},
        {"1|234", 1234, 0},  // thousands separators (the locale's, written | here) are dropped
        {"abc", 1234, 1},
    };
    const std::string separator = QLocale().groupSeparator().toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        std::string written = c.text;
        if (size_t bar = written.find('|'); bar != std::string::npos)
            written.replace(bar, 1, separator);
        SetDlgItemTextA(dlg, kSpeed, written.c_str());
        EXPECT_EQ(getPos(), std::make_pair(c.pos, c.error));
        BOOL error = -1;
        EXPECT_EQ(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), c.pos);
        EXPECT_EQ(error, c.error);
    }
    // The whole answer as the program reads it: a signed 32-bit number, error mark included.
    SetDlgItemTextA(dlg, kSpeed, "25");
    EXPECT_EQ(static_cast<LONG>(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_GETPOS, 0, 0)), 25);
    SetDlgItemTextA(dlg, kSpeed, "x");
    EXPECT_EQ(static_cast<LONG>(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_GETPOS, 0, 0)), 0x10000 + 25);
}

TEST_F(UserUpDown, RangesAndPositionsSetByMessage)
{
    // Wine's test: range 1..40, text 50 reads as 40 with the error mark.
    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETRANGE, 0, MAKELONG(40, 1));
    SetDlgItemTextA(dlg, kSpeed, "50");
    EXPECT_EQ(getPos(), std::make_pair(40, 1));
    EXPECT_EQ(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETPOS, 0, MAKELONG(12, 0)), 40) << "old position";
    EXPECT_EQ(text(dlg, kSpeed), "12");
    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETPOS, 0, MAKELONG(100, 0));
    EXPECT_EQ(text(dlg, kSpeed), "40") << "UDM_SETPOS clamps";
    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETPOS, 0, MAKELONG(-5, 0));
    EXPECT_EQ(text(dlg, kSpeed), "1");

    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETRANGE32, 0, 100000);
    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETPOS32, 0, 54321);
    EXPECT_EQ(text(dlg, kSpeed), "54321") << "UDS_NOTHOUSANDS: plain decimal";
    EXPECT_EQ(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_GETPOS32, 0, 0), 54321);

    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETRANGE32, 0, 1000);
    EXPECT_EQ(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETBASE, 16, 0), 10);
    SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETPOS, 0, MAKELONG(255, 0));
    EXPECT_EQ(text(dlg, kSpeed), "0x00FF");
    EXPECT_EQ(getPos(), std::make_pair(255, 0));
    EXPECT_EQ(SendDlgItemMessageA(dlg, kSpeedSpin, UDM_SETBASE, 7, 0), 0) << "only 10 and 16";
}

TEST_F(UserUpDown, ArrowsStepTheBuddyAndTellTheParent)
{
    SetDlgItemTextA(dlg, kEvery, "9");
    sentLog().clear();
    clickArrow(kEverySpin, true);
    EXPECT_EQ(text(dlg, kEvery), "10") << "the step starts from what was typed";
    clickArrow(kEverySpin, false);
    clickArrow(kEverySpin, false);
    EXPECT_EQ(text(dlg, kEvery), "8");
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kEvery)) << "a click on an arrow focuses the buddy";
    std::vector<std::pair<WORD, int>> scrolls;
    for (const Sent& s : sentLog())
        if (s.msg == WM_HSCROLL) {
            EXPECT_EQ(reinterpret_cast<HWND>(s.lParam), GetDlgItem(dlg, kEverySpin));
            scrolls.emplace_back(LOWORD(s.wParam), HIWORD(s.wParam));
        }
    const std::vector<std::pair<WORD, int>> expected = {{kThumbPosition, 10}, {kEndScroll, 10},
                                                        {kThumbPosition, 9},  {kEndScroll, 9},
                                                        {kThumbPosition, 8},  {kEndScroll, 8}};
    EXPECT_EQ(scrolls, expected);

    // At the bottom of the range the left arrow stays at 1; a bad text restarts from the last.
    SetDlgItemTextA(dlg, kEvery, "1");
    clickArrow(kEverySpin, false);
    EXPECT_EQ(text(dlg, kEvery), "1");
    SetDlgItemTextA(dlg, kEvery, "5");
    getPos(kEverySpin);
    SetDlgItemTextA(dlg, kEvery, "5x");
    clickArrow(kEverySpin, true);
    EXPECT_EQ(text(dlg, kEvery), "6");
}

TEST_F(UserUpDown, HoldingAnArrowRepeats)
{
    SetDlgItemTextA(dlg, kEvery, "1");
    QWidget* w = item(dlg, kEverySpin);
    QPoint right(w->width() * 3 / 4, w->height() / 2);
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, right);
    EXPECT_EQ(text(dlg, kEvery), "2") << "the first step comes at once";
    QTRY_VERIFY_WITH_TIMEOUT(std::stoi(text(dlg, kEvery)) >= 4, 5000);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, right);
    int released = std::stoi(text(dlg, kEvery));
    QTest::qWait(120);
    EXPECT_EQ(std::stoi(text(dlg, kEvery)), released) << "release stops the repeat";
}

TEST_F(UserUpDown, ArrowKeysOnlyWhereTheStyleAsksForThem)
{
    widgetFromHandle(dlg)->show();
    SetDlgItemTextA(dlg, kSpeed, "15");
    SetFocus(GetDlgItem(dlg, kSpeed));
    QTest::keyClick(item(dlg, kSpeed), Qt::Key_Up);
    QTest::keyClick(item(dlg, kSpeed), Qt::Key_Up);
    QTest::keyClick(item(dlg, kSpeed), Qt::Key_Down);
    EXPECT_EQ(text(dlg, kSpeed), "16");
    // The spinner itself, focused by Tab, steps too.
    SetFocus(GetDlgItem(dlg, kSpeedSpin));
    QTest::keyClick(item(dlg, kSpeedSpin), Qt::Key_Up);
    EXPECT_EQ(text(dlg, kSpeed), "17");

    // Capture Every's spinner has no UDS_ARROWKEYS: Up and Down do nothing in its field, and
    // do not move the focus away either (an edit keeps its arrow keys).
    SetDlgItemTextA(dlg, kEvery, "3");
    SetFocus(GetDlgItem(dlg, kEvery));
    QTest::keyClick(item(dlg, kEvery), Qt::Key_Up);
    QTest::keyClick(item(dlg, kEvery), Qt::Key_Down);
    EXPECT_EQ(text(dlg, kEvery), "3");
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kEvery));
    EXPECT_TRUE(commands().size() >= 1u);  // the EN_CHANGEs of the writes
    for (auto [id, code] : commands())
        EXPECT_EQ(code, EN_CHANGE) << "no command other than the fields' changes";
}

}  // namespace
