// The film export against FFmpeg's command-line tool doing the same work, and what deflicker
// and a long export cost:
//   export_vs_ffmpeg_cli_1080p            our MP4 export's frames per second over the tool's
//                                          (300 frames of 1920x1080 Motion JPEG; goal >= 1.0)
//   export_deflicker_vs_ffmpeg_cli_1080p   the same with deflicker Light and the tool given the
//                                          same filter (goal >= 1.0)
//   deflicker_residual                     a still scene whose brightness jumps up to +-10 % at
//                                          random: spread of the frame means after Strong over
//                                          before (goal <= 0.25); also each window size, through
//                                          the tool, which is how Light and Strong were chosen
//   export_peak_memory_10000_frames        peak memory of a 10,000-frame export (goal: flat, < 300 MiB)
// Each side runs three times, alternating, and the best run counts: the machine is shared.
// The command lines are printed, so each figure can be repeated by hand; `bench_export_film
// recording` only makes the 1080p recording and says where, and KELVRA_BENCH_KEEP=1 keeps the
// files of a run. `bench_export_film speed|deflicker|memory` runs one part.
#include "film_test_support.h"

#include <kelvra/export/film_export.h>
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace kelvra;
using Clock = std::chrono::steady_clock;

constexpr int kFrames1080 = 300;
constexpr int kRuns = 3;
constexpr int kMemoryFrames = 10000;
constexpr int kMemoryCheckpoint = 1000;
constexpr double kFlickerAmplitude = 0.10;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + " " + five;
}

// 1080p Motion JPEG of the program's own test picture, as the capture window would record it.
bool makeRecording1080(const std::string& path)
{
    media::TestSource source;
    media::StreamFormat format = source.format();
    format.width = 1920;
    format.height = 1080;
    std::unique_ptr<media::Encoder> encoder;
    std::unique_ptr<media::AviWriter> writer;
    media::AviWriterOptions options;
    options.syncToDisk = false;
    if (!source.setFormat(format) || !source.start() ||
        !media::Encoder::create(media::Codec::MotionJpeg, 1920, 1080, 90, encoder) ||
        !media::AviWriter::open(path, encoder->format(), 1000000 / 25, options, writer))
        return false;
    std::vector<uint8_t> bytes;
    media::Frame frame;
    for (int i = 0; i < kFrames1080; ++i) {
        bool key = true;
        if (!source.grabFresh(frame, std::chrono::seconds(5)) || !encoder->encode(frame, bytes, key) ||
            !writer->append(bytes.data(), bytes.size(), key))
            return false;
    }
    source.stop();
    return bool(writer->close());
}

double oursFps(film::ExportSettings settings)
{
    std::atomic<bool> never{false};
    auto start = Clock::now();
    film::ExportResult result = film::exportFilm(settings, {}, never);
    double elapsed = seconds(start);
    if (!result.status) {
        std::fprintf(stderr, "export failed: %s\n", result.status.message.c_str());
        return 0;
    }
    return result.written / elapsed;
}

double cliFps(const std::string& command, int frames)
{
    auto start = Clock::now();
    int status = std::system(command.c_str());
    double elapsed = seconds(start);
    return status == 0 ? frames / elapsed : 0;
}

void compare(const char* name, const film::ExportSettings& settings, const std::string& filter)
{
    const std::string command = "ffmpeg -y -loglevel error -i '" + settings.source + "'" +
                                (filter.empty() ? "" : " -vf " + filter) +
                                " -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -movflags +faststart '" +
                                settings.target + ".cli.mp4'";
    double ours = 0, cli = 0;
    for (int run = 0; run < kRuns; ++run) {
        ours = std::max(ours, oursFps(settings));
        cli = std::max(cli, cliFps(command, kFrames1080));
    }
    std::printf("# %s: load average %s; tool: %s\n", name, loadAverage().c_str(), command.c_str());
    std::printf("%s_ours: %.1f fps\n%s_cli: %.1f fps\n%s: %.3f x\n", name, ours, name, cli, name,
                cli > 0 ? ours / cli : 0.0);
}

double spread(const std::vector<double>& values)
{
    double mean = 0, sum = 0;
    for (double v : values)
        mean += v / double(values.size());
    for (double v : values)
        sum += (v - mean) * (v - mean);
    return std::sqrt(sum / double(values.size()));
}

void residual(const std::string& folder)
{
    film_test::RecordingSetup setup;
    setup.frames = 200;
    setup.width = 320;
    setup.height = 240;
    setup.fps = 25;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jump(-kFlickerAmplitude, kFlickerAmplitude);
    std::vector<double> factors(size_t(setup.frames));
    for (double& f : factors)
        f = 1.0 + jump(random);
    setup.brightness = [&factors](int i) { return factors[size_t(i)]; };
    const std::string source = folder + "/flicker.avi";
    // A still scene: every frame is frame 0's picture, only its brightness changes.
    std::unique_ptr<media::Encoder> encoder;
    std::unique_ptr<media::AviWriter> writer;
    media::AviWriterOptions options;
    options.syncToDisk = false;
    media::Encoder::create(media::Codec::MotionJpeg, setup.width, setup.height, 90, encoder);
    media::AviWriter::open(source, encoder->format(), 1000000 / setup.fps, options, writer);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < setup.frames; ++i) {
        bool key = true;
        encoder->encode(film_test::drawPicture(setup.width, setup.height, 0, factors[size_t(i)]), bytes, key);
        writer->append(bytes.data(), bytes.size(), key);
    }
    writer->close();
    const double before = spread(film_test::readFilm(source, true).meanLuma);

    for (int size : {3, 5, 9, 15, 21, 31}) {
        const std::string out = folder + "/flicker-" + std::to_string(size) + ".mp4";
        const std::string command = "ffmpeg -y -loglevel error -i '" + source + "' -vf deflicker=size=" +
                                    std::to_string(size) + ":mode=am -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p '" +
                                    out + "'";
        if (std::system(command.c_str()) == 0)
            std::printf("deflicker_residual_window_%d: %.3f\n", size, spread(film_test::readFilm(out, true).meanLuma) / before);
    }
    for (auto [name, strength] : {std::pair{"light", film::Deflicker::Light}, std::pair{"strong", film::Deflicker::Strong}}) {
        film::ExportSettings settings;
        settings.source = source;
        settings.target = folder + "/flicker-" + name + ".mp4";
        settings.deflicker = strength;
        oursFps(settings);
        const double after = spread(film_test::readFilm(settings.target, true).meanLuma);
        std::printf("deflicker_residual_%s: %.3f\n", name, after / before);
        if (strength == film::Deflicker::Strong)
            std::printf("deflicker_residual: %.3f\n", after / before);
    }
}

long peakKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// In a child of its own, so that the peak is the export's and nothing the bench did before.
void memory(const std::string& folder)
{
    film_test::RecordingSetup setup;
    setup.frames = kMemoryFrames;
    const std::string source = folder + "/long.avi";
    if (!film_test::makeRecording(source, setup).empty())
        return;
    std::fflush(stdout);
    if (pid_t pid = fork(); pid == 0) {
        long atCheckpoint = 0;
        film::ExportSettings settings;
        settings.source = source;
        settings.target = folder + "/long.mp4";
        std::atomic<bool> never{false};
        film::ExportResult result = film::exportFilm(settings, [&](const film::ExportProgress& p) {
            if (p.done == kMemoryCheckpoint)
                atCheckpoint = peakKiB();
        }, never);
        std::printf("# %lld frames of %dx%d written\n", static_cast<long long>(result.written), setup.width, setup.height);
        std::printf("export_peak_memory_%d_frames: %.1f MiB\n", kMemoryCheckpoint, atCheckpoint / 1024.0);
        std::printf("export_peak_memory_%d_frames: %.1f MiB\n", kMemoryFrames, peakKiB() / 1024.0);
        std::fflush(stdout);
        _exit(result.status ? 0 : 1);
    } else {
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (!film::h264Available(why)) {
        std::printf("# skipped: %s\n", why.c_str());
        return 0;
    }
    char pattern[] = "/tmp/kelvra-bench-export-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string only = argc > 1 ? argv[1] : "";
    const std::string recording = folder + "/rec1080.avi";
    if (only.empty() || only == "speed" || only == "recording") {
        if (!makeRecording1080(recording)) {
            std::printf("# could not make the 1080p recording\n");
            return 1;
        }
        if (only == "recording") {  // only the recording, kept, to time the commands by hand
            std::printf("# recording: %s\n", recording.c_str());
            return 0;
        }
        film::ExportSettings settings;
        settings.source = recording;
        settings.target = folder + "/film.mp4";
        compare("export_vs_ffmpeg_cli_1080p", settings, "");
        settings.deflicker = film::Deflicker::Light;
        compare("export_deflicker_vs_ffmpeg_cli_1080p", settings,
                "deflicker=size=" + std::to_string(film::deflickerWindow(film::Deflicker::Light)) + ":mode=am");
    }
    if (only.empty() || only == "deflicker")
        residual(folder);
    if (only.empty() || only == "memory")
        memory(folder);
    if (std::getenv("KELVRA_BENCH_KEEP"))  // the recordings, to repeat a figure with the printed command
        std::printf("# kept %s\n", folder.c_str());
    else
        std::system(("rm -rf '" + folder + "'").c_str());
    return 0;
}
