// The main window's controls as Wine's USER32 made them from the program file (listed by
// win32_probe through the Win32 API, in the file KELVRA_WINE_LISTING names), against template 104
// of resources/kelvra.rc, and against the same window on this platform. Run by wine_run.sh once
// the program is up under Wine; without a listing there is nothing to compare and it skips.
#include "kelvra.h"

#include <kelvra/user/templates.h>
#include <kelvra/user/listing.h>
#include <kelvra/user/testing.h>

#include <gtest/gtest.h>

#include <QDialog>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <strings.h>
#include <vector>

namespace kt = kelvra::platform::testing;
using kelvra::platform::DialogItemTemplate;
using kt::ControlListing;

namespace {

// Texts the program writes at start (the overlay state, the status, Speed Fps), over the
// template's empty fields.
const std::map<int, std::string> kStartTexts = {{EDIT2, "OFF"}, {EDIT3, "READY"}, {EDIT5, "15"}};

// Where a Win32 implementation's window differs from the template it was made from, by design of
// Windows itself; each difference is the template's bits -> what Windows shows.
struct KnownDifference {
    const char* what;
    const char* why;
};
const KnownDifference kWindowsAdds[] = {
    {"WS_EX_NOPARENTNOTIFY on every control",
     "the dialog manager creates every control with it (user32 dialog.c, DIALOG_CreateControls)"},
    {"edit controls: WS_BORDER becomes WS_EX_CLIENTEDGE",
     "an edit control of a 4.0 program trades its flat border for the sunken client edge on "
     "WM_NCCREATE; this platform keeps WS_BORDER and draws it as the same client edge"},
    {"static controls with SS_SUNKEN gain WS_EX_STATICEDGE",
     "the static control draws its sunken frame as a static edge and says so in its extended style"},
};

// Windows' value; the platform's headers carry only what the program uses.
constexpr DWORD kExNoParentNotify = 0x00000004;  // WS_EX_NOPARENTNOTIFY

// Texts this platform shows differently from Windows in the same window, and why.
struct TextDifference {
    int id;
    const char* ours;
    const char* windows;
    const char* why;
};
const TextDifference kTextDifferences[] = {
    {21, "1", "",
     "this platform's up-down control starts at 1 (range 1..UD_MAXVAL) and writes it into its "
     "empty buddy, so the first REC has a count; Windows' starts at 0 in the range 100..0 and "
     "leaves the Capture Every field empty until the user sets it"},
};

std::string asOnWindows(int id, const std::string& ours)
{
    for (const TextDifference& d : kTextDifferences)
        if (d.id == id && ours == d.ours)
            return d.windows;
    return ours;
}

DWORD windowsStyle(const std::string& cls, DWORD style)
{
    return strcasecmp(cls.c_str(), "Edit") == 0 ? style & ~WS_BORDER : style;
}

DWORD windowsExStyle(const std::string& cls, DWORD style, DWORD exStyle)
{
    exStyle |= kExNoParentNotify;
    if (strcasecmp(cls.c_str(), "Edit") == 0 && (style & WS_BORDER))
        exStyle |= WS_EX_CLIENTEDGE;
    if (strcasecmp(cls.c_str(), "Static") == 0 && (style & SS_SUNKEN))
        exStyle |= WS_EX_STATICEDGE;
    return exStyle;
}

std::vector<ControlListing> readListing(const std::string& path)
{
    std::vector<ControlListing> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; f.size() < 8 && std::getline(fields, field, '\t');)
            f.push_back(field);
        std::string text;
        std::getline(fields, text);  // the rest, tabs and all
        if (f.size() < 8)
            continue;
        ControlListing row;
        row.id = std::stoi(f[0]);
        row.className = f[1];
        row.style = std::stoul(f[2], nullptr, 16);
        row.exStyle = std::stoul(f[3], nullptr, 16);
        row.x = std::stoi(f[4]), row.y = std::stoi(f[5]), row.cx = std::stoi(f[6]), row.cy = std::stoi(f[7]);
        row.text = text;
        rows.push_back(row);
    }
    return rows;
}

std::string expectedText(const DialogItemTemplate& item)
{
    auto start = kStartTexts.find(item.id);
    return start != kStartTexts.end() ? start->second : item.text;
}

void expectWithinOneUnit(const ControlListing& row, int x, int y, int cx, int cy, const char* against)
{
    EXPECT_LE(std::abs(row.x - x), 1) << against << ": x " << row.x << " against " << x;
    EXPECT_LE(std::abs(row.y - y), 1) << against << ": y " << row.y << " against " << y;
    EXPECT_LE(std::abs(row.cx - cx), 1) << against << ": width " << row.cx << " against " << cx;
    EXPECT_LE(std::abs(row.cy - cy), 1) << against << ": height " << row.cy << " against " << cy;
}

class WineListing : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* path = std::getenv("KELVRA_WINE_LISTING");
        if (!path)
            GTEST_SKIP() << "no Wine listing: wine_run.sh makes one and runs this check";
        wine = readListing(path);
        ASSERT_FALSE(wine.empty()) << "the listing " << path << " holds no control";
        tmpl = kelvra::platform::findDialogTemplate(MAKEINTRESOURCE(IDD_MAIN));
        ASSERT_NE(tmpl, nullptr);
    }

    std::vector<ControlListing> wine;
    const kelvra::platform::DialogTemplate* tmpl = nullptr;
};

TEST_F(WineListing, EveryControlOfTemplate104InOrderAtItsPlace)
{
    for (const KnownDifference& d : kWindowsAdds)
        std::printf("allowed: %s (%s)\n", d.what, d.why);
    ASSERT_EQ(wine.size(), tmpl->items.size()) << "Wine's window has exactly the template's controls";
    for (size_t i = 0; i < wine.size(); ++i) {
        const DialogItemTemplate& item = tmpl->items[i];
        const ControlListing& row = wine[i];
        SCOPED_TRACE("control " + std::to_string(item.id) + " (" + std::to_string(i + 1) + " in order)");
        EXPECT_EQ(row.id, item.id);
        EXPECT_EQ(strcasecmp(row.className.c_str(), item.className.c_str()), 0) << row.className << " against " << item.className;
        EXPECT_EQ(row.text, expectedText(item));
        EXPECT_EQ(row.style, windowsStyle(item.className, item.style)) << std::hex << "template " << item.style;
        EXPECT_EQ(row.exStyle, windowsExStyle(item.className, item.style, item.exStyle)) << std::hex << "template " << item.exStyle;
        expectWithinOneUnit(row, item.x, item.y, item.cx, item.cy, "template");
    }
}

// The program's own start-up on this platform, with no capture driver as under Wine (which has no
// capture window): the Driver Error box is answered, then the window is listed like Wine's.
TEST_F(WineListing, ThisPlatformListsTheSameControlsClassesTextsAndPlaces)
{
    setenv("KELVRA_CAPTURE_DRIVERS", "", 1);
    kt::useVirtualClock();
    kt::enableScriptedModals();
    kt::scriptModal(kt::answer(IDOK));
    HWND main = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCE(IDD_MAIN), nullptr, DialogFunc, 0);
    ASSERT_TRUE(IsWindow(main));
    ASSERT_EQ(kt::modalHistory().size(), 1u) << "the Driver Error box, as under Wine";
    EXPECT_EQ(kt::modalHistory().front().caption, "Driver Error !");
    for (const TextDifference& d : kTextDifferences)
        std::printf("allowed: control %d shows \"%s\" here, \"%s\" on Windows (%s)\n", d.id, d.ours, d.windows, d.why);
    const std::vector<ControlListing> ours = kt::listDialogControls(main);
    ASSERT_EQ(ours.size(), wine.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        const ControlListing& w = wine[i];
        const ControlListing& o = ours[i];
        SCOPED_TRACE("control " + std::to_string(w.id) + " (" + std::to_string(i + 1) + " in order)");
        EXPECT_EQ(o.id, w.id);
        EXPECT_EQ(strcasecmp(o.className.c_str(), w.className.c_str()), 0) << o.className << " against " << w.className;
        EXPECT_EQ(asOnWindows(o.id, o.text), w.text) << "ours: " << o.text;
        EXPECT_EQ(windowsStyle(o.className, o.style), w.style) << std::hex << "ours " << o.style;
        EXPECT_EQ(windowsExStyle(o.className, o.style, o.exStyle), w.exStyle) << std::hex << "ours " << o.exStyle;
        expectWithinOneUnit(o, w.x, w.y, w.cx, w.cy, "Wine");
        std::printf("%d\t%s\t%08x\t%08x\t%d\t%d\t%d\t%d\t%s\n", o.id, o.className.c_str(), o.style, o.exStyle,
                    o.x, o.y, o.cx, o.cy, o.text.c_str());
    }
    KillTimer(main, FRAME_TIMER_ID);
    DestroyWindow(main);
    kt::disableScriptedModals();
    kt::useRealClock();
}

}  // namespace
