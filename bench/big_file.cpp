// A recording past 4 GiB: 5,000 uncompressed 640x480 frames (about 4.6 GB, one RIFF and
// several OpenDML segments), counted back by ffprobe, then reopened and continued by three
// frames. It writes that much only when given a path: bench_big_file /some/disk/big.avi
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/encoder.h>
#include <kelvra/media/test_source.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

using namespace kelvra::media;

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kFrames = 5000;
constexpr int kMore = 3;

bool appendFrames(const std::string& path, int count)
{
    TestSource source;
    std::unique_ptr<Encoder> encoder;
    std::unique_ptr<AviWriter> writer;
    AviWriterOptions options;
    options.syncToDisk = false;  // a kill loses nothing either way; this run measures size, not disks
    Status st = Encoder::create(Codec::Uncompressed, kWidth, kHeight, 0, encoder);
    if (st)
        st = AviWriter::open(path, encoder->format(), 66666, options, writer);
    Frame frame;
    std::vector<uint8_t> packet;
    for (int i = 0; st && i < count; ++i) {
        bool keyframe = true;
        st = source.grabFresh(frame, std::chrono::milliseconds(1000));
        if (st)
            st = encoder->encode(frame, packet, keyframe);
        if (st)
            st = writer->append(packet.data(), packet.size(), keyframe);
    }
    if (st)
        st = writer->close();
    if (!st)
        std::fprintf(stderr, "%s\n", st.message.c_str());
    return bool(st);
}

long countFrames(const std::string& path)
{
    std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                          "-of csv=p=0 '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    long frames = -1;
    if (pipe) {
        if (std::fscanf(pipe, "%ld", &frames) != 1)
            frames = -1;
        pclose(pipe);
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("big_file: skipped (it writes 4.6 GB; run: bench_big_file /path/big.avi)\n");
        return 0;
    }
    const std::string path = argv[1];
    std::filesystem::remove(path);
    if (!appendFrames(path, kFrames))
        return 1;
    const double gib = std::filesystem::file_size(path) / double(1ull << 30);
    const long frames = countFrames(path);
    if (!appendFrames(path, kMore))
        return 1;
    const long continued = countFrames(path);
    std::filesystem::remove(path);
    std::printf("big_file_gib: %.2f GiB\n", gib);
    std::printf("big_file_frames_read: %ld frames\n", frames);
    std::printf("big_file_frames_after_reopen: %ld frames\n", continued);
    return frames == kFrames && continued == kFrames + kMore ? 0 : 1;
}
