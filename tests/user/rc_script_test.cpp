// The resource-script reader: preprocessor, expressions, statement defaults, errors.
#include <kelvra/platform/dialog.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <map>

namespace {

using kelvra::platform::DialogTemplate;
using kelvra::platform::ResourceScript;
using kelvra::platform::parseResourceScript;

struct Parsed {
    bool ok = false;
    std::string error;
    ResourceScript script;
};

Parsed parse(const std::string& text, std::map<std::string, std::string> files = {})
{
    Parsed p;
    auto resolver = [&files](const std::string& name) -> std::optional<std::string> {
        auto it = files.find(name);
        if (it == files.end())
            return std::nullopt;
        return it->second;
    };
    p.ok = parseResourceScript(text, resolver, p.script, p.error, "test.rc");
    return p;
}

const char* const kHeader =
    "#pragma once\n"
    "#define WS_CHILD 0x40000000L\n"
    "#define WS_VISIBLE 0x10000000L\n"
    "#define WS_TABSTOP 0x00010000L\n"
    "#define WS_GROUP 0x00020000L\n"
    "#define WS_BORDER 0x00800000L\n"
    "#define WS_POPUP 0x80000000L\n"
    "#define WS_CAPTION 0x00C00000L\n"
    "#define WS_SYSMENU 0x00080000L\n"
    "#define ES_NUMBER 0x2000L\n"
    "typedef int BOOL;  /* C declarations in headers are skipped */\n"
    "#define LOWORD(l) ((l) & 0xffff)\n";

TEST(UserScript, PreprocessorExpressionsAndNames)
{
    Parsed p = parse(
        "#include <win.h>\n"
        "#include \"win.h\"  // #pragma once: read once\n"
        "#define BASE 100\n"
        "#define IDD_A (BASE + 4)\n"
        "#define ID_X (BASE*2 - (3 | 1) + 0x10 - 010)\n"
        "#ifdef UNDEFINED_THING\n"
        "#error not skipped\n"
        "#elif defined(BASE) && BASE > 50\n"
        "#define PICKED 7\n"
        "#else\n"
        "#define PICKED 8\n"
        "#endif\n"
        "#ifndef LOWORD\n#error function-like macros count as defined\n#endif\n"
        "IDD_A DIALOGEX 1, -2, 30, 40\n"
        "CAPTION \"Say \"\"hi\"\"\"\n"
        "BEGIN\n"
        "  LTEXT \"a\" \"b\", ID_X, 1, 2, 3, 4\n"
        "  PUSHBUTTON \"p\", PICKED, 0, 0, 1, 1, NOT WS_TABSTOP | WS_GROUP\n"
        "END\n"
        "named_one DIALOG 0, 0, 10, 10\n"
        "{\n"
        "}\n",
        {{"win.h", kHeader}});
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.script.dialogs.size(), 2u);
    const DialogTemplate& a = p.script.dialogs[0];
    EXPECT_EQ(a.id, 104);
    EXPECT_EQ(a.y, -2);
    EXPECT_EQ(a.caption, "Say \"hi\"");
    // No STYLE statement: the resource compiler's default, plus WS_CAPTION for the caption.
    EXPECT_EQ(a.style, WS_POPUP | WS_BORDER | WS_SYSMENU | WS_CAPTION);
    ASSERT_EQ(a.items.size(), 2u);
    EXPECT_EQ(a.items[0].text, "ab") << "adjacent strings join";
    EXPECT_EQ(a.items[0].id, 200 - 3 + 16 - 8);
    EXPECT_EQ(a.items[0].line, 19);
    EXPECT_EQ(a.items[1].id, 7);
    EXPECT_EQ(a.items[1].style, WS_CHILD | WS_VISIBLE | WS_GROUP) << "NOT clears the default tab stop";
    EXPECT_EQ(p.script.dialogs[1].id, -1);
    EXPECT_EQ(p.script.dialogs[1].name, "NAMED_ONE");
}

TEST(UserScript, ControlStatementDefaults)
{
    Parsed p = parse(
        "#include \"win.h\"\n"
        "1 DIALOGEX 0, 0, 100, 100\n"
        "STYLE WS_POPUP\n"
        "FONT 8, \"Helv\", 400, 0, 1\n"
        "BEGIN\n"
        "  PUSHBUTTON \"a\", 1, 0, 0, 1, 1\n"
        "  DEFPUSHBUTTON \"b\", 2, 0, 0, 1, 1\n"
        "  LTEXT \"c\", 3, 0, 0, 1, 1\n"
        "  CTEXT \"d\", 4, 0, 0, 1, 1\n"
        "  RTEXT \"e\", 5, 0, 0, 1, 1\n"
        "  EDITTEXT 6, 0, 0, 1, 1, ES_NUMBER, 0x200\n"
        "  GROUPBOX \"g\", 7, 0, 0, 1, 1\n"
        "  AUTORADIOBUTTON \"r\", 8, 0, 0, 1, 1\n"
        "  CONTROL \"u\", 9, \"msctls_updown32\", 0x12, 1, 2, 3, 4, 0x20000\n"
        "  CONTROL \"k\", 10, button, 9 | NOT WS_VISIBLE, 1, 2, 3, 4\n"
        "  ICON 400, 11, 5, 6\n"
        "END\n",
        {{"win.h", kHeader}});
    ASSERT_TRUE(p.ok) << p.error;
    const DialogTemplate& d = p.script.dialogs.at(0);
    EXPECT_EQ(d.style, WS_POPUP | DS_SETFONT) << "a STYLE replaces the default; FONT adds DS_SETFONT";
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.fontFace, "Helv");
    struct Expect {
        const char* cls;
        DWORD style;
        DWORD exStyle;
    };
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const Expect expected[] = {
        {"Button", child | BS_PUSHBUTTON | WS_TABSTOP, 0},
        {"Button", child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
        {"Static", child | SS_LEFT | WS_GROUP, 0},
        {"Static", child | SS_CENTER | WS_GROUP, 0},
        {"Static", child | SS_RIGHT | WS_GROUP, 0},
        {"Edit", child | ES_LEFT | WS_BORDER | WS_TABSTOP | ES_NUMBER, WS_EX_CLIENTEDGE},
        {"Button", child | BS_GROUPBOX, 0},
        {"Button", child | BS_AUTORADIOBUTTON | WS_TABSTOP, 0},
        {"msctls_updown32", child | 0x12, WS_EX_STATICEDGE},
        {"Button", WS_CHILD | BS_AUTORADIOBUTTON, 0},
        {"Static", child | SS_ICON, 0},
    };
    ASSERT_EQ(d.items.size(), std::size(expected));
    for (size_t i = 0; i < d.items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.items[i].className, expected[i].cls);
        EXPECT_EQ(d.items[i].style, expected[i].style);
        EXPECT_EQ(d.items[i].exStyle, expected[i].exStyle);
    }
    EXPECT_EQ(d.items[10].text, "#400");
    EXPECT_EQ(d.items[10].x, 5);
    EXPECT_EQ(d.items[10].cx, 0);
}

TEST(UserScript, ErrorsSayWhereAndWhy)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"1 DIALOGEX 0, 0, 1, 1\nBEGIN\n  LTEXT \"x\", NOPE, 0, 0, 1, 1\nEND\n",
         "test.rc:3: undefined identifier NOPE"},
        {"#include \"missing.h\"\n", "test.rc:1: cannot open include file missing.h"},
        {"1 DIALOGEX 0, 0, 1, 1\nCAPTION \"open\nBEGIN\nEND\n", "test.rc:2: unterminated string"},
        {"1 DIALOGEX 0, 0, 1, 1\nBEGIN\n  LISTBOX 3, 0, 0, 1, 1\nEND\n",
         "test.rc:3: unsupported control statement LISTBOX"},
        {"1 DIALOGEX 0, 0, 1 1\nBEGIN\nEND\n", "test.rc:1: ',' expected"},
        {"1 DIALOGEX 0, 0, 1, 1\nBEGIN\n", "END expected"},
        {"1 DIALOGEX 0, 0, 1, 1\n", "BEGIN expected"},
        {"#if 1\n", "#if without #endif"},
        {"#endif\n", "test.rc:1: #endif without #if"},
        {"1 MENU\n", "unsupported resource type MENU"},
        {"1 DIALOGEX 0, 0, 1/0, 1\n", "division by zero"},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_NE(p.error.find(c.message), std::string::npos) << "error: " << p.error;
    }
}

TEST(UserScript, TheModuleTemplatesAreFound)
{
    using kelvra::platform::findDialogTemplate;
    for (int id : {104, 200, 600, 900})
        EXPECT_NE(findDialogTemplate(MAKEINTRESOURCE(id)), nullptr) << id;
    EXPECT_EQ(findDialogTemplate(MAKEINTRESOURCE(105)), nullptr);
    EXPECT_EQ(findDialogTemplate("#104"), findDialogTemplate(MAKEINTRESOURCE(104)));
    EXPECT_EQ(findDialogTemplate("no such template"), nullptr);
    const auto* icon = kelvra::platform::findIconResource("#400");
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->file, "kelvra.ico");
}

}  // namespace
