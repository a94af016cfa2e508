// V4L2 cameras as frame sources.
#pragma once

#include <kelvra/media/source.h>

#include <memory>
#include <string>
#include <vector>

namespace kelvra::media {

// /dev/video* nodes that capture video (metadata and output nodes skipped), by number.
std::vector<DriverInfo> enumerateV4l2Devices();
// Name and version of one node; false when it is missing or does not capture video.
bool describeV4l2Device(const std::string& path, DriverInfo& info);
// Opens the device; a busy, missing or unsuitable device fails with a sentence saying so.
Status openV4l2Source(const std::string& path, std::unique_ptr<FrameSource>& out);

}  // namespace kelvra::media
