#include "MSS/mss_sql_text.hpp"

#include <gtest/gtest.h>

TEST(mss_sql_text, names_are_escaped_for_brackets_quotes_and_patterns) {
    EXPECT_EQ(mss_escape_bracketed(u"a]b]]"), u"a]]b]]]]");
    EXPECT_EQ(mss_escape_literal(u"O'Brien"), u"O''Brien");
    // Spliced inside brackets: the pattern's own ']' are doubled too.
    EXPECT_EQ(mss_escape_pattern(u"order_1"), u"order[_]]1");
    EXPECT_EQ(mss_escape_pattern(u"100%[x]"), u"100[%]][[]]x]]");
}

TEST(mss_normalize_view, every_step_of_the_definition) {
    std::u16string text;
    EXPECT_TRUE(
        mss_normalize_view(u"CREATE VIEW v\r\n\tAS   SELECT  TOP 100 PERCENT a,\r\n 'x  \t y' AS \"q  r\"\n"
                           u"FROM dbo.Orders JOIN [dbo].[Lines] ON 1=1   ",
                           text));
    EXPECT_EQ(text, u"SELECT  a, 'x  \t y' AS \"q  r\" FROM Orders JOIN [Lines] ON 1=1");
    EXPECT_TRUE(mss_normalize_view(u"create view w as select top (100) percent * from t", text));
    EXPECT_EQ(text, u"select  * from t");
    // An apostrophe inside a double-quoted name does not open a string.
    EXPECT_TRUE(mss_normalize_view(u"create view \"it's\" as select 1 as \"a  'b\"", text));
    EXPECT_EQ(text, u"select 1 as \"a  'b\"");
    EXPECT_FALSE(mss_normalize_view(u"CREATE VIEW v AS\nWITH c AS (SELECT 1 x) SELECT x FROM c", text));
}
