// The capture file's append: frames per second from the test source through the compressor into
// the AVI writer, against the ffmpeg command compressing the very same frames; whether the cost
// of one append stays flat over 100,000 frames; and the memory such a run takes.
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace kelvra::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kFrames = 120;           // distinct test-source frames
constexpr int kPasses = 3;             // each run compresses them this many times over
constexpr int kQuality = 75;           // the writer's quality; its quantiser scale for ffmpeg below
constexpr int kQscaleAt75 = 31 - (kQuality - 1) * 30 / 99;
constexpr uint32_t kMicroSecPerFrame = 66666;
constexpr uint64_t kGrowthFrames = 100000;
constexpr uint64_t kSampleHalfWidth = 200;  // frames on each side of the points compared
constexpr size_t kSmallFrame = 1000;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::vector<Frame> renderFrames()
{
    TestSource source;
    StreamFormat format;
    format.format = PixelFormat::RGB24;
    format.width = kWidth;
    format.height = kHeight;
    if (!source.setFormat(format))
        exit(1);
    std::vector<Frame> frames(kFrames);
    for (Frame& frame : frames) {
        Status st = source.grabFresh(frame, std::chrono::milliseconds(1000));
        if (!st) {
            fprintf(stderr, "test source: %s\n", st.message.c_str());
            exit(1);
        }
    }
    return frames;
}

// Compresses and appends every frame; returns frames per second.
double appendRun(const std::vector<Frame>& frames, Codec codec, bool sync, const std::string& path)
{
    std::unique_ptr<Encoder> encoder;
    Status st = Encoder::create(codec, kWidth, kHeight, kQuality, encoder);
    std::filesystem::remove(path);
    AviWriterOptions options;
    options.syncToDisk = sync;
    std::unique_ptr<AviWriter> writer;
    if (st)
        st = AviWriter::open(path, encoder->format(), kMicroSecPerFrame, options, writer);
    std::vector<uint8_t> packet;
    const auto start = Clock::now();
    for (size_t i = 0; st && i < frames.size() * kPasses; ++i) {
        bool keyframe = true;
        st = encoder->encode(frames[i % frames.size()], packet, keyframe);
        if (st)
            st = writer->append(packet.data(), packet.size(), keyframe);
    }
    if (st)
        st = writer->close();
    const double elapsed = seconds(Clock::now() - start);
    if (!st) {
        fprintf(stderr, "append run: %s\n", st.message.c_str());
        exit(1);
    }
    return double(frames.size() * kPasses) / elapsed;
}

double ffmpegRun(const std::vector<Frame>& frames, const std::string& folder)
{
    const std::string raw = folder + "/frames.rgb", out = folder + "/ffmpeg.avi";
    {
        std::ofstream file(raw, std::ios::binary);
        for (const Frame& frame : frames)
            file.write(reinterpret_cast<const char*>(frame.data.data()), long(frame.data.size()));
    }
    // One encoding thread, as the writer's compressor has; the same quantiser scale.
    const std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(kWidth) +
                                "x" + std::to_string(kHeight) + " -r 15 -stream_loop " + std::to_string(kPasses - 1) + " -i '" + raw +
                                "' -threads 1 -c:v mjpeg -q:v " + std::to_string(kQscaleAt75) + " -f avi '" + out + "'";
    system(command.c_str());  // warms the page cache with the input
    const auto start = Clock::now();
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "the ffmpeg command failed: %s\n", command.c_str());
        exit(1);
    }
    const double elapsed = seconds(Clock::now() - start);
    std::filesystem::remove(raw);
    return double(frames.size() * kPasses) / elapsed;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// 100,000 small frames without the sync (so the disk's mood does not count); the time of each
// append around frame 1,000 and around frame 100,000.
void growthRun(const std::string& path, int reportFd)
{
    AviVideoFormat format;
    format.width = 160;
    format.height = 120;
    format.compression = format.handler = fourcc('M', 'J', 'P', 'G');
    AviWriterOptions options;
    options.syncToDisk = false;
    std::unique_ptr<AviWriter> writer;
    if (!AviWriter::open(path, format, kMicroSecPerFrame, options, writer))
        _exit(1);
    std::vector<uint8_t> frame(kSmallFrame, 0x5a);
    std::vector<double> early, late;
    for (uint64_t k = 0; k < kGrowthFrames + kSampleHalfWidth; ++k) {
        frame[k % frame.size()] = uint8_t(k);
        const auto start = Clock::now();
        if (!writer->append(frame.data(), frame.size() - k % 7, true))
            _exit(1);
        const double t = seconds(Clock::now() - start);
        if (k + kSampleHalfWidth >= 1000 && k < 1000 + kSampleHalfWidth)
            early.push_back(t);
        if (k + kSampleHalfWidth >= kGrowthFrames)
            late.push_back(t);
    }
    writer->close();
    const double result[2] = {median(early), median(late)};
    _exit(write(reportFd, result, sizeof result) == sizeof result ? 0 : 1);
}

}  // namespace

int main()
{
    const std::string folder = std::filesystem::temp_directory_path() / ("kelvra-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);

    int fds[2];
    if (pipe(fds) < 0)
        return 1;
    const pid_t child = fork();
    if (child == 0)
        growthRun(folder + "/growth.avi", fds[1]);
    close(fds[1]);
    double medians[2] = {};
    const bool reported = read(fds[0], medians, sizeof medians) == sizeof medians;
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::filesystem::remove(folder + "/growth.avi");

    const std::vector<Frame> frames = renderFrames();
    const double raw = appendRun(frames, Codec::Uncompressed, true, folder + "/raw.avi");
    const double mjpegSynced = appendRun(frames, Codec::MotionJpeg, true, folder + "/mjpeg.avi");
    const double mjpeg = appendRun(frames, Codec::MotionJpeg, false, folder + "/mjpeg.avi");
    const double ffmpeg = ffmpegRun(frames, folder);
    std::filesystem::remove_all(folder);

    printf("median append, 1000-byte frames: %.1f us at frame 1,000, %.1f us at frame 100,000 (no sync)\n",
           medians[0] * 1e6, medians[1] * 1e6);
    printf("mjpeg 640x480 without sync: %.1f fps\n", mjpeg);
    printf("append_fps_raw_640x480: %.1f fps\n", raw);
    printf("append_fps_mjpeg_640x480: %.1f fps\n", mjpegSynced);
    printf("ffmpeg_fps_mjpeg_640x480: %.1f fps\n", ffmpeg);
    printf("append_vs_ffmpeg_mjpeg: %.2f x\n", mjpeg / ffmpeg);
    printf("append_vs_ffmpeg_mjpeg_synced: %.2f x\n", mjpegSynced / ffmpeg);
    if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "the 100,000-frame run failed\n");
        return 1;
    }
    printf("append_cost_growth: %.2f x\n", medians[1] / medians[0]);
    printf("append_peak_rss_mib: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
