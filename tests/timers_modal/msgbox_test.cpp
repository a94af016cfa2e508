// MessageBoxA: buttons and answers, default button, Escape and the close box as on Windows,
// exact texts, and timers that keep ticking while the box is open.
#include <windows.h>

#include <kelvra/user/testing.h>

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

// Runs `steps` against the open box; if the box is still open afterwards the script closes it
// with `fallback` so that a failed expectation cannot leave it hanging.
kt::ModalScript onBox(std::function<void(QMessageBox&)> steps, int fallback = 0)
{
    return [steps, fallback](QDialog& dialog, const kp::ModalInfo&) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        ASSERT_NE(box, nullptr);
        steps(*box);
        if (dialog.isVisible())
            dialog.done(fallback);
    };
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
    int ask(UINT type) { return MessageBoxA(owner.handle(), "t", "c", type); }
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

// Each kind of box shows exactly its buttons, and each button answers its id.
TEST_F(MessageBoxTest, EveryButtonOfEveryKindAnswersItsId)
{
    using B = QMessageBox;
    const std::pair<UINT, B::StandardButtons> kinds[] = {
        {MB_OK, B::Ok}, {MB_OKCANCEL, B::Ok | B::Cancel}, {MB_ABORTRETRYIGNORE, B::Abort | B::Retry | B::Ignore},
        {MB_YESNOCANCEL, B::Yes | B::No | B::Cancel}, {MB_YESNO, B::Yes | B::No}, {MB_RETRYCANCEL, B::Retry | B::Cancel}};
    const std::pair<B::StandardButton, int> ids[] = {{B::Ok, IDOK}, {B::Cancel, IDCANCEL}, {B::Abort, IDABORT},
        {B::Retry, IDRETRY}, {B::Ignore, IDIGNORE}, {B::Yes, IDYES}, {B::No, IDNO}};
    for (auto [type, buttons] : kinds) {
        for (auto [button, id] : ids) {
            if (!buttons.testFlag(button))
                continue;
            SCOPED_TRACE("type " + std::to_string(type) + " id " + std::to_string(id));
            kt::scriptModal(onBox([buttons = buttons, button = button](QMessageBox& box) {
                EXPECT_EQ(box.standardButtons(), buttons);
                box.button(button)->click();
            }));
            EXPECT_EQ(ask(type), id);
        }
    }
}

// Enter takes the default button; Escape and the title bar's close box answer only where the
// box has a Cancel button (or is a lone OK), as on Windows; elsewhere the box stays open.
TEST_F(MessageBoxTest, EnterEscapeAndTheCloseBoxAnswerAsOnWindows)
{
    constexpr Qt::Key kCloseBox = Qt::Key_unknown;  // stands for a click on the close box
    const struct {
        UINT type;
        Qt::Key key;
        int id;  // 0: the box stays open
    } cases[] = {
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
        {MB_YESNO, kCloseBox, 0},
        {MB_YESNOCANCEL, kCloseBox, IDCANCEL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " key " + std::to_string(c.key));
        bool stayedOpen = false;
        kt::scriptModal(onBox([&](QMessageBox& box) {
            if (c.key == kCloseBox)
                EXPECT_EQ(box.close(), c.id != 0);
            else
                QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, c.key);
            stayedOpen = box.isVisible();
        }, IDCANCEL));
        // A box left open is closed with IDCANCEL, which a box without Cancel does not pass on.
        EXPECT_EQ(ask(c.type), c.id);
        EXPECT_EQ(stayedOpen, c.id == 0);
    }
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

// A gone owner or an unknown style fails without a box. An unanswered box in test mode is
// closed at once: with a Cancel button it answers IDCANCEL, a Yes/No box 0 (failure), never a
// made-up Yes or No; a scripted id the box does not offer is not passed through either.
TEST_F(MessageBoxTest, BadCallsAndUnscriptedBoxesFail)
{
    HWND gone = TestWindow().handle();
    EXPECT_EQ(MessageBoxA(gone, "t", "c", MB_OK), 0);
    EXPECT_EQ(ask(7), 0);
    EXPECT_TRUE(kt::modalHistory().empty());

    EXPECT_EQ(ask(MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(ask(MB_YESNO), 0);
    EXPECT_EQ(kt::unscriptedModals().size(), 2u);
    kt::scriptModal(kt::answer(IDCANCEL));
    EXPECT_EQ(ask(MB_YESNO), 0);
}

// A tick whose callback opens a box: the script answers it, and ticks go on inside the box
// (re-entering the callback, as on Windows).
int nestedDepth = 0;
std::vector<int> nestedAnswers;
bool tickSawBox = false;

void CALLBACK askingTick(HWND hwnd, UINT, UINT_PTR, DWORD)
{
    ++nestedDepth;
    tickSawBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
    if (nestedDepth == 1)
        nestedAnswers.push_back(MessageBoxA(hwnd, "Frame late", "Capture", MB_RETRYCANCEL));
    else
        nestedAnswers.push_back(-nestedDepth);
    --nestedDepth;
}

TEST_F(MessageBoxTest, TicksGoOnInsideABoxOpenedByATick)
{
    nestedAnswers.clear();
    SetTimer(owner.handle(), 1, 500, askingTick);
    kt::scriptModal(onBox([](QMessageBox& box) {
        kt::advanceClock(1000);  // two more ticks, delivered inside the box
        EXPECT_TRUE(tickSawBox);
        box.button(QMessageBox::Retry)->click();
    }));
    kt::advanceClock(500);
    EXPECT_EQ(nestedAnswers, (std::vector<int>{-2, -2, IDRETRY}));
    EXPECT_EQ(kt::clockNowMs(), 1500u);
    EXPECT_TRUE(KillTimer(owner.handle(), 1));
}

// The box's owner is destroyed while the box is open, as by a tick: the box goes with it,
// MessageBoxA returns 0 and nothing is freed twice.
TEST_F(MessageBoxTest, OwnerDestroyedWhileTheBoxIsOpen)
{
    auto doomed = std::make_unique<TestWindow>();
    doomed->widget()->show();
    bool boxWentAway = false;
    kt::scriptModal([&](QDialog& dialog, const kp::ModalInfo&) {
        QPointer<QDialog> guard(&dialog);
        doomed.reset();
        boxWentAway = guard.isNull();
        if (guard)
            guard->done(IDYES);
    });
    EXPECT_EQ(MessageBoxA(doomed->handle(), "t", "c", MB_YESNO), 0);
    EXPECT_TRUE(boxWentAway);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// On the real clock the box's own modal loop delivers the ticks, each on its grid point or
// after it, never before: the script leaves the box open and the third tick closes it.
std::vector<uint64_t> realTicks;

void CALLBACK closingTick(HWND, UINT, UINT_PTR, DWORD)
{
    realTicks.push_back(kt::clockNowMs());
    if (realTicks.size() == 3)
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(IDNO);
}

TEST_F(MessageBoxTest, RealTimerTicksInsideTheBoxLoop)
{
    kt::useRealClock();
    realTicks.clear();
    const uint64_t start = kt::clockNowMs();
    SetTimer(owner.handle(), 1, 20, closingTick);
    kt::scriptModal([](QDialog&, const kp::ModalInfo&) {});
    EXPECT_EQ(ask(MB_YESNO), IDNO);
    ASSERT_EQ(realTicks.size(), 3u);
    for (size_t k = 0; k < realTicks.size(); ++k)
        EXPECT_GE(realTicks[k], start + 20 * (k + 1));
    EXPECT_TRUE(KillTimer(owner.handle(), 1));
}

}  // namespace
