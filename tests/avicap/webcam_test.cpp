// The capture window on the simulated USB webcam (linked into this program): the Video Source
// dialog shows each control by its kind and lets a user lock exposure and white balance, the
// Video Format dialog lists the camera's sizes and rates, and the camera's JPEGs go into the file
// as they came. With KELVRA_SHOTS_DIR set, both dialogs are saved there as pictures.
#include "avicap_support.h"

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QPushButton>
#include <QSlider>

using namespace avicap_test;

namespace {

class WebcamTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        setenv("KELVRA_CAPTURE_DRIVERS", "/dev/video0", 1);
        createCaptureWindow();
        ASSERT_TRUE(connect());
        send(cap_, WM_CAP_SET_PREVIEWRATE, 5);
        send(cap_, WM_CAP_SET_PREVIEW, 30);
    }

    int64_t value(uint32_t id)
    {
        int64_t v = -1;
        at::withSource(cap_, [&](media::FrameSource& s) {
            for (const media::Control& c : s.controls())
                if (c.id == id)
                    v = c.value;
        });
        return v;
    }

    void openSourceDialog(const std::function<void(QDialog&)>& script)
    {
        pt::scriptModal([&](QDialog& dialog, const ModalInfo&) { script(dialog); });
        EXPECT_TRUE(send(cap_, WM_CAP_DLG_VIDEOSOURCE));
    }
};

template <typename T>
T* control(QDialog& dialog, uint32_t id)
{
    return child<T>(dialog, QStringLiteral("control-%1").arg(id));
}

void press(QDialog& dialog, QDialogButtonBox::StandardButton which)
{
    child<QDialogButtonBox>(dialog, QString())->button(which)->click();
}

void chooseMenuItem(QDialog& dialog, uint32_t id, const QString& text)
{
    auto* combo = control<QComboBox>(dialog, id);
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QStringList items(QComboBox* combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

void saveShot(QDialog& dialog, const char* name)
{
    const char* shots = std::getenv("KELVRA_SHOTS_DIR");
    EXPECT_TRUE(!shots || (QDir().mkpath(shots) && dialog.grab().save(QDir(shots).filePath(name))));
}

}  // namespace

// Menus are choices without the modes the camera lacks, switches are check boxes, manual values
// are greyed while their automatic mode is on and come alive when it is turned off. OK keeps the
// lock; Cancel on a later visit puts it back as it was.
TEST_F(WebcamTest, SourceDialogLocksExposureAndWhiteBalance)
{
    openSourceDialog([&](QDialog& dialog) {
        EXPECT_EQ(items(control<QComboBox>(dialog, V4L2_CID_EXPOSURE_AUTO)),
                  QStringList({"Manual Mode", "Aperture Priority Mode"}));
        EXPECT_EQ(items(control<QComboBox>(dialog, V4L2_CID_POWER_LINE_FREQUENCY)),
                  QStringList({"Disabled", "50 Hz", "60 Hz"}));
        EXPECT_TRUE(control<QCheckBox>(dialog, V4L2_CID_AUTO_WHITE_BALANCE)->isChecked());
        EXPECT_TRUE(control<QCheckBox>(dialog, V4L2_CID_FOCUS_AUTO)->isChecked());
        EXPECT_TRUE(control<QSlider>(dialog, V4L2_CID_BRIGHTNESS)->isEnabled());
        for (uint32_t id : {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_FOCUS_ABSOLUTE})
            EXPECT_FALSE(control<QSlider>(dialog, id)->isEnabled()) << std::hex << id;
        EXPECT_EQ(dialog.findChild<QWidget*>(QStringLiteral("control-%1").arg(V4L2_CID_CAMERA_CLASS)), nullptr);
        // Each manual value sits right below its automatic mode, greyed with its name.
        auto* form = dialog.findChild<QFormLayout*>();
        ASSERT_NE(form, nullptr);
        auto rowOf = [&](uint32_t id) {
            int row = -1;
            QWidget* editor = control<QWidget>(dialog, id);
            for (int r = 0; r < form->rowCount(); ++r)
                if (QLayoutItem* item = form->itemAt(r, QFormLayout::FieldRole))
                    if (item->widget() && (item->widget() == editor || item->widget()->isAncestorOf(editor)))
                        row = r;
            return row;
        };
        for (auto [automatic, manual] :
             {std::pair{V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_WHITE_BALANCE_TEMPERATURE},
              {V4L2_CID_EXPOSURE_AUTO, V4L2_CID_EXPOSURE_ABSOLUTE}, {V4L2_CID_FOCUS_AUTO, V4L2_CID_FOCUS_ABSOLUTE}}) {
            EXPECT_EQ(rowOf(manual), rowOf(automatic) + 1) << std::hex << manual;
            EXPECT_FALSE(form->itemAt(rowOf(manual), QFormLayout::LabelRole)->widget()->isEnabled());
        }
        saveShot(dialog, "video-source-1080p.png");

        control<QCheckBox>(dialog, V4L2_CID_AUTO_WHITE_BALANCE)->click();
        auto* temperature = control<QSlider>(dialog, V4L2_CID_WHITE_BALANCE_TEMPERATURE);
        ASSERT_TRUE(temperature->isEnabled());
        temperature->setValue(5600);
        chooseMenuItem(dialog, V4L2_CID_EXPOSURE_AUTO, "Manual Mode");
        auto* exposure = control<QSlider>(dialog, V4L2_CID_EXPOSURE_ABSOLUTE);
        ASSERT_TRUE(exposure->isEnabled());
        exposure->setValue(40);
        saveShot(dialog, "video-source-1080p-locked.png");
        press(dialog, QDialogButtonBox::Ok);
    });
    const std::vector<std::pair<uint32_t, int64_t>> locked = {{V4L2_CID_AUTO_WHITE_BALANCE, 0},
                                                              {V4L2_CID_WHITE_BALANCE_TEMPERATURE, 5600},
                                                              {V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL},
                                                              {V4L2_CID_EXPOSURE_ABSOLUTE, 40}};
    for (auto [id, want] : locked)
        EXPECT_EQ(value(id), want) << std::hex << id;

    openSourceDialog([&](QDialog& dialog) {
        EXPECT_TRUE(control<QSlider>(dialog, V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());
        control<QSlider>(dialog, V4L2_CID_EXPOSURE_ABSOLUTE)->setValue(900);
        chooseMenuItem(dialog, V4L2_CID_EXPOSURE_AUTO, "Aperture Priority Mode");
        EXPECT_FALSE(control<QSlider>(dialog, V4L2_CID_EXPOSURE_ABSOLUTE)->isEnabled());
        control<QSlider>(dialog, V4L2_CID_WHITE_BALANCE_TEMPERATURE)->setValue(3000);
        control<QCheckBox>(dialog, V4L2_CID_AUTO_WHITE_BALANCE)->click();
        press(dialog, QDialogButtonBox::Cancel);
    });
    for (auto [id, want] : locked)  // the manual values too, though their modes greyed them
        EXPECT_EQ(value(id), want) << std::hex << id;
}

// Each format with its own sizes, each size with its own rates, as the camera reports them;
// the choice is streamed, and its JPEGs are recorded without a second compression.
TEST_F(WebcamTest, FormatDialogListsTheCameraAndMjpegIsRecordedAsItCame)
{
    pt::scriptModal([&](QDialog& dialog, const ModalInfo&) {
        auto* format = child<QComboBox>(dialog, QStringLiteral("format"));
        auto* size = child<QComboBox>(dialog, QStringLiteral("size"));
        auto* rate = child<QComboBox>(dialog, QStringLiteral("rate"));
        EXPECT_EQ(items(format), QStringList({"YUYV 4:2:2", "Motion-JPEG"}));
        EXPECT_EQ(items(size), QStringList({"640 x 480", "1280 x 720"}));
        size->setCurrentIndex(1);
        EXPECT_EQ(items(rate), QStringList({"10 fps", "5 fps"}));
        format->setCurrentIndex(1);
        EXPECT_EQ(items(size), QStringList({"1920 x 1080", "1280 x 720"}));
        EXPECT_EQ(items(rate), QStringList({"30 fps", "25 fps", "20 fps", "15 fps", "10 fps", "5 fps"}));
        size->setCurrentIndex(0);
        saveShot(dialog, "video-format-1080p.png");
        size->setCurrentIndex(1);
        press(dialog, QDialogButtonBox::Ok);
    });
    EXPECT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
    media::StreamFormat f;
    at::withSource(cap_, [&](media::FrameSource& s) { f = s.format(); });
    EXPECT_EQ(f.format, media::PixelFormat::MJPEG);
    EXPECT_EQ(f.width, 1280);
    EXPECT_EQ(f.rate.numerator / f.rate.denominator, 30u);

    const std::string file = path("webcam.avi");
    ASSERT_TRUE(setCaptureFile(cap_, file));
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN));
    EXPECT_EQ(grab(3), 3);
    ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
    const ReadBack back = readBack(file, false);
    EXPECT_EQ(back.codec, "mjpeg");
    EXPECT_EQ(back.width, 1280);
    EXPECT_EQ(back.packets, 3);
    EXPECT_EQ(contents(file).count("kelvra-uvc-sim frame="), 3);  // the camera's own JPEGs
}
