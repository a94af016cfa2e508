// Start-up: the controls' starting state, the capture window, the driver and its settings.
#include "kelvra.h"

// The capture window sits inside the "Preview Video" frame; these are pixels, not dialog units.
#define CAPWND_X 22
#define CAPWND_Y 30
#define CAPWND_WIDTH 200
#define CAPWND_HEIGHT 168
#define PREVIEW_RATE_MS 5
#define PREVIEW_ON 30

int index;  // the first installed capture driver

int InitializeApp(HWND hwndDlg)
{
    tFlag = 0;
    timez = 1000;
    CheckDlgButton(hwndDlg, CBSEC, BST_CHECKED);

    CapWndCC = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, CAPWND_X, CAPWND_Y,
                                       CAPWND_WIDTH, CAPWND_HEIGHT, hwndDlg, 0);
    index = 0;
    if (IsWindow(CapWndCC))
        cDriver = (int)SendMessageA(CapWndCC, WM_CAP_DRIVER_CONNECT, index, 0);
    else
        cDriver = 0;
    if (cDriver == 0)
        MessageBoxA(hwndDlg,
                    "There was a problem connecting to your capture device.  This could be because the "
                    "device is not connected or a program using the device has crashed. You need to "
                    "restart your computer. Kelvra will run anyway without capture.",
                    "Driver Error !", MB_ICONEXCLAMATION);

    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_GET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&gCapParms);
    gCapParms.fYield = 1;
    gCapParms.fCaptureAudio = 0;
    gCapParms.wStepCaptureAverageFrames = 5;
    gCapParms.wChunkGranularity = 0;
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&gCapParms);

    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SET_PREVIEWRATE, PREVIEW_RATE_MS, 0);
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SET_PREVIEW, PREVIEW_ON, 0);

    InitCommonControls();

    SendDlgItemMessageA(hwndDlg, EDIT3, WM_SETTEXT, 0, (LPARAM) "READY");
    SendDlgItemMessageA(hwndDlg, EDIT2, WM_SETTEXT, 0, (LPARAM) "OFF");
    SendDlgItemMessageA(hwndDlg, EDIT5, WM_SETTEXT, 0, (LPARAM) "15");
    return 1;
}
