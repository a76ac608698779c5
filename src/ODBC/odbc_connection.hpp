#pragma once

#include "ODBC/odbc_handle.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The driver manager's environment, one per process; null when unixODBC cannot make one.
std::shared_ptr<const odbc_handle> odbc_environment();

// True unless the driver manager cannot find or load the driver's library: the driver is not
// registered under that name (unixODBC then takes the name for a library) or its library does not
// load. This is exactly when unixODBC answers a connection "Can't open lib".
bool odbc_driver_loadable(std::u16string_view driver_name);

// One connected ODBC connection. `busy` while a statement's result on it is still being read.
class odbc_connection {
public:
    // Connects without prompting; throws odbc_error with the driver's records.
    // The login timeout, in seconds (0: none), bounds each attempt: a host that accepts the
    // connection and never answers would otherwise hold it for ever.
    explicit odbc_connection(const std::u16string& connect_string, long login_timeout = 15);

    const odbc_handle& handle() const noexcept { return m_dbc; }
    bool busy = false;

private:
    std::shared_ptr<const odbc_handle> m_env;
    odbc_handle m_dbc;
};

// The connections of one data source. Neither FreeTDS nor Microsoft's drivers without MARS run a
// second statement while a result is pending, so a statement opened then gets a connection of its own.
class odbc_pool {
public:
    explicit odbc_pool(std::u16string connect_string, long login_timeout = 15)
        : m_connect_string(std::move(connect_string)), m_login_timeout(login_timeout) {}

    // The first connection (the data source's initialisation); throws odbc_error.
    void open();
    bool is_open() const;
    // A connection with no pending result, marked busy; opens another when all are busy.
    std::shared_ptr<odbc_connection> acquire();
    void release(odbc_connection& connection);
    size_t size() const;

private:
    std::u16string m_connect_string;
    long m_login_timeout;
    mutable std::mutex m_lock;
    std::vector<std::shared_ptr<odbc_connection>> m_connections;
};

// A statement handle on a connection taken from a pool; closing it (or destroying it) frees the
// connection for the next statement.
class odbc_statement {
public:
    explicit odbc_statement(const std::shared_ptr<odbc_pool>& pool);
    ~odbc_statement() { close(); }
    odbc_statement(const odbc_statement&) = delete;
    odbc_statement& operator=(const odbc_statement&) = delete;

    const odbc_handle& handle() const noexcept { return m_stmt; }
    // Its connection's handle; only while open.
    const odbc_handle& connection() const noexcept { return m_connection->handle(); }
    bool is_open() const noexcept { return static_cast<bool>(m_stmt); }
    void close() noexcept;
    // While the server runs the statement (before its first result) a cancel may stop it; a
    // result being fetched is left alone: the run stops between two records.
    void set_executing(bool on) noexcept;

private:
    std::shared_ptr<odbc_pool> m_pool;
    std::shared_ptr<odbc_connection> m_connection;
    odbc_handle m_stmt;
};

// SQLCancel on every statement of the process the server is still running, from any thread: it
// stops with an error.
// Statements opened after it fail at once, so that a cancel cannot slip in between two of them.
void odbc_cancel_all_statements() noexcept;
void odbc_allow_statements() noexcept;
