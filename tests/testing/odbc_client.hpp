#pragma once

// A small ODBC client for driving the emulator through unixODBC and the FreeTDS driver.

#include "tdsemu/tds_buffer.hpp"

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace odbc_client {

inline std::string freetds_driver() {
    return "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
}

inline std::string connection_string(int port, const std::string& database, const std::string& user = "sa",
                                     const std::string& password = "Tabloxa-1") {
    return "Driver=" + freetds_driver() + ";Server=127.0.0.1;Port=" + std::to_string(port) +
           ";Database=" + database + ";UID=" + user + ";PWD=" + password +
           ";TDS_Version=7.4;Encryption=off;ClientCharset=UTF-8";
}

inline std::u16string wide(const std::string& utf8) {
    return tdsemu::utf8_to_u16(utf8);
}
inline std::string narrow(const std::u16string& w) {
    return tdsemu::u16_to_utf8(w);
}

struct diag {
    std::string state;
    long native = 0;
    std::string text;
};

inline std::vector<diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<diag> out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[1024] = {};
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, i, state, &native, text, 1024, &len))) break;
        out.push_back({narrow(std::u16string(reinterpret_cast<char16_t*>(state), 5)),
                       static_cast<long>(native), narrow(std::u16string(reinterpret_cast<char16_t*>(text)))});
    }
    return out;
}

struct odbc_error : std::runtime_error {
    std::vector<diag> records;
    SQLRETURN rc;
    odbc_error(SQLRETURN r, std::vector<diag> d)
        : std::runtime_error(d.empty() ? "ODBC call failed"
                                       : d[0].state + " " + std::to_string(d[0].native) + " " + d[0].text),
          records(std::move(d)), rc(r) {}
};

class environment {
public:
    environment() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
        SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    ~environment() { SQLFreeHandle(SQL_HANDLE_ENV, m_env); }
    environment(const environment&) = delete;
    environment& operator=(const environment&) = delete;
    SQLHENV handle() const { return m_env; }

private:
    SQLHENV m_env = SQL_NULL_HENV;
};

using row = std::vector<std::optional<std::string>>;

class statement {
public:
    explicit statement(SQLHDBC dbc) { SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_stmt); }
    ~statement() { SQLFreeHandle(SQL_HANDLE_STMT, m_stmt); }
    statement(const statement&) = delete;
    statement& operator=(const statement&) = delete;
    SQLHSTMT handle() const { return m_stmt; }

    void check(SQLRETURN rc) const {
        if (!SQL_SUCCEEDED(rc)) throw odbc_error(rc, diagnostics(SQL_HANDLE_STMT, m_stmt));
    }
    void exec(const std::string& sql) {
        std::u16string w = wide(sql);
        SQLRETURN rc = SQLExecDirectW(m_stmt, reinterpret_cast<SQLWCHAR*>(w.data()), SQL_NTS);
        if (rc != SQL_NO_DATA) check(rc); // a statement without a result
    }
    int columns() const {
        SQLSMALLINT n = 0;
        SQLNumResultCols(m_stmt, &n);
        return n;
    }
    // Every value as wide text, NULL as nullopt.
    std::vector<row> rows() {
        std::vector<row> out;
        int n = columns();
        if (n == 0) return out;
        for (;;) {
            SQLRETURN rc = SQLFetch(m_stmt);
            if (rc == SQL_NO_DATA) break;
            check(rc);
            row r;
            for (int c = 1; c <= n; ++c) r.push_back(text(c));
            out.push_back(r);
        }
        return out;
    }
    std::optional<std::string> text(int column) {
        std::u16string value;
        for (;;) {
            char16_t buf[512];
            SQLLEN ind = 0;
            SQLRETURN rc =
                SQLGetData(m_stmt, static_cast<SQLUSMALLINT>(column), SQL_C_WCHAR, buf, sizeof buf, &ind);
            if (rc == SQL_NO_DATA) break;
            check(rc);
            if (ind == SQL_NULL_DATA) return std::nullopt;
            size_t got =
                ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf) ? sizeof buf / 2 - 1 : ind / 2;
            value.append(buf, got);
            if (rc == SQL_SUCCESS) break;
        }
        return narrow(value);
    }
    std::vector<row> all(const std::string& sql) {
        exec(sql);
        return rows();
    }

private:
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
};

class connection {
public:
    connection(const environment& env, const std::string& conn_str) {
        SQLAllocHandle(SQL_HANDLE_DBC, env.handle(), &m_dbc);
        std::u16string w = wide(conn_str);
        SQLRETURN rc = SQLDriverConnectW(m_dbc, nullptr, reinterpret_cast<SQLWCHAR*>(w.data()), SQL_NTS,
                                         nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            auto d = diagnostics(SQL_HANDLE_DBC, m_dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
            throw odbc_error(rc, d);
        }
    }
    ~connection() {
        SQLDisconnect(m_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
    }
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;
    SQLHDBC handle() const { return m_dbc; }
    std::vector<row> all(const std::string& sql) {
        statement s(m_dbc);
        return s.all(sql);
    }
    std::string scalar(const std::string& sql) {
        auto r = all(sql);
        if (r.empty() || r[0].empty() || !r[0][0]) throw std::runtime_error("no value from " + sql);
        return *r[0][0];
    }

private:
    SQLHDBC m_dbc = SQL_NULL_HDBC;
};

} // namespace odbc_client
