// Messages inside the device dialogs: wrapped at the dialog's width, with the dialog grown so
// that the whole text and every field keep their room (Qt does not grow a top-level window for a
// label that wraps onto more lines).
#pragma once

class QDialog;
class QLabel;
class QString;

namespace kelvra::avicap {

void showDialogMessage(QDialog& dialog, QLabel& label, const QString& text);

}  // namespace kelvra::avicap
