// Test files made with FFmpeg's own AVI muxer from our compressors and the test source.
#pragma once

#include <kelvra/media/encoder.h>

#include <string>

// Writes `frames` test-source pictures (capture numbers 1..frames) at fps = rateNum/rateDen.
// Uncompressed frames are written bottom-up with a positive strf height, as capture files have them.
bool writeTestAvi(const std::string& path, kelvra::media::Codec codec, int width, int height, int rateNum,
                  int rateDen, int frames, int quality = 75);
