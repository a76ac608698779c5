#include "ODBC/odbc_handle.hpp"

#include "ODBC/odbc_error.hpp"

#include "ODBC/odbc_sql.hpp"

odbc_handle odbc_handle::make_env() noexcept {
    SQLHANDLE handle = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) return {};
    odbc_handle result(env, handle);
    if (!SQL_SUCCEEDED(
            SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
        return {};
    return result;
}

odbc_handle odbc_handle::make(kind type, const odbc_handle& parent) {
    SQLHANDLE handle = SQL_NULL_HANDLE;
    SQLRETURN rc = SQLAllocHandle(type, parent.get(), &handle);
    if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(parent, "SQLAllocHandle");
    return odbc_handle(type, handle);
}

void odbc_handle::reset() noexcept {
    if (!m_handle) return;
    if (m_type == dbc && m_connected) SQLDisconnect(m_handle);
    SQLFreeHandle(m_type, m_handle);
    m_handle = nullptr;
    m_connected = false;
}
