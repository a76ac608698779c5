#pragma once

#include "MSS/ole_com_ptr.hpp"

#include <string>

// The platform provider's login timeout, in seconds.
inline constexpr long odb_default_login_timeout = 15;

// Chooses the provider and initialises a data source: the two native providers in order, then the
// generic one through the service component with a connection string.
class odb_initializer {
public:
    // True with an initialised data source, or raises. No provider at all raises tk_exception
    // with code 1.
    bool test_connection(ole_com_ptr<IDBInitialize>& data_source, const std::u16string& host,
                         const std::u16string& user, const std::u16string& password,
                         const std::u16string& database);
    // False when the provider class cannot be created; raises odb_exception on any later failure.
    bool test_native_connection(ole_com_ptr<IDBInitialize>& data_source, const CLSID& provider,
                                const std::u16string& host, const std::u16string& user,
                                const std::u16string& password, const std::u16string& database);
    // False when the service component cannot be created; raises odb_exception on any later failure.
    // `shown`, when given, is what the trace shows of the string (without its password).
    bool test_generic_connection(ole_com_ptr<IDBInitialize>& data_source, const std::u16string& init_string,
                                 const std::u16string* shown = nullptr);

    // The generic provider's connection string.
    static std::u16string connection_string(const std::u16string& host, const std::u16string& user,
                                            const std::u16string& password, const std::u16string& database);
    // A value as a connection string must carry it: in double quotes (inner ones doubled) when it
    // holds ';', a quote, or leading or trailing blanks.
    static std::u16string quote_value(const std::u16string& value);

    // True when the last initialisation went through a native provider.
    bool native_provider() const noexcept { return m_b_native; }

    // Seconds each connection attempt may take; 0: no limit. Only a value other than the
    // providers' default is handed to them.
    long login_timeout() const noexcept { return m_login_timeout; }
    void set_login_timeout(long seconds) noexcept { m_login_timeout = seconds; }

private:
    bool m_b_native = false;
    long m_login_timeout = odb_default_login_timeout;
};
