// Helpers for the capture-file tests: deterministic frames, recording them, an independent
// read-back through FFmpeg's demuxer, scratch folders, and running a piece of a test in a child.
#pragma once

#include <kelvra/media/avi_writer.h>

#include "child_process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace avitest {

using namespace kelvra::media;

constexpr uint32_t kUs15Fps = 66666;  // 1,000,000 / 15, truncated

// Frame k of a test recording: its size varies (odd and even) and its bytes depend on k.
std::vector<uint8_t> testFrame(uint64_t k, size_t baseSize);

inline AviVideoFormat rawFormat(int width, int height)
{
    return {width, height, 0, 0, 24, uint32_t((width * 3 + 3) / 4 * 4 * height), {}};
}
inline AviVideoFormat mjpegFormat(int width, int height)
{
    return {width, height, fourcc('M', 'J', 'P', 'G'), fourcc('M', 'J', 'P', 'G'), 24, uint32_t(width * height * 3), {}};
}

// No sync to disk, and a small RIFF limit so that recordings cross into AVIX segments early.
inline AviWriterOptions fastOptions(uint64_t riffLimit = 1 << 20) { return {false, riffLimit}; }

std::unique_ptr<AviWriter> openWriter(const std::string& path, const AviVideoFormat& format,
                                      AviWriterOptions options = fastOptions(), uint32_t us = kUs15Fps);

// Appends testFrame(from .. to - 1) as keyframes up to the first failure, whose status it
// returns; `appended` counts the frames that made it.
Status appendFrames(AviWriter& writer, uint64_t from, uint64_t to, size_t baseSize, uint64_t* appended = nullptr);

// Opens or continues a 160x120 Motion JPEG recording, appends frames from .. to - 1, closes it.
std::string record(const std::string& path, uint64_t from, uint64_t to, size_t baseSize);

struct Ratio { int num = 0, den = 0; };

struct Readback {
    std::string openError;          // empty when the demuxer opened the file
    int loggedErrors = 0;           // messages at AV_LOG_ERROR or worse while reading
    int64_t headerFrames = 0;       // what the stream header says (nb_frames)
    int indexEntries = 0;
    Ratio timeBase, rate, avgRate;  // rate is r_frame_rate, known after stream info
    std::vector<std::vector<uint8_t>> packets;
    std::vector<bool> keyframes;
};

// Reads every packet with libavformat's AVI demuxer. useOdml = false reads through idx1 only.
Readback readAvi(const std::string& path, bool useOdml = true, bool streamInfo = false);
std::string describe(const Readback& r);

// Every packet equals testFrame(first + i); returns a description of the first difference.
std::string checkFrames(const Readback& r, size_t baseSize, uint64_t first = 0);

// Walks the file as a strict RIFF reader does, each chunk at an even offset inside its parent
// and only frames, indexes and JUNK in a movi list: where that fails, or nothing. FFmpeg's
// demuxer resynchronises past a broken chunk, so it does not see such faults. `trailingBytes`
// lets bytes that start no RIFF follow the last one, as a power failure between growing the file
// and the header that takes the growth in leaves them; readers stop there.
std::string chunkChainFault(const std::string& path, bool trailingBytes = false);

// Checks, on a file that reads chunk by chunk, that its counts and indexes agree: each 'indx'
// entry names an 'ix00' chunk of its size and lists as many frames as that index holds, every
// index entry (standard and idx1) names a frame chunk of its size, together they list every frame
// chunk in file order, and dmlh, strh and (for the first RIFF) avih count those frames. Returns
// the first disagreement, or nothing.
std::string indexFault(const std::string& path);

// The frames of a file as two other readers find them: one that takes every frame chunk of the
// movi lists in order, one that trusts the super index's durations (reading that many entries of
// each standard index). `fault` says where the file failed such a reader. Both stop at bytes
// after the last RIFF that start no RIFF.
std::vector<std::vector<uint8_t>> chunkPackets(const std::string& path, std::string& fault);
std::vector<std::vector<uint8_t>> superIndexPackets(const std::string& path, std::string& fault);

// The file reads chunk by chunk, its indexes agree, it opens without a logged error and holds
// exactly `frames` test frames, in its header and its packets; returns what is wrong, or nothing.
std::string checkRecording(const std::string& path, uint64_t frames, size_t baseSize);

std::vector<uint8_t> fileBytes(const std::string& path);

struct ScratchDir {
    ~ScratchDir() { std::filesystem::remove_all(path, ignored); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path = mkdtemp(std::string("/tmp/kelvra-avi-XXXXXX").data());
    std::error_code ignored;  // a folder that cannot be removed is left in /tmp
};

using testsupport::inChild;

}  // namespace avitest
