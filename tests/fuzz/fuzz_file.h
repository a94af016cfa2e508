// Shared by the fuzz targets: one scratch file per process, in memory where the system has
// /dev/shm, so an input costs no disk writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace kelvra::fuzz {

inline const std::string& scratchPath()
{
    static const std::string path = [] {
        std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = dir + "/kelvra-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return pattern + "/input.avi";
    }();
    return path;
}

inline void writeScratch(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        std::abort();
}

inline std::vector<uint8_t> readScratch()
{
    std::ifstream in(scratchPath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kelvra::fuzz
