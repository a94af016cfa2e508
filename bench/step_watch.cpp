// What the capture window's watch adds to one frame step: the picture's digest (frozen camera),
// the room left on the disk and the forecast, and a journal line synced to disk (written only
// when something happens, so not at every step).
#include "recording_watch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

using namespace kelvra::avicap;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSteps = 2000;
constexpr int kJournalLines = 200;
constexpr size_t kFrameBytes = 640 * 480 * 2;  // one YUYV picture at 640x480
constexpr uint64_t kCompressedBytes = 40000;    // a Motion JPEG picture of that size
constexpr uint64_t kIntervalMs = 60000;

double microsPerCall(Clock::time_point start, int calls)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

}  // namespace

int main()
{
    char folder[] = "/tmp/kelvra-step-watch-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string capture = std::string(folder) + "/bench.avi";
    std::vector<uint8_t> picture(kFrameBytes);
    RecordingWatch watch(capture, 0, "640x480, Motion JPEG", 0);

    auto start = Clock::now();
    for (int i = 0; i < kSteps; ++i) {
        picture[size_t(i) % kFrameBytes] ^= 1;  // every picture differs, as a live camera's do
        watch.stepBegins(uint64_t(i + 1) * kIntervalMs);
        watch.framed(pictureDigest(picture.data(), picture.size()), kCompressedBytes, uint64_t(i + 1));
    }
    const double stepUs = microsPerCall(start, kSteps);

    Journal journal(capture + "-lines");
    start = Clock::now();
    for (int i = 0; i < kJournalLines; ++i)
        journal.write("Frame step not recorded: the bench's line " + std::to_string(i));
    const double lineUs = microsPerCall(start, kJournalLines);

    std::printf("forecast: %s\n", watch.forecastLine().c_str());
    std::printf("watch_step_us: %.1f us\n", stepUs);
    std::printf("journal_line_us: %.1f us\n", lineUs);
    unlink(journal.path().c_str());
    unlink(Journal::pathFor(capture).c_str());
    rmdir(folder);
    return 0;
}
