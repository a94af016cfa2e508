// runModal and the scripted answers: every modal window is answered or rejected, none hangs.
#include <kelvra/platform/modal.h>
#include <kelvra/platform/testing.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QTemporaryDir>

#include <fstream>

namespace kp = kelvra::platform;
namespace kt = kelvra::platform::testing;

namespace {

class ModalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kt::clearModalScripts();
        kt::enableScriptedModals();
        kt::setModalTimeout(0);
    }
    void TearDown() override
    {
        EXPECT_EQ(kt::pendingModalScripts(), 0u);
        kt::clearModalScripts();
    }
};

kp::ModalInfo dialogInfo(const char* caption)
{
    return {kp::ModalKind::Dialog, caption, ""};
}

TEST_F(ModalTest, ScriptedAnswersReturnTheirResultInOpeningOrder)
{
    kt::scriptModal(kt::answer(7));
    kt::scriptModal(kt::cancel());
    kt::scriptModal([](QDialog& dialog, const kp::ModalInfo& info) {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(info.caption, "third");
        EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
        dialog.done(42);
    });
    QDialog a, b, c;
    EXPECT_EQ(kp::runModal(a, dialogInfo("first")), 7);
    EXPECT_EQ(kp::runModal(b, dialogInfo("second")), QDialog::Rejected);
    EXPECT_EQ(kp::runModal(c, dialogInfo("third")), 42);
    EXPECT_FALSE(c.isVisible());
    auto history = kt::modalHistory();
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[1].caption, "second");
    EXPECT_TRUE(kt::unscriptedModals().empty());
}

TEST_F(ModalTest, UnscriptedModalIsRejectedAtOnceAndRecorded)
{
    QDialog dialog;
    EXPECT_EQ(kp::runModal(dialog, {kp::ModalKind::MessageBox, "Exit", "Sure?"}),
              QDialog::Rejected);
    auto misses = kt::unscriptedModals();
    ASSERT_EQ(misses.size(), 1u);
    EXPECT_EQ(misses[0].kind, kp::ModalKind::MessageBox);
    EXPECT_EQ(misses[0].text, "Sure?");
    EXPECT_TRUE(kt::timedOutModals().empty());
}

// A script may open another modal window; the nested one takes the next script.
TEST_F(ModalTest, NestedModalTakesTheNextScript)
{
    int inner = -1;
    kt::scriptModal([&inner](QDialog& outer, const kp::ModalInfo&) {
        QDialog nested(&outer);
        inner = kp::runModal(nested, dialogInfo("inner"));
        outer.done(3);
    });
    kt::scriptModal(kt::answer(5));
    QDialog dialog;
    EXPECT_EQ(kp::runModal(dialog, dialogInfo("outer")), 3);
    EXPECT_EQ(inner, 5);
    ASSERT_EQ(kt::modalHistory().size(), 2u);
    EXPECT_EQ(kt::modalHistory()[1].caption, "inner");
}

// A script that forgets to answer, and a modal window opened behind runModal's back above it,
// are both closed by the safety net.
TEST_F(ModalTest, SafetyNetClosesAForgottenModalAndWhatIsAboveIt)
{
    kt::setModalTimeout(100);
    bool innerReturned = false;
    kt::scriptModal([&innerReturned](QDialog& outer, const kp::ModalInfo&) {
        QDialog stray(&outer);
        stray.exec();
        innerReturned = true;
    });
    QDialog dialog;
    EXPECT_EQ(kp::runModal(dialog, dialogInfo("forgotten")), QDialog::Rejected);
    EXPECT_TRUE(innerReturned);
    ASSERT_EQ(kt::timedOutModals().size(), 1u);
    EXPECT_EQ(kt::timedOutModals()[0].caption, "forgotten");
}

// A dialog class that ignores reject() and done(), as a dialog manager that routes closing
// through its own procedure might: neither a missing script nor the safety net depends on them.
class StubbornDialog : public QDialog {
public:
    void reject() override {}
    void done(int) override {}
};

TEST_F(ModalTest, DialogThatRefusesToCloseIsClosedAnyway)
{
    StubbornDialog dialog;
    EXPECT_EQ(kp::runModal(dialog, dialogInfo("unscripted")), QDialog::Rejected);
    kt::setModalTimeout(100);
    kt::scriptModal(kt::cancel());
    EXPECT_EQ(kp::runModal(dialog, dialogInfo("ignores cancel")), QDialog::Rejected);
    ASSERT_EQ(kt::timedOutModals().size(), 1u);
    EXPECT_EQ(kt::timedOutModals()[0].caption, "ignores cancel");
}

class ChooseFileTest : public ModalTest {
protected:
    QTemporaryDir dir;
    QFileDialog chooser;
    void SetUp() override
    {
        ModalTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        chooser.setNameFilter("AVI files (*.avi)");
    }
};

TEST_F(ChooseFileTest, PicksAnExistingFile)
{
    const std::string path = dir.filePath("clip.avi").toStdString();
    std::ofstream(path) << "x";
    chooser.setFileMode(QFileDialog::ExistingFile);
    kt::scriptModal(kt::chooseFile(path));
    ASSERT_EQ(kp::runModal(chooser, {kp::ModalKind::FileChooser, "Open", ""}), QDialog::Accepted);
    ASSERT_EQ(chooser.selectedFiles().size(), 1);
    EXPECT_EQ(chooser.selectedFiles()[0].toStdString(), path);
}

TEST_F(ChooseFileTest, NamesANewFileWhenAnyFileIsAllowed)
{
    const std::string path = dir.filePath("new capture.avi").toStdString();
    chooser.setFileMode(QFileDialog::AnyFile);
    kt::scriptModal(kt::chooseFile(path));
    ASSERT_EQ(kp::runModal(chooser, {kp::ModalKind::FileChooser, "Open", ""}), QDialog::Accepted);
    ASSERT_EQ(chooser.selectedFiles().size(), 1);
    EXPECT_EQ(chooser.selectedFiles()[0].toStdString(), path);
}

// Qt refuses a missing file in an "existing file" chooser with a warning box of its own, which
// does not come through runModal; the safety net closes both instead of hanging.
TEST_F(ChooseFileTest, MissingFileInAnExistingFileChooserTimesOutInsteadOfHanging)
{
    kt::setModalTimeout(200);
    chooser.setFileMode(QFileDialog::ExistingFile);
    kt::scriptModal(kt::chooseFile(dir.filePath("missing.avi").toStdString()));
    EXPECT_EQ(kp::runModal(chooser, {kp::ModalKind::FileChooser, "Open", ""}), QDialog::Rejected);
    EXPECT_EQ(kt::timedOutModals().size(), 1u);
}

TEST_F(ChooseFileTest, OnAnOrdinaryDialogItRejects)
{
    QDialog dialog;
    kt::scriptModal(kt::chooseFile("/tmp/x.avi"));
    EXPECT_EQ(kp::runModal(dialog, dialogInfo("not a chooser")), QDialog::Rejected);
}

}  // namespace
