#include <windows.h>

#include <chrono>

// The program is one module; its handle only has to be non-null and stable.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    static int moduleAnchor;
    if (lpModuleName != nullptr)
        return nullptr;  // no other modules are loaded by name here
    return reinterpret_cast<HMODULE>(&moduleAnchor);
}

DWORD WINAPI GetTickCount(void)
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
