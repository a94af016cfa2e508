// The finished film: a recording made into an MP4 (H.264) or a numbered image sequence, with
// scaling and deflicker, on FFmpeg's libraries. Nothing here knows about windows: the media
// window drives it through ExportJob (export_job.h).
#pragma once

#include <kelvra/media/status.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kelvra::film {

using media::Status;

enum class FilmFormat { Mp4, JpegSequence, PngSequence };

// Window sizes of FFmpeg's deflicker filter (frames averaged around each one), chosen with
// bench/deflicker_residual: see deflickerWindow() for the figures.
enum class Deflicker { Off, Light, Strong };

constexpr int kDefaultCrf = 20;
constexpr int kMaxCrf = 51;
constexpr double kMaxFramesPerSecond = 240.0;
constexpr int64_t kToTheEnd = -1;

struct ExportSettings {
    std::string source;            // the recording (an AVI, possibly still being written)
    std::string target;            // the MP4 file, or the folder an image sequence goes into
    FilmFormat format = FilmFormat::Mp4;
    int boxWidth = 0, boxHeight = 0;  // fitted inside this box, aspect kept; 0 = the recording's own
    double framesPerSecond = 0;    // 0 = the recording's own rate
    Deflicker deflicker = Deflicker::Off;
    int64_t first = 0;             // frame range, from 0, both ends included
    int64_t last = kToTheEnd;
    int crf = kDefaultCrf;         // H.264 quality: lower is better, 0..51
    const char* preset = "veryfast";
};

// What the recording holds when it is looked at.
struct SourceInfo {
    int width = 0, height = 0;
    double framesPerSecond = 0;
    int64_t frames = 0;
};
Status probeSource(const std::string& path, SourceInfo& info);

// The film's picture size for a recording of width x height fitted into the box (0 x 0: its
// own size): aspect kept, both sides even and at least 2.
void filmSize(int width, int height, int boxWidth, int boxHeight, int& outWidth, int& outHeight);

int deflickerWindow(Deflicker strength);  // 0 for Off

// Where the target stands before any work: its folder must exist and take new files.
struct TargetState {
    bool exists = false;        // something is at the target name already (replacing it needs a yes)
    bool replaceable = true;    // false: a folder there holds files other than a film's pictures
};
Status checkTarget(const ExportSettings& settings, TargetState& state);

// The image sequence's file name for output picture `index` (from 0), e.g. "frame_000001.png".
std::string pictureName(FilmFormat format, int64_t index);

struct ExportProgress {
    int64_t done = 0;           // pictures written
    int64_t total = 0;          // pictures in the range
};

struct ExportResult {
    Status status;              // ok, an error for the user, or kCancelled
    int64_t written = 0;        // pictures in the film
    int64_t skipped = 0;        // frames of the range that could not be read
};

constexpr int kCancelled = -100101;

// Runs the whole export on the calling thread. `onProgress` runs on that thread after each
// picture (and may be empty); `cancel` is polled between pictures. The target appears only when
// the film is complete, replacing what was there; otherwise nothing new is left behind.
ExportResult exportFilm(const ExportSettings& settings, const std::function<void(const ExportProgress&)>& onProgress,
                        const std::atomic<bool>& cancel);

// Whether this machine can encode H.264 (libx264 present and runnable); the reason when not.
bool h264Available(std::string& why);

}  // namespace kelvra::film
