// The capture file's open-to-continue on any existing bytes. A file the writer refuses must be
// left exactly as it was; one it continues must take a frame and read back with it.
#include "fuzz_file.h"

#include <kelvra/media/avi_writer.h>

#include <algorithm>
#include <vector>

using namespace kelvra::media;

namespace {

constexpr uint32_t kMicroSecPerFrame = 40000;
constexpr uint8_t kPayload[64] = {0xFF, 0xD8, 0xFF, 0xD9};

AviVideoFormat smallMjpeg()
{
    AviVideoFormat format;
    format.width = 32;
    format.height = 24;
    format.compression = fourcc('M', 'J', 'P', 'G');
    format.handler = format.compression;
    format.sizeImage = 32 * 24 * 3;
    return format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = kelvra::fuzz::scratchPath();
    kelvra::fuzz::writeScratch(data, size);
    // Open with the format the file claims to hold, so the continue path itself is reached.
    AviVideoFormat format = smallMjpeg();
    AviFileInfo info;
    if (probeAvi(path, info) && info.format.width > 0 && info.format.height != 0 && info.format.bitCount != 0)
        format = info.format;

    AviWriterOptions options;
    options.syncToDisk = false;
    options.riffLimit = 0;  // the smallest segment the writer allows: reach OpenDML early
    std::unique_ptr<AviWriter> writer;
    if (!AviWriter::open(path, format, kMicroSecPerFrame, options, writer)) {
        const std::vector<uint8_t> after = kelvra::fuzz::readScratch();
        if (after.size() != size || (size && !std::equal(after.begin(), after.end(), data)))
            std::abort();  // a refused file was changed
        return 0;
    }
    const uint64_t before = writer->frameCount();
    if (!writer->append(kPayload, sizeof kPayload, true) || writer->frameCount() != before + 1)
        std::abort();
    // The frame just appended comes out as it went in; the one before it may be refused (a
    // damaged index) but comes out whole when it does; both go back.
    std::vector<uint8_t> payload, earlier;
    bool keyframe = false, earlierKey = false;
    if (!writer->removeLastFrame(payload, keyframe) || !keyframe || writer->frameCount() != before ||
        !std::equal(payload.begin(), payload.end(), kPayload, kPayload + sizeof kPayload))
        std::abort();
    if (before > 0 && writer->removeLastFrame(earlier, earlierKey)) {
        if (writer->frameCount() != before - 1 || earlier.empty() || !writer->append(earlier.data(), earlier.size(), earlierKey))
            std::abort();
    }
    if (writer->frameCount() != before || !writer->append(payload.data(), payload.size(), keyframe))
        std::abort();
    if (!writer->close())
        std::abort();
    AviFileInfo reread;
    if (!probeAvi(path, reread) || reread.frames != before + 1)
        std::abort();  // the continued file does not read back with its frames
    return 0;
}
