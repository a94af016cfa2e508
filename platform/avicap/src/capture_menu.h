// The one context menu of the capture window, shared by the preview and its Live View: built
// once here, its entries enabled and checked from the window's state each time it opens.
#pragma once

#include <QPoint>

#include <functional>

#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;

namespace kelvra::avicap {

class CaptureWindow;

class CaptureMenu {
public:
    explicit CaptureMenu(CaptureWindow& window);
    ~CaptureMenu();
    CaptureMenu(const CaptureMenu&) = delete;
    CaptureMenu& operator=(const CaptureMenu&) = delete;

    void popup(const QPoint& globalPos);
    void refresh();  // enabled and checked states from the window, as when it opens

    // For tests: every entry as "Submenu/Entry" (the text before its key hint), and triggering
    // one by that path as a click would; false when there is none or it is disabled.
    struct Entry {
        std::string path;
        bool enabled = false, checkable = false, checked = false;
    };
    std::vector<Entry> entries();
    bool trigger(const std::string& path);

private:
    QAction* add(QMenu* menu, const char* text, void (CaptureMenu::*slot)());
    void buildOnionMenu();
    void buildPlayMenu();

    CaptureWindow& window_;
    QMenu* menu_;
    QAction* liveView_ = nullptr;
    QActionGroup* onionFrames_ = nullptr;
    QActionGroup* onionOpacity_ = nullptr;
    QAction* difference_ = nullptr;
    QAction* play_ = nullptr;
    QMenu* playLast_ = nullptr;
    QActionGroup* playFrames_ = nullptr;
    QAction* loop_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* remove_ = nullptr;
    QAction* putBack_ = nullptr;
    std::function<void()> timeLapseRefresh_;
};

// The time-lapse entries at the end of the menu (Capture Hours, capture_hours_menu.cpp); answers
// what brings them up to date with the window when the menu opens.
std::function<void()> addTimeLapseEntries(QMenu& menu, CaptureWindow& window);

}  // namespace kelvra::avicap
