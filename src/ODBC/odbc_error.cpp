#include "ODBC/odbc_error.hpp"

#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include "ODBC/odbc_sql.hpp"

namespace {

std::u16string from_sqlwchar(const SQLWCHAR* text, size_t size) {
    std::u16string result(size, u'\0');
    for (size_t i = 0; i < size; ++i) result[i] = static_cast<char16_t>(text[i]);
    return result;
}

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

HRESULT odbc_hresult_from_sqlstate(std::u16string_view sqlstate, long native_error) {
    // FreeTDS reports a failed login as 42000 before the server has acknowledged the login, so the
    // server's login-failed number decides whatever the state.
    if (native_error == 18456 || sqlstate == u"28000") return DB_SEC_E_AUTH_FAILED;
    if (starts_with(sqlstate, u"08") || sqlstate == u"HYT00") return E_FAIL;
    if (sqlstate == u"42S02") return DB_E_NOTABLE;
    if (sqlstate == u"42S22") return DB_E_NOCOLUMN;
    if (sqlstate == u"42000" || sqlstate == u"37000")
        return native_error == 229 || native_error == 230 ? DB_SEC_E_PERMISSIONDENIED : DB_E_ERRORSINCOMMAND;
    if (sqlstate == u"22003") return DB_E_DATAOVERFLOW;
    if (sqlstate == u"22005" || sqlstate == u"22018") return DB_E_CANTCONVERTVALUE;
    if (sqlstate == u"23000") return DB_E_INTEGRITYVIOLATION;
    return DB_E_ERRORSOCCURRED;
}

void odbc_split_message(std::u16string_view message, std::u16string& source, std::u16string& description) {
    size_t pos = 0;
    while (pos < message.size() && message[pos] == u'[') {
        size_t close = message.find(u']', pos);
        if (close == std::u16string_view::npos) break;
        pos = close + 1;
    }
    source.assign(message.substr(0, pos));
    description.assign(message.substr(pos));
}

odbc_error::odbc_error(std::vector<odb_error_record> records) : m_records(std::move(records)) {
    if (m_records.empty()) m_records.push_back({E_FAIL, {}, 0, {}, u"The ODBC call failed"});
    m_what = tk_to_utf8(m_records.front().source + m_records.front().description);
}

odbc_error::odbc_error(HRESULT result, const std::u16string& description)
    : odbc_error(std::vector<odb_error_record>{{result, {}, 0, u"[Tabloxa][ODBC]", description}}) {}

HRESULT odbc_error::post() const {
    odb_post_error(m_records);
    return result();
}

odbc_error odbc_error::from_handle(const odbc_handle& handle, const char* call) {
    return from_handle(handle.type(), handle.get(), call);
}

odbc_error odbc_error::from_handle(short type, void* handle, const char* call) {
    std::vector<odb_error_record> records;
    std::vector<SQLWCHAR> message(1024);
    for (SQLSMALLINT i = 1; handle; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && static_cast<size_t>(length) >= message.size()) {
            message.resize(length + 1);
            rc = SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc)) break;
        odb_error_record record;
        record.sqlstate = from_sqlwchar(state, 5);
        record.native_error = native;
        record.result = odbc_hresult_from_sqlstate(record.sqlstate, native);
        size_t size = std::min<size_t>(length < 0 ? 0 : length, message.size() - 1);
        odbc_split_message(from_sqlwchar(message.data(), size), record.source, record.description);
        TK_TRACE(1, "ODBC %s: %s (%ld) %s", call, tk_to_utf8(record.sqlstate).c_str(),
                 static_cast<long>(native), tk_to_utf8(record.source + record.description).c_str());
        records.push_back(std::move(record));
    }
    if (records.empty())
        return odbc_error(E_FAIL, tk_utf8_to_wstring_lossy(call) + u" failed without a diagnostic record");
    return odbc_error(std::move(records));
}

void odbc_check(short rc, const odbc_handle& handle, const char* call) {
    if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(handle, call);
}
