#include "MSS/mss_database.hpp"
#include "MSS/mss_engine.hpp"
#include "MSS/odb_exception.hpp"
#include "odb_test_util.hpp"

#include <gtest/gtest.h>

using odb_test::called;
using odb_test::failure;
using odb_test::text_rows;
using odb_test::trace_capture;

namespace {
const char16_t version_2008r2[] =
    u"Microsoft SQL Server 2008 R2 (SP2) - 10.50.4000.0 (X64) \n\tJun 28 2012 08:36:30";

class mss_engine_fixture : public ::testing::Test {
protected:
    mss_engine_fixture() {
        provider.add_class(CLSID_SQLNCLI11);
        set_version(version_2008r2);
        // What opening a database reads of its catalog: nothing, for every owner used here.
        for (const char16_t* owner : {u"dbo", u"clerk"}) {
            std::u16string o = owner;
            provider.add_command(u"exec sp_tables @table_owner='" + o + u"', @table_type=\"'TABLE'\"",
                                 text_rows(u"", {}));
            provider.add_command(
                u"select table_name, column_name, data_type from INFORMATION_SCHEMA.COLUMNS where "
                u"table_schema='" +
                    o +
                    u"' and table_name not in "
                    u"('sysalternates','sysconstraints','syssegments')",
                text_rows(u"", {}));
            provider.add_command(u"select table_name, view_definition from information_schema.views where "
                                 u"table_schema='" +
                                     o +
                                     u"' and table_name not in "
                                     u"('sysalternates','sysconstraints','syssegments')",
                                 text_rows(u"", {}));
        }
    }
    void set_version(const std::u16string& text) {
        provider.add_command(u"SELECT @@VERSION", text_rows(u"", {text}));
    }
    // The DBINIT properties of the last data source made.
    std::vector<odb_script_property> last_login() const {
        auto sets = provider.property_sets();
        for (auto it = sets.rbegin(); it != sets.rend(); ++it)
            if (it->set == DBPROPSET_DBINIT) return it->properties;
        return {};
    }

    odb_scripted_provider provider;
    mss_engine engine{false};
};
} // namespace

TEST_F(mss_engine_fixture, connect_stores_the_login_and_reads_the_version) {
    trace_capture trace;
    engine.connect(u"srv", u"clerk", u"pw", true);
    EXPECT_TRUE(engine.is_connected());
    EXPECT_TRUE(engine.is_native());
    EXPECT_TRUE(engine.fast_load());
    EXPECT_EQ(engine.version(), mss_version_2008);
    EXPECT_EQ(engine.host(), u"srv");
    EXPECT_EQ(engine.user(), u"clerk");
    EXPECT_EQ(engine.password(), u"pw");
    auto sets = provider.property_sets();
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_TRUE(sets[1].set == DBPROPSET_SQLSERVERDATASOURCE);
    ASSERT_EQ(sets[1].properties.size(), 1u);
    EXPECT_EQ(sets[1].properties[0].id, SSPROP_ENABLEFASTLOAD);
    EXPECT_EQ(sets[1].properties[0].vt, VT_BOOL);
    EXPECT_TRUE(sets[1].properties[0].flag);
    EXPECT_TRUE(trace.has_line("mss_engine::connect( srv, clerk, ******** )"));
    EXPECT_EQ(trace.text().find(", pw"), std::string::npos);
    EXPECT_TRUE(trace.has_line("Connecting to MS SQL server..."));
    EXPECT_TRUE(trace.has_line("mss_engine::enable_fast_load(1)"));
    EXPECT_TRUE(trace.has_line("str_ver_num=2008 R2 ("));
    EXPECT_TRUE(trace.has_line("Got MS SQL version: 5"));
    // Nothing of the connection stays open.
    EXPECT_EQ(provider.live_objects(), 0);
}

TEST_F(mss_engine_fixture, refused_fast_load_leaves_it_off_and_connects) {
    provider.fail(odb_script_call::set_provider_properties, failure(DB_E_ERRORSOCCURRED, u"no fast load"));
    engine.connect(u"srv", true);
    EXPECT_TRUE(engine.is_connected());
    EXPECT_FALSE(engine.fast_load());
}

TEST_F(mss_engine_fixture, a_failed_connect_changes_nothing_but_a_failed_version_read_keeps_the_login) {
    engine.connect(u"first", u"u1", u"p1", true);
    provider.fail(odb_script_call::initialize, failure(DB_SEC_E_AUTH_FAILED, u"Login failed."));
    EXPECT_THROW(engine.connect(u"second", u"u2", u"p2", true), odb_exception);
    EXPECT_EQ(engine.host(), u"first");
    EXPECT_EQ(engine.user(), u"u1");

    odb_scripted_provider other;
    other.add_class(CLSID_SQLNCLI11); // no "SELECT @@VERSION" answer there
    EXPECT_THROW(engine.connect(u"third", u"u3", u"p3", true), odb_exception);
    EXPECT_TRUE(engine.is_connected());
    EXPECT_EQ(engine.host(), u"third");
    EXPECT_EQ(engine.user(), u"u3");
    EXPECT_EQ(engine.version(), mss_version_2008);
}

TEST_F(mss_engine_fixture, generic_provider_is_not_native) {
    odb_scripted_provider generic;
    generic.add_class(CLSID_MSDAINITIALIZE);
    generic.add_command(u"SELECT @@VERSION", text_rows(u"", {version_2008r2}));
    EXPECT_FALSE(engine.is_native());
    engine.connect(u"srv", true);
    EXPECT_TRUE(engine.is_connected());
    EXPECT_FALSE(engine.is_native());
}

struct version_case {
    std::u16string text;
    int code;
};
class mss_engine_version : public ::testing::TestWithParam<version_case> {};

TEST_P(mss_engine_version, code_of_the_version_text) {
    odb_scripted_provider provider;
    provider.add_class(CLSID_SQLNCLI11);
    provider.add_command(u"SELECT @@VERSION", text_rows(u"", {GetParam().text}));
    mss_engine engine(false);
    engine.connect(u"srv", true);
    EXPECT_EQ(engine.version(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    texts, mss_engine_version,
    ::testing::Values(
        version_case{version_2008r2, 5},
        version_case{u"Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38", 3},
        version_case{u"Microsoft SQL Server 2014 - 12.0.2000.8 (X64) \n\tFeb 20 2014 20:04:26", 1},
        version_case{u"Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86)", 4},
        version_case{u"Microsoft SQL Server 2012 - 11.0.2100.60 (X64)", 8},
        version_case{u"Microsoft SQL Server 2011 (CTP) - 11.0.1103.9", 7},
        version_case{u"Microsoft SQL Server 2010 (CTP) - 10.50.1092.20", 6},
        version_case{u"Microsoft SQL Server  7.00 - 7.00.1063 (Intel X86)", 2},
        version_case{u"Microsoft SQL Server          ", 1}, // 20 + ten blanks: not longer than 30
        version_case{u"Microsoft SQL Server 2008 R2", 1},
        version_case{u"Microsoft SQL Azure (RTM) - 12.0.2000.8 \n\tJul 31 2020", 100},
        version_case{u"Microsoft SQL Azure", 1}, version_case{u"PostgreSQL 16.1 on x86_64-pc-linux-gnu", 1},
        version_case{u"", 1}));

TEST_F(mss_engine_fixture, databases_through_the_catalogs_rowset) {
    trace_capture trace;
    provider.add_schema(DBSCHEMA_CATALOGS, text_rows(u"CATALOG_NAME", {u"master", u"shop", u"tempdb"}));
    engine.connect(u"srv", true);
    std::vector<std::u16string> names{u"old"};
    engine.get_contents(names);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"master", u"shop", u"tempdb"}));
    EXPECT_TRUE(trace.has_line("Try to get databases list via OLE DB"));
    EXPECT_TRUE(trace.has_line("Got database: shop"));
    EXPECT_FALSE(called(provider, "SetCommandText exec sp_databases"));
    EXPECT_EQ(provider.live_objects(), 0);
}

TEST_F(mss_engine_fixture, databases_through_sp_databases_when_the_catalogs_rowset_is_empty) {
    trace_capture trace;
    odb_script_rowset result = text_rows(u"DATABASE_NAME", {u"zeta", u"alpha"});
    result.columns.push_back(odb_test::column(u"DATABASE_SIZE", DBTYPE_I4, 4));
    result.rows[0].push_back(u"1024");
    result.rows[1].push_back(odb_script_value::null());
    provider.add_command(u"exec sp_databases", result);
    engine.connect(u"srv", true);
    std::vector<std::u16string> names;
    engine.get_contents(names);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"zeta", u"alpha"}));
    EXPECT_TRUE(trace.has_line("Try to get databases list via MS SQL native"));
}

TEST_F(mss_engine_fixture, azure_refuses_to_list_databases) {
    set_version(u"Microsoft SQL Azure (RTM) - 12.0.2000.8 \n\tJul 31 2020");
    engine.connect(u"srv", u"clerk", u"pw", true);
    provider.clear_calls();
    std::vector<std::u16string> names{u"kept"};
    try {
        engine.get_contents(names);
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.code(), 1);
        EXPECT_EQ(e.level(), 1);
        EXPECT_EQ(e.message(),
                  "Azure SQL does not allow to list databases.\r\nEnter database name directly.");
    }
    EXPECT_EQ(names, std::vector<std::u16string>{u"kept"});
    EXPECT_TRUE(provider.calls().empty());
}

TEST_F(mss_engine_fixture, use_before_connect_is_an_internal_error) {
    std::vector<std::u16string> names;
    EXPECT_THROW(engine.get_contents(names), tk_mail_assertion);
    EXPECT_THROW(engine.open_db(u"shop", 1), tk_mail_assertion);
    EXPECT_THROW(mss_engine second(true), tk_mail_assertion);
}

TEST_F(mss_engine_fixture, open_db_logs_into_the_database_and_hands_over_a_session) {
    trace_capture trace;
    engine.connect(u"srv", u"clerk", u"pw", true);
    std::unique_ptr<mss_database> db = engine.open_db(u"shop", 33);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->name(), u"shop");
    EXPECT_EQ(db->mode(), 33);
    EXPECT_TRUE(db->session());
    auto login = last_login();
    ASSERT_EQ(login.size(), 4u);
    EXPECT_EQ(login[3].id, DBPROP_INIT_CATALOG);
    EXPECT_EQ(login[3].text, u"shop");
    EXPECT_TRUE(trace.has_line("Opening MS SQL database 'shop'"));
    EXPECT_TRUE(trace.has_line("Connection to the database was establish successfully"));
    db.reset();
    EXPECT_EQ(provider.live_objects(), 0);
}

TEST_F(mss_engine_fixture, database_queries) {
    engine.connect(u"srv", true);
    provider.add_command(u"SELECT 1", text_rows(u"x", {u"1"}));
    auto db = engine.open_db(u"shop", 1);
    EXPECT_TRUE(db->test_query(u"SELECT 1"));
    EXPECT_FALSE(db->test_query(u"SELECT nonsense"));
    auto reader = db->query(u"SELECT 1");
    reader->reset();
    ASSERT_FALSE(reader->is_eof());
    EXPECT_EQ((*reader->get_item())[0].to_wstring(), u"1");
    EXPECT_THROW(db->query(u"SELECT nonsense"), odb_exception);
}

TEST_F(mss_engine_fixture, table_names_get_their_owner) {
    engine.connect(u"srv", true);
    EXPECT_EQ(engine.get_safe_tname(u"[sales].[orders]"), u"[sales].[orders]");
    EXPECT_EQ(engine.get_safe_tname(u"[orders]"), u"[dbo].[orders]");
    EXPECT_EQ(engine.get_safe_tname(u"orders"), u"[dbo].[orders]");
    // Not a bracketed name: the whole text is the table, its ']' escaped.
    EXPECT_EQ(engine.get_safe_tname(u"[]"), u"[dbo].[[]]]");
    EXPECT_EQ(engine.get_safe_tname(u"[a]]b]"), u"[dbo].[a]]b]");
    EXPECT_EQ(engine.get_safe_tname(u"a]b"), u"[dbo].[a]]b]");

    engine.connect(u"srv", u"clerk", u"pw", true);
    EXPECT_EQ(engine.get_safe_tname(u"orders"), u"[clerk].[orders]");
    EXPECT_EQ(engine.get_safe_tname(u"[orders]"), u"[clerk].[orders]");
    engine.set_as_dbo(true);
    EXPECT_EQ(engine.get_safe_tname(u"orders"), u"[dbo].[orders]");
    engine.set_as_dbo(false);
    for (const char16_t* sa : {u"sa", u"SA", u"sA"}) {
        engine.connect(u"srv", sa, u"pw", true);
        EXPECT_EQ(engine.get_safe_tname(u"orders"), u"[dbo].[orders]");
    }
}

TEST_F(mss_engine_fixture, windows_login_after_an_sql_login_forgets_the_sql_login) {
    engine.connect(u"srv", u"clerk", u"secret", true);
    engine.connect(u"srv", true);
    EXPECT_TRUE(engine.user().empty());
    EXPECT_TRUE(engine.password().empty());
    EXPECT_EQ(engine.get_safe_tname(u"orders"), u"[dbo].[orders]");
    auto db = engine.open_db(u"shop", 1);
    auto login = last_login();
    ASSERT_EQ(login.size(), 3u);
    EXPECT_EQ(login[1].id, DBPROP_AUTH_INTEGRATED);
    EXPECT_EQ(login[1].text, u"SSPI");
}

TEST_F(mss_engine_fixture, set_as_dbo_traces) {
    trace_capture trace;
    engine.set_as_dbo(true);
    EXPECT_TRUE(engine.as_dbo());
    EXPECT_TRUE(trace.has_line("mss_engine::set_as_dbo(1)"));
}
