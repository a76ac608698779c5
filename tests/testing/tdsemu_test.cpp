// The emulator driven through unixODBC and the real FreeTDS driver, as the programs reach SQL Server.
#include "odbc_client.hpp"
#include "support/test_support.hpp"
#include "tdsemu/emu_catalog.hpp"
#include "tdsemu/emu_process.hpp"
#include "tdsemu/emu_server.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace odbc_client;
using tdsemu::emu_options;
using tdsemu::emu_server;

namespace {

// unixODBC and FreeTDS read files from the home folder and the ODBC variables: give them empty ones.
class isolated_environment : public ::testing::Environment {
public:
    void SetUp() override {
        m_dir = std::make_unique<test_support::temp_dir>();
        test_support::write_file(m_dir->file("odbcinst.ini"), "");
        test_support::write_file(m_dir->file("odbc.ini"), "");
        setenv("HOME", m_dir->path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_dir->path().c_str(), 1);
        setenv("ODBCSYSINI", m_dir->path().c_str(), 1);
        setenv("ODBCINI", m_dir->file("odbc.ini").c_str(), 1);
        unsetenv("FREETDSCONF");
        unsetenv("TDSVER");
    }
    void TearDown() override { m_dir.reset(); }

private:
    std::unique_ptr<test_support::temp_dir> m_dir;
};
const auto* const environment_registration = ::testing::AddGlobalTestEnvironment(new isolated_environment);

const char* const seed = R"sql(
CREATE DATABASE Sales;
GO
USE Sales;
CREATE SCHEMA hr;
CREATE TABLE dbo.Customers (
    id int IDENTITY(1,1) NOT NULL,
    name nvarchar(50) NOT NULL,
    city varchar(30) NULL DEFAULT 'Paris',
    active bit NOT NULL DEFAULT 1,
    CONSTRAINT PK_Customers PRIMARY KEY (id)
);
CREATE TABLE dbo.Orders (
    order_id int NOT NULL PRIMARY KEY,
    customer_id int NOT NULL,
    amount money NULL,
    CONSTRAINT FK_Orders_Customers FOREIGN KEY (customer_id) REFERENCES dbo.Customers (id)
);
CREATE UNIQUE INDEX UX_Orders_Amount ON dbo.Orders (amount DESC, customer_id);
CREATE TABLE hr.[Staff Members] (badge char(4) NOT NULL PRIMARY KEY, full_name nvarchar(max));
CREATE TABLE hr.t_1 (a int);
CREATE TABLE hr.tx1 (a int);
INSERT INTO dbo.Customers (name, city) VALUES (N'Zoë', 'Montréal'), (N'李小龙', NULL);
INSERT INTO dbo.Orders VALUES (1, 1, 12.34), (2, 2, 99999.9999), (3, 1, NULL);
INSERT INTO hr.[Staff Members] VALUES ('A001', N'Ann'), ('B002', NULL);
CREATE VIEW dbo.OrderTotals AS
SELECT TOP 100 PERCENT c.name, o.amount FROM dbo.Customers c JOIN dbo.Orders o ON o.customer_id = c.id ORDER BY o.amount;
CREATE TABLE dbo.Overflow (k int, small tinyint);
INSERT INTO dbo.Overflow VALUES (1, 5), (2, 300);
CREATE TABLE dbo.Secret (id int);
DENY SELECT ON dbo.Secret TO public;
CREATE TABLE dbo.Types (
    k int NOT NULL PRIMARY KEY,
    c_int int, c_smallint smallint, c_tinyint tinyint, c_bigint bigint, c_bit bit,
    c_real real, c_float float, c_money money, c_smallmoney smallmoney,
    c_decimal decimal(18,4), c_numeric numeric(10,2),
    c_datetime datetime, c_smalldatetime smalldatetime, c_datetime2 datetime2(7), c_datetime2_0 datetime2(0),
    c_date date, c_time time(7), c_time3 time(3), c_dto datetimeoffset(7),
    c_guid uniqueidentifier, c_char char(10), c_varchar varchar(50), c_varchar_max varchar(max),
    c_nchar nchar(10), c_nvarchar nvarchar(50), c_nvarchar_max nvarchar(max), c_text text, c_ntext ntext,
    c_binary binary(4), c_varbinary varbinary(50), c_varbinary_max varbinary(max), c_image image,
    c_xml xml, c_variant sql_variant, c_ts timestamp
);
INSERT INTO dbo.Types (k, c_int, c_smallint, c_tinyint, c_bigint, c_bit, c_real, c_float, c_money, c_smallmoney,
    c_decimal, c_numeric, c_datetime, c_smalldatetime, c_datetime2, c_datetime2_0, c_date, c_time, c_time3, c_dto,
    c_guid, c_char, c_varchar, c_varchar_max, c_nchar, c_nvarchar, c_nvarchar_max, c_text, c_ntext,
    c_binary, c_varbinary, c_varbinary_max, c_image, c_xml, c_variant)
VALUES (1, 123, -7, 255, 9007199254740993, 1, 0.1, 0.1, 12.34, -0.5,
    12.3400, -0.5, '2005-12-31 23:59:59.997', '2005-12-31 23:59:00', '2005-12-31 23:59:59.123456',
    '2005-12-31 23:59:59', '2005-12-31', '23:59:59.123456', '01:02:03.456', '2005-12-31 23:59:59.123456 +05:30',
    '6F9619FF-8B86-D011-B42D-00C04FC964FF', 'abc', 'héllo', 'long é', N'wide', N'héllo ✓', N'𝄞 max', 'old text',
    N'old ñ', 0x01AB, 0xDEADBEEF, 0x0102, 0xFF, '<a>1</a>', 42);
INSERT INTO dbo.Types (k) VALUES (2);
CREATE TABLE dbo.Long (id int, body nvarchar(max), bytes varbinary(max));
INSERT INTO dbo.Long VALUES (1, '', NULL);
UPDATE dbo.Long SET body = (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
    SELECT group_concat('x', '') FROM n), bytes = zeroblob(10240);
CREATE DATABASE Archive;
USE Archive;
CREATE TABLE dbo.Old (id int);
CREATE DATABASE Locked;
DENY CONNECT ON DATABASE Locked;
)sql";

emu_options sales_options() {
    emu_options o;
    o.seed_text = seed;
    o.generated_tables.push_back({"Sales", "Big", 20000});
    o.generated_tables.push_back({"Sales", "Endless", -1});
    return o;
}

class emulator : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto o = sales_options();
        o.verbose = std::getenv("TDSEMU_VERBOSE") != nullptr;
        s_server = new emu_server(o);
        s_env = new environment;
    }
    static void TearDownTestSuite() {
        delete s_env;
        delete s_server;
    }
    static std::unique_ptr<connection> connect(const std::string& db = "Sales",
                                               const std::string& user = "sa",
                                               const std::string& password = "Tabloxa-1") {
        return std::make_unique<connection>(*s_env, connection_string(s_server->port(), db, user, password));
    }
    static std::vector<diag> connect_error(const std::string& db, const std::string& user,
                                           const std::string& password) {
        try {
            connect(db, user, password);
        } catch (const odbc_error& e) {
            return e.records;
        }
        ADD_FAILURE() << "the connection succeeded";
        return {};
    }
    static std::vector<diag> exec_error(connection& c, const std::string& sql) {
        statement s(c.handle());
        try {
            s.exec(sql);
            s.rows();
        } catch (const odbc_error& e) {
            return e.records;
        }
        ADD_FAILURE() << "the statement succeeded: " << sql;
        return {};
    }
    static emu_server* s_server;
    static environment* s_env;
};
emu_server* emulator::s_server = nullptr;
environment* emulator::s_env = nullptr;

std::vector<std::string> column(const std::vector<row>& rows, size_t index) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.at(index).value_or("<NULL>"));
    return out;
}

} // namespace

TEST_F(emulator, answers_the_version_and_lists_databases) {
    auto c = connect();
    EXPECT_EQ(c->scalar("SELECT @@VERSION").rfind("Microsoft SQL Server 2019 ", 0), 0u);
    statement s(c->handle());
    auto rows = s.all("exec sp_databases");
    EXPECT_EQ(column(rows, 0),
              (std::vector<std::string>{"Archive", "Locked", "master", "model", "msdb", "Sales", "tempdb"}));
    SQLWCHAR name[64] = {};
    SQLSMALLINT len = 0;
    SQLColAttributeW(s.handle(), 1, SQL_DESC_NAME, name, sizeof name, &len, nullptr);
    EXPECT_EQ(narrow(reinterpret_cast<char16_t*>(name)), "DATABASE_NAME");
}

TEST_F(emulator, refuses_logins_as_the_server_does) {
    auto bad = connect_error("Sales", "sa", "wrong");
    ASSERT_FALSE(bad.empty());
    EXPECT_EQ(bad[0].state, "42000");
    EXPECT_EQ(bad[0].native, 18456);
    EXPECT_EQ(bad[0].text, "[FreeTDS][SQL Server]Login failed for user 'sa'.");

    for (const char* db : {"Locked", "NoSuchDb"}) {
        auto records = connect_error(db, "sa", "Tabloxa-1");
        bool cannot_open = false, login_failed = false;
        for (const auto& d : records) {
            cannot_open |=
                d.native == 4060 && d.text == std::string("[FreeTDS][SQL Server]Cannot open database \"") +
                                                  db + "\" requested by the login. The login failed.";
            login_failed |= d.native == 18456;
        }
        EXPECT_TRUE(cannot_open && login_failed) << db;
    }
}

TEST_F(emulator, drops_a_login_whose_strings_hold_a_nul_character) {
    // FreeTDS sends "Server=host,port" as the server name "host", U+0000, "port".
    std::string comma = connection_string(s_server->port(), "Sales");
    comma.replace(comma.find(";Port="), 6, ",");
    ASSERT_NE(comma.find("Server=127.0.0.1,"), std::string::npos);
    try {
        connection c(*s_env, comma);
        ADD_FAILURE() << "the login was accepted: " << comma;
    } catch (const odbc_error& e) {
        // The server closed the connection without a word: only the driver's own records.
        ASSERT_FALSE(e.records.empty());
        bool generic = false;
        for (const auto& d : e.records) {
            EXPECT_NE(d.native, 18456) << d.text;
            generic |= d.text == "[FreeTDS][SQL Server]Unable to connect to data source";
        }
        EXPECT_TRUE(generic);
    }
    EXPECT_EQ(connect()->scalar("SELECT 1"), "1");
}

struct type_case {
    const char* column;
    SQLSMALLINT sql_type;
    SQLULEN size;
    SQLSMALLINT digits;
    const char* type_name;
    const char* text; // nullptr: not compared
};

TEST_F(emulator, reports_each_column_type_and_text_as_the_driver_sees_the_server) {
    const type_case cases[] = {
        {"c_int", SQL_INTEGER, 10, 0, "int", "123"},
        {"c_smallint", SQL_SMALLINT, 5, 0, "smallint", "-7"},
        {"c_tinyint", SQL_TINYINT, 3, 0, "tinyint", "255"},
        {"c_bigint", SQL_BIGINT, 19, 0, "bigint", "9007199254740993"},
        {"c_bit", SQL_BIT, 1, 0, "bit", "1"},
        {"c_real", SQL_REAL, 24, 0, "real", "0.100000001"},
        {"c_float", SQL_DOUBLE, 53, 0, "float", "0.10000000000000001"},
        {"c_money", SQL_DECIMAL, 19, 4, "money", "12.3400"},
        {"c_smallmoney", SQL_DECIMAL, 10, 4, "money", "-0.5000"},
        {"c_decimal", SQL_NUMERIC, 18, 4, "decimal", "12.3400"},
        {"c_numeric", SQL_NUMERIC, 10, 2, "numeric", "-0.50"},
        {"c_datetime", SQL_TYPE_TIMESTAMP, 23, 3, "datetime", "2005-12-31 23:59:59.997"},
        {"c_smalldatetime", SQL_TYPE_TIMESTAMP, 16, 0, "datetime", "2005-12-31 23:59:00"},
        {"c_datetime2", SQL_TYPE_TIMESTAMP, 27, 7, "datetime2", "2005-12-31 23:59:59.1234560"},
        {"c_datetime2_0", SQL_TYPE_TIMESTAMP, 19, 0, "datetime2", "2005-12-31 23:59:59"},
        {"c_date", SQL_TYPE_DATE, 10, 0, "date", "2005-12-31"},
        {"c_time", -154, 16, 7, "time", "23:59:59.1234560"},
        {"c_time3", -154, 12, 3, "time", "01:02:03.456"},
        {"c_dto", -155, 34, 7, "datetimeoffset", "2005-12-31 23:59:59.1234560 +05:30"},
        {"c_guid", SQL_GUID, 36, 0, "uniqueidentifier", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
        {"c_char", SQL_CHAR, 10, 0, "char", "abc       "},
        {"c_varchar", SQL_VARCHAR, 50, 0, "varchar", "héllo"},
        {"c_varchar_max", SQL_VARCHAR, 0, 0, "varchar", "long é"},
        {"c_nchar", SQL_WCHAR, 10, 0, "nchar", "wide      "},
        {"c_nvarchar", SQL_WVARCHAR, 50, 0, "nvarchar", "héllo ✓"},
        {"c_nvarchar_max", SQL_WVARCHAR, 0, 0, "nvarchar", "𝄞 max"},
        {"c_text", SQL_LONGVARCHAR, 2147483647, 0, "text", "old text"},
        {"c_ntext", SQL_WLONGVARCHAR, 1073741823, 0, "ntext", "old ñ"},
        {"c_binary", SQL_BINARY, 4, 0, "binary", "01ab0000"},
        {"c_varbinary", SQL_VARBINARY, 50, 0, "varbinary", "deadbeef"},
        {"c_varbinary_max", SQL_VARBINARY, 0, 0, "varbinary", "0102"},
        {"c_image", SQL_LONGVARBINARY, 2147483647, 0, "image", "ff"},
        {"c_xml", -152, 0, 0, "xml", "<a>1</a>"},
        {"c_variant", -150, 8000, 0, "sql_variant", nullptr},
        {"c_ts", SQL_BINARY, 8, 0, "timestamp", "00000000000007d1"},
    };
    auto c = connect();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.column);
        statement s(c->handle());
        s.exec(std::string("SELECT ") + tc.column + " FROM dbo.Types ORDER BY k");
        SQLWCHAR name[64] = {};
        SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLDescribeColW(s.handle(), 1, name, 64, &name_len, &type, &size, &digits, &nullable)));
        EXPECT_EQ(narrow(reinterpret_cast<char16_t*>(name)), tc.column);
        EXPECT_EQ(type, tc.sql_type);
        EXPECT_EQ(size, tc.size);
        if (tc.sql_type != SQL_DOUBLE && tc.sql_type != SQL_REAL) {
            EXPECT_EQ(digits, tc.digits);
        }
        EXPECT_EQ(nullable, SQL_NULLABLE);
        SQLWCHAR type_name[64] = {};
        SQLSMALLINT tn_len = 0;
        SQLColAttributeW(s.handle(), 1, SQL_DESC_TYPE_NAME, type_name, sizeof type_name, &tn_len, nullptr);
        EXPECT_EQ(narrow(reinterpret_cast<char16_t*>(type_name)), tc.type_name);
        ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
        if (tc.text) {
            EXPECT_EQ(s.text(1).value_or("<NULL>"), tc.text);
        }
        ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
        SQLLEN ind = 0;
        char buf[64];
        SQLGetData(s.handle(), 1, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (tc.sql_type != SQL_BINARY ||
            std::string(tc.type_name) != "timestamp") { // a row version is never NULL
            EXPECT_EQ(ind, SQL_NULL_DATA);
        }
        EXPECT_EQ(SQLFetch(s.handle()), SQL_NO_DATA);
    }
}

TEST_F(emulator, sends_not_null_columns_and_bytes_as_stored) {
    auto c = connect();
    statement s(c->handle());
    s.exec("SELECT k, c_varbinary, c_guid FROM dbo.Types WHERE k = 1");
    SQLSMALLINT nullable = 0;
    SQLDescribeColW(s.handle(), 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, &nullable);
    EXPECT_EQ(nullable, SQL_NO_NULLS);
    ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
    unsigned char bytes[16];
    SQLLEN ind = 0;
    ASSERT_EQ(SQLGetData(s.handle(), 2, SQL_C_BINARY, bytes, sizeof bytes, &ind), SQL_SUCCESS);
    ASSERT_EQ(ind, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "\xDE\xAD\xBE\xEF");
    SQLGUID guid{};
    ASSERT_EQ(SQLGetData(s.handle(), 3, SQL_C_GUID, &guid, sizeof guid, &ind), SQL_SUCCESS);
    EXPECT_EQ(guid.Data1, 0x6F9619FFu);
    EXPECT_EQ(guid.Data2, 0x8B86);
    EXPECT_EQ(guid.Data4[7], 0xFF);
}

TEST_F(emulator, streams_long_values_in_pieces) {
    auto c = connect();
    statement s(c->handle());
    s.exec("SELECT body, bytes FROM dbo.Long");
    ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
    std::vector<SQLLEN> indicators;
    std::u16string text;
    for (;;) {
        char16_t buf[1000];
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(s.handle(), 1, SQL_C_WCHAR, buf, sizeof buf, &ind);
        if (rc == SQL_NO_DATA) break;
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        indicators.push_back(ind);
        text.append(buf, std::min<size_t>(ind / 2, 999));
    }
    EXPECT_EQ(indicators, (std::vector<SQLLEN>{10000, 8002, 6004, 4006, 2008, 10}));
    EXPECT_EQ(text, std::u16string(5000, u'x'));
    std::vector<SQLLEN> byte_indicators;
    for (;;) {
        char buf[3000];
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(s.handle(), 2, SQL_C_BINARY, buf, sizeof buf, &ind);
        if (rc == SQL_NO_DATA) break;
        byte_indicators.push_back(ind);
    }
    EXPECT_EQ(byte_indicators, (std::vector<SQLLEN>{10240, 7240, 4240, 1240}));
}

TEST_F(emulator, reports_server_errors_with_their_numbers_and_states) {
    auto c = connect();
    struct error_case {
        const char* sql;
        const char* state;
        long native;
        const char* text;
    };
    const error_case cases[] = {
        {"SELECT * FROM dbo.Missing", "42S02", 208, "Invalid object name 'dbo.Missing'."},
        {"SELECT nope FROM dbo.Orders", "42S22", 207, "Invalid column name 'nope'."},
        {"SELECT * FROM dbo.Orders WHERE", "42000", 102, "Incorrect syntax near the end of the batch."},
        {"SELECT * FROM FROM dbo.Orders", "42000", 156, "Incorrect syntax near the keyword 'FROM'."},
        {"SELECT * FROM dbo.Secret", "42000", 229,
         "The SELECT permission was denied on the object 'Secret', database 'Sales', schema 'dbo'."},
        {"SELECT COUNT(*) FROM dbo.Secret", "42000", 229,
         "The SELECT permission was denied on the object 'Secret', database 'Sales', schema 'dbo'."},
        {"exec sp_nothing", "42000", 2812, "Could not find stored procedure 'sp_nothing'."},
        // FreeTDS reports an overflow found while fetching as HY019 to ODBC 3 applications.
        {"SELECT k, small FROM dbo.Overflow ORDER BY k", "HY019", 8115,
         "Arithmetic overflow error converting expression to data type tinyint."},
        // What a server refuses inside a derived table, though each runs on its own.
        {"SELECT COUNT(*) FROM (WITH c AS (SELECT 1 AS n) SELECT n FROM c) as query", "42000", 156,
         "Incorrect syntax near the keyword 'WITH'."},
        {"SELECT COUNT(*) FROM (SELECT order_id FROM dbo.Orders ORDER BY order_id) as query", "42000", 1033,
         "The ORDER BY clause is invalid in views, inline functions, derived tables, subqueries, and common "
         "table expressions, unless TOP, OFFSET or FOR XML is also specified."},
        {"SELECT COUNT(*) FROM (SELECT order_id, amount * 2 FROM dbo.Orders) as query", "42000", 8155,
         "No column name was specified for column 2 of 'query'."},
        {"SELECT COUNT(*) FROM (SELECT o.customer_id, c.id AS Customer_ID FROM dbo.Orders o JOIN dbo.Customers c "
         "ON c.id = o.customer_id) as query",
         "42000", 8156, "The column 'Customer_ID' was specified multiple times for 'query'."},
        {"USE NoSuchDb", "08004", 911,
         "Database 'NoSuchDb' does not exist. Make sure that the name is entered correctly."},
    };
    for (const auto& ec : cases) {
        SCOPED_TRACE(ec.sql);
        auto records = exec_error(*c, ec.sql);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].state, ec.state);
        EXPECT_EQ(records[0].native, ec.native);
        EXPECT_EQ(records[0].text, std::string("[FreeTDS][SQL Server]") + ec.text);
    }
    // The connection is still usable after each of them.
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Orders"), "3");
}

TEST_F(emulator, counts_a_derived_table_whose_columns_all_have_names) {
    auto c = connect();
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM (SELECT order_id, amount * 2 AS twice, 'x' tag "
                        "FROM dbo.Orders) as query"),
              "3");
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM (SELECT TOP 2 order_id FROM dbo.Orders ORDER BY order_id) as query"),
              "2");
}

TEST_F(emulator, runs_the_statements_the_export_sends) {
    auto c = connect();
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM [dbo].[Customers]"), "2");
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM (SELECT name FROM dbo.Customers WHERE city IS NULL) as query"),
              "1");
    auto rows = c->all("SELECT * FROM [hr].[Staff Members]");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (row{"A001", "Ann"}));
    EXPECT_EQ(rows[1], (row{"B002", std::nullopt}));
    EXPECT_EQ(column(c->all("SELECT TOP 1 order_id FROM dbo.Orders ORDER BY order_id DESC"), 0),
              (std::vector<std::string>{"3"}));
    EXPECT_EQ(c->scalar("SELECT name FROM Sales.dbo.Customers WHERE name = N'李小龙'"), "李小龙");
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM Sales..Customers"), "2");
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Customers c WITH (NOLOCK) WHERE c.id > 0"), "2");
    EXPECT_EQ(c->scalar("SELECT DATALENGTH(name) FROM dbo.Customers WHERE id = 2"), "6");
    EXPECT_EQ(c->scalar("SELECT LEN(NEWID())"), "36");
    EXPECT_EQ(
        c->scalar("SELECT COUNT(*) FROM (SELECT TOP 2 order_id FROM dbo.Orders ORDER BY order_id) as query"),
        "2");
    auto order_error =
        exec_error(*c, "SELECT COUNT(*) FROM (SELECT order_id FROM dbo.Orders ORDER BY order_id) as query");
    ASSERT_FALSE(order_error.empty());
    EXPECT_EQ(order_error[0].native, 1033);
    EXPECT_EQ(column(c->all("SELECT name, amount FROM dbo.OrderTotals"), 1),
              (std::vector<std::string>{"<NULL>", "12.3400", "99999.9999"}));

    rows = c->all("select table_name, column_name, data_type from INFORMATION_SCHEMA.COLUMNS where "
                  "table_schema='dbo' and table_name not in ('sysalternates','sysconstraints','syssegments') "
                  "and table_name = 'Customers'");
    EXPECT_EQ(column(rows, 1), (std::vector<std::string>{"id", "name", "city", "active"}));
    EXPECT_EQ(column(rows, 2), (std::vector<std::string>{"int", "nvarchar", "varchar", "bit"}));
    rows = c->all(
        "select table_name, view_definition from information_schema.views where table_schema='dbo' and "
        "table_name not in ('sysalternates','sysconstraints','syssegments')");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(
        rows[0][1].value_or(""),
        "CREATE VIEW dbo.OrderTotals AS\nSELECT TOP 100 PERCENT c.name, o.amount FROM dbo.Customers c JOIN "
        "dbo.Orders o ON o.customer_id = c.id ORDER BY o.amount");

    rows = c->all("exec sp_tables @table_owner='dbo', @table_type=\"'TABLE'\"");
    EXPECT_EQ(column(rows, 2), (std::vector<std::string>{"Big", "Customers", "Endless", "Long", "Orders",
                                                         "Overflow", "Secret", "Types"}));
    rows = c->all("EXEC sp_columns @table_name=[Customers], @table_owner=[dbo]");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(column(rows, 3), (std::vector<std::string>{"id", "name", "city", "active"}));
    EXPECT_EQ(column(rows, 5), (std::vector<std::string>{"int identity", "nvarchar", "varchar", "bit"}));
    EXPECT_EQ(column(rows, 7), (std::vector<std::string>{"4", "100", "30", "1"}));
    EXPECT_EQ(column(rows, 12), (std::vector<std::string>{"<NULL>", "<NULL>", "('Paris')", "((1))"}));

    EXPECT_NO_THROW(c->all("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"));
    c->all("USE Archive");
    EXPECT_EQ(c->scalar("SELECT DB_NAME()"), "Archive");
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Old"), "0");
    std::u16string sales = u"Sales";
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttrW(c->handle(), SQL_ATTR_CURRENT_CATALOG,
                                                 reinterpret_cast<SQLWCHAR*>(sales.data()), SQL_NTS)));
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Customers"), "2");
}

TEST_F(emulator, runs_prepared_statements_with_parameters) {
    auto c = connect();
    statement s(c->handle());
    std::u16string sql = u"SELECT name FROM dbo.Customers WHERE id = ?";
    ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepareW(s.handle(), reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS)));
    SQLINTEGER id = 2;
    SQLLEN ind = 0;
    SQLBindParameter(s.handle(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, &ind);
    s.check(SQLExecute(s.handle()));
    EXPECT_EQ(s.rows(), (std::vector<row>{{"李小龙"}}));
    SQLCloseCursor(s.handle());
    id = 1;
    s.check(SQLExecute(s.handle()));
    EXPECT_EQ(s.rows(), (std::vector<row>{{"Zoë"}}));

    // Server variables are not parameters.
    statement v(c->handle());
    std::u16string with_variable = u"SELECT DB_NAME(), name, @@LANGUAGE FROM dbo.Customers WHERE id = ?";
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLPrepareW(v.handle(), reinterpret_cast<SQLWCHAR*>(with_variable.data()), SQL_NTS)));
    SQLBindParameter(v.handle(), 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &id, 0, &ind);
    v.check(SQLExecute(v.handle()));
    EXPECT_EQ(v.rows(), (std::vector<row>{{"Sales", "Zoë", "us_english"}}));
}

namespace {
std::vector<row> catalog_rows(connection& c, const std::function<SQLRETURN(SQLHSTMT)>& call) {
    statement s(c.handle());
    s.check(call(s.handle()));
    return s.rows();
}
SQLWCHAR* w(std::u16string& s) {
    return reinterpret_cast<SQLWCHAR*>(s.data());
}
} // namespace

TEST_F(emulator, answers_the_catalog_functions) {
    auto c = connect();
    std::u16string all = u"%", empty = u"", dbo = u"dbo", hr = u"hr", orders = u"Orders",
                   customers = u"Customers", sales = u"Sales", table = u"TABLE", view = u"'VIEW'";
    auto rows = catalog_rows(
        *c, [&](SQLHSTMT h) { return SQLTablesW(h, w(all), SQL_NTS, w(empty), 0, w(empty), 0, nullptr, 0); });
    EXPECT_EQ(column(rows, 0),
              (std::vector<std::string>{"Archive", "Locked", "master", "model", "msdb", "Sales", "tempdb"}));
    EXPECT_EQ(column(rows, 1), std::vector<std::string>(7, "<NULL>"));

    rows = catalog_rows(*c, [&](SQLHSTMT h) {
        return SQLTablesW(h, nullptr, 0, w(hr), SQL_NTS, nullptr, 0, w(table), SQL_NTS);
    });
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (row{"Sales", "hr", "Staff Members", "TABLE", std::nullopt}));
    EXPECT_EQ(column(rows, 2), (std::vector<std::string>{"Staff Members", "t_1", "tx1"}));
    rows = catalog_rows(*c, [&](SQLHSTMT h) {
        return SQLTablesW(h, w(sales), SQL_NTS, w(dbo), SQL_NTS, nullptr, 0, w(view), SQL_NTS);
    });
    EXPECT_EQ(column(rows, 2), (std::vector<std::string>{"OrderTotals"}));

    rows = catalog_rows(*c, [&](SQLHSTMT h) {
        return SQLColumnsW(h, nullptr, 0, w(dbo), SQL_NTS, w(orders), SQL_NTS, nullptr, 0);
    });
    EXPECT_EQ(column(rows, 3), (std::vector<std::string>{"order_id", "customer_id", "amount"}));
    EXPECT_EQ(column(rows, 4), (std::vector<std::string>{"4", "4", "3"}));
    EXPECT_EQ(column(rows, 5), (std::vector<std::string>{"int", "int", "money"}));
    EXPECT_EQ(column(rows, 17), (std::vector<std::string>{"NO", "NO", "YES"}));

    rows = catalog_rows(*c, [&](SQLHSTMT h) {
        return SQLPrimaryKeysW(h, nullptr, 0, w(dbo), SQL_NTS, w(customers), SQL_NTS);
    });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (row{"Sales", "dbo", "Customers", "id", "1", "PK_Customers"}));

    rows = catalog_rows(*c, [&](SQLHSTMT h) {
        return SQLForeignKeysW(h, nullptr, 0, w(dbo), SQL_NTS, w(customers), SQL_NTS, nullptr, 0, nullptr, 0,
                               nullptr, 0);
    });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "Customers");
    EXPECT_EQ(rows[0][3], "id");
    EXPECT_EQ(rows[0][6], "Orders");
    EXPECT_EQ(rows[0][7], "customer_id");
    EXPECT_EQ(rows[0][11], "FK_Orders_Customers");
    EXPECT_EQ(rows[0][12], "PK_Customers");

    rows = catalog_rows(*c, [&](SQLHSTMT h) {
        return SQLStatisticsW(h, nullptr, 0, w(dbo), SQL_NTS, w(orders), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
    });
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][6], "0");  // the table's own statistics row
    EXPECT_EQ(rows[0][10], "3"); // its cardinality
    EXPECT_EQ(rows[1][5].value_or("").rfind("PK__Orders__", 0), 0u);
    EXPECT_EQ(rows[1][6], "1"); // clustered
    EXPECT_EQ(rows[2][5], "UX_Orders_Amount");
    EXPECT_EQ(rows[2][8], "amount");
    EXPECT_EQ(rows[2][9], "D");
    EXPECT_EQ(rows[3][8], "customer_id");
}

TEST_F(emulator, serves_several_connections_at_once) {
    auto a = connect("Sales");
    auto b = connect("Archive");
    statement sa(a->handle());
    sa.exec("SELECT id FROM dbo.Big");
    ASSERT_EQ(SQLFetch(sa.handle()), SQL_SUCCESS);
    EXPECT_EQ(sa.text(1), "1");
    EXPECT_EQ(b->scalar("SELECT DB_NAME()"), "Archive");
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&] {
            auto c = connect();
            if (c->scalar("SELECT COUNT(*) FROM dbo.Orders") == "3") ++ok;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok, 4);
    size_t rows = 1;
    while (SQLFetch(sa.handle()) == SQL_SUCCESS) ++rows;
    EXPECT_EQ(rows, 20000u);
}

TEST_F(emulator, streams_a_large_generated_table) {
    auto c = connect();
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Big"), "20000");
    auto rows = c->all("SELECT * FROM dbo.Big");
    ASSERT_EQ(rows.size(), 20000u);
    EXPECT_EQ(rows[0][1], "C00000001");
    EXPECT_EQ(rows[0][3], "1.2345");
    EXPECT_EQ(rows[6][10], std::nullopt); // every seventh note is NULL
    EXPECT_EQ(rows[19999][0], "20000");
}

TEST_F(emulator, cancels_a_running_statement_through_attention) {
    auto c = connect();
    statement s(c->handle());
    SQLRETURN rc = SQL_SUCCESS;
    auto started = std::chrono::steady_clock::now();
    std::thread runner([&] {
        std::u16string sql = u"SELECT COUNT(*) FROM dbo.Endless";
        rc = SQLExecDirectW(s.handle(), reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(SQL_SUCCEEDED(SQLCancel(s.handle())));
    runner.join();
    EXPECT_EQ(rc, SQL_ERROR);
    auto records = diagnostics(SQL_HANDLE_STMT, s.handle());
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].state, "HY008");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Orders"), "3");

    statement t(c->handle());
    SQLSetStmtAttr(t.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
    auto records2 = [&] {
        try {
            t.exec("WAITFOR DELAY '00:00:30'");
        } catch (const odbc_error& e) {
            return e.records;
        }
        return std::vector<diag>{};
    }();
    ASSERT_FALSE(records2.empty());
    EXPECT_EQ(records2[0].state, "HYT00");
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Customers"), "2");
}

TEST_F(emulator, closes_a_connection_that_sends_a_malformed_packet) {
    for (const std::string& packet :
         {std::string("\x12\x01\x00\x03\x00\x00\x00\x00", 8),
          std::string("\x10\x01\x00\x10\x00\x00\x00\x00\x01\x02\x03\x04\x05\x06\x07\x08", 16),
          std::string("\x01\x01\x00\x0a\x00\x00\x00\x00\x00\x00", 10)}) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(s_server->port());
        inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::send(fd, packet.data(), packet.size(), 0), static_cast<ssize_t>(packet.size()));
        char buf[256];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
        }
        EXPECT_EQ(n, 0);
        ::close(fd);
    }
    EXPECT_EQ(connect()->scalar("SELECT COUNT(*) FROM dbo.Orders"), "3");
}

TEST(emulator_options, poses_as_azure) {
    environment env;
    emu_options o;
    tdsemu::apply_version_preset(o, "azure");
    o.seed_text = "CREATE DATABASE Cloud; USE Cloud; CREATE TABLE t (a int); INSERT INTO t VALUES (5);";
    o.logins = {{"alice", "pw"}};
    emu_server server(o);
    connection c(env, connection_string(server.port(), "Cloud", "alice", "pw"));
    EXPECT_EQ(c.scalar("SELECT @@VERSION").rfind("Microsoft SQL Azure (RTM)", 0), 0u);
    EXPECT_EQ(c.scalar("SELECT a FROM dbo.t"), "5");
    statement s(c.handle());
    try {
        s.exec("exec sp_databases");
        ADD_FAILURE() << "sp_databases answered";
    } catch (const odbc_error& e) {
        EXPECT_EQ(e.records.at(0).native, 2812);
    }
    try {
        c.all("USE master");
        ADD_FAILURE() << "USE answered";
    } catch (const odbc_error& e) {
        EXPECT_EQ(e.records.at(0).native, 40508);
    }
}

TEST(emulator_options, runs_as_a_child_process_with_a_seed_file) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("seed.sql"),
                             "CREATE DATABASE Shop\nGO\nUSE Shop\nGO\nCREATE SCHEMA sales\nGO\nCREATE TABLE "
                             "[Odd ]] Name] (v nvarchar(10))\nGO\n"
                             "INSERT INTO [Odd ]] Name] VALUES (N'ok')\nGO\n"
                             "CREATE DATABASE [Odd]]Db]\nGO\nUSE [Odd]]Db]\nCREATE TABLE other (a int)\n");
    tdsemu::emu_process child(TDSEMU_PATH,
                              {"--seed", dir.file("seed.sql"), "--version", "2008R2", "--login", "bob:secret",
                               "--generate", "Shop.sales.Gen=25", "--delay-ms", "1500"});
    environment env;
    {
        connection c(env, connection_string(child.port(), "Shop", "bob", "secret"));
        EXPECT_EQ(c.scalar("SELECT @@VERSION").rfind("Microsoft SQL Server 2008 R2 (SP3)", 0), 0u);
        EXPECT_EQ(c.scalar("SELECT v FROM [dbo].[Odd ]] Name]"), "ok");
        EXPECT_EQ(c.scalar("SELECT COUNT(*) FROM sales.Gen"), "25");
        // Another database's tables through [Odd]]Db]..sp_tables.
        statement t(c.handle());
        std::u16string odd = u"Odd]Db";
        t.check(SQLTablesW(t.handle(), reinterpret_cast<SQLWCHAR*>(odd.data()), SQL_NTS, nullptr, 0, nullptr,
                           0, nullptr, 0));
        EXPECT_EQ(t.rows(), (std::vector<row>{{"Odd]Db", "dbo", "other", "TABLE", std::nullopt}}));
        // Each SELECT waits 1.5 s: a one-second query timeout cancels it through attention.
        statement s(c.handle());
        SQLSetStmtAttr(s.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
        try {
            s.exec("SELECT 1");
            ADD_FAILURE() << "no timeout";
        } catch (const odbc_error& e) {
            EXPECT_EQ(e.records.at(0).state, "HYT00");
        }
    }
    EXPECT_EQ(child.stop(), 0);
}

TEST(emulator_options, rejects_a_faulty_seed_with_the_statement_at_fault) {
    struct seed_case {
        const char* script;
        const char* message_part;
    };
    const seed_case cases[] = {
        {"CREATE TABLE t (a strange)", "Cannot find data type strange."},
        {"CREATE TABLE t (a varchar(9000))", "Cannot find data type varchar."},
        {"CREATE TABLE t (a varchar(3)); INSERT INTO t VALUES ('four')", "CHECK constraint failed"},
        {"USE Nowhere", "Database 'Nowhere' does not exist."},
        {"CREATE TABLE t (a int); DENY SELECT ON dbo.u", "Cannot find the object 'u'."},
        {"INSERT INTO t VALUES ('unterminated)", "Unclosed quotation mark"},
        {"CREATE TABLE t (a int) garbage", "Incorrect syntax near 'garbage'"},
        {"CREATE DATABASE X USE X CREATE TABLE t (a strange)", "Cannot find data type strange."},
    };
    for (const auto& sc : cases) {
        emu_options o;
        o.seed_text = sc.script;
        try {
            emu_server server(o);
            ADD_FAILURE() << "accepted: " << sc.script;
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(sc.message_part), std::string::npos) << e.what();
        }
    }
}

// FreeTDS escapes '\_' as [_] for the server, but sends identifiers (SQL_ATTR_METADATA_ID) unchanged, and the
// server's procedure reads them as patterns: only the escaped form matches exactly.
TEST_F(emulator, reads_catalog_arguments_as_patterns) {
    auto c = connect();
    std::u16string hr = u"hr", t_1 = u"t_1", escaped = u"t\\_1";
    statement e(c->handle());
    e.check(SQLTablesW(e.handle(), nullptr, 0, w(hr), SQL_NTS, w(escaped), SQL_NTS, nullptr, 0));
    EXPECT_EQ(column(e.rows(), 2), (std::vector<std::string>{"t_1"}));
    statement s(c->handle());
    ASSERT_TRUE(SQL_SUCCEEDED(
        SQLSetStmtAttr(s.handle(), SQL_ATTR_METADATA_ID, reinterpret_cast<SQLPOINTER>(SQL_TRUE), 0)));
    s.check(SQLTablesW(s.handle(), nullptr, 0, w(hr), SQL_NTS, w(t_1), SQL_NTS, nullptr, 0));
    EXPECT_EQ(column(s.rows(), 2), (std::vector<std::string>{"t_1", "tx1"}));
}

TEST_F(emulator, accepts_manual_transactions) {
    auto c = connect();
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(c->handle(), SQL_ATTR_AUTOCOMMIT,
                                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)));
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Orders"), "3");
    EXPECT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c->handle(), SQL_COMMIT)));
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Customers"), "2");
    EXPECT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c->handle(), SQL_ROLLBACK)));
}

TEST_F(emulator, describes_a_prepared_statement_before_it_runs) {
    auto c = connect();
    statement s(c->handle());
    std::u16string sql = u"SELECT order_id, amount FROM dbo.Orders";
    ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepareW(s.handle(), reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS)));
    EXPECT_EQ(s.columns(), 2);
    SQLSMALLINT type = 0;
    SQLDescribeColW(s.handle(), 2, nullptr, 0, nullptr, &type, nullptr, nullptr, nullptr);
    EXPECT_EQ(type, SQL_DECIMAL);
    s.check(SQLExecute(s.handle()));
    EXPECT_EQ(s.rows().size(), 3u);
}

TEST_F(emulator, splits_rows_over_small_packets) {
    auto c = std::make_unique<connection>(*s_env,
                                          connection_string(s_server->port(), "Sales") + ";PacketSize=512");
    auto rows = c->all("SELECT body, bytes FROM dbo.Long");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], std::string(5000, 'x'));
    EXPECT_EQ(c->all("SELECT * FROM dbo.Big").size(), 20000u);
}

TEST_F(emulator, answers_a_batch_of_several_statements) {
    auto c = connect();
    statement s(c->handle());
    s.exec("SELECT COUNT(*) FROM dbo.Orders; SET NOCOUNT ON\nSELECT name FROM dbo.Customers WHERE id = 1;");
    EXPECT_EQ(s.rows(), (std::vector<row>{{"3"}}));
    SQLRETURN rc = SQLMoreResults(s.handle());
    while (rc == SQL_SUCCESS && s.columns() == 0) rc = SQLMoreResults(s.handle());
    ASSERT_EQ(rc, SQL_SUCCESS);
    EXPECT_EQ(s.rows(), (std::vector<row>{{"Zoë"}}));
    EXPECT_EQ(SQLMoreResults(s.handle()), SQL_NO_DATA);
}

TEST_F(emulator, stops_streaming_an_endless_result_on_cancel) {
    auto c = connect();
    {
        statement s(c->handle());
        s.exec("SELECT * FROM dbo.Endless");
        for (int k = 0; k < 1000; ++k) ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
        EXPECT_TRUE(SQL_SUCCEEDED(SQLCancel(s.handle())));
        SQLFreeStmt(s.handle(), SQL_CLOSE);
    }
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Orders"), "3");
}

TEST(emulator_options, keeps_exact_values_from_the_seed) {
    environment env;
    emu_options o;
    o.seed_text =
        "CREATE DATABASE P; USE P; CREATE TABLE t (d decimal(38,10), n numeric(38,0), m money, i bigint);"
        "INSERT INTO t VALUES (-12345678901234567890.1234567891, -12345678901234567890123456789012345678,"
        " -922337203685477.5808, -9223372036854775808),"
        " (12345678901234567890.1234567891, 99999999999999999999999999999999999999, 922337203685477.5807,"
        " 9223372036854775807);";
    emu_server server(o);
    connection c(env, connection_string(server.port(), "P"));
    EXPECT_EQ(
        c.all("SELECT * FROM t"),
        (std::vector<row>{{"-12345678901234567890.1234567891", "-12345678901234567890123456789012345678",
                           "-922337203685477.5808", "-9223372036854775808"},
                          {"12345678901234567890.1234567891", "99999999999999999999999999999999999999",
                           "922337203685477.5807", "9223372036854775807"}}));
}

TEST_F(emulator, answers_fmtonly_with_the_columns_only) {
    auto c = connect();
    {
        statement s(c->handle());
        s.exec("SET FMTONLY ON select * from dbo.Orders SET FMTONLY OFF");
        SQLRETURN rc = SQL_SUCCESS;
        while (rc == SQL_SUCCESS && s.columns() == 0) rc = SQLMoreResults(s.handle());
        ASSERT_EQ(rc, SQL_SUCCESS);
        EXPECT_EQ(s.columns(), 3);
        EXPECT_TRUE(s.rows().empty());
    }
    EXPECT_EQ(c->scalar("SELECT COUNT(*) FROM dbo.Orders"), "3");
}
