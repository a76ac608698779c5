#include "support/odb_scripted_provider.hpp"

#include "MSS/odb_com_object.hpp"
#include "TK/tk_utils.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>

struct odb_scripted_provider::state {
    struct failure_slot {
        odb_script_failure failure;
        int calls = 0;
    };

    mutable std::mutex lock;
    std::vector<CLSID> classes;
    std::map<std::u16string, odb_script_rowset> commands;
    std::map<std::u16string, odb_script_rowset> tables;
    std::vector<std::pair<GUID, odb_script_rowset>> schemas;
    std::map<odb_script_call, failure_slot> failures;
    std::vector<IID> denied;
    std::vector<std::string> calls;
    std::vector<odb_script_property_set> property_sets;
    std::vector<std::u16string> last_restrictions;
    int live_objects = 0;
    int held_rows = 0;
    int live_accessors = 0;

    void log(std::string line) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(std::move(line));
    }
    bool is_denied(REFIID riid) const {
        std::lock_guard<std::mutex> guard(lock);
        return std::find(denied.begin(), denied.end(), riid) != denied.end();
    }
    // The scripted result of a call: S_OK, or the failure with its error object posted.
    HRESULT check(odb_script_call call) {
        odb_script_failure failure;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto it = failures.find(call);
            if (it == failures.end()) return S_OK;
            int n = it->second.calls++;
            if (n < it->second.failure.after) return S_OK;
            if (it->second.failure.once && n > it->second.failure.after) return S_OK;
            failure = it->second.failure;
        }
        post(failure);
        return failure.result;
    }
    static void post(const odb_script_failure& failure) {
        switch (failure.kind) {
        case odb_script_failure::records:
            odb_post_error(failure.error_records);
            break;
        case odb_script_failure::plain: {
            odb_error_record first =
                failure.error_records.empty() ? odb_error_record{} : failure.error_records[0];
            odb_post_error_info(first.source, first.description);
            break;
        }
        case odb_script_failure::none:
            odb_clear_error();
            break;
        }
    }
    static HRESULT refuse(HRESULT hr, const std::u16string& description) {
        odb_error_record record;
        record.result = hr;
        record.sqlstate = u"42000";
        record.source = u"Scripted provider";
        record.description = description;
        odb_post_error({record});
        return hr;
    }
};

odb_script_value odb_script_value::binary(std::string value) {
    odb_script_value v{std::u16string()};
    v.is_bytes = true;
    v.bytes = std::move(value);
    return v;
}

odb_script_value odb_script_value::with_status(DBSTATUS status) {
    odb_script_value v;
    v.status = status;
    return v;
}

namespace {

using state = odb_scripted_provider::state;
using state_ptr = std::shared_ptr<state>;

std::string utf8(const std::u16string& text) {
    return tk_to_utf8(text);
}

// Every scripted object: counted, and able to refuse any interface the script denies.
class scripted_object : public odb_com_object {
protected:
    explicit scripted_object(state_ptr s) : m_state(std::move(s)) {
        std::lock_guard<std::mutex> guard(m_state->lock);
        ++m_state->live_objects;
    }
    ~scripted_object() override {
        std::lock_guard<std::mutex> guard(m_state->lock);
        --m_state->live_objects;
    }
    // The common part of QueryInterface; `found` is the interface or null.
    template <class I> HRESULT answer(REFIID riid, I* found, void** object) {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!found || m_state->is_denied(riid)) {
            odb_clear_error();
            return E_NOINTERFACE;
        }
        odb_clear_error();
        return hand_out(found, object);
    }
    HRESULT succeed() {
        odb_clear_error();
        return S_OK;
    }

    state_ptr m_state;
};

// ---- Rowset ----------------------------------------------------------------------------------

class scripted_rowset final : public scripted_object, public IRowset, public IColumnsInfo, public IAccessor {
public:
    scripted_rowset(state_ptr s, odb_script_rowset data)
        : scripted_object(std::move(s)), m_data(std::move(data)) {}
    ~scripted_rowset() override {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->held_rows -= m_held;
        m_state->live_accessors -= static_cast<int>(m_accessors.size());
    }

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IRowset)
            return answer(riid, static_cast<IRowset*>(this), object);
        if (riid == IID_IColumnsInfo) return answer(riid, static_cast<IColumnsInfo*>(this), object);
        if (riid == IID_IAccessor) return answer(riid, static_cast<IAccessor*>(this), object);
        return answer<IUnknown>(riid, nullptr, object);
    }

    HRESULT GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo, OLECHAR** ppStringsBuffer) override {
        m_state->log("GetColumnInfo");
        *pcColumns = 0;
        *prgInfo = nullptr;
        *ppStringsBuffer = nullptr;
        if (HRESULT hr = m_state->check(odb_script_call::get_column_info); FAILED(hr)) return hr;
        const size_t n = m_data.columns.size();
        size_t chars = 0;
        for (const auto& c : m_data.columns) chars += c.name.size() + 1;
        auto* info = static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * n));
        auto* names = static_cast<OLECHAR*>(CoTaskMemAlloc(sizeof(OLECHAR) * chars));
        OLECHAR* name = names;
        for (size_t i = 0; i < n; ++i) {
            const auto& c = m_data.columns[i];
            std::memcpy(name, c.name.c_str(), sizeof(OLECHAR) * (c.name.size() + 1));
            info[i] = DBCOLUMNINFO{name,        nullptr, i + 1,
                                   c.flags,     c.size,  c.type,
                                   c.precision, c.scale, DBID{{}, DBKIND_NAME, name}};
            name += c.name.size() + 1;
        }
        *pcColumns = n;
        *prgInfo = info;
        *ppStringsBuffer = names;
        return succeed();
    }

    HRESULT CreateAccessor(DBACCESSORFLAGS flags, DBCOUNTITEM cBindings, const DBBINDING rgBindings[],
                           DBLENGTH, HACCESSOR* phAccessor, DBBINDSTATUS rgStatus[]) override {
        m_state->log("CreateAccessor");
        *phAccessor = 0;
        if (HRESULT hr = m_state->check(odb_script_call::create_accessor); FAILED(hr)) return hr;
        if (flags != DBACCESSOR_ROWDATA)
            return state::refuse(E_INVALIDARG, u"Only row accessors are scripted");
        bool bad = false;
        for (DBCOUNTITEM i = 0; i < cBindings; ++i) {
            const DBBINDING& b = rgBindings[i];
            DBBINDSTATUS st = DBBINDSTATUS_OK;
            if (b.iOrdinal < 1 || b.iOrdinal > m_data.columns.size())
                st = DBBINDSTATUS_BADORDINAL;
            else if ((b.wType & ~DBTYPE_BYREF) != DBTYPE_WSTR && (b.wType & ~DBTYPE_BYREF) != DBTYPE_BYTES)
                st = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            if (rgStatus) rgStatus[i] = st;
            bad = bad || st != DBBINDSTATUS_OK;
        }
        if (bad) return state::refuse(DB_E_ERRORSOCCURRED, u"Bad binding");
        HACCESSOR handle = ++m_next_accessor;
        m_accessors[handle] = std::vector<DBBINDING>(rgBindings, rgBindings + cBindings);
        *phAccessor = handle;
        std::lock_guard<std::mutex> guard(m_state->lock);
        ++m_state->live_accessors;
        odb_clear_error();
        return S_OK;
    }

    HRESULT ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override {
        m_state->log("ReleaseAccessor");
        if (pcRefCount) *pcRefCount = 0;
        auto it = m_accessors.find(hAccessor);
        if (it == m_accessors.end()) return state::refuse(DB_E_BADACCESSORHANDLE, u"Unknown accessor");
        if (HRESULT hr = m_state->check(odb_script_call::release_accessor); FAILED(hr)) return hr;
        m_accessors.erase(it);
        std::lock_guard<std::mutex> guard(m_state->lock);
        --m_state->live_accessors;
        odb_clear_error();
        return S_OK;
    }

    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                        HROW** prghRows) override {
        m_state->log("GetNextRows");
        *pcRowsObtained = 0;
        if (HRESULT hr = m_state->check(odb_script_call::get_next_rows); FAILED(hr)) return hr;
        if (lRowsOffset < 0 || cRows < 0) return state::refuse(DB_E_CANTFETCHBACKWARDS, u"Forward only");
        m_position = std::min(m_position + static_cast<size_t>(lRowsOffset), m_data.rows.size());
        size_t n = std::min(static_cast<size_t>(cRows), m_data.rows.size() - m_position);
        if (n > 0 && !*prghRows) *prghRows = static_cast<HROW*>(CoTaskMemAlloc(sizeof(HROW) * n));
        for (size_t i = 0; i < n; ++i) (*prghRows)[i] = m_position + i + 1;
        m_position += n;
        m_held += static_cast<int>(n);
        {
            std::lock_guard<std::mutex> guard(m_state->lock);
            m_state->held_rows += static_cast<int>(n);
        }
        *pcRowsObtained = n;
        odb_clear_error();
        return n < static_cast<size_t>(cRows) ? DB_S_ENDOFROWSET : S_OK;
    }

    HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW[], DBROWOPTIONS[], DBREFCOUNT[],
                        DBROWSTATUS[]) override {
        m_state->log("ReleaseRows");
        if (HRESULT hr = m_state->check(odb_script_call::release_rows); FAILED(hr)) return hr;
        int n = static_cast<int>(std::min<DBCOUNTITEM>(cRows, static_cast<DBCOUNTITEM>(m_held)));
        m_held -= n;
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->held_rows -= n;
        odb_clear_error();
        return S_OK;
    }

    HRESULT RestartPosition(HCHAPTER) override {
        m_state->log("RestartPosition");
        if (HRESULT hr = m_state->check(odb_script_call::restart_position); FAILED(hr)) return hr;
        m_position = 0;
        return succeed();
    }

    HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) override {
        m_state->log("GetData");
        if (HRESULT hr = m_state->check(odb_script_call::get_data); FAILED(hr)) return hr;
        auto it = m_accessors.find(hAccessor);
        if (it == m_accessors.end()) return state::refuse(DB_E_BADACCESSORHANDLE, u"Unknown accessor");
        if (hRow < 1 || hRow > m_data.rows.size()) return state::refuse(DB_E_BADROWHANDLE, u"Unknown row");
        const auto& row = m_data.rows[hRow - 1];
        auto* base = static_cast<unsigned char*>(pData);
        bool errors = false;
        for (const DBBINDING& b : it->second) {
            odb_script_value empty;
            const odb_script_value& v = b.iOrdinal - 1 < row.size() ? row[b.iOrdinal - 1] : empty;
            DBSTATUS status = v.status;
            odb_bound_length length = 0;
            if (status == DBSTATUS_S_OK && (b.wType & DBTYPE_BYREF)) {
                // The value where the script holds it; bytes and text only as themselves.
                const void* data = v.is_bytes ? static_cast<const void*>(v.bytes.c_str()) : v.text.c_str();
                if (v.is_bytes != ((b.wType & ~DBTYPE_BYREF) == DBTYPE_BYTES))
                    status = DBSTATUS_E_CANTCONVERTVALUE;
                else
                    std::memcpy(base + b.obValue, &data, sizeof data);
                length = static_cast<odb_bound_length>(v.is_bytes ? v.bytes.size() : v.text.size() * 2);
            } else if (status == DBSTATUS_S_OK) {
                if (b.wType == DBTYPE_BYTES) {
                    if (!v.is_bytes)
                        status = DBSTATUS_E_CANTCONVERTVALUE;
                    else
                        status = put(base + b.obValue, b.cbMaxLen, v.bytes.data(), v.bytes.size(), 0, length);
                } else if (v.is_bytes) {
                    std::u16string hex = to_hex(v.bytes);
                    status = put(base + b.obValue, b.cbMaxLen, hex.data(), hex.size() * 2, 2, length);
                } else {
                    status = put(base + b.obValue, b.cbMaxLen, v.text.data(), v.text.size() * 2, 2, length);
                }
            }
            errors = errors || (status != DBSTATUS_S_OK && status != DBSTATUS_S_ISNULL &&
                                status != DBSTATUS_S_TRUNCATED);
            if (b.dwPart & DBPART_STATUS) std::memcpy(base + b.obStatus, &status, sizeof status);
            if (b.dwPart & DBPART_LENGTH) std::memcpy(base + b.obLength, &length, sizeof length);
        }
        odb_clear_error();
        return errors ? DB_S_ERRORSOCCURRED : S_OK;
    }

private:
    // Copies a value of `size` bytes into a slot of `max` bytes, followed by `terminator` zero
    // bytes; a value that does not fit is cut and reported with its whole length.
    static DBSTATUS put(unsigned char* slot, DBLENGTH max, const void* value, size_t size, size_t terminator,
                        odb_bound_length& length) {
        length = static_cast<odb_bound_length>(size);
        if (size + terminator <= max) {
            std::memcpy(slot, value, size);
            std::memset(slot + size, 0, terminator);
            return DBSTATUS_S_OK;
        }
        size_t room = max >= terminator ? static_cast<size_t>(max) - terminator : 0;
        if (terminator) room -= room % terminator;
        std::memcpy(slot, value, room);
        std::memset(slot + room, 0, std::min<size_t>(terminator, static_cast<size_t>(max) - room));
        return DBSTATUS_S_TRUNCATED;
    }
    static std::u16string to_hex(const std::string& bytes) {
        static const char digits[] = "0123456789ABCDEF";
        std::u16string hex;
        hex.reserve(bytes.size() * 2);
        for (unsigned char c : bytes) {
            hex += static_cast<char16_t>(digits[c >> 4]);
            hex += static_cast<char16_t>(digits[c & 15]);
        }
        return hex;
    }

    odb_script_rowset m_data;
    size_t m_position = 0;
    int m_held = 0;
    HACCESSOR m_next_accessor = 0;
    std::map<HACCESSOR, std::vector<DBBINDING>> m_accessors;
};

HRESULT hand_rowset(const state_ptr& s, odb_script_rowset data, REFIID riid, IUnknown** out) {
    auto* rowset = new scripted_rowset(s, std::move(data));
    HRESULT hr = rowset->QueryInterface(riid, reinterpret_cast<void**>(out));
    rowset->Release();
    return hr;
}

// ---- Command ---------------------------------------------------------------------------------

class scripted_command final : public scripted_object, public ICommandText {
public:
    explicit scripted_command(state_ptr s) : scripted_object(std::move(s)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_ICommand || riid == IID_ICommandText)
            return answer(riid, static_cast<ICommandText*>(this), object);
        return answer<IUnknown>(riid, nullptr, object);
    }
    HRESULT SetCommandText(REFGUID dialect, LPCOLESTR text) override {
        m_state->log("SetCommandText " + utf8(text ? text : u""));
        if (HRESULT hr = m_state->check(odb_script_call::set_command_text); FAILED(hr)) return hr;
        if (!(dialect == DBGUID_DBSQL)) return state::refuse(DB_E_NOTSUPPORTED, u"Unknown dialect");
        m_text = text ? text : u"";
        m_has_text = true;
        return succeed();
    }
    HRESULT Execute(IUnknown* outer, REFIID riid, DBPARAMS*, DBROWCOUNT* affected,
                    IUnknown** rowset) override {
        m_state->log("Execute");
        if (affected) *affected = -1;
        if (rowset) *rowset = nullptr;
        if (HRESULT hr = m_state->check(odb_script_call::execute); FAILED(hr)) return hr;
        if (outer) return E_NOTIMPL;
        if (!m_has_text) return state::refuse(DB_E_NOCOMMAND, u"No command text");
        odb_script_rowset result;
        {
            std::lock_guard<std::mutex> guard(m_state->lock);
            auto it = m_state->commands.find(m_text);
            if (it == m_state->commands.end()) {
                odb_error_record record{DB_E_ERRORSINCOMMAND, u"42000", 2812, u"Scripted provider",
                                        u"Could not run '" + m_text + u"'."};
                odb_post_error({record});
                return DB_E_ERRORSINCOMMAND;
            }
            result = it->second;
        }
        if (riid == IID_NULL || !rowset) return succeed();
        return hand_rowset(m_state, std::move(result), riid, rowset);
    }

private:
    std::u16string m_text;
    bool m_has_text = false;
};

// ---- Session ---------------------------------------------------------------------------------

class scripted_session final : public scripted_object,
                               public IOpenRowset,
                               public IDBCreateCommand,
                               public IDBSchemaRowset {
public:
    explicit scripted_session(state_ptr s) : scripted_object(std::move(s)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IOpenRowset)
            return answer(riid, static_cast<IOpenRowset*>(this), object);
        if (riid == IID_IDBCreateCommand) return answer(riid, static_cast<IDBCreateCommand*>(this), object);
        if (riid == IID_IDBSchemaRowset) return answer(riid, static_cast<IDBSchemaRowset*>(this), object);
        return answer<IUnknown>(riid, nullptr, object);
    }

    HRESULT OpenRowset(IUnknown*, DBID* pTableID, DBID*, REFIID riid, ULONG, DBPROPSET[],
                       IUnknown** ppRowset) override {
        std::u16string name = pTableID && pTableID->pwszName ? pTableID->pwszName : u"";
        m_state->log("OpenRowset " + utf8(name));
        *ppRowset = nullptr;
        if (HRESULT hr = m_state->check(odb_script_call::open_rowset); FAILED(hr)) return hr;
        odb_script_rowset data;
        {
            std::lock_guard<std::mutex> guard(m_state->lock);
            auto it = m_state->tables.find(name);
            if (it == m_state->tables.end()) {
                odb_error_record record{DB_E_NOTABLE, u"42S02", 208, u"Scripted provider",
                                        u"Invalid object name '" + name + u"'."};
                odb_post_error({record});
                return DB_E_NOTABLE;
            }
            data = it->second;
        }
        return hand_rowset(m_state, std::move(data), riid, ppRowset);
    }

    HRESULT CreateCommand(IUnknown* outer, REFIID riid, IUnknown** ppCommand) override {
        m_state->log("CreateCommand");
        *ppCommand = nullptr;
        if (HRESULT hr = m_state->check(odb_script_call::create_command); FAILED(hr)) return hr;
        if (outer) return E_NOTIMPL;
        auto* command = new scripted_command(m_state);
        HRESULT hr = command->QueryInterface(riid, reinterpret_cast<void**>(ppCommand));
        command->Release();
        return hr;
    }

    HRESULT GetRowset(IUnknown*, REFGUID schema, ULONG cRestrictions, const VARIANT rgRestrictions[],
                      REFIID riid, ULONG, DBPROPSET[], IUnknown** ppRowset) override {
        m_state->log("GetRowset " + schema_name(schema));
        *ppRowset = nullptr;
        std::vector<std::u16string> restrictions;
        for (ULONG i = 0; i < cRestrictions; ++i) {
            const VARIANT& v = rgRestrictions[i];
            restrictions.push_back(v.vt == VT_BSTR && v.bstrVal
                                       ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal))
                                       : std::u16string());
        }
        odb_script_rowset data;
        {
            std::lock_guard<std::mutex> guard(m_state->lock);
            m_state->last_restrictions = restrictions;
            for (const auto& [id, rowset] : m_state->schemas)
                if (id == schema) data = rowset;
        }
        if (HRESULT hr = m_state->check(odb_script_call::get_schema_rowset); FAILED(hr)) return hr;
        // Keep only the rows that match every restriction given.
        const std::vector<int> columns = restriction_columns(schema);
        for (size_t r = 0; r < restrictions.size() && r < columns.size(); ++r) {
            if (restrictions[r].empty() || rgRestrictions[r].vt != VT_BSTR) continue;
            size_t c = static_cast<size_t>(columns[r]);
            std::erase_if(data.rows, [&](const std::vector<odb_script_value>& row) {
                return c >= row.size() || row[c].status != DBSTATUS_S_OK || row[c].text != restrictions[r];
            });
        }
        return hand_rowset(m_state, std::move(data), riid, ppRowset);
    }

private:
    static std::string schema_name(REFGUID schema) {
        if (schema == DBSCHEMA_CATALOGS) return "CATALOGS";
        if (schema == DBSCHEMA_TABLES) return "TABLES";
        if (schema == DBSCHEMA_PRIMARY_KEYS) return "PRIMARY_KEYS";
        if (schema == DBSCHEMA_FOREIGN_KEYS) return "FOREIGN_KEYS";
        if (schema == DBSCHEMA_INDEXES) return "INDEXES";
        return "?";
    }
    // The column each restriction matches, by the schema rowsets' published layouts.
    static std::vector<int> restriction_columns(REFGUID schema) {
        if (schema == DBSCHEMA_CATALOGS) return {0};
        if (schema == DBSCHEMA_TABLES) return {0, 1, 2, 3};
        if (schema == DBSCHEMA_PRIMARY_KEYS) return {0, 1, 2};
        if (schema == DBSCHEMA_FOREIGN_KEYS) return {0, 1, 2, 6, 7, 8};
        if (schema == DBSCHEMA_INDEXES) return {0, 1, 5, 9, 2};
        return {};
    }
};

// ---- Data source -----------------------------------------------------------------------------

class scripted_data_source final : public scripted_object,
                                   public IDBInitialize,
                                   public IDBProperties,
                                   public IDBCreateSession {
public:
    explicit scripted_data_source(state_ptr s) : scripted_object(std::move(s)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDBInitialize)
            return answer(riid, static_cast<IDBInitialize*>(this), object);
        if (riid == IID_IDBProperties) return answer(riid, static_cast<IDBProperties*>(this), object);
        if (riid == IID_IDBCreateSession) return answer(riid, static_cast<IDBCreateSession*>(this), object);
        return answer<IUnknown>(riid, nullptr, object);
    }

    HRESULT Initialize() override {
        m_state->log("Initialize");
        if (HRESULT hr = m_state->check(odb_script_call::initialize); FAILED(hr)) return hr;
        m_initialized = true;
        return succeed();
    }
    HRESULT Uninitialize() override {
        m_initialized = false;
        return succeed();
    }

    HRESULT SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) override {
        m_state->log("SetProperties");
        std::vector<odb_script_property_set> sets;
        bool init_set = false;
        for (ULONG s = 0; s < cPropertySets; ++s) {
            odb_script_property_set set;
            set.set = rgPropertySets[s].guidPropertySet;
            init_set = init_set || set.set == DBPROPSET_DBINIT;
            for (ULONG p = 0; p < rgPropertySets[s].cProperties; ++p) {
                const DBPROP& prop = rgPropertySets[s].rgProperties[p];
                odb_script_property recorded;
                recorded.id = prop.dwPropertyID;
                recorded.options = prop.dwOptions;
                recorded.null_column = prop.colid.eKind == DB_NULLID.eKind &&
                                       prop.colid.pwszName == nullptr && prop.colid.uGuid == DB_NULLID.uGuid;
                recorded.vt = prop.vValue.vt;
                if (prop.vValue.vt == VT_BSTR && prop.vValue.bstrVal)
                    recorded.text.assign(prop.vValue.bstrVal, SysStringLen(prop.vValue.bstrVal));
                if (prop.vValue.vt == VT_BOOL) recorded.flag = prop.vValue.boolVal != VARIANT_FALSE;
                set.properties.push_back(std::move(recorded));
            }
            sets.push_back(std::move(set));
        }
        {
            std::lock_guard<std::mutex> guard(m_state->lock);
            for (auto& set : sets) m_state->property_sets.push_back(std::move(set));
        }
        HRESULT hr = m_state->check(init_set ? odb_script_call::set_properties
                                             : odb_script_call::set_provider_properties);
        if (FAILED(hr)) return hr;
        return succeed();
    }

    HRESULT CreateSession(IUnknown* outer, REFIID riid, IUnknown** ppDBSession) override {
        m_state->log("CreateSession");
        *ppDBSession = nullptr;
        if (HRESULT hr = m_state->check(odb_script_call::create_session); FAILED(hr)) return hr;
        if (outer) return E_NOTIMPL;
        if (!m_initialized) return state::refuse(E_UNEXPECTED, u"Data source not initialized");
        auto* session = new scripted_session(m_state);
        HRESULT hr = session->QueryInterface(riid, reinterpret_cast<void**>(ppDBSession));
        session->Release();
        return hr;
    }

private:
    bool m_initialized = false;
};

class scripted_service final : public scripted_object, public IDataInitialize {
public:
    explicit scripted_service(state_ptr s) : scripted_object(std::move(s)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDataInitialize)
            return answer(riid, static_cast<IDataInitialize*>(this), object);
        return answer<IUnknown>(riid, nullptr, object);
    }
    HRESULT GetDataSource(IUnknown* outer, DWORD, LPCOLESTR text, REFIID riid,
                          IUnknown** ppDataSource) override {
        m_state->log("GetDataSource " + utf8(text ? text : u""));
        *ppDataSource = nullptr;
        if (HRESULT hr = m_state->check(odb_script_call::get_data_source); FAILED(hr)) return hr;
        if (outer) return E_NOTIMPL;
        auto* source = new scripted_data_source(m_state);
        HRESULT hr = source->QueryInterface(riid, reinterpret_cast<void**>(ppDataSource));
        source->Release();
        return hr;
    }
};

std::string class_name(REFCLSID clsid) {
    if (clsid == CLSID_SQLNCLI11) return "SQLNCLI11";
    if (clsid == CLSID_SQLNCLI10) return "SQLNCLI10";
    if (clsid == CLSID_MSDAINITIALIZE) return "MSDAINITIALIZE";
    return "?";
}

} // namespace

// ---- The provider ----------------------------------------------------------------------------

odb_scripted_provider::odb_scripted_provider()
    : m_state(std::make_shared<state>()), m_previous(odb_set_class_factory(this)) {}

odb_scripted_provider::~odb_scripted_provider() {
    odb_set_class_factory(m_previous);
}

void odb_scripted_provider::add_class(const CLSID& clsid) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->classes.push_back(clsid);
}

void odb_scripted_provider::add_command(const std::u16string& text, odb_script_rowset rowset) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->commands[text] = std::move(rowset);
}

void odb_scripted_provider::add_table(const std::u16string& name, odb_script_rowset rowset) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->tables[name] = std::move(rowset);
}

void odb_scripted_provider::add_schema(const GUID& schema, odb_script_rowset rowset) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->schemas.emplace_back(schema, std::move(rowset));
}

void odb_scripted_provider::fail(odb_script_call call, odb_script_failure failure) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->failures[call] = state::failure_slot{std::move(failure), 0};
}

void odb_scripted_provider::deny_interface(const IID& iid) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->denied.push_back(iid);
}

std::vector<std::string> odb_scripted_provider::calls() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->calls;
}

void odb_scripted_provider::clear_calls() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->calls.clear();
    m_state->property_sets.clear();
}

std::vector<odb_script_property_set> odb_scripted_provider::property_sets() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->property_sets;
}

std::vector<std::u16string> odb_scripted_provider::last_restrictions() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->last_restrictions;
}

int odb_scripted_provider::live_objects() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->live_objects;
}

int odb_scripted_provider::held_rows() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->held_rows;
}

int odb_scripted_provider::live_accessors() const {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->live_accessors;
}

HRESULT odb_scripted_provider::create_instance(REFCLSID clsid, REFIID riid, void** object) {
    m_state->log("CoCreateInstance " + class_name(clsid));
    *object = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (std::find(m_state->classes.begin(), m_state->classes.end(), clsid) == m_state->classes.end())
            return REGDB_E_CLASSNOTREG;
    }
    if (clsid == CLSID_MSDAINITIALIZE) {
        auto* service = new scripted_service(m_state);
        HRESULT hr = service->QueryInterface(riid, object);
        service->Release();
        return hr;
    }
    auto* source = new scripted_data_source(m_state);
    HRESULT hr = source->QueryInterface(riid, object);
    source->Release();
    return hr;
}
