#pragma once

#include <utility>

// Owns one ODBC handle and frees it; a connection handle is disconnected first when it was
// connected. The header stays free of <sql.h>: its Windows-style type names clash with ours.
class odbc_handle {
public:
    enum kind : short { env = 1, dbc = 2, stmt = 3 };

    odbc_handle() noexcept = default;
    odbc_handle(kind type, void* handle) noexcept : m_type(type), m_handle(handle) {}
    ~odbc_handle() { reset(); }
    odbc_handle(odbc_handle&& other) noexcept
        : m_type(other.m_type), m_handle(std::exchange(other.m_handle, nullptr)),
          m_connected(std::exchange(other.m_connected, false)) {}
    odbc_handle& operator=(odbc_handle&& other) noexcept {
        if (this != &other) {
            reset();
            m_type = other.m_type;
            m_handle = std::exchange(other.m_handle, nullptr);
            m_connected = std::exchange(other.m_connected, false);
        }
        return *this;
    }
    odbc_handle(const odbc_handle&) = delete;
    odbc_handle& operator=(const odbc_handle&) = delete;

    // An environment set to ODBC 3 behaviour; an empty holder when the driver manager cannot make one.
    static odbc_handle make_env() noexcept;
    // A connection or statement under `parent`; throws odbc_error on failure.
    static odbc_handle make(kind type, const odbc_handle& parent);

    void* get() const noexcept { return m_handle; }
    kind type() const noexcept { return m_type; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }
    void set_connected() noexcept { m_connected = true; }
    void reset() noexcept;

private:
    kind m_type = env;
    void* m_handle = nullptr;
    bool m_connected = false;
};
