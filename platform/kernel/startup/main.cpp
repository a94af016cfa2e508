// Process start-up: what the C run-time does before a GUI program's WinMain runs.
#include <windows.h>

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // Past a file-size limit a write must fail with an error the capture file reports, not end
    // the process and the recording with it.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kelvra Time-lapse");
    // The command line is handed over as Windows would, without the program's own name.
    static char commandLine[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}
