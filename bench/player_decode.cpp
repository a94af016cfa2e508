// The player's decoding speed: frames decoded and converted to the display format per second
// through VideoReader, next to the ffmpeg command decoding the same 640x480 Motion JPEG AVI to
// nothing, in the same run. Best of a few runs each.
#include <kelvra/media/video_reader.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using namespace kelvra::media;

namespace {

constexpr int kFrames = 900;
constexpr int kRuns = 3;

// Seconds of the last "rtime=" that `ffmpeg -benchmark` printed; negative on failure.
double ffmpegSeconds(const std::string& path)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -nostats -benchmark -i '" + path +
                                "' -an -f null - 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char line[512];
    double seconds = -1;
    while (std::fgets(line, sizeof line, pipe))
        if (const char* at = std::strstr(line, "rtime="))
            seconds = std::atof(at + 6);
    return pclose(pipe) == 0 ? seconds : -1;
}

double playerSeconds(const std::string& path, int64_t& frames)
{
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<VideoReader> reader;
    if (!VideoReader::open(path, reader))
        return -1;
    Frame frame;
    frames = 0;
    Status st;
    while ((st = reader->readNext(frame)))
        ++frames;
    if (st.code != kEndOfStream)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main()
{
    const std::string dir = std::filesystem::temp_directory_path() / "kelvra-player-decode";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/mjpeg_640x480.avi";
    const std::string make = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=640x480:rate=30"
                             " -frames:v " + std::to_string(kFrames) +
                             " -c:v mjpeg -q:v 5 -pix_fmt yuvj420p '" + path + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the test file with ffmpeg\n");
        return 1;
    }
    double player = 1e9, ffmpeg = 1e9;
    int64_t frames = 0;
    for (int run = 0; run < kRuns; ++run) {
        const double p = playerSeconds(path, frames);
        const double f = ffmpegSeconds(path);
        if (p <= 0 || f <= 0 || frames != kFrames) {
            std::fprintf(stderr, "decoding failed (player %.3f s, %lld frames; ffmpeg %.3f s)\n", p,
                         static_cast<long long>(frames), f);
            return 1;
        }
        player = std::min(player, p);
        ffmpeg = std::min(ffmpeg, f);
    }
    std::filesystem::remove_all(dir);
    const double playerFps = kFrames / player, ffmpegFps = kFrames / ffmpeg;
    std::printf("player_decode_fps_mjpeg_640x480: %.1f fps\n", playerFps);
    std::printf("ffmpeg_decode_fps_mjpeg_640x480: %.1f fps\n", ffmpegFps);
    std::printf("player_decode_vs_ffmpeg: %.3f ratio\n", playerFps / ffmpegFps);
    return 0;
}
