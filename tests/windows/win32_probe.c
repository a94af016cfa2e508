/* The conformance run's hands and eyes on a Win32 desktop: finds the program's windows by
 * caption, lists a dialog's controls through the Win32 API (as Wine's dialog tests do), reads and
 * writes their texts, clicks buttons and presses keys by posting the messages a user's input
 * would produce. One command per run; the exit status says whether it held (0), failed (1) or
 * was misused (2).
 *
 *   win32_probe wait CAPTION [ms]        a visible top-level window with that caption appears
 *   win32_probe gone CAPTION [ms]        no window with that caption is left
 *   win32_probe hidden CAPTION           the window exists and is not visible yet
 *   win32_probe stays CAPTION ms         the window is still there after ms
 *   win32_probe boxtext CAPTION          a message box's text
 *   win32_probe list CAPTION EXE ID      the dialog's controls, one line each (below); the
 *                                        dialog is template ID of the program EXE
 *   win32_probe text CAPTION ID          a control's text
 *   win32_probe settext CAPTION ID TEXT  sets a control's text (WM_SETTEXT)
 *   win32_probe click CAPTION ID         clicks a button (BM_CLICK)
 *   win32_probe key CAPTION VK           presses a key where the dialog's focus is
 *   win32_probe waittext CAPTION ID TEXT [ms]   a control comes to show the text
 *
 * A CAPTION ending in '*' matches every caption that begins with the rest (an installer names
 * its page in the caption).
 *
 * A listing line: id, class, style, extended style, x, y, cx, cy in dialog units, text; tab
 * separated, the text last and as it is. Dialog units are the pixels taken back through the
 * dialog's base units, the inverse of MapDialogRect. MapDialogRect answers only for a dialog of
 * its own process, so the base units come from a hidden copy made here from the same template
 * in the same program file: the same font on the same system. */
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kHeld = 0, kFailed = 1, kMisused = 2 };
enum { kPollMs = 50, kDefaultWaitMs = 20000, kSendTimeoutMs = 5000, kTextMax = 1024 };
/* The static control of a message box that holds its text (Windows and Wine alike). */
#define MSGBOX_TEXT_ID 0xFFFF

struct Search {
    const char* caption;
    BOOL visibleOnly;
    HWND found;
};

static BOOL captionMatches(const char* title, const char* caption)
{
    size_t length = strlen(caption);
    if (length > 0 && caption[length - 1] == '*')
        return strncmp(title, caption, length - 1) == 0;
    return strcmp(title, caption) == 0;
}

static BOOL CALLBACK matchCaption(HWND hwnd, LPARAM lParam)
{
    struct Search* search = (struct Search*)lParam;
    char title[kTextMax];
    if (search->visibleOnly && !IsWindowVisible(hwnd))
        return TRUE;
    GetWindowTextA(hwnd, title, sizeof title);
    if (!captionMatches(title, search->caption))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

static HWND findTopLevel(const char* caption, BOOL visibleOnly)
{
    struct Search search = {caption, visibleOnly, NULL};
    EnumWindows(matchCaption, (LPARAM)&search);
    return search.found;
}

static HWND waitFor(const char* caption, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = findTopLevel(caption, TRUE);
        if (hwnd || GetTickCount() - start >= ms)
            return hwnd;
        Sleep(kPollMs);
    }
}

/* The window's text as its own procedure answers WM_GETTEXT: GetWindowText of another
 * process's control would give the caption the system keeps, not an edit control's text. */
static BOOL readText(HWND hwnd, char* text, int size)
{
    DWORD_PTR copied = 0;
    text[0] = '\0';
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &copied))
        return FALSE;
    text[copied < (DWORD_PTR)size ? copied : (DWORD_PTR)size - 1] = '\0';
    return TRUE;
}

static INT_PTR CALLBACK quietDialog(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return FALSE;
}

/* Pixels of 4 x 8 dialog units, the base units, of template `id` in the program file `exe`. */
static BOOL templateBaseUnits(const char* exe, int id, RECT* base)
{
    HMODULE module = LoadLibraryExA(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG) : NULL;
    DLGTEMPLATE* hidden;
    HWND copy;
    if (!found) {
        fprintf(stderr, "no dialog %d in %s\n", id, exe);
        return FALSE;
    }
    /* A private copy of the template without WS_VISIBLE (the first DWORD of DLGTEMPLATEEX
     * after its signature is the help id; the style follows). */
    hidden = (DLGTEMPLATE*)LocalAlloc(LPTR, SizeofResource(module, found));
    memcpy(hidden, LockResource(LoadResource(module, found)), SizeofResource(module, found));
    ((DWORD*)hidden)[3] &= ~WS_VISIBLE;
    InitCommonControls();
    copy = CreateDialogIndirectParamA(GetModuleHandleA(NULL), hidden, NULL, quietDialog, 0);
    SetRect(base, 0, 0, 4, 8);
    if (copy) {
        MapDialogRect(copy, base);
        DestroyWindow(copy);
    }
    LocalFree(hidden);
    FreeLibrary(module);
    return copy != NULL;
}

static int listControls(HWND dialog, const char* exe, int id)
{
    RECT base;
    HWND child;
    if (!templateBaseUnits(exe, id, &base)) {
        fprintf(stderr, "could not measure the base units of dialog %d\n", id);
        return kFailed;
    }
    for (child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[256], text[kTextMax];
        RECT r;
        GetClassNameA(child, cls, sizeof cls);
        readText(child, text, sizeof text);
        GetWindowRect(child, &r);
        MapWindowPoints(HWND_DESKTOP, dialog, (POINT*)&r, 2);
        printf("%d\t%s\t%08lx\t%08lx\t%d\t%d\t%d\t%d\t%s\n", GetDlgCtrlID(child), cls,
               (unsigned long)GetWindowLongA(child, GWL_STYLE),
               (unsigned long)GetWindowLongA(child, GWL_EXSTYLE),
               MulDiv(r.left, 4, base.right), MulDiv(r.top, 8, base.bottom),
               MulDiv(r.right - r.left, 4, base.right),
               MulDiv(r.bottom - r.top, 8, base.bottom), text);
    }
    return kHeld;
}

/* A key goes where the keyboard would send it: the focus window of the dialog's thread, which
 * the dialog manager's loop hands to IsDialogMessage. */
static int pressKey(HWND dialog, UINT vk)
{
    GUITHREADINFO info;
    HWND target = dialog;
    UINT scan = MapVirtualKeyA(vk, 0 /* MAPVK_VK_TO_VSC */);
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info) && info.hwndFocus)
        target = info.hwndFocus;
    if (!PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16)))
        return kFailed;
    return PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u) ? kHeld : kFailed;
}

static DWORD optionalMs(int argc, char** argv, int index)
{
    return argc > index ? (DWORD)strtoul(argv[index], NULL, 10) : kDefaultWaitMs;
}

static int usage(void)
{
    fprintf(stderr, "usage: win32_probe wait|gone|hidden|stays|boxtext|list|text|settext|click|key|waittext "
                    "CAPTION [ID] [TEXT|VK] [ms]\n");
    return kMisused;
}

static int waitCommands(const char* command, const char* caption, int argc, char** argv)
{
    if (strcmp(command, "wait") == 0) {
        if (waitFor(caption, optionalMs(argc, argv, 3)))
            return kHeld;
        fprintf(stderr, "no window \"%s\" appeared\n", caption);
        return kFailed;
    }
    if (strcmp(command, "gone") == 0) {
        DWORD start = GetTickCount(), ms = optionalMs(argc, argv, 3);
        while (findTopLevel(caption, FALSE)) {
            if (GetTickCount() - start >= ms) {
                fprintf(stderr, "the window \"%s\" is still there\n", caption);
                return kFailed;
            }
            Sleep(kPollMs);
        }
        return kHeld;
    }
    if (strcmp(command, "stays") == 0) {
        Sleep(optionalMs(argc, argv, 3));
        if (findTopLevel(caption, TRUE))
            return kHeld;
        fprintf(stderr, "the window \"%s\" went away\n", caption);
        return kFailed;
    }
    return -1;
}

static int controlCommands(const char* command, HWND window, int argc, char** argv)
{
    char text[kTextMax];
    HWND control;
    if (strcmp(command, "boxtext") == 0) {
        if (!readText(GetDlgItem(window, MSGBOX_TEXT_ID), text, sizeof text))
            return kFailed;
        printf("%s\n", text);
        return kHeld;
    }
    if (strcmp(command, "list") == 0)
        return argc > 4 ? listControls(window, argv[3], atoi(argv[4])) : usage();
    if (strcmp(command, "key") == 0)
        return argc > 3 ? pressKey(window, (UINT)strtoul(argv[3], NULL, 0)) : usage();
    if (argc < 4)
        return usage();
    control = GetDlgItem(window, atoi(argv[3]));
    if (!control) {
        fprintf(stderr, "no control %s in \"%s\"\n", argv[3], argv[2]);
        return kFailed;
    }
    if (strcmp(command, "text") == 0) {
        if (!readText(control, text, sizeof text))
            return kFailed;
        printf("%s\n", text);
        return kHeld;
    }
    if (strcmp(command, "settext") == 0 && argc > 4) {
        DWORD_PTR done = 0;
        return SendMessageTimeoutA(control, WM_SETTEXT, 0, (LPARAM)argv[4], SMTO_ABORTIFHUNG, kSendTimeoutMs, &done) && done
                   ? kHeld : kFailed;
    }
    if (strcmp(command, "click") == 0)
        return PostMessageA(control, BM_CLICK, 0, 0) ? kHeld : kFailed;
    if (strcmp(command, "waittext") == 0 && argc > 4) {
        DWORD start = GetTickCount(), ms = optionalMs(argc, argv, 5);
        for (;;) {
            if (readText(control, text, sizeof text) && strcmp(text, argv[4]) == 0)
                return kHeld;
            if (GetTickCount() - start >= ms)
                break;
            Sleep(kPollMs);
        }
        fprintf(stderr, "control %s shows \"%s\", not \"%s\"\n", argv[3], text, argv[4]);
        return kFailed;
    }
    return usage();
}

int main(int argc, char** argv)
{
    HWND window;
    int result;
    if (argc < 3)
        return usage();
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    result = waitCommands(argv[1], argv[2], argc, argv);
    if (result >= 0)
        return result;
    window = findTopLevel(argv[2], FALSE);
    if (!window) {
        fprintf(stderr, "no window \"%s\"\n", argv[2]);
        return kFailed;
    }
    if (strcmp(argv[1], "hidden") == 0) {
        if (!IsWindowVisible(window))
            return kHeld;
        fprintf(stderr, "the window \"%s\" is already visible\n", argv[2]);
        return kFailed;
    }
    return controlCommands(argv[1], window, argc, argv);
}
