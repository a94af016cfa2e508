#include "run_watch.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kelvra::avicap {

namespace {

constexpr uint64_t kSecondMs = 1000;
constexpr uint64_t kMinuteMs = 60 * kSecondMs;
constexpr uint64_t kHourMs = 60 * kMinuteMs;
constexpr uint64_t kDayMs = 24 * kHourMs;
constexpr int kGroupDigits = 3;
constexpr uint64_t kDaysWithoutHours = 10;

std::string count(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string groupedNumber(uint64_t n)
{
    std::string digits = std::to_string(n);
    for (int at = int(digits.size()) - kGroupDigits; at > 0; at -= kGroupDigits)
        digits.insert(size_t(at), ",");
    return digits;
}

std::string sentence(const std::string& text)
{
    const size_t end = text.find_last_not_of(" \n");
    if (end == std::string::npos)
        return std::string();
    const std::string trimmed = text.substr(0, end + 1);
    return std::strchr(".!?", trimmed.back()) ? trimmed : trimmed + ".";
}

std::string shortDuration(uint64_t ms)
{
    if (ms < kMinuteMs)
        return std::to_string(ms / kSecondMs) + " s";
    if (ms < kHourMs)
        return std::to_string(ms / kMinuteMs) + " min";
    if (ms < kDayMs) {
        const uint64_t minutes = ms % kHourMs / kMinuteMs;
        return std::to_string(ms / kHourMs) + " h" + (minutes ? " " + std::to_string(minutes) + " min" : "");
    }
    // Past ten days the hours say nothing more.
    const uint64_t hours = ms / kDayMs >= kDaysWithoutHours ? 0 : ms % kDayMs / kHourMs;
    return count(ms / kDayMs, "day", "days") + (hours ? " " + std::to_string(hours) + " h" : "");
}

std::string roughDuration(uint64_t ms)
{
    return ms < kMinuteMs ? "under a minute" : "about " + shortDuration(ms);
}

std::optional<Forecast> forecastRoom(uint64_t freeBytes, uint64_t averageFrameBytes, std::optional<uint64_t> paceMs)
{
    if (averageFrameBytes == 0)
        return std::nullopt;
    Forecast f;
    f.frames = freeBytes / averageFrameBytes;
    if (paceMs) {
        // Saturates instead of wrapping: a huge disk at a slow pace is "many days", never a few.
        const uint64_t limit = UINT64_MAX / std::max<uint64_t>(*paceMs, 1);
        f.ms = f.frames > limit ? UINT64_MAX : f.frames * *paceMs;
    }
    return f;
}

std::string forecastText(const Forecast& forecast)
{
    std::string text = "room for " + groupedNumber(forecast.frames) + (forecast.frames == 1 ? " frame" : " frames");
    if (forecast.ms)
        text += ", " + roughDuration(*forecast.ms) + " at the present pace";
    return text;
}

void StepPace::restart(uint64_t nowMs)
{
    mark_ = nowMs;
    markIsOpen_ = true;
    gaps_.clear();
}

uint64_t StepPace::step(uint64_t nowMs)
{
    const std::optional<uint64_t> mark = mark_;
    const bool fromOpen = markIsOpen_;
    mark_ = nowMs;
    markIsOpen_ = false;
    lastStep_ = nowMs;
    if (!mark || fromOpen || nowMs < *mark)
        return 0;
    const uint64_t gap = nowMs - *mark;
    if (gaps_.size() >= kGapsToJudge) {
        const uint64_t pace = *paceMs();
        if (gap > pace + kLateStepMs)
            return gap - pace;  // an exception, not the pace: kept out of it
    }
    gaps_.push_back(gap);
    if (gaps_.size() > kGapsKept)
        gaps_.pop_front();
    return 0;
}

std::optional<uint64_t> StepPace::paceMs() const
{
    // Steps all at one instant tell no pace.
    const uint64_t longest = gaps_.empty() ? 0 : *std::max_element(gaps_.begin(), gaps_.end());
    return longest > 0 ? std::optional<uint64_t>(longest) : std::nullopt;
}

bool FrozenCheck::see(uint64_t digest)
{
    run_ = (run_ > 0 && digest == last_) ? run_ + 1 : 1;
    last_ = digest;
    return run_ == kFrozenPictures;
}

uint64_t pictureDigest(const uint8_t* data, size_t size)
{
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace kelvra::avicap
