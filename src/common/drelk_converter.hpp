#pragma once

#include "TK/tk_singl.hpp"
#include "UDB/udb_converter.hpp"
#include "UDB/udb_profile.hpp"

#include <string>

// The MS SQL half of the converter: how to reach the server.
class mssql_converter_impl {
public:
    bool windows_auth() const { return m_windows_auth; }
    void set_windows_auth(bool on) { m_windows_auth = on; }
    const std::u16string& host() const { return m_host; }
    void set_host(const std::u16string& host) { m_host = host; }
    const std::u16string& user() const { return m_user; }
    void set_user(const std::u16string& user) { m_user = user; }
    const std::u16string& password() const { return m_password; }
    void set_password(const std::u16string& password) { m_password = password; }

    // Connect as the database owner; held by the server engine once there is one.
    virtual bool as_dbo() const { return m_as_dbo; }
    virtual void set_as_dbo(bool on) { m_as_dbo = on; }

    bool load_profile(const udb_profile& profile);
    void store_profile(udb_profile& profile) const;

protected:
    bool m_as_dbo = false;
    bool m_windows_auth = false;
    std::u16string m_host;
    std::u16string m_user;
    std::u16string m_password;
};

// The one converter of the system: MS SQL source, CSV destination.
class drelk_converter : public udb_converter, public mssql_converter_impl, public tk_single<drelk_converter> {
public:
    using tk_single<drelk_converter>::instance;
    using tk_single<drelk_converter>::get;
    using udb_converter::load_profile;
    using udb_converter::store_profile;

    drelk_converter();
    ~drelk_converter() override;

    void operator()() override;

    bool load_all(const udb_profile& profile) override;
    void store_all(udb_profile& profile) const override;
    bool load_csv_settings(const udb_profile& profile);
    void store_csv_settings(udb_profile& profile) const;

    bool include_fnames() const { return m_include_fnames; }
    void set_include_fnames(bool on) { m_include_fnames = on; }
    int delimiter() const { return m_delimiter; }
    void set_delimiter(int code) { m_delimiter = code; }
    // The delimiter character of a code 0 to 2.
    static char delimiter_char(int code);
    bool blob_to_text() const { return m_blob_to_text; }
    void set_blob_to_text(bool on) { m_blob_to_text = on; }

protected:
    bool m_blob_to_text = false;
    bool m_include_fnames = true;
    int m_delimiter = 1;
};
