#include "GUI2/wizard_shell.hpp"
#include "support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

void make_file(const std::string& path, const std::string& bytes = "x") {
    fs::create_directories(fs::path(path).parent_path());
    test_support::write_file(path, bytes);
}

TEST(drelk_install_test, version_is_answered_without_a_display) {
    auto result = test_support::run_process({DRELK_PATH, "--version"},
                                            {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "drelk 1.1\n");
    EXPECT_EQ(result.err, "");
}

TEST(drelk_install_test, the_manual_beside_the_program_comes_before_the_installed_one) {
    test_support::temp_dir prefix;
    std::string program = prefix.file("bin/drelk");
    std::string beside = prefix.file("bin/drelk.html");
    std::string installed = prefix.file("share/doc/tabloxa/drelk.html");
    make_file(program);

    // Neither: the place beside the program, which the missing-file message is about.
    EXPECT_EQ(wizard_shell::find_help_file(program), beside);
    make_file(installed);
    EXPECT_EQ(wizard_shell::find_help_file(program), installed); // a plain path, no ".."
    make_file(beside);
    EXPECT_EQ(wizard_shell::find_help_file(program), beside);
    // A folder of that name is no manual.
    fs::remove(beside);
    fs::create_directory(beside);
    EXPECT_EQ(wizard_shell::find_help_file(program), installed);
}

// The install rules and the program's lookup agree: a wizard installed under any prefix finds
// the manual that was installed with it.
TEST(drelk_install_test, an_installed_wizard_finds_its_installed_manual) {
    test_support::temp_dir prefix;
    auto install = test_support::run_process(
        {TABLOXA_CMAKE_COMMAND, "--install", TABLOXA_BINARY_DIR, "--component", "wizard", "--prefix", prefix.path()});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    std::string program = prefix.file("bin/drelk");
    ASSERT_TRUE(fs::is_regular_file(program));
    EXPECT_FALSE(fs::exists(prefix.file("bin/drelk.html")));
    std::string manual = wizard_shell::find_help_file(program);
    EXPECT_EQ(manual, prefix.file("share/doc/tabloxa/drelk.html"));
    EXPECT_EQ(test_support::read_file(manual), test_support::read_file(TABLOXA_SOURCE_DIR "/src/wizard/drelk.html"));
}

} // namespace
