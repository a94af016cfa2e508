// The quick reading of camera JPEGs on any bytes: it must answer every input, never reading
// outside it or its scratch space, and in time bounded by the input's length.
#include "jpeg_check.h"

using namespace kelvra::media;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> scratch;
    // The input in a buffer of its own size, so a read past its end is seen.
    const std::vector<uint8_t> picture(data, data + size);
    scanIsWhole(picture.data(), picture.size(), scratch);
    return 0;
}
