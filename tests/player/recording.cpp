#include "recording.h"

#include <kelvra/mciwnd/media_window.h>
#include <kelvra/media/avi_writer.h>
#include <kelvra/media/test_source.h>

#include <QDir>

#include <chrono>
#include <cstdlib>

namespace player_test {

namespace media = kelvra::media;

constexpr int kQuality = 90;
constexpr int kPictureWaitMs = 5000;

std::string makeRecording(const std::string& path, const Recording& setup)
{
    media::TestSource source;
    media::StreamFormat format = source.format();
    format.width = setup.width;
    format.height = setup.height;
    std::unique_ptr<media::Encoder> encoder;
    std::unique_ptr<media::AviWriter> writer;
    media::AviWriterOptions options;
    options.syncToDisk = false;
    media::Status st = source.setFormat(format);
    if (st)
        st = source.start();
    if (st)
        st = media::Encoder::create(setup.codec, setup.width, setup.height, kQuality, encoder);
    if (st)
        st = media::AviWriter::open(path, encoder->format(), 1000000 / setup.fps, options, writer);
    std::vector<uint8_t> bytes;
    media::Frame frame;
    for (int i = 0; st && i < setup.frames; ++i) {
        bool keyframe = true;
        st = source.grabFresh(frame, std::chrono::seconds(5));
        if (st)
            st = encoder->encode(frame, bytes, keyframe);
        if (st)
            st = writer->append(bytes.data(), bytes.size(), keyframe);
    }
    source.stop();
    if (st)
        st = writer->close();
    return st ? std::string() : st.message;
}

uint64_t shownStamp(HWND mediaWindow, int width, int height)
{
    kelvra::mciwnd::MediaControl* control = kelvra::mciwnd::mediaControl(mediaWindow);
    QWidget* widget = kelvra::platform::widgetFromHandle(mediaWindow);
    if (!control || !widget || !control->waitForPicture(kPictureWaitMs))
        return 0;
    QImage shot = widget->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(0, 0, width, height);
    media::Frame frame;
    frame.width = shot.width();
    frame.height = shot.height();
    frame.format = media::PixelFormat::BGRA;
    for (int y = 0; y < shot.height(); ++y)
        frame.data.insert(frame.data.end(), shot.constScanLine(y), shot.constScanLine(y) + size_t(shot.width()) * 4);
    media::TestStamp stamp;
    return media::readTestStamp(frame, stamp) ? stamp.sequence : 0;
}

std::string titleOf(HWND hwnd)
{
    char text[MAX_PATH] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

void saveShot(const QImage& image, const char* name)
{
    ASSERT_FALSE(image.isNull()) << name;
    if (const char* dir = std::getenv("KELVRA_SHOTS_DIR")) {
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(QDir(dir).filePath(name))) << name;
    }
}

}  // namespace player_test
