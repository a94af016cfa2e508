// WinHelpA and the help viewer: where the program's help path leads, the help book's links and
// search, one viewer per book, HELP_QUIT, and a missing book reported by the viewer itself.
#include <kelvra/platform/window.h>
#include <kelvra/winhelp/help_viewer.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include <cstdlib>
#include <memory>

namespace {

using kelvra::winhelp::helpViewer;
using kelvra::winhelp::HelpViewerControl;
using kelvra::winhelp::locateHelpFile;

const char* const kProgramHelp = "\\progra~1\\Kelvra\\kel.hlp";
const QString kBook = QStringLiteral(KELVRA_BINARY_DIR "/help");

class MainWindow : public QWidget, public kelvra::platform::Window {
public:
    QWidget* widget() const override { return const_cast<MainWindow*>(this); }
};

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("KELVRA_HELP_DIR", kBook.toLocal8Bit().constData(), 1);
        main_ = std::make_unique<MainWindow>();
        main_->show();
    }
    void TearDown() override
    {
        WinHelpA(nullptr, nullptr, HELP_QUIT, 0);
        main_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        unsetenv("KELVRA_HELP_DIR");
    }
    HelpViewerControl* openHelp(const char* path = kProgramHelp)
    {
        EXPECT_TRUE(WinHelpA(main_->handle(), path, HELP_CONTENTS, 0));
        return helpViewer(path);
    }
    std::unique_ptr<MainWindow> main_;
};

TEST_F(HelpTest, TheProgramsPathLeadsToTheBookInItsFolder)
{
    for (const char* path : {kProgramHelp, "KEL.HLP", "c:/Program Files/Kelvra/Kel.hlp"}) {
        auto location = locateHelpFile(path);
        EXPECT_TRUE(location.found) << path;
        EXPECT_EQ(location.contents, QDir(kBook).filePath("kel.html").toStdString()) << path;
    }
    unsetenv("KELVRA_HELP_DIR");
    auto beside = locateHelpFile(kProgramHelp);
    QString programDir = QCoreApplication::applicationDirPath();
    ASSERT_EQ(beside.searched.size(), 2u);
    EXPECT_EQ(beside.searched[0], QDir::cleanPath(programDir + "/help/kel.html").toStdString());
    EXPECT_EQ(beside.searched[1], QDir::cleanPath(programDir + "/../share/kelvra/help/kel.html").toStdString());
    auto other = locateHelpFile("\\progra~1\\Kelvra\\other.hlp");
    EXPECT_FALSE(other.found);
}

TEST_F(HelpTest, ContentsOpenNonModalAndAgainReusesTheViewer)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->fileFound());
    EXPECT_EQ(viewer->currentTopic(), "kel.html");
    EXPECT_EQ(viewer->currentTitle(), "Kelvra Time-lapse Help");
    QWidget* window = kelvra::platform::widgetFromHandle(viewer->handle());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->parentWidget(), main_.get()) << "owned by the main window, which is modal";

    ASSERT_TRUE(viewer->openTopic("player.html"));
    HWND first = viewer->handle();
    HelpViewerControl* again = openHelp();
    EXPECT_EQ(again->handle(), first) << "one viewer per help file";
    EXPECT_EQ(again->currentTopic(), "kel.html") << "HELP_CONTENTS returns to the contents";
}

TEST_F(HelpTest, LinksBackAndForward)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->back());

    // A real click on the contents' link to the player topic.
    auto* browser = kelvra::platform::widgetFromHandle(viewer->handle())->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    QTextCursor link = browser->document()->find(QStringLiteral("The player"));
    ASSERT_FALSE(link.isNull());
    browser->setTextCursor(link);
    browser->ensureCursorVisible();
    QPoint at = browser->cursorRect(link).center() - QPoint(4, 0);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
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

TEST_F(HelpTest, SearchFindsTextAcrossTopics)
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

    EXPECT_FALSE(viewer->search("power cut").empty()) << "phrases and any case";
    EXPECT_FALSE(viewer->search("POWER CUT").empty());
    EXPECT_TRUE(viewer->search("xylophone-quartz").empty());
    EXPECT_TRUE(viewer->search("   ").empty());
}

// The book itself: every page has a title and is reachable, every link leads to a page that
// exists, and the subjects users ask about are covered.
TEST_F(HelpTest, TheBookIsWholeAndCoversItsSubjects)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
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
            if (target.isEmpty())
                continue;
            EXPECT_TRUE(QFileInfo::exists(QDir(kBook).filePath(target))) << topic << " links to " << target.toStdString();
            linked.insert(target);
        }
    }
    for (const std::string& topic : topics)
        EXPECT_TRUE(linked.count(QString::fromStdString(topic))) << topic << " is linked from nowhere";

    const char* subjects[] = {"Capture Every", "Speed Fps", "GRAB SINGLE FRAME", "Video Compression", "Toggle Overlay",
                              "capture.avi", "Videos folder", "KELVRA_CAPTURE_DRIVERS", "power cut", "disk is full",
                              "Create Capture File", "Driver Error"};
    for (const char* subject : subjects)
        EXPECT_FALSE(viewer->search(subject).empty()) << subject;
}

TEST_F(HelpTest, QuitAndCloseDestroyTheViewer)
{
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    HWND hwnd = viewer->handle();
    EXPECT_TRUE(WinHelpA(main_->handle(), kProgramHelp, HELP_QUIT, 0));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(helpViewer(kProgramHelp), nullptr);

    viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    hwnd = viewer->handle();
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_NE(openHelp(), nullptr) << "it opens again after being closed";

    viewer = openHelp();
    hwnd = viewer->handle();
    main_.reset();
    EXPECT_FALSE(IsWindow(hwnd)) << "it goes with the window that owns it";

    auto* owner = new MainWindow;  // DestroyWindow deletes it
    ASSERT_TRUE(WinHelpA(owner->handle(), kProgramHelp, HELP_CONTENTS, 0));
    hwnd = helpViewer(kProgramHelp)->handle();
    EXPECT_TRUE(DestroyWindow(owner->handle()));
    EXPECT_FALSE(IsWindow(hwnd)) << "DestroyWindow of the owner takes the viewer too";
    EXPECT_EQ(helpViewer(kProgramHelp), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(HelpTest, AMissingBookIsReportedByTheViewer)
{
    QTemporaryDir empty;
    setenv("KELVRA_HELP_DIR", empty.path().toLocal8Bit().constData(), 1);
    HelpViewerControl* viewer = openHelp();
    ASSERT_NE(viewer, nullptr);
    EXPECT_FALSE(viewer->fileFound());
    std::string text = viewer->shownText();
    EXPECT_NE(text.find("cannot be found"), std::string::npos) << text;
    EXPECT_NE(text.find(kProgramHelp), std::string::npos) << "names what the program asked for";
    EXPECT_NE(text.find(empty.path().toStdString()), std::string::npos) << "and where it looked";
    EXPECT_TRUE(viewer->search("REC").empty());
    EXPECT_FALSE(viewer->openTopic("kel.html"));
    EXPECT_TRUE(kelvra::platform::widgetFromHandle(viewer->handle())->isVisible());

    EXPECT_FALSE(WinHelpA(main_->handle(), nullptr, HELP_CONTENTS, 0)) << "no file named";
    EXPECT_FALSE(WinHelpA(main_->handle(), kProgramHelp, HELP_SETCONTENTS, 0)) << "a command it does not offer";
}

}  // namespace
