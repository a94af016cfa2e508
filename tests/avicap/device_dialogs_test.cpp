// The device dialogs: answered by scripts, with the frame timer ticking underneath on the
// virtual clock, as it does while the user has one open during a time-lapse.
#include "avicap_support.h"

#include <kelvra/media/encoder.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <cstdlib>

using namespace avicap_test;
using kelvra::platform::ModalInfo;

namespace {

HWND timerCapWindow = nullptr;

// The program's frame step: one SINGLE_FRAME per tick.
void CALLBACK frameTick(HWND, UINT, UINT_PTR, DWORD)
{
    send(timerCapWindow, WM_CAP_SINGLE_FRAME);
}

media::Control controlOf(HWND cap, uint32_t id)
{
    media::Control found;
    at::withSource(cap, [&](media::FrameSource& s) {
        for (const media::Control& c : s.controls())
            if (c.id == id)
                found = c;
    });
    return found;
}

media::StreamFormat formatOf(HWND cap)
{
    media::StreamFormat f;
    at::withSource(cap, [&](media::FrameSource& s) { f = s.format(); });
    return f;
}

template <typename T>
T* child(QDialog& dialog, const QString& name)
{
    T* w = dialog.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
}

template <typename T>
T* control(QDialog& dialog, uint32_t id)
{
    return child<T>(dialog, QStringLiteral("control-%1").arg(id));
}

void press(QDialog& dialog, QDialogButtonBox::StandardButton which)
{
    QDialogButtonBox* box = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    box->button(which)->click();
}

void select(QDialog& dialog, const char* combo, const QString& text)
{
    QComboBox* box = child<QComboBox>(dialog, QString::fromLatin1(combo));
    const int i = box->findText(text);
    EXPECT_GE(i, 0) << text.toStdString();
    box->setCurrentIndex(i);
}

QString codecName(media::Codec which)
{
    for (const media::CodecInfo& c : media::availableCodecs())
        if (c.codec == which)
            return QString::fromStdString(c.name);
    ADD_FAILURE() << "no such compressor";
    return {};
}

// Keeps the picture when KELVRA_SHOTS_DIR names a folder.
void save(QWidget& window, const char* name)
{
    QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull());
    if (const char* dir = std::getenv("KELVRA_SHOTS_DIR")) {
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(QDir(dir).filePath(name)));
    }
}

}  // namespace

class DeviceDialogTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        createCaptureWindow();
        ASSERT_TRUE(connect());
        send(cap_, WM_CAP_SET_PREVIEW, 1);
        timerCapWindow = cap_;
    }
    // REC: open the file and start a one-second frame timer on the parent.
    void startRecording(const std::string& file)
    {
        ASSERT_TRUE(setCaptureFile(cap_, file));
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
        ASSERT_NE(SetTimer(parent_->handle(), 1, 1000, frameTick), 0u);
    }
    void stopRecording()
    {
        KillTimer(parent_->handle(), 1);
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    }
};

// Controls apply while the dialog is open, ticks and all; Cancel puts them back, OK keeps them,
// Defaults restores the device's own values.
TEST_F(DeviceDialogTest, SourceControlsApplyLiveCancelPutsBackOkKeeps)
{
    const std::string file = path("source.avi");
    startRecording(file);
    const media::Control brightness = controlOf(cap_, media::kTestControlBrightness);
    const int64_t target = brightness.value == brightness.maximum ? brightness.minimum : brightness.maximum;
    pt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.kind, kelvra::platform::ModalKind::DeviceDialog);
        EXPECT_EQ(info.caption, "Video Source");
        control<QSlider>(dialog, media::kTestControlBrightness)->setValue(int(target));
        EXPECT_EQ(controlOf(cap_, media::kTestControlBrightness).value, target);  // live
        control<QCheckBox>(dialog, media::kTestControlMirror)->setChecked(true);
        EXPECT_EQ(controlOf(cap_, media::kTestControlMirror).value, 1);
        auto* pattern = control<QComboBox>(dialog, media::kTestControlPattern);
        ASSERT_GE(pattern->count(), 3);
        pattern->setCurrentIndex(2);
        emit pattern->activated(2);
        EXPECT_EQ(controlOf(cap_, media::kTestControlPattern).value, media::kPatternCheckerboard);
        pt::advanceClock(3000);  // three frame steps while the dialog is open
        press(dialog, QDialogButtonBox::Cancel);
    });
    EXPECT_TRUE(send(cap_, WM_CAP_DLG_VIDEOSOURCE));
    EXPECT_EQ(controlOf(cap_, media::kTestControlBrightness).value, brightness.value);
    EXPECT_EQ(controlOf(cap_, media::kTestControlMirror).value, 0);
    EXPECT_EQ(controlOf(cap_, media::kTestControlPattern).value, media::kPatternColorBars);

    // The ticks arrived inside the dialog's message and went into the file.
    std::vector<UINT> ids;
    for (const at::CapMessage& m : at::messages(cap_)) {
        ids.push_back(m.msg);
        EXPECT_TRUE(m.result) << m.msg - WM_USER;
    }
    EXPECT_EQ(ids, (std::vector<UINT>{WM_CAP_DRIVER_CONNECT, WM_CAP_SET_PREVIEW, WM_CAP_FILE_SET_CAPTURE_FILEA,
                                      WM_CAP_SINGLE_FRAME_OPEN, WM_CAP_DLG_VIDEOSOURCE, WM_CAP_SINGLE_FRAME,
                                      WM_CAP_SINGLE_FRAME, WM_CAP_SINGLE_FRAME}));
    stopRecording();
    EXPECT_EQ(readBack(file).stamps, oneTo(3));

    const media::Control contrast = controlOf(cap_, media::kTestControlContrast);
    const int64_t changed = contrast.defaultValue == contrast.maximum ? contrast.minimum : contrast.maximum;
    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        control<QSlider>(dialog, media::kTestControlContrast)->setValue(int(changed));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOSOURCE));
    EXPECT_EQ(controlOf(cap_, media::kTestControlContrast).value, changed);
    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        child<QPushButton>(dialog, QStringLiteral("defaults"))->click();
        EXPECT_EQ(control<QSlider>(dialog, media::kTestControlContrast)->value(), int(contrast.defaultValue));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOSOURCE));
    EXPECT_EQ(controlOf(cap_, media::kTestControlContrast).value, contrast.defaultValue);
}

// While a file is open only a format that fits it is taken (another rate, not another size) and
// the dialog stays open saying why; with the file closed a new format restarts the stream.
TEST_F(DeviceDialogTest, FormatFitsTheOpenFileOrRestartsTheStream)
{
    const std::string file = path("open.avi");
    startRecording(file);
    pt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.caption, "Video Format");
        select(dialog, "size", QStringLiteral("320 x 240"));
        press(dialog, QDialogButtonBox::Ok);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(child<QLabel>(dialog, QStringLiteral("message"))->text().contains(QStringLiteral("640x480")));
        pt::advanceClock(2000);
        select(dialog, "size", QStringLiteral("640 x 480"));
        select(dialog, "rate", QStringLiteral("10 fps"));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
    EXPECT_EQ(formatOf(cap_).width, 640);
    EXPECT_EQ(formatOf(cap_).rate.numerator / formatOf(cap_).rate.denominator, 10u);
    pt::advanceClock(1000);
    stopRecording();
    const ReadBack back = readBack(file);
    EXPECT_EQ(back.width, 640);
    EXPECT_EQ(back.stamps, oneTo(3));

    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        select(dialog, "format", QStringLiteral("RGB 24-bit"));
        select(dialog, "size", QStringLiteral("320 x 240"));
        select(dialog, "rate", QStringLiteral("15 fps"));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
    const media::StreamFormat f = formatOf(cap_);
    EXPECT_EQ(f.format, media::PixelFormat::RGB24);
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
    EXPECT_EQ(f.rate.numerator / f.rate.denominator, 15u);
    EXPECT_EQ(at::previewIntervalMs(cap_), 66);
    const ReadBack small = record("small.avi", 2);
    EXPECT_EQ(small.width, 320);
    EXPECT_EQ(small.stamps, (std::vector<uint64_t>{4, 5}));  // the source counts on across files
}

// Cancel changes nothing; the choice made applies to the next file.
TEST_F(DeviceDialogTest, CompressionChoiceAppliesToTheNextFile)
{
    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        child<QComboBox>(dialog, QStringLiteral("codec"))->setCurrentIndex(0);
        child<QSlider>(dialog, QStringLiteral("quality"))->setValue(5);
        press(dialog, QDialogButtonBox::Cancel);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    EXPECT_EQ(record("still-mjpeg.avi", 1).codec, "mjpeg");

    pt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.caption, "Video Compression");
        auto* quality = child<QSlider>(dialog, QStringLiteral("quality"));
        EXPECT_EQ(child<QComboBox>(dialog, QStringLiteral("codec"))->currentText(), codecName(media::Codec::MotionJpeg));
        EXPECT_TRUE(quality->isEnabled());
        select(dialog, "codec", codecName(media::Codec::Uncompressed));
        EXPECT_FALSE(quality->isEnabled());  // full frames have no quality
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOCOMPRESSION));
    const ReadBack back = record("raw.avi", 2);
    EXPECT_EQ(back.codec, "rawvideo");
    EXPECT_EQ(back.stamps, (std::vector<uint64_t>{2, 3}));
}

// Pictures of what the user sees (KELVRA_SHOTS_DIR=folder to keep them): the three dialogs,
// and the capture window reporting a problem in its banner.
TEST_F(DeviceDialogTest, Pictures)
{
    const std::pair<UINT, const char*> dialogs[] = {{WM_CAP_DLG_VIDEOSOURCE, "avicap-video-source.png"},
                                                    {WM_CAP_DLG_VIDEOFORMAT, "avicap-video-format.png"},
                                                    {WM_CAP_DLG_VIDEOCOMPRESSION, "avicap-video-compression.png"}};
    for (const auto& d : dialogs) {
        pt::scriptModal([name = d.second](QDialog& dialog, const ModalInfo&) {
            EXPECT_GT(dialog.width(), 150);
            save(dialog, name);
            dialog.reject();
        });
        ASSERT_TRUE(send(cap_, d.first));
    }
    ASSERT_TRUE(setCaptureFile(cap_, path("missing/folder/x.avi")));
    EXPECT_FALSE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
    ASSERT_TRUE(QTest::qWaitFor([&] { return at::picturesShown(cap_) >= 2; }, 5000));
    QWidget* window = kelvra::platform::widgetFromHandle(cap_);
    const QImage shot = window->grab().toImage();
    // The banner: dark red across the bottom of the picture.
    const QColor bottom = shot.pixelColor(shot.width() / 2, shot.height() - 2);
    EXPECT_GT(bottom.red(), 2 * bottom.green());
    save(*window, "avicap-banner.png");
    save(*parent_, "avicap-in-parent.png");
}

// The window can go while one of its dialogs is open (its parent closed by a tick, say): the
// dialog goes with it and nothing is touched afterwards.
TEST_F(DeviceDialogTest, WindowDestroyedUnderItsOwnDialog)
{
    const std::string file = path("gone.avi");
    startRecording(file);
    EXPECT_EQ(grab(1), 1);
    for (UINT msg : {WM_CAP_DLG_VIDEOSOURCE, WM_CAP_DLG_VIDEOFORMAT, WM_CAP_DLG_VIDEOCOMPRESSION}) {
        SCOPED_TRACE(msg - WM_USER);
        if (!IsWindow(cap_)) {
            createCaptureWindow();
            ASSERT_TRUE(connect());
        }
        HWND cap = cap_;
        pt::scriptModal([cap](QDialog&, const ModalInfo&) { EXPECT_TRUE(DestroyWindow(cap)); });
        send(cap, msg);
        EXPECT_FALSE(IsWindow(cap));
    }
    KillTimer(parent_->handle(), 1);
    EXPECT_EQ(readBack(file).stamps, oneTo(1));
}
