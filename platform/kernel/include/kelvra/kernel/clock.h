// The platform's one clock, in milliseconds on a monotonic clock. GetTickCount, the timers of
// SetTimer and the media window's playback all read it, so that they never disagree. Tests run
// it as a virtual clock that moves only when they move it; they switch it through
// kelvra/user/testing.h, which is the only caller of the switches below.
#pragma once

#include <cstdint>

namespace kelvra::platform::clock {

uint64_t nowMs();

void useVirtual();                // a virtual clock from now on, starting at 0
void useReal();
bool isVirtual();
void reachVirtual(uint64_t ms);   // moves the virtual clock on to `ms`; it never goes back

}  // namespace kelvra::platform::clock
