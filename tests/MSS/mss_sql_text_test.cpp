#include "MSS/mss_sql_text.hpp"
#include "TK/tk_utils.hpp"

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

TEST(mss_single_select, takes_one_select_in_its_usual_shapes) {
    for (const char16_t* text :
         {u"SELECT * FROM Orders", u"  select a, b FROM t WHERE x = 'DELETE; INTO' -- update\n",
          u"WITH c AS (SELECT 1 AS n), d AS (SELECT n FROM c) SELECT n FROM d;",
          u"SELECT a FROM t UNION ALL SELECT a FROM u EXCEPT SELECT a FROM v",
          u"SELECT [into], \"delete\" FROM [set] WITH (NOLOCK) ORDER BY 1 OFFSET 0 ROWS FETCH NEXT 5 ROWS ONLY",
          u"SELECT a FROM t WHERE a IN (SELECT b FROM u) /* exec /* nested */ drop */ ;  ;",
          u"SELECT {fn UCASE(name)}, N'it''s' FROM t FOR XML PATH('')"})
        EXPECT_TRUE(mss_is_single_select(text)) << tk_to_utf8(text);
}

TEST(mss_single_select, refuses_what_is_not_one_select) {
    for (const char16_t* text :
         {u"", u"DELETE FROM Orders", u"SELECT * INTO Copy FROM Orders", u"SELECT 1 AS a; SELECT 2 AS b",
          u"SELECT 1 AS a SELECT 2 AS b", u"SELECT 1 AS a DELETE FROM Orders", u"SELECT 1; DROP TABLE t",
          u"WITH c AS (SELECT 1 AS n) DELETE FROM c", u"EXEC sp_who", u"SELECT 1 {call p}",
          u"(SELECT 1)", u"SELECT 'open", u"SELECT 1 /* open", u"SELECT (1", u"SELECT 1)",
          u"SELECT 1 WAITFOR DELAY '0:1'", u"SELECT a FROM t; UPDATE t SET a = 1"})
        EXPECT_FALSE(mss_is_single_select(text)) << tk_to_utf8(text);
}
