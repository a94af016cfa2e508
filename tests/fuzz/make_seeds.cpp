// Writes the fuzz targets' seed corpus: small recordings made by the capture file's own writer,
// one per compressor, an empty one and one cut short.
//   fuzz_make_seeds <folder>
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>

#include <cstdio>
#include <filesystem>

using namespace kelvra::media;

namespace {

constexpr uint32_t kMicroSecPerFrame = 100000;

bool record(const std::string& path, Codec codec, int width, int height, int frames)
{
    std::unique_ptr<Encoder> encoder;
    if (!Encoder::create(codec, width, height, 90, encoder))
        return false;
    AviWriterOptions options;
    options.syncToDisk = false;
    std::unique_ptr<AviWriter> writer;
    std::filesystem::remove(path);
    if (!AviWriter::open(path, encoder->format(), kMicroSecPerFrame, options, writer))
        return false;
    Frame picture{width, height, PixelFormat::RGB24, std::vector<uint8_t>(frameBytes(PixelFormat::RGB24, width, height))};
    std::vector<uint8_t> packet;
    for (int i = 0; i < frames; ++i) {
        for (size_t p = 0; p < picture.data.size(); ++p)
            picture.data[p] = uint8_t(p * 7 + i * 40);
        bool keyframe = false;
        if (!encoder->encode(picture, packet, keyframe) || !writer->append(packet.data(), packet.size(), keyframe))
            return false;
    }
    return bool(writer->close());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir);
    const bool ok = record(dir + "/mjpeg-3.avi", Codec::MotionJpeg, 32, 24, 3) &&
                    record(dir + "/raw-2.avi", Codec::Uncompressed, 16, 12, 2) &&
                    record(dir + "/ffv1-2.avi", Codec::Lossless, 16, 12, 2) &&
                    record(dir + "/empty.avi", Codec::MotionJpeg, 32, 24, 0) &&
                    record(dir + "/torn.avi", Codec::MotionJpeg, 32, 24, 2);
    if (!ok) {
        std::fprintf(stderr, "cannot write the seeds into %s\n", dir.c_str());
        return 1;
    }
    // Cut short at its end, as a power cut during a write may leave it.
    const auto torn = dir + "/torn.avi";
    std::filesystem::resize_file(torn, std::filesystem::file_size(torn) - 9);
    return 0;
}
