// The player dialog: opens chosen files in media windows that belong to the dialog.
#include "kelvra.h"

HWND hwndMci;

#define MCI_STYLE (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | MCIWNDF_NOOPEN)

// Each Open File makes a new media window; the earlier ones stay until the dialog ends.
static BOOL openfile(HWND hwndDlg)
{
    char szFile[MAX_PATH];

    // A cancelled choice opens nothing: the chooser's pattern is not a file to play.
    if (!GetFileName(szFile, sizeof(szFile)))
        return TRUE;
    hwndMci = MCIWndCreateA(hwndDlg, NULL, MCI_STYLE, szFile);
    SetWindowTextA(hwndMci, szFile);
    return TRUE;
}

// Exit: the last media window may already be gone (its own close box), then only the
// dialog ends.
static BOOL closeplayer(HWND hwndDlg)
{
    if (IsWindow(hwndMci))
        SendMessageA(hwndMci, WM_CLOSE, 0, 0);
    EndDialog(hwndDlg, 0);
    return TRUE;
}

INT_PTR CALLBACK Videoplayer(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CLOSE:
        EndDialog(hwndDlg, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDUP:
            return openfile(hwndDlg);
        case IDBACK:
            return closeplayer(hwndDlg);
        }
        return FALSE;
    }
    return FALSE;
}

BOOL cmdplayer(HWND hwndDlg)
{
    DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_PLAYER), hwndDlg, Videoplayer, 0);
    return TRUE;
}
