// Prints the test source's capture numbers found in each frame of an AVI, one per line, and
// "frames: N" from FFmpeg's demuxer; used by the end-to-end runs.
#include <kelvra/media/test_source.h>
#include <kelvra/media/video_reader.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s file.avi\n", argv[0]);
        return 2;
    }
    std::unique_ptr<kelvra::media::VideoReader> reader;
    kelvra::media::Status status = kelvra::media::VideoReader::open(argv[1], reader);
    if (!status) {
        std::fprintf(stderr, "%s\n", status.message.c_str());
        return 1;
    }
    kelvra::media::Frame frame;
    int frames = 0;
    while (reader->readNext(frame)) {
        uint64_t sequence = 0, timeMs = 0;
        ++frames;
        if (kelvra::media::readTestStamp(frame, sequence, timeMs))
            std::printf("stamp %llu\n", (unsigned long long)sequence);
        else
            std::printf("stamp none\n");
    }
    std::printf("frames: %d\n", frames);
    return 0;
}
