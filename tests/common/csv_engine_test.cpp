#include "TK/tk_exception.hpp"
#include "TK/tk_utils.hpp"
#include "common/csv_engine.hpp"
#include "support/test_support.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {
std::u16string wide(const std::string& text) {
    return tk_utf8_to_wstring(text);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A destination as runs find it: two spellings of one table, a text file, a folder named like a
// table file, and one more table.
struct destination {
    temp_dir dir;
    destination() {
        write_file(dir.file("Orders.CSV"), "old Orders\r\n");
        write_file(dir.file("orders.csv"), "old orders\r\n");
        write_file(dir.file("Customers.csv"), "old customers\r\n");
        write_file(dir.file("notes.txt"), "notes");
        write_file(dir.file("\xD0\x97\xD0\x90\xD0\x9A\xD0\x90\xD0\x97\xD0\xAB.Csv"), "old"); // ЗАКАЗЫ.Csv
        ::mkdir(dir.file("x.csv").c_str(), 0755);
        write_file(dir.file("x.csv/inner.csv"), "inner");
    }
    std::u16string folder() const { return wide(dir.path()); }
    bool has(const std::string& name) const { return exists(dir.file(name)); }
};

std::string message_of(const std::function<void()>& action, int* level = nullptr) {
    try {
        action();
    } catch (const tk_mail_assertion& e) {
        return "assertion";
    } catch (const tk_exception& e) {
        if (level) *level = e.level();
        return e.message();
    }
    return "no exception";
}
} // namespace

TEST(csv_engine, lists_regular_csv_files_once_per_base_name) {
    destination d;
    csv_engine engine(d.folder());
    std::vector<std::u16string> tables = engine.tables();
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::u16string>{u"customers", u"orders", u"заказы"}));
    EXPECT_TRUE(engine.is_table_exist(u"Заказы"));
    EXPECT_TRUE(engine.is_table_exist(u"ORDERS"));
    EXPECT_TRUE(engine.is_table_exist(u"orders"));
    EXPECT_TRUE(engine.is_table_exist(u"Customers"));
    EXPECT_FALSE(engine.is_table_exist(u"x"));
    EXPECT_FALSE(engine.is_table_exist(u"notes"));
    EXPECT_FALSE(engine.is_table_exist(u"order"));
}

TEST(csv_engine, files_made_after_the_listing_are_not_tables) {
    destination d;
    csv_engine engine(d.folder());
    write_file(d.dir.file("late.csv"), "");
    EXPECT_FALSE(engine.is_table_exist(u"late"));
}

TEST(csv_engine, full_file_name_lowers_only_the_base_name) {
    temp_dir dir;
    ::mkdir(dir.file("Data Dir").c_str(), 0755);
    csv_engine data(wide(dir.file("Data Dir")));
    EXPECT_EQ(data.get_full_file_name(u"Customers"), wide(dir.file("Data Dir/customers.csv")));
    EXPECT_EQ(data.get_full_file_name(u"Orders.CSV"), wide(dir.file("Data Dir/orders.csv")));
    EXPECT_EQ(data.get_full_file_name(u"ЗАКАЗЫ"), wide(dir.file("Data Dir/заказы.csv")));
    csv_engine slash(wide(dir.file("Data Dir/")));
    EXPECT_EQ(slash.get_full_file_name(u"A"), wide(dir.file("Data Dir/a.csv")));
}

TEST(csv_engine, mode_0_deletes_every_table_file_and_nothing_else) {
    destination d;
    csv_engine(d.folder()).delete_all_tables();
    EXPECT_FALSE(d.has("Orders.CSV"));
    EXPECT_FALSE(d.has("orders.csv"));
    EXPECT_FALSE(d.has("Customers.csv"));
    EXPECT_FALSE(d.has("\xD0\x97\xD0\x90\xD0\x9A\xD0\x90\xD0\x97\xD0\xAB.Csv"));
    EXPECT_TRUE(d.has("notes.txt"));
    EXPECT_TRUE(d.has("x.csv/inner.csv"));
}

TEST(csv_engine, mode_1_deletes_both_spellings_before_the_table_is_written) {
    destination d;
    csv_engine engine(d.folder());
    ASSERT_TRUE(engine.is_table_exist(u"Orders"));
    engine.delete_tab(u"Orders");
    EXPECT_FALSE(d.has("Orders.CSV"));
    EXPECT_FALSE(d.has("orders.csv"));
    std::string narrow;
    ASSERT_TRUE(tk_to_ansi(engine.get_full_file_name(u"Orders"), narrow));
    write_file(narrow, "new\r\n");
    EXPECT_EQ(read_file(d.dir.file("orders.csv")), "new\r\n");
    EXPECT_EQ(read_file(d.dir.file("Customers.csv")), "old customers\r\n");
    EXPECT_TRUE(d.has("notes.txt"));
    // The entry stays, and asking again deletes nothing more.
    EXPECT_TRUE(engine.is_table_exist(u"Orders"));
    engine.delete_tab(u"Orders");
    EXPECT_TRUE(d.has("orders.csv"));
}

TEST(csv_engine, mode_2_keeps_existing_files) {
    destination d;
    csv_engine engine(d.folder());
    EXPECT_TRUE(engine.is_table_exist(u"Orders")); // the run skips the table
    EXPECT_EQ(read_file(d.dir.file("Orders.CSV")), "old Orders\r\n");
    EXPECT_EQ(read_file(d.dir.file("orders.csv")), "old orders\r\n");
}

TEST(csv_engine, a_vanished_file_is_an_ordinary_error) {
    destination d;
    csv_engine engine(d.folder());
    ::unlink(d.dir.file("Customers.csv").c_str());
    int level = -1;
    std::string message = message_of([&] { engine.delete_tab(u"customers"); }, &level);
    EXPECT_EQ(message, d.dir.file("Customers.csv") + ": No such file or directory");
    EXPECT_EQ(level, 1);
    // A name that was never listed is looked for under its own file name.
    EXPECT_EQ(message_of([&] { engine.delete_tab(u"Missing"); }),
              d.dir.file("missing.csv") + ": No such file or directory");
}

TEST(csv_engine, a_refused_deletion_carries_the_system_message) {
    destination d;
    ::chmod(d.dir.path().c_str(), 0555);
    std::string folder = d.dir.path();
    bool refused = test_support::run_unprivileged([&] {
        std::string message =
            message_of([&] { csv_engine(tk_utf8_to_wstring(folder)).delete_tab(u"customers"); });
        return message == folder + "/Customers.csv: Permission denied";
    });
    ::chmod(d.dir.path().c_str(), 0755);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(d.has("Customers.csv"));
}

TEST(csv_engine, a_folder_that_cannot_be_entered_is_a_programming_error) {
    temp_dir dir;
    EXPECT_THROW(csv_engine(wide(dir.file("missing"))), tk_mail_assertion);
    write_file(dir.file("file.csv"), "");
    EXPECT_THROW(csv_engine(wide(dir.file("file.csv"))), tk_mail_assertion);
}

TEST(common_create_path, creates_every_missing_level) {
    temp_dir dir;
    common_create_path(wide(dir.file("a/b/c/")));
    struct stat st;
    ASSERT_EQ(::stat(dir.file("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // Existing folders are left alone; doubled slashes name the same folders.
    write_file(dir.file("a/b/c/keep.csv"), "x");
    common_create_path(wide(dir.file("a/b/c")));
    common_create_path(wide(dir.file("a//b/c//d")));
    EXPECT_EQ(read_file(dir.file("a/b/c/keep.csv")), "x");
    EXPECT_TRUE(exists(dir.file("a/b/c/d")));
    common_create_path(wide(dir.file("Заказы/注文")));
    EXPECT_TRUE(exists(dir.file("Заказы/注文")));
}

TEST(common_create_path, refuses_a_path_through_a_file) {
    temp_dir dir;
    write_file(dir.file("file.txt"), "x");
    int level = -1;
    EXPECT_EQ(message_of([&] { common_create_path(wide(dir.file("file.txt/sub/leaf"))); }, &level),
              dir.file("file.txt") + ": File exists");
    EXPECT_EQ(level, 1);
    EXPECT_EQ(read_file(dir.file("file.txt")), "x");
}

TEST(common_create_path, a_refused_creation_carries_the_system_message) {
    temp_dir dir;
    ::mkdir(dir.file("locked").c_str(), 0555);
    ::chmod(dir.path().c_str(), 0755);
    std::string path = dir.file("locked/new/deeper");
    std::string locked = dir.file("locked/new");
    EXPECT_TRUE(test_support::run_unprivileged([&] {
        return message_of([&] { common_create_path(tk_utf8_to_wstring(path)); }) ==
               locked + ": Permission denied";
    }));
}

TEST(common_create_path, a_relative_path_grows_from_the_current_folder) {
    test_support::temp_dir dir;
    // In a child process: the test must not move the whole program's current folder.
    EXPECT_TRUE(test_support::run_unprivileged([&] {
        if (chdir(dir.path().c_str()) != 0) return false;
        common_create_path(u"out/deeper");
        common_create_path(u"plain");
        return tk_is_path_exist(std::string("out/deeper")) && tk_is_path_exist(std::string("plain"));
    }));
}
