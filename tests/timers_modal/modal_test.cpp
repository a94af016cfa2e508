// runModal and the scripted answers: every modal window is answered or rejected, none hangs.
#include <kelvra/user/modal.h>
#include <kelvra/user/testing.h>

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

// Scripts answer in opening order; one may open another modal window, which takes the next
// script. With no script left a modal window is rejected at once and recorded.
TEST_F(ModalTest, ScriptedAnswersComeInOpeningOrderAndUnscriptedModalsAreRejected)
{
    int inner = -1;
    kt::scriptModal(kt::answer(7));
    kt::scriptModal(kt::cancel());
    kt::scriptModal([&inner](QDialog& dialog, const kp::ModalInfo& info) {
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(info.caption, "third");
        EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
        QDialog nested(&dialog);
        inner = kp::runModal(nested, dialogInfo("inner"));
        dialog.done(42);
    });
    kt::scriptModal(kt::answer(5));
    kt::scriptModal(kt::chooseFile("/tmp/x.avi"));  // on an ordinary dialog it rejects
    QDialog a, b, c, d;
    EXPECT_EQ(kp::runModal(a, dialogInfo("first")), 7);
    EXPECT_EQ(kp::runModal(b, dialogInfo("second")), QDialog::Rejected);
    EXPECT_EQ(kp::runModal(c, dialogInfo("third")), 42);
    EXPECT_EQ(inner, 5);
    EXPECT_FALSE(c.isVisible());
    EXPECT_EQ(kp::runModal(d, dialogInfo("not a chooser")), QDialog::Rejected);
    auto history = kt::modalHistory();
    ASSERT_EQ(history.size(), 5u);
    EXPECT_EQ(history[1].caption, "second");
    EXPECT_EQ(history[3].caption, "inner");
    EXPECT_TRUE(kt::unscriptedModals().empty());

    EXPECT_EQ(kp::runModal(a, {kp::ModalKind::MessageBox, "Exit", "Sure?"}), QDialog::Rejected);
    auto misses = kt::unscriptedModals();
    ASSERT_EQ(misses.size(), 1u);
    EXPECT_EQ(misses[0].kind, kp::ModalKind::MessageBox);
    EXPECT_EQ(misses[0].text, "Sure?");
    EXPECT_TRUE(kt::timedOutModals().empty());
}

// A dialog class that ignores reject() and done(), as a dialog manager that routes closing
// through its own procedure might: neither a missing script nor the safety net depends on them.
class StubbornDialog : public QDialog {
public:
    void reject() override {}
    void done(int) override {}
};

// A script that forgets to answer, a modal window opened behind runModal's back above it, and
// a dialog that refuses to close are all closed by the safety net.
TEST_F(ModalTest, SafetyNetClosesWhatAScriptLeavesOpen)
{
    StubbornDialog stubborn;
    EXPECT_EQ(kp::runModal(stubborn, dialogInfo("unscripted")), QDialog::Rejected);
    kt::setModalTimeout(100);
    bool innerReturned = false;
    kt::scriptModal([&innerReturned](QDialog& outer, const kp::ModalInfo&) {
        QDialog stray(&outer);
        stray.exec();
        innerReturned = true;
    });
    kt::scriptModal(kt::cancel());
    QDialog dialog;
    EXPECT_EQ(kp::runModal(dialog, dialogInfo("forgotten")), QDialog::Rejected);
    EXPECT_TRUE(innerReturned);
    EXPECT_EQ(kp::runModal(stubborn, dialogInfo("ignores cancel")), QDialog::Rejected);
    const auto timedOut = kt::timedOutModals();
    ASSERT_EQ(timedOut.size(), 2u);
    EXPECT_EQ(timedOut[0].caption, "forgotten");
    EXPECT_EQ(timedOut[1].caption, "ignores cancel");
}

TEST_F(ModalTest, ChooseFilePicksAnExistingFileNamesANewOneAndNeverHangs)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFileDialog chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setNameFilter("AVI files (*.avi)");
    kt::setModalTimeout(200);
    const QString existing = dir.filePath("clip.avi");
    std::ofstream(existing.toStdString()) << "x";
    const struct {
        QFileDialog::FileMode mode;
        QString path;
        int result;
    } cases[] = {
        {QFileDialog::ExistingFile, existing, QDialog::Accepted},
        {QFileDialog::AnyFile, dir.filePath("new capture.avi"), QDialog::Accepted},
        // Qt refuses a missing file here with a warning box of its own, which does not come
        // through runModal; the safety net closes both instead of hanging.
        {QFileDialog::ExistingFile, dir.filePath("missing.avi"), QDialog::Rejected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        chooser.setFileMode(c.mode);
        kt::scriptModal(kt::chooseFile(c.path.toStdString()));
        EXPECT_EQ(kp::runModal(chooser, {kp::ModalKind::FileChooser, "Open", ""}), c.result);
        if (c.result == QDialog::Accepted) {
            EXPECT_EQ(chooser.selectedFiles(), QStringList{c.path});
        }
    }
    EXPECT_EQ(kt::timedOutModals().size(), 1u);
}

}  // namespace
