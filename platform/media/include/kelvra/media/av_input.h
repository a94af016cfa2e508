// The video stream of a file opened for decoding: demuxer, stream and decoder in one owner, for
// the platform's own readers (player, onion skin, film export). Not part of the window API.
#pragma once

#include <kelvra/media/status.h>

#include <cstdint>
#include <functional>
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

    // The next decoded picture: 0, AVERROR_EOF at the end, or the error of a picture that failed.
    // The stream ends at the file's end, at a read error (kept in demuxError) or where `endsAt`,
    // shown each packet of the stream (empty ones too), says so; what is in the decoder still comes.
    int decode(AVFrame* into, const std::function<bool(const AVPacket*)>& endsAt = {});

    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    bool drained = false;  // the stream ended and the decoder was told so
    int demuxError = 0;    // why reading stopped early
};

}  // namespace kelvra::media
