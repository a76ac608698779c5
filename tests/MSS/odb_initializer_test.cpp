#include "MSS/odb_exception.hpp"
#include "MSS/odb_initializer.hpp"
#include "odb_test_util.hpp"

#include <gtest/gtest.h>

using odb_test::called;
using odb_test::failure;
using odb_test::trace_capture;

namespace {
struct expected_property {
    DBPROPID id;
    std::u16string text;
};

void expect_properties(const odb_script_property_set& set, const std::vector<expected_property>& expected) {
    EXPECT_TRUE(set.set == DBPROPSET_DBINIT);
    ASSERT_EQ(set.properties.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const odb_script_property& p = set.properties[i];
        EXPECT_EQ(p.id, expected[i].id) << i;
        EXPECT_EQ(p.vt, VT_BSTR) << i;
        EXPECT_EQ(p.text, expected[i].text) << i;
        EXPECT_EQ(p.options, DBPROPOPTIONS_REQUIRED) << i;
        EXPECT_TRUE(p.null_column) << i;
    }
}
} // namespace

TEST(odb_initializer, native_11_missing_and_10_present) {
    trace_capture trace;
    odb_scripted_provider provider;
    provider.add_class(CLSID_SQLNCLI10);
    provider.add_class(CLSID_MSDAINITIALIZE);
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    EXPECT_TRUE(init.test_connection(source, u"srv", u"clerk", u"pw", u"shop"));
    EXPECT_TRUE(source);
    EXPECT_TRUE(init.native_provider());
    EXPECT_EQ(provider.calls(),
              (std::vector<std::string>{"CoCreateInstance SQLNCLI11", "CoCreateInstance SQLNCLI10",
                                        "SetProperties", "Initialize"}));
    EXPECT_TRUE(trace.has_line("odb_initializer::test_connection(srv,clerk,********,shop)"));
    EXPECT_EQ(trace.text().find("pw"), std::string::npos);
    EXPECT_TRUE(trace.has_line("CoCreateInstance failed"));
    EXPECT_TRUE(trace.has_line("SQLNCLI1X initialization SUCCEEDED!"));
    EXPECT_TRUE(trace.has_line("CLSID_SQLNCLI10 succeeded"));
    EXPECT_FALSE(trace.has_line("CLSID_SQLNCLI11 succeeded"));
    source.reset();
    EXPECT_EQ(provider.live_objects(), 0);
}

TEST(odb_initializer, both_native_missing_uses_the_generic_provider) {
    trace_capture trace;
    odb_scripted_provider provider;
    provider.add_class(CLSID_MSDAINITIALIZE);
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    EXPECT_TRUE(init.test_connection(source, u"srv", u"", u"", u""));
    EXPECT_FALSE(init.native_provider());
    EXPECT_TRUE(
        called(provider, "GetDataSource Provider=sqloledb;Data Source=srv;Integrated Security=SSPI;"));
    EXPECT_TRUE(called(provider, "Initialize"));
    EXPECT_FALSE(called(provider, "SetProperties"));
    EXPECT_TRUE(trace.has_line("odb_initializer::test_generic_connection(Provider=sqloledb;Data "
                               "Source=srv;Integrated Security=SSPI;)"));
}

TEST(odb_initializer, the_trace_never_shows_the_password) {
    trace_capture trace;
    odb_scripted_provider provider;
    provider.add_class(CLSID_MSDAINITIALIZE);
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    EXPECT_TRUE(init.test_connection(source, u"srv", u"clerk", u"s3cret", u"shop"));
    EXPECT_TRUE(called(provider, "GetDataSource Provider=sqloledb;Data Source=srv;Initial Catalog=shop;User "
                                 "Id=clerk;Password=s3cret;"));
    EXPECT_EQ(trace.text().find("s3cret"), std::string::npos) << trace.text();
    EXPECT_NE(trace.text().find("Password=********;"), std::string::npos) << trace.text();
}

TEST(odb_initializer, a_failing_native_provider_raises_at_once) {
    odb_scripted_provider provider;
    provider.add_class(CLSID_SQLNCLI11);
    provider.add_class(CLSID_SQLNCLI10);
    provider.add_class(CLSID_MSDAINITIALIZE);
    provider.fail(odb_script_call::initialize,
                  failure(DB_SEC_E_AUTH_FAILED, u"Login failed for user 'sa'.", u"28000", 18456));
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    try {
        init.test_connection(source, u"srv", u"sa", u"wrong", u"");
        FAIL() << "no exception";
    } catch (const odb_exception& e) {
        EXPECT_EQ(e.code(), 0x80E4D);
        EXPECT_EQ(e.message(), "Login failed for user 'sa'.");
    }
    EXPECT_FALSE(source);
    EXPECT_EQ(provider.calls(),
              (std::vector<std::string>{"CoCreateInstance SQLNCLI11", "SetProperties", "Initialize"}));
    EXPECT_EQ(provider.live_objects(), 0);
}

TEST(odb_initializer, failing_properties_raise_too) {
    odb_scripted_provider provider;
    provider.add_class(CLSID_SQLNCLI11);
    provider.add_class(CLSID_SQLNCLI10);
    provider.fail(odb_script_call::set_properties, failure(DB_E_ERRORSOCCURRED, u"bad property"));
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    EXPECT_THROW(init.test_connection(source, u"srv", u"", u"", u""), odb_exception);
    EXPECT_FALSE(called(provider, "CoCreateInstance SQLNCLI10"));

    odb_scripted_provider denying;
    denying.add_class(CLSID_SQLNCLI11);
    denying.deny_interface(IID_IDBProperties);
    EXPECT_THROW(init.test_connection(source, u"srv", u"", u"", u""), odb_exception);
}

TEST(odb_initializer, a_failing_generic_data_source_raises) {
    odb_scripted_provider provider;
    provider.add_class(CLSID_MSDAINITIALIZE);
    provider.fail(odb_script_call::get_data_source, failure(E_FAIL, u"bad string"));
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    try {
        init.test_connection(source, u"srv", u"", u"", u"");
        FAIL() << "no exception";
    } catch (const odb_exception& e) {
        EXPECT_EQ(e.message(), "bad string");
    }
}

TEST(odb_initializer, no_provider_at_all) {
    trace_capture trace;
    odb_scripted_provider provider;
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    try {
        init.test_connection(source, u"srv", u"", u"", u"");
        FAIL() << "no exception";
    } catch (const odb_exception&) {
        FAIL() << "wrong exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.code(), 1);
        EXPECT_EQ(e.level(), 1);
        EXPECT_EQ(e.message(),
                  "Failed to load an ODBC driver for SQL Server. You should install unixODBC with \"ODBC "
                  "Driver 18 for SQL Server\", \"ODBC Driver 17 for SQL Server\" or FreeTDS (Debian: "
                  "tdsodbc)\r\nto proceed with the application.\r\n");
    }
    EXPECT_TRUE(trace.has_line("Failed to initialize CLSID_MSDAINITIALIZE: 80040154"));
}

struct login_case {
    std::u16string host, user, password, database;
    std::vector<expected_property> properties;
    std::u16string connection_string;
};

class odb_initializer_login : public ::testing::TestWithParam<login_case> {};

TEST_P(odb_initializer_login, native_properties_in_order) {
    const login_case& c = GetParam();
    odb_scripted_provider provider;
    provider.add_class(CLSID_SQLNCLI11);
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    ASSERT_TRUE(init.test_connection(source, c.host, c.user, c.password, c.database));
    auto sets = provider.property_sets();
    ASSERT_EQ(sets.size(), 1u);
    expect_properties(sets[0], c.properties);
}

TEST_P(odb_initializer_login, generic_connection_string) {
    const login_case& c = GetParam();
    EXPECT_EQ(odb_initializer::connection_string(c.host, c.user, c.password, c.database),
              c.connection_string);
    odb_scripted_provider provider;
    provider.add_class(CLSID_MSDAINITIALIZE);
    odb_initializer init;
    ole_com_ptr<IDBInitialize> source;
    ASSERT_TRUE(init.test_connection(source, c.host, c.user, c.password, c.database));
    EXPECT_TRUE(called(provider, "GetDataSource " + tk_to_utf8(c.connection_string)));
}

INSTANTIATE_TEST_SUITE_P(
    combinations, odb_initializer_login,
    ::testing::Values(
        login_case{u"",
                   u"",
                   u"",
                   u"",
                   {{DBPROP_INIT_DATASOURCE, u""}, {DBPROP_AUTH_INTEGRATED, u"SSPI"}},
                   u"Provider=sqloledb;Data Source=;Integrated Security=SSPI;"},
        login_case{u"srv\\inst",
                   u"",
                   u"ignored",
                   u"shop",
                   {{DBPROP_INIT_DATASOURCE, u"srv\\inst"},
                    {DBPROP_AUTH_INTEGRATED, u"SSPI"},
                    {DBPROP_INIT_CATALOG, u"shop"}},
                   u"Provider=sqloledb;Data Source=srv\\inst;Initial Catalog=shop;Integrated Security=SSPI;"},
        login_case{
            u"srv",
            u"clerk",
            u"pw",
            u"",
            {{DBPROP_INIT_DATASOURCE, u"srv"}, {DBPROP_AUTH_USERID, u"clerk"}, {DBPROP_AUTH_PASSWORD, u"pw"}},
            u"Provider=sqloledb;Data Source=srv;User Id=clerk;Password=pw;"},
        login_case{u"",
                   u"clerk",
                   u"",
                   u"shop",
                   {{DBPROP_INIT_DATASOURCE, u""},
                    {DBPROP_AUTH_USERID, u"clerk"},
                    {DBPROP_AUTH_PASSWORD, u""},
                    {DBPROP_INIT_CATALOG, u"shop"}},
                   u"Provider=sqloledb;Data Source=;Initial Catalog=shop;User Id=clerk;Password=;"},
        login_case{u"srv",
                   u"",
                   u"",
                   u"",
                   {{DBPROP_INIT_DATASOURCE, u"srv"}, {DBPROP_AUTH_INTEGRATED, u"SSPI"}},
                   u"Provider=sqloledb;Data Source=srv;Integrated Security=SSPI;"},
        login_case{u"",
                   u"",
                   u"",
                   u"shop",
                   {{DBPROP_INIT_DATASOURCE, u""},
                    {DBPROP_AUTH_INTEGRATED, u"SSPI"},
                    {DBPROP_INIT_CATALOG, u"shop"}},
                   u"Provider=sqloledb;Data Source=;Initial Catalog=shop;Integrated Security=SSPI;"},
        login_case{
            u"",
            u"clerk",
            u"pw",
            u"",
            {{DBPROP_INIT_DATASOURCE, u""}, {DBPROP_AUTH_USERID, u"clerk"}, {DBPROP_AUTH_PASSWORD, u"pw"}},
            u"Provider=sqloledb;Data Source=;User Id=clerk;Password=pw;"},
        login_case{u"srv,1433",
                   u"clerk",
                   u"pw",
                   u"shop",
                   {{DBPROP_INIT_DATASOURCE, u"srv,1433"},
                    {DBPROP_AUTH_USERID, u"clerk"},
                    {DBPROP_AUTH_PASSWORD, u"pw"},
                    {DBPROP_INIT_CATALOG, u"shop"}},
                   u"Provider=sqloledb;Data Source=srv,1433;Initial Catalog=shop;User Id=clerk;Password=pw;"},
        // A value with ';' is quoted: it must log in, not add keys.
        login_case{u"srv",
                   u"clerk",
                   u"a;Integrated Security=SSPI",
                   u"shop",
                   {{DBPROP_INIT_DATASOURCE, u"srv"},
                    {DBPROP_AUTH_USERID, u"clerk"},
                    {DBPROP_AUTH_PASSWORD, u"a;Integrated Security=SSPI"},
                    {DBPROP_INIT_CATALOG, u"shop"}},
                   u"Provider=sqloledb;Data Source=srv;Initial Catalog=shop;User Id=clerk;"
                   u"Password=\"a;Integrated Security=SSPI\";"}));

TEST(odb_initializer, a_login_timeout_other_than_the_default_reaches_both_kinds_of_provider) {
    for (long seconds : {0L, 3L}) {
        odb_scripted_provider provider;
        provider.add_class(CLSID_SQLNCLI11);
        odb_initializer init;
        init.set_login_timeout(seconds);
        ole_com_ptr<IDBInitialize> source;
        ASSERT_TRUE(init.test_connection(source, u"srv", u"clerk", u"pw", u""));
        auto sets = provider.property_sets();
        ASSERT_EQ(sets.size(), 1u);
        ASSERT_EQ(sets[0].properties.size(), 4u);
        EXPECT_EQ(sets[0].properties[3].id, DBPROP_INIT_TIMEOUT);
        EXPECT_EQ(sets[0].properties[3].vt, VT_I4);
        EXPECT_EQ(sets[0].properties[3].number, seconds);
    }
    odb_scripted_provider provider;
    provider.add_class(CLSID_MSDAINITIALIZE);
    odb_initializer init;
    init.set_login_timeout(0);
    ole_com_ptr<IDBInitialize> source;
    ASSERT_TRUE(init.test_connection(source, u"srv", u"clerk", u"pw", u""));
    EXPECT_TRUE(called(provider, "GetDataSource Provider=sqloledb;Data Source=srv;User Id=clerk;Password=pw;"
                                 "Connect Timeout=0;"));
}

TEST(odb_initializer, values_are_quoted_only_when_they_need_it) {
    EXPECT_EQ(odb_initializer::quote_value(u"plain=value"), u"plain=value");
    EXPECT_EQ(odb_initializer::quote_value(u""), u"");
    EXPECT_EQ(odb_initializer::quote_value(u"a;b"), u"\"a;b\"");
    EXPECT_EQ(odb_initializer::quote_value(u"say \"hi\""), u"\"say \"\"hi\"\"\"");
    EXPECT_EQ(odb_initializer::quote_value(u"it's"), u"\"it's\"");
    EXPECT_EQ(odb_initializer::quote_value(u" lead"), u"\" lead\"");
    EXPECT_EQ(odb_initializer::quote_value(u"trail "), u"\"trail \"");
    EXPECT_EQ(odb_initializer::quote_value(u"in side"), u"in side");
    EXPECT_EQ(odb_initializer::quote_value(u"\tlead"), u"\"\tlead\"");
    EXPECT_EQ(odb_initializer::quote_value(u"trail\t"), u"\"trail\t\"");
}
