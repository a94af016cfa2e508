// Process-wide state of the program; each item is described where kelvra.h declares it.
#include "kelvra.h"

HINSTANCE hInst;
HWND CapWndCC;
CAPTUREPARMS gCapParms;
int tFlag;
int timez;
int cDriver;
float fps;
int test;
int fcount;
char sring[16];
