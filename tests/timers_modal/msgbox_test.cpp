// MessageBoxA: buttons and answers, default button, Escape and the close box as on Windows,
// exact texts, and timers that keep ticking while the box is open.
#include <windows.h>

#include <kelvra/platform/testing.h>

#include "test_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

namespace kp = kelvra::platform;
namespace kt = kelvra::platform::testing;
using timers_modal::TestWindow;

namespace {

QMessageBox& asBox(QDialog& dialog)
{
    auto* box = qobject_cast<QMessageBox*>(&dialog);
    EXPECT_NE(box, nullptr);
    return *box;
}

// Runs `steps` against the open box; if the box is still open afterwards the script closes it
// with `fallback` so that a failed expectation cannot leave it hanging.
kt::ModalScript onBox(std::function<void(QMessageBox&)> steps, int fallback = 0)
{
    return [steps, fallback](QDialog& dialog, const kp::ModalInfo&) {
        steps(asBox(dialog));
        if (dialog.isVisible())
            dialog.done(fallback);
    };
}

void pressKey(QMessageBox& box, Qt::Key key)
{
    QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
    QTest::keyClick(target, key);
}

class MessageBoxTest : public ::testing::Test {
protected:
    TestWindow owner;
    void SetUp() override
    {
        kt::clearModalScripts();
        kt::enableScriptedModals();
        kt::useVirtualClock();
        owner.widget()->show();
    }
    void TearDown() override
    {
        EXPECT_EQ(kt::pendingModalScripts(), 0u);
        EXPECT_TRUE(kt::timedOutModals().empty());
        kt::clearModalScripts();
        kt::useVirtualClock();
    }
};

TEST_F(MessageBoxTest, ExitQuestionLooksAsOnWindowsAndAnswersNo)
{
    kt::scriptModal(onBox([this](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), "Exit");
        EXPECT_EQ(box.text(), "Are you sure you want to quit ?");
        EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::Yes));
        EXPECT_EQ(box.parentWidget(), owner.widget());
        EXPECT_EQ(box.windowModality(), Qt::WindowModal);
        box.done(IDNO);
    }));
    EXPECT_EQ(MessageBoxA(owner.handle(), "Are you sure you want to quit ?", "Exit", MB_YESNO), IDNO);
    kt::scriptModal(kt::answer(IDYES));
    EXPECT_EQ(MessageBoxA(owner.handle(), "Are you sure you want to quit ?", "Exit", MB_YESNO), IDYES);
    auto history = kt::modalHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].kind, kp::ModalKind::MessageBox);
    EXPECT_EQ(history[0].caption, "Exit");
    EXPECT_EQ(history[0].text, "Are you sure you want to quit ?");
}

struct ButtonCase {
    UINT type;
    QMessageBox::StandardButton button;
    int id;
};

TEST_F(MessageBoxTest, EveryButtonOfEveryKindAnswersItsId)
{
    const ButtonCase cases[] = {
        {MB_OK, QMessageBox::Ok, IDOK},
        {MB_OKCANCEL, QMessageBox::Ok, IDOK},
        {MB_OKCANCEL, QMessageBox::Cancel, IDCANCEL},
        {MB_ABORTRETRYIGNORE, QMessageBox::Abort, IDABORT},
        {MB_ABORTRETRYIGNORE, QMessageBox::Retry, IDRETRY},
        {MB_ABORTRETRYIGNORE, QMessageBox::Ignore, IDIGNORE},
        {MB_YESNOCANCEL, QMessageBox::Yes, IDYES},
        {MB_YESNOCANCEL, QMessageBox::No, IDNO},
        {MB_YESNOCANCEL, QMessageBox::Cancel, IDCANCEL},
        {MB_YESNO, QMessageBox::Yes, IDYES},
        {MB_YESNO, QMessageBox::No, IDNO},
        {MB_RETRYCANCEL, QMessageBox::Retry, IDRETRY},
        {MB_RETRYCANCEL, QMessageBox::Cancel, IDCANCEL},
    };
    for (const ButtonCase& c : cases) {
        kt::scriptModal(onBox([c](QMessageBox& box) {
            QAbstractButton* button = box.button(c.button);
            ASSERT_NE(button, nullptr);
            button->click();
        }));
        EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", c.type), c.id)
            << "type " << c.type << " id " << c.id;
    }
}

struct KeyCase {
    UINT type;
    Qt::Key key;
    int id;  // 0: the key does nothing, the box stays open
};

TEST_F(MessageBoxTest, EnterTakesTheDefaultButtonEscapeOnlyWhereWindowsHasIt)
{
    const KeyCase cases[] = {
        {MB_YESNO, Qt::Key_Return, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, Qt::Key_Return, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, Qt::Key_Return, IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON3, Qt::Key_Return, IDOK},  // past the last: the first
        {MB_YESNO, Qt::Key_Escape, 0},
        {MB_ABORTRETRYIGNORE, Qt::Key_Escape, 0},
        {MB_OKCANCEL, Qt::Key_Escape, IDCANCEL},
        {MB_YESNOCANCEL, Qt::Key_Escape, IDCANCEL},
        {MB_RETRYCANCEL, Qt::Key_Escape, IDCANCEL},
        {MB_OK, Qt::Key_Escape, IDOK},
    };
    const int stillOpen = 99;
    for (const KeyCase& c : cases) {
        kt::scriptModal(onBox([c](QMessageBox& box) { pressKey(box, c.key); }, stillOpen));
        EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", c.type), c.id ? c.id : 0)
            << "type " << c.type << " key " << c.key;
    }
}

TEST_F(MessageBoxTest, CloseBoxOnlyWhereEscapeAnswers)
{
    kt::scriptModal(onBox([](QMessageBox& box) {
        EXPECT_FALSE(box.close());
        EXPECT_TRUE(box.isVisible());
        box.button(QMessageBox::No)->click();
    }));
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", MB_YESNO), IDNO);
    kt::scriptModal(onBox([](QMessageBox& box) { box.close(); }));
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", MB_YESNOCANCEL), IDCANCEL);
}

TEST_F(MessageBoxTest, IconsTextAndCaptionAreTakenExactly)
{
    const std::pair<UINT, QMessageBox::Icon> icons[] = {
        {MB_ICONHAND, QMessageBox::Critical}, {MB_ICONQUESTION, QMessageBox::Question},
        {MB_ICONEXCLAMATION, QMessageBox::Warning}, {MB_ICONASTERISK, QMessageBox::Information}};
    for (auto [flag, icon] : icons) {
        kt::scriptModal(onBox([icon = icon](QMessageBox& box) {
            EXPECT_EQ(box.icon(), icon);
            box.done(IDOK);
        }));
        EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_OK | flag), IDOK);
    }
    // Markup-looking text stays plain; no caption gives Windows' "Error"; no owner is allowed.
    kt::scriptModal(onBox([](QMessageBox& box) {
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.text(), "<b>driver 0</b> & \"x\"\nline 2");
        EXPECT_EQ(box.windowTitle(), "Error");
        EXPECT_EQ(box.parentWidget(), nullptr);
        EXPECT_EQ(box.windowModality(), Qt::ApplicationModal);
        box.done(IDOK);
    }));
    EXPECT_EQ(MessageBoxA(nullptr, "<b>driver 0</b> & \"x\"\nline 2", nullptr, MB_OK), IDOK);
}

TEST_F(MessageBoxTest, BadOwnerOrStyleFailsWithoutABox)
{
    HWND gone;
    {
        TestWindow temporary;
        gone = temporary.handle();
    }
    EXPECT_EQ(MessageBoxA(gone, "t", "c", MB_OK), 0);
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", 7), 0);
    EXPECT_TRUE(kt::modalHistory().empty());
}

// An unanswered box in test mode is closed at once: a box with a Cancel button answers
// IDCANCEL, a Yes/No box 0 (failure), never a made-up Yes or No.
TEST_F(MessageBoxTest, UnscriptedBoxIsClosedAndRecorded)
{
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", MB_YESNO), 0);
    EXPECT_EQ(kt::unscriptedModals().size(), 2u);
    // An id the box does not offer is not passed through either.
    kt::scriptModal(kt::answer(IDCANCEL));
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", MB_YESNO), 0);
}

int boxTicks = 0;
bool tickSawBox = false;

void CALLBACK countTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++boxTicks;
    tickSawBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
}

TEST_F(MessageBoxTest, TimerTicksWhileTheBoxIsOpen)
{
    boxTicks = 0;
    SetTimer(owner.handle(), 1, 1000, countTick);
    kt::scriptModal(onBox([](QMessageBox& box) {
        kt::advanceClock(3000);
        EXPECT_EQ(boxTicks, 3);
        EXPECT_TRUE(tickSawBox);
        box.done(IDNO);
    }));
    EXPECT_EQ(MessageBoxA(owner.handle(), "Are you sure you want to quit ?", "Exit", MB_YESNO), IDNO);
    EXPECT_TRUE(KillTimer(owner.handle(), 1));
}

// A tick whose callback opens a box: the script answers it, and ticks go on inside it
// (re-entering the callback, as on Windows).
int nestedDepth = 0;
std::vector<int> nestedAnswers;

void CALLBACK askingTick(HWND hwnd, UINT, UINT_PTR, DWORD)
{
    ++nestedDepth;
    if (nestedDepth == 1)
        nestedAnswers.push_back(MessageBoxA(hwnd, "Frame late", "Capture", MB_RETRYCANCEL));
    else
        nestedAnswers.push_back(-nestedDepth);
    --nestedDepth;
}

TEST_F(MessageBoxTest, TickCallbackMayOpenABoxThatIsAnsweredAndKeepsTicking)
{
    nestedAnswers.clear();
    SetTimer(owner.handle(), 1, 500, askingTick);
    kt::scriptModal(onBox([](QMessageBox& box) {
        kt::advanceClock(500);  // one more tick, delivered inside the box
        box.button(QMessageBox::Retry)->click();
    }));
    kt::advanceClock(500);
    EXPECT_EQ(nestedAnswers, (std::vector<int>{-2, IDRETRY}));
    EXPECT_EQ(kt::clockNowMs(), 1000u);
}

// A tick destroys the box's owner while the box is open: the box goes with it, MessageBoxA
// returns 0 and nothing is freed twice.
std::unique_ptr<TestWindow> doomedOwner;

void CALLBACK destroyOwnerTick(HWND hwnd, UINT, UINT_PTR id, DWORD)
{
    KillTimer(hwnd, id);
    doomedOwner.reset();
}

TEST_F(MessageBoxTest, OwnerDestroyedWhileTheBoxIsOpen)
{
    doomedOwner = std::make_unique<TestWindow>();
    doomedOwner->widget()->show();
    const HWND hwnd = doomedOwner->handle();
    SetTimer(hwnd, 1, 100, destroyOwnerTick);
    bool boxWentAway = false;
    kt::scriptModal([&boxWentAway](QDialog& dialog, const kp::ModalInfo&) {
        QPointer<QDialog> guard(&dialog);
        kt::advanceClock(100);
        boxWentAway = guard.isNull();
        if (guard)
            guard->done(IDYES);
    });
    EXPECT_EQ(MessageBoxA(hwnd, "t", "c", MB_YESNO), 0);
    EXPECT_TRUE(boxWentAway);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// On the real clock the box's own modal loop delivers the ticks: the script leaves the box
// open and the third tick closes it.
void CALLBACK closingTick(HWND, UINT, UINT_PTR, DWORD)
{
    if (++boxTicks == 3)
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(IDNO);
}

TEST_F(MessageBoxTest, RealTimerTicksInsideTheBoxLoop)
{
    kt::useRealClock();
    boxTicks = 0;
    SetTimer(owner.handle(), 1, 20, closingTick);
    kt::scriptModal([](QDialog&, const kp::ModalInfo&) {});
    EXPECT_EQ(MessageBoxA(owner.handle(), "t", "c", MB_YESNO), IDNO);
    EXPECT_EQ(boxTicks, 3);
    EXPECT_TRUE(KillTimer(owner.handle(), 1));
}

}  // namespace
