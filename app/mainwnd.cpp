// The main window's procedure: start-up, the command table and the exit path.
#include "kelvra.h"

typedef BOOL (*CommandAction)(HWND hwndDlg);

#define FIRST_COMMAND IDDREC
#define LAST_COMMAND CBDAY

// Indexed by command identifier; RESUME does exactly what REC does.
static const CommandAction commands[LAST_COMMAND + 1] = {
    NULL,
    cmdrecord,       // IDDREC
    cmdpause,        // IDRP
    cmdstop,         // IDSTOP
    cmdrecord,       // IDRESU
    cmdgrab,         // IDMAN
    cmdsource,       // IDSOURCE
    cmdformat,       // IDFORMAT
    cmdcompression,  // IDCOMP
    cmdoverlay,      // IDDISP
    cmdcapturefile,  // IDFIL
    cmdplayer,       // IDPLAYER
    cmdhelp,         // IDHELP
    cmdquickhelp,    // IDQH
    cmdabout,        // IDABOUT
    exitpath,        // IDEXIT
    cmdseconds,      // CBSEC
    cmdminutes,      // CBMIN
    cmdhours,        // CBHOU
    cmddays,         // CBDAY
};

// Shared by the Exit button and the title bar's close box: capture stops whatever the answer.
BOOL exitpath(HWND hwndDlg)
{
    stopall(hwndDlg);
    if (MessageBoxA(hwndDlg, "Are you sure you want to quit ?", "Exit", MB_YESNO) == IDNO)
        return TRUE;
    EndDialog(hwndDlg, 1);
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_DRIVER_DISCONNECT, 0, 0);
    return TRUE;
}

INT_PTR CALLBACK DialogFunc(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        InitializeApp(hwndDlg);
        return TRUE;
    case WM_COMMAND: {
        // The notification code in the high word is not looked at.
        WORD id = LOWORD(wParam);
        if (id < FIRST_COMMAND || id > LAST_COMMAND)
            return FALSE;
        commands[id](hwndDlg);
        return TRUE;
    }
    case WM_CLOSE:
        exitpath(hwndDlg);
        return TRUE;
    }
    return FALSE;
}
