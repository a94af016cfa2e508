#include "capture_hours.h"

#include <kelvra/user/testing.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace kelvra::avicap {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinutesPerDay = 1440;
constexpr int kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int kDaysSearched = 370;  // a polar night ends within the year
// The sun's centre 50' below the horizon at rising and setting: its radius and the air's refraction.
constexpr double kRiseZenithDegrees = 90.833;

std::optional<int64_t> wallBase;

double rad(double degrees) { return degrees * kPi / 180; }
double deg(double radians) { return radians * 180 / kPi; }

double julianDay(int year, int month, int day)
{
    if (month <= 2) {
        year -= 1;
        month += 12;
    }
    const int a = year / 100;
    const int b = 2 - a + a / 4;
    return std::floor(365.25 * (year + 4716)) + std::floor(30.6001 * (month + 1)) + day + b - 1524.5;
}

struct SunPosition {
    double declination;      // radians
    double equationOfTime;   // minutes
};

// The sun's place at a Julian day, after Meeus' "Astronomical Algorithms" (a minute or better
// against almanacs for sunrise and sunset).
SunPosition sunAt(double jd)
{
    const double t = (jd - 2451545.0) / 36525.0;
    const double l0 = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
    const double m = 357.52911 + t * (35999.05029 - 0.0001537 * t);
    const double e = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
    const double c = std::sin(rad(m)) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                     std::sin(rad(2 * m)) * (0.019993 - 0.000101 * t) + std::sin(rad(3 * m)) * 0.000289;
    const double omega = 125.04 - 1934.136 * t;
    const double lambda = l0 + c - 0.00569 - 0.00478 * std::sin(rad(omega));
    const double eps0 = 23 + (26 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60) / 60;
    const double eps = eps0 + 0.00256 * std::cos(rad(omega));
    const double y = std::pow(std::tan(rad(eps) / 2), 2);
    const double eot = y * std::sin(2 * rad(l0)) - 2 * e * std::sin(rad(m)) +
                       4 * e * y * std::sin(rad(m)) * std::cos(2 * rad(l0)) - 0.5 * y * y * std::sin(4 * rad(l0)) -
                       1.25 * e * e * std::sin(2 * rad(m));
    return {std::asin(std::sin(rad(eps)) * std::sin(rad(lambda))), 4 * deg(eot)};
}

// Minutes after UTC midnight of the sun's rising (sign -1) or setting (+1) on the day of
// `jd0` (its UTC midnight); nothing when it does neither. Worked out at noon, then again at the
// event's own time.
std::optional<double> sunEvent(double jd0, double latitude, double longitude, int sign, bool& alwaysUp)
{
    double minutes = 720 - 4 * longitude;
    for (int round = 0; round < 2; ++round) {
        const SunPosition sun = sunAt(jd0 + minutes / kMinutesPerDay);
        const double cosHa = std::cos(rad(kRiseZenithDegrees)) / (std::cos(rad(latitude)) * std::cos(sun.declination)) -
                             std::tan(rad(latitude)) * std::tan(sun.declination);
        if (cosHa < -1 || cosHa > 1) {
            alwaysUp = cosHa < -1;
            return std::nullopt;
        }
        const double noon = 720 - 4 * longitude - sun.equationOfTime;
        minutes = noon + sign * 4 * deg(std::acos(cosHa));
    }
    return minutes;
}

std::tm localTm(int64_t epoch)
{
    const std::time_t t = std::time_t(epoch);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// The epoch time of a local wall time on the day `epoch` falls on, `dayOffset` days later.
int64_t localTimeOn(int64_t epoch, int dayOffset, int minuteOfDay)
{
    std::tm tm = localTm(epoch);
    tm.tm_mday += dayOffset;
    tm.tm_hour = minuteOfDay / 60;
    tm.tm_min = minuteOfDay % 60;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return int64_t(std::mktime(&tm));
}

// Sunrise and sunset as epoch times for the local date `dayOffset` days after the one of `epoch`.
struct Daylight {
    std::optional<int64_t> rise, set;
    bool alwaysUp = false;
};

Daylight daylightOn(int64_t epoch, int dayOffset, double latitude, double longitude)
{
    std::tm tm = localTm(epoch);
    tm.tm_mday += dayOffset;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    std::mktime(&tm);  // normalises the date
    const SunTimes sun = sunTimes(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, latitude, longitude);
    std::tm midnight{};
    midnight.tm_year = tm.tm_year;
    midnight.tm_mon = tm.tm_mon;
    midnight.tm_mday = tm.tm_mday;
    const int64_t utcMidnight = int64_t(timegm(&midnight));
    Daylight d;
    d.alwaysUp = sun.alwaysUp;
    if (sun.riseUtcMinutes)
        d.rise = utcMidnight + int64_t(std::lround(*sun.riseUtcMinutes * kSecondsPerMinute));
    if (sun.setUtcMinutes)
        d.set = utcMidnight + int64_t(std::lround(*sun.setUtcMinutes * kSecondsPerMinute));
    return d;
}

HoursVerdict checkDaylight(const CaptureHours& hours, int64_t now)
{
    const Daylight today = daylightOn(now, 0, hours.latitude, hours.longitude);
    if (today.rise && today.set) {
        if (now >= *today.rise && now < *today.set)
            return {true, 0};
        if (now < *today.rise)
            return {false, *today.rise};
    } else if (today.alwaysUp) {
        return {true, 0};
    }
    for (int day = 1; day <= kDaysSearched; ++day) {
        const Daylight next = daylightOn(now, day, hours.latitude, hours.longitude);
        if (next.alwaysUp)
            return {false, localTimeOn(now, day, 0)};
        if (next.rise)
            return {false, *next.rise};
    }
    return {false, now + kSecondsPerDay};
}

HoursVerdict checkBetween(const CaptureHours& hours, int64_t now)
{
    const std::tm tm = localTm(now);
    const int minute = tm.tm_hour * 60 + tm.tm_min;
    const int from = hours.fromMinute, to = hours.toMinute;
    if (from == to)
        return {true, 0};  // the whole day
    const bool inside = from < to ? (minute >= from && minute < to) : (minute >= from || minute < to);
    if (inside)
        return {true, 0};
    return {false, localTimeOn(now, minute < from ? 0 : 1, from)};
}

std::string clock(int minuteOfDay)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minuteOfDay / 60 % 24, minuteOfDay % 60);
    return text;
}

}  // namespace

SunTimes sunTimes(int year, int month, int day, double latitude, double longitude)
{
    const double jd0 = julianDay(year, month, day);
    SunTimes times;
    times.riseUtcMinutes = sunEvent(jd0, latitude, longitude, -1, times.alwaysUp);
    times.setUtcMinutes = sunEvent(jd0, latitude, longitude, +1, times.alwaysUp);
    return times;
}

HoursVerdict checkHours(const CaptureHours& hours, int64_t epochSeconds)
{
    switch (hours.mode) {
    case CaptureHours::Mode::Always: return {true, 0};
    case CaptureHours::Mode::Between: return checkBetween(hours, epochSeconds);
    case CaptureHours::Mode::Daylight: return checkDaylight(hours, epochSeconds);
    }
    return {true, 0};
}

std::string hoursText(const CaptureHours& hours)
{
    switch (hours.mode) {
    case CaptureHours::Mode::Always: return "Always";
    case CaptureHours::Mode::Between: return "Between " + clock(hours.fromMinute) + " and " + clock(hours.toMinute);
    case CaptureHours::Mode::Daylight: {
        char place[64];
        std::snprintf(place, sizeof place, "%.2f %c, %.2f %c", std::abs(hours.latitude), hours.latitude < 0 ? 'S' : 'N',
                      std::abs(hours.longitude), hours.longitude < 0 ? 'W' : 'E');
        return std::string("Daylight only (") + place + ")";
    }
    }
    return "Always";
}

std::string localClockText(int64_t epochSeconds, int64_t nowEpoch)
{
    const std::tm tm = localTm(epochSeconds);
    char text[32];
    if (epochSeconds - nowEpoch < kSecondsPerDay - kSecondsPerMinute * 60)
        std::strftime(text, sizeof text, "%H:%M", &tm);
    else
        std::strftime(text, sizeof text, "%a %d %b %H:%M", &tm);
    return text;
}

int64_t wallClockSeconds()
{
    if (wallBase && platform::testing::virtualClockActive())
        return *wallBase + int64_t(platform::testing::clockNowMs() / 1000);
    return int64_t(std::time(nullptr));
}

void setWallClockBase(std::optional<int64_t> epochAtVirtualZero)
{
    wallBase = epochAtVirtualZero;
}

}  // namespace kelvra::avicap
