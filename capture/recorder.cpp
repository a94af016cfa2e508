// Time-lapse recording: REC, PAUSE, RESUME, STOP ALL, GRAB SINGLE FRAME, the unit buttons and
// the frame step that the frame timer runs once per interval.
#include "kelvra.h"

#define UNIT_SECOND 1000
#define UNIT_MINUTE 60000
#define UNIT_HOUR 3600000
#define UNIT_DAY 86400000

#define MICROSECONDS_PER_SECOND 1000000.0
#define TWO_POW_31 2147483648.0
#define LONGEST_INTERVAL_MS 4294967295.0  // the timer's interval is an unsigned 32-bit count
#define TIMING_CAPTION "Timing Controls"

// Truncation toward zero to 32 bits, giving -2^31 for whatever does not fit (infinity too), as
// the original compiler's conversion does; written out so that no value is undefined behaviour.
static LONG truncate32(double v)
{
    if (!(v > -TWO_POW_31 - 1.0 && v < TWO_POW_31))
        return (LONG)0x80000000u;
    return (LONG)v;
}

// Conversion to unsigned 32 bits: values of 2^31 and more go through the upper half.
static DWORD touint32(double v)
{
    if (v < TWO_POW_31)
        return (DWORD)truncate32(v);
    return (DWORD)truncate32(v - TWO_POW_31) + 0x80000000u;
}

static void setstatus(HWND hwndDlg, LPCSTR text)
{
    SendDlgItemMessageA(hwndDlg, EDIT3, WM_SETTEXT, 0, (LPARAM)text);
}

static void setframetime(void)
{
    gCapParms.dwRequestMicroSecPerFrame = touint32(MICROSECONDS_PER_SECOND / test);
}

static void getsettings(void)
{
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_GET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&gCapParms);
}

static void putsettings(void)
{
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&gCapParms);
}

static void openfile(void)
{
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SINGLE_FRAME_OPEN, 0, 0);
}

// A spinner marks a field that holds no number within its range with a non-zero high word.
// Zero is refused too: no frames per second, or an interval of nothing, is not a recording.
static BOOL spinnervalue(HWND hwndDlg, int spinner, LONG* value)
{
    LRESULT answer = SendDlgItemMessageA(hwndDlg, spinner, UDM_GETPOS, 0, 0);
    *value = (LONG)answer;
    return HIWORD(answer) == 0 && LOWORD(answer) >= 1;
}

static void refusefield(HWND hwndDlg, int spinner, LPCSTR field, LPCSTR unit)
{
    int low = 0, high = 0;
    char text[300];
    SendDlgItemMessageA(hwndDlg, spinner, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&high);
    wsprintfA(text,
              "%s needs a whole number of %s from 1 to %d. Type it into the %s field or set it with "
              "its arrows, then try again.",
              field, unit, high, field);
    MessageBoxA(hwndDlg, text, TIMING_CAPTION, MB_ICONEXCLAMATION | MB_OK);
}

static LPCSTR unitname(void)
{
    switch (timez) {
    case UNIT_MINUTE: return "Minutes";
    case UNIT_HOUR: return "Hours";
    case UNIT_DAY: return "Days";
    default: return "Seconds";
    }
}

// Values the timer or the file cannot take are refused before anything changes, so a running
// recording goes on untouched.
static BOOL speedisvalid(HWND hwndDlg)
{
    LONG speed;
    if (spinnervalue(hwndDlg, IDUPD, &speed))
        return TRUE;
    refusefield(hwndDlg, IDUPD, "Speed Fps", "frames per second");
    return FALSE;
}

static BOOL intervalisvalid(HWND hwndDlg)
{
    LONG count;
    char text[400];
    if (!spinnervalue(hwndDlg, IDUPD2, &count)) {
        refusefield(hwndDlg, IDUPD2, "Capture Every", unitname());
        return FALSE;
    }
    if ((double)timez * count <= LONGEST_INTERVAL_MS)
        return TRUE;
    wsprintfA(text,
              "Capture Every %d %s is longer than the longest interval allowed: 4,294,967,295 ms "
              "(49 days, 17 hours, 2 minutes and 47 seconds). With %s, Capture Every can be at most %d.",
              (int)count, unitname(), unitname(), (int)(LONGEST_INTERVAL_MS / timez));
    MessageBoxA(hwndDlg, text, TIMING_CAPTION, MB_ICONEXCLAMATION | MB_OK);
    return FALSE;
}

static VOID CALLBACK frametimer(HWND hwnd, UINT msg, UINT_PTR id, DWORD time)
{
    timerfunction1(hwnd);
}

int record(HWND hwndDlg)
{
    SendDlgItemMessageA(hwndDlg, EDIT6, WM_SETTEXT, 0, (LPARAM) "0");
    test = (LONG)SendDlgItemMessageA(hwndDlg, IDUPD, UDM_GETPOS, 0, 0);
    fps = (float)(LONG)SendDlgItemMessageA(hwndDlg, IDUPD2, UDM_GETPOS, 0, 0);
    getsettings();
    setframetime();
    putsettings();
    setstatus(hwndDlg, "REC");
    openfile();
    return 1;
}

int timerfunction1(HWND hwndDlg)
{
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SINGLE_FRAME, 0, 0);
    fcount = fcount + 1;
    wsprintfA(sring, "%d", fcount);
    SendDlgItemMessageA(hwndDlg, EDIT6, WM_SETTEXT, 0, (LPARAM)sring);
    return 1;
}

int grabaframe(HWND hwndDlg)
{
    setstatus(hwndDlg, "REC");
    test = (LONG)SendDlgItemMessageA(hwndDlg, IDUPD, UDM_GETPOS, 0, 0);
    getsettings();
    setframetime();
    putsettings();
    openfile();
    timerfunction1(hwndDlg);
    return 1;
}

int stopall(HWND hwndDlg)
{
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_ABORT, 0, 0);
    setstatus(hwndDlg, "STOP");
    if (IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_SINGLE_FRAME_CLOSE, 0, 0);
    KillTimer(hwndDlg, FRAME_TIMER_ID);
    fcount = 0;
    return 1;
}

// REC and RESUME: a timer already running is replaced, so the new interval counts from now.
BOOL cmdrecord(HWND hwndDlg)
{
    if (!speedisvalid(hwndDlg) || !intervalisvalid(hwndDlg))
        return TRUE;
    record(hwndDlg);
    SetTimer(hwndDlg, FRAME_TIMER_ID, touint32((double)timez * fps), frametimer);
    return TRUE;
}

BOOL cmdpause(HWND hwndDlg)
{
    setstatus(hwndDlg, "PAUSED");
    KillTimer(hwndDlg, FRAME_TIMER_ID);
    return TRUE;
}

BOOL cmdstop(HWND hwndDlg)
{
    stopall(hwndDlg);
    return TRUE;
}

BOOL cmdgrab(HWND hwndDlg)
{
    if (speedisvalid(hwndDlg))
        grabaframe(hwndDlg);
    return TRUE;
}

// A unit change takes effect at the next REC or RESUME.
BOOL cmdseconds(HWND hwndDlg) { timez = UNIT_SECOND; return TRUE; }
BOOL cmdminutes(HWND hwndDlg) { timez = UNIT_MINUTE; return TRUE; }
BOOL cmdhours(HWND hwndDlg) { timez = UNIT_HOUR; return TRUE; }
BOOL cmddays(HWND hwndDlg) { timez = UNIT_DAY; return TRUE; }
