// Putting a set of control values back on a device whose automatic modes grey out manual values.
#pragma once

#include <kelvra/media/source.h>

#include <cstdint>
#include <map>
#include <vector>

namespace kelvra::avicap {

// Sets each control to its value in `values`. A manual value can only be set while its automatic
// mode is off, so the values go in three rounds: integers, then switches and menus (the automatic
// modes), then the integers that the first round could not set. Controls the device refuses are
// left as they are.
void applyControlValues(media::FrameSource& source, const std::map<uint32_t, int64_t>& values);

// The order the Video Source dialog shows controls in: the device's, with each manual value
// moved right below the automatic mode that sets it.
std::vector<media::Control> dialogOrder(const std::vector<media::Control>& controls);

}  // namespace kelvra::avicap
