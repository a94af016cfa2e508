#include "recording_watch.h"

#include <kelvra/user/testing.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace kelvra::avicap {

namespace {

// Per frame the file also takes its chunk header, its index entries and a pad byte.
constexpr uint64_t kFrameOverheadBytes = 32;
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kNsPerMs = 1000000;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Tests give every disk the same free space, so that no result hangs on the machine's own disk.
std::optional<uint64_t> diskRoomOverride;

std::string frames(uint64_t n)
{
    return groupedNumber(n) + (n == 1 ? " frame" : " frames");
}

}  // namespace

std::string compressionName(media::Codec codec)
{
    for (const media::CodecInfo& c : media::availableCodecs())
        if (c.codec == codec)
            return c.name;
    return "an unknown compressor";
}

std::string compressionName(const media::AviVideoFormat& format)
{
    switch (format.compression) {
    case 0: return compressionName(media::Codec::Uncompressed);
    case media::fourcc('M', 'J', 'P', 'G'): return compressionName(media::Codec::MotionJpeg);
    case media::fourcc('F', 'F', 'V', '1'): return compressionName(media::Codec::Lossless);
    default: break;
    }
    std::string code;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((format.compression >> shift) & 0xFF);
        code += (c >= ' ' && c <= '~') ? c : '?';
    }
    return "'" + code + "'";
}

std::string streamText(int width, int height, const std::string& compression)
{
    return std::to_string(width) + "x" + std::to_string(height) + ", " + compression;
}

uint64_t stepClockMs()
{
    if (platform::testing::virtualClockActive())
        return platform::testing::clockNowMs();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return uint64_t(now.tv_sec) * kMsPerSecond + uint64_t(now.tv_nsec) / kNsPerMs;
}

void setDiskRoomOverride(std::optional<uint64_t> bytes)
{
    diskRoomOverride = bytes;
}

uint64_t roomForFile(const std::string& path)
{
    struct statvfs disk{};
    uint64_t room = 0;
    if (diskRoomOverride)
        room = *diskRoomOverride;
    else if (statvfs(folderOf(path).c_str(), &disk) == 0)
        room = uint64_t(disk.f_bavail) * disk.f_frsize;
    else
        return 0;
    // A limit on file sizes (ulimit -f) ends a recording as surely as a full disk.
    struct rlimit limit{};
    struct stat file{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && stat(path.c_str(), &file) == 0) {
        const uint64_t size = uint64_t(file.st_size);
        room = std::min<uint64_t>(room, limit.rlim_cur > size ? limit.rlim_cur - size : 0);
    }
    return room;
}

RecordingWatch::RecordingWatch(const std::string& capturePath, uint64_t framesBefore, const std::string& stream,
                               uint64_t nowMs)
    : journal_(capturePath), capturePath_(capturePath)
{
    pace_.restart(nowMs);
    if (framesBefore == 0)
        journal_.write("Opened '" + capturePath + "' for capture: a new recording, " + stream + ".");
    else
        journal_.write("Continued '" + capturePath + "': " + frames(framesBefore) + " already in it, " + stream + ".");
    roomBytes_ = roomForFile(capturePath_);
}

void RecordingWatch::reopened(uint64_t nowMs)
{
    pace_.restart(nowMs);
}

void RecordingWatch::stepBegins(uint64_t nowMs)
{
    const std::optional<uint64_t> pace = pace_.paceMs();
    const uint64_t late = pace_.step(nowMs);
    if (late > 0)
        journal_.write("Frame step " + shortDuration(late) + " late (the steps came every " + shortDuration(*pace) +
                       "); the computer may have been asleep or busy.");
}

void RecordingWatch::stepFailed(const std::string& why)
{
    journal_.write("Frame step not recorded: " + why);
}

void RecordingWatch::diskError(const std::string& what)
{
    journal_.write("Disk error, frame step not recorded: " + sentence(what));
}

RecordingWatch::StepNews RecordingWatch::framed(uint64_t digest, uint64_t bytes, uint64_t framesInFile)
{
    StepNews news;
    const bool wasFrozen = frozen_.frozen();
    news.frozenBegan = frozen_.see(digest);
    news.frozenEnded = wasFrozen && !frozen_.frozen();
    if (news.frozenBegan)
        journal_.write("The camera delivered the same picture " + std::to_string(kFrozenPictures) +
                       " times in a row: it may be frozen.");
    if (news.frozenEnded)
        journal_.write("The camera's picture changes again.");

    ++framesWritten_;
    bytesWritten_ += bytes + kFrameOverheadBytes;
    lastFrameMs_ = pace_.lastStepMs();
    roomBytes_ = roomForFile(capturePath_);
    const std::optional<Forecast> forecast = currentForecast();
    // A pace not yet learned again (after a grabbed frame or RESUME) says nothing new about the
    // room, and a room that only looks longer at a slower pace is not room made: the warning ends
    // once well over a day fits, so that a pace going back and forth cannot make it flicker.
    bool low = lowRoom_;
    if (forecast && forecast->ms)
        low = *forecast->ms < (lowRoom_ ? kRoomAgainMs : kLowRoomMs);
    news.lowRoomBegan = low && !lowRoom_;
    news.lowRoomEnded = !low && lowRoom_;
    lowRoom_ = low;
    if (news.lowRoomBegan)
        journal_.write("Less than a day of room is left: " + forecastText(*forecast) + " (" + frames(framesInFile) +
                       " in the file).");
    if (news.lowRoomEnded)
        journal_.write("More than a day of room again.");
    return news;
}

void RecordingWatch::deviceLost(const std::string& device)
{
    if (deviceGone_)
        return;
    deviceGone_ = true;
    journal_.write("Camera '" + device + "' lost.");
}

void RecordingWatch::deviceBack(const std::string& device)
{
    if (!deviceGone_)
        return;
    deviceGone_ = false;
    journal_.write("Camera '" + device + "' back.");
}

void RecordingWatch::closed(uint64_t framesInFile, const std::string& failure)
{
    if (failure.empty())
        journal_.write("Closed with " + frames(framesInFile) + " in the file.");
    else
        journal_.write("Disk error at closing: " + sentence(failure) + " " + frames(framesInFile) + " in the file.");
}

std::optional<Forecast> RecordingWatch::currentForecast() const
{
    if (framesWritten_ == 0)
        return std::nullopt;
    return forecastRoom(roomBytes_, bytesWritten_ / framesWritten_, pace_.paceMs());
}

std::string RecordingWatch::forecastLine() const
{
    const std::optional<Forecast> forecast = currentForecast();
    return forecast ? forecastText(*forecast) : "room: known after the first frame";
}

std::optional<uint64_t> RecordingWatch::msSinceLastFrame(uint64_t nowMs) const
{
    if (!lastFrameMs_ || nowMs < *lastFrameMs_)
        return std::nullopt;
    return nowMs - *lastFrameMs_;
}

}  // namespace kelvra::avicap
