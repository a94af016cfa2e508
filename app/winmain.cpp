// Program entry: the main window runs as a modal dialog until the exit path ends it.
#include "kelvra.h"

int WINAPI WinMain(HINSTANCE hinst, HINSTANCE hinstPrev, LPSTR lpCmdLine, int nCmdShow)
{
    hInst = hinst;
    DialogBoxParamA(hinst, MAKEINTRESOURCEA(IDD_MAIN), NULL, DialogFunc, 0);
    return 1;
}
