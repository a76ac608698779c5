#include "ODBC/odbc_connection.hpp"

#include "ODBC/odbc_error.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include "ODBC/odbc_sql.hpp"
#include <dlfcn.h>

namespace {

std::u16string from_sqlwchar(const SQLWCHAR* text, size_t size) {
    std::u16string result(size, u'\0');
    for (size_t i = 0; i < size; ++i) result[i] = static_cast<char16_t>(text[i]);
    return result;
}

std::vector<SQLWCHAR> to_sqlwchar(std::u16string_view text) {
    std::vector<SQLWCHAR> result(text.begin(), text.end());
    result.push_back(0);
    return result;
}

// The library the driver manager would load for a driver name: the registered Driver64 or Driver
// attribute, or the name itself when nothing is registered under it.
std::string driver_library(const odbc_handle& env, std::u16string_view name) {
    std::string library = tk_to_utf8(name);
    std::vector<SQLWCHAR> description(512), attributes(8192);
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT description_size = 0, attributes_size = 0;
        SQLRETURN rc = SQLDriversW(env.get(), direction, description.data(), 512, &description_size,
                                   attributes.data(), 8192, &attributes_size);
        direction = SQL_FETCH_NEXT;
        if (!SQL_SUCCEEDED(rc)) break;
        size_t length = 0;
        while (length < description.size() && description[length]) ++length;
        if (from_sqlwchar(description.data(), length) != name) continue;
        // Attributes: "key=value" pieces, each ended by a NUL, the list by a second one.
        std::string driver, driver64;
        for (size_t pos = 0; pos < attributes.size() && attributes[pos];) {
            size_t end = pos;
            while (end < attributes.size() && attributes[end]) ++end;
            std::string piece = tk_to_utf8(from_sqlwchar(attributes.data() + pos, end - pos));
            if (piece.rfind("Driver64=", 0) == 0) driver64 = piece.substr(9);
            if (piece.rfind("Driver=", 0) == 0) driver = piece.substr(7);
            pos = end + 1;
        }
        return !driver64.empty() ? driver64 : driver;
    }
    return library;
}

} // namespace

std::shared_ptr<const odbc_handle> odbc_environment() {
    static std::shared_ptr<const odbc_handle> env = [] {
        odbc_handle handle = odbc_handle::make_env();
        return handle ? std::make_shared<const odbc_handle>(std::move(handle)) : nullptr;
    }();
    return env;
}

bool odbc_driver_loadable(std::u16string_view driver_name) {
    std::shared_ptr<const odbc_handle> env = odbc_environment();
    if (!env) return false;
    std::string library = driver_library(*env, driver_name);
    if (library.empty()) return false;
    void* module = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!module && library.find('/') == std::string::npos) {
        // Like the driver manager, look for a bare library name in its own drivers' folder too
        // (Debian's: "odbc" beside libodbc).
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&SQLAllocHandle), &info) && info.dli_fname) {
            std::string folder = info.dli_fname;
            folder.erase(folder.rfind('/') + 1);
            module = dlopen((folder + "odbc/" + library).c_str(), RTLD_LAZY | RTLD_LOCAL);
        }
    }
    TK_TRACE(1, "ODBC driver '%s' library '%s': %s", tk_to_utf8(driver_name).c_str(), library.c_str(),
             module ? "loads" : dlerror());
    if (!module) return false;
    // A library that loads but is no driver (a wrong path in odbcinst.ini) cannot connect either.
    bool driver = dlsym(module, "SQLDriverConnectW") || dlsym(module, "SQLDriverConnect") ||
                  dlsym(module, "SQLConnect");
    if (!driver) TK_TRACE(1, "ODBC driver '%s': '%s' is no ODBC driver", tk_to_utf8(driver_name).c_str(),
                          library.c_str());
    dlclose(module);
    return driver;
}

odbc_connection::odbc_connection(const std::u16string& connect_string, long login_timeout)
    : m_env(odbc_environment()) {
    if (!m_env) throw odbc_error(E_FAIL, u"The ODBC driver manager cannot make an environment");
    m_dbc = odbc_handle::make(odbc_handle::dbc, *m_env);
    // Only the login: statements have no timeout, an export may run for hours.
    odbc_check(SQLSetConnectAttrW(m_dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout)), 0),
               m_dbc, "SQLSetConnectAttr(SQL_ATTR_LOGIN_TIMEOUT)");
    std::vector<SQLWCHAR> text = to_sqlwchar(connect_string);
    SQLWCHAR out[1024];
    SQLSMALLINT out_size = 0;
    SQLRETURN rc = SQLDriverConnectW(m_dbc.get(), nullptr, text.data(), SQL_NTS, out, 1024, &out_size,
                                     SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc))
        throw odbc_error(
            odbc_connect_records_in_order(odbc_error::from_handle(m_dbc, "SQLDriverConnect").records()));
    m_dbc.set_connected();
}

void odbc_pool::open() {
    auto connection = std::make_shared<odbc_connection>(m_connect_string, m_login_timeout);
    std::lock_guard<std::mutex> lock(m_lock);
    m_connections.push_back(std::move(connection));
}

bool odbc_pool::is_open() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_connections.empty();
}

std::shared_ptr<odbc_connection> odbc_pool::acquire() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto& connection : m_connections) {
            if (!connection->busy) {
                connection->busy = true;
                return connection;
            }
        }
    }
    TK_TRACE(1, "ODBC: every connection has a pending result; opening another");
    auto connection = std::make_shared<odbc_connection>(m_connect_string, m_login_timeout);
    connection->busy = true;
    std::lock_guard<std::mutex> lock(m_lock);
    m_connections.push_back(connection);
    return connection;
}

void odbc_pool::release(odbc_connection& connection) {
    std::lock_guard<std::mutex> lock(m_lock);
    connection.busy = false;
}

size_t odbc_pool::size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_connections.size();
}

namespace {
// The open statements, so that another thread can cancel them; a handle is freed only under the
// lock, never while SQLCancel uses it.
std::mutex open_statements_lock;
// Each open statement, and whether the server is running it.
std::vector<std::pair<SQLHSTMT, bool>> open_statements;
bool statements_refused = false;
} // namespace

odbc_statement::odbc_statement(const std::shared_ptr<odbc_pool>& pool)
    : m_pool(pool), m_connection(pool->acquire()) {
    try {
        m_stmt = odbc_handle::make(odbc_handle::stmt, m_connection->handle());
    } catch (...) {
        m_pool->release(*m_connection);
        throw;
    }
    std::lock_guard<std::mutex> guard(open_statements_lock);
    if (statements_refused) {
        m_stmt.reset();
        m_pool->release(*m_connection);
        m_connection.reset();
        throw odbc_error(E_FAIL, u"Operation canceled");
    }
    open_statements.emplace_back(m_stmt.get(), false);
}

void odbc_statement::set_executing(bool on) noexcept {
    std::lock_guard<std::mutex> guard(open_statements_lock);
    for (auto& [statement, executing] : open_statements)
        if (statement == m_stmt.get()) executing = on;
}

void odbc_cancel_all_statements() noexcept {
    std::lock_guard<std::mutex> guard(open_statements_lock);
    statements_refused = true;
    // Cancelling a fetch in progress can leave FreeTDS waiting for ever: only running statements.
    for (auto& [statement, executing] : open_statements)
        if (executing) SQLCancel(statement);
}

void odbc_allow_statements() noexcept {
    std::lock_guard<std::mutex> guard(open_statements_lock);
    statements_refused = false;
}

void odbc_statement::close() noexcept {
    if (!m_connection) return;
    {
        std::lock_guard<std::mutex> guard(open_statements_lock);
        std::erase_if(open_statements, [this](const auto& entry) { return entry.first == m_stmt.get(); });
        m_stmt.reset();
    }
    m_pool->release(*m_connection);
    m_connection.reset();
}
