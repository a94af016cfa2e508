// The file the capture window records into, kept as the platform's own state so that other
// parts of it can follow the user there: the file chooser, given no folder, starts in its folder,
// as Windows' chooser starts where the user last worked.
#pragma once

#include <string>

namespace kelvra::platform {

void setCurrentCaptureFile(const std::string& path);
std::string currentCaptureFile();  // empty until a capture window names one

}  // namespace kelvra::platform
