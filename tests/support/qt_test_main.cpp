// Test entry: GoogleTest with one QApplication, on Qt's offscreen platform unless a display is
// chosen explicitly (KELVRA_TEST_DISPLAY=1 keeps QT_QPA_PLATFORM as the environment has it).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

// The offscreen platform says so each time a window asks for something it cannot do (raise,
// size hints); that is expected here and would bury the test output.
static void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    qt_message_output(type, context, message);
}

int main(int argc, char** argv)
{
    qInstallMessageHandler(quietOffscreen);
    if (!std::getenv("KELVRA_TEST_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
