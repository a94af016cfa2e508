// Dialog units: how a template's coordinates become pixels for the dialog's font.
#pragma once

#include <windows.h>

#include <QRect>

#include <string>

class QFont;

namespace kelvra::platform {

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

}  // namespace kelvra::platform
