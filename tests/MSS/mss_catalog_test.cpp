#include "MSS/mss_database.hpp"
#include "MSS/mss_engine.hpp"
#include "MSS/mss_table.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/scripted_server.hpp"

#include <gtest/gtest.h>

using namespace odb_test;

namespace {
class catalog : public ::testing::Test {
protected:
    std::unique_ptr<mss_database> open(const std::u16string& user) {
        if (user.empty())
            engine.connect(u"srv", true);
        else
            engine.connect(u"srv", user, u"pw", true);
        return engine.open_db(u"shop", 1);
    }

    scripted_server server;
    mss_engine engine{true};
};

const std::u16string not_system = u"' and table_name not in ('sysalternates','sysconstraints','syssegments')";
} // namespace

TEST_F(catalog, the_owner_of_catalog_queries_follows_the_login) {
    server.add_table(u"dbo", u"Orders", id_name_rows({u"x"}));
    server.add_table(u"clerk", u"Notes", id_name_rows({u"y"}));
    server.add_table(u"O'Brien", u"Mine", id_name_rows({u"z"}));
    server.finish({u"dbo", u"clerk"});
    // A quote in a login is escaped where it meets SQL text.
    server.provider.add_command(u"exec sp_tables @table_owner='O''Brien', @table_type=\"'TABLE'\"",
                                scripted_server::wide_columns(4));
    server.provider.add_command(
        u"select table_name, column_name, data_type from INFORMATION_SCHEMA.COLUMNS where "
        u"table_schema='O''Brien" +
            not_system,
        scripted_server::wide_columns(3));
    server.provider.add_command(u"select table_name, view_definition from information_schema.views where "
                                u"table_schema='O''Brien" +
                                    not_system,
                                scripted_server::wide_columns(2));

    EXPECT_EQ(open(u"SA")->tables(), std::vector<std::u16string>{u"Orders"});
    EXPECT_EQ(open(u"")->owner(), u"dbo");
    EXPECT_EQ(open(u"clerk")->tables(), std::vector<std::u16string>{u"Notes"});
    engine.set_as_dbo(true);
    EXPECT_EQ(open(u"clerk")->owner(), u"dbo");
    engine.set_as_dbo(false);
    EXPECT_EQ(open(u"O'Brien")->tables(), std::vector<std::u16string>{u"Mine"});
}

TEST_F(catalog, no_tables_in_the_schema_rowset_falls_back_to_the_stored_procedure) {
    server.finish();
    odb_script_rowset listed = scripted_server::wide_columns(5);
    listed.rows.push_back({u"shop", u"dbo", u"Legacy", u"TABLE", odb_script_value::null()});
    server.provider.add_command(u"exec sp_tables @table_owner='dbo', @table_type=\"'TABLE'\"", listed);
    EXPECT_EQ(open(u"")->tables(), std::vector<std::u16string>{u"Legacy"});
}

TEST_F(catalog, views_are_normalised_and_a_definition_without_as_select_skipped) {
    server.add_view(u"dbo", u"v_top",
                    u"CREATE VIEW v_top\r\nAS\r\nSELECT TOP 100 PERCENT *  FROM dbo.Orders");
    server.add_view(u"dbo", u"v_cte", u"CREATE VIEW v_cte AS WITH c AS (SELECT 1 x) SELECT x FROM c");
    server.finish();
    auto db = open(u"");
    EXPECT_EQ(db->views(), (std::map<std::u16string, std::u16string>{{u"v_top", u"SELECT  * FROM Orders"}}));
}

TEST_F(catalog, a_table_missing_under_its_owner_is_retried_under_dbo) {
    server.add_table(u"dbo", u"Orders", id_name_rows({u"x", u"y"}));
    server.finish({u"dbo", u"clerk"});
    auto db = open(u"clerk");
    auto table = db->get_table(u"Orders", 1);
    EXPECT_EQ(table->name(), u"[dbo].[Orders]");
    EXPECT_EQ(table->records_count(), 2);
    int rows = 0;
    for (table->reset(); !table->is_eof(); table->next()) ++rows;
    EXPECT_EQ(rows, 2);
}

TEST_F(catalog, the_count_ends_the_table_whatever_the_rowset_still_holds) {
    server.add_table(u"dbo", u"Growing", id_name_rows({u"a", u"b", u"c"}));
    server.add_table(u"dbo", u"Empty", id_name_rows({}));
    server.finish();
    server.provider.add_command(u"SELECT COUNT(*) FROM [dbo].[Growing]", text_rows(u"", {u"2"}));
    auto db = open(u"");
    auto table = db->get_table(u"Growing", 1);
    int rows = 0;
    for (table->reset(); !table->is_eof(); table->next()) ++rows;
    EXPECT_EQ(rows, 2);
    auto empty = db->get_table(u"Empty", 1);
    EXPECT_TRUE(empty->is_eof());
}

TEST_F(catalog, a_query_whose_count_the_server_refuses_fails_to_open) {
    server.finish();
    server.provider.add_command(u"SELECT 1 AS a ORDER BY a", text_rows(u"a", {u"1"}));
    auto db = open(u"");
    EXPECT_THROW(db->get_table(u"Q", u"SELECT 1 AS a ORDER BY a", 1), odb_exception);
}

TEST_F(catalog, sp_columns_gives_defaults_identity_and_decimal_reserved_values) {
    odb_script_rowset rows;
    rows.columns = {column(u"id", DBTYPE_I4, 10),
                    column(u"flag", DBTYPE_BOOL, 1),
                    column(u"note", DBTYPE_WSTR, 5),
                    column(u"price", DBTYPE_NUMERIC, 19, true, 18, 4),
                    column(u"made", DBTYPE_DBTIMESTAMP, 16),
                    column(u"day", DBTYPE_WSTR, 10),
                    column(u"at", DBTYPE_WSTR, 16),
                    column(u"long", DBTYPE_WSTR, 2)};
    server.add_table(u"dbo", u"Items", rows,
                     {{u"id", {u"int identity", u"((0))", u"", u"", u""}},
                      {u"flag", {u"bit", u"((1))", u"", u"", u""}},
                      {u"note", {u"nvarchar", u"('it''s')", u"", u"", u""}},
                      {u"price", {u"decimal", u"", u"12", u"2", u""}},
                      {u"made", {u"datetime", u"(getdate())", u"", u"", u""}},
                      {u"day", {u"date", u"", u"", u"", u"date"}},
                      {u"at", {u"time", u"", u"", u"", u"time"}},
                      {u"long", {u"nvarchar", u"('too long')", u"", u"", u""}}});
    server.finish();
    auto table = open(u"")->get_table(u"Items", 1);
    const udb_schema& s = table->schema();
    EXPECT_TRUE(s[0].b_auto_num);
    EXPECT_EQ(s[0].def_value.to_wstring(), u"0");
    EXPECT_FALSE(s[1].b_auto_num);
    EXPECT_EQ(s[1].def_value.vt(), VT_BOOL);
    EXPECT_TRUE(s[1].def_value.to_bool());
    EXPECT_EQ(s[2].def_value.to_wstring(), u"it's");
    EXPECT_EQ(s[3].reserved(), 12 * 256 + 2);
    EXPECT_EQ(s[4].def_value.vt(), VT_EMPTY);
    EXPECT_EQ(s[5].vartype, VT_DATE);
    EXPECT_EQ(s[5].reserved(), 2);
    EXPECT_EQ(s[6].vartype, VT_DATE);
    EXPECT_EQ(s[6].reserved(), 3);
    EXPECT_EQ(s[7].def_value.vt(), VT_EMPTY); // longer than its column: ignored
}

TEST_F(catalog, sp_columns_matches_only_its_table_and_its_columns) {
    server.add_table(u"dbo", u"order_1", id_name_rows({u"x"}));
    server.finish();
    odb_script_rowset answer = scripted_server::wide_columns(13);
    answer.rows.push_back({u"shop", u"dbo", u"orderX1", u"id", u"4", u"int identity", u"10", u"4", u"0",
                           u"10", u"1", u"", u""});
    answer.rows.push_back({u"shop", u"dbo", u"order_1", u"hidden_period", u"4", u"int identity", u"10", u"4",
                           u"0", u"10", u"1", u"", u""});
    server.provider.add_command(u"EXEC sp_columns @table_name=[order[_]]1], @table_owner=[dbo]", answer);
    auto table = open(u"")->get_table(u"order_1", 1);
    EXPECT_EQ(table->schema().size(), 2u);
    EXPECT_FALSE(table->schema()[0].b_auto_num);
}

TEST_F(catalog, a_bracket_in_a_table_name_is_escaped) {
    server.add_table(u"dbo", u"a]b", id_name_rows({u"x"}));
    server.finish();
    auto table = open(u"")->get_table(u"a]b", 1);
    EXPECT_EQ(table->name(), u"[dbo].[a]]b]");
    EXPECT_EQ(table->records_count(), 1);
}

// The column types of all tables come in one query when the database opens; a table it did not
// see (created since) has its own read, so its dates still print as dates.
TEST_F(catalog, a_table_created_after_the_database_wide_column_query_reads_its_own) {
    odb_script_rowset rows;
    rows.columns = {column(u"day", DBTYPE_WSTR, 10), column(u"at", DBTYPE_WSTR, 16)};
    std::map<std::u16string, column_note> notes = {{u"day", {u"date", u"", u"", u"", u"date"}},
                                                   {u"at", {u"time", u"", u"", u"", u"time"}}};
    server.add_table(u"dbo", u"Old]'s", rows, notes);
    server.add_late_table(u"dbo", u"New]'s", rows, notes);
    server.finish();
    auto db = open(u"");
    for (const char16_t* name : {u"Old]'s", u"New]'s"}) {
        auto table = db->get_table(name, 1 | 96 | mss_table::skip_column_details);
        const udb_schema& s = table->schema();
        EXPECT_EQ(s[0].vartype, VT_DATE) << tk_to_utf8(name);
        EXPECT_EQ(s[0].reserved(), 2) << tk_to_utf8(name);
        EXPECT_EQ(s[1].reserved(), 3) << tk_to_utf8(name);
    }
    auto calls = server.provider.calls();
    auto own = [&](const std::string& name) {
        return std::count(calls.begin(), calls.end(),
                          "SetCommandText select column_name, data_type from INFORMATION_SCHEMA.COLUMNS where "
                          "table_schema='dbo' and table_name='" +
                              name + "'");
    };
    EXPECT_EQ(own("Old]'s"), 0);
    EXPECT_EQ(own("New]''s"), 1);
    // Nor is any catalog procedure asked for keys or details that are not wanted.
    for (const std::string& c : calls) {
        EXPECT_EQ(c.find("sp_columns"), std::string::npos);
        EXPECT_NE(c, "GetRowset PRIMARY_KEYS");
    }
}

TEST_F(catalog, keys_and_indexes_are_read_but_not_on_azure) {
    server.add_table(u"dbo", u"Orders", id_name_rows({u"x"}));
    server.finish();
    odb_script_rowset pk = scripted_server::wide_columns(8);
    pk.rows.push_back({u"shop", u"dbo", u"Orders", u"id", u"", u"", u"1", u"PK_Orders"});
    server.provider.add_schema(DBSCHEMA_PRIMARY_KEYS, pk);
    odb_script_rowset ix = scripted_server::wide_columns(25);
    ix.columns[6].type = ix.columns[7].type = DBTYPE_BOOL; // PRIMARY_KEY, UNIQUE
    std::vector<odb_script_value> row(25, odb_script_value(u""));
    row[0] = u"shop", row[1] = u"dbo", row[2] = u"Orders", row[5] = u"IX_name", row[6] = u"0", row[7] = u"1";
    row[17] = u"name";
    ix.rows.push_back(row);
    row[5] = u"PK_Orders", row[6] = u"1", row[17] = u"id";
    ix.rows.push_back(row);
    server.provider.add_schema(DBSCHEMA_INDEXES, ix);
    auto table = open(u"")->get_table(u"Orders", 1);
    ASSERT_EQ(table->indexes().size(), 2u);
    EXPECT_TRUE(table->has_primary_index());
    EXPECT_EQ(table->indexes()[1].name, u"IX_name");

    server.provider.add_command(u"SELECT @@VERSION",
                                text_rows(u"", {u"Microsoft SQL Azure (RTM) - 12.0.2000.8"}));
    auto azure = open(u"")->get_table(u"Orders", 1);
    EXPECT_TRUE(azure->indexes().empty());
}

TEST(mss_table_defaults, brackets_quotes_and_types) {
    EXPECT_EQ(mss_table::get_def_value(VT_I4, u"((0))").to_wstring(), u"0");
    EXPECT_EQ(mss_table::get_def_value(VT_BSTR, u"('abc')").to_wstring(), u"abc");
    EXPECT_EQ(mss_table::get_def_value(VT_BSTR, u"('a''b''''c')").to_wstring(), u"a'b''c");
    EXPECT_EQ(mss_table::get_def_value(VT_BSTR, u"(N'x')").to_wstring(), u"N'x'");
    EXPECT_EQ(mss_table::get_def_value(VT_DATE, u"(getdate())").vt(), VT_EMPTY);
    EXPECT_EQ(mss_table::get_def_value(VT_DATE, u"('2005-12-31')").to_wstring(), u"2005-12-31");
    EXPECT_EQ(mss_table::get_def_value(VT_BSTR, u"()").to_wstring(), u"");
    EXPECT_EQ(mss_table::get_def_value(VT_BSTR, u"((((x").to_wstring(), u"x");
    EXPECT_EQ(mss_table::get_def_value(VT_CY, u"((abc))").vt(), VT_EMPTY);
}
