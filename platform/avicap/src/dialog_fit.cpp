#include "dialog_fit.h"

#include <QDialog>
#include <QLabel>
#include <QLayout>

#include <algorithm>

namespace kelvra::avicap {

void showDialogMessage(QDialog& dialog, QLabel& label, const QString& text)
{
    label.setWordWrap(true);
    label.setText(text);
    QLayout* layout = dialog.layout();
    if (!layout)
        return;
    layout->invalidate();
    layout->activate();
    // Keep the width the user sees (a message never makes the dialog jump wider than it needs) and
    // take the height the wrapped text needs at it; never shrink what the user made larger.
    const int width = std::max(dialog.width(), layout->minimumSize().width());
    const int needed = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->sizeHint().height();
    dialog.setMinimumHeight(needed);
    if (needed > dialog.height() || width > dialog.width())
        dialog.resize(width, std::max(needed, dialog.height()));
}

}  // namespace kelvra::avicap
