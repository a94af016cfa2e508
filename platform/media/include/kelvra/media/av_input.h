// The video stream of a file opened for decoding: demuxer, stream and decoder in one owner, for
// the platform's own readers (player, onion skin, film export). Not part of the window API.
#pragma once

#include <kelvra/media/status.h>

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

namespace kelvra::media {

constexpr int64_t kMaxVideoPixels = int64_t(8192) * 4320;  // beyond that a header is lying

struct AvInputOptions {
    int threadCount = 1;          // decoder threads; 0: as many as the machine has
    bool findStreamInfo = false;  // probe the first packets for what the headers leave out
    // Each reader has always worded its failures its own way; users and tests know those words.
    const char* fileWords = "";     // before the path in "Cannot open/read ...": "the recording "
    bool openSaysNotVideo = false;  // "Cannot open 'x': not a video file that can be read (why)"
    bool namesCodec = false;        // "... is compressed with h264, which cannot be decoded here"
};

struct AvInput {
    AvInput() = default;
    AvInput(const AvInput&) = delete;
    AvInput& operator=(const AvInput&) = delete;
    ~AvInput();

    // Opens the file's best video stream and its decoder; on failure what is open stays for the
    // destructor to free.
    Status open(const std::string& path, const AvInputOptions& options);

    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
};

}  // namespace kelvra::media
