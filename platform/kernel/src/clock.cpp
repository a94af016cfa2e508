#include <kelvra/kernel/clock.h>

#include <atomic>
#include <chrono>

namespace kelvra::platform::clock {

namespace {

// Atomic: GetTickCount may be called from any thread, while a test moves the virtual clock.
std::atomic<bool> gVirtual{false};
std::atomic<uint64_t> gVirtualNow{0};

}  // namespace

uint64_t nowMs()
{
    if (gVirtual.load())
        return gVirtualNow.load();
    // The same steady clock as Qt's timers, counted from the machine's start.
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void useVirtual()
{
    gVirtualNow.store(0);
    gVirtual.store(true);
}

void useReal()
{
    gVirtual.store(false);
}

bool isVirtual()
{
    return gVirtual.load();
}

void reachVirtual(uint64_t ms)
{
    uint64_t now = gVirtualNow.load();
    while (now < ms && !gVirtualNow.compare_exchange_weak(now, ms)) {
    }
}

}  // namespace kelvra::platform::clock
