// Values the timer or the capture file cannot take: the user is told which field needs what,
// and nothing else changes, a running recording included.
#include "app_fixture.h"
#include "cap_log.h"

namespace {

class Refusal : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        open("test");
        clearCapLog(CapWndCC);
    }

    // Presses `id` expecting one refusal box; returns its text.
    std::string refused(WORD id)
    {
        std::string seen;
        kt::scriptModal([&seen](QDialog& dialog, const kelvra::platform::ModalInfo& info) {
            EXPECT_EQ(info.caption, "Timing Controls");
            seen = info.text;
            dialog.done(IDOK);
        });
        EXPECT_EQ(command(id), TRUE);
        return seen;
    }

    void expectNothingChanged()
    {
        EXPECT_EQ(text(EDIT3), "READY");
        EXPECT_EQ(text(EDIT6), "");
        EXPECT_TRUE(capCalls(CapWndCC).empty());
        kt::advanceClock(200000000ull);
        EXPECT_EQ(text(EDIT6), "") << "no timer was started";
    }
};

TEST_F(Refusal, CaptureEveryEmptyZeroLettersOrOutOfRange)
{
    for (const char* every : {"", "0", "abc", "12x", "99999999"}) {
        timing("15", every);
        std::string message = refused(IDDREC);
        EXPECT_NE(message.find("Capture Every needs a whole number"), std::string::npos) << every << ": " << message;
        EXPECT_NE(message.find("from 1 to"), std::string::npos) << message;
        expectNothingChanged();
    }
}

TEST_F(Refusal, SpeedFpsZeroOrNotANumberForRecResumeAndGrab)
{
    for (WORD id : {IDDREC, IDRESU, IDMAN}) {
        for (const char* speed : {"0", "", "fast"}) {
            timing(speed, "5");
            std::string message = refused(id);
            EXPECT_NE(message.find("Speed Fps needs a whole number of frames per second"), std::string::npos)
                << id << " " << speed << ": " << message;
            expectNothingChanged();
        }
    }
}

TEST_F(Refusal, IntervalPastTheLongestNamesTheLimit)
{
    timing("15", "50", CBDAY);
    std::string message = refused(IDDREC);
    EXPECT_NE(message.find("4,294,967,295 ms"), std::string::npos) << message;
    EXPECT_NE(message.find("at most 49"), std::string::npos) << message;
    expectNothingChanged();
}

TEST_F(Refusal, ARefusalLeavesARunningRecordingAlone)
{
    timing("15", "2");
    command(IDDREC);
    kt::advanceClock(2000);
    EXPECT_EQ(text(EDIT6), "1");
    clearCapLog(CapWndCC);
    timing("15", "0");
    refused(IDRESU);
    EXPECT_EQ(text(EDIT3), "REC");
    EXPECT_EQ(text(EDIT6), "1");
    EXPECT_TRUE(capCalls(CapWndCC).empty());
    kt::advanceClock(2000);
    EXPECT_EQ(text(EDIT6), "2") << "the old interval goes on";
}

}  // namespace
