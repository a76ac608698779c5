#include "MSS/odb_accessor.hpp"

#include "MSS/odb_error_object.hpp"
#include "MSS/odb_exception.hpp"
#include "TK/tk_log.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace {
// Sums that saturate: an unbounded column reports the largest size there is.
DBLENGTH add_capped(DBLENGTH a, DBLENGTH b) {
    return a > ~DBLENGTH(0) - b ? ~DBLENGTH(0) : a + b;
}
DBLENGTH twice_capped(DBLENGTH a) {
    return a > ~DBLENGTH(0) / 2 ? ~DBLENGTH(0) : a * 2;
}

// A slot grown for a long value: large enough for all of it and its terminator, kept even so that
// the wide text of the next slots stays on two-byte boundaries. Small slots at least double, so
// that values growing a little row after row do not re-read every row.
DBLENGTH grown_size(DBLENGTH needed, DBLENGTH old) {
    if (needed < odb_accessor::shrink_above) needed = std::max(needed, std::min(2 * old, odb_accessor::shrink_above));
    return needed + (needed & 1);
}

// The cap on re-reading one row for values that outgrew their slots.
constexpr int max_regrowths = 4;

constexpr DBTYPE byte_array = DBTYPE_ARRAY | DBTYPE_UI1;

// A slot holding a string or an array that we free unless a record took it.
bool is_owned(const DBBINDING& b) {
    return b.wType == DBTYPE_BSTR || b.wType == byte_array;
}

// The bytes of a slot that hold its row's value: what a re-read of other columns must keep.
size_t used_value(const DBBINDING& b, const unsigned char* row) {
    DBSTATUS status;
    std::memcpy(&status, row + b.obStatus, sizeof status);
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) return 0;
    odb_bound_length length;
    std::memcpy(&length, row + b.obLength, sizeof length);
    if (b.wType == DBTYPE_WSTR) return std::min<DBLENGTH>(DBLENGTH(length) + 2, b.cbMaxLen);
    if (b.wType == DBTYPE_BYTES) return std::min<DBLENGTH>(length, b.cbMaxLen);
    return b.cbMaxLen;
}

// Numbers and dates are asked for as such: their text would only be parsed back. Integers of
// every size and bit come as 64-bit integers, a float as a double, a real as a float, a date-time
// and a date as a timestamp, a time as a time, a decimal as a numeric structure, money as currency.
DBTYPE number_binding(DBTYPE column) {
    switch (column) {
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_I8:
    case DBTYPE_UI1:
    case DBTYPE_BOOL:
        return DBTYPE_I8;
    case DBTYPE_R8:
        return DBTYPE_R8;
    case DBTYPE_R4:
        return DBTYPE_R4;
    case DBTYPE_DBTIMESTAMP:
    case DBTYPE_DBDATE:
        return DBTYPE_DBTIMESTAMP;
    case DBTYPE_NUMERIC:
        return DBTYPE_NUMERIC;
    case DBTYPE_CY:
        return DBTYPE_CY;
    case DBTYPE_DBTIME2:
        return DBTYPE_DBTIME2;
    default:
        return DBTYPE_EMPTY;
    }
}

bool is_number_binding(const DBBINDING& b) {
    return b.wType == DBTYPE_I8 || b.wType == DBTYPE_R8 || b.wType == DBTYPE_R4 || b.wType == DBTYPE_DBTIMESTAMP ||
           b.wType == DBTYPE_NUMERIC || b.wType == DBTYPE_CY || b.wType == DBTYPE_DBTIME2;
}

// The slot of a number, kept even like every slot.
DBLENGTH number_size(DBTYPE type) {
    switch (type) {
    case DBTYPE_DBTIMESTAMP:
        return sizeof(DBTIMESTAMP);
    case DBTYPE_NUMERIC:
        return sizeof(DB_NUMERIC) + 1;
    case DBTYPE_DBTIME2:
        return sizeof(DBTIME2);
    default:
        return 8;
    }
}
} // namespace

odb_accessor::~odb_accessor() {
    drop_values();
    release_accessor();
}

void odb_accessor::drop_values() noexcept {
    if (!m_row) return;
    for (const DBBINDING& b : m_bindings) {
        if (!is_owned(b)) continue;
        void* value = nullptr;
        std::memcpy(&value, m_row.get() + b.obValue, sizeof value);
        if (!value) continue;
        if (b.wType == DBTYPE_BSTR)
            SysFreeString(static_cast<BSTR>(value));
        else
            SafeArrayDestroy(static_cast<SAFEARRAY*>(value));
        value = nullptr;
        std::memcpy(m_row.get() + b.obValue, &value, sizeof value);
    }
}

DBLENGTH odb_accessor::get_bind_size(DBORDINAL column) const {
    TK_TRACE(1, "odb_accessor::get_bind_size(%d)", static_cast<int>(column));
    const DBCOLUMNINFO& info = m_info[column];
    switch (info.wType) {
    case DBTYPE_EMPTY:
    case DBTYPE_NULL:
    case DBTYPE_I2:
    case DBTYPE_I4:
    case DBTYPE_R4:
    case DBTYPE_R8:
    case DBTYPE_CY:
    case DBTYPE_ERROR:
    case DBTYPE_BOOL:
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_UI2:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
        return 52;
    case DBTYPE_DATE:
    case DBTYPE_DECIMAL:
    case DBTYPE_GUID:
    case DBTYPE_NUMERIC:
    case DBTYPE_DBDATE:
    case DBTYPE_DBTIMESTAMP:
        return 102;
    case DBTYPE_BSTR:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
        return std::min(twice_capped(add_capped(info.ulColumnSize, 1)), start_bind_size);
    case DBTYPE_BYTES:
        return std::min(add_capped(info.ulColumnSize, 1), start_bind_size);
    default:
        // Read as text: room for the text of a value of that many bytes.
        return info.ulColumnSize
                   ? std::min(std::max<DBLENGTH>(128, twice_capped(add_capped(info.ulColumnSize, 1))), start_bind_size)
                   : start_bind_size;
    }
}

void odb_accessor::bind(IRowset* rowset, DBORDINAL columns, const DBCOLUMNINFO* info) {
    TK_TRACE(2, "odb_accessor::bind");
    TK_ASSERT(info != nullptr || columns == 0, "odb_accessor.cpp");
    TK_ASSERT(rowset != nullptr, "odb_accessor.cpp");
    release_accessor();
    drop_values();
    m_columns = columns;
    m_info = info;
    m_bindings.assign(columns, DBBINDING{});
    for (DBORDINAL i = 0; i < columns; ++i) {
        DBBINDING& b = m_bindings[i];
        b.iOrdinal = i + 1;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = get_bind_size(i);
        b.cbMaxLen += b.cbMaxLen & 1;
        b.wType = info[i].wType == DBTYPE_BYTES ? DBTYPE_BYTES : DBTYPE_WSTR;
        // A long column's values are taken over from the provider as a string or an array that
        // the record keeps: a slot of their size, or a copy in the record, would double them.
        if ((info[i].dwFlags & DBCOLUMNFLAGS_ISLONG) &&
            (info[i].wType == DBTYPE_BYTES || info[i].wType == DBTYPE_WSTR || info[i].wType == DBTYPE_STR)) {
            b.wType = info[i].wType == DBTYPE_BYTES ? byte_array : DBTYPE(DBTYPE_BSTR);
            b.cbMaxLen = sizeof(void*);
        }
        if (DBTYPE number = number_binding(info[i].wType)) {
            b.wType = number;
            b.cbMaxLen = number_size(number);
        }
        b.bPrecision = info[i].bPrecision;
        b.bScale = info[i].bScale;
        TK_TRACE(2, "Bind column #%d, type=%d, size=%d", static_cast<int>(i), info[i].wType,
                 static_cast<int>(b.cbMaxLen));
    }
    layout();
    TK_TRACE(2, "Allocating bind-bufer, %d bytes", static_cast<int>(m_row_size));
    m_status.assign(columns, DBBINDSTATUS_OK);
    odb_check(rowset->QueryInterface(IID_IAccessor, m_accessor.put_void()));
    const bool refusable = std::any_of(m_bindings.begin(), m_bindings.end(),
                                       [](const DBBINDING& b) { return is_number_binding(b) || is_owned(b); });
    if (!refusable) return create_accessor(rowset);
    // A provider that gives some numbers only as text gets text bindings for those it refused,
    // then, if it still refuses, for all; one that keeps long values gets bindings by reference
    // to its copy of them.
    for (bool all : {false, true}) {
        if (SUCCEEDED(m_accessor->CreateAccessor(DBACCESSOR_ROWDATA, m_columns, m_bindings.data(), 0, &m_handle,
                                                 m_status.data())))
            return;
        m_handle = 0;
        odb_clear_error();
        bool changed = false;
        for (DBORDINAL i = 0; i < columns; ++i) {
            DBBINDING& b = m_bindings[i];
            if (!all && m_status[i] != DBBINDSTATUS_UNSUPPORTEDCONVERSION) continue;
            if (is_owned(b)) {
                b.wType = (b.wType == byte_array ? DBTYPE(DBTYPE_BYTES) : DBTYPE(DBTYPE_WSTR)) | DBTYPE_BYREF;
                b.dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
                changed = true;
                continue;
            }
            if (!is_number_binding(b)) continue;
            b.wType = DBTYPE_WSTR;
            b.cbMaxLen = get_bind_size(i);
            b.cbMaxLen += b.cbMaxLen & 1;
            changed = true;
            TK_TRACE(2, "Bind column #%d, type=%d, size=%d", static_cast<int>(i), m_info[i].wType,
                     static_cast<int>(b.cbMaxLen));
        }
        m_status.assign(columns, DBBINDSTATUS_OK);
        if (!changed) continue;
        layout();
        TK_TRACE(2, "Allocating bind-bufer, %d bytes", static_cast<int>(m_row_size));
    }
    create_accessor(rowset);
}

// Status, length, then the value of each column, one after the other.
void odb_accessor::layout() {
    drop_values();
    DBBYTEOFFSET offset = 0;
    for (DBBINDING& b : m_bindings) {
        b.obStatus = offset;
        b.obLength = offset + 4;
        b.obValue = offset + 8;
        offset += b.cbMaxLen + 8;
    }
    // The old buffer goes first, so that a grown slot never costs its old and new size at once.
    m_row.reset();
    m_row_size = 0;
    m_row_filled = false;
    try {
        m_row = std::make_unique_for_overwrite<unsigned char[]>(offset);
    } catch (const std::bad_alloc&) {
        TK_ASSERT(false, "odb_accessor.cpp");
    }
    m_row_size = offset;
    // Owned slots are freed when they hold something: they start with nothing.
    void* none = nullptr;
    for (const DBBINDING& b : m_bindings)
        if (is_owned(b)) std::memcpy(m_row.get() + b.obValue, &none, sizeof none);
}

bool odb_accessor::shrink() {
    if (!m_row_filled) return false;
    bool shrunk = false;
    for (DBBINDING& b : m_bindings) {
        if (b.cbMaxLen <= shrink_above) continue;
        DBSTATUS status;
        std::memcpy(&status, m_row.get() + b.obStatus, sizeof status);
        odb_bound_length length = 0;
        if (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED)
            std::memcpy(&length, m_row.get() + b.obLength, sizeof length);
        DBLENGTH needed = DBLENGTH(length) + 2;
        if (needed > b.cbMaxLen / 4) continue;
        b.cbMaxLen = std::max<DBLENGTH>(grown_size(needed, 0), start_bind_size);
        shrunk = true;
    }
    return shrunk;
}

void odb_accessor::create_accessor(IRowset*) {
    odb_check(m_accessor->CreateAccessor(DBACCESSOR_ROWDATA, m_columns, m_bindings.data(), 0, &m_handle,
                                         m_status.data()));
}

void odb_accessor::release_accessor() {
    if (m_handle && m_accessor) m_accessor->ReleaseAccessor(m_handle, nullptr);
    m_handle = 0;
}

void odb_accessor::fetch(IRowset* rowset, HROW row) {
    TK_ASSERT(m_handle != 0, "odb_accessor.cpp");
    drop_values();
    m_row_filled = false;
    odb_check(rowset->GetData(row, m_handle, m_row.get()));
    m_row_filled = true;
    // A value longer than its slot comes back cut with its whole length: give the column a slot
    // that holds it and read it again, so that no value is lost to the slot size.
    for (int round = 0; round < max_regrowths; ++round) {
        std::vector<size_t> grown;
        for (DBBINDING& b : m_bindings) {
            // Only a slot that holds the value itself can be too small for it.
            if (b.wType != DBTYPE_WSTR && b.wType != DBTYPE_BYTES) continue;
            DBSTATUS status;
            std::memcpy(&status, m_row.get() + b.obStatus, sizeof status);
            if (status != DBSTATUS_S_TRUNCATED) continue;
            odb_bound_length length;
            std::memcpy(&length, m_row.get() + b.obLength, sizeof length);
            DBLENGTH needed = DBLENGTH(length) + (b.wType == DBTYPE_WSTR ? 2 : 0);
            if (needed <= b.cbMaxLen) continue;
            TK_TRACE(1, "Column #%d grows to %llu bytes", static_cast<int>(b.iOrdinal - 1),
                     static_cast<unsigned long long>(grown_size(needed, b.cbMaxLen)));
            grown.push_back(&b - m_bindings.data());
        }
        if (grown.empty()) return;
        reread(rowset, row, grown);
    }
}

// Only the grown columns are read again: the values of the others may have been handed over by
// the first read, and a second one would have nothing to give.
void odb_accessor::reread(IRowset* rowset, HROW row, const std::vector<size_t>& grown) {
    // The slots of the other columns, while the buffer is laid out anew. The old buffer still goes
    // first, so only the values are held twice, not the slots.
    std::vector<bool> is_grown(m_bindings.size());
    for (size_t i : grown) is_grown[i] = true;
    std::vector<unsigned char> kept;
    std::vector<size_t> kept_at(m_bindings.size() + 1);
    for (size_t i = 0; i < m_bindings.size(); ++i) {
        kept_at[i] = kept.size();
        if (is_grown[i]) continue;
        const DBBINDING& b = m_bindings[i];
        const unsigned char* slot = m_row.get() + b.obStatus;
        kept.insert(kept.end(), slot, slot + 8 + used_value(b, m_row.get()));
    }
    kept_at[m_bindings.size()] = kept.size();
    // What the owned slots hold now belongs to `kept`, until it is back in the buffer.
    void* none = nullptr;
    for (const DBBINDING& b : m_bindings)
        if (is_owned(b)) std::memcpy(m_row.get() + b.obValue, &none, sizeof none);
    for (size_t i : grown) {
        DBBINDING& b = m_bindings[i];
        odb_bound_length length;
        std::memcpy(&length, m_row.get() + b.obLength, sizeof length);
        DBLENGTH needed = DBLENGTH(length) + (b.wType == DBTYPE_WSTR ? 2 : 0);
        b.cbMaxLen = grown_size(needed, b.cbMaxLen);
    }
    release_accessor();
    try {
        layout();
    } catch (...) {
        for (size_t i = 0; i < m_bindings.size(); ++i) {
            if (is_grown[i] || !is_owned(m_bindings[i])) continue;
            void* value;
            std::memcpy(&value, kept.data() + kept_at[i] + 8, sizeof value);
            if (m_bindings[i].wType == DBTYPE_BSTR)
                SysFreeString(static_cast<BSTR>(value));
            else
                SafeArrayDestroy(static_cast<SAFEARRAY*>(value));
        }
        throw;
    }
    for (size_t i = 0; i < m_bindings.size(); ++i)
        if (!is_grown[i])
            std::memcpy(m_row.get() + m_bindings[i].obStatus, kept.data() + kept_at[i],
                        kept_at[i + 1] - kept_at[i]);
    m_row_filled = true;
    create_accessor(rowset);
    std::vector<DBBINDING> some;
    for (size_t i : grown) some.push_back(m_bindings[i]);
    HACCESSOR handle = 0;
    odb_check(m_accessor->CreateAccessor(DBACCESSOR_ROWDATA, some.size(), some.data(), 0, &handle, nullptr));
    HRESULT hr = rowset->GetData(row, handle, m_row.get());
    m_accessor->ReleaseAccessor(handle, nullptr);
    odb_check(hr);
}

// Once the record holds the row's values, slots much larger than them are given back.
void odb_accessor::release_room(IRowset* rowset) {
    if (!shrink()) return;
    TK_TRACE(1, "Slots shrink to the values that come");
    release_accessor();
    layout();
    create_accessor(rowset);
}

std::unique_ptr<odb_record> odb_accessor::get_record(IRowset* rowset, HROW row) {
    TK_TRACE(1, "odb_accessor::get_record");
    fetch(rowset, row);
    auto record = std::make_unique<odb_record>(m_columns, m_row.get(), m_info, m_bindings.data());
    release_room(rowset);
    return record;
}

void odb_accessor::get_record(IRowset* rowset, HROW row, odb_record& record) {
    TK_TRACE(1, "odb_accessor::get_record");
    fetch(rowset, row);
    record.assign(m_columns, m_row.get(), m_info, m_bindings.data());
    release_room(rowset);
}
