// Drawing shared by the controls: the edges and frames Windows draws around them.
#pragma once

#include <windows.h>

#include <QRect>

class QColor;
class QPainter;
class QPalette;

namespace kelvra::platform {

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
