// GetOpenFileNameA over a non-native QFileDialog, with the option flags' effects as Windows
// gives them for an open chooser.
#include <commdlg.h>

#include <kelvra/kernel/capture_state.h>
#include <kelvra/user/modal.h>
#include <kelvra/user/window.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringList>

#include <cstring>

namespace {

using kelvra::platform::ModalInfo;
using kelvra::platform::ModalKind;

// Extended error codes (CommDlgExtendedError)
constexpr DWORD CDERR_STRUCTSIZE = 0x0001;
constexpr DWORD CDERR_INITIALIZATION = 0x0002;
constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;
DWORD lastError = 0;

// lpstrFilter: "description\0pattern\0...\0\0" -> Qt's "description (pattern)" entries.
QStringList parseFilter(LPCSTR filter)
{
    QStringList entries;
    if (!filter)
        return entries;
    while (*filter) {
        QString description = QString::fromLocal8Bit(filter);
        filter += std::strlen(filter) + 1;
        if (!*filter)
            break;
        QString patterns = QString::fromLocal8Bit(filter).replace(';', ' ');
        filter += std::strlen(filter) + 1;
        entries << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return entries;
}

bool hasWildcard(const QString& name)
{
    return name.contains('*') || name.contains('?');
}

// The user's videos folder, where recordings go by default.
QString videosFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return folder.isEmpty() ? QDir::homePath() + QStringLiteral("/Videos") : folder;
}

// With no folder given the chooser starts where the name's own folder is, else in the folder of
// the file being recorded into (where the user's recordings are; the videos folder is made when it
// is that one and missing, so that a name typed into it can be taken), else in the home folder:
// never where the program happened to be started.
QString startFolder(const OPENFILENAMEA& ofn)
{
    if (ofn.lpstrInitialDir && ofn.lpstrInitialDir[0])
        return QString::fromLocal8Bit(ofn.lpstrInitialDir);
    QStringList candidates;
    if (ofn.lpstrFile && ofn.lpstrFile[0]) {
        const QString name = QString::fromLocal8Bit(ofn.lpstrFile);
        if (name.contains('/'))
            candidates << QFileInfo(name).absolutePath();
    }
    const std::string capture = kelvra::platform::currentCaptureFile();
    if (!capture.empty()) {
        const QString folder = QFileInfo(QString::fromLocal8Bit(capture.c_str())).absolutePath();
        if (QDir(folder) == QDir(videosFolder()))
            QDir().mkpath(folder);
        candidates << folder;
    }
    for (const QString& folder : candidates)
        if (QFileInfo(folder).isDir())
            return folder;
    return QDir::homePath();
}

class Chooser : public QFileDialog, public kelvra::platform::Window {
public:
    QWidget* widget() const override { return const_cast<Chooser*>(this); }

    Chooser(QWidget* owner, const OPENFILENAMEA& ofn) : QFileDialog(owner), ofn_(ofn)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::AnyFile);  // existence is checked in accept(), as the flags say
        setWindowTitle(ofn.lpstrTitle ? QString::fromLocal8Bit(ofn.lpstrTitle) : QStringLiteral("Open"));
        setDirectory(startFolder(ofn));

        QStringList filters = parseFilter(ofn.lpstrFilter);
        if (!filters.isEmpty()) {
            setNameFilters(filters);
            int index = ofn.nFilterIndex >= 1 && ofn.nFilterIndex <= DWORD(filters.size()) ? int(ofn.nFilterIndex) : 1;
            selectNameFilter(filters.at(index - 1));
        }
        // Shown in the name field exactly as the caller put it, a pattern included.
        if (ofn.lpstrFile && ofn.lpstrFile[0])
            if (QLineEdit* edit = findChild<QLineEdit*>("fileNameEdit"))
                edit->setText(QString::fromLocal8Bit(ofn.lpstrFile));
        if (ofn.Flags & OFN_SHOWHELP)
            addHelpButton();
    }

    QString chosen() const { return chosen_; }

    void accept() override
    {
        QLineEdit* edit = findChild<QLineEdit*>("fileNameEdit");
        QString typed = edit ? edit->text().trimmed() : QString();
        // Windows applies a typed pattern as a filter and keeps the chooser open.
        if (hasWildcard(typed)) {
            setNameFilter(typed);
            return;
        }
        QStringList files = selectedFiles();
        if (files.isEmpty())
            return;
        QFileInfo info(files.first());
        if (info.isDir()) {
            setDirectory(info.absoluteFilePath());
            if (edit)
                edit->clear();
            return;
        }
        QString path = withDefaultExtension(info.absoluteFilePath());
        if (!acceptable(path))
            return;
        chosen_ = path;
        QDialog::accept();
    }

private:
    void addHelpButton()
    {
        if (QDialogButtonBox* buttons = findChild<QDialogButtonBox*>()) {
            // The help request goes to the owner; an owner that does not handle it lets it pass.
            buttons->addButton(QDialogButtonBox::Help);
        }
    }

    QString withDefaultExtension(const QString& path) const
    {
        if (!ofn_.lpstrDefExt || !ofn_.lpstrDefExt[0] || !QFileInfo(path).suffix().isEmpty())
            return path;
        if (QFileInfo::exists(path))
            return path;
        return path + '.' + QString::fromLocal8Bit(ofn_.lpstrDefExt);
    }

    // The chooser's own questions are message boxes owned by the chooser, as on Windows.
    int ask(const QString& text, UINT type)
    {
        return MessageBoxA(handle(), text.toLocal8Bit().constData(), windowTitle().toLocal8Bit().constData(), type);
    }

    bool acceptable(const QString& path)
    {
        QFileInfo info(path);
        QString name = QDir::toNativeSeparators(path);
        if ((ofn_.Flags & OFN_PATHMUSTEXIST) && !info.absoluteDir().exists()) {
            ask(QStringLiteral("%1\nThe path does not exist.\nCheck the path and try again.").arg(name), MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        if (info.exists())
            return true;  // an open chooser asks no overwrite question
        if (ofn_.Flags & OFN_CREATEPROMPT) {
            return ask(QStringLiteral("%1\nThis file does not exist.\nDo you want to create it?").arg(name),
                       MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
        }
        if (ofn_.Flags & OFN_FILEMUSTEXIST) {
            ask(QStringLiteral("%1\nFile not found.\nCheck the file name and try again.").arg(name), MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        return true;
    }

    const OPENFILENAMEA& ofn_;
    QString chosen_;
};

}  // namespace

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA ofn)
{
    // Programs written for 32-bit Windows give that layout's size; this platform's own size is
    // accepted too.
    if (!ofn || (ofn->lStructSize != OPENFILENAME_SIZE_VERSION_400A && ofn->lStructSize != sizeof(OPENFILENAMEA))) {
        lastError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!ofn->lpstrFile || ofn->nMaxFile == 0) {
        lastError = CDERR_INITIALIZATION;
        return FALSE;
    }
    lastError = 0;
    Chooser chooser(kelvra::platform::widgetFromHandle(ofn->hwndOwner), *ofn);
    ModalInfo info{ModalKind::FileChooser, chooser.windowTitle().toStdString(), ""};
    if (kelvra::platform::runModal(chooser, info) != QDialog::Accepted || chooser.chosen().isEmpty())
        return FALSE;

    QByteArray path = chooser.chosen().toLocal8Bit();
    if (DWORD(path.size()) + 1 > ofn->nMaxFile) {
        // As Windows does: the first two bytes say how large the buffer must be.
        if (ofn->nMaxFile >= 2) {
            WORD needed = WORD(path.size() + 1);
            std::memcpy(ofn->lpstrFile, &needed, sizeof needed);
        }
        lastError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    std::memcpy(ofn->lpstrFile, path.constData(), path.size() + 1);
    int slash = path.lastIndexOf('/');
    ofn->nFileOffset = WORD(slash + 1);
    int dot = path.lastIndexOf('.');
    ofn->nFileExtension = WORD(dot > slash ? dot + 1 : path.size());
    QByteArray extension = dot > slash ? path.mid(dot + 1) : QByteArray();
    if (ofn->lpstrDefExt && extension.compare(QByteArray(ofn->lpstrDefExt), Qt::CaseInsensitive) != 0)
        ofn->Flags |= OFN_EXTENSIONDIFFERENT;
    else
        ofn->Flags &= ~DWORD(OFN_EXTENSIONDIFFERENT);
    return TRUE;
}

DWORD WINAPI CommDlgExtendedError(void)
{
    return lastError;
}
