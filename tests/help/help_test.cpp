// WinHelpA and the help viewer, and Help, QuickHelp and About as the main window runs them:
// where the program's help path leads, the book's links and search, one viewer per book and how
// it ends, a missing book, and the two dialogs from their templates with their exact texts.
#include "kelvra.h"

#include <kelvra/user/testing.h>
#include <kelvra/user/window.h>
#include <kelvra/winhelp/help_viewer.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

namespace {

namespace kt = kelvra::platform::testing;
using kelvra::platform::handleFromWidget;
using kelvra::platform::ModalInfo;
using kelvra::platform::widgetFromHandle;
using kelvra::winhelp::helpViewer;
using kelvra::winhelp::HelpViewerControl;

const QString kBook = QStringLiteral(KELVRA_BINARY_DIR "/help");
const char* const kQuickCaption = "Quick Reference of main controls";
const char* const kAboutCaption = "About Kelvra";
const char* const kLabel902 =
    "REC            - Starts capture at selected speed.              STOPALL   - Stops all Capture          "
    "                             PAUSE       - Pauses current capture                  RESUME    - Resumes "
    "paused capture          ";
const char* const kLabel903 =
    "GRAB SINGLE FRAME - Capture single frame to file                    CAPTURE FILE             - Creates "
    "a capture file                          VIDEO PLAYER             - Launches the AVI player controls";
const char* const kLabel904 =
    "For more detailed information see the help file in the Kelvra directory or by pressing help ";
const char* const kLabel204 = "For information about updates please see the help file or visit.";

class MainWindow : public QWidget, public kelvra::platform::Window {
public:
    QWidget* widget() const override { return const_cast<MainWindow*>(this); }
};

// Rendered and checked always; written to KELVRA_SHOTS_DIR only when that is set.
void saveShot(QWidget& window, const char* name)
{
    QImage image = window.grab().toImage();
    ASSERT_FALSE(image.isNull()) << name;
    if (const char* dir = std::getenv("KELVRA_SHOTS_DIR")) {
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(QDir(dir).filePath(name))) << name;
    }
}

class HelpFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("KELVRA_HELP_DIR", kBook.toLocal8Bit().constData(), 1);
        kt::useVirtualClock();
        kt::enableScriptedModals();
        hInst = GetModuleHandleA(nullptr);
        main_ = std::make_unique<MainWindow>();
        main_->resize(600, 300);
        main_->show();
    }
    void TearDown() override
    {
        EXPECT_TRUE(kt::unscriptedModals().empty()) << "a modal window opened without an answer";
        EXPECT_TRUE(kt::timedOutModals().empty());
        EXPECT_EQ(kt::pendingModalScripts(), 0u);
        WinHelpA(nullptr, nullptr, HELP_QUIT, 0);
        main_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        kt::clearModalScripts();
        kt::disableScriptedModals();
        kt::useRealClock();
        unsetenv("KELVRA_HELP_DIR");
    }

    HelpViewerControl* openHelp()
    {
        EXPECT_TRUE(WinHelpA(main_->handle(), HELP_FILE_PATH, HELP_CONTENTS, 0));
        return helpViewer(HELP_FILE_PATH);
    }

    // Runs `command` (cmdquickhelp or cmdabout) with `inside` answering the dialog.
    void run(BOOL (*command)(HWND), const char* caption, const std::function<void(HWND, QDialog&)>& inside)
    {
        kt::scriptModal([&](QDialog& dialog, const ModalInfo& info) {  // TearDown checks it was used
            EXPECT_EQ(info.caption, caption);
            EXPECT_EQ(dialog.parentWidget(), main_.get()) << "owned by the main window";
            inside(handleFromWidget(&dialog), dialog);
        });
        EXPECT_EQ(command(main_->handle()), TRUE);
    }

    // Escape and other commands leave the dialog open and OK ends it; a second showing is ended
    // by its close box. `texts` checks what it shows first.
    void endsByOkOrCloseBoxNotEscape(BOOL (*command)(HWND), const char* caption, DLGPROC proc,
                                     const std::function<void(HWND)>& texts)
    {
        run(command, caption, [&](HWND dialog, QDialog& widget) {
            texts(dialog);
            QTest::keyClick(&widget, Qt::Key_Escape);
            EXPECT_TRUE(widget.isVisible()) << "Escape is command 2, which it leaves alone";
            EXPECT_EQ(proc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
            EXPECT_EQ(proc(dialog, WM_COMMAND, MAKEWPARAM(902, BN_CLICKED), 0), FALSE);
            QTest::mouseClick(widgetFromHandle(GetDlgItem(dialog, IDINFOOK)), Qt::LeftButton);
            EXPECT_FALSE(widget.isVisible());
        });
        run(command, caption, [](HWND, QDialog& widget) { widget.close(); });
    }

    static std::string itemText(HWND dialog, int id)
    {
        char text[512] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }

    // The label shows all of its text inside its own rectangle: laid out as the static control
    // draws it (wrapped at its width, or on one line), nothing falls outside.
    static void expectFits(HWND dialog, int id, bool wraps)
    {
        QWidget* label = widgetFromHandle(GetDlgItem(dialog, id));
        ASSERT_NE(label, nullptr) << id;
        QString text = QString::fromLocal8Bit(itemText(dialog, id).c_str());
        int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs | (wraps ? Qt::TextWordWrap : Qt::TextSingleLine);
        QRect needed = QFontMetrics(label->font()).boundingRect(QRect(0, 0, label->width(), 10000), flags, text);
        EXPECT_LE(needed.width(), label->width()) << "label " << id << " runs past its right edge";
        EXPECT_LE(needed.height(), label->height()) << "label " << id << " cuts off its last lines";
    }

    std::unique_ptr<MainWindow> main_;
};

using HelpTest = HelpFixture;
using InfoDialogs = HelpFixture;
using HelpPictures = HelpFixture;

TEST_F(HelpTest, TheProgramsPathLeadsToTheBookInItsFolder)
{
    for (const char* path : {HELP_FILE_PATH, "KEL.HLP", "c:/Program Files/Kelvra/Kel.hlp"}) {
        auto location = kelvra::winhelp::locateHelpFile(path);
        EXPECT_TRUE(location.found) << path;
        EXPECT_EQ(location.contents, QDir(kBook).filePath("kel.html").toStdString()) << path;
    }
    unsetenv("KELVRA_HELP_DIR");
    auto beside = kelvra::winhelp::locateHelpFile(HELP_FILE_PATH);
    QString programDir = QCoreApplication::applicationDirPath();
    ASSERT_EQ(beside.searched.size(), 2u);
    EXPECT_EQ(beside.searched[0], QDir::cleanPath(programDir + "/help/kel.html").toStdString());
    EXPECT_EQ(beside.searched[1], QDir::cleanPath(programDir + "/../share/kelvra/help/kel.html").toStdString());
    EXPECT_FALSE(kelvra::winhelp::locateHelpFile("\\progra~1\\Kelvra\\other.hlp").found);
}

TEST_F(HelpTest, OneNonModalViewerPerBookUntilQuitCloseOrItsOwnerEndsIt)
{
    EXPECT_EQ(cmdhelp(main_->handle()), TRUE);
    HelpViewerControl* viewer = helpViewer(HELP_FILE_PATH);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->fileFound());
    EXPECT_EQ(viewer->currentTopic(), "kel.html");
    EXPECT_EQ(viewer->currentTitle(), "Kelvra Time-lapse Help");
    QWidget* window = widgetFromHandle(viewer->handle());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->parentWidget(), main_.get()) << "owned by the main window, which is modal";
    ASSERT_TRUE(viewer->openTopic("player.html"));
    HelpViewerControl* again = openHelp();
    EXPECT_EQ(again->handle(), viewer->handle()) << "one viewer per help file";
    EXPECT_EQ(again->currentTopic(), "kel.html") << "HELP_CONTENTS returns to the contents";

    for (bool quit : {true, false}) {  // HELP_QUIT, then the close box; it opens again after each
        SCOPED_TRACE(quit ? "HELP_QUIT" : "WM_CLOSE");
        viewer = openHelp();
        ASSERT_NE(viewer, nullptr);
        HWND hwnd = viewer->handle();
        if (quit)
            EXPECT_TRUE(WinHelpA(main_->handle(), HELP_FILE_PATH, HELP_QUIT, 0));
        else
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_EQ(helpViewer(HELP_FILE_PATH), nullptr);
    }

    // The dialog that owns it ends by DestroyWindow, which takes the viewer too.
    HWND hwnd = openHelp()->handle();
    EXPECT_TRUE(DestroyWindow(main_.release()->handle()));  // which deletes the window
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(helpViewer(HELP_FILE_PATH), nullptr);
}

TEST_F(HelpTest, LinksBackAndForward)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->back());

    // A real click on the contents' link to the player topic.
    auto* browser = widgetFromHandle(viewer->handle())->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    QTextCursor link = browser->document()->find(QStringLiteral("The player"));
    ASSERT_FALSE(link.isNull());
    browser->setTextCursor(link);
    browser->ensureCursorVisible();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, browser->cursorRect(link).center() - QPoint(4, 0));
    EXPECT_EQ(viewer->currentTopic(), "player.html");

    ASSERT_TRUE(viewer->openTopic("timing.html"));
    EXPECT_TRUE(viewer->back());
    EXPECT_EQ(viewer->currentTopic(), "player.html");
    EXPECT_TRUE(viewer->back());
    EXPECT_EQ(viewer->currentTopic(), "kel.html");
    EXPECT_TRUE(viewer->forward());
    EXPECT_TRUE(viewer->forward());
    EXPECT_EQ(viewer->currentTopic(), "timing.html");
    EXPECT_FALSE(viewer->forward());
    EXPECT_FALSE(viewer->openTopic("no-such-topic.html"));
    EXPECT_EQ(viewer->currentTopic(), "timing.html");
}

// The book itself: every page has a title and is reachable, every link leads to a page that
// exists, and search finds the subjects users ask about.
TEST_F(HelpTest, TheBookIsWholeAndSearchFindsItsSubjects)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    auto hits = viewer->search("KELVRA_CAPTURE_DRIVERS");
    ASSERT_FALSE(hits.empty());
    bool camera = false;
    for (const auto& hit : hits) {
        camera = camera || hit.topic == "camera.html";
        EXPECT_NE(hit.excerpt.find("KELVRA_CAPTURE_DRIVERS"), std::string::npos) << hit.topic;
    }
    EXPECT_TRUE(camera);
    EXPECT_EQ(viewer->currentTopic(), hits.front().topic) << "the first hit opens";
    EXPECT_FALSE(viewer->search("POWER CUT").empty()) << "phrases, in any case";
    EXPECT_TRUE(viewer->search("xylophone-quartz").empty());
    EXPECT_TRUE(viewer->search("   ").empty());
    std::vector<std::string> topics = viewer->topics();
    ASSERT_GE(topics.size(), 8u);
    EXPECT_EQ(topics.front(), "kel.html");
    std::set<QString> linked = {QStringLiteral("kel.html")};
    QRegularExpression href(QStringLiteral("href=\"([^\"#]*)(#[^\"]*)?\""));
    for (const std::string& topic : topics) {
        QFile file(QDir(kBook).filePath(QString::fromStdString(topic)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << topic;
        QString html = QString::fromUtf8(file.readAll());
        QTextDocument document;
        document.setHtml(html);
        EXPECT_FALSE(document.metaInformation(QTextDocument::DocumentTitle).isEmpty()) << topic;
        for (auto it = href.globalMatch(html); it.hasNext();) {
            QString target = it.next().captured(1);
            EXPECT_TRUE(target.isEmpty() || QFile::exists(QDir(kBook).filePath(target))) << topic << " links to " << target.toStdString();
            linked.insert(target);
        }
    }
    for (const std::string& topic : topics)
        EXPECT_TRUE(linked.count(QString::fromStdString(topic))) << topic << " is linked from nowhere";
    for (const char* subject : {"Capture Every", "Speed Fps", "GRAB SINGLE FRAME", "Video Compression", "Toggle Overlay",
                                "capture.avi", "Videos folder", "KELVRA_CAPTURE_DRIVERS", "power cut", "disk is full",
                                "Create Capture File", "Driver Error", "journal", "present pace"})
        EXPECT_FALSE(viewer->search(subject).empty()) << subject;
}

// Words are found in any order, the pages with them as typed first; quotes keep a phrase. Long
// titles wrap in the results list instead of being cut at its edge.
TEST_F(HelpTest, SearchFindsWordsInAnyOrderAndListsLongTitlesWhole)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    auto topicsOf = [&](const char* query) {
        std::vector<std::string> found;
        for (const auto& hit : viewer->search(query))
            found.push_back(hit.topic);
        return found;
    };
    const std::vector<std::string> anyOrder = topicsOf("disk full");
    EXPECT_NE(std::find(anyOrder.begin(), anyOrder.end(), "safety.html"), anyOrder.end()) << "\"a full disk\"";
    const std::vector<std::string> phrase = topicsOf("full disk");
    ASSERT_FALSE(phrase.empty());
    EXPECT_EQ(std::set<std::string>(phrase.begin(), phrase.end()), std::set<std::string>(anyOrder.begin(), anyOrder.end()));
    EXPECT_NE(viewer->search("full disk").front().excerpt.find("full disk"), std::string::npos) << "as typed first";
    const std::vector<std::string> quoted = topicsOf("\"disk full\"");
    EXPECT_LT(quoted.size(), anyOrder.size());
    for (const auto& hit : viewer->search("\"disk full\""))
        EXPECT_NE(QString::fromStdString(hit.excerpt).indexOf("disk full", 0, Qt::CaseInsensitive), -1) << hit.topic;
    EXPECT_TRUE(topicsOf("disk xylophone").empty());

    const std::vector<std::string> speed = topicsOf("fps speed");
    ASSERT_NE(std::find(speed.begin(), speed.end(), "timing.html"), speed.end());
    auto* list = widgetFromHandle(viewer->handle())->findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    QCoreApplication::processEvents();
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* item = list->item(row);
        const QRect shown = list->visualItemRect(item);
        const QRect needed = list->fontMetrics().boundingRect(QRect(0, 0, shown.width(), 1000),
                                                               Qt::TextWordWrap, item->text());
        EXPECT_LE(shown.right(), list->viewport()->width()) << item->text().toStdString();
        EXPECT_GE(shown.height(), needed.height()) << item->text().toStdString() << " is cut";
    }
    saveShot(*widgetFromHandle(viewer->handle()), "help-search-words.png");
}

TEST_F(HelpTest, AMissingBookIsReportedByTheViewerNotByABox)
{
    QTemporaryDir empty;
    setenv("KELVRA_HELP_DIR", empty.path().toLocal8Bit().constData(), 1);
    EXPECT_EQ(cmdhelp(main_->handle()), TRUE) << "the program carries on";
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->fileFound());
    std::string text = viewer->shownText();
    EXPECT_NE(text.find("cannot be found"), std::string::npos) << text;
    EXPECT_NE(text.find(HELP_FILE_PATH), std::string::npos) << "names what the program asked for";
    EXPECT_NE(text.find(empty.path().toStdString()), std::string::npos) << "and where it looked";
    EXPECT_TRUE(viewer->search("REC").empty());
    EXPECT_FALSE(viewer->openTopic("kel.html"));
    EXPECT_TRUE(widgetFromHandle(viewer->handle())->isVisible());
    EXPECT_TRUE(kt::modalHistory().empty()) << "no modal box: the viewer's own window says it";

    EXPECT_FALSE(WinHelpA(main_->handle(), nullptr, HELP_CONTENTS, 0)) << "no file named";
    EXPECT_FALSE(WinHelpA(main_->handle(), HELP_FILE_PATH, HELP_SETCONTENTS, 0)) << "a command it does not offer";
}

TEST_F(InfoDialogs, QuickReferenceShowsItsTextsAndEndsByOkOrCloseBoxNotEscape)
{
    endsByOkOrCloseBoxNotEscape(cmdquickhelp, kQuickCaption, QuickHelp, [](HWND dialog) {
        EXPECT_EQ(itemText(dialog, 902), kLabel902) << "runs of blanks and trailing blanks kept";
        EXPECT_EQ(itemText(dialog, 903), kLabel903);
        EXPECT_EQ(itemText(dialog, 904), kLabel904);
        EXPECT_EQ(itemText(dialog, IDINFOOK), "OK");
        for (int id : {902, 903, 904})
            expectFits(dialog, id, true);
    });
}

TEST_F(InfoDialogs, AboutShowsItsTextsAndEndsByOkOrCloseBoxNotEscape)
{
    endsByOkOrCloseBoxNotEscape(cmdabout, kAboutCaption, AboutDlg, [](HWND dialog) {
        EXPECT_EQ(itemText(dialog, 201).rfind("Version 1.2", 0), 0u) << itemText(dialog, 201);
        EXPECT_EQ(itemText(dialog, 204), kLabel204);
        for (int id : {206, 207})
            EXPECT_EQ(itemText(dialog, id).rfind("https://kelvra.example/", 0), 0u) << "the project's own address";
        EXPECT_FALSE(itemText(dialog, 202).empty());
        expectFits(dialog, 201, false);
        for (int id : {202, 204, 206, 207})
            expectFits(dialog, id, true);
    });
}

TEST_F(HelpPictures, QuickReferenceAboutAndTheHelpViewer)
{
    run(cmdquickhelp, kQuickCaption, [](HWND, QDialog& dialog) {
        saveShot(dialog, "quick-reference.png");
        dialog.close();
    });
    run(cmdabout, kAboutCaption, [](HWND, QDialog& dialog) {
        saveShot(dialog, "about.png");
        dialog.close();
    });
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    QWidget* window = widgetFromHandle(viewer->handle());
    saveShot(*window, "help-contents.png");
    viewer->openTopic("timing.html");
    saveShot(*window, "help-timing.png");
    viewer->search("power cut");
    saveShot(*window, "help-search.png");
    WinHelpA(main_->handle(), HELP_FILE_PATH, HELP_QUIT, 0);
    setenv("KELVRA_HELP_DIR", "/nonexistent-kelvra-help", 1);
    viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    saveShot(*widgetFromHandle(viewer->handle()), "help-missing.png");
}

}  // namespace
