// The binding through the real FreeTDS driver: connection strings, errors and "cannot be created"
// without a server, then types, texts, long values, catalog rowsets and errors against the SQL
// Server emulator (skipped when the emulator program has not been built).

#include "ODBC/odbc_connect_string.hpp"
#include "ODBC/odbc_connection.hpp"
#include "ODBC/odbc_sql.hpp"
#include "ODBC/odbc_test_util.hpp"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

namespace {

using namespace odbc_test;

const char* const freetds_ini = "[FreeTDS]\nDriver=libtdsodbc.so\n";

// A loopback port nobody listens on.
int closed_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

std::u16string number(int n) {
    return tk_utf8_to_wstring(std::to_string(n));
}

// The generic path: the OLE DB string the logic builds, through the service component.
ole_com_ptr<IDBInitialize> generic_source(const std::u16string& text) {
    odbc_install_provider();
    ole_com_ptr<IDataInitialize> factory;
    CHECK_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                              factory.put_void()),
             S_OK);
    ole_com_ptr<IUnknown> unknown;
    CHECK_EQ(factory->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, text.c_str(), IID_IUnknown, unknown.put()),
             S_OK);
    ole_com_ptr<IDBInitialize> init;
    CHECK_EQ(unknown.query(IID_IDBInitialize, init), S_OK);
    return init;
}

ole_com_ptr<IOpenRowset> generic_session(const std::u16string& text) {
    ole_com_ptr<IDBInitialize> init = generic_source(text);
    HRESULT hr = init->Initialize();
    if (hr != S_OK) fail(__LINE__, "Initialize", show(hr), tk_to_utf8(error_record().description));
    ole_com_ptr<IDBCreateSession> create;
    CHECK_EQ(init.query(IID_IDBCreateSession, create), S_OK);
    ole_com_ptr<IOpenRowset> session;
    CHECK_EQ(create->CreateSession(nullptr, IID_IOpenRowset, session.put_unknown()), S_OK);
    return session;
}

class odbc_freetds : public odbc_child_test {};

TEST_F(odbc_freetds, a_closed_port_fails_with_the_drivers_records_and_no_other_provider_exists) {
    drivers(freetds_ini);
    int port = closed_port();
    in_child([port] {
        odbc_install_provider();
        ole_com_ptr<IDBInitialize> native;
        CHECK_EQ(CoCreateInstance(CLSID_SQLNCLI11, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  native.put_void()),
                 REGDB_E_CLASSNOTREG);
        CHECK_EQ(CoCreateInstance(CLSID_SQLNCLI10, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  native.put_void()),
                 REGDB_E_CLASSNOTREG);
        // A password with ';' reaches the driver intact: the failure is the connection's.
        ole_com_ptr<IDBInitialize> init = generic_source(u"Provider=sqloledb;Data Source=127.0.0.1," +
                                                         number(port) + u";User Id=sa;Password=\"a;b\";");
        CHECK_EQ(init->Initialize(), E_FAIL);
        first_record record = error_record();
        CHECK_EQ(record.result, E_FAIL);
        CHECK_EQ(record.sqlstate, std::u16string(u"08S01"));
        CHECK(record.count >= 2);
        CHECK(record.description.rfind(u"Unable to connect", 0) == 0);
    });
}

TEST_F(odbc_freetds, a_value_freetds_cannot_take_is_refused_clearly) {
    drivers(freetds_ini);
    in_child([] {
        ole_com_ptr<IDBInitialize> init =
            generic_source(u"Provider=sqloledb;Data Source=127.0.0.1,1;User Id=sa;Password=\"a};b\";");
        CHECK_EQ(init->Initialize(), E_INVALIDARG);
        first_record record = error_record();
        CHECK(record.description.find(u"\"};\"") != std::u16string::npos);
        CHECK(record.description.find(u"FreeTDS") != std::u16string::npos);
    });
}

TEST_F(odbc_freetds, freetds_under_a_native_name_drives_the_native_path) {
    drivers("[ODBC Driver 17 for SQL Server]\nDriver=libtdsodbc.so\n");
    int port = closed_port();
    in_child([port] {
        odbc_install_provider();
        ole_com_ptr<IDBInitialize> init;
        CHECK_EQ(CoCreateInstance(CLSID_SQLNCLI11, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  init.put_void()),
                 REGDB_E_CLASSNOTREG);
        CHECK_EQ(CoCreateInstance(CLSID_SQLNCLI10, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  init.put_void()),
                 S_OK);
        ole_com_ptr<IDBProperties> properties;
        CHECK_EQ(init.query(IID_IDBProperties, properties), S_OK);
        DBPROP props[3] = {};
        props[0].dwPropertyID = DBPROP_INIT_DATASOURCE;
        props[0].vValue = bstr_variant(u"127.0.0.1," + number(port));
        props[1].dwPropertyID = DBPROP_AUTH_USERID;
        props[1].vValue = bstr_variant(u"sa");
        props[2].dwPropertyID = DBPROP_AUTH_PASSWORD;
        props[2].vValue = bstr_variant(u"x");
        DBPROPSET set{props, 3, DBPROPSET_DBINIT};
        CHECK_EQ(properties->SetProperties(1, &set), S_OK);
        for (DBPROP& p : props) VariantClear(&p.vValue);
        CHECK_EQ(init->Initialize(), E_FAIL);
        CHECK_EQ(error_record().sqlstate, std::u16string(u"08S01"));
    });
}

// ---- Against the emulator ----------------------------------------------------------------------

const char* const seed = R"sql(
CREATE DATABASE Sales;
GO
USE Sales;
CREATE TABLE dbo.Customers (
    id int IDENTITY(1,1) NOT NULL,
    name nvarchar(50) NOT NULL,
    CONSTRAINT PK_Customers PRIMARY KEY (id)
);
CREATE TABLE dbo.Orders (
    order_id int NOT NULL PRIMARY KEY,
    customer_id int NOT NULL,
    CONSTRAINT FK_Orders_Customers FOREIGN KEY (customer_id) REFERENCES dbo.Customers (id)
);
CREATE UNIQUE INDEX UX_Orders_Customer ON dbo.Orders (customer_id);
CREATE TABLE dbo.t_1 (a int);
CREATE TABLE dbo.tx1 (a int);
INSERT INTO dbo.Customers (name) VALUES (N'Zoë'), (N'李小龙'), (N'A'), (N'B'), (N'C'), (N'D'), (N'E');
CREATE TABLE dbo.Secret (id int);
DENY SELECT ON dbo.Secret TO public;
CREATE TABLE dbo.Types (
    k int NOT NULL PRIMARY KEY,
    c_int int, c_smallint smallint, c_tinyint tinyint, c_bigint bigint, c_bit bit,
    c_real real, c_float float, c_money money, c_smallmoney smallmoney,
    c_decimal decimal(18,4), c_numeric numeric(10,2),
    c_datetime datetime, c_date date, c_time time(7), c_dto datetimeoffset(7),
    c_guid uniqueidentifier, c_char char(10), c_nvarchar nvarchar(50), c_nvarchar_max nvarchar(max),
    c_binary binary(4), c_varbinary_max varbinary(max), c_xml xml, c_variant sql_variant
);
INSERT INTO dbo.Types (k, c_int, c_smallint, c_tinyint, c_bigint, c_bit, c_real, c_float, c_money, c_smallmoney,
    c_decimal, c_numeric, c_datetime, c_date, c_time, c_dto, c_guid, c_char, c_nvarchar, c_nvarchar_max,
    c_binary, c_varbinary_max, c_xml, c_variant)
VALUES (1, 123, -7, 255, 9007199254740993, 1, 0.1, 0.1, 12.34, -0.5, 12.3400, -0.5, '2005-12-31 23:59:59.997',
    '2005-12-31', '23:59:59.123456', '2005-12-31 23:59:59.123456 +05:30', '6F9619FF-8B86-D011-B42D-00C04FC964FF',
    'abc', N'héllo ✓', N'𝄞 max', 0x01AB, 0x0102, '<a>1</a>', 42);
INSERT INTO dbo.Types (k) VALUES (2);
CREATE TABLE dbo.Long (id int, body nvarchar(max), bytes varbinary(max));
INSERT INTO dbo.Long VALUES (1, '', NULL);
UPDATE dbo.Long SET body = (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
    SELECT group_concat('x', '') FROM n), bytes = zeroblob(10240);
)sql";

// The emulator program as a child process: its port is the first line it prints.
class emulator {
public:
    emulator(const std::string& program, const std::string& seed_file) {
        int out[2], in[2];
        if (pipe(out) != 0 || pipe(in) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            dup2(in[0], 0);
            close(out[0]);
            close(in[1]);
            execl(program.c_str(), program.c_str(), "--seed", seed_file.c_str(), "--exit-on-stdin-eof",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        close(in[0]);
        m_stdin = in[1];
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        m_port = std::atoi(line.c_str());
    }
    ~emulator() {
        if (m_stdin >= 0) close(m_stdin);
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_port = 0;
};

class odbc_emulator : public odbc_child_test {
protected:
    void SetUp() override {
        std::string program = std::string(TABLOXA_BINARY_DIR) + "/testing/tabloxa-tdsemu";
        if (access(program.c_str(), X_OK) != 0)
            GTEST_SKIP() << "the emulator program is not built: " << program;
        test_support::write_file(m_dir.file("seed.sql"), seed);
        m_emulator = std::make_unique<emulator>(program, m_dir.file("seed.sql"));
        ASSERT_GT(m_emulator->port(), 0);
        drivers(freetds_ini);
    }
    std::u16string login(const std::u16string& password = u"Tabloxa-1") const {
        return u"Provider=sqloledb;Data Source=127.0.0.1," + number(m_emulator->port()) +
               u";Initial Catalog=Sales;User Id=sa;Password=" + password + u";";
    }

    std::unique_ptr<emulator> m_emulator;
};

ole_com_ptr<IRowset> open_types(const ole_com_ptr<IOpenRowset>& session) {
    DBID table{IID_NULL, DBKIND_NAME, const_cast<LPOLESTR>(u"[dbo].[Types]")};
    ole_com_ptr<IRowset> rowset;
    CHECK_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown()),
             S_OK);
    return rowset;
}

TEST_F(odbc_emulator, a_failed_login_is_an_authentication_failure) {
    std::u16string text = login(u"wrong");
    in_child([text] {
        ole_com_ptr<IDBInitialize> init = generic_source(text);
        // FreeTDS reports it as 42000; the server's number decides.
        CHECK_EQ(init->Initialize(), DB_SEC_E_AUTH_FAILED);
        first_record record = error_record();
        CHECK_EQ(record.result, DB_SEC_E_AUTH_FAILED);
        CHECK(record.description.find(u"Login failed for user 'sa'") != std::u16string::npos);
    });
}

TEST_F(odbc_emulator, every_type_arrives_with_its_code_and_exact_text) {
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        ole_com_ptr<IRowset> rowset = open_types(session);
        read_rowset all = read_all(rowset.get());
        struct expected {
            DBTYPE type;
            const char16_t* text;
        };
        const expected want[] = {
            {DBTYPE_I4, u"1"},
            {DBTYPE_I4, u"123"},
            {DBTYPE_I2, u"-7"},
            {DBTYPE_UI1, u"255"},
            {DBTYPE_I8, u"9007199254740993"},
            {DBTYPE_BOOL, u"1"},
            {DBTYPE_R4, u"0.100000001"},
            {DBTYPE_R8, u"0.10000000000000001"},
            {DBTYPE_CY, u"12.3400"},
            {DBTYPE_CY, u"-0.5000"},
            {DBTYPE_NUMERIC, u"12.3400"},
            {DBTYPE_NUMERIC, u"-0.50"},
            {DBTYPE_DBTIMESTAMP, u"2005-12-31 23:59:59.997"},
            {DBTYPE_DBDATE, u"2005-12-31"},
            {DBTYPE_DBTIME2, u"23:59:59.1234560"},
            {DBTYPE_DBTIMESTAMPOFFSET, u"2005-12-31 23:59:59.1234560 +05:30"},
            {DBTYPE_GUID, u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
            {DBTYPE_STR, u"abc       "},
            {DBTYPE_WSTR, u"h\u00e9llo \u2713"},
            {DBTYPE_WSTR, u"\U0001D11E max"},
            {DBTYPE_BYTES, u"01AB0000"},
            {DBTYPE_BYTES, u"0102"},
            {DBTYPE_XML, u"<a>1</a>"},
            {DBTYPE_VARIANT, u"42"},
        };
        CHECK_EQ(all.columns.size(), std::size(want));
        CHECK_EQ(all.rows.size(), size_t(2));
        for (size_t i = 0; i < std::size(want); ++i) {
            if (all.columns[i].wType != want[i].type)
                fail(__LINE__, "type", tk_to_utf8(all.names[i]), show(all.columns[i].wType));
            if (all.rows[0][i] != std::u16string(want[i].text))
                fail(__LINE__, "text", tk_to_utf8(all.names[i]), show(all.rows[0][i]));
            if (i > 0 && all.rows[1][i].has_value()) fail(__LINE__, "null", tk_to_utf8(all.names[i]));
        }
        CHECK_EQ(all.columns[10].bPrecision, BYTE(18));
        CHECK_EQ(all.columns[10].bScale, BYTE(4));
        CHECK_EQ(all.columns[18].ulColumnSize, DBLENGTH(50));
        CHECK_EQ(all.columns[19].ulColumnSize, ~DBLENGTH(0));
        CHECK(!(all.columns[0].dwFlags & DBCOLUMNFLAGS_ISNULLABLE));
        CHECK(all.columns[1].dwFlags & DBCOLUMNFLAGS_ISNULLABLE);
    });
}

// Numbers and dates can be bound as such: the values the texts above spell, with no text between.
TEST_F(odbc_emulator, numbers_and_dates_bound_as_such_are_the_values_their_texts_spell) {
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        ole_com_ptr<IRowset> rowset = open_types(session);
        ole_com_ptr<IAccessor> accessor;
        CHECK_EQ(rowset->QueryInterface(IID_IAccessor, accessor.put_void()), S_OK);
        // int, smallint, tinyint, bigint and bit as 64-bit integers, real as float, float as double,
        // money and smallmoney as currency, decimal and numeric as numeric structures, time as a time.
        const std::pair<DBORDINAL, DBTYPE> wanted[] = {
            {2, DBTYPE_I8},  {3, DBTYPE_I8},  {4, DBTYPE_I8},       {5, DBTYPE_I8},       {6, DBTYPE_I8},
            {7, DBTYPE_R4},  {8, DBTYPE_R8},  {13, DBTYPE_DBTIMESTAMP}, {14, DBTYPE_DBTIMESTAMP}, {9, DBTYPE_CY},
            {10, DBTYPE_CY}, {11, DBTYPE_NUMERIC}, {12, DBTYPE_NUMERIC}, {15, DBTYPE_DBTIME2}};
        std::vector<DBBINDING> bindings;
        for (auto [ordinal, type] : wanted) {
            DBBINDING b{};
            b.iOrdinal = ordinal;
            b.obStatus = bindings.size() * 32;
            b.obLength = b.obStatus + 4;
            b.obValue = b.obStatus + 8;
            b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
            b.cbMaxLen = 24;
            b.wType = type;
            bindings.push_back(b);
        }
        HACCESSOR handle = 0;
        CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, bindings.size(), bindings.data(), 0, &handle, nullptr),
                 S_OK);
        // Not for a column of other values, not as another kind of number, not by reference.
        for (auto [ordinal, type] : {std::pair<DBORDINAL, DBTYPE>{9, DBTYPE_I8}, {19, DBTYPE_R8}, {2, DBTYPE_R8},
                                     {8, DBTYPE_I8}, {2, DBTYPE_WSTR | DBTYPE_BYREF}, {15, DBTYPE_DBTIMESTAMP},
                                     {2, DBTYPE_DBTIMESTAMP}, {11, DBTYPE_CY}, {9, DBTYPE_NUMERIC},
                                     {15, DBTYPE_NUMERIC}, {11, DBTYPE_NUMERIC | DBTYPE_BYREF}, {2, DBTYPE_DBTIME2},
                                     {13, DBTYPE_DBTIME2}}) {
            DBBINDING b = bindings[0];
            b.iOrdinal = ordinal;
            b.wType = type;
            HACCESSOR refused = 0;
            DBBINDSTATUS status = DBBINDSTATUS_OK;
            CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, 0, &refused, &status), DB_E_ERRORSOCCURRED);
            CHECK_EQ(status, DBBINDSTATUS_UNSUPPORTEDCONVERSION);
        }
        HROW rows[2];
        HROW* pointer = rows;
        DBCOUNTITEM got = 0;
        CHECK(SUCCEEDED(rowset->GetNextRows(0, 0, 2, &got, &pointer)));
        CHECK_EQ(got, DBCOUNTITEM(2));
        unsigned char buffer[32 * std::size(wanted)];
        CHECK_EQ(rowset->GetData(rows[0], handle, buffer), S_OK);
        auto whole = [&](size_t i) {
            long long v;
            std::memcpy(&v, buffer + bindings[i].obValue, 8);
            return v;
        };
        CHECK_EQ(whole(0), 123LL);
        CHECK_EQ(whole(1), -7LL);
        CHECK_EQ(whole(2), 255LL);
        CHECK_EQ(whole(3), 9007199254740993LL);
        CHECK_EQ(whole(4), 1LL);
        float real;
        std::memcpy(&real, buffer + bindings[5].obValue, 4);
        CHECK_EQ(real, 0.1f);
        double dbl;
        std::memcpy(&dbl, buffer + bindings[6].obValue, 8);
        CHECK_EQ(dbl, 0.1);
        // datetime 2005-12-31 23:59:59.997 and date 2005-12-31.
        DBTIMESTAMP stamp;
        std::memcpy(&stamp, buffer + bindings[7].obValue, sizeof stamp);
        CHECK_EQ(stamp.year, 2005);
        CHECK_EQ(stamp.month, 12);
        CHECK_EQ(stamp.day, 31);
        CHECK_EQ(stamp.hour, 23);
        CHECK_EQ(stamp.second, 59);
        CHECK_EQ(stamp.fraction, 997000000u);
        std::memcpy(&stamp, buffer + bindings[8].obValue, sizeof stamp);
        CHECK_EQ(stamp.day, 31);
        CHECK_EQ(stamp.hour, 0);
        CHECK_EQ(stamp.fraction, 0u);
        // money 12.34 and smallmoney -0.5 in ten-thousandths.
        CHECK_EQ(whole(9), 123400LL);
        CHECK_EQ(whole(10), -5000LL);
        // decimal(18,4) 12.3400 and numeric(10,2) -0.50, with their precision and scale.
        DB_NUMERIC numeric;
        std::memcpy(&numeric, buffer + bindings[11].obValue, sizeof numeric);
        CHECK_EQ(numeric.precision, 18);
        CHECK_EQ(numeric.scale, 4);
        CHECK_EQ(numeric.sign, 1);
        CHECK_EQ(numeric.val[0] | numeric.val[1] << 8 | numeric.val[2] << 16, 123400);
        CHECK(std::all_of(numeric.val + 3, numeric.val + 16, [](BYTE b) { return b == 0; }));
        std::memcpy(&numeric, buffer + bindings[12].obValue, sizeof numeric);
        CHECK_EQ(numeric.precision, 10);
        CHECK_EQ(numeric.scale, 2);
        CHECK_EQ(numeric.sign, 0);
        CHECK_EQ(numeric.val[0], 50);
        // time(7) 23:59:59.123456.
        DBTIME2 time;
        std::memcpy(&time, buffer + bindings[13].obValue, sizeof time);
        CHECK_EQ(time.hour, 23);
        CHECK_EQ(time.minute, 59);
        CHECK_EQ(time.second, 59);
        CHECK_EQ(time.fraction, 123456000u);
        CHECK_EQ(rowset->GetData(rows[1], handle, buffer), S_OK);
        for (const DBBINDING& b : bindings) {
            DBSTATUS status;
            std::memcpy(&status, buffer + b.obStatus, 4);
            CHECK_EQ(status, DBSTATUS_S_ISNULL);
        }
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
        accessor->ReleaseAccessor(handle, nullptr);
    });
}

// The server answers the login with the packet size asked for: FreeTDS's own 4096 bytes would take
// four times the reads for the same rows.
TEST_F(odbc_emulator, connections_get_the_large_packets_they_ask_for) {
    const int port = m_emulator->port();
    in_child([port] {
        odbc_login login{u"127.0.0.1," + number(port), u"sa", u"Tabloxa-1", u"Sales", false};
        odbc_connection connection(odbc_build_connect_string(u"FreeTDS", odbc_driver_kind::freetds, login));
        SQLUINTEGER size = 0;
        CHECK(SQL_SUCCEEDED(SQLGetConnectAttr(connection.handle().get(), SQL_ATTR_PACKET_SIZE, &size, 0, nullptr)));
        CHECK_EQ(size, SQLUINTEGER(16383));
    });
}

TEST_F(odbc_emulator, a_restarted_rowset_gives_the_same_values_again) {
    // A restart runs the text again on a new statement: the columns the fetch writes must be
    // tied to it as they were to the first.
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        ole_com_ptr<IRowset> rowset = open_types(session);
        read_rowset first = read_all(rowset.get());
        CHECK_EQ(rowset->RestartPosition(0), S_OK);
        read_rowset again = read_all(rowset.get());
        CHECK_EQ(again.rows.size(), size_t(2));
        CHECK(again.rows == first.rows);
        CHECK(again.statuses == first.statuses);
    });
}

TEST_F(odbc_emulator, long_values_are_read_whole) {
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        read_rowset all = query(session, u"SELECT body, bytes FROM dbo.Long");
        CHECK_EQ(all.rows.size(), size_t(1));
        CHECK(all.rows[0][0] == std::u16string(5000, u'x'));
        CHECK(all.rows[0][1] == std::u16string(20480, u'0'));
    });
}

TEST_F(odbc_emulator, a_second_statement_while_a_result_is_pending_runs) {
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        DBID table{IID_NULL, DBKIND_NAME, const_cast<LPOLESTR>(u"[dbo].[Customers]")};
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown()),
                 S_OK);
        HROW rows[5];
        HROW* pointer = rows;
        DBCOUNTITEM got = 0;
        CHECK_EQ(rowset->GetNextRows(0, 0, 5, &got, &pointer), S_OK);
        CHECK_EQ(got, DBCOUNTITEM(5));
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
        // The catalog's count and schema rowsets run while the table is still being read.
        read_rowset count = query(session, u"SELECT COUNT(*) FROM [dbo].[Customers]");
        CHECK_EQ(count.rows[0][0], std::optional<std::u16string>(u"7"));
        read_rowset keys = schema(session, DBSCHEMA_PRIMARY_KEYS, {u"", u"dbo", u"Customers"});
        CHECK_EQ(keys.rows.size(), size_t(1));
        CHECK_EQ(rowset->GetNextRows(0, 0, 5, &got, &pointer), DB_S_ENDOFROWSET);
        CHECK_EQ(got, DBCOUNTITEM(2));
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
    });
}

TEST_F(odbc_emulator, schema_rowsets_answer_what_the_catalog_reads) {
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        read_rowset tables = schema(session, DBSCHEMA_TABLES, {u"", u"dbo", u"", u"TABLE"});
        std::vector<std::u16string> names;
        for (const auto& row : tables.rows) {
            CHECK_EQ(row[1], std::optional<std::u16string>(u"dbo"));
            names.push_back(*row[2]);
        }
        CHECK(std::find(names.begin(), names.end(), u"Customers") != names.end());
        CHECK(std::find(names.begin(), names.end(), u"t_1") != names.end());
        read_rowset exact = schema(session, DBSCHEMA_TABLES, {u"", u"dbo", u"t_1", u"TABLE"});
        CHECK_EQ(exact.rows.size(), size_t(1));

        read_rowset keys = schema(session, DBSCHEMA_PRIMARY_KEYS, {u"", u"dbo", u"Customers"});
        CHECK_EQ(keys.rows[0][3], std::optional<std::u16string>(u"id"));
        CHECK_EQ(keys.rows[0][7], std::optional<std::u16string>(u"PK_Customers"));

        read_rowset foreign = schema(session, DBSCHEMA_FOREIGN_KEYS, {u"", u"dbo", u"Customers"});
        CHECK_EQ(foreign.rows.size(), size_t(1));
        CHECK_EQ(foreign.rows[0][2], std::optional<std::u16string>(u"Customers"));
        CHECK_EQ(foreign.rows[0][3], std::optional<std::u16string>(u"id"));
        CHECK_EQ(foreign.rows[0][8], std::optional<std::u16string>(u"Orders"));
        CHECK_EQ(foreign.rows[0][9], std::optional<std::u16string>(u"customer_id"));
        CHECK_EQ(foreign.rows[0][15], std::optional<std::u16string>(u"PK_Customers"));
        CHECK_EQ(foreign.rows[0][16], std::optional<std::u16string>(u"FK_Orders_Customers"));

        read_rowset indexes = schema(session, DBSCHEMA_INDEXES, {u"", u"dbo", u"", u"", u"Orders"});
        int primary = 0, unique = 0;
        for (const auto& row : indexes.rows) {
            CHECK(row[5].has_value());
            if (row[6] == std::u16string(u"1")) ++primary;
            if (row[5] == std::u16string(u"UX_Orders_Customer")) {
                ++unique;
                CHECK_EQ(row[7], std::optional<std::u16string>(u"1"));
                CHECK_EQ(row[6], std::optional<std::u16string>(u"0"));
                CHECK_EQ(row[17], std::optional<std::u16string>(u"customer_id"));
            }
        }
        CHECK_EQ(primary, 1);
        CHECK_EQ(unique, 1);

        read_rowset catalogs = schema(session, DBSCHEMA_CATALOGS, {});
        bool sales = false;
        for (const auto& row : catalogs.rows) sales |= row[0] == std::u16string(u"Sales");
        CHECK(sales);
    });
}

TEST_F(odbc_emulator, server_errors_map_to_their_results) {
    std::u16string text = login();
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        DBID table{IID_NULL, DBKIND_NAME, const_cast<LPOLESTR>(u"[dbo].[missing_table]")};
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown()),
                 DB_E_NOTABLE);
        first_record record = error_record();
        CHECK_EQ(record.sqlstate, std::u16string(u"42S02"));
        CHECK(record.description.find(u"missing_table") != std::u16string::npos);
        CHECK_EQ(execute(session, u"SELEC 1"), DB_E_ERRORSINCOMMAND);
        CHECK_EQ(execute(session, u"SELECT * FROM dbo.Secret", &rowset), DB_SEC_E_PERMISSIONDENIED);
    });
}

// Date-time values arrive as parts and are written here; their text must be the driver's, with
// the column's digits of the fraction and the year in four digits.
const char* const times_seed = R"sql(
CREATE DATABASE Times;
GO
USE Times;
CREATE TABLE dbo.Stamps (k int NOT NULL PRIMARY KEY, c_datetime datetime, c_small smalldatetime,
    c_dt0 datetime2(0), c_dt3 datetime2(3), c_dt7 datetime2, c_date date);
INSERT INTO dbo.Stamps VALUES
    (1, '1753-01-01 00:00:00.003', '1900-01-01 00:00', '0001-01-01 00:00:00', '0999-12-31 23:59:59.5',
        '9999-12-31 23:59:59.9999999', '0001-01-01'),
    (2, '2005-12-31 23:59:59.997', '2079-06-06 23:59', '2024-02-29 12:34:56', '2024-02-29 12:34:56.007',
        '2024-02-29 12:34:56.0000001', '9999-12-31');
CREATE TABLE dbo.Exact (k int NOT NULL PRIMARY KEY, d38 decimal(38,0), d38s decimal(38,10), n5 numeric(5,5),
    d19 decimal(19,4), d28 decimal(29,28), m money, sm smallmoney, t0 time(0), t3 time(3), t7 time(7),
    o0 datetimeoffset(0), o7 datetimeoffset(7), nv nvarchar(10), nc nchar(5), v varchar(12), c char(5));
INSERT INTO dbo.Exact VALUES
    (1, 99999999999999999999999999999999999999, 9999999999999999999999999999.9999999999, 0.99999,
        999999999999999.9999, 9.9999999999999999999999999999, 922337203685477.5807, 214748.3647, '23:59:59',
        '23:59:59.999', '23:59:59.9999999', '9999-12-31 23:59:59 +14:00', '0001-01-01 00:00:00.0000001 -14:00', N'𝄞é€✓''abcd', N'abcde', 'é€''abcdefghi', 'é€'),
    (2, -99999999999999999999999999999999999999, -0.0000000001, -0.00001, -0.0001, -0.0000000000000000000000000001,
        -922337203685477.5808, -214748.3648, '00:00:00', '00:00:00.001', '00:00:00.0000001',
        '2024-02-29 12:34:56 -05:30', '2024-02-29 00:00:00 +00:00', N'', N'', '', ''),
    (3, 0, 0, 0, 0, 0, 0, 0, '12:00:00', '12:00:00', '12:00:00', '1900-01-01 00:00:00 +00:45',
        '1999-12-31 23:59:59.5 -00:30', NULL, NULL, NULL, NULL);
)sql";

// The typed columns' values for many rows: random digits of every width.
std::string exact_rows() {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    auto digits = [&](int count) {
        std::string out;
        for (int i = 0; i < count; ++i) out += char('0' + next() % 10);
        return out;
    };
    auto sign = [&] { return next() % 2 ? std::string("-") : std::string(); };
    auto two = [](unsigned n) { return std::string(1, char('0' + n / 10)) + char('0' + n % 10); };
    // Up to `units` UTF-16 units of letters, quotes and characters beyond the first plane.
    auto national = [&](size_t units, bool wide = true) {
        static const char* const letters[] = {"a", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9d\x84\x9e", "''", " "};
        std::string out = wide ? "N'" : "'";
        for (size_t used = 0, want = next() % (units + 1); used < want;) {
            size_t pick = next() % 6;
            // Only characters of the code page in narrow text.
            if (pick == 3 && (used + 2 > want || !wide)) pick = 0;
            out += letters[pick];
            used += pick == 3 ? 2 : 1;
        }
        return out + "'";
    };
    std::string out = "INSERT INTO dbo.Exact VALUES\n";
    for (int k = 4; k < 204; ++k) {
        const std::string time = two(next() % 24) + ":" + two(next() % 60) + ":" + two(next() % 60);
        const std::string day = std::to_string(1000 + next() % 9000) + "-" + two(1 + next() % 12) + "-" + two(1 + next() % 28);
        const unsigned zone = next() % (14 * 60);
        const std::string offset = (next() % 2 ? " -" : " +") + two(zone / 60) + ":" + two(zone % 60);
        out += "    (" + std::to_string(k) + ", " + sign() + digits(1 + next() % 38) + ", " + sign() +
               digits(1 + next() % 28) + "." + digits(1 + next() % 10) + ", " + sign() + "0." + digits(1 + next() % 5) +
               ", " + sign() + digits(1 + next() % 15) + "." + digits(next() % 5) + ", " + sign() + "0." +
               digits(1 + next() % 28) + ", " + sign() + digits(1 + next() % 14) + "." + digits(next() % 5) + ", " +
               sign() + digits(1 + next() % 5) + "." + digits(next() % 5) + ", '" + time + "', '" + time + "." +
               digits(3) + "', '" + time + "." + digits(1 + next() % 7) + "', '" + day + " " + time + offset +
               "', '" + day + " " + time + "." + digits(7) + offset + "', " + national(10) + ", " + national(5) + ", " +
               national(12, false) + ", " + national(5, false) + ")" +
               (k == 203 ? ";\n" : ",\n");
    }
    return out;
}

class odbc_emulator_times : public odbc_child_test {
protected:
    void SetUp() override {
        std::string program = std::string(TABLOXA_BINARY_DIR) + "/testing/tabloxa-tdsemu";
        if (access(program.c_str(), X_OK) != 0)
            GTEST_SKIP() << "the emulator program is not built: " << program;
        test_support::write_file(m_dir.file("seed.sql"), times_seed + exact_rows());
        m_emulator = std::make_unique<emulator>(program, m_dir.file("seed.sql"));
        ASSERT_GT(m_emulator->port(), 0);
        drivers(freetds_ini);
    }
    std::unique_ptr<emulator> m_emulator;
};

TEST_F(odbc_emulator_times, date_times_read_as_parts_keep_the_drivers_text) {
    std::u16string text = u"Provider=sqloledb;Data Source=127.0.0.1," + number(m_emulator->port()) +
                          u";Initial Catalog=Times;User Id=sa;Password=Tabloxa-1;";
    in_child([text] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        DBID table{IID_NULL, DBKIND_NAME, const_cast<LPOLESTR>(u"[dbo].[Stamps]")};
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown()),
                 S_OK);
        read_rowset all = read_all(rowset.get());
        const std::vector<std::vector<std::optional<std::u16string>>> want = {
            {u"1", u"1753-01-01 00:00:00.003", u"1900-01-01 00:00:00", u"0001-01-01 00:00:00",
             u"0999-12-31 23:59:59.500", u"9999-12-31 23:59:59.9999999", u"0001-01-01"},
            {u"2", u"2005-12-31 23:59:59.997", u"2079-06-06 23:59:00", u"2024-02-29 12:34:56",
             u"2024-02-29 12:34:56.007", u"2024-02-29 12:34:56.0000001", u"9999-12-31"},
        };
        for (size_t r = 0; r < want.size(); ++r)
            for (size_t c = 0; c < want[r].size(); ++c)
                if (all.rows.at(r).at(c) != want[r][c])
                    fail(__LINE__, "text", tk_to_utf8(all.names[c]), show(all.rows[r][c]));
        CHECK_EQ(all.rows.size(), want.size());
    });
}

// Decimals, money, times and date-times with an offset come from the driver as its structures
// and are written here, national text as the server's UTF-16 and other text as the client's UTF-8:
// their texts must be the ones the driver itself gives.
TEST_F(odbc_emulator_times, values_read_as_structures_keep_the_drivers_text) {
    const int port = m_emulator->port();
    std::u16string text = u"Provider=sqloledb;Data Source=127.0.0.1," + number(port) +
                          u";Initial Catalog=Times;User Id=sa;Password=Tabloxa-1;";
    in_child([text, port] {
        ole_com_ptr<IOpenRowset> session = generic_session(text);
        read_rowset ours = query(session, u"SELECT * FROM dbo.Exact ORDER BY k");
        CHECK_EQ(ours.rows.size(), size_t(203));
        // The driver's own texts, read as wide text.
        SQLHENV env = SQL_NULL_HENV;
        SQLHDBC dbc = SQL_NULL_HDBC;
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        CHECK(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
        CHECK(SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)));
        CHECK(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));
        std::string connect = "Driver=libtdsodbc.so;Server=127.0.0.1;Port=" + std::to_string(port) +
                              ";Database=Times;UID=sa;PWD=Tabloxa-1;TDS_Version=7.4;ClientCharset=UTF-8";
        CHECK(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connect.data()), SQL_NTS,
                                             nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
        CHECK(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
        CHECK(SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("SELECT * FROM dbo.Exact ORDER BY k")), SQL_NTS)));
        SQLSMALLINT columns = 0;
        CHECK(SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)));
        CHECK_EQ(size_t(columns), ours.columns.size());
        for (size_t row = 0; SQLFetch(stmt) == SQL_SUCCESS; ++row) {
            CHECK(row < ours.rows.size());
            for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
                SQLWCHAR wide[128];
                SQLLEN length = 0;
                CHECK(SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_WCHAR, wide, sizeof wide, &length)));
                if (length == SQL_NULL_DATA) {
                    if (ours.rows[row][c - 1].has_value()) fail(__LINE__, "null", tk_to_utf8(ours.names[c - 1]));
                    continue;
                }
                std::u16string driver(reinterpret_cast<const char16_t*>(wide), size_t(length) / 2);
                // The year in four digits, as the reading has always made it.
                size_t year = driver.find(u'-', 1);
                if ((c == 12 || c == 13) && year < 4) driver.insert(0, 4 - year, u'0');
                if (ours.rows[row][c - 1] != driver)
                    fail(__LINE__, "text", tk_to_utf8(ours.names[c - 1]) + " row " + std::to_string(row + 1),
                         show(ours.rows[row][c - 1]) + " against " + tk_to_utf8(driver));
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    });
}

} // namespace
