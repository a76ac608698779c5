#include "TK/tk_exception.hpp"
#include "TK/tk_utils.hpp"
#include "UDB/udb_profile.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

using test_support::temp_dir;
using test_support::write_file;

namespace {
std::u16string wide(const std::string& s) {
    return tk_utf8_to_wstring(s);
}
} // namespace

TEST(udb_profile, loads_sections_keys_and_keeps_foreign_ones) {
    temp_dir dir;
    std::string path = dir.file("p.kzt");
    write_file(path, "\r\n  [MS SQL Server settings]  \r\n"
                     "login= sa \r\n"
                     "login=second\r\n"
                     "password=a=b;c\r\n"
                     "[ Oracle settings ]\n"
                     "use TNS=1\n"
                     "[Selected Tables]\n"
                     "Orders\n"
                     "Q1=SELECT 1\n"
                     "[MS SQL Server settings]\n"
                     "server=host\n");
    udb_profile p;
    ASSERT_TRUE(p.load(wide(path)));
    EXPECT_EQ(p.get_value(u"MS SQL Server settings", u"login"), u" sa"); // trimmed line, value kept
    EXPECT_EQ(p.get_value(u"MS SQL Server settings", u"password"), u"a=b;c");
    EXPECT_EQ(p.get_value(u"MS SQL Server settings", u"server"), u"host"); // repeated header continues
    EXPECT_EQ(p.get_value(u" Oracle settings ", u"use TNS"), u"1");
    EXPECT_EQ(p.get_value(u"Selected Tables", u"Orders"), u"");
    EXPECT_EQ(p.get_value(u"Selected Tables", u"Q1"), u"SELECT 1");
    EXPECT_EQ(p.get_value(u"Nothing", u"x"), u"");
}

TEST(udb_profile, key_before_any_section_fails_and_applies_nothing) {
    temp_dir dir;
    std::string path = dir.file("bad.kzt");
    write_file(path, "server=x\r\n[Generic settings]\r\nsrc=db\r\n");
    udb_profile p;
    EXPECT_FALSE(p.load(wide(path)));
    EXPECT_EQ(p.get_value(u"Generic settings", u"src"), u"");
    write_file(path, "bare line\r\n[Generic settings]\r\n");
    EXPECT_FALSE(p.load(wide(path)));
}

TEST(udb_profile, missing_file_is_a_level_1_error) {
    udb_profile p;
    try {
        p.load(u"/no/such/profile.kzt");
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Profile does not exist. Please verify the correct path/name was given.");
        EXPECT_EQ(e.level(), 1);
    }
}

TEST(udb_profile, stores_exact_bytes_owner_only_and_loads_any_line_length) {
    temp_dir dir;
    std::string path = dir.file("out.kzt");
    write_file(path, "old");
    chmod(path.c_str(), 0644);
    udb_profile p;
    p.set_value(u"Selected Tables", u"Orders", u"");
    p.set_value(u"Selected Tables", u"Q1", u"SELECT 1");
    p.set_value(u"Generic settings", u"src", u"Продажи");
    p.set_value(u"Generic settings", u"dest", u"");
    p.set_value(u"Generic settings", u"src", u"ignored, the first value stays");
    std::u16string query = u"SELECT '" + std::u16string(9000, u'x') + u"' AS v";
    p.set_value(u"Available Queries", u"Long", query);
    ASSERT_TRUE(p.store(wide(path)));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test_support::read_file(path),
              "[Available Queries]\r\nLong=" + tk_to_utf8(query) +
                  "\r\n\r\n[Generic "
                  "settings]\r\ndest=\r\nsrc=\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB4\xD0\xB0\xD0\xB6\xD0\xB8"
                  "\r\n\r\n[Selected Tables]\r\nOrders\r\nQ1=SELECT 1\r\n\r\n");
    udb_profile back;
    ASSERT_TRUE(back.load(wide(path)));
    EXPECT_EQ(back.sections(), p.sections());
    EXPECT_FALSE(p.store(u"/no/such/folder/p.kzt"));
}

TEST(udb_flatten_query, line_breaks_become_blanks_and_line_comments_block_comments) {
    EXPECT_EQ(udb_flatten_query(u"SELECT a\r\nFROM t\nWHERE x=1\rORDER BY a"),
              u"SELECT a FROM t WHERE x=1 ORDER BY a");
    EXPECT_EQ(udb_flatten_query(u"SELECT * FROM t -- open\r\nWHERE Closed=0"),
              u"SELECT * FROM t /* open */ WHERE Closed=0");
    EXPECT_EQ(udb_flatten_query(u"SELECT '--not a comment', [a--b], \"c--d\" FROM t"),
              u"SELECT '--not a comment', [a--b], \"c--d\" FROM t");
    EXPECT_EQ(udb_flatten_query(u"SELECT 'it''s -- here'\n-- a */ b /* c\nFROM t -- end"),
              u"SELECT 'it''s -- here' /* a * / b / * c */ FROM t /* end */");
    EXPECT_EQ(udb_flatten_query(u"SELECT 1 /* outer /* inner -- x */\n */ FROM t"),
              u"SELECT 1 /* outer /* inner -- x */  */ FROM t");
    EXPECT_EQ(udb_flatten_query(u"SELECT 1"), u"SELECT 1");
}
