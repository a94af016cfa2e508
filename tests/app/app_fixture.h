// A main window made from the real template and procedure, on the virtual clock, with every
// modal window answered by script and the capture window on the built-in test source.
#pragma once

#include "kelvra.h"

#include <kelvra/avicap/testing.h>
#include <kelvra/user/testing.h>
#include <kelvra/user/window.h>

#include <gtest/gtest.h>

#include <QDialog>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kt = kelvra::platform::testing;

class MainWindowTest : public ::testing::Test {
protected:
    // drivers: the capture driver list for this window ("test", "" for none, a device path).
    void open(const char* drivers = "test")
    {
        setenv("KELVRA_CAPTURE_DRIVERS", drivers, 1);
        dir_ = std::filesystem::temp_directory_path() /
               ("kelvra-app-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        setenv("XDG_VIDEOS_DIR", dir_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);  // the devices' kept settings start afresh
        hInst = GetModuleHandleA(nullptr);
        fcount = 0;
        kelvra::avicap::testing::recordMessages(true);
        hwnd = CreateDialogParamA(hInst, MAKEINTRESOURCE(IDD_MAIN), nullptr, DialogFunc, 0);
        ASSERT_TRUE(IsWindow(hwnd));
    }

    void SetUp() override
    {
        kt::useVirtualClock();
        kt::enableScriptedModals();
        kelvra::avicap::testing::setDiskRoom(uint64_t(1) << 44);  // no result hangs on this machine's disk
    }

    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty()) << "a modal window opened without an answer: "
                                                    << kt::unscriptedModals().front().caption;
        EXPECT_TRUE(kt::timedOutModals().empty());
        EXPECT_EQ(kt::pendingModalScripts(), 0u) << "scripted answers left unused";
        if (IsWindow(hwnd)) {
            KillTimer(hwnd, FRAME_TIMER_ID);
            if (IsWindow(CapWndCC))
                SendMessageA(CapWndCC, WM_CAP_SINGLE_FRAME_CLOSE, 0, 0);
            DestroyWindow(hwnd);
        }
        CapWndCC = nullptr;
        kt::clearModalScripts();
        kt::disableScriptedModals();
        kt::useRealClock();
        kelvra::avicap::testing::setDiskRoom(std::nullopt);
        std::filesystem::remove_all(dir_);
    }

    LRESULT command(WORD id, WORD code = BN_CLICKED)
    {
        return DialogFunc(hwnd, WM_COMMAND, MAKEWPARAM(id, code), 0);
    }

    std::string text(int id)
    {
        char buffer[256] = {};
        SendDlgItemMessageA(hwnd, id, WM_GETTEXT, sizeof buffer, (LPARAM)buffer);
        return buffer;
    }

    void setText(int id, const char* value) { SendDlgItemMessageA(hwnd, id, WM_SETTEXT, 0, (LPARAM)value); }

    // Speed Fps, Capture Every and the unit, as a user sets them.
    void timing(const char* speed, const char* every, WORD unit = CBSEC)
    {
        setText(EDIT5, speed);
        setText(21, every);
        SendMessageA(GetDlgItem(hwnd, unit), BM_CLICK, 0, 0);
    }

    std::string capturePath(const char* name = "take.avi") { return (dir_ / name).string(); }

    void setCaptureFile(const std::string& path)
    {
        ASSERT_TRUE(SendMessageA(CapWndCC, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, (LPARAM)path.c_str()));
    }

    HWND hwnd = nullptr;
    std::filesystem::path dir_;
};
