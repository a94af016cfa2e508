// The installed capture drivers: V4L2 capture devices in order, then the built-in test source.
#include "v4l2_source.h"

#include <kelvra/media/source.h>
#include <kelvra/media/test_source.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace kelvra::media {

namespace {

constexpr const char* kDriversVariable = "KELVRA_CAPTURE_DRIVERS";

std::string trimmed(const std::string& s)
{
    const size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

DriverInfo testDriver()
{
    return {kTestDriverId, kTestDriverName, "1.0", "built-in", "built-in"};
}

}  // namespace

std::vector<DriverInfo> installedDrivers()
{
    std::vector<DriverInfo> drivers;
    const char* configured = std::getenv(kDriversVariable);
    if (!configured) {
        drivers = enumerateV4l2Devices();
        drivers.push_back(testDriver());
        return drivers;
    }
    std::istringstream list(configured);
    std::string entry;
    while (std::getline(list, entry, ',')) {
        entry = trimmed(entry);
        if (entry.empty())
            continue;
        if (entry == kTestDriverId) {
            drivers.push_back(testDriver());
            continue;
        }
        // A listed device that is not there now is still listed: opening it says why it fails.
        DriverInfo info;
        if (!describeV4l2Device(entry, info))
            info = {entry, entry, "", "", ""};
        drivers.push_back(info);
    }
    return drivers;
}

Status openSource(const DriverInfo& driver, std::unique_ptr<FrameSource>& out)
{
    if (driver.id == kTestDriverId) {
        out = std::make_unique<TestSource>();
        return Status::ok();
    }
    return openV4l2Source(driver.id, out);
}

}  // namespace kelvra::media
