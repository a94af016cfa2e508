// The resource-script reader: preprocessor, expressions, statement defaults, errors.
#include <kelvra/user/templates.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <optional>

namespace {

using kelvra::platform::DialogTemplate;
using kelvra::platform::ResourceScript;
using kelvra::platform::parseResourceScript;

const char* const kHeader =
    "#pragma once\n"
    "#define WS_VISIBLE 0x10000000L\n"
    "#define WS_TABSTOP 0x00010000L\n"
    "#define WS_GROUP 0x00020000L\n"
    "#define WS_POPUP 0x80000000L\n"
    "typedef int BOOL;  /* C declarations in headers are skipped */\n"
    "#define LOWORD(l) ((l) & 0xffff)\n";

struct Parsed { bool ok = false; std::string error; ResourceScript script; };

// Reads `text` as test.rc; an include of win.h gets kHeader, any other file is missing.
Parsed parse(const std::string& text)
{
    Parsed p;
    auto resolver = [](const std::string& name) {
        return name == "win.h" ? std::optional<std::string>(kHeader) : std::nullopt;
    };
    p.ok = parseResourceScript(text, resolver, p.script, p.error, "test.rc");
    return p;
}

TEST(UserScript, PreprocessorExpressionsAndNames)
{
    Parsed p = parse(
        "#include <win.h>\n"
        "#include \"win.h\"  // #pragma once: read once\n"
        "#define BASE 100\n#define IDD_A (BASE + 4)\n"
        "#define ID_X (BASE*2 - (3 | 1) + 0x10 - 010)\n"
        "#ifdef UNDEFINED_THING\n#error not skipped\n"
        "#elif defined(BASE) && BASE > 50\n#define PICKED 7\n"
        "#else\n#define PICKED 8\n#endif\n"
        "#ifndef LOWORD\n#error function-like macros count as defined\n#endif\n"
        "IDD_A DIALOGEX 1, -2, 30, 40\n"
        "CAPTION \"Say \"\"hi\"\"\"\n"
        "BEGIN\n"
        "  LTEXT \"a\" \"b\", ID_X, 1, 2, 3, 4\n"
        "  PUSHBUTTON \"p\", PICKED, 0, 0, 1, 1, NOT WS_TABSTOP | WS_GROUP\n"
        "END\n"
        "named_one DIALOG 0, 0, 10, 10\n{\n}\n");
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
    // The statements the main window's template does not show (its table checks the others).
    struct Row { const char* statement; const char* cls; DWORD style, exStyle; };
    const DWORD child = WS_CHILD | WS_VISIBLE;
    const Row rows[] = {
        {"DEFPUSHBUTTON \"b\", 2, 0, 0, 1, 1", "Button", child | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
        {"CTEXT \"d\", 4, 0, 0, 1, 1", "Static", child | SS_CENTER | WS_GROUP, 0},
        {"RTEXT \"e\", 5, 0, 0, 1, 1", "Static", child | SS_RIGHT | WS_GROUP, 0},
        {"AUTORADIOBUTTON \"r\", 8, 0, 0, 1, 1", "Button", child | BS_AUTORADIOBUTTON | WS_TABSTOP, 0},
        {"CONTROL \"k\", 10, button, 9 | NOT WS_VISIBLE, 1, 2, 3, 4", "Button", WS_CHILD | BS_AUTORADIOBUTTON, 0},
        {"ICON 400, 11, 5, 6", "Static", child | SS_ICON, 0},
    };
    std::string script = "#include \"win.h\"\n1 DIALOGEX 0, 0, 100, 100\nSTYLE WS_POPUP\n"
                         "FONT 8, \"Helv\", 400, 0, 1\nBEGIN\n";
    for (const Row& row : rows)
        script += std::string(row.statement) + "\n";
    Parsed p = parse(script + "END\n");
    ASSERT_TRUE(p.ok) << p.error;
    const DialogTemplate& d = p.script.dialogs.at(0);
    EXPECT_EQ(d.style, WS_POPUP | DS_SETFONT) << "a STYLE replaces the default; FONT adds DS_SETFONT";
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.fontFace, "Helv");
    ASSERT_EQ(d.items.size(), std::size(rows));
    for (size_t i = 0; i < d.items.size(); ++i) {
        SCOPED_TRACE(rows[i].statement);
        EXPECT_EQ(d.items[i].className, rows[i].cls);
        EXPECT_EQ(d.items[i].style, rows[i].style);
        EXPECT_EQ(d.items[i].exStyle, rows[i].exStyle);
    }
    EXPECT_EQ(d.items.back().text, "#400");
    EXPECT_EQ(d.items.back().x, 5);
    EXPECT_EQ(d.items.back().cx, 0);
}

TEST(UserScript, ErrorsSayWhereAndWhy)
{
    const std::pair<const char*, const char*> cases[] = {  // (script, error message)
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
    for (auto [script, message] : cases) {
        Parsed p = parse(script);
        EXPECT_FALSE(p.ok) << script;
        EXPECT_NE(p.error.find(message), std::string::npos) << "error: " << p.error;
    }
}

}  // namespace
