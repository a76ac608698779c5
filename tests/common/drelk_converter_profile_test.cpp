#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {
std::u16string wide(const std::string& s) {
    return tk_utf8_to_wstring(s);
}
} // namespace

TEST(drelk_converter_settings, defaults_of_a_new_converter) {
    drelk_converter c;
    EXPECT_EQ(c.delimiter(), 1);
    EXPECT_TRUE(c.include_fnames());
    EXPECT_EQ(c.mode(), 0);
    EXPECT_FALSE(c.only_definitions());
    EXPECT_FALSE(c.silent());
    EXPECT_TRUE(c.selection().empty());
    EXPECT_THROW(drelk_converter second, tk_mail_assertion);
}

TEST(drelk_converter_settings, selection_orders_by_code_units_and_keeps_first_entry) {
    drelk_converter c;
    c.selection().emplace(u"a", u"");
    c.selection().emplace(u"Z", u"");
    c.selection().emplace(u"\U0001F600", u"");
    c.selection().emplace(u"\uFF01", u"");
    c.selection().emplace(u"Z", u"SELECT 1");
    std::vector<std::u16string> order;
    for (const auto& entry : c.selection()) order.push_back(entry.first);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Z", u"a", u"\U0001F600", u"\uFF01"}));
    EXPECT_EQ(c.selection().at(u"Z"), u"");
}

TEST(drelk_converter_profile, a_run_stored_byte_for_byte_and_loaded_back) {
    temp_dir dir;
    drelk_converter c;
    c.set_source(u"Sales");
    c.set_dest(u"/data/out");
    c.set_mode(2);
    c.set_only_definitions(true);
    c.set_host(u"db1,1433");
    c.set_user(u"sa");
    c.set_password(u"p;w=d");
    c.set_as_dbo(true);
    c.set_delimiter(0);
    c.set_include_fnames(false);
    c.selection().emplace(u"Orders", u"");
    c.selection().emplace(u"Q1", u"SELECT 1");
    c.available_queries().emplace(u"Q1", u"SELECT 1");
    std::string path = dir.file("run.kzt");
    ASSERT_TRUE(c.store_profile(wide(path)));
    EXPECT_EQ(read_file(path),
              "[Available Queries]\r\nQ1=SELECT 1\r\n\r\n"
              "[CSV settings]\r\nCSV delimiter=0\r\nInclude field names=0\r\n\r\n"
              "[Generic settings]\r\ndest=/data/out\r\nlogfile=\r\nmode=2\r\nonly definitions=1\r\n"
              "skip indexes=0\r\nsrc=Sales\r\n\r\n"
              "[MS SQL Server settings]\r\nconnect as DBO=1\r\nlogin=sa\r\npassword=p;w=d\r\n"
              "server=db1,1433\r\nwindows authentication=0\r\n\r\n"
              "[Selected Tables]\r\nOrders\r\nQ1=SELECT 1\r\n\r\n");
}

TEST(drelk_converter_profile, load_applies_every_part_and_leaves_empty_values_alone) {
    temp_dir dir;
    std::string path = dir.file("in.kzt");
    write_file(path, "[Generic settings]\r\nsrc=Sales\r\nmode=12\r\nonly definitions=yes\r\n"
                     "[MS SQL Server settings]\r\nserver=\r\nlogin=reader\r\nwindows authentication=1\r\n"
                     "connect as DBO=2\r\n"
                     "[CSV settings]\r\nCSV delimiter=2\r\nInclude field names=0\r\n"
                     "[Selected Tables]\r\nOrders\r\nQ1=SELECT 1\r\n"
                     "[Available Queries]\r\nQ2=SELECT 2\r\n");
    drelk_converter c;
    c.set_host(u"kept");
    c.set_as_dbo(true);
    ASSERT_TRUE(c.load_profile(wide(path)));
    EXPECT_EQ(c.source(), u"Sales");
    EXPECT_EQ(c.mode(), 0); // two characters are ignored
    EXPECT_TRUE(c.only_definitions());
    EXPECT_EQ(c.host(), u"kept");
    EXPECT_EQ(c.user(), u"reader");
    EXPECT_TRUE(c.windows_auth());
    EXPECT_FALSE(c.as_dbo());
    EXPECT_EQ(c.delimiter(), 2);
    EXPECT_FALSE(c.include_fnames());
    EXPECT_EQ(c.selected_names(), std::vector<std::u16string>{u"Orders"});
    EXPECT_EQ(c.selection().size(), 2u);
    EXPECT_EQ(c.available_queries().at(u"Q2"), u"SELECT 2");
}

TEST(drelk_converter_profile, long_query_over_several_lines_survives_a_round_trip) {
    temp_dir dir;
    std::u16string query = u"SELECT id, -- the key\r\n       name\r\nFROM dbo.Orders\r\nWHERE note <> '";
    query += std::u16string(12000 - query.size() - 2, u'n');
    query += u"'\n";
    drelk_converter c;
    c.available_queries().emplace(u"Big", query);
    std::string path = dir.file("big.kzt");
    ASSERT_TRUE(c.store_profile(wide(path)));
    c.available_queries().clear();
    ASSERT_TRUE(c.load_profile(wide(path)));
    std::u16string back = c.available_queries().at(u"Big");
    EXPECT_EQ(back.find(u'\n'), std::u16string::npos);
    EXPECT_EQ(back.rfind(u"SELECT id, /* the key */        name FROM dbo.Orders WHERE note <> 'nnn", 0), 0u);
    // Each CR LF became one blank and the comment was closed; the line's trailing blank is trimmed.
    EXPECT_EQ(back.size(), query.size() - 3 + 3 - 1);
    EXPECT_EQ(back.substr(back.size() - 4), u"nnn'");
}

TEST(drelk_converter_profile, logfile_in_a_profile_switches_the_log_on) {
    temp_dir dir;
    tk_log log(dir.file("default.log").c_str(), false, 3, false);
    std::string path = dir.file("log.kzt");
    std::string logfile = dir.file("run.log");
    write_file(path, "[Generic settings]\r\nlogfile=" + logfile + "\r\n");
    drelk_converter c;
    ASSERT_TRUE(c.load_profile(wide(path)));
    EXPECT_EQ(c.logfile(), logfile);
    EXPECT_EQ(log.file_name(), logfile);
    write_file(path, "[Generic settings]\r\nlogfile=" + dir.file("none/run.log") + "\r\n");
    EXPECT_THROW(c.load_profile(wide(path)), tk_exception);
}
