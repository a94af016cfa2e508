// WinHelpA over the help viewer: the program's Windows help path is mapped onto the help book
// installed with it (see kelvra/winhelp/help_viewer.h), and one viewer per book is kept open.
#include "help_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <cstdlib>
#include <map>

namespace kelvra::winhelp {

namespace {

const char* const kHelpDirVariable = "KELVRA_HELP_DIR";
const char* const kBookExtension = ".html";

// "\progra~1\Kelvra\kel.hlp" -> "kel.hlp"; Windows names are not case-sensitive.
std::string helpFileName(const std::string& helpPath)
{
    size_t slash = helpPath.find_last_of("\\/:");
    std::string name = slash == std::string::npos ? helpPath : helpPath.substr(slash + 1);
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::map<std::string, QPointer<HelpViewer>>& viewers()
{
    static std::map<std::string, QPointer<HelpViewer>> open;
    return open;
}

HelpViewer* openViewer(HWND hwndMain, const std::string& helpPath)
{
    QPointer<HelpViewer>& viewer = viewers()[helpFileName(helpPath)];
    if (viewer && viewer->handle())
        return viewer;
    // Owned by the caller's top-level window: the program's main window is modal, and a
    // window it does not own would get no input.
    QWidget* owner = platform::widgetFromHandle(hwndMain);
    if (owner)
        owner = owner->window();
    viewer = new HelpViewer(owner, locateHelpFile(helpPath), helpPath);
    return viewer;
}

}  // namespace

HelpLocation locateHelpFile(const std::string& helpPath)
{
    HelpLocation location;
    std::string name = helpFileName(helpPath);
    size_t dot = name.rfind('.');
    std::string page = (dot == std::string::npos ? name : name.substr(0, dot)) + kBookExtension;

    std::vector<QString> folders;
    if (const char* dir = std::getenv(kHelpDirVariable); dir && *dir)
        folders.push_back(QString::fromLocal8Bit(dir));
    QString programDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    folders.push_back(programDir + QStringLiteral("/help"));
    folders.push_back(programDir + QStringLiteral("/../share/kelvra/help"));

    for (const QString& folder : folders) {
        QString candidate = QDir::cleanPath(QDir(folder).absoluteFilePath(QString::fromStdString(page)));
        location.searched.push_back(candidate.toStdString());
        if (!name.empty() && QFileInfo(candidate).isFile()) {
            location.contents = candidate.toStdString();
            location.found = true;
            return location;
        }
    }
    location.contents = location.searched.front();
    return location;
}

HelpViewerControl* helpViewer(const std::string& helpPath)
{
    auto it = viewers().find(helpFileName(helpPath));
    if (it == viewers().end() || !it->second || !it->second->handle())
        return nullptr;
    return it->second;
}

}  // namespace kelvra::winhelp

using kelvra::winhelp::HelpViewer;

// Like Windows, the viewer stays open on its own after the call; a missing help file is
// reported in the viewer's window and the call still succeeds, since the viewer took it on.
BOOL WINAPI WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData)
{
    if (uCommand == HELP_QUIT) {
        // HELP_QUIT closes the viewer of that file, or every viewer when no file is named.
        for (auto& [name, viewer] : kelvra::winhelp::viewers())
            if (viewer && (!lpszHelp || name == kelvra::winhelp::helpFileName(lpszHelp)))
                viewer->destroyWindow();
        return TRUE;
    }
    if (!lpszHelp)
        return FALSE;
    switch (uCommand) {
    case HELP_CONTENTS:
    case HELP_FINDER:
    case HELP_CONTEXT:
    case HELP_HELPONHELP: {
        // Topics have no context numbers here: every one of these starts from the contents.
        HelpViewer* viewer = kelvra::winhelp::openViewer(hWndMain, lpszHelp);
        viewer->showContents();
        viewer->show();
        viewer->raise();
        viewer->activateWindow();
        return TRUE;
    }
    case HELP_KEY: {
        HelpViewer* viewer = kelvra::winhelp::openViewer(hWndMain, lpszHelp);
        viewer->show();
        viewer->raise();
        if (dwData)
            viewer->search(reinterpret_cast<const char*>(dwData));
        return TRUE;
    }
    default:
        return FALSE;  // the other commands are not offered by this viewer
    }
}
