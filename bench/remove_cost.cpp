// The capture file's removal of its last frame: whether its cost stays flat as the file grows.
// Recordings of 1000-byte frames, of 1,000 and 60,000 frames (the last frame in the first RIFF,
// with idx1 to shorten) and of 100,000 (the last frame in an AVIX segment), have their last frame
// taken out and put back in turn, so that the machine's load falls on all alike; the median time
// of a removal on each, without the sync to disk and with it.
#include <kelvra/media/avi_writer.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace kelvra::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kFrames[] = {1000, 60000, 100000};
constexpr int kFiles = 3;
constexpr size_t kFrameBytes = 1000;
constexpr uint32_t kMicroSecPerFrame = 66666;
constexpr int kRounds = 400, kSyncedRounds = 100;

void fail(const std::string& what, const Status& st)
{
    fprintf(stderr, "%s: %s\n", what.c_str(), st.message.c_str());
    exit(1);
}

AviVideoFormat smallMjpeg()
{
    AviVideoFormat format;
    format.width = 160;
    format.height = 120;
    format.compression = format.handler = fourcc('M', 'J', 'P', 'G');
    return format;
}

std::unique_ptr<AviWriter> openRecording(const std::string& path, bool sync)
{
    AviWriterOptions options;
    options.syncToDisk = sync;
    std::unique_ptr<AviWriter> writer;
    if (Status st = AviWriter::open(path, smallMjpeg(), kMicroSecPerFrame, options, writer); !st)
        fail(path, st);
    return writer;
}

// A recording of `frames` frames (sizes 994 to 1000 bytes), made without the sync.
void makeRecording(const std::string& path, uint64_t frames)
{
    std::unique_ptr<AviWriter> writer = openRecording(path, false);
    std::vector<uint8_t> frame(kFrameBytes, 0x5a);
    for (uint64_t k = 0; k < frames; ++k) {
        frame[k % frame.size()] = uint8_t(k);
        if (Status st = writer->append(frame.data(), frame.size() - k % 7, true); !st)
            fail(path, st);
    }
    if (Status st = writer->close(); !st)
        fail(path, st);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Costs {
    double seconds[kFiles] = {};
};

// The median seconds of one removal on each recording, taken out and put back in turn.
Costs removeCosts(const std::vector<std::string>& paths, bool sync, int rounds)
{
    std::unique_ptr<AviWriter> writers[kFiles];
    for (int which = 0; which < kFiles; ++which)
        writers[which] = openRecording(paths[size_t(which)], sync);
    std::vector<double> times[kFiles];
    std::vector<uint8_t> payload;
    for (int round = 0; round < rounds; ++round) {
        for (int which = 0; which < kFiles; ++which) {
            AviWriter& writer = *writers[which];
            bool keyframe = true;
            const auto start = Clock::now();
            const Status st = writer.removeLastFrame(payload, keyframe);
            times[which].push_back(std::chrono::duration<double>(Clock::now() - start).count());
            if (!st)
                fail(writer.path(), st);
            if (Status back = writer.append(payload.data(), payload.size(), keyframe); !back)
                fail(writer.path(), back);
        }
    }
    for (auto& writer : writers)
        if (Status st = writer->close(); !st)
            fail(writer->path(), st);
    Costs costs;
    for (int which = 0; which < kFiles; ++which)
        costs.seconds[which] = median(times[which]);
    return costs;
}

}  // namespace

int main()
{
    const std::string folder = std::filesystem::temp_directory_path() / ("kelvra-bench-remove-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (uint64_t frames : kFrames) {
        paths.push_back(folder + "/frames-" + std::to_string(frames) + ".avi");
        makeRecording(paths.back(), frames);
    }
    const Costs plain = removeCosts(paths, false, kRounds);
    const Costs synced = removeCosts(paths, true, kSyncedRounds);
    std::filesystem::remove_all(folder);

    for (const auto& [costs, how] : {std::pair(plain, "no sync"), std::pair(synced, "synced")})
        printf("median removal of the last frame, %s: %.1f us at frame 1,000, %.1f us at 60,000, %.1f us at 100,000\n",
               how, costs.seconds[0] * 1e6, costs.seconds[1] * 1e6, costs.seconds[2] * 1e6);
    printf("remove_cost_growth: %.2f x\n", plain.seconds[2] / plain.seconds[0]);
    printf("remove_cost_growth_synced: %.2f x\n", synced.seconds[2] / synced.seconds[0]);
    // Both in the first RIFF: the same steps, idx1 60 times longer.
    printf("remove_cost_growth_first_riff: %.2f x\n", plain.seconds[1] / plain.seconds[0]);
    printf("remove_cost_growth_first_riff_synced: %.2f x\n", synced.seconds[1] / synced.seconds[0]);
    return 0;
}
