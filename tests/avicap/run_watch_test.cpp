// The arithmetic behind the status line and the journal: numbers and lengths as people read them,
// the room forecast, the pace of frame steps and late steps, and the frozen-camera rule.
#include "recording_watch.h"
#include "run_watch.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kelvra::avicap;

namespace {
constexpr uint64_t kMin = 60000, kHour = 60 * kMin, kDay = 24 * kHour;
}

TEST(RunWatch, NumbersAndLengthsAsPeopleReadThem)
{
    const struct { uint64_t n; const char* text; } numbers[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {41200, "41,200"}, {1234567, "1,234,567"},
        {UINT64_MAX, "18,446,744,073,709,551,615"}};
    for (const auto& row : numbers)
        EXPECT_EQ(groupedNumber(row.n), row.text);
    const struct { uint64_t ms; const char* rough; const char* brief; } lengths[] = {
        {0, "under a minute", "0 s"}, {59999, "under a minute", "59 s"}, {kMin, "about 1 min", "1 min"},
        {kHour - 1, "about 59 min", "59 min"}, {3 * kHour, "about 3 h", "3 h"},
        {3 * kHour + 20 * kMin + 59999, "about 3 h 20 min", "3 h 20 min"}, {kDay, "about 1 day", "1 day"},
        {4 * kDay + 18 * kHour + 59 * kMin, "about 4 days 18 h", "4 days 18 h"},
        {1411 * kDay + 10 * kHour, "about 1411 days", "1411 days"}};
    for (const auto& row : lengths) {
        SCOPED_TRACE(row.ms);
        EXPECT_EQ(roughDuration(row.ms), row.rough);
        EXPECT_EQ(shortDuration(row.ms), row.brief);
    }
}

TEST(RunWatch, ForecastIsFreeSpaceOverTheAverageFrameTimesThePace)
{
    const struct {
        uint64_t freeBytes, frameBytes;
        std::optional<uint64_t> pace;
        std::optional<uint64_t> frames, ms;  // nullopt frames: no forecast at all
        const char* text;
    } rows[] = {
        {4120000000, 100000, 10000, 41200, 412000000, "room for 41,200 frames, about 4 days 18 h at the present pace"},
        {4120000000, 100000, std::nullopt, 41200, std::nullopt, "room for 41,200 frames"},
        {99999, 100000, kMin, 0, 0, "room for 0 frames, under a minute at the present pace"},
        {100000, 100000, kMin, 1, kMin, "room for 1 frame, about 1 min at the present pace"},
        {5000, 0, kMin, std::nullopt, std::nullopt, ""},  // no frame written yet
        // A vast disk at the slowest pace saturates rather than wrapping round to little.
        {UINT64_MAX, 1, UINT64_MAX / 2, UINT64_MAX, UINT64_MAX, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.freeBytes);
        const std::optional<Forecast> f = forecastRoom(row.freeBytes, row.frameBytes, row.pace);
        ASSERT_EQ(f.has_value(), row.frames.has_value());
        if (!f)
            continue;
        EXPECT_EQ(f->frames, *row.frames);
        EXPECT_EQ(f->ms, row.ms);
        if (row.text) {
            EXPECT_EQ(forecastText(*f), row.text);
        }
    }
}

// Steps as (time, late by) with 'O' for an open (REC, RESUME, a grabbed frame's open).
TEST(RunWatch, StepsLateByMoreThanASecondAgainstThePace)
{
    struct Event { char kind; uint64_t at; uint64_t late; };
    const struct { const char* name; std::vector<Event> events; std::optional<uint64_t> pace; } rows[] = {
        {"steady minutes, then a suspend of an hour",
         {{'O', 0, 0}, {'S', kMin, 0}, {'S', 2 * kMin, 0}, {'S', 3 * kMin, 0}, {'S', 4 * kMin, 0},
          {'S', 5 * kMin + kHour, kHour}, {'S', 6 * kMin + kHour, 0}},
         kMin},
        {"a second of jitter is on time, a little more is late",
         {{'O', 0, 0}, {'S', 5000, 0}, {'S', 10000, 0}, {'S', 15000, 0}, {'S', 21000, 0}, {'S', 28001, 1001}},
         6000},
        {"too few gaps to judge",
         {{'O', 0, 0}, {'S', 1000, 0}, {'S', 2000, 0}, {'S', 90000, 0}}, 88000},
        {"a grabbed frame between timed ones does not make the next timed one late",
         {{'O', 0, 0}, {'S', 10000, 0}, {'S', 20000, 0}, {'S', 30000, 0}, {'O', 33000, 0}, {'S', 33000, 0},
          {'S', 40000, 0}, {'S', 50000, 0}, {'S', 60000, 0}, {'S', 75000, 5000}},
         10000},
        {"RESUME with a longer interval learns it anew",
         {{'O', 0, 0}, {'S', 1000, 0}, {'S', 2000, 0}, {'S', 3000, 0}, {'O', 900000, 0}, {'S', 960000, 0},
          {'S', 1020000, 0}, {'S', 1080000, 0}, {'S', 1140000, 0}},
         kMin},
        {"frames grabbed by hand only: no pace", {{'O', 0, 0}, {'S', 0, 0}, {'O', 7000, 0}, {'S', 7000, 0}}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        StepPace pace;
        for (const Event& e : row.events) {
            SCOPED_TRACE(e.at);
            if (e.kind == 'O')
                pace.restart(e.at);
            else
                EXPECT_EQ(pace.step(e.at), e.late);
        }
        EXPECT_EQ(pace.paceMs(), row.pace);
    }
}

TEST(RunWatch, FrozenAfterTenIdenticalPicturesInARow)
{
    const struct { const char* name; std::vector<uint64_t> pictures; int frozenAt; bool frozenAtEnd; } rows[] = {
        {"ten alike", {7, 7, 7, 7, 7, 7, 7, 7, 7, 7}, 9, true},
        {"nine alike", {7, 7, 7, 7, 7, 7, 7, 7, 7}, -1, false},
        {"a different picture breaks the run", {7, 7, 7, 7, 7, 8, 7, 7, 7, 7, 7}, -1, false},
        {"told once, then it moves again", {1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4}, 10, false},
        {"a moving scene", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, -1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FrozenCheck check;
        int frozenAt = -1;
        for (size_t i = 0; i < row.pictures.size(); ++i)
            if (check.see(row.pictures[i])) {
                EXPECT_EQ(frozenAt, -1) << "reported twice";
                frozenAt = int(i);
            }
        EXPECT_EQ(frozenAt, row.frozenAt);
        EXPECT_EQ(check.frozen(), row.frozenAtEnd);
    }
    const uint8_t a[] = {1, 2, 3}, b[] = {1, 2, 4};
    EXPECT_EQ(pictureDigest(a, 3), pictureDigest(a, 3));
    EXPECT_NE(pictureDigest(a, 3), pictureDigest(b, 3));
}

// What a refusal says a file holds, from its headers' compression code.
TEST(RunWatch, CompressorsByTheirNames)
{
    using kelvra::media::fourcc;
    const struct { uint32_t compression; const char* name; } rows[] = {
        {0, "Full Frames (Uncompressed)"}, {fourcc('M', 'J', 'P', 'G'), "Motion JPEG"},
        {fourcc('F', 'F', 'V', '1'), "Lossless (FFV1)"}, {fourcc('X', 'V', 'I', 'D'), "'XVID'"},
        {fourcc('a', '\n', 'b', 'c'), "'a?bc'"}};
    for (const auto& row : rows) {
        kelvra::media::AviVideoFormat format;
        format.compression = row.compression;
        EXPECT_EQ(compressionName(format), row.name);
    }
    EXPECT_EQ(streamText(320, 240, compressionName(kelvra::media::Codec::Lossless)), "320x240, Lossless (FFV1)");
}
