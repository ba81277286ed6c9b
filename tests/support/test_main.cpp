#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <filesystem>
#include <string>

// Every test runs inside one application object so that timers, the event loop
// and painting work as they do in the program; headless by default.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);

    // A temporary folder of the run's own: process-wide settings and background work that
    // finish after a test's cleanup still write under it, and it goes as a whole at the end.
    std::string temporary = (std::filesystem::temp_directory_path() / "fotivela-test-XXXXXX").string();
    const bool ownTemporary = ::mkdtemp(temporary.data()) != nullptr;
    if (ownTemporary) {
        // Others may pass through, as through the shared one: some tests act as another user.
        ::chmod(temporary.c_str(), 0711);
        setenv("TMPDIR", temporary.c_str(), 1);
    }

    ::testing::InitGoogleTest(&argc, argv);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (ownTemporary) {
        std::error_code ignored;
        std::filesystem::remove_all(temporary, ignored);
    }
    return result;
}
