#include <windows.h>

#include <kelvra/kernel/clock.h>

// The program is one module; its handle only has to be non-null and stable.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    static int moduleAnchor;
    if (lpModuleName != nullptr)
        return nullptr;  // no other modules are loaded by name here
    return reinterpret_cast<HMODULE>(&moduleAnchor);
}

// The platform clock, so that on the virtual clock of the tests it agrees with the timers.
DWORD WINAPI GetTickCount(void)
{
    return static_cast<DWORD>(kelvra::platform::clock::nowMs());
}
