// The binding's generic paths against a second real driver: SQLite's ODBC driver, registered under
// the native providers' driver names in an odbcinst.ini of the test's own. unixODBC reads that file
// once per process, so every arrangement runs in a child process.

#include "MSS/odb_accessor.hpp"
#include "ODBC/odbc_connection.hpp"
#include "ODBC/odbc_result.hpp"
#include "ODBC/odbc_test_util.hpp"
#include "TK/tk_exception.hpp"

#include <memory>

namespace {

using namespace odbc_test;

class odbc_sqlite : public odbc_child_test {
protected:
    std::u16string database() const { return tk_utf8_to_wstring(m_dir.file("test.db")); }
};

const char* const sqlite_as_driver_18 = "[ODBC Driver 18 for SQL Server]\nDriver=libsqlite3odbc.so\n";

// A rowset's column information, as the logic holds it while it reads.
struct column_info {
    DBORDINAL count = 0;
    DBCOLUMNINFO* info = nullptr;
    OLECHAR* strings = nullptr;
    explicit column_info(IRowset* rowset) {
        ole_com_ptr<IColumnsInfo> columns;
        CHECK_EQ(rowset->QueryInterface(IID_IColumnsInfo, columns.put_void()), S_OK);
        CHECK_EQ(columns->GetColumnInfo(&count, &info, &strings), S_OK);
    }
    ~column_info() {
        CoTaskMemFree(info);
        CoTaskMemFree(strings);
    }
};

// Every row as the reader makes records of them: one accessor, five rows a call.
std::vector<std::unique_ptr<odb_record>> records(const ole_com_ptr<IOpenRowset>& session,
                                                 const std::u16string& sql) {
    ole_com_ptr<IRowset> rowset;
    CHECK_EQ(execute(session, sql, &rowset), S_OK);
    column_info columns(rowset.get());
    odb_accessor accessor;
    accessor.bind(rowset.get(), columns.count, columns.info);
    std::vector<std::unique_ptr<odb_record>> out;
    for (;;) {
        HROW rows[5];
        HROW* pointer = rows;
        DBCOUNTITEM got = 0;
        CHECK(SUCCEEDED(rowset->GetNextRows(0, 0, 5, &got, &pointer)));
        for (DBCOUNTITEM i = 0; i < got; ++i) out.push_back(accessor.get_record(rowset.get(), rows[i]));
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
        if (got < 5) return out;
    }
}

std::u16string text_of(const odb_record& record, size_t column) {
    CHECK_EQ(record[column].vt(), VARTYPE(VT_BSTR));
    return std::u16string(record[column].get_bstr());
}

std::string bytes_of(const odb_record& record, size_t column) {
    CHECK_EQ(record[column].vt(), VARTYPE(VT_ARRAY | VT_UI1));
    auto bytes = record[column].get_binary();
    return std::string(bytes.begin(), bytes.end());
}

// 30,000 characters of one, two and three UTF-8 bytes, built by SQLite itself (the driver manager
// hands an ANSI driver's SQL text over in Latin-1), and the text they are.
const char16_t* const long_text_sql = u"replace(hex(zeroblob(30000)), '00', char(97, 233, 8364, 20013))";
std::u16string long_text() {
    std::u16string text;
    for (int i = 0; i < 30000; ++i) text += u"a\u00e9\u20ac\u4e2d";
    return text;
}

// 50,000 bytes, as a literal and as themselves.
std::string long_hex() {
    std::string hex;
    for (int i = 0; i < 50000; ++i) hex += "0123456789ABCDEF"[i % 16], hex += "FEDCBA9876543210"[i % 13];
    return hex;
}
std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

DBBINDING owned_binding(DBORDINAL column, DBTYPE type, DBBYTEOFFSET at) {
    DBBINDING b{};
    b.iOrdinal = column;
    b.obStatus = at;
    b.obLength = at + 4;
    b.obValue = at + 8;
    b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    b.cbMaxLen = sizeof(void*);
    b.wType = type;
    return b;
}

TEST_F(odbc_sqlite, a_class_exists_exactly_when_its_driver_loads) {
    drivers("[ODBC Driver 17 for SQL Server]\nDriver=libsqlite3odbc.so\n"
            "[ODBC Driver 18 for SQL Server]\nDriver=/nonexistent/libnothing.so\n");
    in_child([] {
        odbc_install_provider();
        ole_com_ptr<IDBInitialize> init;
        // Registered but its library does not load.
        CHECK_EQ(CoCreateInstance(CLSID_SQLNCLI11, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  init.put_void()),
                 REGDB_E_CLASSNOTREG);
        CHECK_EQ(CoCreateInstance(CLSID_SQLNCLI10, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                  init.put_void()),
                 S_OK);
        // FreeTDS is not registered here.
        ole_com_ptr<IDataInitialize> generic;
        CHECK_EQ(CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                                  generic.put_void()),
                 REGDB_E_CLASSNOTREG);
    });
}

TEST_F(odbc_sqlite, reads_exact_texts_bytes_nulls_in_batches_of_five) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session,
                         u"CREATE TABLE t (id INTEGER NOT NULL, r REAL, s VARCHAR(20), b BLOB, n INTEGER)"),
                 S_OK);
        for (int i = 1; i <= 12; ++i) {
            std::u16string sql = u"INSERT INTO t VALUES (" + tk_utf8_to_wstring(std::to_string(i)) + u", " +
                                 tk_utf8_to_wstring(std::to_string(i)) + u" * 0.1, 'h\u00e9llo', x'01ab', " +
                                 (i % 2 ? u"7" : u"NULL") + u")";
            CHECK_EQ(execute(session, sql), S_OK);
        }
        DBID table{IID_NULL, DBKIND_NAME, const_cast<LPOLESTR>(u"[t]")};
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown()),
                 S_OK);
        read_rowset all = read_all(rowset.get());
        CHECK_EQ(all.columns.size(), size_t(5));
        CHECK_EQ(all.columns[0].wType, DBTYPE(DBTYPE_I4));
        CHECK_EQ(all.columns[1].wType, DBTYPE(DBTYPE_R8));
        CHECK_EQ(all.columns[2].wType, DBTYPE(DBTYPE_STR));
        CHECK_EQ(all.columns[2].ulColumnSize, DBLENGTH(20));
        CHECK_EQ(all.columns[3].wType, DBTYPE(DBTYPE_BYTES));
        CHECK(all.columns[4].dwFlags & DBCOLUMNFLAGS_ISNULLABLE);
        CHECK_EQ(all.names[2], std::u16string(u"s"));
        CHECK(all.batches == (std::vector<DBCOUNTITEM>{5, 5, 2}));
        CHECK_EQ(all.rows.size(), size_t(12));
        CHECK_EQ(all.rows[0][0], std::optional<std::u16string>(u"1"));
        // Reals with the digits that give the same number back.
        CHECK_EQ(all.rows[0][1], std::optional<std::u16string>(u"0.10000000000000001"));
        CHECK_EQ(all.rows[0][2], std::optional<std::u16string>(u"h\u00e9llo"));
        CHECK_EQ(all.rows[0][3], std::optional<std::u16string>(u"01AB"));
        CHECK_EQ(all.rows[0][4], std::optional<std::u16string>(u"7"));
        CHECK_EQ(all.rows[1][4], std::optional<std::u16string>());
        CHECK_EQ(all.statuses[9], DBSTATUS(DBSTATUS_S_ISNULL));

        // Reading again from the start runs the statement again.
        CHECK_EQ(rowset->RestartPosition(0), S_OK);
        read_rowset again = read_all(rowset.get());
        CHECK_EQ(again.rows.size(), size_t(12));
        CHECK_EQ(again.rows[11][0], std::optional<std::u16string>(u"12"));
    });
}

TEST_F(odbc_sqlite, a_slot_too_small_cuts_the_value_and_says_so) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session, u"CREATE TABLE t (s VARCHAR(20), b BLOB)"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES ('abcdef', x'0102030405')"), S_OK);
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(execute(session, u"SELECT s, b FROM t", &rowset), S_OK);
        read_rowset cut = read_all(rowset.get(), 6);
        CHECK_EQ(cut.statuses[0], DBSTATUS(DBSTATUS_S_TRUNCATED));
        CHECK_EQ(cut.rows[0][0], std::optional<std::u16string>(u"ab"));
        CHECK_EQ(cut.statuses[1], DBSTATUS(DBSTATUS_S_OK));
    });
}

TEST_F(odbc_sqlite, long_values_arrive_whole) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session, u"CREATE TABLE big (s TEXT, b BLOB)"), S_OK);
        std::u16string text;
        // SQLite's driver converts UTF-8 to UCS-2, so characters beyond U+FFFF cannot come through it.
        for (int i = 0; i < 30000; ++i) text += u"a\u00e9\u20ac\u4e2d";
        std::string hex;
        for (int i = 0; i < 50000; ++i) hex += "0123456789ABCDEF"[i % 16], hex += "FEDCBA9876543210"[i % 13];
        // The driver manager hands an ANSI driver's SQL text over in Latin-1: build the text in SQL.
        CHECK_EQ(execute(session, u"INSERT INTO big VALUES (replace(hex(zeroblob(30000)), '00', "
                                  u"char(97, 233, 8364, 20013)), x'" +
                                      tk_utf8_to_wstring(hex) + u"')"),
                 S_OK);
        read_rowset all = query(session, u"SELECT s, b FROM big");
        CHECK_EQ(all.rows.size(), size_t(1));
        if (!(all.rows[0][0] == text)) {
            const std::u16string& got = *all.rows[0][0];
            size_t at = 0;
            while (at < got.size() && at < text.size() && got[at] == text[at]) ++at;
            fail(__LINE__, "long text", show(got.size()) + " vs " + show(text.size()),
                 "differs at " + show(at));
        }
        CHECK(all.rows[0][1] == tk_utf8_to_wstring(hex));
        CHECK_EQ(all.statuses[0], DBSTATUS(DBSTATUS_S_OK));
    });
}

// A binding by reference gets the provider's own copy of a value, for as long as the row is held;
// only as the type the value is held in.
TEST_F(odbc_sqlite, values_bound_by_reference_point_at_the_providers_copy) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session, u"CREATE TABLE t (s TEXT, b BLOB)"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (replace(hex(zeroblob(20000)), '00', 'xy'), x'00FF10')"),
                 S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (NULL, NULL)"), S_OK);
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(execute(session, u"SELECT s, b FROM t", &rowset), S_OK);
        ole_com_ptr<IAccessor> accessor;
        CHECK_EQ(rowset->QueryInterface(IID_IAccessor, accessor.put_void()), S_OK);
        DBBINDING bindings[2] = {};
        for (int i = 0; i < 2; ++i) {
            bindings[i].iOrdinal = i + 1;
            bindings[i].obStatus = 16 * i;
            bindings[i].obLength = 16 * i + 4;
            bindings[i].obValue = 16 * i + 8;
            bindings[i].dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
            bindings[i].dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
            bindings[i].cbMaxLen = sizeof(void*);
        }
        bindings[0].wType = DBTYPE_WSTR | DBTYPE_BYREF;
        bindings[1].wType = DBTYPE_WSTR | DBTYPE_BYREF; // hexadecimal text of bytes: refused
        HACCESSOR handle = 0;
        DBBINDSTATUS statuses[2] = {};
        CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, bindings, 0, &handle, statuses),
                 HRESULT(DB_E_ERRORSOCCURRED));
        CHECK_EQ(statuses[1], DBBINDSTATUS(DBBINDSTATUS_UNSUPPORTEDCONVERSION));
        bindings[1].wType = DBTYPE_BYTES | DBTYPE_BYREF;
        CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, bindings, 0, &handle, statuses), S_OK);
        HROW rows[2];
        HROW* pointer = rows;
        DBCOUNTITEM got = 0;
        CHECK_EQ(rowset->GetNextRows(0, 0, 2, &got, &pointer), S_OK);
        CHECK_EQ(got, DBCOUNTITEM(2));
        unsigned char buffer[32];
        auto part = [&](size_t at, auto& into) { std::memcpy(&into, buffer + at, sizeof into); };
        CHECK_EQ(rowset->GetData(rows[0], handle, buffer), S_OK);
        const char16_t* text = nullptr;
        const unsigned char* bytes = nullptr;
        odb_bound_length text_length = 0, byte_length = 0;
        part(8, text);
        part(4, text_length);
        part(24, bytes);
        part(20, byte_length);
        CHECK_EQ(text_length, odb_bound_length(80000));
        std::u16string expected;
        for (int i = 0; i < 20000; ++i) expected += u"xy";
        CHECK(std::u16string(text, 40000) == expected);
        CHECK_EQ(text[40000], u'\0');
        CHECK_EQ(byte_length, odb_bound_length(3));
        CHECK(bytes[0] == 0 && bytes[1] == 0xFF && bytes[2] == 0x10);
        CHECK_EQ(rowset->GetData(rows[1], handle, buffer), S_OK);
        DBSTATUS status = 0;
        part(0, status);
        CHECK_EQ(status, DBSTATUS(DBSTATUS_S_ISNULL));
        part(16, status);
        CHECK_EQ(status, DBSTATUS(DBSTATUS_S_ISNULL));
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
        CHECK_EQ(accessor->ReleaseAccessor(handle, nullptr), S_OK);
    });
}

TEST_F(odbc_sqlite, failures_carry_the_drivers_records) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IDBInitialize> source;
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db, &source);
        HRESULT hr = execute(session, u"SELEC 1");
        CHECK(FAILED(hr));
        first_record record = error_record();
        CHECK_EQ(record.result, hr);
        CHECK_EQ(record.sqlstate.size(), size_t(5));
        CHECK(!record.description.empty());

        DBID table{IID_NULL, DBKIND_NAME, const_cast<LPOLESTR>(u"[missing]")};
        ole_com_ptr<IRowset> rowset;
        CHECK(FAILED(
            session->OpenRowset(nullptr, &table, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown())));
        CHECK(error_record().description.find(u"missing") != std::u16string::npos);

        // Fast load has no ODBC counterpart: refused, and the data source goes on.
        ole_com_ptr<IDBProperties> properties;
        CHECK_EQ(source.query(IID_IDBProperties, properties), S_OK);
        DBPROP fast{};
        fast.dwPropertyID = SSPROP_ENABLEFASTLOAD;
        fast.vValue.vt = VT_BOOL;
        fast.vValue.boolVal = VARIANT_TRUE;
        DBPROPSET set{&fast, 1, DBPROPSET_SQLSERVERDATASOURCE};
        CHECK(FAILED(properties->SetProperties(1, &set)));
        CHECK_EQ(fast.dwStatus, DBPROPSTATUS(DBPROPSTATUS_NOTSUPPORTED));
        CHECK_EQ(execute(session, u"CREATE TABLE ok (a INTEGER)"), S_OK);
    });
}

TEST_F(odbc_sqlite, schema_rowsets_have_oledb_layouts_and_exact_restrictions) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session, u"CREATE TABLE t_1 (id INTEGER PRIMARY KEY, c TEXT)"), S_OK);
        CHECK_EQ(execute(session, u"CREATE UNIQUE INDEX ux ON t_1 (c)"), S_OK);
        CHECK_EQ(execute(session, u"CREATE TABLE tx1 (id INTEGER)"), S_OK);
        CHECK_EQ(execute(session, u"CREATE TABLE child (k INTEGER, parent_id INTEGER REFERENCES t_1 (id))"),
                 S_OK);

        // '_' in a restriction matches only itself.
        read_rowset tables = schema(session, DBSCHEMA_TABLES, {u"", u"", u"t_1", u"TABLE"});
        CHECK_EQ(tables.columns.size(), size_t(9));
        CHECK_EQ(tables.rows.size(), size_t(1));
        CHECK_EQ(tables.rows[0][2], std::optional<std::u16string>(u"t_1"));
        CHECK_EQ(tables.rows[0][3], std::optional<std::u16string>(u"TABLE"));
        CHECK_EQ(schema(session, DBSCHEMA_TABLES, {u"", u"", u"", u"TABLE"}).rows.size(), size_t(3));

        read_rowset keys = schema(session, DBSCHEMA_PRIMARY_KEYS, {u"", u"", u"t_1"});
        CHECK_EQ(keys.columns.size(), size_t(8));
        CHECK_EQ(keys.rows.size(), size_t(1));
        CHECK_EQ(keys.rows[0][3], std::optional<std::u16string>(u"id"));

        read_rowset foreign = schema(session, DBSCHEMA_FOREIGN_KEYS, {u"", u"", u"t_1"});
        CHECK_EQ(foreign.columns.size(), size_t(18));
        CHECK_EQ(foreign.rows.size(), size_t(1));
        CHECK_EQ(foreign.rows[0][2], std::optional<std::u16string>(u"t_1"));
        CHECK_EQ(foreign.rows[0][3], std::optional<std::u16string>(u"id"));
        CHECK_EQ(foreign.rows[0][8], std::optional<std::u16string>(u"child"));
        CHECK_EQ(foreign.rows[0][9], std::optional<std::u16string>(u"parent_id"));

        read_rowset indexes = schema(session, DBSCHEMA_INDEXES, {u"", u"", u"", u"", u"t_1"});
        CHECK_EQ(indexes.columns.size(), size_t(25));
        CHECK_EQ(indexes.columns[6].wType, DBTYPE(DBTYPE_BOOL));
        CHECK_EQ(indexes.columns[7].wType, DBTYPE(DBTYPE_BOOL));
        bool found = false;
        for (const auto& row : indexes.rows) {
            CHECK(row[5].has_value()); // no statistics row
            if (row[5] == std::u16string(u"ux")) {
                found = true;
                CHECK_EQ(row[6], std::optional<std::u16string>(u"0"));
                CHECK_EQ(row[7], std::optional<std::u16string>(u"1"));
                CHECK_EQ(row[17], std::optional<std::u16string>(u"c"));
            }
        }
        CHECK(found);
    });
}

TEST_F(odbc_sqlite, a_pending_result_gets_its_statement_a_connection_of_its_own) {
    drivers("[SQLite3]\nDriver=libsqlite3odbc.so\n");
    std::u16string db = database();
    in_child([db] {
        auto pool = std::make_shared<odbc_pool>(u"Driver={SQLite3};Database=" + db + u";");
        pool->open();
        CHECK_EQ(pool->size(), size_t(1));
        {
            odbc_statement_result pending(pool, u"SELECT 1 UNION ALL SELECT 2");
            odbc_row row;
            CHECK(pending.fetch(row));
            std::u16string text;
            odbc_number_text(row[0], text);
            CHECK_EQ(text, std::u16string(u"1"));
            odbc_statement_result second(pool, u"SELECT 3");
            CHECK_EQ(pool->size(), size_t(2));
            // Read to the end: its connection is free again at once.
            while (second.fetch(row)) {
            }
            odbc_statement_result third(pool, u"SELECT 4");
            CHECK_EQ(pool->size(), size_t(2));
        }
        // Both results are gone: no new connection is needed.
        odbc_statement_result fourth(pool, u"SELECT 5");
        odbc_statement_result fifth(pool, u"SELECT 6");
        CHECK_EQ(pool->size(), size_t(2));
    });
}

// Long values come to the record as the strings and arrays it keeps: whole, equal to what was
// stored, and never mixed up with the values before and after them in the same column.
TEST_F(odbc_sqlite, long_values_reach_the_record_whole_among_short_null_and_empty_ones) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session, u"CREATE TABLE t (id INTEGER, s TEXT, b LONGVARBINARY)"), S_OK);
        const std::string hex = long_hex();
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (1, 'abc', x'0102')"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (2, " + std::u16string(long_text_sql) + u", x'" +
                                      tk_utf8_to_wstring(hex) + u"')"),
                 S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (3, NULL, NULL)"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (4, '', x'')"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (5, 'xyz', x'FF')"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (6, " + std::u16string(long_text_sql) + u", x'" +
                                      tk_utf8_to_wstring(hex) + u"')"),
                 S_OK);
        {
            ole_com_ptr<IRowset> rowset;
            CHECK_EQ(execute(session, u"SELECT s, b FROM t", &rowset), S_OK);
            column_info columns(rowset.get());
            CHECK(columns.info[0].dwFlags & DBCOLUMNFLAGS_ISLONG);
            CHECK(columns.info[1].dwFlags & DBCOLUMNFLAGS_ISLONG);
        }
        auto rows = records(session, u"SELECT id, s, b FROM t ORDER BY id");
        CHECK_EQ(rows.size(), size_t(6));
        CHECK(text_of(*rows[0], 1) == u"abc");
        CHECK(bytes_of(*rows[0], 2) == std::string("\x01\x02"));
        const std::u16string text = long_text();
        const std::string bytes = from_hex(hex);
        for (size_t at : {size_t(1), size_t(5)}) {
            CHECK_EQ(text_of(*rows[at], 1).size(), text.size());
            CHECK(text_of(*rows[at], 1) == text);
            CHECK(bytes_of(*rows[at], 2) == bytes);
        }
        CHECK_EQ((*rows[2])[1].vt(), VARTYPE(VT_EMPTY));
        CHECK_EQ((*rows[2])[2].vt(), VARTYPE(VT_EMPTY));
        CHECK(text_of(*rows[3], 1).empty());
        CHECK(bytes_of(*rows[3], 2).empty());
        CHECK(text_of(*rows[4], 1) == u"xyz");
        CHECK(bytes_of(*rows[4], 2) == std::string("\xFF"));
    });
}

// A bounded value longer than its slot is read again; a long value in the same row was handed
// over by the first read and must not be asked for twice.
TEST_F(odbc_sqlite, a_grown_slot_beside_a_long_value_keeps_both_whole) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session,
                         u"CREATE TABLE g (id INTEGER, s TEXT, v VARCHAR(20), b LONGVARBINARY, n INTEGER)"),
                 S_OK);
        const std::string hex = long_hex();
        // SQLite keeps texts longer than a column declares: they outgrow the slot of its size.
        CHECK_EQ(execute(session, u"INSERT INTO g VALUES (1, " + std::u16string(long_text_sql) +
                                      u", replace(hex(zeroblob(2500)), '00', 'vw'), x'" +
                                      tk_utf8_to_wstring(hex) + u"', 7)"),
                 S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO g VALUES (2, 'short', 'v', x'01', 8)"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO g VALUES (3, " + std::u16string(long_text_sql) +
                                      u", replace(hex(zeroblob(5900)), '00', 'z'), x'" +
                                      tk_utf8_to_wstring(hex) + u"', 9)"),
                 S_OK);
        {
            ole_com_ptr<IRowset> rowset;
            CHECK_EQ(execute(session, u"SELECT id, s, v, b, n FROM g", &rowset), S_OK);
            column_info columns(rowset.get());
            CHECK_EQ(columns.info[2].ulColumnSize, DBLENGTH(20));
            CHECK(!(columns.info[2].dwFlags & DBCOLUMNFLAGS_ISLONG));
            odb_accessor accessor;
            accessor.bind(rowset.get(), columns.count, columns.info);
            CHECK_EQ(accessor.bindings()[2].cbMaxLen, DBLENGTH(42));
        }
        auto rows = records(session, u"SELECT id, s, v, b, n FROM g ORDER BY id");
        CHECK_EQ(rows.size(), size_t(3));
        std::u16string vw;
        for (int i = 0; i < 2500; ++i) vw += u"vw";
        CHECK(text_of(*rows[0], 1) == long_text());
        CHECK(text_of(*rows[0], 2) == vw);
        CHECK(bytes_of(*rows[0], 3) == from_hex(hex));
        CHECK_EQ((*rows[0])[4].to_long(), 7);
        CHECK(text_of(*rows[1], 1) == u"short");
        CHECK(text_of(*rows[1], 2) == u"v");
        CHECK(bytes_of(*rows[1], 3) == std::string("\x01"));
        CHECK_EQ((*rows[1])[4].to_long(), 8);
        CHECK(text_of(*rows[2], 1) == long_text());
        CHECK(text_of(*rows[2], 2) == std::u16string(5900, u'z'));
        CHECK(bytes_of(*rows[2], 3) == from_hex(hex));
        CHECK_EQ((*rows[2])[4].to_long(), 9);
    });
}

// A long value goes to its first reader; a second read has nothing to give and says so, and the
// record refuses it rather than passing it off as an empty value. The string handed over beside it
// is freed with the accessor (the child's leak check would fail otherwise).
TEST_F(odbc_sqlite, a_value_handed_over_once_is_unavailable_to_a_second_read) {
    drivers(sqlite_as_driver_18);
    std::u16string db = database();
    in_child([db] {
        ole_com_ptr<IOpenRowset> session = open_session(CLSID_SQLNCLI11, db);
        CHECK_EQ(execute(session, u"CREATE TABLE t (s TEXT, b LONGVARBINARY, short TEXT)"), S_OK);
        CHECK_EQ(execute(session, u"INSERT INTO t VALUES (" + std::u16string(long_text_sql) + u", x'" +
                                      tk_utf8_to_wstring(long_hex()) + u"', 'tiny')"),
                 S_OK);
        ole_com_ptr<IRowset> rowset;
        CHECK_EQ(execute(session, u"SELECT s, b, short FROM t", &rowset), S_OK);
        ole_com_ptr<IAccessor> accessor;
        CHECK_EQ(rowset->QueryInterface(IID_IAccessor, accessor.put_void()), S_OK);
        DBBINDING bindings[2] = {owned_binding(1, DBTYPE_BSTR, 0), {}};
        DBBINDSTATUS statuses[2] = {};
        HACCESSOR handle = 0;
        // Bytes as a string or text as an array would be conversions the binding does not make.
        DBBINDING wrong[2] = {owned_binding(1, DBTYPE_ARRAY | DBTYPE_UI1, 0),
                              owned_binding(2, DBTYPE_BSTR, 16)};
        CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, wrong, 0, &handle, statuses),
                 HRESULT(DB_E_ERRORSOCCURRED));
        CHECK_EQ(statuses[0], DBBINDSTATUS(DBBINDSTATUS_UNSUPPORTEDCONVERSION));
        CHECK_EQ(statuses[1], DBBINDSTATUS(DBBINDSTATUS_UNSUPPORTEDCONVERSION));
        // The text and the short text; the bytes stay for the reader below.
        bindings[1] = owned_binding(3, DBTYPE_BSTR, 16);
        CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, bindings, 0, &handle, statuses), S_OK);
        HROW rows[1];
        HROW* pointer = rows;
        DBCOUNTITEM got = 0;
        CHECK(SUCCEEDED(rowset->GetNextRows(0, 0, 1, &got, &pointer)));
        CHECK_EQ(got, DBCOUNTITEM(1));
        unsigned char buffer[32];
        auto status_at = [&](size_t at) {
            DBSTATUS status;
            std::memcpy(&status, buffer + at, sizeof status);
            return status;
        };
        auto pointer_at = [&](size_t at) {
            void* value;
            std::memcpy(&value, buffer + at + 8, sizeof value);
            return value;
        };
        CHECK_EQ(rowset->GetData(rows[0], handle, buffer), S_OK);
        CHECK_EQ(status_at(0), DBSTATUS(DBSTATUS_S_OK));
        auto* text = static_cast<BSTR>(pointer_at(0));
        CHECK(std::u16string(text, SysStringLen(text)) == long_text());
        auto* tiny = static_cast<BSTR>(pointer_at(16));
        CHECK(std::u16string(tiny, SysStringLen(tiny)) == u"tiny");
        SysFreeString(text);
        SysFreeString(tiny);

        CHECK_EQ(rowset->GetData(rows[0], handle, buffer), HRESULT(DB_S_ERRORSOCCURRED));
        CHECK_EQ(status_at(0), DBSTATUS(DBSTATUS_E_UNAVAILABLE));
        CHECK(pointer_at(0) == nullptr);
        // A short value was a copy: it can be had again.
        CHECK_EQ(status_at(16), DBSTATUS(DBSTATUS_S_OK));
        tiny = static_cast<BSTR>(pointer_at(16));
        CHECK(std::u16string(tiny, SysStringLen(tiny)) == u"tiny");
        SysFreeString(tiny);
        CHECK_EQ(accessor->ReleaseAccessor(handle, nullptr), S_OK);

        // The reader takes the bytes beside the missing text, and refuses the row; the bytes it
        // took go with it.
        {
            column_info columns(rowset.get());
            odb_accessor reader;
            reader.bind(rowset.get(), columns.count, columns.info);
            bool refused = false;
            try {
                reader.get_record(rowset.get(), rows[0]);
            } catch (const tk_exception&) {
                refused = true;
            }
            CHECK(refused);
        }
        bindings[0] = owned_binding(2, DBTYPE_ARRAY | DBTYPE_UI1, 0);
        CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, bindings, 0, &handle, statuses), S_OK);
        CHECK_EQ(rowset->GetData(rows[0], handle, buffer), HRESULT(DB_S_ERRORSOCCURRED));
        CHECK_EQ(status_at(0), DBSTATUS(DBSTATUS_E_UNAVAILABLE));
        CHECK(pointer_at(0) == nullptr);
        CHECK_EQ(accessor->ReleaseAccessor(handle, nullptr), S_OK);
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
    });
}

} // namespace
