// The base of every control made from a template, the window-class registry, and the 3-D edges
// the controls draw.
#include "controls.h"
#include "dialog_impl.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

namespace kelvra::platform {

namespace {

constexpr int kClientEdgeWidth = 2;
constexpr int kStaticEdgeWidth = 1;

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::map<std::string, ControlFactory>& classes()
{
    static std::map<std::string, ControlFactory> registry;
    return registry;
}

// Windows 95 and later draw WS_BORDER of a control in a 3-D dialog as a sunken client edge;
// with WS_EX_CLIENTEDGE present the border adds nothing.
bool hasClientEdge(DWORD style, DWORD exStyle)
{
    return (exStyle & WS_EX_CLIENTEDGE) || (style & WS_BORDER);
}

}  // namespace

// ---- Classes -----------------------------------------------------------------------------------

void registerControlClass(const std::string& className, ControlFactory factory)
{
    classes()[lower(className)] = std::move(factory);
}

void registerBuiltinControlClasses()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    registerControlClass("Button", createButton);
    registerControlClass("Edit", createEdit);
    registerControlClass("Static", createStatic);
}

int mnemonicFlag(bool noPrefix)
{
    return noPrefix ? 0 : Qt::TextShowMnemonic;
}

ControlFactory findControlClass(const std::string& className)
{
    registerBuiltinControlClasses();
    auto it = classes().find(lower(className));
    return it == classes().end() ? ControlFactory() : it->second;
}

// ---- Control -----------------------------------------------------------------------------------

Control::Control(const ControlCreateInfo& info)
    : dialog_(info.dialog), id_(info.item.id), style_(info.item.style),
      exStyle_(info.item.exStyle), className_(info.item.className), rect_(info.rect)
{
}

Control::~Control()
{
    if (widget_) {
        widget_->hide();
        widget_->deleteLater();
    }
}

QWidget* Control::widget() const
{
    return widget_;
}

void Control::setWidget(QWidget* widget)
{
    widget_ = widget;
    widget->setGeometry(rect_);
    if (style_ & WS_DISABLED)
        widget->setEnabled(false);
    widget->setVisible((style_ & WS_VISIBLE) != 0);
}

void Control::setStyleBits(DWORD bits, bool on)
{
    style_ = on ? (style_ | bits) : (style_ & ~bits);
    if ((bits & WS_TABSTOP) && widget_ && widget_->focusPolicy() != Qt::NoFocus)
        widget_->setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus);
}

LRESULT Control::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETTEXT:
        setText(lParam ? reinterpret_cast<const char*>(lParam) : "");
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || lParam == 0)
            return 0;
        std::string t = text();
        size_t n = std::min<size_t>(t.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), t.data(), n);
        reinterpret_cast<char*>(lParam)[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(text().size());
    default:
        return 0;
    }
}

void Control::notifyParent(WORD code)
{
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id_, code), reinterpret_cast<LPARAM>(handle()));
}

Control* controlFromHandle(HWND hwnd)
{
    return dynamic_cast<Control*>(windowFromHandle(hwnd));
}

// ---- Edges -------------------------------------------------------------------------------------
// Windows' system colours mapped onto the palette: 3DHILIGHT = light, 3DLIGHT = midlight,
// 3DSHADOW = dark, 3DDKSHADOW = shadow.

void drawBevel(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

void drawStaticEdge(QPainter& p, const QPalette& pal, const QRect& r)
{
    drawBevel(p, r, pal.dark().color(), pal.light().color());
}

void drawSunkenEdge(QPainter& p, const QPalette& pal, const QRect& r)
{
    drawBevel(p, r, pal.dark().color(), pal.light().color());
    drawBevel(p, r.adjusted(1, 1, -1, -1), pal.shadow().color(), pal.midlight().color());
}

void drawRaisedEdge(QPainter& p, const QPalette& pal, const QRect& r)
{
    drawBevel(p, r, pal.light().color(), pal.shadow().color());
    drawBevel(p, r.adjusted(1, 1, -1, -1), pal.midlight().color(), pal.dark().color());
}

int controlEdgeWidth(DWORD style, DWORD exStyle)
{
    return ((exStyle & WS_EX_STATICEDGE) ? kStaticEdgeWidth : 0) +
           (hasClientEdge(style, exStyle) ? kClientEdgeWidth : 0);
}

QRect drawControlEdges(QPainter& p, const QPalette& pal, const QRect& rect, DWORD style,
                       DWORD exStyle)
{
    QRect r = rect;
    if (exStyle & WS_EX_STATICEDGE) {
        drawStaticEdge(p, pal, r);
        r.adjust(kStaticEdgeWidth, kStaticEdgeWidth, -kStaticEdgeWidth, -kStaticEdgeWidth);
    }
    if (hasClientEdge(style, exStyle)) {
        drawSunkenEdge(p, pal, r);
        r.adjust(kClientEdgeWidth, kClientEdgeWidth, -kClientEdgeWidth, -kClientEdgeWidth);
    }
    return r;
}

}  // namespace kelvra::platform
