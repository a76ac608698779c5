#include "TK/tk_utils.hpp"
#include "support/test_support.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/profile_dialog.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

TEST(drelk_entry_test, the_title_has_the_version_and_an_empty_suffix) {
    EXPECT_EQ(drelk_title(), u"Tabloxa 1.1 ");
}

TEST(drelk_entry_test, the_arguments_are_joined_with_blanks_into_one_profile_path) {
    char prog[] = "drelk", a[] = "/home/u/my", b[] = "settings.kzt";
    char* argv[] = {prog, a, b, nullptr};
    EXPECT_EQ(drelk_command_line(3, argv), "/home/u/my settings.kzt");
    EXPECT_EQ(drelk_command_line(1, argv), "");
}

TEST(drelk_entry_test, the_qt_runtime_must_be_at_least_the_build_version) {
    EXPECT_TRUE(drelk_qt_version_ok(QT_VERSION_STR));
    EXPECT_TRUE(drelk_qt_version_ok("99.0.0"));
    EXPECT_FALSE(drelk_qt_version_ok("5.15.2"));
    EXPECT_FALSE(drelk_qt_version_ok("6"));
    EXPECT_FALSE(drelk_qt_version_ok(nullptr));
}

TEST(drelk_entry_test, without_a_display_the_program_says_so_and_ends_with_minus_one) {
    test_support::temp_dir home;
    auto result = test_support::run_process(
        {DRELK_PATH}, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "HOME=" + home.path(),
                       "XDG_CONFIG_HOME=" + home.path()});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Failed to initialize GUI library\n");
}

TEST(profile_dialog_test, filters_show_the_profile_extension_and_match_every_file_for_all_files) {
    EXPECT_EQ(profile_filters(u"kzt"), QStringList({"Profile Files (.kzt) (*.kzt)", "All Files (*.*) (*)"}));
}

TEST(profile_dialog_test, a_saved_name_gets_the_extension_unless_it_has_it) {
    EXPECT_EQ(profile_with_extension(u"/tmp/run", u"kzt"), u"/tmp/run.kzt");
    EXPECT_EQ(profile_with_extension(u"/tmp/run.kzt", u"kzt"), u"/tmp/run.kzt");
    EXPECT_EQ(profile_with_extension(u"/tmp/run.kzt.old", u"kzt"), u"/tmp/run.kzt.old");
}

TEST(profile_dialog_test, the_dialogs_start_in_a_writable_program_folder_else_at_home) {
    std::u16string start = profile_start_folder();
    std::string program_folder = tk_get_module_path();
    if (access(program_folder.c_str(), W_OK) == 0)
        EXPECT_EQ(start, tk_utf8_to_wstring(program_folder));
    else
        EXPECT_EQ(start, tk_utf8_to_wstring(std::getenv("HOME")));
    EXPECT_TRUE(test_support::run_unprivileged([] {
        // The unprivileged user cannot write the build folder: home it is.
        setenv("HOME", "/tmp", 1);
        return profile_start_folder() == u"/tmp";
    }));
}

} // namespace
