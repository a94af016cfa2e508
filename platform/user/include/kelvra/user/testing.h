// Test hooks of the platform: a virtual clock for timers and scripted answers for modal windows.
// Production code never calls these; tests switch them on before the windows are made.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <kelvra/user/modal.h>

class QDialog;

namespace kelvra::platform::testing {

// Virtual clock: from this call on, the platform clock (kelvra/kernel/clock.h), which SetTimer,
// GetTickCount and the media window read, only moves in advanceClock(). advanceClock fires every due tick in time order, synchronously, each at its
// due time (a 15,000 ms advance over a 5,000 ms timer gives three ticks). It may be called from
// inside a tick's callback or a modal script, as a modal loop would deliver ticks there.
// Switching clocks drops every timer set so far, so each test starts with none.
void useVirtualClock();
void useRealClock();
bool virtualClockActive();
void advanceClock(uint64_t ms);  // no-op on the real clock
// Moves the virtual clock on without delivering ticks, like a callback that keeps the thread
// busy; the ticks missed meanwhile collapse into one per timer at the next advanceClock.
void spendClock(uint64_t ms);
uint64_t clockNowMs();  // the platform clock: virtual milliseconds since useVirtualClock(), or real ones
size_t activeTimers();  // timers set and not killed (a destroyed window's are gone)

// Scripted answers, first in first out. Each runs inside the modal loop of the next modal
// window that opens, with the dialog already shown; it answers by closing the dialog (for
// instance dialog.done(IDNO), or selecting a file and accepting). It may advance the clock.
using ModalScript = std::function<void(QDialog& dialog, const ModalInfo& info)>;
void scriptModal(ModalScript script);
void enableScriptedModals();    // test mode: a modal window with no script is rejected at once
void disableScriptedModals();   // back to plain exec(); drops the scripts still queued
bool scriptedModalsEnabled();
void clearModalScripts();
size_t pendingModalScripts();
// Modal windows opened in test mode that had no script (each is a test fault).
std::vector<ModalInfo> unscriptedModals();
// Every modal window opened since enableScriptedModals(), in order.
std::vector<ModalInfo> modalHistory();
// Safety net: in test mode a modal window still open after this much real time (default 5 s)
// is rejected, with any modal window stacked above it, and listed here (each is a test fault).
std::vector<ModalInfo> timedOutModals();
void setModalTimeout(int ms);   // ms <= 0 restores the default

// Ready-made answers.
ModalScript answer(int result);                     // dialog.done(result)
ModalScript chooseFile(const std::string& path);    // file chooser: select the path and accept
ModalScript cancel();                               // dialog.reject()

}  // namespace kelvra::platform::testing
