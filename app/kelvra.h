// The program's shared declarations: process-wide state, the actions the main window
// dispatches, and the dialog procedures. Every module of the program includes this file.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <vfw.h>

#include "resource.h"

// Frame timer of the main window
#define FRAME_TIMER_ID 1

// State that lives as long as the process
extern HINSTANCE hInst;        // the program's module
extern HWND CapWndCC;          // the capture window; null until InitializeApp creates it
extern CAPTUREPARMS gCapParms; // capture settings, read from and written back to CapWndCC
extern int tFlag;              // overlay: 0 off (preview), 1 on
extern int timez;              // selected unit in milliseconds
extern int cDriver;            // non-zero when that driver is connected
extern float fps;              // the Capture Every count (the name is historical)
extern int test;               // the Speed Fps value
extern int fcount;             // frame steps since the last STOP ALL
extern char sring[16];         // fcount in decimal, as shown in EDIT6
extern HWND hwndMci;           // the player's last media window

// Entry and main window (app/)
INT_PTR CALLBACK DialogFunc(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL exitpath(HWND hwndDlg);

// Capture control (capture/)
int InitializeApp(HWND hwndDlg);
int record(HWND hwndDlg);
int grabaframe(HWND hwndDlg);
int timerfunction1(HWND hwndDlg);
int stopall(HWND hwndDlg);
int overlaymode(HWND hwndDlg);
BOOL GetFileName(LPSTR buffer, DWORD buflen);
BOOL cmdrecord(HWND hwndDlg);    // REC and RESUME
BOOL cmdpause(HWND hwndDlg);
BOOL cmdstop(HWND hwndDlg);
BOOL cmdgrab(HWND hwndDlg);
BOOL cmdsource(HWND hwndDlg);
BOOL cmdformat(HWND hwndDlg);
BOOL cmdcompression(HWND hwndDlg);
BOOL cmdoverlay(HWND hwndDlg);
BOOL cmdcapturefile(HWND hwndDlg);
BOOL cmdseconds(HWND hwndDlg);
BOOL cmdminutes(HWND hwndDlg);
BOOL cmdhours(HWND hwndDlg);
BOOL cmddays(HWND hwndDlg);

// Playback (player/)
INT_PTR CALLBACK Videoplayer(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL cmdplayer(HWND hwndDlg);

// Help and information (help/)
INT_PTR CALLBACK QuickHelp(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlg(HWND hwndDlg, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL cmdhelp(HWND hwndDlg);
BOOL cmdquickhelp(HWND hwndDlg);
BOOL cmdabout(HWND hwndDlg);

// The help file, as the program names it
#define HELP_FILE_PATH "\\progra~1\\Kelvra\\kel.hlp"
