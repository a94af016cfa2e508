// Helpers for the capture-file tests: deterministic frames, an independent read-back through
// FFmpeg's demuxer, scratch folders, and running a piece of a test in a child process.
#pragma once

#include <kelvra/media/avi_writer.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace avitest {

using kelvra::media::AviVideoFormat;

// Frame k of a test recording: its size varies (odd and even) and its bytes depend on k.
std::vector<uint8_t> testFrame(uint64_t k, size_t baseSize);

AviVideoFormat rawFormat(int width, int height);
AviVideoFormat mjpegFormat(int width, int height);

struct Readback {
    std::string openError;  // empty when the demuxer opened the file
    int loggedErrors = 0;   // messages at AV_LOG_ERROR or worse while reading
    int64_t headerFrames = 0;  // what the stream header says (nb_frames)
    int indexEntries = 0;
    int timeBaseNum = 0, timeBaseDen = 0;
    int rateNum = 0, rateDen = 0;      // r_frame_rate after stream info
    int avgRateNum = 0, avgRateDen = 0;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<bool> keyframes;
};

// Reads every packet with libavformat's AVI demuxer. useOdml = false reads through idx1 only.
Readback readAvi(const std::string& path, bool useOdml = true, bool streamInfo = false);

// Every packet equals testFrame(first + i); returns a description of the first difference.
std::string checkFrames(const Readback& r, size_t baseSize, uint64_t first = 0);

std::vector<uint8_t> fileBytes(const std::string& path);

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs `body` in a forked child; returns what it reported (empty: success) or how it died.
std::string inChild(const std::function<std::string()>& body);

}  // namespace avitest
