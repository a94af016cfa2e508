// The statements of a resource script: DIALOG/DIALOGEX templates with their controls, and ICON
// resources. Control statements get the default styles the Windows resource compiler gives them.
#include "rc_lexer.h"

#include <kelvra/user/templates.h>
#include <kelvra/user/control.h>

#include <algorithm>
#include <cctype>

namespace kelvra::platform {

namespace {

using rc::ExpressionParser;
using rc::Token;
using rc::TokenKind;

// Every control of a template is a visible child unless its style says otherwise.
constexpr DWORD kControlBase = WS_CHILD | WS_VISIBLE;
// A dialog without a STYLE statement.
constexpr DWORD kDefaultDialogStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;

struct ControlStatement {
    const char* keyword;
    const char* className;
    DWORD defaults;  // besides WS_CHILD | WS_VISIBLE
    bool hasText;
};

// The defaults of the Windows resource compiler, statement by statement.
const ControlStatement kStatements[] = {
    {"PUSHBUTTON", "Button", BS_PUSHBUTTON | WS_TABSTOP, true},
    {"DEFPUSHBUTTON", "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, true},
    {"CHECKBOX", "Button", BS_CHECKBOX | WS_TABSTOP, true},
    {"AUTOCHECKBOX", "Button", BS_AUTOCHECKBOX | WS_TABSTOP, true},
    {"STATE3", "Button", BS_3STATE | WS_TABSTOP, true},
    {"AUTO3STATE", "Button", BS_AUTO3STATE | WS_TABSTOP, true},
    {"RADIOBUTTON", "Button", BS_RADIOBUTTON | WS_TABSTOP, true},
    {"AUTORADIOBUTTON", "Button", BS_AUTORADIOBUTTON | WS_TABSTOP, true},
    {"GROUPBOX", "Button", BS_GROUPBOX, true},
    {"LTEXT", "Static", SS_LEFT | WS_GROUP, true},
    {"CTEXT", "Static", SS_CENTER | WS_GROUP, true},
    {"RTEXT", "Static", SS_RIGHT | WS_GROUP, true},
    {"EDITTEXT", "Edit", ES_LEFT | WS_BORDER | WS_TABSTOP, false},
};

// Memory options that old scripts write after the resource type; they mean nothing here.
const char* const kLoadOptions[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE",
                                    "PRELOAD", "LOADONCALL", "SHARED", "NONSHARED"};

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Predefined classes keep Windows' spelling whatever case the script uses.
std::string canonicalClass(const std::string& name)
{
    static const char* const known[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar",
                                        "ComboBox"};
    for (const char* k : known)
        if (upper(name) == upper(k))
            return k;
    return name;
}

class ScriptParser {
public:
    explicit ScriptParser(const std::vector<Token>& tokens) : t_(tokens) {}
    bool parse(ResourceScript& out);
    const std::string& error() const { return error_; }

private:
    bool resource(ResourceScript& out);
    bool resourceName(int& id, std::string& name);
    bool dialog(DialogTemplate& d, bool extended);
    bool dialogOption(DialogTemplate& d, bool& styleGiven);
    bool controls(DialogTemplate& d);
    bool textControl(const ControlStatement& s, DialogTemplate& d);
    bool iconControl(DialogTemplate& d);
    bool genericControl(DialogTemplate& d);
    bool trailing(DialogItemTemplate& item, bool styleAllowed);
    bool icon(int id, const std::string& name, ResourceScript& out);

    bool number(int& value);
    bool style(DWORD base, DWORD& value);
    bool string(std::string& value);
    bool text(std::string& value);  // a string, or a number/name standing for a resource
    bool comma();
    bool isComma() const { return isPunct(","); }
    bool isPunct(const char* p) const
    {
        return peek().kind == TokenKind::Punct && peek().text == p;
    }
    bool isWord(const char* w) const
    {
        return peek().kind == TokenKind::Identifier && upper(peek().text) == w;
    }
    bool isBegin() const { return isWord("BEGIN") || isPunct("{"); }
    bool isEnd() const { return isWord("END") || isPunct("}"); }
    const Token& peek() const { return t_[pos_]; }
    bool fail(const std::string& what);

    const std::vector<Token>& t_;
    size_t pos_ = 0;
    std::string error_;
};

bool ScriptParser::fail(const std::string& what)
{
    const Token& t = peek();
    error_ = t.file + ":" + std::to_string(t.line) + ": " + what;
    return false;
}

bool ScriptParser::parse(ResourceScript& out)
{
    while (peek().kind != TokenKind::End)
        if (!resource(out))
            return false;
    return true;
}

bool ScriptParser::resource(ResourceScript& out)
{
    if (isWord("LANGUAGE")) {  // LANGUAGE lang, sublang
        ++pos_;
        int lang = 0;
        return number(lang) && comma() && number(lang);
    }
    int id = -1;
    std::string name;
    if (!resourceName(id, name))
        return false;
    if (peek().kind != TokenKind::Identifier)
        return fail("resource type expected");
    std::string type = upper(peek().text);
    ++pos_;
    while (peek().kind == TokenKind::Identifier &&
           std::any_of(std::begin(kLoadOptions), std::end(kLoadOptions),
                       [&](const char* o) { return upper(peek().text) == o; }))
        ++pos_;
    if (type == "DIALOG" || type == "DIALOGEX") {
        DialogTemplate d;
        d.id = id;
        d.name = name;
        if (!dialog(d, type == "DIALOGEX"))
            return false;
        out.dialogs.push_back(std::move(d));
        return true;
    }
    if (type == "ICON")
        return icon(id, name, out);
    --pos_;
    return fail("unsupported resource type " + type);
}

bool ScriptParser::resourceName(int& id, std::string& name)
{
    // A name that is still an identifier after macro expansion names the resource by string,
    // upper-cased as the resource compiler stores it.
    if (peek().kind == TokenKind::Identifier) {
        name = upper(peek().text);
        ++pos_;
        return true;
    }
    if (peek().kind == TokenKind::String) {
        name = upper(peek().text);
        ++pos_;
        return true;
    }
    return number(id);
}

bool ScriptParser::icon(int id, const std::string& name, ResourceScript& out)
{
    IconResource icon;
    icon.id = id;
    icon.name = name;
    if (!string(icon.file))
        return false;
    out.icons.push_back(std::move(icon));
    return true;
}

bool ScriptParser::dialog(DialogTemplate& d, bool extended)
{
    if (!(number(d.x) && comma() && number(d.y) && comma() && number(d.cx) && comma() &&
          number(d.cy)))
        return false;
    if (extended && isComma()) {  // help context id
        int help = 0;
        if (!(comma() && number(help)))
            return false;
    }
    bool styleGiven = false;
    while (!isBegin()) {
        if (peek().kind == TokenKind::End)
            return fail("BEGIN expected");
        if (!dialogOption(d, styleGiven))
            return false;
    }
    if (!styleGiven)
        d.style = kDefaultDialogStyle;
    if (!d.caption.empty())
        d.style |= WS_CAPTION;
    if (d.hasFont)
        d.style |= DS_SETFONT;
    ++pos_;  // BEGIN
    return controls(d);
}

bool ScriptParser::dialogOption(DialogTemplate& d, bool& styleGiven)
{
    if (peek().kind != TokenKind::Identifier)
        return fail("dialog statement expected");
    std::string word = upper(peek().text);
    ++pos_;
    if (word == "STYLE") {
        styleGiven = true;
        return style(0, d.style);
    }
    if (word == "EXSTYLE")
        return style(0, d.exStyle);
    if (word == "CAPTION")
        return string(d.caption);
    if (word == "FONT") {
        d.hasFont = true;
        if (!(number(d.pointSize) && comma() && string(d.fontFace)))
            return false;
        int ignored = 0;  // weight, italic, charset
        while (isComma())
            if (!(comma() && number(ignored)))
                return false;
        return true;
    }
    if (word == "MENU" || word == "CLASS") {
        std::string ignored;
        return text(ignored);  // a dialog here never has a menu or a class of its own
    }
    if (word == "LANGUAGE") {
        int ignored = 0;
        return number(ignored) && comma() && number(ignored);
    }
    if (word == "CHARACTERISTICS" || word == "VERSION") {
        int ignored = 0;
        return number(ignored);
    }
    --pos_;
    return fail("unknown dialog statement " + word);
}

bool ScriptParser::controls(DialogTemplate& d)
{
    while (!isEnd()) {
        if (peek().kind == TokenKind::End)
            return fail("END expected");
        if (peek().kind != TokenKind::Identifier)
            return fail("control statement or END expected");
        std::string word = upper(peek().text);
        auto it = std::find_if(std::begin(kStatements), std::end(kStatements),
                               [&](const ControlStatement& s) { return word == s.keyword; });
        bool ok = false;
        if (it != std::end(kStatements))
            ok = textControl(*it, d);
        else if (word == "ICON")
            ok = iconControl(d);
        else if (word == "CONTROL")
            ok = genericControl(d);
        else
            return fail("unsupported control statement " + word);
        if (!ok)
            return false;
    }
    ++pos_;  // END
    return true;
}

// [text,] id, x, y, cx, cy [, style [, exstyle [, helpid]]]
bool ScriptParser::textControl(const ControlStatement& s, DialogTemplate& d)
{
    DialogItemTemplate item;
    item.line = peek().line;
    item.className = s.className;
    item.style = kControlBase | s.defaults;
    ++pos_;
    if (s.hasText && !(text(item.text) && comma()))
        return false;
    if (!(number(item.id) && comma() && number(item.x) && comma() && number(item.y) &&
          comma() && number(item.cx) && comma() && number(item.cy)))
        return false;
    if (!trailing(item, true))
        return false;
    d.items.push_back(std::move(item));
    return true;
}

// ICON text, id, x, y [, cx, cy [, style [, exstyle]]]
bool ScriptParser::iconControl(DialogTemplate& d)
{
    DialogItemTemplate item;
    item.line = peek().line;
    item.className = "Static";
    item.style = kControlBase | SS_ICON;
    ++pos_;
    if (!(text(item.text) && comma() && number(item.id) && comma() && number(item.x) &&
          comma() && number(item.y)))
        return false;
    if (isComma() && !(comma() && number(item.cx) && comma() && number(item.cy)))
        return false;
    if (!trailing(item, true))
        return false;
    d.items.push_back(std::move(item));
    return true;
}

// CONTROL text, id, class, style, x, y, cx, cy [, exstyle [, helpid]]
bool ScriptParser::genericControl(DialogTemplate& d)
{
    DialogItemTemplate item;
    item.line = peek().line;
    ++pos_;
    if (!(text(item.text) && comma() && number(item.id) && comma()))
        return false;
    if (peek().kind == TokenKind::String || peek().kind == TokenKind::Identifier) {
        item.className = canonicalClass(peek().text);
        ++pos_;
    } else {
        return fail("control class expected");
    }
    if (!(comma() && style(kControlBase, item.style) && comma() && number(item.x) && comma() &&
          number(item.y) && comma() && number(item.cx) && comma() && number(item.cy)))
        return false;
    if (!trailing(item, false))
        return false;
    d.items.push_back(std::move(item));
    return true;
}

// The optional tail of a control statement: [, style] [, exstyle] [, helpid].
bool ScriptParser::trailing(DialogItemTemplate& item, bool styleAllowed)
{
    if (styleAllowed) {
        if (!isComma())
            return true;
        if (!(comma() && style(item.style, item.style)))
            return false;
    }
    if (!isComma())
        return true;
    if (!(comma() && style(0, item.exStyle)))
        return false;
    int help = 0;
    if (isComma() && !(comma() && number(help)))
        return false;
    return true;
}

bool ScriptParser::number(int& value)
{
    long long v = 0;
    ExpressionParser p(t_, pos_, false);
    if (!p.parse(v)) {
        error_ = p.error();
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

bool ScriptParser::style(DWORD base, DWORD& value)
{
    ExpressionParser p(t_, pos_, false);
    if (!p.parseStyle(base, value)) {
        error_ = p.error();
        return false;
    }
    return true;
}

bool ScriptParser::string(std::string& value)
{
    if (peek().kind != TokenKind::String)
        return fail("string expected");
    value.clear();
    while (peek().kind == TokenKind::String)  // adjacent literals join
        value += t_[pos_++].text;
    return true;
}

bool ScriptParser::text(std::string& value)
{
    if (peek().kind == TokenKind::String)
        return string(value);
    if (peek().kind == TokenKind::Identifier) {
        value = peek().text;
        ++pos_;
        return true;
    }
    int id = 0;
    if (!number(id))
        return false;
    value = "#" + std::to_string(id);
    return true;
}

bool ScriptParser::comma()
{
    if (!isComma())
        return fail("',' expected");
    ++pos_;
    return true;
}

}  // namespace

bool parseResourceScript(const std::string& text, const IncludeResolver& resolver,
                         ResourceScript& out, std::string& error, const std::string& fileName)
{
    rc::Preprocessor pre(resolver);
    if (!pre.run(fileName, text)) {
        error = pre.error();
        return false;
    }
    std::vector<Token> tokens = pre.expandedTokens();
    ScriptParser parser(tokens);
    ResourceScript script;
    if (!parser.parse(script)) {
        error = parser.error();
        return false;
    }
    out = std::move(script);
    return true;
}

}  // namespace kelvra::platform
