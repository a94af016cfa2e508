// How closely frame steps keep to start + k x interval: the program's frame timer (SetTimer on
// the main window, the real frame step on the test source) next to a repeating QTimer of Qt's
// default type, 600 ticks at 100 ms each, one after the other in the same run.
#include "kelvra.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace {

int kTicks = 600;  // a shorter run: bench_frame_timer TICKS (at least 200)
constexpr int kIntervalMs = 100;
constexpr int kWindow = 100;  // ticks averaged at the start and at the end for the drift

struct Result {
    double maxErrorMs;
    double driftMs;
};

Result summarize(const std::vector<double>& errors)
{
    double worst = 0;
    for (double e : errors)
        worst = std::max(worst, std::abs(e));
    auto mean = [](auto first, auto last) { return std::accumulate(first, last, 0.0) / std::distance(first, last); };
    double early = mean(errors.begin(), errors.begin() + kWindow);
    double late = mean(errors.end() - kWindow, errors.end());
    return {worst, late - early};
}

QElapsedTimer stopwatch;
QEventLoop* loop;  // a loop of our own: quitting the application would close the main window
qint64 startNs;
std::vector<double> errors;
HWND mainWindow;

VOID CALLBACK programTick(HWND hwnd, UINT, UINT_PTR, DWORD)
{
    double due = double(errors.size() + 1) * kIntervalMs;
    errors.push_back((stopwatch.nsecsElapsed() - startNs) / 1e6 - due);
    timerfunction1(hwnd);
    if ((int)errors.size() == kTicks) {
        KillTimer(hwnd, FRAME_TIMER_ID);
        loop->quit();
    }
}

Result measureProgramTimer()
{
    errors.clear();
    SendDlgItemMessageA(mainWindow, EDIT5, WM_SETTEXT, 0, (LPARAM) "10");
    SendDlgItemMessageA(mainWindow, 21, WM_SETTEXT, 0, (LPARAM) "1");
    record(mainWindow);
    startNs = stopwatch.nsecsElapsed();
    SetTimer(mainWindow, FRAME_TIMER_ID, kIntervalMs, programTick);
    loop->exec();
    stopall(mainWindow);
    return summarize(errors);
}

Result measureQTimer()
{
    errors.clear();
    QTimer timer;  // Qt's default type, as a repeating timer is usually set up
    QObject::connect(&timer, &QTimer::timeout, [&] {
        double due = double(errors.size() + 1) * kIntervalMs;
        errors.push_back((stopwatch.nsecsElapsed() - startNs) / 1e6 - due);
        timerfunction1(mainWindow);
        if ((int)errors.size() == kTicks) {
            timer.stop();
            loop->quit();
        }
    });
    record(mainWindow);
    startNs = stopwatch.nsecsElapsed();
    timer.start(kIntervalMs);
    loop->exec();
    stopall(mainWindow);
    return summarize(errors);
}

}  // namespace

int main(int argc, char** argv)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "test", 0);
    if (argc > 1)
        kTicks = std::max(2 * kWindow, std::atoi(argv[1]));
    QApplication app(argc, argv);
    QEventLoop eventLoop;
    loop = &eventLoop;
    stopwatch.start();
    hInst = GetModuleHandleA(nullptr);
    mainWindow = CreateDialogParamA(hInst, MAKEINTRESOURCE(IDD_MAIN), nullptr, DialogFunc, 0);
    QString file = QDir::temp().filePath(QStringLiteral("kelvra-bench-timer-%1.avi").arg(QCoreApplication::applicationPid()));
    QByteArray path = file.toLocal8Bit();
    SendMessageA(CapWndCC, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, (LPARAM)path.constData());

    Result program = measureProgramTimer();
    Result qtimer = measureQTimer();
    QFile::remove(file);

    std::printf("tick_error_ms_max: %.2f ms\n", program.maxErrorMs);
    std::printf("tick_drift_ms: %.3f ms\n", program.driftMs);
    std::printf("qtimer_tick_error_ms_max: %.2f ms\n", qtimer.maxErrorMs);
    std::printf("qtimer_tick_drift_ms: %.3f ms\n", qtimer.driftMs);
    return 0;
}
