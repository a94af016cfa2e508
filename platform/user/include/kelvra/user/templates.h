// Dialog templates: what the resource script holds (dialogs and icons), how it is read, and
// how a template is found or turned into a dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvra::platform {

struct DialogItemTemplate {
    std::string className;  // "Button", "Edit", "Static", or as the script writes it
    std::string text;       // title; for ICON controls the icon's resource name
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    DWORD style = 0;
    DWORD exStyle = 0;
    int line = 0;  // where the script defines it, for messages
};

struct DialogTemplate {
    int id = -1;        // numeric resource id, or -1 for a named template
    std::string name;   // upper-case name of a named template
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string caption;
    bool hasFont = false;
    int pointSize = 0;
    std::string fontFace;
    std::vector<DialogItemTemplate> items;
};

struct IconResource {
    int id = -1;
    std::string name;
    std::string file;  // as the script names it; found through findResourceFile
};

struct ResourceScript {
    std::vector<DialogTemplate> dialogs;
    std::vector<IconResource> icons;
};

// Returns the contents of an included file, or nothing when it does not exist.
using IncludeResolver = std::function<std::optional<std::string>(const std::string& name)>;

// Reads a resource script: the preprocessor part (#include, #define, #if/#ifdef/#ifndef), and
// DIALOG/DIALOGEX and ICON statements. Included .h files contribute only their directives, as
// with the Windows resource compiler. On failure `error` says where and why.
bool parseResourceScript(const std::string& text, const IncludeResolver& resolver,
                         ResourceScript& out, std::string& error,
                         const std::string& fileName = "script");

// The template of the program module (kelvra.rc); `name` is MAKEINTRESOURCE(id), "#id" or a
// name. nullptr when there is no such template or the script cannot be read.
const DialogTemplate* findDialogTemplate(LPCSTR name);
const IconResource* findIconResource(const std::string& nameOrId);

// CreateDialogIndirectParam: a modeless dialog from a template in memory, which must outlive
// the dialog. For tools and tests; the program's own windows come from its resources.
HWND createDialogIndirect(const DialogTemplate& tmpl, HWND owner, DLGPROC proc, LPARAM param);

}  // namespace kelvra::platform
