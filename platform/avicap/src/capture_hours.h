// Capture hours: the times of day at which frame steps record, for a time-lapse of daylight or of
// working hours over weeks. Worked out from the local clock and, for daylight, from the sun's
// position at a place the user gives once (no network).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvra::avicap {

struct CaptureHours {
    enum class Mode { Always, Between, Daylight };
    Mode mode = Mode::Always;
    int fromMinute = 7 * 60;  // Between: minutes after local midnight; from > to runs across midnight
    int toMinute = 19 * 60;
    double latitude = 0, longitude = 0;  // Daylight: degrees, north and east positive

    bool operator==(const CaptureHours&) const = default;
};

// Sunrise and sunset on a civil date at a place, in minutes after that date's UTC midnight (may be
// below 0 or past 1440 far from Greenwich); none on a day the sun never rises or never sets.
struct SunTimes {
    std::optional<double> riseUtcMinutes, setUtcMinutes;
    bool alwaysUp = false;  // polar day
};
SunTimes sunTimes(int year, int month, int day, double latitude, double longitude);

// At `epochSeconds`: inside the hours, or the moment they next begin.
struct HoursVerdict {
    bool inside = true;
    int64_t nextBeginsEpoch = 0;
};
HoursVerdict checkHours(const CaptureHours& hours, int64_t epochSeconds);

// "Between 07:00 and 19:00", "Daylight only (51.48 N, 0.00 E)", "Always".
std::string hoursText(const CaptureHours& hours);
// "07:12" for an epoch time in local time; with the date ("Mon 07:12") when not within a day.
std::string localClockText(int64_t epochSeconds, int64_t nowEpoch);

// The wall clock the hours are judged on: the system's, or in tests a fixed start moved on by the
// platform's virtual clock.
int64_t wallClockSeconds();
void setWallClockBase(std::optional<int64_t> epochAtVirtualZero);

}  // namespace kelvra::avicap
