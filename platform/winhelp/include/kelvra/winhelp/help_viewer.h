// The help viewer behind WinHelpA, as the platform's tests and tools reach it.
//
// Where a help file is found: the program names its help file by a Windows path such as
// "\progra~1\Kelvra\kel.hlp". Only the file name counts; "kel.hlp" (any case) is the help
// book whose contents page is "kel.html", looked for in this order:
//   1. the folder named by KELVRA_HELP_DIR, when that is set (a platform setting, like
//      KELVRA_CAPTURE_DRIVERS);
//   2. "help/" next to the executable (where the build puts resources/help);
//   3. "../share/kelvra/help/" from the executable's folder (an installed layout).
// The book's other topics are the pages beside the contents page.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kelvra::winhelp {

struct HelpLocation {
    std::string contents;                 // the contents page found, or the first place looked
    bool found = false;
    std::vector<std::string> searched;    // every place looked, in order
};
HelpLocation locateHelpFile(const std::string& helpPath);

struct SearchHit {
    std::string topic;  // the page's file name, such as "player.html"
    std::string title;  // the page's title
    std::string excerpt;
};

class HelpViewerControl {
public:
    virtual ~HelpViewerControl() = default;
    virtual HWND handle() const = 0;
    virtual bool fileFound() const = 0;
    virtual std::string shownText() const = 0;     // the text of the page on screen
    virtual std::string currentTopic() const = 0;  // file name of the page on screen; empty for a report
    virtual std::string currentTitle() const = 0;
    virtual bool openTopic(const std::string& topic) = 0;  // a page of the book, by file name
    virtual void showContents() = 0;
    virtual bool back() = 0;
    virtual bool forward() = 0;
    virtual std::vector<SearchHit> search(const std::string& text) = 0;  // also lists the hits
    virtual std::vector<std::string> topics() const = 0;  // every page of the book
};

// The open viewer of that help file (by the program's path), or nullptr.
HelpViewerControl* helpViewer(const std::string& helpPath);

}  // namespace kelvra::winhelp
