// Control and resource identifiers of the program's windows; kelvra.rc includes this file.
#pragma once

// Templates and icon
#define IDD_MAIN        104
#define IDD_ABOUT       200
#define IDI_KELVRA      400
#define IDD_PLAYER      600
#define IDD_QUICKHELP   900

// Main window (template 104)
#define IDDREC          1
#define IDRP            2
#define IDSTOP          3
#define IDRESU          4
#define IDMAN           5
#define IDSOURCE        6
#define IDFORMAT        7
#define IDCOMP          8
#define IDDISP          9
#define IDFIL           10
#define IDPLAYER        11
// The Windows headers define IDHELP (9) for the standard Help button; this window's is 12.
#undef IDHELP
#define IDHELP          12
#define IDQH            13
#define IDABOUT         14
#define IDEXIT          15
#define CBSEC           16
#define CBMIN           17
#define CBHOU           18
#define CBDAY           19
#define EDIT5           20
#define IDUPD2          23
#define EDIT2           111
#define EDIT3           112
#define IDUPD           123
#define EDIT6           128

// Player (template 600)
#define IDUP            602
#define IDBACK          604

// Quick reference (900) and About (200): the OK button
#define IDINFOOK        15
