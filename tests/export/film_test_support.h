// What the film export's tests share: recordings made with our own compressor and AVI writer
// from a drawn picture whose brightness each test chooses, and readers of the results that go
// through FFmpeg's demuxer (and ffprobe), never through the export's own code.
#pragma once

#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>

#include "child_process.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace film_test {

namespace media = kelvra::media;

struct RecordingSetup {
    int frames = 12, fps = 10, width = 160, height = 120;
    media::Codec codec = media::Codec::MotionJpeg;
    // Brightness factor of frame i (1.0: the picture as drawn).
    std::function<double(int)> brightness = [](int) { return 1.0; };
};

// A still scene (gradient, a few shapes) with a square moving one step a frame.
media::Frame drawPicture(int width, int height, int index, double brightness);

// Writes the recording; "" on success, else why it failed. `keepOpen` receives the writer still
// open (a recording going on) instead of closing it.
std::string makeRecording(const std::string& path, const RecordingSetup& setup,
                          std::unique_ptr<media::AviWriter>* keepOpen = nullptr);
std::string appendFrames(media::AviWriter& writer, const RecordingSetup& setup, int from, int to);

// What FFmpeg's demuxer finds in a film.
struct FilmFacts {
    std::string error;          // empty when the file could be read
    std::string codec;          // "h264"
    std::string pixelFormat;    // "yuv420p"
    std::string profile;        // "High"
    int width = 0, height = 0;
    double framesPerSecond = 0; // the stream's average rate
    int64_t frames = 0;         // pictures decoded, one by one
    bool moovBeforeMdat = false;
    std::vector<double> meanLuma;  // each picture's mean Y, 0..255
};
FilmFacts readFilm(const std::string& path, bool measureLuma = false);

// One picture file decoded: its size, or an error.
struct PictureFacts {
    std::string error;
    std::string codec;
    int width = 0, height = 0;
};
PictureFacts readPicture(const std::string& path);

// ffprobe's answer for `entries` of the first video stream, "key=value" lines; empty when
// ffprobe is not there.
std::string ffprobe(const std::string& path, const std::string& entries);

std::vector<std::string> filesIn(const std::string& folder);  // names, sorted
bool exists(const std::string& path);

// A scratch folder, removed with everything in it.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

using testsupport::inChild;

}  // namespace film_test
