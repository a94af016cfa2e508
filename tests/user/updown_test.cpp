// The up-down control: buddy, range, the position kept in the buddy's text and read back by
// UDM_GETPOS (the cases Windows answers with and without the error mark), arrows by mouse and keyboard.
#include "dialog_fixture.h"

#include <QLocale>

namespace {

constexpr int kSpeed = 20;  // field and spinner of Speed Fps (with UDS_ARROWKEYS)
constexpr int kSpeedSpin = 123;
constexpr int kEvery = 21;  // field and spinner of Capture Every (without)
constexpr int kEverySpin = 23;
constexpr WORD kThumbPosition = 4;  // SB_THUMBPOSITION
constexpr WORD kEndScroll = 8;      // SB_ENDSCROLL

class UserUpDown : public MainDialogTest {
protected:
    LRESULT send(int spin, UINT msg, WPARAM w = 0, LPARAM l = 0) { return SendDlgItemMessageA(dlg, spin, msg, w, l); }
    std::pair<int, int> getPos(int spin = kSpeedSpin)
    {
        LRESULT r = send(spin, UDM_GETPOS);
        return {static_cast<short>(LOWORD(r)), HIWORD(r)};
    }
    QPoint arrow(bool increment) const
    {
        QWidget* w = item(kEverySpin);
        return QPoint(increment ? w->width() * 3 / 4 : w->width() / 4, w->height() / 2);
    }
    void clickArrow(bool increment) { QTest::mouseClick(item(kEverySpin), Qt::LeftButton, {}, arrow(increment)); }
};

TEST_F(UserUpDown, BuddyIsThePreviousControlAndTheStartIsOne)
{
    for (auto [spin, field] : {std::pair{kSpeedSpin, kSpeed}, {kEverySpin, kEvery}})
        EXPECT_EQ(reinterpret_cast<HWND>(send(spin, UDM_GETBUDDY)), GetDlgItem(dlg, field));
    // Our default range: counts from 1 to UD_MAXVAL, so the arrows count up to the right.
    EXPECT_EQ(send(kSpeedSpin, UDM_GETRANGE), MAKELONG(UD_MAXVAL, 1));
    int lo = 0, hi = 0;
    send(kEverySpin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
    EXPECT_EQ(std::pair(lo, hi), std::pair(1, int(UD_MAXVAL)));
    EXPECT_EQ(text(kSpeed), "1") << "a field nobody typed into reads as a valid count";
    EXPECT_EQ(text(kEvery), "1");
    EXPECT_EQ(getPos(kEverySpin), std::pair(1, 0));
}

TEST_F(UserUpDown, GetPosReadsTheBuddyText)
{
    // (text, position, error) in order: each row starts from the position the rows before it left.
    const std::tuple<const char*, int, int> cases[] = {
        {"11", 11, 0},
        {"21st", 11, 1},  // not a number: the last valid position, marked
        {"", 1, 1},       // empty reads as 0, below the range
        {"11", 11, 0},
        {" 7", 7, 0},     // leading blanks are skipped, as strtol does
        {"7 ", 7, 1},     // trailing ones are not
        {"0", 1, 1},      // a number outside the range: clamped into it, marked
        {"-3", 1, 1},
        {"40000", UD_MAXVAL, 1},
        {"99999999999999999999", UD_MAXVAL, 1},
        {"32767", UD_MAXVAL, 0},
        {"1|234", 1234, 0},  // thousands separators (the locale's, written | here) are dropped
        {"abc", 1234, 1},
    };
    const QString separator = QLocale().groupSeparator();
    for (auto [written, pos, error] : cases) {
        SCOPED_TRACE(std::string("text \"") + written + "\"");
        SetDlgItemTextA(dlg, kSpeed, QString(written).replace('|', separator).toUtf8().constData());
        EXPECT_EQ(getPos(), std::pair(pos, error));
        BOOL error32 = -1;
        EXPECT_EQ(send(kSpeedSpin, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error32)), pos);
        EXPECT_EQ(error32, error);
    }
    // The whole answer as the program reads it: a signed 32-bit number, error mark included.
    SetDlgItemTextA(dlg, kSpeed, "25");
    EXPECT_EQ(static_cast<LONG>(send(kSpeedSpin, UDM_GETPOS)), 25);
    SetDlgItemTextA(dlg, kSpeed, "x");
    EXPECT_EQ(static_cast<LONG>(send(kSpeedSpin, UDM_GETPOS)), 0x10000 + 25);
    // Range 1..40: the text 50 reads as 40 with the error mark, as on Windows.
    send(kSpeedSpin, UDM_SETRANGE, 0, MAKELONG(40, 1));
    SetDlgItemTextA(dlg, kSpeed, "50");
    EXPECT_EQ(getPos(), std::pair(40, 1));
}

TEST_F(UserUpDown, ArrowsStepTheBuddyAndTellTheParent)
{
    SetDlgItemTextA(dlg, kEvery, "9");
    sentLog.clear();
    for (auto [increment, value] : {std::pair{true, "10"}, {false, "9"}, {false, "8"}}) {
        clickArrow(increment);
        EXPECT_EQ(text(kEvery), value) << "the step starts from what was typed";
    }
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, kEvery)) << "a click on an arrow focuses the buddy";
    std::vector<std::pair<WORD, int>> scrolls;
    for (const Sent& s : sentLog)
        if (s.msg == WM_HSCROLL) {
            EXPECT_EQ(reinterpret_cast<HWND>(s.lParam), GetDlgItem(dlg, kEverySpin));
            scrolls.emplace_back(LOWORD(s.wParam), HIWORD(s.wParam));
        }
    EXPECT_EQ(scrolls, (std::vector<std::pair<WORD, int>>{{kThumbPosition, 10}, {kEndScroll, 10}, {kThumbPosition, 9},
                                                          {kEndScroll, 9}, {kThumbPosition, 8}, {kEndScroll, 8}}));

    // At the bottom of the range the left arrow stays at 1; a bad text restarts from the last.
    SetDlgItemTextA(dlg, kEvery, "1");
    clickArrow(false);
    EXPECT_EQ(text(kEvery), "1");
    SetDlgItemTextA(dlg, kEvery, "5");
    getPos(kEverySpin);
    SetDlgItemTextA(dlg, kEvery, "5x");
    clickArrow(true);
    EXPECT_EQ(text(kEvery), "6");
}

TEST_F(UserUpDown, HoldingAnArrowRepeats)
{
    // The repeat is a SetTimer of the control, so it runs on the virtual clock.
    kt::useVirtualClock();
    QTest::mousePress(item(kEverySpin), Qt::LeftButton, {}, arrow(true));
    EXPECT_EQ(text(kEvery), "2") << "the first step comes at once";
    kt::advanceClock(499);
    EXPECT_EQ(text(kEvery), "2");
    kt::advanceClock(1 + 50);  // again after 500 ms, then every 50 ms
    EXPECT_EQ(std::stoi(text(kEvery)), 4);
    QTest::mouseRelease(item(kEverySpin), Qt::LeftButton, {}, arrow(true));
    std::string released = text(kEvery);
    kt::advanceClock(120);
    EXPECT_EQ(text(kEvery), released) << "release stops the repeat";
    kt::useRealClock();
}

TEST_F(UserUpDown, ArrowKeysOnlyWhereTheStyleAsksForThem)
{
    SetDlgItemTextA(dlg, kSpeed, "15");
    focus(kSpeed);
    for (Qt::Key k : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down})
        key(k);
    EXPECT_EQ(text(kSpeed), "16");
    focus(kSpeedSpin);  // the spinner itself, focused by Tab, steps too
    key(Qt::Key_Up);
    EXPECT_EQ(text(kSpeed), "17");

    // Capture Every's spinner has no UDS_ARROWKEYS: Up and Down do nothing in its field, and
    // do not move the focus away either (an edit keeps its arrow keys).
    SetDlgItemTextA(dlg, kEvery, "3");
    focus(kEvery);
    EXPECT_EQ(key(Qt::Key_Up), kEvery);
    EXPECT_EQ(key(Qt::Key_Down), kEvery);
    EXPECT_EQ(text(kEvery), "3");
    EXPECT_FALSE(commands().empty());  // the EN_CHANGEs of the writes
    for (auto [id, code] : commands())
        EXPECT_EQ(code, EN_CHANGE) << "no command other than the fields' changes";
}

}  // namespace
