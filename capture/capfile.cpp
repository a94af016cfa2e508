// The AVI file chooser, shared with the player, and the CaptureFile command.
#include "kelvra.h"

#include <commdlg.h>

#include <cstring>

#define FILTER_TEXT "All files,*.*,Video Files,*.AVI"
#define FILTER_BUFFER 40
#define VIDEO_FILES_ENTRY 2
#define CHOOSER_FLAGS                                                                              \
    (OFN_EXPLORER | OFN_CREATEPROMPT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXTENSIONDIFFERENT | \
     OFN_SHOWHELP | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT)

// Returns non-zero when the user chose a file. After a cancel the buffer holds only the initial
// pattern, which is no file name: callers then leave everything as it was.
BOOL GetFileName(LPSTR buffer, DWORD buflen)
{
    OPENFILENAMEA ofn;
    char filter[FILTER_BUFFER];
    size_t i;

    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hInstance = GetModuleHandleA(NULL);
    ofn.hwndOwner = GetActiveWindow();

    std::strncpy(buffer, "*.AVI", buflen);
    buffer[buflen - 1] = '\0';
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = buflen;
    ofn.lpstrTitle = "Create Capture File";

    // The chooser takes (description, pattern) pairs separated by NULs, ended by an empty one.
    std::memset(filter, 0, sizeof filter);
    std::strcpy(filter, FILTER_TEXT);
    for (i = 0; filter[i] != '\0'; i++)
        if (filter[i] == ',')
            filter[i] = '\0';
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = VIDEO_FILES_ENTRY;

    ofn.lpstrDefExt = "AVI";
    ofn.Flags = CHOOSER_FLAGS;
    return GetOpenFileNameA(&ofn);
}

BOOL cmdcapturefile(HWND hwndDlg)
{
    char path[MAX_PATH];
    if (GetFileName(path, sizeof path) && IsWindow(CapWndCC))
        SendMessageA(CapWndCC, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, (LPARAM)path);
    return TRUE;
}
