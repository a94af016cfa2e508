// One way into every modal loop of the platform: dialogs, message boxes, the file chooser,
// device dialogs. It is where tests answer modal windows (see testing.h), so none can hang.
#pragma once

#include <string>

class QDialog;

namespace kelvra::platform {

enum class ModalKind { Dialog, MessageBox, FileChooser, DeviceDialog, Other };

struct ModalInfo {
    ModalKind kind = ModalKind::Other;
    std::string caption;  // window title
    std::string text;     // message text for message boxes; empty otherwise
};

// Shows `dialog` modally (QDialog::exec) and returns its result. Timers keep ticking inside.
// Under a test script, the next scripted answer runs inside the loop once the dialog is shown;
// with no script left in test mode the dialog is rejected at once and the miss is recorded.
int runModal(QDialog& dialog, const ModalInfo& info);

}  // namespace kelvra::platform
