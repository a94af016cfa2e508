// Watches one open capture file for the user who is not there: keeps its journal, learns the
// pace of the frame steps, looks at the room left on its disk and at the pictures for a frozen
// camera, and says it all in the status line over the preview.
#pragma once

#include "journal.h"
#include "run_watch.h"

#include <kelvra/media/avi_format.h>
#include <kelvra/media/encoder.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kelvra::avicap {

// "Motion JPEG", "Lossless (FFV1)", ... for what a file's headers say; the fourcc otherwise.
std::string compressionName(const media::AviVideoFormat& format);
std::string compressionName(media::Codec codec);
// "320x240, Lossless (FFV1)".
std::string streamText(int width, int height, const std::string& compression);

// The platform's clock for frame steps: the tests' virtual one, else one that goes on counting
// while the computer sleeps, so that a step late after a suspend is seen as late.
uint64_t stepClockMs();

class RecordingWatch {
public:
    // `framesBefore`: frames already in the file when it was opened (a continued recording).
    RecordingWatch(const std::string& capturePath, uint64_t framesBefore, const std::string& stream, uint64_t nowMs);

    struct StepNews {
        bool frozenBegan = false, frozenEnded = false;
        bool lowRoomBegan = false, lowRoomEnded = false;
    };

    void reopened(uint64_t nowMs);                   // SINGLE_FRAME_OPEN while it is open
    void stepBegins(uint64_t nowMs);                 // journals a step that comes late
    void stepFailed(const std::string& why);         // nothing was written by this step
    void diskError(const std::string& what);
    StepNews framed(uint64_t digest, uint64_t bytes, uint64_t framesInFile);
    void deviceLost(const std::string& device);
    void deviceBack(const std::string& device);
    void closed(uint64_t framesInFile, const std::string& failure);
    void note(const std::string& event) { journal_.write(event); }

    // What the status line shows below the file's name and count: the forecast, or why none.
    std::string forecastLine() const;
    std::optional<uint64_t> msSinceLastFrame(uint64_t nowMs) const;
    const std::string& journalPath() const { return journal_.path(); }
    bool frozen() const { return frozen_.frozen(); }

private:
    std::optional<Forecast> currentForecast() const;

    Journal journal_;
    std::string capturePath_;
    StepPace pace_;
    FrozenCheck frozen_;
    bool lowRoom_ = false;
    bool deviceGone_ = false;
    uint64_t framesWritten_ = 0, bytesWritten_ = 0;  // by this opening, for the average frame size
    std::optional<uint64_t> lastFrameMs_;
    uint64_t roomBytes_ = 0;
};

// Bytes a file at `path` can still grow by: the free space of its disk, or less where the
// process may write no bigger files.
uint64_t roomForFile(const std::string& path);
void setDiskRoomOverride(std::optional<uint64_t> bytes);  // the tests' hook; nullopt: the real disk

}  // namespace kelvra::avicap
