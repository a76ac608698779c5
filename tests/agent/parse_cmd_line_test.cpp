#include "TK/error_handler.hpp"
#include "TK/tk_utils.hpp"
#include "agent/agent_cmdline.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"

#include <clocale>
#include <gtest/gtest.h>

using test_support::temp_dir;
using test_support::write_file;

namespace {
bool parse(std::vector<std::string> args) {
    args.insert(args.begin(), "pellorin");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return parse_cmd_line(static_cast<int>(argv.size()), argv.data());
}

std::string profile(const temp_dir& dir) {
    std::string path = dir.file("p.kzt");
    write_file(
        path, "[MS SQL Server settings]\r\nserver=profilehost\r\nlogin=puser\r\npassword=ppass\r\n"
              "[CSV settings]\r\nCSV delimiter=0\r\n[Generic settings]\r\ndest=/from/profile\r\nsrc=pdb\r\n");
    return path;
}
} // namespace

TEST(parse_cmd_line, options_act_in_order_and_a_profile_owns_the_login) {
    temp_dir dir;
    std::string p = profile(dir);
    {
        drelk_converter c;
        ASSERT_TRUE(
            parse({"--host=x", "--user=u", "--pswd=w", "--dest=/cmd", "--profile=" + p, "--n_delim=2"}));
        EXPECT_EQ(c.host(), u"profilehost");
        EXPECT_EQ(c.user(), u"puser");
        EXPECT_EQ(c.password(), u"ppass");
        EXPECT_EQ(c.dest(), u"/from/profile"); // the profile came later
        EXPECT_EQ(c.delimiter(), 2);           // the option came later
    }
    {
        drelk_converter c;
        ASSERT_TRUE(parse({"--host=x", "--dest=/cmd", "--src=db", "--inc_fnames", "--tab_def", "--mode=1"}));
        EXPECT_EQ(c.host(), u"x");
        EXPECT_EQ(c.user(), u"");
        EXPECT_TRUE(c.only_definitions());
        EXPECT_EQ(c.mode(), 1);
        EXPECT_FALSE(parse({"--dest=/cmd", "--src=db", "extra"}));
    }
}

TEST(process_tab_file, byte_order_mark_switches_to_utf8_and_lines_are_kept_as_written) {
    temp_dir dir;
    std::string list = dir.file("tables.txt");
    write_file(list, "\r\n\xEF\xBB\xBF"
                     "Caf\xC3\xA9\r\n\r\nOrders  \nZ\xC3\xBC"
                     "rich\n");
    drelk_converter c;
    process_tab_file(list);
    EXPECT_EQ(c.selected_names(), (std::vector<std::u16string>{u"Caf\u00E9", u"Orders  ", u"Z\u00FCrich"}));

    // A lone mark is one empty name, and a second file replaces the first.
    std::string second = dir.file("second.txt");
    write_file(second, "\xEF\xBB\xBF\nA\n");
    process_tab_file(second);
    EXPECT_EQ(c.selected_names(), (std::vector<std::u16string>{u"", u"A"}));

    write_file(second, "");
    process_tab_file(second);
    EXPECT_TRUE(c.selected_names().empty());
}

TEST(process_tab_file, without_mark_names_are_read_in_the_locale_encoding) {
    if (!std::setlocale(LC_CTYPE, "en_US.ISO-8859-1")) GTEST_SKIP() << "locale en_US.ISO-8859-1 missing";
    tk_reset_ansi_codeset();
    temp_dir dir;
    std::string list = dir.file("latin1.txt");
    std::string long_name(300, 'x');
    write_file(list, "Caf\xE9\r\n" + long_name + "\r\n");
    drelk_converter c;
    process_tab_file(list);
    std::setlocale(LC_CTYPE, "C");
    tk_reset_ansi_codeset();
    EXPECT_EQ(c.selected_names(), (std::vector<std::u16string>{
                                      u"Caf\u00E9", std::u16string(long_name.begin(), long_name.end())}));
}

TEST(process_tab_file, missing_or_undecodable_file_ends_with_a_message) {
    EXPECT_EXIT(
        {
            drelk_converter c;
            process_tab_file("/no/such/list.txt");
        },
        testing::ExitedWithCode(255),
        "Table names file does not exist.\nPlease verify the correct path/name was given.");
    temp_dir dir;
    std::string list = dir.file("bad.txt");
    write_file(list, "ok\n\xFF\xFE\n");
    EXPECT_EXIT(
        {
            drelk_converter c;
            process_tab_file(list);
        },
        testing::ExitedWithCode(255), "Cannot convert to UNICODE string");
}

TEST(pellorin_profile, missing_profile_and_bad_profile_values_end_with_255) {
    temp_dir dir;
    auto r = test_support::run_process({PELLORIN_PATH, "--profile=" + dir.file("none.kzt")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nProfile does not exist. Please verify the correct path/name was given.\n");
    std::string p = dir.file("odd.kzt");
    write_file(p, "[Generic settings]\r\ndest=/x\r\nsrc=db\r\nmode=7\r\n");
    r = test_support::run_process({PELLORIN_PATH, "--profile=" + p});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Invalid merge/overwrite mode\n");
    write_file(p, "[Generic settings]\r\ndest=/x\r\nsrc=db\r\n[CSV settings]\r\nCSV delimiter=5\r\n");
    r = test_support::run_process({PELLORIN_PATH, "--profile=" + p});
    EXPECT_EQ(r.err, "Invalid CSV delimiter\n");
}
