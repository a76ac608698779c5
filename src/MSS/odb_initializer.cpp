#include "MSS/odb_initializer.hpp"

#include "MSS/odb_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <string>
#include <vector>

namespace {
// On Linux the providers are unixODBC's drivers: say which ones.
const char no_provider[] =
    "Failed to load an ODBC driver for SQL Server. You should install unixODBC with \"ODBC Driver 18 for "
    "SQL Server\", \"ODBC Driver 17 for SQL Server\" or FreeTDS (Debian: tdsodbc)\r\nto proceed with the "
    "application.\r\n";

// Properties of one set, owning their texts.
class property_list {
public:
    property_list() = default;
    ~property_list() {
        for (DBPROP& p : m_props) VariantClear(&p.vValue);
    }
    property_list(const property_list&) = delete;
    property_list& operator=(const property_list&) = delete;

    void add(DBPROPID id, const std::u16string& value) {
        DBPROP& p = add(id);
        p.vValue.vt = VT_BSTR;
        p.vValue.bstrVal = SysAllocStringLen(value.data(), static_cast<std::uint32_t>(value.size()));
    }
    void add(DBPROPID id, long value) {
        DBPROP& p = add(id);
        p.vValue.vt = VT_I4;
        p.vValue.lVal = static_cast<std::int32_t>(value);
    }
    void add(DBPROPID id, bool value) {
        DBPROP& p = add(id);
        p.vValue.vt = VT_BOOL;
        p.vValue.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    DBPROPSET as_set(const GUID& set) {
        return DBPROPSET{m_props.data(), static_cast<ULONG>(m_props.size()), set};
    }

private:
    DBPROP& add(DBPROPID id) {
        DBPROP& p = m_props.emplace_back();
        p.dwPropertyID = id;
        p.dwOptions = DBPROPOPTIONS_REQUIRED;
        p.dwStatus = DBPROPSTATUS_OK;
        p.colid = DB_NULLID;
        VariantInit(&p.vValue);
        return p;
    }

    std::vector<DBPROP> m_props;
};
} // namespace

bool odb_initializer::test_connection(ole_com_ptr<IDBInitialize>& data_source, const std::u16string& host,
                                      const std::u16string& user, const std::u16string& password,
                                      const std::u16string& database) {
    // A log file may be read by others: the password is never written to it.
    const std::u16string hidden = password.empty() ? u"" : u"********";
    TK_WTRACE(1, u"odb_initializer::test_connection(%s,%s,%s,%s)", host.c_str(), user.c_str(), hidden.c_str(),
              database.c_str());
    if (test_native_connection(data_source, CLSID_SQLNCLI11, host, user, password, database)) {
        TK_TRACE(1, "CLSID_SQLNCLI11 succeeded");
        m_b_native = true;
        return true;
    }
    if (test_native_connection(data_source, CLSID_SQLNCLI10, host, user, password, database)) {
        TK_TRACE(1, "CLSID_SQLNCLI10 succeeded");
        m_b_native = true;
        return true;
    }
    std::u16string init_string = connection_string(host, user, password, database);
    std::u16string shown = connection_string(host, user, hidden, database);
    if (m_login_timeout != odb_default_login_timeout) {
        std::u16string timeout = u"Connect Timeout=" + tk_utf8_to_wstring(std::to_string(m_login_timeout)) + u";";
        init_string += timeout;
        shown += timeout;
    }
    if (test_generic_connection(data_source, init_string, &shown)) {
        m_b_native = false;
        return true;
    }
    tk_exception e(no_provider, 1);
    e.set_code(1);
    throw e;
}

bool odb_initializer::test_native_connection(ole_com_ptr<IDBInitialize>& data_source, const CLSID& provider,
                                             const std::u16string& host, const std::u16string& user,
                                             const std::u16string& password, const std::u16string& database) {
    TK_TRACE(1, "odb_initializer::test_native_connection");
    ole_com_ptr<IDBInitialize> source;
    if (FAILED(CoCreateInstance(provider, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize,
                                source.put_void())) ||
        !source) {
        TK_TRACE(1, "CoCreateInstance failed");
        return false;
    }
    TK_TRACE(1, "SQLNCLI1X initialization SUCCEEDED!");

    property_list props;
    props.add(DBPROP_INIT_DATASOURCE, host);
    if (!user.empty()) {
        props.add(DBPROP_AUTH_USERID, user);
        props.add(DBPROP_AUTH_PASSWORD, password);
    } else {
        props.add(DBPROP_AUTH_INTEGRATED, std::u16string(u"SSPI"));
    }
    if (!database.empty()) props.add(DBPROP_INIT_CATALOG, database);
    if (m_login_timeout != odb_default_login_timeout) props.add(DBPROP_INIT_TIMEOUT, m_login_timeout);
    DBPROPSET set = props.as_set(DBPROPSET_DBINIT);

    ole_com_ptr<IDBProperties> properties;
    odb_check(source.query(IID_IDBProperties, properties));
    odb_check(properties->SetProperties(1, &set));
    odb_check(source->Initialize());
    data_source = std::move(source);
    return true;
}

bool odb_initializer::test_generic_connection(ole_com_ptr<IDBInitialize>& data_source,
                                              const std::u16string& init_string, const std::u16string* shown) {
    TK_WTRACE(1, u"odb_initializer::test_generic_connection(%s)", (shown ? *shown : init_string).c_str());
    ole_com_ptr<IDataInitialize> service;
    HRESULT hr = CoCreateInstance(CLSID_MSDAINITIALIZE, nullptr, CLSCTX_INPROC_SERVER, IID_IDataInitialize,
                                  service.put_void());
    if (FAILED(hr) || !service) {
        TK_TRACE(2, "Failed to initialize CLSID_MSDAINITIALIZE: %08X", static_cast<unsigned>(hr));
        return false;
    }
    ole_com_ptr<IUnknown> unknown;
    odb_check(service->GetDataSource(nullptr, CLSCTX_INPROC_SERVER, init_string.c_str(), IID_IUnknown,
                                     unknown.put()));
    ole_com_ptr<IDBInitialize> source;
    odb_check(unknown.query(IID_IDBInitialize, source));
    odb_check(source->Initialize());
    data_source = std::move(source);
    return true;
}

std::u16string odb_initializer::quote_value(const std::u16string& value) {
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    bool needs = value.find_first_of(u";\"'") != std::u16string::npos ||
                 (!value.empty() && (blank(value.front()) || blank(value.back())));
    if (!needs) return value;
    std::u16string quoted = u"\"";
    for (char16_t c : value) {
        if (c == u'"') quoted += u'"';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

std::u16string odb_initializer::connection_string(const std::u16string& host, const std::u16string& user,
                                                  const std::u16string& password,
                                                  const std::u16string& database) {
    std::u16string text = u"Provider=sqloledb;Data Source=" + quote_value(host);
    if (!database.empty()) text += u";Initial Catalog=" + quote_value(database);
    if (!user.empty())
        text += u";User Id=" + quote_value(user) + u";Password=" + quote_value(password) + u";";
    else
        text += u";Integrated Security=SSPI;";
    return text;
}
