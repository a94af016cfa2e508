// A camera's 1080p JPEGs into the capture file: the Motion JPEG compressor passing them through
// (each one checked by reading every code of its scan) and the AVI writer appending them,
// against the ffmpeg command copying the very same JPEGs into an AVI (-c:v copy). The JPEGs are
// made once by ffmpeg from its testsrc2 pattern, 4:2:2 as webcams send them. Each figure is the
// best of three runs (the synced one runs once: it measures the disk). The ffmpeg figure is the
// whole command's, its start included, and also without it.
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kelvra::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kFrames = 300;
constexpr int kQscale = 4;
constexpr uint32_t kMicroSecPerFrame = 33333;
constexpr int kRuns = 3;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int run(const std::string& command)
{
    return std::system(command.c_str());
}

std::vector<Frame> makeJpegs(const std::string& folder)
{
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(kWidth) +
                                "x" + std::to_string(kHeight) + ":rate=30 -frames:v " + std::to_string(kFrames) +
                                " -pix_fmt yuvj422p -q:v " + std::to_string(kQscale) + " '" + folder + "/f%04d.jpg'";
    if (run(command) != 0) {
        std::fprintf(stderr, "the ffmpeg command failed: %s\n", command.c_str());
        std::exit(1);
    }
    std::vector<Frame> frames(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/f%04d.jpg", i + 1);
        std::ifstream file(folder + name, std::ios::binary);
        frames[size_t(i)].data.assign(std::istreambuf_iterator<char>(file), {});
        frames[size_t(i)].format = PixelFormat::MJPEG;
        frames[size_t(i)].width = kWidth;
        frames[size_t(i)].height = kHeight;
    }
    return frames;
}

// Frames per second through the compressor (unless `writerOnly`) and the writer.
double appendRun(const std::vector<Frame>& frames, bool sync, const std::string& path, bool writerOnly = false)
{
    std::unique_ptr<Encoder> encoder;
    Status st = Encoder::create(Codec::MotionJpeg, kWidth, kHeight, 90, encoder);
    std::filesystem::remove(path);
    AviWriterOptions options;
    options.syncToDisk = sync;
    std::unique_ptr<AviWriter> writer;
    if (st)
        st = AviWriter::open(path, encoder->format(), kMicroSecPerFrame, options, writer);
    std::vector<uint8_t> packet;
    const auto start = Clock::now();
    for (size_t i = 0; st && i < frames.size(); ++i) {
        bool keyframe = true;
        if (writerOnly)
            packet = frames[i].data;
        else
            st = encoder->encode(frames[i], packet, keyframe);
        if (st)
            st = writer->append(packet.data(), packet.size(), keyframe);
    }
    if (st)
        st = writer->close();
    if (!st) {
        std::fprintf(stderr, "append run: %s\n", st.message.c_str());
        std::exit(1);
    }
    return double(frames.size()) / seconds(Clock::now() - start);
}

// The compressor hands each camera JPEG on as it is; checked once, outside the timed runs.
void checkPassthrough(const std::vector<Frame>& frames)
{
    std::unique_ptr<Encoder> encoder;
    Status st = Encoder::create(Codec::MotionJpeg, kWidth, kHeight, 90, encoder);
    std::vector<uint8_t> packet;
    for (size_t i = 0; st && i < frames.size(); ++i) {
        bool keyframe = true;
        st = encoder->encode(frames[i], packet, keyframe);
        if (st && packet != frames[i].data)
            st = Status::error(EINVAL, "the JPEG was not passed through");
    }
    if (!st) {
        std::fprintf(stderr, "passthrough: %s\n", st.message.c_str());
        std::exit(1);
    }
}

// Seconds for the ffmpeg command copying the first `frames` JPEGs, the best of a few runs: the
// machine is shared, and a run that was disturbed says little.
double ffmpegSeconds(const std::string& folder, int frames)
{
    const std::string command = "ffmpeg -nostdin -v error -y -framerate 30 -i '" + folder + "/f%04d.jpg' -frames:v " +
                                std::to_string(frames) + " -c:v copy -f avi '" + folder + "/ffmpeg.avi'";
    run(command);  // the JPEGs into the page cache, as ours are in memory
    double best = 1e9;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        if (run(command) != 0) {
            std::fprintf(stderr, "the ffmpeg command failed: %s\n", command.c_str());
            std::exit(1);
        }
        best = std::min(best, seconds(Clock::now() - start));
    }
    return best;
}

double bestAppendRun(const std::vector<Frame>& frames, bool sync, const std::string& path, bool writerOnly = false)
{
    double best = 0;
    for (int i = 0; i < kRuns; ++i)
        best = std::max(best, appendRun(frames, sync, path, writerOnly));
    return best;
}

}  // namespace

int main()
{
    const std::string folder =
        std::filesystem::temp_directory_path() / ("kelvra-bench-mjpeg-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::vector<Frame> frames = makeJpegs(folder);
    checkPassthrough(frames);
    const double ours = bestAppendRun(frames, false, folder + "/ours.avi");
    const double synced = appendRun(frames, true, folder + "/ours.avi");
    const double writer = bestAppendRun(frames, false, folder + "/ours.avi", true);
    const double ffmpegAll = ffmpegSeconds(folder, kFrames), ffmpegOne = ffmpegSeconds(folder, 1);
    const double ffmpeg = kFrames / ffmpegAll;
    // Most of the command's time is its own start; what each further frame costs it is the rate
    // to set a frame's cost against.
    const double ffmpegPerFrame = (kFrames - 1) / std::max(ffmpegAll - ffmpegOne, 1e-6);
    std::filesystem::remove_all(folder);
    std::printf("passthrough 1920x1080 JPEGs, no sync: %.1f fps; synced after every frame: %.1f fps\n", ours, synced);
    std::printf("the writer alone, without the check of each JPEG: %.1f fps (%.2f x ffmpeg)\n", writer, writer / ffmpeg);
    std::printf("ffmpeg_copy_fps_mjpeg_1080p: %.1f fps\n", ffmpeg);
    std::printf("append_fps_mjpeg_1080p: %.1f fps\n", ours);
    std::printf("append_vs_ffmpeg_copy_mjpeg_1080p_synced: %.2f x\n", synced / ffmpeg);
    std::printf("ffmpeg's start: %.1f ms; each further frame: %.3f ms (%.0f fps); against that, ours %.2f x, "
                "the writer alone %.2f x\n",
                ffmpegOne * 1e3, 1e3 / ffmpegPerFrame, ffmpegPerFrame, ours / ffmpegPerFrame, writer / ffmpegPerFrame);
    std::printf("append_vs_ffmpeg_copy_mjpeg_1080p: %.2f x\n", ours / ffmpeg);
    return 0;
}
