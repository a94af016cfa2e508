// A dialog's controls listed the way a Win32 program lists them (listing.h).
#include <kelvra/user/control.h>
#include <kelvra/user/dialog_units.h>
#include <kelvra/user/listing.h>

#include "dialog_impl.h"

#include <QWidget>

namespace kelvra::platform::testing {

std::vector<ControlListing> listDialogControls(HWND dialog)
{
    std::vector<ControlListing> out;
    Dialog* d = dialogFromHandle(dialog);
    const BaseUnits units = dialogBaseUnits(dialog);
    if (!d || units.x <= 0 || units.y <= 0)
        return out;
    for (HWND h : d->items()) {
        auto* control = dynamic_cast<Control*>(windowFromHandle(h));
        if (!control)
            continue;
        ControlListing row;
        row.id = control->controlId();
        row.className = control->className();
        row.style = control->style();
        row.exStyle = control->exStyle();
        const QRect r = control->widget()->geometry();
        row.px = r.x(), row.py = r.y(), row.pcx = r.width(), row.pcy = r.height();
        // The inverse of MapDialogRect: pixels back to dialog units.
        row.x = mulDiv(r.x(), 4, units.x), row.y = mulDiv(r.y(), 8, units.y);
        row.cx = mulDiv(r.width(), 4, units.x), row.cy = mulDiv(r.height(), 8, units.y);
        char text[1024] = {};
        SendMessageA(h, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        row.text = text;
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace kelvra::platform::testing
