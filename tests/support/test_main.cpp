#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test runs inside one application object so that timers, the event loop
// and painting work as they do in the program; headless by default.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
