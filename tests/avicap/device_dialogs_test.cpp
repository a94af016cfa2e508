// The device dialogs: answered by scripts, with the frame timer ticking underneath on the
// virtual clock, as it does while the user has one open during a time-lapse.
#include "avicap_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

using namespace avicap_test;

namespace {

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
T* control(QDialog& dialog, uint32_t id) { return child<T>(dialog, QStringLiteral("control-%1").arg(id)); }

void press(QDialog& dialog, QDialogButtonBox::StandardButton which)
{
    child<QDialogButtonBox>(dialog, QString())->button(which)->click();
}

}  // namespace

// Controls apply while the dialog is open, ticks and all; Cancel puts them back, OK keeps them,
// Defaults restores the device's own values.
TEST_F(DeviceDialogTest, SourceControlsApplyLiveCancelPutsBackOkKeeps)
{
    startRecording(path("source.avi"));
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
    at::clearMessages(cap_);
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
    EXPECT_EQ(ids, (std::vector<UINT>{WM_CAP_DLG_VIDEOSOURCE, WM_CAP_SINGLE_FRAME, WM_CAP_SINGLE_FRAME,
                                      WM_CAP_SINGLE_FRAME}));
    KillTimer(parent_->handle(), 1);
    ASSERT_TRUE(close());
    EXPECT_EQ(readBack(path("source.avi")).stamps, seq(1, 3));

    const media::Control contrast = controlOf(cap_, media::kTestControlContrast);
    const int64_t changed = contrast.defaultValue == contrast.maximum ? contrast.minimum : contrast.maximum;
    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        auto* slider = control<QSlider>(dialog, media::kTestControlContrast);
        slider->setValue(int(changed));
        child<QPushButton>(dialog, "defaults")->click();
        EXPECT_EQ(slider->value(), int(contrast.defaultValue));
        EXPECT_EQ(controlOf(cap_, media::kTestControlContrast).value, contrast.defaultValue);
        slider->setValue(int(changed));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOSOURCE));
    EXPECT_EQ(controlOf(cap_, media::kTestControlContrast).value, changed);
}

// While a file is open only a format that fits it is taken (another rate, not another size) and
// the dialog stays open saying why; with the file closed a new format restarts the stream.
TEST_F(DeviceDialogTest, FormatFitsTheOpenFileOrRestartsTheStream)
{
    startRecording(path("open.avi"));
    pt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {
        EXPECT_EQ(info.caption, "Video Format");
        select(dialog, "size", QStringLiteral("320 x 240"));
        press(dialog, QDialogButtonBox::Ok);
        EXPECT_TRUE(dialog.isVisible());
        // The message names the file's frames and compressor, wraps, and the dialog grows to show
        // it whole with every field at its full height (KELVRA_SHOTS_DIR keeps a picture).
        QLabel* message = child<QLabel>(dialog, "message");
        EXPECT_TRUE(message->text().contains(QStringLiteral("records 640x480, Motion JPEG;"))) << message->text().toStdString();
        EXPECT_GE(message->height(), message->heightForWidth(message->width()));
        EXPECT_LE(message->geometry().right(), dialog.width());
        for (QComboBox* combo : dialog.findChildren<QComboBox*>())
            EXPECT_GE(combo->height(), combo->sizeHint().height()) << combo->objectName().toStdString();
        if (const char* shots = std::getenv("KELVRA_SHOTS_DIR")) {
            EXPECT_TRUE(QDir().mkpath(shots) && dialog.grab().save(QDir(shots).filePath("video-format-refused.png")));
        }
        pt::advanceClock(2000);
        select(dialog, "size", QStringLiteral("640 x 480"));
        select(dialog, "rate", QStringLiteral("10 fps"));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
    media::StreamFormat f = formatOf(cap_);
    EXPECT_EQ(std::pair(f.width, f.rate.numerator / f.rate.denominator), std::pair(640, 10u));
    pt::advanceClock(1000);
    KillTimer(parent_->handle(), 1);
    ASSERT_TRUE(close());
    const ReadBack back = readBack(path("open.avi"));
    EXPECT_EQ(back.width, 640);
    EXPECT_EQ(back.stamps, seq(1, 3));

    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        select(dialog, "format", QStringLiteral("RGB 24-bit"));
        select(dialog, "size", QStringLiteral("320 x 240"));
        select(dialog, "rate", QStringLiteral("15 fps"));
        press(dialog, QDialogButtonBox::Ok);
    });
    ASSERT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
    f = formatOf(cap_);
    EXPECT_EQ(std::tuple(f.format, f.width, f.height, f.rate.numerator / f.rate.denominator),
              std::tuple(media::PixelFormat::RGB24, 320, 240, 15u));
    EXPECT_EQ(at::previewIntervalMs(cap_), 66);
    const ReadBack small = record("small.avi", 2);
    EXPECT_EQ(small.width, 320);
    EXPECT_EQ(small.stamps, seq(4, 5));  // the source counts on across files
}
