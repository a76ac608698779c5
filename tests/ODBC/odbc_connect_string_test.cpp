#include "ODBC/odbc_connect_string.hpp"
#include "ODBC/odbc_error.hpp"
#include "ODBC/odbc_result.hpp"

#include <gtest/gtest.h>

namespace {

struct server_case {
    std::u16string host;
    std::u16string freetds;
    std::u16string microsoft;
};
class odbc_server_form : public ::testing::TestWithParam<server_case> {};

TEST_P(odbc_server_form, gives_port_only_where_the_driver_needs_it) {
    EXPECT_EQ(odbc_server_value(GetParam().host, odbc_driver_kind::freetds), GetParam().freetds);
    EXPECT_EQ(odbc_server_value(GetParam().host, odbc_driver_kind::microsoft), GetParam().microsoft);
}

INSTANTIATE_TEST_SUITE_P(
    hosts, odbc_server_form,
    ::testing::Values(server_case{u"db1", u"db1,1433", u"db1,1433"},
                      server_case{u"10.0.0.7", u"10.0.0.7,1433", u"10.0.0.7,1433"},
                      server_case{u"db1,14330", u"db1,14330", u"db1,14330"},
                      server_case{u"db1\\SQLEXPRESS", u"db1\\SQLEXPRESS", u"db1\\SQLEXPRESS"},
                      server_case{u"", u"localhost,1433", u"localhost,1433"},
                      server_case{u"  ", u"localhost,1433", u"localhost,1433"},
                      server_case{u"(local)", u"localhost,1433", u"localhost,1433"},
                      server_case{u".\\SQLEXPRESS", u"localhost\\SQLEXPRESS", u"localhost\\SQLEXPRESS"},
                      server_case{u"tcp:db1,2000", u"db1,2000", u"tcp:db1,2000"}));

odbc_login sql_login(std::u16string password) {
    return odbc_login{u"db1", u"sa", std::move(password), u"Sales", false};
}

TEST(odbc_connect_string, freetds_string_has_every_key_and_utf8) {
    EXPECT_EQ(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, sql_login(u"pw")),
              u"Driver={FreeTDS};Server=db1;Port=1433;Database=Sales;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
    odbc_login integrated{u"db1\\inst", u"", u"", u"", true};
    EXPECT_EQ(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, integrated),
              u"Driver={FreeTDS};Server=db1\\inst;Trusted_Connection=Yes;TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
}

TEST(odbc_connect_string, freetds_gets_the_port_as_a_key_of_its_own) {
    auto server = [](std::u16string host) {
        odbc_login login{std::move(host), u"sa", u"pw", u"", false};
        std::u16string text = odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, login);
        return text.substr(0, text.find(u";UID="));
    };
    EXPECT_EQ(server(u"db1,14330"), u"Driver={FreeTDS};Server=db1;Port=14330");
    EXPECT_EQ(server(u"tcp:db1, 2000"), u"Driver={FreeTDS};Server=db1;Port=2000");
    EXPECT_EQ(server(u""), u"Driver={FreeTDS};Server=localhost;Port=1433");
    EXPECT_EQ(server(u"db1\\SQLEXPRESS"), u"Driver={FreeTDS};Server=db1\\SQLEXPRESS");
    EXPECT_EQ(server(u"db1\\SQLEXPRESS,1500"), u"Driver={FreeTDS};Server=db1\\SQLEXPRESS;Port=1500");
}

TEST(odbc_connect_string, tabs_at_the_ends_of_values_survive) {
    odbc_login login{u"db1", u"\tsa", u"pw\t", u"\tSales", false};
    EXPECT_EQ(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, login),
              u"Driver={FreeTDS};Server=db1;Port=1433;Database={\tSales};UID={\tsa};PWD={pw\t};"
              u"TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
    EXPECT_EQ(odbc_build_connect_string(u"ODBC Driver 17 for SQL Server", odbc_driver_kind::microsoft, login),
              u"Driver={ODBC Driver 17 for SQL Server};Server=db1,1433;Database={\tSales};UID={\tsa};"
              u"PWD={pw\t};");
    // Quoted the OLE DB way, they come back whole; unquoted blanks around a value are dropped.
    login = odbc_parse_oledb_string(u"Data Source=\"\tdb1\";User Id=\"\tsa\";Password=\"pw\t\"; "
                                    u"Initial Catalog= Sales ");
    EXPECT_EQ(login.host, u"\tdb1");
    EXPECT_EQ(login.user, u"\tsa");
    EXPECT_EQ(login.password, u"pw\t");
    EXPECT_EQ(login.database, u"Sales");
}

TEST(odbc_connect_string, freetds_braces_without_doubling_and_refuses_brace_semicolon) {
    EXPECT_EQ(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, sql_login(u"a;b}c")),
              u"Driver={FreeTDS};Server=db1;Port=1433;Database=Sales;UID=sa;PWD={a;b}c};TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
    EXPECT_EQ(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, sql_login(u"{x")),
              u"Driver={FreeTDS};Server=db1;Port=1433;Database=Sales;UID=sa;PWD={{x};TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
    // A plain '}' needs no braces: FreeTDS reads an unbraced value up to ';'.
    EXPECT_EQ(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, sql_login(u"x}")),
              u"Driver={FreeTDS};Server=db1;Port=1433;Database=Sales;UID=sa;PWD=x};TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
    try {
        odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, sql_login(u"a};b"));
        FAIL() << "a value with \"};\" was accepted";
    } catch (const odbc_error& e) {
        EXPECT_EQ(e.result(), E_INVALIDARG);
        EXPECT_NE(e.records().front().description.find(u"\"};\""), std::u16string::npos);
        EXPECT_NE(e.records().front().description.find(u"PWD"), std::u16string::npos);
    }
}

TEST(odbc_connect_string, microsoft_doubles_closing_braces_and_keeps_encrypt_default) {
    EXPECT_EQ(odbc_build_connect_string(u"ODBC Driver 18 for SQL Server", odbc_driver_kind::microsoft,
                                        sql_login(u"a};b")),
              u"Driver={ODBC Driver 18 for SQL Server};Server=db1,1433;Database=Sales;UID=sa;PWD={a}};b};");
    odbc_native_options options{u"no", u"yes"};
    EXPECT_EQ(odbc_build_connect_string(u"ODBC Driver 18 for SQL Server", odbc_driver_kind::microsoft,
                                        odbc_login{u"db1", u"", u"", u"", true}, options),
              u"Driver={ODBC Driver 18 for SQL Server};Server=db1,1433;Trusted_Connection=yes;Encrypt=no;"
              u"TrustServerCertificate=yes;");
}

TEST(odbc_connect_string, native_options_set_by_the_program_win_over_the_environment) {
    setenv("TABLOXA_ODBC_ENCRYPT", "optional", 1);
    EXPECT_EQ(odbc_native_options::current().encrypt, u"optional");
    odbc_set_native_options({u"no", u""});
    EXPECT_EQ(odbc_native_options::current().encrypt, u"no");
    odbc_clear_native_options();
    unsetenv("TABLOXA_ODBC_ENCRYPT");
    EXPECT_EQ(odbc_native_options::current().encrypt, u"");
}

TEST(odbc_oledb_string, reads_the_generic_string_with_quoted_values) {
    odbc_login login = odbc_parse_oledb_string(
        u"Provider=sqloledb;Data Source=db1,2000;Initial Catalog=Sales;User Id=sa;Password=\"p;w\"\"x\";");
    EXPECT_EQ(login.host, u"db1,2000");
    EXPECT_EQ(login.database, u"Sales");
    EXPECT_EQ(login.user, u"sa");
    EXPECT_EQ(login.password, u"p;w\"x");
    EXPECT_FALSE(login.integrated);

    login = odbc_parse_oledb_string(u"Provider=sqloledb;Data Source=;Integrated Security=SSPI;");
    EXPECT_EQ(login.host, u"");
    EXPECT_TRUE(login.integrated);
    EXPECT_EQ(odbc_parse_oledb_string(u"Password='it''s'").password, u"it's");
}

TEST(odbc_oledb_string, refuses_what_it_cannot_translate) {
    EXPECT_THROW(odbc_parse_oledb_string(u"Provider=sqloledb;Mode=Read"), odbc_error);
    EXPECT_THROW(odbc_parse_oledb_string(u"Password=\"open"), odbc_error);
    EXPECT_THROW(odbc_parse_oledb_string(u"Password=\"a\"b"), odbc_error);
    EXPECT_THROW(odbc_parse_oledb_string(u"Connect Timeout=-1"), odbc_error);
    EXPECT_THROW(odbc_parse_oledb_string(u"Connect Timeout=soon"), odbc_error);
    EXPECT_EQ(odbc_parse_oledb_string(u"Data Source=x").login_timeout, 15);
    EXPECT_EQ(odbc_parse_oledb_string(u"Data Source=x;Connect Timeout=0;").login_timeout, 0);
}

struct state_case {
    std::u16string sqlstate;
    long native;
    HRESULT expected;
};
class odbc_sqlstate_mapping : public ::testing::TestWithParam<state_case> {};

TEST_P(odbc_sqlstate_mapping, gives_the_oledb_result) {
    EXPECT_EQ(odbc_hresult_from_sqlstate(GetParam().sqlstate, GetParam().native), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    states, odbc_sqlstate_mapping,
    ::testing::Values(
        state_case{u"28000", 0, DB_SEC_E_AUTH_FAILED}, state_case{u"42000", 18456, DB_SEC_E_AUTH_FAILED},
        state_case{u"08001", 0, E_FAIL}, state_case{u"08S01", 20009, E_FAIL}, state_case{u"HYT00", 0, E_FAIL},
        state_case{u"42S02", 208, DB_E_NOTABLE}, state_case{u"42S22", 207, DB_E_NOCOLUMN},
        state_case{u"42000", 102, DB_E_ERRORSINCOMMAND}, state_case{u"37000", 0, DB_E_ERRORSINCOMMAND},
        state_case{u"42000", 229, DB_SEC_E_PERMISSIONDENIED},
        state_case{u"42000", 230, DB_SEC_E_PERMISSIONDENIED}, state_case{u"22003", 0, DB_E_DATAOVERFLOW},
        state_case{u"22005", 0, DB_E_CANTCONVERTVALUE}, state_case{u"22018", 0, DB_E_CANTCONVERTVALUE},
        state_case{u"23000", 0, DB_E_INTEGRITYVIOLATION}, state_case{u"01000", 0, DB_E_ERRORSOCCURRED},
        state_case{u"HY000", 0, DB_E_ERRORSOCCURRED}));

TEST(odbc_message, splits_bracketed_prefixes_from_the_text) {
    std::u16string source, description;
    odbc_split_message(u"[FreeTDS][SQL Server]Login failed for user 'x'.", source, description);
    EXPECT_EQ(source, u"[FreeTDS][SQL Server]");
    EXPECT_EQ(description, u"Login failed for user 'x'.");
    odbc_split_message(u"no such table: t [x]", source, description);
    EXPECT_EQ(source, u"");
    EXPECT_EQ(description, u"no such table: t [x]");
    odbc_split_message(u"[unterminated", source, description);
    EXPECT_EQ(source + description, u"[unterminated");
}

struct type_case {
    short sql_type;
    std::u16string type_name;
    unsigned long long size;
    short digits;
    DBTYPE type;
    DBLENGTH ole_size;
};
class odbc_column_type : public ::testing::TestWithParam<type_case> {};

TEST_P(odbc_column_type, reports_oledb_type_and_size) {
    const type_case& c = GetParam();
    odbc_column column = odbc_describe_column(u"c", c.sql_type, c.type_name, c.size, c.digits, 1, false);
    EXPECT_EQ(column.type, c.type);
    EXPECT_EQ(column.size, c.ole_size);
    EXPECT_TRUE(column.flags & DBCOLUMNFLAGS_ISNULLABLE);
}

constexpr DBLENGTH unbounded = ~DBLENGTH(0);
// Codes and sizes as FreeTDS reports the server's types.
INSTANTIATE_TEST_SUITE_P(
    server_types, odbc_column_type,
    ::testing::Values(
        type_case{4, u"int", 10, 0, DBTYPE_I4, 4}, type_case{5, u"smallint", 5, 0, DBTYPE_I2, 2},
        type_case{-6, u"tinyint", 3, 0, DBTYPE_UI1, 1}, type_case{-5, u"bigint", 19, 0, DBTYPE_I8, 8},
        type_case{7, u"real", 24, 0, DBTYPE_R4, 4}, type_case{8, u"float", 53, 0, DBTYPE_R8, 8},
        type_case{3, u"money", 19, 4, DBTYPE_CY, 8}, type_case{3, u"smallmoney", 10, 4, DBTYPE_CY, 8},
        type_case{2, u"decimal", 18, 4, DBTYPE_NUMERIC, 19}, type_case{-7, u"bit", 1, 0, DBTYPE_BOOL, 2},
        type_case{-11, u"uniqueidentifier", 36, 0, DBTYPE_GUID, 16},
        type_case{93, u"datetime", 23, 3, DBTYPE_DBTIMESTAMP, 16},
        type_case{91, u"date", 10, 0, DBTYPE_DBDATE, 6}, type_case{-154, u"time", 16, 7, DBTYPE_DBTIME2, 10},
        type_case{-155, u"datetimeoffset", 34, 7, DBTYPE_DBTIMESTAMPOFFSET, 20},
        type_case{1, u"char", 10, 0, DBTYPE_STR, 10}, type_case{12, u"varchar", 0, 0, DBTYPE_STR, unbounded},
        type_case{-1, u"text", 2147483647, 0, DBTYPE_STR, unbounded},
        type_case{-9, u"nvarchar", 50, 0, DBTYPE_WSTR, 50},
        type_case{-10, u"ntext", 1073741823, 0, DBTYPE_WSTR, unbounded},
        type_case{-2, u"timestamp", 8, 0, DBTYPE_BYTES, 8},
        type_case{-3, u"varbinary", 0, 0, DBTYPE_BYTES, unbounded},
        type_case{-4, u"", 2147483647, 0, DBTYPE_BYTES, unbounded},
        type_case{-152, u"xml", 0, 0, DBTYPE_XML, unbounded},
        type_case{-150, u"sql_variant", 8000, 0, DBTYPE_VARIANT, 8016},
        type_case{-151, u"hierarchyid", 892, 0, DBTYPE_UDT, 892}));

TEST(odbc_column_type, decimal_keeps_precision_and_scale) {
    odbc_column column = odbc_describe_column(u"d", 2, u"decimal", 18, 4, 0, false);
    EXPECT_EQ(column.precision, 18);
    EXPECT_EQ(column.scale, 4);
    EXPECT_FALSE(column.flags & DBCOLUMNFLAGS_ISNULLABLE);
}

} // namespace
