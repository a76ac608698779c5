#include "ODBC/odbc_provider.hpp"

#include "MSS/odb_com_object.hpp"
#include "MSS/odb_error_object.hpp"
#include "ODBC/odbc_catalog.hpp"
#include "ODBC/odbc_connect_string.hpp"
#include "ODBC/odbc_connection.hpp"
#include "ODBC/odbc_error.hpp"
#include "ODBC/odbc_read_ahead.hpp"
#include "ODBC/odbc_result.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <exception>
#include <new>

namespace {

constexpr const char16_t* driver_18 = u"ODBC Driver 18 for SQL Server";
constexpr const char16_t* driver_17 = u"ODBC Driver 17 for SQL Server";
constexpr const char16_t* driver_freetds = u"FreeTDS";
// A binding of a byte array the consumer owns.
constexpr DBTYPE byte_array = DBTYPE_ARRAY | DBTYPE_UI1;

// Every provider call reports its failure through the thread's error object and its result.
template <class F> HRESULT guarded(F&& call) noexcept {
    try {
        HRESULT hr = call();
        if (SUCCEEDED(hr)) odb_clear_error();
        return hr;
    } catch (const odbc_error& e) {
        return e.post();
    } catch (const std::bad_alloc&) {
        odb_post_error({{E_OUTOFMEMORY, {}, 0, u"[Tabloxa][ODBC]", u"Out of memory"}});
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        odb_post_error({{E_FAIL, {}, 0, u"[Tabloxa][ODBC]", tk_utf8_to_wstring_lossy(e.what())}});
        return E_FAIL;
    }
}

// A table's or a query's rows are read ahead on a thread of their own: reading them is about half
// the work of an export.
std::unique_ptr<odbc_result> read_ahead(std::unique_ptr<odbc_statement_result> result) {
    return std::make_unique<odbc_read_ahead>(std::move(result));
}

std::u16string bstr_text(const VARIANT& value) {
    if (value.vt != VT_BSTR || !value.bstrVal) return {};
    return std::u16string(value.bstrVal, SysStringLen(value.bstrVal));
}

// ---- Rowset ------------------------------------------------------------------------------------

class rowset final : public odb_com_object, public IRowset, public IColumnsInfo, public IAccessor {
public:
    explicit rowset(std::unique_ptr<odbc_result> result) : m_result(std::move(result)) {
        for (const odbc_column& c : m_result->columns()) m_is_bytes.push_back(c.type == DBTYPE_BYTES);
    }

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IRowset) return hand_out(static_cast<IRowset*>(this), object);
        if (riid == IID_IColumnsInfo) return hand_out(static_cast<IColumnsInfo*>(this), object);
        if (riid == IID_IAccessor) return hand_out(static_cast<IAccessor*>(this), object);
        return E_NOINTERFACE;
    }

    HRESULT GetNextRows(HCHAPTER, DBROWOFFSET offset, DBROWCOUNT count, DBCOUNTITEM* obtained,
                        HROW** handles) override {
        return guarded([&]() -> HRESULT {
            if (!obtained || !handles) return E_INVALIDARG;
            *obtained = 0;
            if (offset < 0 || count < 0) return DB_E_CANTFETCHBACKWARDS;
            for (DBROWOFFSET i = 0; i < offset; ++i) {
                if (!m_result->fetch(m_skipped)) return DB_S_ENDOFROWSET;
            }
            if (count == 0) return S_OK;
            // A row the server could not send fails the call after the rows before it.
            if (m_failure) {
                std::exception_ptr failure = std::move(m_failure);
                m_failure = nullptr;
                std::rethrow_exception(failure);
            }
            bool allocated = !*handles;
            if (allocated) *handles = static_cast<HROW*>(CoTaskMemAlloc(sizeof(HROW) * count));
            if (!*handles) return E_OUTOFMEMORY;
            DBROWCOUNT got = 0;
            try {
                while (got < count) {
                    size_t slot = free_slot();
                    if (!m_result->fetch(m_slots[slot].row)) break;
                    m_slots[slot].held = true;
                    (*handles)[got++] = slot + 1;
                }
            } catch (...) {
                if (got == 0) {
                    if (allocated) {
                        CoTaskMemFree(*handles);
                        *handles = nullptr;
                    }
                    throw;
                }
                // The rows that arrived are the caller's; the failure waits for the next call.
                m_failure = std::current_exception();
                *obtained = got;
                return S_OK;
            }
            *obtained = got;
            return got < count ? DB_S_ENDOFROWSET : S_OK;
        });
    }

    HRESULT ReleaseRows(DBCOUNTITEM count, const HROW handles[], DBROWOPTIONS[], DBREFCOUNT counts[],
                        DBROWSTATUS statuses[]) override {
        if (count && !handles) return E_INVALIDARG;
        bool bad = false;
        for (DBCOUNTITEM i = 0; i < count; ++i) {
            slot* s = find(handles[i]);
            if (s) s->held = false;
            bad |= !s;
            if (counts) counts[i] = 0;
            if (statuses) statuses[i] = s ? 0 : 1;
        }
        return bad ? DB_S_ERRORSOCCURRED : S_OK;
    }

    HRESULT RestartPosition(HCHAPTER) override {
        return guarded([&]() -> HRESULT {
            m_failure = nullptr;
            m_result->restart();
            return S_OK;
        });
    }

    HRESULT GetData(HROW handle, HACCESSOR accessor, void* data) override {
        slot* s = find(handle);
        if (!s) return DB_E_BADROWHANDLE;
        auto found = m_accessors.find(accessor);
        if (found == m_accessors.end()) return DB_E_BADACCESSORHANDLE;
        if (!data) return E_INVALIDARG;
        bool warnings = false;
        auto* base = static_cast<unsigned char*>(data);
        for (const DBBINDING& binding : found->second)
            warnings |= binding.wType == DBTYPE_BSTR || binding.wType == byte_array
                            ? !hand_over(*s, binding, base)
                            : !write_value(*s, binding, base);
        return warnings ? DB_S_ERRORSOCCURRED : S_OK;
    }

    HRESULT GetColumnInfo(DBORDINAL* count, DBCOLUMNINFO** info, OLECHAR** strings) override {
        if (!count || !info || !strings) return E_INVALIDARG;
        const std::vector<odbc_column>& columns = m_result->columns();
        size_t chars = 0;
        for (const odbc_column& c : columns) chars += c.name.size() + 1;
        auto* array = static_cast<DBCOLUMNINFO*>(CoTaskMemAlloc(sizeof(DBCOLUMNINFO) * columns.size()));
        auto* names = static_cast<OLECHAR*>(CoTaskMemAlloc(sizeof(OLECHAR) * chars));
        if (!array || !names) {
            CoTaskMemFree(array);
            CoTaskMemFree(names);
            return E_OUTOFMEMORY;
        }
        OLECHAR* name = names;
        for (size_t i = 0; i < columns.size(); ++i) {
            const odbc_column& c = columns[i];
            std::memcpy(name, c.name.data(), c.name.size() * sizeof(OLECHAR));
            name[c.name.size()] = 0;
            array[i] = DBCOLUMNINFO{name,        nullptr, i + 1,
                                    c.flags,     c.size,  c.type,
                                    c.precision, c.scale, DBID{IID_NULL, DBKIND_NAME, name}};
            name += c.name.size() + 1;
        }
        *count = columns.size();
        *info = array;
        *strings = names;
        return S_OK;
    }

    HRESULT CreateAccessor(DBACCESSORFLAGS, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH,
                           HACCESSOR* accessor, DBBINDSTATUS statuses[]) override {
        if (!accessor || (count && !bindings)) return E_INVALIDARG;
        *accessor = 0;
        bool bad = false;
        const size_t columns = m_result->columns().size();
        for (DBCOUNTITEM i = 0; i < count; ++i) {
            DBBINDSTATUS status = DBBINDSTATUS_OK;
            const DBTYPE type = bindings[i].wType & ~DBTYPE_BYREF;
            const bool number = is_value_type(type);
            const bool owned = type == DBTYPE_BSTR || type == byte_array;
            if (bindings[i].iOrdinal < 1 || bindings[i].iOrdinal > columns)
                status = DBBINDSTATUS_BADORDINAL;
            else if (type != DBTYPE_WSTR && type != DBTYPE_BYTES && !number && !owned)
                status = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            // Storage the consumer frees: a string of text, an array of bytes, never by reference.
            else if (owned && ((bindings[i].wType & DBTYPE_BYREF) ||
                               (type == byte_array) != m_is_bytes[bindings[i].iOrdinal - 1]))
                status = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            // A number is given as one, by value, only for a column of numbers.
            else if (number && ((bindings[i].wType & DBTYPE_BYREF) || !is_number_column(bindings[i].iOrdinal - 1, type)))
                status = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            // Its text would have nowhere to stay.
            else if ((bindings[i].wType & DBTYPE_BYREF) && is_number_column(bindings[i].iOrdinal - 1, DBTYPE_EMPTY))
                status = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            // A pointer can only be to the value as it is held: no hexadecimal text of bytes.
            else if ((bindings[i].wType & DBTYPE_BYREF) && (type == DBTYPE_BYTES) != m_is_bytes[bindings[i].iOrdinal - 1])
                status = DBBINDSTATUS_UNSUPPORTEDCONVERSION;
            if (statuses) statuses[i] = status;
            bad |= status != DBBINDSTATUS_OK;
        }
        if (bad) {
            odb_post_error({{DB_E_ERRORSOCCURRED,
                             {},
                             0,
                             u"[Tabloxa][ODBC]",
                             u"A binding names no column or a type other than text, bytes or the column's number"}});
            return DB_E_ERRORSOCCURRED;
        }
        *accessor = ++m_last_accessor;
        m_accessors[*accessor].assign(bindings, bindings + count);
        return S_OK;
    }

    HRESULT ReleaseAccessor(HACCESSOR accessor, DBREFCOUNT* left) override {
        if (left) *left = 0;
        return m_accessors.erase(accessor) ? S_OK : DB_E_BADACCESSORHANDLE;
    }

private:
    struct slot {
        odbc_row row;
        bool held = false;
    };

    size_t free_slot() {
        for (size_t i = 0; i < m_slots.size(); ++i)
            if (!m_slots[i].held) return i;
        m_slots.emplace_back();
        return m_slots.size() - 1;
    }

    // The types a value is given as when its column holds such values.
    static bool is_value_type(DBTYPE type) {
        return type == DBTYPE_I8 || type == DBTYPE_R8 || type == DBTYPE_R4 || type == DBTYPE_DBTIMESTAMP ||
               type == DBTYPE_NUMERIC || type == DBTYPE_CY || type == DBTYPE_DBTIME2;
    }

    static size_t value_size(DBTYPE type) {
        switch (type) {
        case DBTYPE_R4:
            return sizeof(float);
        case DBTYPE_DBTIMESTAMP:
            return sizeof(DBTIMESTAMP);
        case DBTYPE_NUMERIC:
            return sizeof(DB_NUMERIC);
        case DBTYPE_DBTIME2:
            return sizeof(DBTIME2);
        default:
            return 8;
        }
    }

    // The type a column's values are given as when the binding reads them as values, not text;
    // DBTYPE_EMPTY for the others.
    static DBTYPE value_type(odbc_column::read_kind kind) {
        switch (kind) {
        case odbc_column::integer:
            return DBTYPE_I8;
        case odbc_column::real8:
            return DBTYPE_R8;
        case odbc_column::real4:
            return DBTYPE_R4;
        case odbc_column::timestamp:
        case odbc_column::date:
            return DBTYPE_DBTIMESTAMP;
        case odbc_column::numeric:
            return DBTYPE_NUMERIC;
        case odbc_column::money:
            return DBTYPE_CY;
        case odbc_column::time:
            return DBTYPE_DBTIME2;
        default:
            return DBTYPE_EMPTY;
        }
    }

    // A column the binding reads as a number: with a type, whether a binding of it fits.
    bool is_number_column(size_t index, DBTYPE type) const {
        const DBTYPE own = value_type(m_result->columns()[index].read);
        return own != DBTYPE_EMPTY && (type == DBTYPE_EMPTY || type == own);
    }

    // A (date-)time's fraction as far as the driver's text would show it.
    static std::uint32_t shown_fraction(const odbc_value& value) {
        std::uint32_t unit = 1;
        for (int i = value.digits; i < 9; ++i) unit *= 10;
        return value.typed.stamp.fraction - value.typed.stamp.fraction % unit;
    }

    // A number binding's value: as it came, or an integer read from its text (a result held in
    // memory, such as the catalog's).
    static bool number_value(const odbc_value& value, DBTYPE type, unsigned char* out) {
        if (type == DBTYPE_I8) {
            long long whole = value.typed.whole;
            if (value.number != odbc_value::integer && !parse_integer(value.text, whole)) return false;
            std::memcpy(out, &whole, sizeof whole);
        } else if (type == DBTYPE_DBTIMESTAMP) {
            if (value.number != odbc_value::stamp && value.number != odbc_value::day) return false;
            DBTIMESTAMP stamp = value.typed.stamp;
            stamp.fraction = shown_fraction(value);
            std::memcpy(out, &stamp, sizeof stamp);
        } else if (type == DBTYPE_DBTIME2) {
            if (value.number != odbc_value::clock) return false;
            const DBTIMESTAMP& t = value.typed.stamp;
            const DBTIME2 time{t.hour, t.minute, t.second, shown_fraction(value)};
            std::memcpy(out, &time, sizeof time);
        } else if (type == DBTYPE_NUMERIC) {
            if (value.number != odbc_value::numeric) return false;
            std::memcpy(out, &value.typed.numeric, sizeof value.typed.numeric);
        } else if (type == DBTYPE_CY) {
            if (value.number != odbc_value::money) return false;
            std::memcpy(out, &value.typed.whole, sizeof value.typed.whole);
        } else if (type == DBTYPE_R8) {
            if (value.number != odbc_value::real8) return false;
            std::memcpy(out, &value.typed.real8, sizeof value.typed.real8);
        } else {
            if (value.number != odbc_value::real4) return false;
            std::memcpy(out, &value.typed.real4, sizeof value.typed.real4);
        }
        return true;
    }

    static bool parse_integer(const std::u16string& text, long long& out) {
        char narrow[24];
        if (text.empty() || text.size() > sizeof narrow) return false;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] > 0x7F) return false;
            narrow[i] = static_cast<char>(text[i]);
        }
        auto [end, ec] = std::from_chars(narrow, narrow + text.size(), out);
        return ec == std::errc() && end == narrow + text.size();
    }

    slot* find(HROW handle) {
        if (handle < 1 || handle > m_slots.size() || !m_slots[handle - 1].held) return nullptr;
        return &m_slots[handle - 1];
    }

    // A binding's status and length parts; false for a value that is cut or cannot be given.
    static bool finish(const DBBINDING& binding, unsigned char* base, DBSTATUS status, size_t length) {
        if (binding.dwPart & DBPART_STATUS) std::memcpy(base + binding.obStatus, &status, sizeof status);
        if (binding.dwPart & DBPART_LENGTH) {
            odb_bound_length bound =
                length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<odb_bound_length>(length);
            std::memcpy(base + binding.obLength, &bound, sizeof bound);
        }
        return status == DBSTATUS_S_OK || status == DBSTATUS_S_ISNULL;
    }

    // A value held in storage a consumer can own goes to it (once: the row keeps nothing of it);
    // any other value is copied into such storage.
    bool hand_over(slot& s, const DBBINDING& binding, unsigned char* base) {
        odbc_value& value = s.row[binding.iOrdinal - 1];
        DBSTATUS status = value.taken ? DBSTATUS_E_UNAVAILABLE : value.status;
        size_t length = 0;
        void* out = nullptr;
        if (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED) {
            if (binding.wType == DBTYPE_BSTR) {
                std::u16string_view text = value.wide();
                if (value.number != odbc_value::no_number) {
                    odbc_number_text(value, m_number_text);
                    text = m_number_text;
                }
                length = text.size() * sizeof(char16_t);
                if (binding.dwPart & DBPART_VALUE) {
                    BSTR held = value.held.take_text();
                    if (held)
                        value.taken = true;
                    else
                        held = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
                    if (!held) throw std::bad_alloc();
                    out = held;
                }
            } else {
                std::string_view bytes = value.raw();
                length = bytes.size();
                if (binding.dwPart & DBPART_VALUE) {
                    SAFEARRAY* held = value.held.take_bytes();
                    if (held) {
                        value.taken = true;
                    } else {
                        held = ole_byte_array(static_cast<std::uint32_t>(bytes.size()));
                        if (!held) throw std::bad_alloc();
                        if (!bytes.empty()) std::memcpy(held->pvData, bytes.data(), bytes.size());
                    }
                    out = held;
                }
            }
        }
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) length = 0;
        // Also for no value: the consumer frees what the slot holds.
        if (binding.dwPart & DBPART_VALUE) std::memcpy(base + binding.obValue, &out, sizeof out);
        return finish(binding, base, status, length);
    }

    // Writes one binding's parts; false for a value that is cut or cannot be given.
    bool write_value(const slot& s, const DBBINDING& binding, unsigned char* base) {
        const size_t index = binding.iOrdinal - 1;
        const odbc_value& value = s.row[index];
        const bool is_bytes = m_is_bytes[index];
        DBSTATUS status = value.taken ? DBSTATUS_E_UNAVAILABLE : value.status;
        size_t length = 0;
        if ((binding.wType & DBTYPE_BYREF) && (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED)) {
            // Both kinds of storage end text with a NUL.
            const void* data = is_bytes ? static_cast<const void*>(value.raw().data()) : value.wide().data();
            length = is_bytes ? value.raw().size() : value.wide().size() * sizeof(char16_t);
            if (binding.dwPart & DBPART_VALUE) std::memcpy(base + binding.obValue, &data, sizeof data);
        } else if (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED) {
            if (is_value_type(binding.wType)) {
                length = value_size(binding.wType);
                if ((binding.dwPart & DBPART_VALUE) && !number_value(value, binding.wType, base + binding.obValue))
                    status = DBSTATUS_E_CANTCONVERTVALUE;
            } else if (binding.wType == DBTYPE_WSTR) {
                std::u16string_view text = value.wide();
                if (value.number != odbc_value::no_number) {
                    odbc_number_text(value, m_number_text);
                    text = m_number_text;
                } else if (is_bytes) {
                    // Binary data read as text: hexadecimal digits, as OLE DB converts it.
                    std::string_view bytes = value.raw();
                    m_hex_narrow.resize(bytes.size() * 2 + 1);
                    tk_bin_to_hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                  m_hex_narrow.data());
                    m_hex.assign(m_hex_narrow.begin(), m_hex_narrow.end() - 1);
                    text = m_hex;
                }
                length = text.size() * sizeof(char16_t);
                if (binding.dwPart & DBPART_VALUE) {
                    size_t room = binding.cbMaxLen >= 2 ? binding.cbMaxLen / 2 - 1 : 0;
                    size_t n = std::min(text.size(), room);
                    std::memcpy(base + binding.obValue, text.data(), n * sizeof(char16_t));
                    if (binding.cbMaxLen >= 2)
                        std::memset(base + binding.obValue + n * sizeof(char16_t), 0, 2);
                    if (n < text.size()) status = DBSTATUS_S_TRUNCATED;
                }
            } else if (is_bytes) {
                std::string_view bytes = value.raw();
                length = bytes.size();
                if (binding.dwPart & DBPART_VALUE) {
                    size_t n = std::min<size_t>(length, binding.cbMaxLen);
                    std::memcpy(base + binding.obValue, bytes.data(), n);
                    if (n < length) status = DBSTATUS_S_TRUNCATED;
                }
            } else {
                status = DBSTATUS_E_CANTCONVERTVALUE;
            }
        }
        if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) length = 0;
        return finish(binding, base, status, length);
    }

    std::unique_ptr<odbc_result> m_result;
    std::exception_ptr m_failure; // raised by the next GetNextRows
    std::vector<bool> m_is_bytes;
    std::vector<slot> m_slots;
    odbc_row m_skipped;
    std::map<HACCESSOR, std::vector<DBBINDING>> m_accessors;
    HACCESSOR m_last_accessor = 0;
    std::string m_hex_narrow;
    std::u16string m_hex;
    std::u16string m_number_text;
};

HRESULT hand_out_rowset(std::unique_ptr<odbc_result> result, REFIID riid, IUnknown** out) {
    auto* object = new rowset(std::move(result));
    HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(out));
    object->Release();
    return hr;
}

// ---- Command -----------------------------------------------------------------------------------

class command final : public odb_com_object, public ICommandText {
public:
    explicit command(std::shared_ptr<odbc_pool> pool) : m_pool(std::move(pool)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_ICommand || riid == IID_ICommandText)
            return hand_out(static_cast<ICommandText*>(this), object);
        return E_NOINTERFACE;
    }

    HRESULT SetCommandText(REFGUID, LPCOLESTR text) override {
        m_text = text ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    HRESULT Execute(IUnknown* outer, REFIID riid, DBPARAMS*, DBROWCOUNT* affected, IUnknown** out) override {
        return guarded([&]() -> HRESULT {
            if (outer) return E_NOTIMPL;
            if (affected) *affected = -1;
            if (m_text.empty()) throw odbc_error(DB_E_NOCOMMAND, u"No command text was set");
            if (riid == IID_NULL || !out) {
                odbc_statement_result::execute(m_pool, m_text);
                return S_OK;
            }
            *out = nullptr;
            return hand_out_rowset(read_ahead(std::make_unique<odbc_statement_result>(m_pool, m_text)), riid,
                                   out);
        });
    }

private:
    std::shared_ptr<odbc_pool> m_pool;
    std::u16string m_text;
};

// ---- Session -----------------------------------------------------------------------------------

class session final : public odb_com_object,
                      public IOpenRowset,
                      public IDBCreateCommand,
                      public IDBSchemaRowset {
public:
    explicit session(std::shared_ptr<odbc_pool> pool) : m_pool(std::move(pool)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOpenRowset)
            return hand_out(static_cast<IOpenRowset*>(this), object);
        if (riid == IID_IDBCreateCommand) return hand_out(static_cast<IDBCreateCommand*>(this), object);
        if (riid == IID_IDBSchemaRowset) return hand_out(static_cast<IDBSchemaRowset*>(this), object);
        return E_NOINTERFACE;
    }

    HRESULT OpenRowset(IUnknown* outer, DBID* table, DBID*, REFIID riid, ULONG, DBPROPSET[],
                       IUnknown** out) override {
        return guarded([&]() -> HRESULT {
            if (outer) return E_NOTIMPL;
            if (!out) return E_INVALIDARG;
            *out = nullptr;
            if (!table || table->eKind != DBKIND_NAME || !table->pwszName || !*table->pwszName)
                throw odbc_error(DB_E_NOTABLE, u"No table name was given");
            std::u16string name = table->pwszName;
            // The logic hands over owner-qualified bracketed names; a bare name is bracketed here.
            if (name.front() != u'[') name = u"[" + tk_wstring(name).replace_all(u"]", u"]]") + u"]";
            return hand_out_rowset(
                read_ahead(std::make_unique<odbc_statement_result>(m_pool, u"SELECT * FROM " + name)), riid,
                out);
        });
    }

    HRESULT CreateCommand(IUnknown* outer, REFIID riid, IUnknown** out) override {
        if (outer) return E_NOTIMPL;
        if (!out) return E_INVALIDARG;
        auto* object = new command(m_pool);
        HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(out));
        object->Release();
        return hr;
    }

    HRESULT GetRowset(IUnknown* outer, REFGUID schema, ULONG count, const VARIANT restrictions[], REFIID riid,
                      ULONG, DBPROPSET[], IUnknown** out) override {
        return guarded([&]() -> HRESULT {
            if (outer) return E_NOTIMPL;
            if (!out) return E_INVALIDARG;
            *out = nullptr;
            std::vector<std::optional<std::u16string>> values(count);
            for (ULONG i = 0; i < count; ++i)
                if (restrictions[i].vt == VT_BSTR) values[i] = bstr_text(restrictions[i]);
            return hand_out_rowset(odbc_schema_rowset(m_pool, schema, values), riid, out);
        });
    }

private:
    std::shared_ptr<odbc_pool> m_pool;
};

// ---- Data source -------------------------------------------------------------------------------

class data_source final : public odb_com_object,
                          public IDBInitialize,
                          public IDBProperties,
                          public IDBCreateSession {
public:
    data_source(std::u16string driver, odbc_driver_kind kind, odbc_login login = {})
        : m_driver(std::move(driver)), m_kind(kind), m_login(std::move(login)) {}

    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDBInitialize)
            return hand_out(static_cast<IDBInitialize*>(this), object);
        if (riid == IID_IDBProperties) return hand_out(static_cast<IDBProperties*>(this), object);
        if (riid == IID_IDBCreateSession) return hand_out(static_cast<IDBCreateSession*>(this), object);
        return E_NOINTERFACE;
    }

    HRESULT Initialize() override {
        return guarded([&]() -> HRESULT {
            if (m_pool) return S_OK;
            TK_TRACE(1, "ODBC: connecting through driver '%s'", tk_to_utf8(m_driver).c_str());
            auto pool = std::make_shared<odbc_pool>(
                odbc_build_connect_string(m_driver, m_kind, m_login, odbc_native_options::current()),
                m_login.login_timeout);
            pool->open();
            m_pool = std::move(pool);
            return S_OK;
        });
    }

    HRESULT Uninitialize() override {
        m_pool.reset();
        return S_OK;
    }

    HRESULT SetProperties(ULONG count, DBPROPSET sets[]) override {
        return guarded([&]() -> HRESULT {
            if (count && !sets) return E_INVALIDARG;
            bool refused = false;
            for (ULONG i = 0; i < count; ++i) {
                DBPROPSET& set = sets[i];
                bool init = set.guidPropertySet == DBPROPSET_DBINIT;
                for (ULONG j = 0; j < set.cProperties; ++j) {
                    DBPROP& p = set.rgProperties[j];
                    p.dwStatus = DBPROPSTATUS_OK;
                    if (init && p.dwPropertyID == DBPROP_INIT_DATASOURCE)
                        m_login.host = bstr_text(p.vValue);
                    else if (init && p.dwPropertyID == DBPROP_AUTH_USERID)
                        m_login.user = bstr_text(p.vValue);
                    else if (init && p.dwPropertyID == DBPROP_AUTH_PASSWORD)
                        m_login.password = bstr_text(p.vValue);
                    else if (init && p.dwPropertyID == DBPROP_AUTH_INTEGRATED)
                        m_login.integrated = p.vValue.vt == VT_BSTR;
                    else if (init && p.dwPropertyID == DBPROP_INIT_CATALOG)
                        m_login.database = bstr_text(p.vValue);
                    else if (init && p.dwPropertyID == DBPROP_INIT_TIMEOUT && p.vValue.vt == VT_I4 &&
                             p.vValue.lVal >= 0)
                        m_login.login_timeout = p.vValue.lVal;
                    else {
                        // Fast load among them: ODBC has no counterpart.
                        p.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
                        refused = true;
                    }
                }
            }
            if (refused)
                throw odbc_error(DB_E_ERRORSOCCURRED, u"A property is not supported by the ODBC binding");
            return S_OK;
        });
    }

    HRESULT CreateSession(IUnknown* outer, REFIID riid, IUnknown** out) override {
        if (outer) return E_NOTIMPL;
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        if (!m_pool) {
            odb_post_error(
                {{E_UNEXPECTED, {}, 0, u"[Tabloxa][ODBC]", u"The data source is not initialized"}});
            return E_UNEXPECTED;
        }
        auto* object = new session(m_pool);
        HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(out));
        object->Release();
        return hr;
    }

private:
    std::u16string m_driver;
    odbc_driver_kind m_kind;
    odbc_login m_login;
    std::shared_ptr<odbc_pool> m_pool;
};

HRESULT hand_out_data_source(data_source* object, REFIID riid, void** out) {
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

class data_initialize final : public odb_com_object, public IDataInitialize {
public:
    ODB_COM_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDataInitialize)
            return hand_out(static_cast<IDataInitialize*>(this), object);
        return E_NOINTERFACE;
    }

    HRESULT GetDataSource(IUnknown* outer, DWORD, LPCOLESTR text, REFIID riid, IUnknown** out) override {
        return guarded([&]() -> HRESULT {
            if (outer) return E_NOTIMPL;
            if (!out) return E_INVALIDARG;
            *out = nullptr;
            odbc_login login =
                odbc_parse_oledb_string(text ? std::u16string_view(text) : std::u16string_view());
            return hand_out_data_source(
                new data_source(driver_freetds, odbc_driver_kind::freetds, std::move(login)), riid,
                reinterpret_cast<void**>(out));
        });
    }
};

// unixODBC reads its driver list once per process, so an answer holds for the process.
bool loadable(const std::u16string& driver) {
    static std::mutex lock;
    static std::map<std::u16string, bool> known;
    std::lock_guard<std::mutex> guard(lock);
    auto found = known.find(driver);
    if (found != known.end()) return found->second;
    return known[driver] = odbc_driver_loadable(driver);
}

} // namespace

std::u16string odbc_provider::driver_name(REFCLSID clsid) {
    if (clsid == CLSID_SQLNCLI11) return driver_18;
    if (clsid == CLSID_SQLNCLI10) return driver_17;
    if (clsid == CLSID_MSDAINITIALIZE) return driver_freetds;
    return {};
}

HRESULT odbc_provider::create_instance(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    std::u16string driver = driver_name(clsid);
    if (driver.empty() || !loadable(driver)) return REGDB_E_CLASSNOTREG;
    if (clsid == CLSID_MSDAINITIALIZE) {
        auto* factory = new data_initialize();
        HRESULT hr = factory->QueryInterface(riid, object);
        factory->Release();
        return hr;
    }
    return hand_out_data_source(new data_source(driver, odbc_driver_kind::microsoft), riid, object);
}

void odbc_install_provider() {
    static odbc_provider provider;
    odb_set_class_factory(&provider);
}

void odbc_provider::cancel_running() {
    odbc_cancel_all_statements();
}

void odbc_provider::allow_running() {
    odbc_allow_statements();
}
