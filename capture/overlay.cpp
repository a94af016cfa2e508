// The "Video Input Controls": the device's own dialogs and the overlay toggle.
#include "kelvra.h"

static void capturedialog(UINT msg)
{
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, msg, 0, 0);
}

BOOL cmdsource(HWND hwndDlg) { capturedialog(WM_CAP_DLG_VIDEOSOURCE); return TRUE; }
BOOL cmdformat(HWND hwndDlg) { capturedialog(WM_CAP_DLG_VIDEOFORMAT); return TRUE; }
BOOL cmdcompression(HWND hwndDlg) { capturedialog(WM_CAP_DLG_VIDEOCOMPRESSION); return TRUE; }

// Switching off sends overlay-off twice with the preview switched on between them; the
// driver's answer is not looked at, so the field follows the flag.
int overlaymode(HWND hwndDlg)
{
    tFlag = tFlag == 0 ? 1 : 0;
    if (tFlag == 1)
        SendDlgItemMessageA(hwndDlg, EDIT2, WM_SETTEXT, 0, (LPARAM) "ON");
    if (tFlag == 0) {
        SendDlgItemMessageA(hwndDlg, EDIT2, WM_SETTEXT, 0, (LPARAM) "OFF");
        if (IsWindow(CapWndCC))
            SendMessageA(CapWndCC, WM_CAP_SET_OVERLAY, 0, 0);
        if (IsWindow(CapWndCC))
            SendMessageA(CapWndCC, WM_CAP_SET_PREVIEW, 1, 0);
    }
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SET_OVERLAY, tFlag, 0);
    return 1;
}

BOOL cmdoverlay(HWND hwndDlg)
{
    overlaymode(hwndDlg);
    return TRUE;
}
