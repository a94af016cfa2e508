// The help viewer: a window with the help book's pages, links between them, back and forward,
// and a search across every page.
#pragma once

#include <kelvra/user/detached_handle.h>
#include <kelvra/winhelp/help_viewer.h>

#include <QString>
#include <QWidget>

#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QSplitter;
class QTextBrowser;

namespace kelvra::winhelp {

class HelpViewer : public QWidget, public HelpViewerControl, public platform::DetachedHandle::Owner {
public:
    HelpViewer(QWidget* owner, const HelpLocation& location, const std::string& requested);
    ~HelpViewer() override;

    HWND handle() const override { return hwnd(); }
    bool fileFound() const override { return location_.found; }
    std::string shownText() const override;
    std::string currentTopic() const override;
    std::string currentTitle() const override;
    bool openTopic(const std::string& topic) override;
    void showContents() override;
    bool back() override;
    bool forward() override;
    std::vector<SearchHit> search(const std::string& text) override;
    std::vector<std::string> topics() const override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Page {
        QString file;
        QString title;
        QString text;
    };
    QWidget* buildToolbar();
    void reportMissing(const std::string& requested);
    void loadPages();
    void openHit(int row);
    void placeNear(QWidget* owner);

    HelpLocation location_;
    QString folder_;
    std::vector<Page> pages_;  // read at the first search
    bool pagesLoaded_ = false;
    QString lastSearch_;
    std::vector<SearchHit> hits_;

    QTextBrowser* browser_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    QListWidget* results_ = nullptr;
    QLabel* resultsTitle_ = nullptr;
    QWidget* resultsPane_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QAction* contentsAction_ = nullptr;
    QAction* backAction_ = nullptr;
    QAction* forwardAction_ = nullptr;
};

}  // namespace kelvra::winhelp
