// What a capture driver keeps for each device across runs, as a Windows capture driver keeps its
// own: the video format, the compressor, the camera's control values and the capture hours. One
// file in the user's configuration folder, one entry per device, matched by its name, driver and
// port. The program itself keeps nothing.
#pragma once

#include "capture_file.h"
#include "capture_hours.h"

#include <kelvra/media/source.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelvra::avicap {

struct DeviceSettings {
    std::optional<media::StreamFormat> format;
    std::optional<Compression> compression;
    std::map<uint32_t, int64_t> controls;
    CaptureHours hours;
};

// A file of what the platform keeps, in the user's configuration folder: ~/.config/kelvra/NAME.
std::string platformConfigPath(const std::string& fileName);

class DeviceSettingsStore {
public:
    // The file: kelvra/devices.json in the user's configuration folder.
    static std::string path();

    // The entry for `driver`, or defaults; `problems` gets a sentence for a file that cannot be read.
    static DeviceSettings load(const media::DriverInfo& driver, std::vector<std::string>& problems);
    // Replaces the entry for `driver`, keeping the others; a damaged file is started anew.
    static bool save(const media::DriverInfo& driver, const DeviceSettings& settings);
};

// Drops from `settings` what `source` no longer offers and applies the rest to it; one sentence per
// dropped setting in `dropped`.
void applyDeviceSettings(media::FrameSource& source, DeviceSettings& settings, std::vector<std::string>& dropped);

}  // namespace kelvra::avicap
