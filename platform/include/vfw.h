// Video capture and playback: the capture window (AVICAP32) and the media window (MSVFW32).
#pragma once
#include <windows.h>

// Capture window messages
#define WM_CAP_START                    WM_USER
#define WM_CAP_GET_CAPSTREAMPTR         (WM_CAP_START + 1)
#define WM_CAP_SET_CALLBACK_ERRORA      (WM_CAP_START + 2)
#define WM_CAP_SET_CALLBACK_STATUSA     (WM_CAP_START + 3)
#define WM_CAP_SET_CALLBACK_YIELD       (WM_CAP_START + 4)
#define WM_CAP_SET_CALLBACK_FRAME       (WM_CAP_START + 5)
#define WM_CAP_SET_CALLBACK_VIDEOSTREAM (WM_CAP_START + 6)
#define WM_CAP_SET_CALLBACK_WAVESTREAM  (WM_CAP_START + 7)
#define WM_CAP_GET_USER_DATA            (WM_CAP_START + 8)
#define WM_CAP_SET_USER_DATA            (WM_CAP_START + 9)
#define WM_CAP_DRIVER_CONNECT           (WM_CAP_START + 10)
#define WM_CAP_DRIVER_DISCONNECT        (WM_CAP_START + 11)
#define WM_CAP_DRIVER_GET_NAMEA         (WM_CAP_START + 12)
#define WM_CAP_DRIVER_GET_VERSIONA      (WM_CAP_START + 13)
#define WM_CAP_DRIVER_GET_CAPS          (WM_CAP_START + 14)
#define WM_CAP_FILE_SET_CAPTURE_FILEA   (WM_CAP_START + 20)
#define WM_CAP_FILE_GET_CAPTURE_FILEA   (WM_CAP_START + 21)
#define WM_CAP_FILE_ALLOCATE            (WM_CAP_START + 22)
#define WM_CAP_FILE_SAVEASA             (WM_CAP_START + 23)
#define WM_CAP_FILE_SET_INFOCHUNK       (WM_CAP_START + 24)
#define WM_CAP_FILE_SAVEDIBA            (WM_CAP_START + 25)
#define WM_CAP_EDIT_COPY                (WM_CAP_START + 30)
#define WM_CAP_SET_AUDIOFORMAT          (WM_CAP_START + 35)
#define WM_CAP_GET_AUDIOFORMAT          (WM_CAP_START + 36)
#define WM_CAP_DLG_VIDEOFORMAT          (WM_CAP_START + 41)
#define WM_CAP_DLG_VIDEOSOURCE          (WM_CAP_START + 42)
#define WM_CAP_DLG_VIDEODISPLAY         (WM_CAP_START + 43)
#define WM_CAP_GET_VIDEOFORMAT          (WM_CAP_START + 44)
#define WM_CAP_SET_VIDEOFORMAT          (WM_CAP_START + 45)
#define WM_CAP_DLG_VIDEOCOMPRESSION     (WM_CAP_START + 46)
#define WM_CAP_SET_PREVIEW              (WM_CAP_START + 50)
#define WM_CAP_SET_OVERLAY              (WM_CAP_START + 51)
#define WM_CAP_SET_PREVIEWRATE          (WM_CAP_START + 52)
#define WM_CAP_SET_SCALE                (WM_CAP_START + 53)
#define WM_CAP_GET_STATUS               (WM_CAP_START + 54)
#define WM_CAP_SET_SCROLL               (WM_CAP_START + 55)
#define WM_CAP_GRAB_FRAME               (WM_CAP_START + 60)
#define WM_CAP_GRAB_FRAME_NOSTOP        (WM_CAP_START + 61)
#define WM_CAP_SEQUENCE                 (WM_CAP_START + 62)
#define WM_CAP_SEQUENCE_NOFILE          (WM_CAP_START + 63)
#define WM_CAP_SET_SEQUENCE_SETUP       (WM_CAP_START + 64)
#define WM_CAP_GET_SEQUENCE_SETUP       (WM_CAP_START + 65)
#define WM_CAP_SET_MCI_DEVICEA          (WM_CAP_START + 66)
#define WM_CAP_GET_MCI_DEVICEA          (WM_CAP_START + 67)
#define WM_CAP_STOP                     (WM_CAP_START + 68)
#define WM_CAP_ABORT                    (WM_CAP_START + 69)
#define WM_CAP_SINGLE_FRAME_OPEN        (WM_CAP_START + 70)
#define WM_CAP_SINGLE_FRAME_CLOSE       (WM_CAP_START + 71)
#define WM_CAP_SINGLE_FRAME             (WM_CAP_START + 72)
#define WM_CAP_END                      WM_CAP_SINGLE_FRAME

// Capture settings: 24 fields of 32 bits, 96 bytes, in the order Windows lays them out.
typedef struct tagCaptureParms {
    DWORD dwRequestMicroSecPerFrame;
    BOOL fMakeUserHitOKToCapture;
    UINT wPercentDropForError;
    BOOL fYield;
    DWORD dwIndexSize;
    UINT wChunkGranularity;
    BOOL fUsingDOSMemory;
    UINT wNumVideoRequested;
    BOOL fCaptureAudio;
    UINT wNumAudioRequested;
    UINT vKeyAbort;
    BOOL fAbortLeftMouse;
    BOOL fAbortRightMouse;
    BOOL fLimitEnabled;
    UINT wTimeLimit;
    BOOL fMCIControl;
    BOOL fStepMCIDevice;
    DWORD dwMCIStartTime;
    DWORD dwMCIStopTime;
    BOOL fStepCaptureAt2x;
    UINT wStepCaptureAverageFrames;
    DWORD dwAudioBufferSize;
    BOOL fDisableWriteCache;
    UINT AVStreamMaster;
} CAPTUREPARMS, *PCAPTUREPARMS, *LPCAPTUREPARMS;
static_assert(sizeof(CAPTUREPARMS) == 96, "CAPTUREPARMS must keep the Windows layout");

#define AVSTREAMMASTER_AUDIO 0
#define AVSTREAMMASTER_NONE  1

HWND WINAPI capCreateCaptureWindowA(LPCSTR lpszWindowName, DWORD dwStyle, int x, int y,
                                    int nWidth, int nHeight, HWND hwndParent, int nID);
#define capCreateCaptureWindow capCreateCaptureWindowA
BOOL WINAPI capGetDriverDescriptionA(UINT wDriverIndex, LPSTR lpszName, int cbName,
                                     LPSTR lpszVer, int cbVer);

// Media window
#define MCIWNDF_NOAUTOSIZEWINDOW  0x0001
#define MCIWNDF_NOPLAYBAR         0x0002
#define MCIWNDF_NOAUTOSIZEMOVIE   0x0004
#define MCIWNDF_NOMENU            0x0008
#define MCIWNDF_SHOWNAME          0x0010
#define MCIWNDF_SHOWPOS           0x0020
#define MCIWNDF_SHOWMODE          0x0040
#define MCIWNDF_SHOWALL           0x0070
#define MCIWNDF_NOTIFYMODE        0x0100
#define MCIWNDF_NOTIFYPOS         0x0200
#define MCIWNDF_NOTIFYSIZE        0x0400
#define MCIWNDF_NOTIFYERROR       0x1000
#define MCIWNDF_NOTIFYALL         0x1F00
#define MCIWNDF_RECORD            0x2000
#define MCIWNDF_NOERRORDLG        0x4000
#define MCIWNDF_NOOPEN            0x8000

HWND WINAPI MCIWndCreateA(HWND hwndParent, HINSTANCE hInstance, DWORD dwStyle, LPCSTR szFile);
#define MCIWndCreate MCIWndCreateA
