// Time from a capture request to the frame handed out, with the test source streaming its
// preview at 30 fps in real time and a viewer taking preview frames meanwhile. Requests come at
// random moments; every frame must have been taken after its request.
#include <kelvra/media/test_source.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

using namespace kelvra::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRequests = 300;
constexpr uint32_t kRate = 30;
constexpr int kWidth = 640, kHeight = 480;
constexpr double kPeriodMs = 1000.0 / kRate;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main()
{
    TestSource source;
    if (!source.setFormat({PixelFormat::YUYV422, kWidth, kHeight, {kRate, 1}}) || !source.start()) {
        std::fprintf(stderr, "cannot start the test source\n");
        return 1;
    }
    std::atomic<bool> done{false};
    std::atomic<uint64_t> previewFrames{0};
    std::thread viewer([&] {  // the preview, as the capture window takes it
        Frame f;
        uint64_t last = 0;
        while (!done) {
            if (source.latestFrame(f, last)) {
                last = f.sequence;
                ++previewFrames;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    std::mt19937 random(1);
    std::uniform_int_distribution<int> pause(0, int(kPeriodMs * 1000));
    std::vector<double> latencies;
    int stale = 0, failed = 0;
    uint64_t expected = 1;
    for (int i = 0; i < kRequests; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        Frame frame;
        const auto requested = Clock::now();
        const Status st = source.grabFresh(frame, std::chrono::seconds(1));
        const auto handed = Clock::now();
        if (!st || frame.sequence != expected++) {
            ++failed;
            continue;
        }
        if (frame.captured < requested)
            ++stale;
        latencies.push_back(std::chrono::duration<double, std::milli>(handed - requested).count());
    }
    done = true;
    viewer.join();
    source.stop();
    if (latencies.empty()) {
        std::fprintf(stderr, "no frame was grabbed\n");
        return 1;
    }
    std::printf("requests: %d, failed or out of order: %d, taken before their request: %d, preview frames: %llu\n",
                kRequests, failed, stale, static_cast<unsigned long long>(previewFrames.load()));
    std::printf("grab_latency_ms_p50: %.3f ms\n", percentile(latencies, 0.50));
    std::printf("grab_latency_ms_max: %.3f ms\n", percentile(latencies, 1.0));
    std::printf("frame_period_ms: %.3f ms\n", kPeriodMs);
    std::printf("grab_latency_ms_p99: %.3f ms\n", percentile(latencies, 0.99));
    return failed || stale ? 1 : 0;
}
