// Test hook: a dialog's controls listed the way a Win32 program lists them. Kept apart from
// testing.h, whose users must not see windows.h's MessageBox macro.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvra::platform::testing {

// A dialog's child windows as a Win32 program lists them (GetWindow, GetDlgCtrlID, GetClassName,
// GetWindowLong, WM_GETTEXT, GetWindowRect): in creation order, places relative to the client
// area, in pixels and taken back to dialog units through the dialog's base units. For comparing
// this platform's dialogs with another Win32 implementation's.
struct ControlListing {
    int id = 0;
    std::string className;
    uint32_t style = 0, exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;      // dialog units
    int px = 0, py = 0, pcx = 0, pcy = 0;  // pixels
    std::string text;
};
std::vector<ControlListing> listDialogControls(HWND dialog);

}  // namespace kelvra::platform::testing
