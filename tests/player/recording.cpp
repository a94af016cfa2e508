#include "recording.h"

#include <kelvra/media/avi_writer.h>
#include <kelvra/media/test_source.h>
#include <kelvra/platform/window.h>

#include <chrono>
#include <memory>

namespace player_test {

namespace media = kelvra::media;

std::string makeRecording(const std::string& path, const Recording& setup)
{
    media::TestSource source;
    media::StreamFormat format = source.format();
    format.width = setup.width;
    format.height = setup.height;
    if (media::Status st = source.setFormat(format); !st)
        return st.message;
    if (media::Status st = source.start(); !st)
        return st.message;
    std::unique_ptr<media::Encoder> encoder;
    if (media::Status st = media::Encoder::create(setup.codec, setup.width, setup.height, 90, encoder); !st)
        return st.message;
    media::AviWriterOptions options;
    options.syncToDisk = false;
    std::unique_ptr<media::AviWriter> writer;
    if (media::Status st = media::AviWriter::open(path, encoder->format(), 1000000 / setup.fps, options, writer); !st)
        return st.message;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < setup.frames; ++i) {
        media::Frame frame;
        bool keyframe = true;
        if (media::Status st = source.grabFresh(frame, std::chrono::seconds(5)); !st)
            return st.message;
        if (media::Status st = encoder->encode(frame, bytes, keyframe); !st)
            return st.message;
        if (media::Status st = writer->append(bytes.data(), bytes.size(), keyframe); !st)
            return st.message;
    }
    source.stop();
    media::Status st = writer->close();
    return st ? std::string() : st.message;
}

uint64_t stampIn(const QImage& picture, int width, int height)
{
    QImage shot = picture.convertToFormat(QImage::Format_RGB32).copy(0, 0, width, height);
    media::Frame frame;
    frame.width = shot.width();
    frame.height = shot.height();
    frame.format = media::PixelFormat::BGRA;
    for (int y = 0; y < shot.height(); ++y) {
        const uint8_t* row = shot.constScanLine(y);
        frame.data.insert(frame.data.end(), row, row + size_t(shot.width()) * 4);
    }
    media::TestStamp stamp;
    return media::readTestStamp(frame, stamp) ? stamp.sequence : 0;
}

uint64_t stampOnScreen(HWND mediaWindow, int width, int height)
{
    QWidget* widget = kelvra::platform::widgetFromHandle(mediaWindow);
    return widget ? stampIn(widget->grab().toImage(), width, height) : 0;
}

}  // namespace player_test
