#include "common/drelk_converter.hpp"

#include "MSS/mss_engine.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cstdlib>
#include <string>

drelk_converter::drelk_converter() {
    TK_TRACE(2, "drelk_converter::ctor");
}

drelk_converter::~drelk_converter() = default;

char drelk_converter::delimiter_char(int code) {
    static const char delimiters[] = {'\t', ';', ','};
    TK_ASSERT(code >= 0 && code <= 2, "drelk_converter");
    return delimiters[code];
}

mssql_converter_impl::mssql_converter_impl() : m_engine(std::make_unique<mss_engine>(true)) {}

mssql_converter_impl::~mssql_converter_impl() = default;

bool mssql_converter_impl::as_dbo() const {
    return m_engine->as_dbo();
}

void mssql_converter_impl::set_as_dbo(bool on) {
    m_engine->set_as_dbo(on);
}

bool mssql_converter_impl::load_profile(const udb_profile& profile) {
    TK_TRACE(2, "mssql_converter_impl::load_profile");
    std::u16string value = profile.get_value(udb_mssql_settings, u"server");
    if (!value.empty()) m_host = value;
    value = profile.get_value(udb_mssql_settings, u"login");
    if (!value.empty()) m_user = value;
    value = profile.get_value(udb_mssql_settings, u"password");
    if (!value.empty()) m_password = value;
    value = profile.get_value(udb_mssql_settings, u"windows authentication");
    if (!value.empty()) m_windows_auth = value == u"1";
    value = profile.get_value(udb_mssql_settings, u"connect as DBO");
    if (!value.empty()) set_as_dbo(value == u"1");
    value = profile.get_value(udb_mssql_settings, u"login timeout");
    if (!value.empty()) m_login_timeout = value;
    return true;
}

void mssql_converter_impl::store_profile(udb_profile& profile) const {
    TK_TRACE(2, "mssql_converter_impl::store_profile");
    profile.set_value(udb_mssql_settings, u"server", m_host);
    profile.set_value(udb_mssql_settings, u"login", m_user);
    profile.set_value(udb_mssql_settings, u"password", m_password);
    profile.set_value(udb_mssql_settings, u"windows authentication", m_windows_auth ? u"1" : u"0");
    profile.set_value(udb_mssql_settings, u"connect as DBO", as_dbo() ? u"1" : u"0");
    if (!m_login_timeout.empty()) profile.set_value(udb_mssql_settings, u"login timeout", m_login_timeout);
}

long mssql_converter_impl::login_timeout() const {
    std::string text = tk_to_utf8(m_login_timeout);
    if (text.empty()) {
        const char* env = std::getenv("TABLOXA_LOGIN_TIMEOUT");
        if (!env || !*env) return odb_default_login_timeout;
        text = env;
    }
    // Whole seconds, at most nine digits: the providers take a 32-bit count.
    if (text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stol(text);
}

bool drelk_converter::load_csv_settings(const udb_profile& profile) {
    std::u16string value = profile.get_value(udb_csv_settings, u"Include field names");
    if (!value.empty()) m_include_fnames = value == u"1";
    value = profile.get_value(udb_csv_settings, u"CSV delimiter");
    if (!value.empty()) m_delimiter = std::atoi(tk_to_utf8(value).c_str());
    return true;
}

void drelk_converter::store_csv_settings(udb_profile& profile) const {
    profile.set_value(udb_csv_settings, u"Include field names", m_include_fnames ? u"1" : u"0");
    profile.set_value(udb_csv_settings, u"CSV delimiter", tk_utf8_to_wstring(std::to_string(m_delimiter)));
}

bool drelk_converter::load_all(const udb_profile& profile) {
    return udb_converter::load_profile(profile) && mssql_converter_impl::load_profile(profile) &&
           load_csv_settings(profile);
}

void drelk_converter::store_all(udb_profile& profile) const {
    udb_converter::store_profile(profile);
    mssql_converter_impl::store_profile(profile);
    store_csv_settings(profile);
}
