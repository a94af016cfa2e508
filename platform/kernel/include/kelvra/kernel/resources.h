// The program module's resources: files compiled into the executable (the .rc script, the
// headers it includes, the icon). The dialog manager finds templates through them.
#pragma once

#include <cstddef>
#include <string>

namespace kelvra::platform {

struct ResourceFile {
    const char* name;            // base name, as the .rc script names or includes it
    const unsigned char* data;   // followed by a NUL byte, so text files read as C strings
    size_t size;
};

// Called once by the generated resource table at start-up; returns true.
bool registerModuleResources(const ResourceFile* files, size_t count);
const ResourceFile* findResourceFile(const std::string& name);  // nullptr when absent

}  // namespace kelvra::platform
