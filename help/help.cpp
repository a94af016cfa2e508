// Help, the quick reference and About: the help viewer and two small modal dialogs.
#include "kelvra.h"

// The quick reference and About close by their OK button or the close box; Escape arrives
// as command 2 and is left alone.
static INT_PTR infodialog(HWND hwndDlg, UINT msg, WPARAM wParam)
{
    switch (msg) {
    case WM_CLOSE:
        EndDialog(hwndDlg, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDINFOOK) {
            EndDialog(hwndDlg, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK QuickHelp(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return infodialog(hwndDlg, msg, wParam);
}

INT_PTR CALLBACK AboutDlg(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return infodialog(hwndDlg, msg, wParam);
}

// The help viewer reports a missing help file itself; the program carries on either way.
BOOL cmdhelp(HWND hwndDlg)
{
    WinHelpA(hwndDlg, HELP_FILE_PATH, HELP_CONTENTS, 0);
    return TRUE;
}

BOOL cmdquickhelp(HWND hwndDlg)
{
    DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_QUICKHELP), hwndDlg, QuickHelp, 0);
    return TRUE;
}

BOOL cmdabout(HWND hwndDlg)
{
    DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_ABOUT), hwndDlg, AboutDlg, 0);
    return TRUE;
}
