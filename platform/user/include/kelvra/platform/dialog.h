// The dialog manager's internal interface: templates read from the module's resource script,
// dialog units, and the base of every standard control (Button, Edit, Static, and the classes
// other modules register, such as the up-down control).
#pragma once

#include <windows.h>

#include <kelvra/platform/window.h>

#include <QPointer>
#include <QRect>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QColor;
class QFont;
class QKeyEvent;
class QPainter;
class QPalette;
class QWidget;

namespace kelvra::platform {

// ---- Templates -----------------------------------------------------------------------------

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

// ---- Dialog units --------------------------------------------------------------------------

struct BaseUnits {
    int x = 0;  // average character width
    int y = 0;  // character height
};

// Windows' MulDiv: a * b / c rounded half away from zero.
int mulDiv(int a, int b, int c);

// The font a template's FONT statement names, as this platform renders it.
QFont dialogFont(const std::string& face, int pointSize);
// baseY = font height, baseX = (width of "A..Za..z" / 26 + 1) / 2, as Windows measures them.
BaseUnits measureBaseUnits(const QFont& font);
QRect dialogUnitsToPixels(const BaseUnits& units, int x, int y, int cx, int cy);
// Base units of a dialog made from a template; {0, 0} for any other handle.
BaseUnits dialogBaseUnits(HWND dialog);

// ---- Controls ------------------------------------------------------------------------------

struct ControlCreateInfo {
    const DialogItemTemplate& item;
    HWND dialog;     // the dialog the control belongs to
    HWND previous;   // the control made just before it in template order, or null
    QWidget* parent; // the dialog's client area
    QRect rect;      // pixels, in the parent's coordinates
};

// A child window of a dialog made from a template item. It owns its widget: destroying the
// Control hides the widget and deletes it once the event loop is back (it may be in the middle
// of one of the widget's own event handlers).
class Control : public Window {
public:
    ~Control() override;

    QWidget* widget() const override;
    int controlId() const override { return id_; }
    HWND dialog() const { return dialog_; }
    DWORD style() const { return style_; }
    DWORD exStyle() const { return exStyle_; }
    void setStyleBits(DWORD bits, bool on);

    // WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH through text()/setText().
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // The dialog manager asks these for the keyboard interface (WM_GETDLGCODE on Windows).
    virtual bool isPushButton() const { return false; }
    virtual bool isAutoRadioButton() const { return false; }

protected:
    explicit Control(const ControlCreateInfo& info);
    void setWidget(QWidget* widget);  // places it at the template's rectangle
    virtual std::string text() const { return {}; }
    virtual void setText(const std::string& text) {}
    // WM_COMMAND(MAKEWPARAM(id, code), hwnd) to the dialog. The control may be destroyed
    // by the time this returns: callers must not touch members afterwards unless
    // windowFromHandle(handle) still answers.
    void notifyParent(WORD code);

private:
    QPointer<QWidget> widget_;
    HWND dialog_;
    int id_;
    DWORD style_;
    DWORD exStyle_;
    QRect rect_;
};

// Window classes the dialog manager can make from templates; names compare case-insensitively
// as Windows class names do. Button, Edit and Static are built in; other modules register
// theirs (the common controls library registers msctls_updown32).
using ControlFactory = std::function<Control*(const ControlCreateInfo&)>;
void registerControlClass(const std::string& className, ControlFactory factory);

// The dialog manager's keys, for a control's widget to pass on: Enter, Escape and the arrows
// that the control does not use itself. Returns true when the dialog took the key.
bool forwardDialogKey(HWND control, QKeyEvent* event);

// ---- Drawing shared by the controls ------------------------------------------------------

// Draws the non-client edges that Windows gives WS_EX_STATICEDGE (1 px sunken, outermost),
// WS_EX_CLIENTEDGE (2 px sunken) and WS_BORDER on a 3-D dialog (drawn as a client edge), and
// returns the rectangle left inside them. Colours are the palette's 3-D roles.
QRect drawControlEdges(QPainter& painter, const QPalette& palette, const QRect& rect, DWORD style,
                       DWORD exStyle);
int controlEdgeWidth(DWORD style, DWORD exStyle);
// A 1 px sunken frame (SS_SUNKEN, WS_EX_STATICEDGE).
void drawStaticEdge(QPainter& painter, const QPalette& palette, const QRect& rect);
// A raised 2 px button frame.
void drawRaisedEdge(QPainter& painter, const QPalette& palette, const QRect& rect);
// A sunken 2 px frame (WS_EX_CLIENTEDGE, a checked push-like button).
void drawSunkenEdge(QPainter& painter, const QPalette& palette, const QRect& rect);
// One-pixel sides of a rectangle: top and left in one colour, bottom and right in another.
void drawBevel(QPainter& painter, const QRect& rect, const QColor& topLeft,
               const QColor& bottomRight);

}  // namespace kelvra::platform
