#include "MSS/mss_engine.hpp"

#include "MSS/mss_sql_text.hpp"

#include "MSS/mss_database.hpp"
#include "MSS/mss_split_tab_name.hpp"
#include "MSS/odb_command.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/odb_meta_data.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

namespace {
const char16_t server_prefix[] = u"Microsoft SQL Server";
const size_t server_prefix_size = 20;
const char16_t azure_prefix[] = u"Microsoft SQL Azure";

struct version_prefix {
    const char16_t* prefix;
    int code;
};
// First match wins, so "200" must follow the longer years.
const version_prefix version_prefixes[] = {
    {u"2012", mss_version_2012}, {u"2011", mss_version_2011}, {u"2010", mss_version_2010},
    {u"2008", mss_version_2008}, {u"2005", mss_version_2005}, {u"200", mss_version_2000},
    {u"7.", mss_version_7},
};

void read_names(odb_recordset& reader, std::vector<std::u16string>& names) {
    while (!reader.is_eof()) {
        udb_record* record = reader.get_item();
        TK_ASSERT(record && !record->empty(), "mss_engine.cpp");
        std::u16string name = (*record)[0].to_wstring();
        TK_WTRACE(1, u"Got database: %s", name.c_str());
        names.push_back(std::move(name));
        reader.next();
    }
}
} // namespace

mss_engine::mss_engine(bool com_initialized) {
    if (!com_initialized) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_b_com_owner = true;
    }
}

mss_engine::~mss_engine() {
    if (m_b_com_owner) CoUninitialize();
}

void mss_engine::connect(const std::u16string& host, bool fast_load) {
    TK_WTRACE(2, u"mss_engine::connect( %s )", host.c_str());
    TK_TRACE(3, "Connecting to MS SQL server...");
    // Windows authentication: a login stored by an earlier SQL Server connect must not go on
    // authenticating later operations.
    connect_with(host, std::u16string(), std::u16string(), fast_load);
}

void mss_engine::connect(const std::u16string& host, const std::u16string& user,
                         const std::u16string& password, bool fast_load) {
    // A log file may be read by others: the password is never written to it.
    TK_WTRACE(2, u"mss_engine::connect( %s, %s, %s )", host.c_str(), user.c_str(), password.empty() ? u"" : u"********");
    TK_TRACE(3, "Connecting to MS SQL server...");
    connect_with(host, user, password, fast_load);
}

void mss_engine::connect_with(const std::u16string& host, const std::u16string& user,
                              const std::u16string& password, bool fast_load) {
    ole_com_ptr<IDBInitialize> data_source;
    m_initializer.test_connection(data_source, host, user, password, std::u16string());
    m_b_fast_load = enable_fast_load(data_source.get(), fast_load);
    m_host = host;
    m_user = user;
    m_password = password;
    m_b_connected = true;
    m_version = get_version(data_source.get());
    TK_TRACE(2, "Got MS SQL version: %d", m_version);
}

bool mss_engine::enable_fast_load(IDBInitialize* data_source, bool on) {
    TK_TRACE(2, "mss_engine::enable_fast_load(%d)", on ? 1 : 0);
    ole_com_ptr<IDBProperties> properties;
    odb_check(data_source->QueryInterface(IID_IDBProperties, properties.put_void()));
    DBPROP prop{};
    prop.dwPropertyID = SSPROP_ENABLEFASTLOAD;
    prop.dwOptions = DBPROPOPTIONS_REQUIRED;
    prop.colid = DB_NULLID;
    VariantInit(&prop.vValue);
    prop.vValue.vt = VT_BOOL;
    prop.vValue.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
    DBPROPSET set{&prop, 1, DBPROPSET_SQLSERVERDATASOURCE};
    // A provider without fast load still reads; the connection goes on without it.
    if (FAILED(properties->SetProperties(1, &set))) return false;
    return on;
}

void mss_engine::set_as_dbo(bool on) {
    TK_TRACE(1, "mss_engine::set_as_dbo(%d)", on ? 1 : 0);
    m_b_as_dbo = on;
}

ole_com_ptr<IOpenRowset> mss_engine::create_session(IDBInitialize* data_source) {
    ole_com_ptr<IDBCreateSession> factory;
    odb_check(data_source->QueryInterface(IID_IDBCreateSession, factory.put_void()));
    ole_com_ptr<IOpenRowset> session;
    odb_check(factory->CreateSession(nullptr, IID_IOpenRowset, session.put_unknown()));
    return session;
}

std::unique_ptr<mss_database> mss_engine::open_db(const std::u16string& name, int mode) {
    TK_WTRACE(2, u"mss_engine::open_db(%s)", name.c_str());
    TK_WTRACE(3, u"Opening MS SQL database '%s'", name.c_str());
    TK_ASSERT(m_b_connected, "mss_engine.cpp");
    ole_com_ptr<IDBInitialize> data_source;
    m_initializer.test_connection(data_source, m_host, m_user, m_password, name);
    ole_com_ptr<IOpenRowset> session = create_session(data_source.get());
    TK_TRACE(1, "Connection to the database was establish successfully");
    return std::make_unique<mss_database>(name, std::move(data_source), std::move(session), mode);
}

void mss_engine::get_contents(std::vector<std::u16string>& names) {
    TK_TRACE(2, "mss_engine::get_contents");
    TK_ASSERT(m_b_connected, "mss_engine.cpp");
    if (m_version == mss_version_azure) {
        TK_TRACE(2, "Cannot get list of databases on Azure SQL");
        tk_exception e(
            std::string("Azure SQL does not allow to list databases.\r\nEnter database name directly."), 1);
        e.set_code(1);
        throw e;
    }
    ole_com_ptr<IDBInitialize> data_source;
    m_initializer.test_connection(data_source, m_host, m_user, m_password, std::u16string());
    ole_com_ptr<IOpenRowset> session = create_session(data_source.get());

    std::vector<std::u16string> found;
    bool listed = false;
    {
        odb_dl_meta_data catalogs(session.get());
        catalogs.reset();
        if (!catalogs.is_eof()) {
            TK_TRACE(2, "Try to get databases list via OLE DB");
            read_names(catalogs, found);
            listed = true;
        }
    }
    if (!listed) {
        TK_TRACE(2, "Try to get databases list via MS SQL native");
        odb_command command(session.get());
        ole_com_ptr<IRowset> rowset;
        command.execute(u"exec sp_databases", &rowset);
        odb_recordset reader(rowset.get());
        reader.reset();
        read_names(reader, found);
    }
    names = std::move(found);
}

int mss_engine::get_version(IDBInitialize* data_source) {
    TK_TRACE(2, "mss_engine::get_version(priv)");
    std::u16string text;
    {
        odb_command command(data_source);
        ole_com_ptr<IRowset> rowset;
        command.execute(u"SELECT @@VERSION", &rowset);
        odb_recordset reader(rowset.get());
        reader.reset();
        if (!reader.is_eof()) {
            udb_record* record = reader.get_item();
            if (record && !record->empty()) text = (*record)[0].to_wstring();
        }
    }
    TK_WTRACE(1, u"MS SQL version string: %s", text.c_str());

    std::u16string_view view(text);
    if (view.size() > server_prefix_size + 10 && view.starts_with(server_prefix)) {
        std::u16string token = tk_ltrim(tk_rtrim(std::u16string(view.substr(server_prefix_size, 10))));
        TK_WTRACE(1, u"str_ver_num=%s", token.c_str());
        for (const version_prefix& p : version_prefixes)
            if (std::u16string_view(token).starts_with(p.prefix)) return p.code;
        return mss_version_unknown;
    }
    if (view.size() > 19 && view.starts_with(azure_prefix)) return mss_version_azure;
    return mss_version_unknown;
}

std::u16string mss_engine::get_safe_tname(const std::u16string& name) const {
    TK_WTRACE(1, u"mss_engine::get_safe_tname(%s)", name.c_str());
    std::u16string table;
    std::u16string owner;
    bool split = mss_split_tab_name(name, table, owner);
    if (split && !owner.empty()) {
        TK_TRACE(1, "This is a full canonized table name");
        return name;
    }
    if (!split) table = name;
    std::u16string prefix = u"[dbo].";
    if (!m_user.empty() && !m_b_as_dbo && !tk_equal_nocase(m_user, u"sa"))
        prefix = u"[" + mss_escape_bracketed(m_user) + u"].";
    std::u16string result = prefix + u"[" + mss_escape_bracketed(table) + u"]";
    TK_WTRACE(1, u"result=%s", result.c_str());
    return result;
}
