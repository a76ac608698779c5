#pragma once

#include "MSS/odb_initializer.hpp"
#include "TK/tk_singl.hpp"

#include <memory>
#include <string>
#include <vector>

class mss_database;

// Server version codes.
enum : int {
    mss_version_none = 0,
    mss_version_unknown = 1,
    mss_version_7 = 2,
    mss_version_2000 = 3,
    mss_version_2005 = 4,
    mss_version_2008 = 5,
    mss_version_2010 = 6,
    mss_version_2011 = 7,
    mss_version_2012 = 8,
    mss_version_azure = 100,
};

// The server connection, one per process. Connecting stores the parameters; every later operation
// initialises a data source of its own from them.
class mss_engine : public tk_single<mss_engine> {
public:
    // Initialises the data-access runtime for this thread unless the caller already has.
    explicit mss_engine(bool com_initialized);
    ~mss_engine();

    // Windows authentication.
    void connect(const std::u16string& host, bool fast_load);
    // SQL Server authentication.
    void connect(const std::u16string& host, const std::u16string& user, const std::u16string& password,
                 bool fast_load);
    void set_as_dbo(bool on);
    // Seconds each connection attempt may take; 0: no limit.
    void set_login_timeout(long seconds) noexcept { m_initializer.set_login_timeout(seconds); }
    long login_timeout() const noexcept { return m_initializer.login_timeout(); }
    // Every schema's tables, not only the owner's; the others named schema.table.
    void set_all_schemas(bool on) { m_b_all_schemas = on; }
    bool all_schemas() const noexcept { return m_b_all_schemas; }

    // The caller owns the database.
    std::unique_ptr<mss_database> open_db(const std::u16string& name, int mode);
    // The server's database names, in the server's order.
    void get_contents(std::vector<std::u16string>& names);
    int get_version(IDBInitialize* data_source);
    // "[owner].[table]" for a table name, bare or bracketed.
    std::u16string get_safe_tname(const std::u16string& name) const;

    int version() const noexcept { return m_version; }
    bool is_connected() const noexcept { return m_b_connected; }
    // True only when connected through a native provider.
    bool is_native() const noexcept { return m_b_connected && m_initializer.native_provider(); }
    bool fast_load() const noexcept { return m_b_fast_load; }
    bool as_dbo() const noexcept { return m_b_as_dbo; }
    const std::u16string& host() const noexcept { return m_host; }
    const std::u16string& user() const noexcept { return m_user; }
    const std::u16string& password() const noexcept { return m_password; }

private:
    void connect_with(const std::u16string& host, const std::u16string& user, const std::u16string& password,
                      bool fast_load);
    bool enable_fast_load(IDBInitialize* data_source, bool on);
    ole_com_ptr<IOpenRowset> create_session(IDBInitialize* data_source);

    int m_version = mss_version_none;
    std::u16string m_host;
    std::u16string m_user;
    std::u16string m_password;
    bool m_b_connected = false;
    bool m_b_fast_load = false;
    bool m_b_as_dbo = false;
    bool m_b_all_schemas = false;
    bool m_b_com_owner = false;
    odb_initializer m_initializer;
};
