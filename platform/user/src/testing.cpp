// Ready-made answers for scripted modal windows (testing.h).
#include <kelvra/user/testing.h>

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

namespace kelvra::platform::testing {

ModalScript answer(int result)
{
    return [result](QDialog& dialog, const ModalInfo&) { dialog.done(result); };
}

ModalScript cancel()
{
    return [](QDialog& dialog, const ModalInfo&) { dialog.reject(); };
}

// Types the path into the chooser as a person would: the folder becomes the current one and the
// name goes into the file name field, then the chooser's own accept() checks it (a missing file
// in an "existing file" chooser is refused there, as it is for a person).
ModalScript chooseFile(const std::string& path)
{
    return [path](QDialog& dialog, const ModalInfo&) {
        auto* chooser = qobject_cast<QFileDialog*>(&dialog);
        if (!chooser) {
            dialog.reject();
            return;
        }
        const QFileInfo info(QString::fromLocal8Bit(path.c_str()));
        chooser->setDirectory(info.absolutePath());
        chooser->selectFile(info.fileName());
        // selectFile leaves the name field alone while it has the focus, which it has once the
        // chooser is on screen.
        if (auto* nameField = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            nameField->setText(info.fileName());
        dialog.accept();  // QFileDialog::accept, reached through the public QDialog slot
    };
}

}  // namespace kelvra::platform::testing
