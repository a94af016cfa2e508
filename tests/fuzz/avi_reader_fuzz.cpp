// The player's reader on any bytes: open, play to the end, seek, play on. It must answer every
// file with frames or a Status: no crash, no hang, no access out of bounds.
#include "fuzz_file.h"

#include <kelvra/media/video_reader.h>

#include <algorithm>

using namespace kelvra::media;

namespace {

constexpr int kMaxFramesRead = 64;  // enough to cross every chunk of a small input

void playSome(VideoReader& reader, int frames)
{
    Frame frame;
    for (int i = 0; i < frames; ++i) {
        const Status st = reader.readNext(frame);
        if (st.code == kEndOfStream)
            return;
        if (st && frame.data.size() != frameBytes(PixelFormat::BGRA, reader.width(), reader.height()))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kelvra::fuzz::writeScratch(data, size);
    std::unique_ptr<VideoReader> reader;
    if (!VideoReader::open(kelvra::fuzz::scratchPath(), reader))
        return 0;
    playSome(*reader, kMaxFramesRead);
    // Seek targets from the input's own bytes: before the start, inside, past the end.
    const int64_t count = reader->frameCount();
    for (int64_t target : {int64_t(-1), count / 2, count + 5, int64_t(size ? data[size - 1] : 0)}) {
        reader->seekToFrame(target);
        playSome(*reader, 4);
    }
    return 0;
}
