// The capture window over real or virtual V4L2 cameras (vivid, v4l2loopback): runs where the
// machine has one, skips where it has none.
#include "avicap_support.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

using namespace avicap_test;
namespace at = kelvra::avicap::testing;
namespace pt = kelvra::platform::testing;

namespace {

std::vector<kelvra::media::DriverInfo> v4l2Drivers()
{
    unsetenv("KELVRA_CAPTURE_DRIVERS");
    std::vector<kelvra::media::DriverInfo> found;
    for (const kelvra::media::DriverInfo& d : kelvra::media::installedDrivers())
        if (d.id.rfind("/dev/", 0) == 0)
            found.push_back(d);
    return found;
}

}  // namespace

TEST_F(CaptureTest, EveryV4l2DeviceRecordsAValidFile)
{
    const std::vector<kelvra::media::DriverInfo> devices = v4l2Drivers();
    if (devices.empty())
        GTEST_SKIP() << "no V4L2 capture device on this machine";
    createCaptureWindow();
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(devices[i].id);
        if (!connect(i)) {
            ADD_FAILURE() << "cannot connect (busy?)";
            continue;
        }
        send(cap_, WM_CAP_SET_PREVIEW, 1);
        pt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo&) { dialog.reject(); });
        EXPECT_TRUE(send(cap_, WM_CAP_DLG_VIDEOSOURCE));
        pt::scriptModal([](QDialog& dialog, const kelvra::platform::ModalInfo&) { dialog.reject(); });
        EXPECT_TRUE(send(cap_, WM_CAP_DLG_VIDEOFORMAT));
        const std::string file = path("v4l2-" + std::to_string(i) + ".avi");
        ASSERT_TRUE(setCaptureFile(cap_, file));
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_OPEN)) << at::lastError(cap_);
        EXPECT_EQ(grab(3), 3) << at::lastError(cap_);
        ASSERT_TRUE(send(cap_, WM_CAP_SINGLE_FRAME_CLOSE));
        const ReadBack back = readBack(file, false);
        ASSERT_TRUE(back.opened) << back.error;
        EXPECT_EQ(back.packets, 3);
        EXPECT_TRUE(send(cap_, WM_CAP_DRIVER_DISCONNECT));
    }
}
