// Process start-up: what the C run-time does before a GUI program's WinMain runs.
#include <windows.h>

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelvra Time-lapse");
    // The command line is handed over as Windows would, without the program's own name.
    static char commandLine[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}
