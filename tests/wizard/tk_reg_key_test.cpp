#include "TK/tk_exception.hpp"
#include "TK/tk_reg_key.hpp"
#include "support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {

const char key_path[] = "Software\\Quorvane\\Tabloxa";

struct reg_key_test : ::testing::Test {
    temp_dir dir;
    tk_reg_hive hive{dir.file("cfg/Quorvane/Tabloxa.conf")};
    // For tests that write the file themselves.
    void make_folder() { std::filesystem::create_directories(dir.file("cfg/Quorvane")); }
};

TEST_F(reg_key_test, values_of_both_types_survive_a_close_and_reopen) {
    {
        tk_reg_key key(key_path);
        ASSERT_TRUE(key.open(&hive, tk_reg_key::all_access));
        EXPECT_TRUE(key.set_value(4000000000u, "big"));
        EXPECT_TRUE(key.set_value(u"C:\\a=b\nline two\r\u00e9\U0001F600", "text"));
        EXPECT_TRUE(key.set_value(u"", "empty"));
        EXPECT_TRUE(key.close());
    }
    tk_reg_key key(key_path);
    ASSERT_TRUE(key.open(&hive, tk_reg_key::all_access));
    std::uint32_t number = 0;
    EXPECT_TRUE(key.get_value(number, "big"));
    EXPECT_EQ(number, 4000000000u);

    std::u16string expected = u"C:\\a=b\nline two\r\u00e9\U0001F600";
    std::uint32_t size = 0;
    ASSERT_TRUE(key.get_value(nullptr, "text", &size));
    EXPECT_EQ(size, 2 * (expected.size() + 1)); // wide text with its terminator
    std::u16string text;
    EXPECT_TRUE(key.serialize(false, "text", text));
    EXPECT_EQ(text, expected);

    // An empty string counts as missing for the typed read and leaves the setting alone.
    std::u16string kept = u"kept";
    EXPECT_FALSE(key.serialize(false, "empty", kept));
    EXPECT_EQ(kept, u"kept");
}

TEST_F(reg_key_test, the_store_is_owner_only_and_keeps_other_keys) {
    make_folder();
    write_file(dir.file("cfg/Quorvane/Tabloxa.conf"), "");
    chmod(dir.file("cfg/Quorvane/Tabloxa.conf").c_str(), 0644);
    {
        tk_reg_key other("Software\\Other");
        ASSERT_TRUE(other.open(&hive, tk_reg_key::all_access));
        other.set_value(7u, "seven");
    }
    {
        tk_reg_key key(key_path);
        ASSERT_TRUE(key.open(&hive, tk_reg_key::all_access));
        key.set_value(1u, "one");
    }
    struct stat st;
    ASSERT_EQ(stat(hive.file_name().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string text = read_file(hive.file_name());
    EXPECT_NE(text.find("[Software\\Other]\nseven=dword:7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Software\\Quorvane\\Tabloxa]\none=dword:1\n"), std::string::npos) << text;
}

TEST_F(reg_key_test, a_key_opened_but_never_written_creates_no_file) {
    tk_reg_key key(key_path);
    ASSERT_TRUE(key.open(&hive, tk_reg_key::all_access));
    EXPECT_TRUE(key.close());
    struct stat st;
    EXPECT_NE(stat(hive.file_name().c_str(), &st), 0);
}

TEST_F(reg_key_test, damaged_lines_are_skipped_and_types_are_not_mixed_up) {
    make_folder();
    write_file(hive.file_name(), "garbage before any key\n"
                                 "[Software\\Quorvane\\Tabloxa]\n"
                                 "n_comma=dword:-1\n"
                                 "inc_fnames=dword:99999999999\n"
                                 "host=sz:bad\\escape\n"
                                 "user=sz:sa\n"
                                 "src=dword:3\n"
                                 "no equals sign\n"
                                 "blob2text=dword:5\r\n");
    tk_reg_key key(key_path);
    ASSERT_TRUE(key.open(&hive, tk_reg_key::all_access));
    std::uint32_t number = 0;
    EXPECT_FALSE(key.get_value(number, "n_comma"));
    EXPECT_FALSE(key.get_value(number, "inc_fnames"));
    EXPECT_FALSE(key.get_value(number, "user")); // a string is not a number
    std::u16string text = u"unchanged";
    EXPECT_FALSE(key.serialize(false, "host", text));
    EXPECT_FALSE(key.serialize(false, "src", text)); // a number is not a string
    EXPECT_EQ(text, u"unchanged");
    EXPECT_TRUE(key.serialize(false, "user", text));
    EXPECT_EQ(text, u"sa");
    bool flag = false;
    EXPECT_TRUE(key.serialize(false, "blob2text", flag)); // any non-zero reads as on
    EXPECT_TRUE(flag);
}

TEST_F(reg_key_test, a_store_that_cannot_be_read_is_not_opened_and_not_overwritten) {
    make_folder();
    write_file(hive.file_name(), "[Software\\Quorvane\\Tabloxa]\nuser=sz:sa\n");
    chmod(hive.file_name().c_str(), 0200);
    std::string name = hive.file_name();
    EXPECT_TRUE(test_support::run_unprivileged([name] {
        tk_reg_hive unreadable(name);
        tk_reg_key key(key_path);
        return !key.open(&unreadable, tk_reg_key::all_access) && !key.is_open();
    }));
    chmod(hive.file_name().c_str(), 0600);
    EXPECT_EQ(read_file(hive.file_name()), "[Software\\Quorvane\\Tabloxa]\nuser=sz:sa\n");
}

TEST_F(reg_key_test, read_access_refuses_writes_and_closed_keys_do_nothing) {
    tk_reg_key key(key_path);
    bool flag = true;
    EXPECT_FALSE(key.serialize(true, "flag", flag)); // closed: nothing happens
    ASSERT_TRUE(key.open(&hive, tk_reg_key::read_access));
    EXPECT_FALSE(key.serialize(true, "flag", flag));
    key.close();
    struct stat st;
    EXPECT_NE(stat(hive.file_name().c_str(), &st), 0);
}

TEST_F(reg_key_test, misuse_is_an_internal_error) {
    tk_reg_key key(key_path);
    EXPECT_THROW(key.open(nullptr, tk_reg_key::all_access), tk_mail_assertion);
    EXPECT_THROW(key.set_value(1u, "closed"), tk_mail_assertion);
    ASSERT_TRUE(key.open(&hive, tk_reg_key::all_access));
    std::uint32_t number = 0;
    EXPECT_THROW(key.get_value(number, nullptr), tk_mail_assertion);
    EXPECT_THROW(key.get_value(nullptr, "name", nullptr), tk_mail_assertion);
    EXPECT_THROW(key.set_value(static_cast<const char16_t*>(nullptr), "name"), tk_mail_assertion);
    try {
        key.open(nullptr, tk_reg_key::all_access);
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_NE(e.message().find("746b5f7265676b"), std::string::npos) << e.message(); // "tk_regk"
    }
}

TEST(reg_hive_test, the_store_follows_xdg_config_home_then_home) {
    std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    std::string saved_config = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
    EXPECT_EQ(tk_reg_hive::current_user().file_name(), "/x/cfg/Quorvane/Tabloxa.conf");
    setenv("XDG_CONFIG_HOME", "relative/cfg", 1); // relative values are ignored
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(tk_reg_hive::current_user().file_name(), "/home/u/.config/Quorvane/Tabloxa.conf");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(tk_reg_hive::current_user().file_name(), "/home/u/.config/Quorvane/Tabloxa.conf");
    setenv("HOME", saved_home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", saved_config.c_str(), 1);
}

} // namespace
