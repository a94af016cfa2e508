// Test entry: GoogleTest with one QApplication, on Qt's offscreen platform unless a display is
// chosen explicitly (KELVRA_TEST_DISPLAY=1 keeps QT_QPA_PLATFORM as the environment has it).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("KELVRA_TEST_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
