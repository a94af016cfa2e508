// The Win32 subset this program uses, with the names, types and values Windows gives them.
// Behind these declarations the work is done by the platform libraries in platform/.
#pragma once

#include <cstdint>
#include <cstddef>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define VOID void

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;          // 32 bits as on Windows, not "unsigned long"
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef void* HANDLE;

#define DECLARE_HANDLE(name) struct name##__ { int unused; }; typedef struct name##__* name
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HICON);
typedef HINSTANCE HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef NULL
#define NULL nullptr
#endif

#define MAX_PATH 260

#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((uintptr_t)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)((uintptr_t)(a) & 0xffff)) | ((DWORD)((WORD)((uintptr_t)(b) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

typedef INT_PTR (CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef VOID (CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// Window messages
#define WM_NULL           0x0000
#define WM_CREATE         0x0001
#define WM_DESTROY        0x0002
#define WM_MOVE           0x0003
#define WM_SIZE           0x0005
#define WM_SETFOCUS       0x0007
#define WM_KILLFOCUS      0x0008
#define WM_ENABLE         0x000A
#define WM_SETTEXT        0x000C
#define WM_GETTEXT        0x000D
#define WM_GETTEXTLENGTH  0x000E
#define WM_PAINT          0x000F
#define WM_CLOSE          0x0010
#define WM_QUIT           0x0012
#define WM_SHOWWINDOW     0x0018
#define WM_HELP           0x0053
#define WM_NOTIFY         0x004E
#define WM_KEYDOWN        0x0100
#define WM_KEYUP          0x0101
#define WM_CHAR           0x0102
#define WM_INITDIALOG     0x0110
#define WM_COMMAND        0x0111
#define WM_SYSCOMMAND     0x0112
#define WM_TIMER          0x0113
#define WM_HSCROLL        0x0114
#define WM_VSCROLL        0x0115
#define WM_USER           0x0400

// Button messages and states
#define BM_GETCHECK       0x00F0
#define BM_SETCHECK       0x00F1
#define BM_GETSTATE       0x00F2
#define BM_SETSTATE       0x00F3
#define BM_SETSTYLE       0x00F4
#define BM_CLICK          0x00F5
#define BST_UNCHECKED     0x0000
#define BST_CHECKED       0x0001
#define BST_INDETERMINATE 0x0002
#define BN_CLICKED        0

// Edit messages
#define EM_SETSEL         0x00B1
#define EM_SETREADONLY    0x00CF
#define EM_LIMITTEXT      0x00C5
#define EN_CHANGE         0x0300

// Window styles
#define WS_OVERLAPPED     0x00000000L
#define WS_POPUP          0x80000000L
#define WS_CHILD          0x40000000L
#define WS_MINIMIZE       0x20000000L
#define WS_VISIBLE        0x10000000L
#define WS_DISABLED       0x08000000L
#define WS_CLIPSIBLINGS   0x04000000L
#define WS_CLIPCHILDREN   0x02000000L
#define WS_MAXIMIZE       0x01000000L
#define WS_CAPTION        0x00C00000L
#define WS_BORDER         0x00800000L
#define WS_DLGFRAME       0x00400000L
#define WS_VSCROLL        0x00200000L
#define WS_HSCROLL        0x00100000L
#define WS_SYSMENU        0x00080000L
#define WS_THICKFRAME     0x00040000L
#define WS_GROUP          0x00020000L
#define WS_TABSTOP        0x00010000L
#define WS_MINIMIZEBOX    0x00020000L
#define WS_MAXIMIZEBOX    0x00010000L
#define WS_OVERLAPPEDWINDOW (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_POPUPWINDOW    (WS_POPUP | WS_BORDER | WS_SYSMENU)

#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_TOPMOST       0x00000008L
#define WS_EX_TRANSPARENT   0x00000020L
#define WS_EX_TOOLWINDOW    0x00000080L
#define WS_EX_WINDOWEDGE    0x00000100L
#define WS_EX_CLIENTEDGE    0x00000200L
#define WS_EX_CONTEXTHELP   0x00000400L
#define WS_EX_STATICEDGE    0x00020000L

// Dialog styles
#define DS_ABSALIGN       0x0001L
#define DS_SYSMODAL       0x0002L
#define DS_3DLOOK         0x0004L
#define DS_FIXEDSYS       0x0008L
#define DS_NOFAILCREATE   0x0010L
#define DS_LOCALEDIT      0x0020L
#define DS_SETFONT        0x0040L
#define DS_MODALFRAME     0x0080L
#define DS_NOIDLEMSG      0x0100L
#define DS_SETFOREGROUND  0x0200L
#define DS_CONTROL        0x0400L
#define DS_CENTER         0x0800L
#define DS_CENTERMOUSE    0x1000L
#define DS_CONTEXTHELP    0x2000L
#define DS_SHELLFONT      (DS_SETFONT | DS_FIXEDSYS)

// Button styles
#define BS_PUSHBUTTON     0x00000000L
#define BS_DEFPUSHBUTTON  0x00000001L
#define BS_CHECKBOX       0x00000002L
#define BS_AUTOCHECKBOX   0x00000003L
#define BS_RADIOBUTTON    0x00000004L
#define BS_3STATE         0x00000005L
#define BS_AUTO3STATE     0x00000006L
#define BS_GROUPBOX       0x00000007L
#define BS_USERBUTTON     0x00000008L
#define BS_AUTORADIOBUTTON 0x00000009L
#define BS_OWNERDRAW      0x0000000BL
#define BS_TYPEMASK       0x0000000FL
#define BS_LEFTTEXT       0x00000020L
#define BS_TEXT           0x00000000L
#define BS_LEFT           0x00000100L
#define BS_RIGHT          0x00000200L
#define BS_CENTER         0x00000300L
#define BS_TOP            0x00000400L
#define BS_BOTTOM         0x00000800L
#define BS_VCENTER        0x00000C00L
#define BS_PUSHLIKE       0x00001000L
#define BS_MULTILINE      0x00002000L
#define BS_NOTIFY         0x00004000L
#define BS_FLAT           0x00008000L

// Edit styles
#define ES_LEFT           0x0000L
#define ES_CENTER         0x0001L
#define ES_RIGHT          0x0002L
#define ES_MULTILINE      0x0004L
#define ES_UPPERCASE      0x0008L
#define ES_LOWERCASE      0x0010L
#define ES_PASSWORD       0x0020L
#define ES_AUTOVSCROLL    0x0040L
#define ES_AUTOHSCROLL    0x0080L
#define ES_NOHIDESEL      0x0100L
#define ES_OEMCONVERT     0x0400L
#define ES_READONLY       0x0800L
#define ES_WANTRETURN     0x1000L
#define ES_NUMBER         0x2000L

// Static styles
#define SS_LEFT           0x00000000L
#define SS_CENTER         0x00000001L
#define SS_RIGHT          0x00000002L
#define SS_ICON           0x00000003L
#define SS_BLACKRECT      0x00000004L
#define SS_SIMPLE         0x0000000BL
#define SS_LEFTNOWORDWRAP 0x0000000CL
#define SS_NOPREFIX       0x00000080L
#define SS_NOTIFY         0x00000100L
#define SS_CENTERIMAGE    0x00000200L
#define SS_SUNKEN         0x00001000L

// Message boxes
#define MB_OK               0x00000000L
#define MB_OKCANCEL         0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL      0x00000003L
#define MB_YESNO            0x00000004L
#define MB_RETRYCANCEL      0x00000005L
#define MB_TYPEMASK         0x0000000FL
#define MB_ICONHAND         0x00000010L
#define MB_ICONQUESTION     0x00000020L
#define MB_ICONEXCLAMATION  0x00000030L
#define MB_ICONASTERISK     0x00000040L
#define MB_ICONMASK         0x000000F0L
#define MB_ICONWARNING      MB_ICONEXCLAMATION
#define MB_ICONERROR        MB_ICONHAND
#define MB_ICONINFORMATION  MB_ICONASTERISK
#define MB_ICONSTOP         MB_ICONHAND
#define MB_DEFBUTTON1       0x00000000L
#define MB_DEFBUTTON2       0x00000100L
#define MB_DEFBUTTON3       0x00000200L
#define MB_DEFMASK          0x00000F00L
#define MB_APPLMODAL        0x00000000L
#define MB_SYSTEMMODAL      0x00001000L
#define MB_TASKMODAL        0x00002000L

#define IDOK       1
#define IDCANCEL   2
#define IDABORT    3
#define IDRETRY    4
#define IDIGNORE   5
#define IDYES      6
#define IDNO       7

// Show commands
#define SW_HIDE          0
#define SW_SHOWNORMAL    1
#define SW_NORMAL        1
#define SW_SHOW          5

// Help viewer commands
#define HELP_CONTEXT      0x0001L
#define HELP_QUIT         0x0002L
#define HELP_INDEX        0x0003L
#define HELP_CONTENTS     0x0003L
#define HELP_HELPONHELP   0x0004L
#define HELP_SETINDEX     0x0005L
#define HELP_SETCONTENTS  0x0005L
#define HELP_KEY          0x0101L
#define HELP_FINDER       0x000BL

// Timers: the limits Windows applies (USER_TIMER_MAXIMUM is not applied here; see SetTimer).
#define USER_TIMER_MINIMUM 0x0000000A
#define USER_TIMER_MAXIMUM 0x7FFFFFFF

// Kernel
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
DWORD WINAPI GetTickCount(void);

// Process start-up calls the program's entry point with its module handle.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

// Dialogs
INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam);
#define DialogBoxA(i, t, p, f) DialogBoxParamA(i, t, p, f, 0)
#define DialogBox DialogBoxA
#define DialogBoxParam DialogBoxParamA
BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult);
HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem);
int WINAPI GetDlgCtrlID(HWND hWnd);
LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam);
#define SendDlgItemMessage SendDlgItemMessageA
BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
#define SetDlgItemText SetDlgItemTextA
UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);
#define GetDlgItemText GetDlgItemTextA
BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck);
UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton);
BOOL WINAPI CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton);

// Windows
BOOL WINAPI IsWindow(HWND hWnd);
BOOL WINAPI IsWindowVisible(HWND hWnd);
BOOL WINAPI IsWindowEnabled(HWND hWnd);
BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable);
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI DestroyWindow(HWND hWnd);
HWND WINAPI GetParent(HWND hWnd);
HWND WINAPI GetActiveWindow(void);
HWND WINAPI GetFocus(void);
HWND WINAPI SetFocus(HWND hWnd);
LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
#define SendMessage SendMessageA
BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
#define PostMessage PostMessageA
BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
#define SetWindowText SetWindowTextA
int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
#define GetWindowText GetWindowTextA

// Message boxes
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
#define MessageBox MessageBoxA
BOOL WINAPI MessageBeep(UINT uType);

// Timers
UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// Help viewer
BOOL WINAPI WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData);
#define WinHelp WinHelpA

// String helpers the program uses from the C run-time's Windows flavour
int WINAPI wsprintfA(LPSTR buffer, LPCSTR format, ...);
#define wsprintf wsprintfA

// Modeless dialogs (the platform's tests and tools make windows from templates this way)
HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam);
#define CreateDialogParam CreateDialogParamA
