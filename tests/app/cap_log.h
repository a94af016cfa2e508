// What the capture window received, through its own message log.
#pragma once

#include <kelvra/avicap/testing.h>

#include <utility>
#include <vector>

inline void clearCapLog(HWND cap)
{
    kelvra::avicap::testing::recordMessages(true);
    kelvra::avicap::testing::clearMessages(cap);
}

inline std::vector<UINT> capCalls(HWND cap)
{
    std::vector<UINT> calls;
    for (const auto& m : kelvra::avicap::testing::messages(cap))
        calls.push_back(m.msg);
    return calls;
}

inline std::vector<std::pair<UINT, WPARAM>> capCallArgs(HWND cap)
{
    std::vector<std::pair<UINT, WPARAM>> calls;
    for (const auto& m : kelvra::avicap::testing::messages(cap))
        calls.emplace_back(m.msg, m.wParam);
    return calls;
}

// The record carried by the n-th message (a SET or GET of the sequence setup).
inline CAPTUREPARMS capSetupAt(HWND cap, size_t n)
{
    auto log = kelvra::avicap::testing::messages(cap);
    return n < log.size() && log[n].parms ? *log[n].parms : CAPTUREPARMS{};
}
