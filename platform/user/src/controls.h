// The predefined window classes of the dialog manager: Button (push buttons, check boxes,
// radio buttons, group boxes), Edit (single-line fields) and Static (labels, icons).
#pragma once

#include <kelvra/user/control.h>
#include <kelvra/user/control_drawing.h>
#include <kelvra/user/dialog_units.h>

namespace kelvra::platform {

Control* createButton(const ControlCreateInfo& info);
Control* createEdit(const ControlCreateInfo& info);
Control* createStatic(const ControlCreateInfo& info);

// Windows draws text controls with '&' marking the mnemonic unless SS_NOPREFIX.
int mnemonicFlag(bool noPrefix);

}  // namespace kelvra::platform
