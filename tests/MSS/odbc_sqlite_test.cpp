// The binding's generic paths against a second real driver: SQLite's ODBC driver, registered under
// the native providers' driver names in an odbcinst.ini of the test's own. unixODBC reads that file
// once per process, so every arrangement runs in a child process.

#include "MSS/odbc_connection.hpp"
#include "MSS/odbc_provider.hpp"
#include "MSS/odbc_result.hpp"
#include "MSS/ole_com_ptr.hpp"
#include "TK/tk_utils.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

std::string show(const std::u16string& text) {
    return "\"" + tk_to_utf8(text) + "\"";
}
std::string show(const std::optional<std::u16string>& text) {
    return text ? show(*text) : "NULL";
}
template <class T> std::string show(const T& value) {
    return std::to_string(value);
}

[[noreturn]] void fail(int line, const char* what, const std::string& a = {}, const std::string& b = {}) {
    std::fprintf(stderr, "line %d: %s failed %s %s\n", line, what, a.c_str(), b.c_str());
    std::fflush(stderr);
    _exit(1);
}
#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond)) fail(__LINE__, #cond);                                                                  \
    } while (0)
#define CHECK_EQ(a, b)                                                                                       \
    do {                                                                                                     \
        auto a_ = (a);                                                                                       \
        auto b_ = (b);                                                                                       \
        if (!(a_ == b_)) fail(__LINE__, #a " == " #b, show(a_), show(b_));                                   \
    } while (0)

// Runs `body` in a child with its own ODBC configuration; the test passes when the child exits 0.
void run_child(const std::string& dir, const std::function<void()>& body) {
    setenv("HOME", dir.c_str(), 1);
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
    try {
        body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception: %s\n", e.what());
        std::fflush(stderr);
        _exit(1);
    }
    _exit(0);
}

class odbc_sqlite : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void drivers(const std::string& ini) {
        test_support::write_file(m_dir.file("odbcinst.ini"), ini);
        test_support::write_file(m_dir.file("odbc.ini"), "");
    }
    std::u16string database() const { return tk_utf8_to_wstring(m_dir.file("test.db")); }
    void in_child(const std::function<void()>& body) {
        EXPECT_EXIT(run_child(m_dir.path(), body), ::testing::ExitedWithCode(0), "");
    }

    test_support::temp_dir m_dir;
};

const char* const sqlite_as_driver_18 = "[ODBC Driver 18 for SQL Server]\nDriver=libsqlite3odbc.so\n";

VARIANT bstr_variant(const std::u16string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    return v;
}

// The native path as the logic takes it: create, set the login properties, initialise, open a session.
ole_com_ptr<IOpenRowset> open_session(const CLSID& clsid, const std::u16string& database,
                                      ole_com_ptr<IDBInitialize>* source = nullptr) {
    odbc_install_provider();
    ole_com_ptr<IDBInitialize> init;
    CHECK_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, init.put_void()),
             S_OK);
    ole_com_ptr<IDBProperties> properties;
    CHECK_EQ(init.query(IID_IDBProperties, properties), S_OK);
    DBPROP props[2] = {};
    props[0].dwPropertyID = DBPROP_INIT_DATASOURCE;
    props[0].vValue = bstr_variant(u"");
    props[1].dwPropertyID = DBPROP_INIT_CATALOG;
    props[1].vValue = bstr_variant(database);
    DBPROPSET set{props, 2, DBPROPSET_DBINIT};
    CHECK_EQ(properties->SetProperties(1, &set), S_OK);
    VariantClear(&props[0].vValue);
    VariantClear(&props[1].vValue);
    CHECK_EQ(init->Initialize(), S_OK);
    ole_com_ptr<IDBCreateSession> create;
    CHECK_EQ(init.query(IID_IDBCreateSession, create), S_OK);
    ole_com_ptr<IOpenRowset> session;
    CHECK_EQ(create->CreateSession(nullptr, IID_IOpenRowset, session.put_unknown()), S_OK);
    if (source) *source = init;
    return session;
}

HRESULT execute(const ole_com_ptr<IOpenRowset>& session, const std::u16string& sql,
                ole_com_ptr<IRowset>* rowset = nullptr) {
    ole_com_ptr<IDBCreateCommand> create;
    CHECK_EQ(session.query(IID_IDBCreateCommand, create), S_OK);
    ole_com_ptr<ICommandText> command;
    CHECK_EQ(create->CreateCommand(nullptr, IID_ICommandText, command.put_unknown()), S_OK);
    CHECK_EQ(command->SetCommandText(DBGUID_DBSQL, sql.c_str()), S_OK);
    if (!rowset) return command->Execute(nullptr, IID_NULL, nullptr, nullptr, nullptr);
    return command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset->put_unknown());
}

struct read_rowset {
    std::vector<DBCOLUMNINFO> columns;
    std::vector<std::u16string> names;
    std::vector<std::vector<std::optional<std::u16string>>> rows; // binary columns as hexadecimal
    std::vector<DBSTATUS> statuses;                               // of every value, row by row
    std::vector<DBCOUNTITEM> batches;
};

// Reads a whole rowset through an accessor the way the reader does: text for all but bytes.
read_rowset read_all(IRowset* rowset, DBLENGTH max_length = 1 << 20, HRESULT* last = nullptr) {
    read_rowset out;
    ole_com_ptr<IColumnsInfo> info;
    CHECK_EQ(rowset->QueryInterface(IID_IColumnsInfo, info.put_void()), S_OK);
    DBORDINAL count = 0;
    DBCOLUMNINFO* array = nullptr;
    OLECHAR* strings = nullptr;
    CHECK_EQ(info->GetColumnInfo(&count, &array, &strings), S_OK);
    std::vector<DBBINDING> bindings(count);
    DBBYTEOFFSET offset = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
        out.columns.push_back(array[i]);
        out.names.push_back(array[i].pwszName);
        DBBINDING& b = bindings[i];
        b = DBBINDING{};
        b.iOrdinal = i + 1;
        b.obStatus = offset;
        b.obLength = offset + 4;
        b.obValue = offset + 8;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.cbMaxLen = max_length;
        b.wType = array[i].wType == DBTYPE_BYTES ? DBTYPE_BYTES : DBTYPE_WSTR;
        offset += 8 + max_length;
    }
    CoTaskMemFree(array);
    CoTaskMemFree(strings);
    ole_com_ptr<IAccessor> accessor;
    CHECK_EQ(rowset->QueryInterface(IID_IAccessor, accessor.put_void()), S_OK);
    HACCESSOR handle = 0;
    CHECK_EQ(accessor->CreateAccessor(DBACCESSOR_ROWDATA, count, bindings.data(), 0, &handle, nullptr), S_OK);
    std::vector<unsigned char> buffer(offset);
    for (;;) {
        HROW rows[5];
        HROW* pointer = rows;
        DBCOUNTITEM got = 0;
        HRESULT hr = rowset->GetNextRows(0, 0, 5, &got, &pointer);
        if (last) *last = hr;
        CHECK(SUCCEEDED(hr));
        out.batches.push_back(got);
        for (DBCOUNTITEM r = 0; r < got; ++r) {
            CHECK(SUCCEEDED(rowset->GetData(rows[r], handle, buffer.data())));
            std::vector<std::optional<std::u16string>> row;
            for (const DBBINDING& b : bindings) {
                DBSTATUS status;
                odb_bound_length length;
                std::memcpy(&status, &buffer[b.obStatus], 4);
                std::memcpy(&length, &buffer[b.obLength], 4);
                out.statuses.push_back(status);
                if (status == DBSTATUS_S_ISNULL) {
                    row.push_back(std::nullopt);
                } else if (b.wType == DBTYPE_BYTES) {
                    std::string hex(2 * std::min<size_t>(length, max_length) + 1, '\0');
                    tk_bin_to_hex(&buffer[b.obValue], std::min<size_t>(length, max_length), hex.data());
                    hex.pop_back();
                    row.push_back(tk_utf8_to_wstring(hex));
                } else {
                    size_t chars = std::min<size_t>(length, max_length - 2) / 2;
                    std::u16string text(chars, u'\0');
                    std::memcpy(text.data(), &buffer[b.obValue], chars * 2);
                    row.push_back(text);
                }
            }
            out.rows.push_back(std::move(row));
        }
        CHECK_EQ(rowset->ReleaseRows(got, rows, nullptr, nullptr, nullptr), S_OK);
        if (got < 5) break;
    }
    CHECK_EQ(accessor->ReleaseAccessor(handle, nullptr), S_OK);
    return out;
}

read_rowset query(const ole_com_ptr<IOpenRowset>& session, const std::u16string& sql) {
    ole_com_ptr<IRowset> rowset;
    CHECK_EQ(execute(session, sql, &rowset), S_OK);
    return read_all(rowset.get());
}

// The first error record of the thread's error object: result, SQLSTATE, description.
struct first_record {
    ULONG count = 0;
    HRESULT result = S_OK;
    std::u16string sqlstate;
    std::u16string description;
};
first_record error_record() {
    first_record out;
    IErrorInfo* raw = nullptr;
    CHECK_EQ(GetErrorInfo(0, &raw), S_OK);
    ole_com_ptr<IErrorInfo> info(raw);
    ole_com_ptr<IErrorRecords> records;
    CHECK_EQ(info.query(IID_IErrorRecords, records), S_OK);
    CHECK_EQ(records->GetRecordCount(&out.count), S_OK);
    CHECK(out.count > 0);
    ERRORINFO basic{};
    CHECK_EQ(records->GetBasicErrorInfo(0, &basic), S_OK);
    out.result = basic.hrError;
    ole_com_ptr<ISQLErrorInfo> sql;
    CHECK_EQ(records->GetCustomErrorObject(0, IID_ISQLErrorInfo, sql.put_unknown()), S_OK);
    if (sql) {
        BSTR state = nullptr;
        LONG native = 0;
        CHECK_EQ(sql->GetSQLInfo(&state, &native), S_OK);
        if (state) out.sqlstate = std::u16string(state, SysStringLen(state));
        SysFreeString(state);
    }
    ole_com_ptr<IErrorInfo> record;
    CHECK_EQ(records->GetErrorInfo(0, 0, record.put()), S_OK);
    BSTR description = nullptr;
    CHECK_EQ(record->GetDescription(&description), S_OK);
    if (description) out.description = std::u16string(description, SysStringLen(description));
    SysFreeString(description);
    return out;
}

read_rowset schema(const ole_com_ptr<IOpenRowset>& session, const GUID& id,
                   std::vector<std::u16string> values) {
    ole_com_ptr<IDBSchemaRowset> schemas;
    CHECK_EQ(session.query(IID_IDBSchemaRowset, schemas), S_OK);
    std::vector<VARIANT> restrictions(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        VariantInit(&restrictions[i]);
        if (!values[i].empty()) restrictions[i] = bstr_variant(values[i]);
    }
    ole_com_ptr<IRowset> rowset;
    HRESULT hr = schemas->GetRowset(nullptr, id, static_cast<ULONG>(restrictions.size()), restrictions.data(),
                                    IID_IRowset, 0, nullptr, rowset.put_unknown());
    for (VARIANT& v : restrictions) VariantClear(&v);
    if (FAILED(hr)) fail(__LINE__, "GetRowset", show(hr), tk_to_utf8(error_record().description));
    return read_all(rowset.get());
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
            CHECK_EQ(row[0].text, std::u16string(u"1"));
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

} // namespace
