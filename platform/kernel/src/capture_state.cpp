#include <kelvra/kernel/capture_state.h>

namespace kelvra::platform {

namespace {
std::string& captureFile()
{
    static std::string path;  // one thread: the program's
    return path;
}
}  // namespace

void setCurrentCaptureFile(const std::string& path)
{
    captureFile() = path;
}

std::string currentCaptureFile()
{
    return captureFile();
}

}  // namespace kelvra::platform
