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

// Numbers and dates are asked for as such: their text would only be parsed back. Integers of
// every size and bit come as 64-bit integers, a float as a double, a real as a float, a date-time
// and a date as a timestamp, a decimal as a numeric structure, money as currency.
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
    default:
        return DBTYPE_EMPTY;
    }
}

bool is_number_binding(const DBBINDING& b) {
    return b.wType == DBTYPE_I8 || b.wType == DBTYPE_R8 || b.wType == DBTYPE_R4 || b.wType == DBTYPE_DBTIMESTAMP ||
           b.wType == DBTYPE_NUMERIC || b.wType == DBTYPE_CY;
}

// The slot of a number, kept even like every slot.
DBLENGTH number_size(DBTYPE type) {
    switch (type) {
    case DBTYPE_DBTIMESTAMP:
        return sizeof(DBTIMESTAMP);
    case DBTYPE_NUMERIC:
        return sizeof(DB_NUMERIC) + 1;
    default:
        return 8;
    }
}
} // namespace

odb_accessor::~odb_accessor() {
    release_accessor();
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
        // A long column's values stay where the provider read them: a slot of their size here
        // would be one more copy of each.
        if ((info[i].dwFlags & DBCOLUMNFLAGS_ISLONG) &&
            (info[i].wType == DBTYPE_BYTES || info[i].wType == DBTYPE_WSTR || info[i].wType == DBTYPE_STR)) {
            b.wType |= DBTYPE_BYREF;
            b.dwMemOwner = DBMEMOWNER_PROVIDEROWNED;
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
    const bool numbers = std::any_of(m_bindings.begin(), m_bindings.end(), is_number_binding);
    if (!numbers) return create_accessor(rowset);
    // A provider that gives some numbers only as text gets text bindings for those it refused,
    // then, if it still refuses, for all.
    for (bool all : {false, true}) {
        if (SUCCEEDED(m_accessor->CreateAccessor(DBACCESSOR_ROWDATA, m_columns, m_bindings.data(), 0, &m_handle,
                                                 m_status.data())))
            return;
        m_handle = 0;
        odb_clear_error();
        bool changed = false;
        for (DBORDINAL i = 0; i < columns; ++i) {
            DBBINDING& b = m_bindings[i];
            if (!is_number_binding(b) || (!all && m_status[i] != DBBINDSTATUS_UNSUPPORTEDCONVERSION)) continue;
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
    m_row_filled = false;
    odb_check(rowset->GetData(row, m_handle, m_row.get()));
    m_row_filled = true;
    // A value longer than its slot comes back cut with its whole length: give the column a slot
    // that holds it and read the row again, so that no value is lost to the slot size.
    for (int round = 0; round < max_regrowths; ++round) {
        bool grown = false;
        for (DBBINDING& b : m_bindings) {
            DBSTATUS status;
            std::memcpy(&status, m_row.get() + b.obStatus, sizeof status);
            if (status != DBSTATUS_S_TRUNCATED) continue;
            odb_bound_length length;
            std::memcpy(&length, m_row.get() + b.obLength, sizeof length);
            DBLENGTH needed = DBLENGTH(length) + (b.wType == DBTYPE_WSTR ? 2 : 0);
            if (needed <= b.cbMaxLen) continue;
            TK_TRACE(1, "Column #%d grows to %llu bytes", static_cast<int>(b.iOrdinal - 1),
                     static_cast<unsigned long long>(grown_size(needed, b.cbMaxLen)));
            b.cbMaxLen = grown_size(needed, b.cbMaxLen);
            grown = true;
        }
        if (!grown) return;
        release_accessor();
        layout();
        create_accessor(rowset);
        odb_check(rowset->GetData(row, m_handle, m_row.get()));
        m_row_filled = true;
    }
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
