// Every modal window of the platform goes through runModal(). In production it is QDialog::exec;
// under test it is also where scripted answers reach the window, so that no test waits for a
// person and none can hang.
#include <kelvra/user/modal.h>
#include <kelvra/user/testing.h>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <utility>

namespace kelvra::platform {

namespace {

// Real time a modal window may stay open in test mode before it is rejected: long enough for
// any script, short enough that a forgotten answer costs a test seconds, not the whole run.
constexpr int kDefaultModalTimeoutMs = 5000;
// A script runs once its dialog is visible; QDialog::exec shows the dialog before it enters
// its loop, so one retry is normally enough. The cap keeps a dialog that never shows harmless.
constexpr int kMaxShowRetries = 100;

struct ScriptState {
    bool enabled = false;
    int timeoutMs = kDefaultModalTimeoutMs;
    std::deque<testing::ModalScript> scripts;
    std::vector<ModalInfo> history;
    std::vector<ModalInfo> unscripted;
    std::vector<ModalInfo> timedOut;
};

ScriptState& scriptState()
{
    static ScriptState state;
    return state;
}

// Ends a modal loop whatever the dialog class does with reject() or done(): the base class's
// done() is called directly, so no override can keep a test waiting.
void forceClose(QDialog& dialog)
{
    dialog.QDialog::done(QDialog::Rejected);
    if (dialog.isVisible())
        dialog.hide();
}

// Runs `script` on `dialog` as soon as the dialog is on screen inside its own modal loop.
void runWhenShown(QPointer<QDialog> dialog, testing::ModalScript script, ModalInfo info,
                  int retriesLeft)
{
    QTimer::singleShot(0, dialog.data(), [dialog, script = std::move(script),
                                          info = std::move(info), retriesLeft]() mutable {
        if (!dialog)
            return;
        if (!dialog->isVisible() && retriesLeft > 0) {
            runWhenShown(dialog, std::move(script), std::move(info), retriesLeft - 1);
            return;
        }
        if (script)
            script(*dialog, info);
        else
            forceClose(*dialog);
    });
}

// The safety net: a modal window still open after the timeout is closed, together with any
// modal window stacked above it that did not come through runModal (Qt's own warning boxes).
void armSafetyNet(QDialog& dialog, const ModalInfo& info)
{
    QPointer<QDialog> guard(&dialog);
    QTimer::singleShot(scriptState().timeoutMs, &dialog, [guard, info]() {
        if (!guard || !guard->isVisible())
            return;
        scriptState().timedOut.push_back(info);
        QWidget* previous = nullptr;
        while (QWidget* top = QApplication::activeModalWidget()) {
            auto* above = qobject_cast<QDialog*>(top);
            if (!above || above == guard.data() || above == previous)
                break;
            previous = above;
            forceClose(*above);
        }
        if (guard)
            forceClose(*guard);
    });
}

}  // namespace

int runModal(QDialog& dialog, const ModalInfo& info)
{
    ScriptState& state = scriptState();
    if (!state.enabled)
        return dialog.exec();

    state.history.push_back(info);
    testing::ModalScript script;
    if (!state.scripts.empty()) {
        // Taken now, not when the loop starts, so scripts answer windows in opening order even
        // when one script opens another modal window.
        script = std::move(state.scripts.front());
        state.scripts.pop_front();
    } else {
        state.unscripted.push_back(info);
    }
    runWhenShown(QPointer<QDialog>(&dialog), std::move(script), info, kMaxShowRetries);
    armSafetyNet(dialog, info);
    return dialog.exec();
}

namespace testing {

void scriptModal(ModalScript script)
{
    scriptState().scripts.push_back(std::move(script));
}

void enableScriptedModals()
{
    ScriptState& state = scriptState();
    state.enabled = true;
    state.history.clear();
    state.unscripted.clear();
    state.timedOut.clear();
}

void disableScriptedModals()
{
    ScriptState& state = scriptState();
    state.enabled = false;
    state.scripts.clear();
}

bool scriptedModalsEnabled()
{
    return scriptState().enabled;
}

void clearModalScripts()
{
    scriptState().scripts.clear();
}

size_t pendingModalScripts()
{
    return scriptState().scripts.size();
}

std::vector<ModalInfo> unscriptedModals()
{
    return scriptState().unscripted;
}

std::vector<ModalInfo> modalHistory()
{
    return scriptState().history;
}

std::vector<ModalInfo> timedOutModals()
{
    return scriptState().timedOut;
}

void setModalTimeout(int ms)
{
    scriptState().timeoutMs = ms > 0 ? ms : kDefaultModalTimeoutMs;
}

}  // namespace testing

}  // namespace kelvra::platform
