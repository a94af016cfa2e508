// Templates the program does not use but the dialog manager supports: default push buttons,
// check boxes, icons, hidden and disabled controls, separate radio groups, failures.
#include "dialog_fixture.h"

#include <kelvra/platform/resources.h>

#include <QImage>
#include <QTest>

#include <list>
#include <optional>

namespace {

using kelvra::platform::createDialogIndirect;

std::optional<std::string> moduleFile(const std::string& name)
{
    const auto* f = kelvra::platform::findResourceFile(name);
    if (!f)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(f->data), f->size);
}

class UserIndirect : public DialogTest {
protected:
    // Reads one template from `body` (the lines between BEGIN and END) and makes a dialog.
    HWND make(const std::string& body, DLGPROC proc = recordingProc)
    {
        std::string script = "#include <windows.h>\n#include <commctrl.h>\n"
                             "1 DIALOGEX 0, 0, 200, 100\nSTYLE WS_POPUP | WS_CAPTION | WS_VISIBLE\n"
                             "FONT 8, \"MS Sans Serif\"\nBEGIN\n" + body + "END\n";
        std::string error;
        scripts_.emplace_back();
        EXPECT_TRUE(kelvra::platform::parseResourceScript(script, moduleFile, scripts_.back(), error)) << error;
        HWND h = createDialogIndirect(scripts_.back().dialogs.at(0), nullptr, proc, 0);
        created_.push_back(h);
        sentLog().clear();
        return h;
    }
    std::list<kelvra::platform::ResourceScript> scripts_;  // templates outlive their dialogs
};

TEST_F(UserIndirect, EnterGoesToTheDefaultPushButton)
{
    HWND dlg = make("EDITTEXT 3, 5, 5, 50, 12\n"
                    "DEFPUSHBUTTON \"Go\", 5, 5, 30, 40, 14\n"
                    "PUSHBUTTON \"Other\", 6, 50, 30, 40, 14\n");
    QTest::keyClick(item(dlg, 3), Qt::Key_Return);
    QTest::keyClick(item(dlg, 6), Qt::Key_Return);
    EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{5, BN_CLICKED}, {6, BN_CLICKED}}));
    EnableWindow(GetDlgItem(dlg, 5), FALSE);
    sentLog().clear();
    QTest::keyClick(item(dlg, 3), Qt::Key_Return);
    EXPECT_TRUE(commands().empty()) << "a disabled default button swallows Enter";
}

TEST_F(UserIndirect, CheckBoxesFollowTheirKind)
{
    HWND dlg = make("AUTOCHECKBOX \"auto\", 10, 5, 5, 60, 10\n"
                    "AUTO3STATE \"three\", 11, 5, 20, 60, 10\n"
                    "CHECKBOX \"manual\", 12, 5, 35, 60, 10\n");
    std::vector<UINT> states;
    for (int i = 0; i < 2; ++i) {
        SendDlgItemMessageA(dlg, 10, BM_CLICK, 0, 0);
        states.push_back(IsDlgButtonChecked(dlg, 10));
    }
    for (int i = 0; i < 3; ++i) {
        SendDlgItemMessageA(dlg, 11, BM_CLICK, 0, 0);
        states.push_back(IsDlgButtonChecked(dlg, 11));
    }
    SendDlgItemMessageA(dlg, 12, BM_CLICK, 0, 0);
    states.push_back(IsDlgButtonChecked(dlg, 12));
    EXPECT_EQ(states, (std::vector<UINT>{1, 0, 1, 2, 0, 0})) << "a plain check box leaves it to the program";
    EXPECT_EQ(commands().size(), 6u);
    CheckDlgButton(dlg, 10, BST_INDETERMINATE);
    EXPECT_EQ(IsDlgButtonChecked(dlg, 10), BST_CHECKED) << "a two-state box tops out at checked";
}

TEST_F(UserIndirect, RadioGroupsEndAtTheNextGroupStyle)
{
    HWND dlg = make("AUTORADIOBUTTON \"a1\", 20, 5, 5, 40, 10, WS_GROUP\n"
                    "AUTORADIOBUTTON \"a2\", 21, 5, 20, 40, 10\n"
                    "AUTORADIOBUTTON \"b1\", 22, 60, 5, 40, 10, WS_GROUP\n"
                    "AUTORADIOBUTTON \"b2\", 23, 60, 20, 40, 10\n"
                    "RADIOBUTTON \"b3\", 24, 60, 35, 40, 10\n");
    CheckDlgButton(dlg, 20, BST_CHECKED);
    CheckDlgButton(dlg, 24, BST_CHECKED);
    SendDlgItemMessageA(dlg, 23, BM_CLICK, 0, 0);
    std::vector<UINT> states;
    for (int id = 20; id <= 24; ++id)
        states.push_back(IsDlgButtonChecked(dlg, id));
    EXPECT_EQ(states, (std::vector<UINT>{1, 0, 0, 1, 1}))
        << "the other group keeps its check, and only auto radio buttons are unchecked";
}

TEST_F(UserIndirect, HiddenAndDisabledControlsGetNoFocus)
{
    HWND dlg = make("PUSHBUTTON \"hidden\", 30, 5, 5, 40, 14, NOT WS_VISIBLE\n"
                    "PUSHBUTTON \"off\", 31, 5, 20, 40, 14, WS_DISABLED\n"
                    "LTEXT \"label\", 32, 5, 35, 40, 10\n"
                    "PUSHBUTTON \"first\", 33, 5, 50, 40, 14\n");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, 30)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, 31)));
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 33));
}

TEST_F(UserIndirect, AnIconShowsTheModuleIcon)
{
    HWND dlg = make("ICON 400, 40, 10, 10\n"
                    "ICON \"#400\", 41, 60, 10, 21, 20\n");
    for (int id : {40, 41}) {
        QWidget* icon = item(dlg, id);
        QImage image = icon->grab().toImage();
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ink += image.pixel(x, y) != icon->palette().window().color().rgb();
        EXPECT_GT(ink, 50) << id;
    }
}

TEST_F(UserIndirect, UnknownClassesAndEarlyDestructionFail)
{
    std::string script = "1 DIALOGEX 0, 0, 10, 10\nBEGIN\n"
                         "CONTROL \"\", 1, \"NoSuchClass\", 0, 0, 0, 5, 5\nEND\n";
    kelvra::platform::ResourceScript parsed;
    std::string error;
    ASSERT_TRUE(kelvra::platform::parseResourceScript(script, moduleFile, parsed, error)) << error;
    EXPECT_EQ(createDialogIndirect(parsed.dialogs[0], nullptr, recordingProc, 0), nullptr);
    EXPECT_TRUE(sentLog().empty()) << "the procedure never heard of it";

    static INT_PTR (*const destroyAtInit)(HWND, UINT, WPARAM, LPARAM) =
        [](HWND hwnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG)
            DestroyWindow(hwnd);
        return TRUE;
    };
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCE(200), nullptr, destroyAtInit, 0), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
