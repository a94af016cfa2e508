// What the capture window works out about a running recording, kept free of windows and files so
// that the arithmetic can be tested by itself: how much room is left, the pace of the frame steps,
// late steps, and a camera that keeps delivering the same picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace kelvra::avicap {

constexpr uint64_t kLateStepMs = 1000;       // a step later than the pace by more than this is journalled
constexpr uint64_t kLowRoomMs = 86400000;    // under a day of room left is warned about
constexpr uint64_t kRoomAgainMs = kLowRoomMs * 3 / 2;  // ... until a day and a half fits again
constexpr uint32_t kFrozenPictures = 10;     // this many identical pictures in a row: a frozen camera

// 41200 -> "41,200".
std::string groupedNumber(uint64_t n);

// A system message as a sentence of its own: "No space left on device." (its full stop added
// where it has none), so that the next sentence does not run into it.
std::string sentence(const std::string& text);

// A length in its two largest units, rounded down: "12 s", "3 min", "2 h 5 min", "4 days 18 h";
// from ten days on in days alone.
std::string shortDuration(uint64_t ms);
// The same for a forecast: "about 4 days 18 h", "about 12 min", "under a minute".
std::string roughDuration(uint64_t ms);

struct Forecast {
    uint64_t frames = 0;               // frames the free space still takes
    std::optional<uint64_t> ms;        // how long they last at the pace, when the pace is known
};

// Room for freeBytes / averageFrameBytes frames, each taking paceMs. Nothing to say without an
// average frame size (no frame written yet).
std::optional<Forecast> forecastRoom(uint64_t freeBytes, uint64_t averageFrameBytes, std::optional<uint64_t> paceMs);

// "room for 41,200 frames, about 4 days 18 h at the present pace".
std::string forecastText(const Forecast& forecast);

// The pace of frame steps, learned from the time between them. An open (REC, RESUME, a grabbed
// frame) may change the interval, so the pace is learned anew after one; the step right after an
// open measures from the open, not from a step, and teaches nothing. Steps that come late are not
// taken into the pace, and a step is judged only once two gaps are known; the pace is the longest
// recent gap, so a grabbed frame between timed ones never makes the next timed step look late.
class StepPace {
public:
    void restart(uint64_t nowMs);
    // A frame step at nowMs; answers how much later than the pace it came (0: on time or unjudged).
    uint64_t step(uint64_t nowMs);
    std::optional<uint64_t> paceMs() const;
    std::optional<uint64_t> lastStepMs() const { return lastStep_; }

private:
    static constexpr size_t kGapsKept = 5;
    static constexpr size_t kGapsToJudge = 2;

    std::optional<uint64_t> mark_;     // the last step or open
    bool markIsOpen_ = false;
    std::optional<uint64_t> lastStep_;
    std::deque<uint64_t> gaps_;
};

// Counts identical pictures in a row. A failed step (no picture) neither breaks nor extends a run.
class FrozenCheck {
public:
    // One step's picture, by its digest; true when this picture makes the camera count as frozen.
    bool see(uint64_t digest);
    bool frozen() const { return run_ >= kFrozenPictures; }
    uint32_t run() const { return run_; }
    void reset() { run_ = 0; }

private:
    uint64_t last_ = 0;
    uint32_t run_ = 0;
};

uint64_t pictureDigest(const uint8_t* data, size_t size);

}  // namespace kelvra::avicap
