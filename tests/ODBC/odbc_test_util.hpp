#pragma once

// Shared pieces of the ODBC binding's tests: a child process per driver arrangement (unixODBC reads
// its driver list once per process), checks that end the child, and the logic's ways through the
// provider interfaces.

#include "ODBC/odbc_provider.hpp"
#include "MSS/ole_com_ptr.hpp"
#include "TK/tk_utils.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace odbc_test {

inline std::string show(const std::u16string& text) {
    return "\"" + tk_to_utf8(text) + "\"";
}
inline std::string show(const std::optional<std::u16string>& text) {
    return text ? show(*text) : "NULL";
}
template <class T> std::string show(const T& value) {
    return std::to_string(value);
}

[[noreturn]] inline void fail(int line, const char* what, const std::string& a = {},
                              const std::string& b = {}) {
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
inline void run_child(const std::string& dir, const std::function<void()>& body) {
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
#if defined(__SANITIZE_ADDRESS__)
    // _exit skips the leak check at exit: run it here, so that the child's ODBC work is checked too.
    if (__lsan_do_recoverable_leak_check()) _exit(3);
#endif
    _exit(0);
}

inline VARIANT bstr_variant(const std::u16string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    return v;
}

// The native path as the logic takes it: create, set the login properties, initialise, open a session.
inline ole_com_ptr<IOpenRowset> open_session(const CLSID& clsid, const std::u16string& database,
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

inline HRESULT execute(const ole_com_ptr<IOpenRowset>& session, const std::u16string& sql,
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
inline read_rowset read_all(IRowset* rowset, DBLENGTH max_length = 1 << 20, HRESULT* last = nullptr) {
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

inline read_rowset query(const ole_com_ptr<IOpenRowset>& session, const std::u16string& sql) {
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
inline first_record error_record() {
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

inline read_rowset schema(const ole_com_ptr<IOpenRowset>& session, const GUID& id,
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

// A test whose ODBC work runs in a forked child, with the test's own odbcinst.ini.
class odbc_child_test : public ::testing::Test {
protected:
    void drivers(const std::string& ini) {
        test_support::write_file(m_dir.file("odbcinst.ini"), ini);
        test_support::write_file(m_dir.file("odbc.ini"), "");
    }
    void in_child(const std::function<void()>& body) {
        EXPECT_EXIT(run_child(m_dir.path(), body), ::testing::ExitedWithCode(0), "");
    }

    test_support::temp_dir m_dir;
};

} // namespace odbc_test
