#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// One QApplication for every test, offscreen, with a home of its own so that nothing of the
// machine's user (settings, mail program, browser) is read or touched.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char home_template[] = "/tmp/tabloxa-wizard-home-XXXXXX";
    const char* home = mkdtemp(home_template);
    if (!home) return 2;
    setenv("HOME", home, 1);
    setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home, 1);
    std::setlocale(LC_CTYPE, "");
    ::testing::InitGoogleTest(&argc, argv);
    // Qt runs threads of its own: death tests start afresh rather than fork a threaded process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
