// Time from a capture request to the frame handed out, on the simulated USB webcam (linked into
// this program) streaming MJPEG 1920x1080 at 30 fps, with a viewer decoding preview frames to
// the display format meanwhile, as the capture window does. Requests come at random moments;
// every frame must have been exposed after its request, so the wait is up to one frame period.
#include <kelvra/media/source.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

using namespace kelvra::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRequests = 300;
constexpr uint32_t kRate = 30;
constexpr double kPeriodMs = 1000.0 / kRate;
constexpr int kViewerPauseMs = 5;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main()
{
    setenv("KELVRA_UVC_SIM_PROFILE", "webcam1080p", 1);
    std::unique_ptr<FrameSource> source;
    if (!openSource({"/dev/video0", "", ""}, source) ||
        !source->setFormat({PixelFormat::MJPEG, 1920, 1080, {kRate, 1}}) || !source->start()) {
        std::fprintf(stderr, "cannot stream from the simulated webcam\n");
        return 1;
    }
    std::atomic<bool> done{false};
    std::atomic<uint64_t> previewFrames{0};
    std::thread viewer([&] {
        FrameConverter converter;
        Frame f, shown;
        uint64_t last = 0;
        while (!done) {
            if (source->latestFrame(f, last) && converter.convert(f, PixelFormat::BGRA, shown, 200, 112)) {
                last = f.sequence;
                ++previewFrames;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kViewerPauseMs));
        }
    });
    std::mt19937 random(1);
    std::uniform_int_distribution<int> pause(0, int(kPeriodMs * 1000));
    std::vector<double> latencies;
    int stale = 0, failed = 0;
    for (int i = 0; i < kRequests; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        Frame frame;
        const auto requested = Clock::now();
        const Status st = source->grabFresh(frame, std::chrono::seconds(1));
        const auto handed = Clock::now();
        if (!st) {
            ++failed;
            continue;
        }
        stale += frame.captured < requested ? 1 : 0;
        latencies.push_back(std::chrono::duration<double, std::milli>(handed - requested).count());
    }
    done = true;
    viewer.join();
    source->stop();
    if (latencies.empty()) {
        std::fprintf(stderr, "no frame was grabbed\n");
        return 1;
    }
    std::printf("requests: %d, failed: %d, taken before their request: %d, preview frames: %llu\n", kRequests, failed,
                stale, static_cast<unsigned long long>(previewFrames.load()));
    std::printf("grab_latency_ms_p50_1080p: %.3f ms\n", percentile(latencies, 0.50));
    std::printf("grab_latency_ms_max_1080p: %.3f ms\n", percentile(latencies, 1.0));
    std::printf("frame_period_ms_1080p: %.3f ms\n", kPeriodMs);
    std::printf("grab_latency_ms_p99_1080p: %.3f ms\n", percentile(latencies, 0.99));
    return failed || stale ? 1 : 0;
}
