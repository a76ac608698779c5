#include "ODBC/odbc_connect_string.hpp"

#include "ODBC/odbc_error.hpp"
#include "TK/tk_utils.hpp"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

std::mutex g_options_lock;
std::optional<odbc_native_options> g_options;

// A tab at either end of a value is kept: it may be part of a password or a name.
std::u16string_view trim_spaces(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    return text;
}

bool blank_at_an_end(std::u16string_view value) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    return !value.empty() && (blank(value.front()) || blank(value.back()));
}

std::u16string_view trim_blanks(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
    return text;
}

bool equal_nocase_ascii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? a[i] + 32 : a[i];
        char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? b[i] + 32 : b[i];
        if (x != y) return false;
    }
    return true;
}

[[noreturn]] void refuse(const std::u16string& text) {
    throw odbc_error(E_INVALIDARG, text);
}

// FreeTDS reads a braced value literally up to the first "};" and does not undouble "}}".
void append_freetds(std::u16string& out, std::u16string_view key, std::u16string_view value) {
    if (value.find(u'\0') != std::u16string_view::npos)
        refuse(std::u16string(u"The value of ") + std::u16string(key) + u" contains a NUL character");
    if (value.find(u"};") != std::u16string_view::npos)
        refuse(std::u16string(u"The value of ") + std::u16string(key) +
               u" contains \"};\", which the FreeTDS driver cannot be given");
    bool braces = value.find_first_of(u";{") != std::u16string_view::npos || blank_at_an_end(value);
    out.append(key).append(u"=");
    if (braces)
        out.append(u"{").append(value).append(u"}");
    else
        out.append(value);
    out.append(u";");
}

// Standard ODBC quoting: braces, with '}' doubled inside.
void append_standard(std::u16string& out, std::u16string_view key, std::u16string_view value) {
    if (value.find(u'\0') != std::u16string_view::npos)
        refuse(std::u16string(u"The value of ") + std::u16string(key) + u" contains a NUL character");
    bool braces = value.find_first_of(u";{}=") != std::u16string_view::npos || blank_at_an_end(value);
    out.append(key).append(u"=");
    if (braces) {
        out.append(u"{");
        for (char16_t c : value) {
            out.push_back(c);
            if (c == u'}') out.push_back(u'}');
        }
        out.append(u"}");
    } else {
        out.append(value);
    }
    out.append(u";");
}

std::u16string env_value(const char* name) {
    const char* value = std::getenv(name);
    return value ? tk_utf8_to_wstring_lossy(value) : std::u16string();
}

} // namespace

odbc_native_options odbc_native_options::current() {
    {
        std::lock_guard<std::mutex> lock(g_options_lock);
        if (g_options) return *g_options;
    }
    return {env_value("TABLOXA_ODBC_ENCRYPT"), env_value("TABLOXA_ODBC_TRUST_SERVER_CERTIFICATE")};
}

void odbc_set_native_options(const odbc_native_options& options) {
    std::lock_guard<std::mutex> lock(g_options_lock);
    g_options = options;
}

void odbc_clear_native_options() {
    std::lock_guard<std::mutex> lock(g_options_lock);
    g_options.reset();
}

odbc_server_address odbc_server_parts(std::u16string_view host, odbc_driver_kind kind) {
    std::u16string_view name = trim_spaces(host);
    // Microsoft's drivers take the protocol prefix themselves; FreeTDS only speaks TCP.
    if (kind == odbc_driver_kind::freetds && name.size() >= 4 &&
        equal_nocase_ascii(name.substr(0, 4), u"tcp:"))
        name.remove_prefix(4);
    std::u16string_view machine = name.substr(0, name.find_first_of(u"\\,"));
    std::u16string_view rest = name.substr(machine.size());
    // Windows' names of the local machine mean nothing to a TCP client.
    if (trim_blanks(machine).empty() || machine == u"." || equal_nocase_ascii(machine, u"(local)"))
        machine = u"localhost";
    odbc_server_address address;
    size_t comma = rest.find(u',');
    address.server = std::u16string(machine) + std::u16string(rest.substr(0, comma));
    if (comma != std::u16string_view::npos)
        address.port = trim_spaces(rest.substr(comma + 1));
    else if (rest.empty())
        address.port = u"1433";
    return address;
}

std::u16string odbc_server_value(std::u16string_view host, odbc_driver_kind kind) {
    odbc_server_address address = odbc_server_parts(host, kind);
    return address.port.empty() ? address.server : address.server + u"," + address.port;
}

std::u16string odbc_build_connect_string(std::u16string_view driver, odbc_driver_kind kind,
                                         const odbc_login& login, const odbc_native_options& options) {
    bool freetds = kind == odbc_driver_kind::freetds;
    auto append = freetds ? append_freetds : append_standard;
    std::u16string out;
    // Driver names are plain words; the driver manager reads the braces itself.
    out = u"Driver={" + std::u16string(driver) + u"};";
    if (freetds) {
        // Given "name,port", FreeTDS sends the server name with a NUL in place of the comma, and
        // real servers refuse that login.
        odbc_server_address address = odbc_server_parts(login.host, kind);
        append(out, u"Server", address.server);
        if (!address.port.empty()) append(out, u"Port", address.port);
    } else {
        append(out, u"Server", odbc_server_value(login.host, kind));
    }
    if (!login.database.empty()) append(out, u"Database", login.database);
    if (login.integrated) {
        out.append(freetds ? u"Trusted_Connection=Yes;" : u"Trusted_Connection=yes;");
    } else {
        append(out, u"UID", login.user);
        append(out, u"PWD", login.password);
    }
    if (freetds) {
        // With the version left to "auto", FreeTDS waits for ever on a host that never answers,
        // whatever the login timeout; 7.4 logins are answered with the server's own version.
        // Packets of the largest size an encrypted connection takes, not FreeTDS's 4096 bytes:
        // a quarter of the reads for a table's rows.
        out.append(u"TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=16383;");
    } else {
        if (!options.encrypt.empty()) append(out, u"Encrypt", options.encrypt);
        if (!options.trust_server_certificate.empty())
            append(out, u"TrustServerCertificate", options.trust_server_certificate);
    }
    return out;
}

odbc_login odbc_parse_oledb_string(std::u16string_view text) {
    odbc_login login;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eq = text.find(u'=', pos);
        size_t semi = text.find(u';', pos);
        if (eq == std::u16string_view::npos || (semi != std::u16string_view::npos && semi < eq)) {
            // An empty piece between two semicolons, or trailing blanks.
            if (!trim_blanks(text.substr(pos, semi == std::u16string_view::npos ? semi : semi - pos)).empty())
                refuse(u"The connection string has a piece without '=': " + std::u16string(text.substr(pos)));
            if (semi == std::u16string_view::npos) break;
            pos = semi + 1;
            continue;
        }
        std::u16string_view key = trim_blanks(text.substr(pos, eq - pos));
        pos = eq + 1;
        while (pos < text.size() && text[pos] == u' ') ++pos;
        std::u16string value;
        if (pos < text.size() && (text[pos] == u'"' || text[pos] == u'\'')) {
            char16_t quote = text[pos++];
            for (;;) {
                if (pos >= text.size())
                    refuse(u"The connection string has an unterminated quoted value for " +
                           std::u16string(key));
                if (text[pos] == quote) {
                    if (pos + 1 < text.size() && text[pos + 1] == quote) {
                        value.push_back(quote);
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                value.push_back(text[pos++]);
            }
            while (pos < text.size() && text[pos] == u' ') ++pos;
            if (pos < text.size() && text[pos] != u';')
                refuse(u"The connection string has text after the quoted value of " + std::u16string(key));
        } else {
            size_t end = text.find(u';', pos);
            value = trim_blanks(text.substr(pos, end == std::u16string_view::npos ? end : end - pos));
            pos = end == std::u16string_view::npos ? text.size() : end;
        }
        if (pos < text.size()) ++pos; // the ';'

        auto is = [&](std::u16string_view name) { return equal_nocase_ascii(key, name); };
        if (is(u"Provider") || is(u"Persist Security Info")) {
            // The provider is whichever driver this binding loads.
        } else if (is(u"Data Source") || is(u"Server") || is(u"Address") || is(u"Addr")) {
            login.host = value;
        } else if (is(u"Initial Catalog") || is(u"Database")) {
            login.database = value;
        } else if (is(u"User Id") || is(u"User ID") || is(u"UID")) {
            login.user = value;
        } else if (is(u"Password") || is(u"PWD")) {
            login.password = value;
        } else if (is(u"Connect Timeout") || is(u"Connection Timeout")) {
            std::string digits = tk_to_utf8(value);
            char* end = nullptr;
            long seconds = digits.empty() ? -1 : std::strtol(digits.c_str(), &end, 10);
            if (seconds < 0 || *end || digits.size() > 9)
                refuse(u"The connection string has an invalid Connect Timeout: " + value);
            login.login_timeout = seconds;
        } else if (is(u"Integrated Security") || is(u"Trusted_Connection")) {
            login.integrated = equal_nocase_ascii(value, u"SSPI") || equal_nocase_ascii(value, u"true") ||
                               equal_nocase_ascii(value, u"yes");
        } else {
            refuse(u"The connection string keyword \"" + std::u16string(key) + u"\" is not supported");
        }
    }
    return login;
}
