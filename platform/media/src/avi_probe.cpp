// probeAvi: what an existing AVI file holds, read without changing it.
#include "avi_layout.h"

#include <kelvra/media/avi_writer.h>

namespace kelvra::media {

Status probeAvi(const std::string& path, AviFileInfo& info)
{
    avi::AviFile file;
    Status st = file.openExisting(path, false);
    if (!st)
        return st;
    avi::ParsedAvi parsed;
    if (!(st = avi::parseAvi(file, parsed)))
        return st;
    info.format = parsed.format;
    // Files of another layout: what their headers say.
    info.frames = parsed.unsupported.empty() ? parsed.indexedFrames + parsed.unindexedFrames() : parsed.strhLength;
    if (parsed.rate != 0)
        info.microSecPerFrame = uint32_t(uint64_t(parsed.scale) * avi::kMicrosPerSecond / parsed.rate);
    else
        info.microSecPerFrame = parsed.microSecPerFrame;
    return Status::ok();
}

}  // namespace kelvra::media
