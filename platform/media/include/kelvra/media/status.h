// Results of the media core: 0 for success, a negative errno-style code and a sentence for the
// user otherwise ("Cannot write 'x.avi': No space left on device").
#pragma once

#include <string>
#include <utility>

namespace kelvra::media {

struct Status {
    int code = 0;
    std::string message;

    static Status ok() { return {}; }
    static Status error(int code, std::string message) { return {code < 0 ? code : -code, std::move(message)}; }
    explicit operator bool() const { return code == 0; }
};

constexpr int kEndOfStream = -100001;  // VideoReader::readNext past the last frame
constexpr int kNotAvi = -100002;       // the file exists and is not an AVI this writer can continue
constexpr int kFormatMismatch = -100003;  // an AVI of another frame size or compression
constexpr int kDeviceLost = -100004;   // the device went away; it is reopened when it returns
constexpr int kTimedOut = -100005;
constexpr int kNoFrames = -100006;     // nothing to remove, or no removed frame to put back

}  // namespace kelvra::media
