#pragma once

#include <string>
#include <string_view>

// What a data source needs to log in, whichever way the logic handed it over (properties of a
// native provider, or the generic provider's initialisation string).
struct odbc_login {
    std::u16string host;
    std::u16string user;
    std::u16string password;
    std::u16string database;
    bool integrated = false;
};

enum class odbc_driver_kind { freetds, microsoft };

// Keywords only Microsoft's drivers know. Driver 18 encrypts and checks the certificate by default;
// empty values leave the driver's defaults alone.
struct odbc_native_options {
    std::u16string encrypt;                  // Encrypt=
    std::u16string trust_server_certificate; // TrustServerCertificate=

    // The options set by odbc_set_native_options, or else those of the environment variables
    // TABLOXA_ODBC_ENCRYPT and TABLOXA_ODBC_TRUST_SERVER_CERTIFICATE.
    static odbc_native_options current();
};
void odbc_set_native_options(const odbc_native_options& options);
void odbc_clear_native_options();

// The Server value for a host as users type it: a name or address, "name,port", "name\instance",
// or empty for the local server. A name without port gets 1433 (FreeTDS knows no default port);
// an instance never gets a port (it would reach the default instance instead).
std::u16string odbc_server_value(std::u16string_view host, odbc_driver_kind kind);

// The ODBC connection string for `driver`. Throws odbc_error for a value the driver cannot be given.
std::u16string odbc_build_connect_string(std::u16string_view driver, odbc_driver_kind kind,
                                         const odbc_login& login, const odbc_native_options& options = {});

// Reads an OLE DB initialisation string ("Provider=sqloledb;Data Source=...;User Id=...").
// Values may be quoted the OLE DB way ("..." or '...' with the quote doubled inside). Throws
// odbc_error for a key this binding cannot translate.
odbc_login odbc_parse_oledb_string(std::u16string_view text);
