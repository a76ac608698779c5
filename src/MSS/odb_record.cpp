#include "MSS/odb_record.hpp"

#include "MSS/mss_engine.hpp"
#include "OLE/ole_date.hpp"
#include "TK/tk_log.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {
// A decimal text as providers write it: optional sign, digits, optional point and digits.
bool is_decimal_text(std::u16string_view text) {
    if (!text.empty() && (text[0] == u'-' || text[0] == u'+')) text.remove_prefix(1);
    const size_t point = text.find(u'.');
    bool digits = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9')
            digits = true;
        else if (i != point)
            return false;
    }
    return digits;
}

// Scratch texts, reused so that a value costs no allocation here: one for a value read from an
// odd offset, one for the parsers that want a string.
std::u16string& aligned_copy() {
    thread_local std::u16string text;
    return text;
}
std::u16string& parser_copy() {
    thread_local std::u16string text;
    return text;
}

// The decimal of a numeric structure, as its text would read: trailing zeros of the fraction
// dropped; false where the text would not read as a decimal exactly (more than 96 bits, or more
// than 28 decimals).
bool decimal_of(const DB_NUMERIC& value, DECIMAL& out) {
    unsigned __int128 magnitude = 0;
    for (int i = 15; i >= 0; --i) magnitude = magnitude << 8 | value.val[i];
    int scale = value.scale;
    while (scale > 0 && magnitude % 10 == 0) {
        magnitude /= 10;
        --scale;
    }
    if (magnitude == 0) scale = 0;
    if (scale > 28 || magnitude >> 96) return false;
    out = DECIMAL{};
    out.scale = static_cast<std::uint8_t>(scale);
    out.sign = value.sign == 0 ? DECIMAL_NEG : 0;
    out.Hi32 = static_cast<std::uint32_t>(magnitude >> 64);
    out.Lo64 = static_cast<std::uint64_t>(magnitude);
    return true;
}

void set_empty(odb_field& field) {
    static_cast<ole_variant&>(field) = ole_variant();
}

constexpr DBTYPE byte_array = DBTYPE_ARRAY | DBTYPE_UI1;

// A string or an array the field keeps in place of a copy; the slot is left null, so that nobody
// frees it twice. The trace is the one of a copied value.
void take(const DBCOLUMNINFO& column, const DBBINDING& b, unsigned char* slot, odb_field& field) {
    void* value = nullptr;
    std::memcpy(&value, slot, sizeof value);
    std::memset(slot, 0, sizeof value);
    if (b.wType == byte_array) {
        auto* bytes = static_cast<SAFEARRAY*>(value);
        TK_TRACE(1, "Processing VT_BLOB");
        field.set_size(static_cast<std::int32_t>(bytes ? bytes->rgsabound[0].cElements : 0));
        field.adopt_array(bytes);
        return;
    }
    BSTR text = static_cast<BSTR>(value);
    const std::u16string_view view(text, SysStringLen(text));
    std::unique_ptr<OLECHAR, void (*)(BSTR)> owner(text, SysFreeString);
    TK_WTRACE(1, u"odb_record::get_field(%s)", std::u16string(view).c_str());
    if (odb_record::get_vartype(column.wType) == VT_BSTR) {
        field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
        if (!view.empty()) TK_TRACE(1, "ole_variant::from_wstring");
        field.adopt_bstr(owner.release());
    } else {
        odb_record::get_field(column, view, field);
    }
    TK_WTRACE(1, u"\t%s", std::u16string(view).c_str());
}
} // namespace

std::u16string odb_field::to_wstring() const {
    TK_TRACE(1, "odb_field::to_wstring");
    return udb_field::to_wstring();
}

odb_record::odb_record(DBORDINAL columns, unsigned char* row, const DBCOLUMNINFO* info,
                       const DBBINDING* bindings) {
    reserve(columns);
    read(columns, row, info, bindings, true);
}

void odb_record::assign(DBORDINAL columns, unsigned char* row, const DBCOLUMNINFO* info,
                        const DBBINDING* bindings) {
    TK_ASSERT(size() == columns, "odb_record.cpp");
    read(columns, row, info, bindings, false);
}

void odb_record::read(DBORDINAL columns, unsigned char* row, const DBCOLUMNINFO* info,
                      const DBBINDING* bindings, bool fresh) {
    TK_TRACE(1, "odb_record::ctor");
    TK_ASSERT(row != nullptr || columns == 0, "odb_record.cpp");
    TK_ASSERT(bindings != nullptr || columns == 0, "odb_record.cpp");
    for (DBORDINAL i = 0; i < columns; ++i) {
        const DBBINDING& b = bindings[i];
        const DBCOLUMNINFO& column = info[i];
        if (fresh)
            append(std::make_unique<odb_field>(std::u16string(column.pwszName ? column.pwszName : u""),
                                               static_cast<std::int32_t>(column.ulColumnSize),
                                               ole_variant()));
        auto& field = static_cast<odb_field&>((*this)[i]);
        DBSTATUS status;
        odb_bound_length length;
        std::memcpy(&status, row + b.obStatus, sizeof status);
        std::memcpy(&length, row + b.obLength, sizeof length);
        const unsigned char* value = row + b.obValue;
        if (b.wType & DBTYPE_BYREF) std::memcpy(&value, row + b.obValue, sizeof value);
        // A value handed over already is gone from the provider: ours is the fault, not the data's,
        // and an empty field in its place would pass for the value.
        TK_ASSERT(status != DBSTATUS_E_UNAVAILABLE, "odb_record.cpp");
        if (status != DBSTATUS_S_OK) {
            TK_TRACE(1, "Field #%d - FAILED, status code=%08X", static_cast<int>(i), status);
            field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
            set_empty(field);
            TK_TRACE(1, "\t<NULL>");
            continue;
        }
        TK_TRACE(1, "offset=%d", static_cast<int>(b.obValue));
        TK_TRACE(1, "type1=%d, type2=%d", column.wType, b.wType);
        TK_TRACE(1, "Field #%d - OK, length=%d", static_cast<int>(i), static_cast<int>(length));
        // A date-time bound as one becomes the date its text would have given.
        if (b.wType == DBTYPE_DBTIMESTAMP) {
            field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
            DBTIMESTAMP t;
            std::memcpy(&t, value, sizeof t);
            const bool date_only = column.wType == DBTYPE_DBDATE;
            const int digits = date_only ? 0 : std::min<int>(column.bScale, 9);
            unsigned long shown = t.fraction;
            for (int i = digits; i < 9; ++i) shown /= 10;
            unsigned long millis = shown;
            for (int i = digits; i > 3; --i) millis /= 10;
            for (int i = digits; i < 3; ++i) millis *= 10;
            ole_date date(SYSTEMTIME{});
            if (date.from_parts(t.year, t.month, t.day, t.hour, t.minute, t.second, digits, static_cast<int>(millis))) {
                static_cast<ole_variant&>(field) = date.to_variant();
            } else {
                // Years before 100 and the like: the parser decides, as for the text.
                std::u16string text;
                odb_timestamp_text(t, digits, date_only, text);
                get_field(column, text, field);
            }
            continue;
        }
        if (b.wType == DBTYPE_NUMERIC) {
            field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
            DB_NUMERIC number;
            std::memcpy(&number, value, sizeof number);
            DECIMAL decimal;
            if (decimal_of(number, decimal)) {
                field.from_decimal(decimal);
            } else {
                // Beyond the decimal: its text decides, as it would have come.
                std::u16string& text = parser_copy();
                odb_numeric_text(number, text);
                get_field(column, std::u16string(text), field);
            }
            continue;
        }
        if (b.wType == DBTYPE_DBTIME2) {
            field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
            DBTIME2 time;
            std::memcpy(&time, value, sizeof time);
            // The milliseconds its text gives: the fraction's first three digits.
            field.from_time(time.hour, time.minute, time.second, static_cast<int>(time.fraction / 1000000));
            continue;
        }
        if (b.wType == DBTYPE_CY) {
            field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
            CY amount;
            std::memcpy(&amount.int64, value, sizeof amount.int64);
            field.from_currency(amount);
            continue;
        }
        // A number bound as one becomes the field's variant without a text between.
        if (b.wType == DBTYPE_I8 || b.wType == DBTYPE_R8 || b.wType == DBTYPE_R4) {
            field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
            const VARTYPE vt = get_vartype(column.wType);
            if (b.wType == DBTYPE_I8) {
                std::int64_t whole;
                std::memcpy(&whole, value, sizeof whole);
                field.from_integer(whole, vt);
            } else if (b.wType == DBTYPE_R8) {
                double real;
                std::memcpy(&real, value, sizeof real);
                field.from_real(real, vt);
            } else {
                float real;
                std::memcpy(&real, value, sizeof real);
                field.from_real(real, vt);
            }
            continue;
        }
        if (b.wType == DBTYPE_BSTR || b.wType == byte_array) {
            take(column, b, row + b.obValue, field);
            continue;
        }
        if (column.wType == DBTYPE_BYTES) {
            TK_TRACE(1, "Processing VT_BLOB");
            field.set_size(static_cast<std::int32_t>(length));
            field.attach_binary(length, value);
            continue;
        }
        // Slots start on even offsets unless a column of an odd size came before.
        size_t chars = length / 2;
        std::u16string_view text;
        if (reinterpret_cast<std::uintptr_t>(value) % alignof(char16_t) == 0) {
            text = std::u16string_view(reinterpret_cast<const char16_t*>(value), chars);
        } else {
            std::u16string& copy = aligned_copy();
            copy.resize(chars);
            std::memcpy(copy.data(), value, chars * sizeof(char16_t));
            text = copy;
        }
        get_field(column, text, field);
        TK_WTRACE(1, u"\t%s", std::u16string(text).c_str());
    }
}

VARTYPE odb_record::get_vartype(DBTYPE type, int* date_kind) {
    TK_TRACE(1, "odb_record::get_vartype(%d)", type);
    const mss_engine* engine = mss_engine::instance();
    const bool kinds = engine && engine->version() > mss_version_2005 && engine->is_native();
    if (date_kind) *date_kind = 0;
    switch (type) {
    case DBTYPE_I2:
        return VT_I2;
    case DBTYPE_I4:
        return VT_I4;
    case DBTYPE_R4:
        return VT_R4;
    case DBTYPE_R8:
        return VT_R8;
    case DBTYPE_CY:
        return VT_CY;
    case DBTYPE_DATE:
        if (date_kind && kinds) *date_kind = 2;
        return VT_DATE;
    case DBTYPE_BSTR:
    case DBTYPE_GUID:
    case DBTYPE_STR:
    case DBTYPE_WSTR:
        return VT_BSTR;
    case DBTYPE_BOOL:
        return VT_BOOL;
    case DBTYPE_DECIMAL:
    case DBTYPE_NUMERIC:
        return VT_DECIMAL;
    case DBTYPE_I1:
        return VT_I1;
    case DBTYPE_UI1:
        return VT_UI1;
    case DBTYPE_UI2:
        return VT_UI2;
    case DBTYPE_UI4:
        return VT_UI4;
    case DBTYPE_I8:
        return VT_I8;
    case DBTYPE_UI8:
        return VT_UI8;
    // A date column's values are dates: parsed from their text, they print without a time.
    case DBTYPE_DBDATE:
        if (date_kind && kinds) *date_kind = 2;
        return VT_DATE;
    case DBTYPE_DBTIME2:
        if (date_kind && kinds) *date_kind = 3;
        return VT_DATE;
    case DBTYPE_DBTIME:
    case DBTYPE_DBTIMESTAMP:
        return VT_DATE;
    // Their text is their value: read as hexadecimal pairs it would turn into nothing.
    case DBTYPE_XML:
    case DBTYPE_VARIANT:
    case DBTYPE_DBTIMESTAMPOFFSET:
        return VT_BSTR;
    default:
        return VT_BLOB;
    }
}

void odb_record::get_field(const DBCOLUMNINFO& column, std::u16string_view text, odb_field& field) {
    TK_WTRACE(1, u"odb_record::get_field(%s)", std::u16string(text).c_str());
    const VARTYPE vt = get_vartype(column.wType);
    field.set_size(static_cast<std::int32_t>(column.ulColumnSize));
    if (text.empty()) {
        if (vt == VT_BSTR)
            field.attach_wstring(text);
        else
            set_empty(field);
        return;
    }
    if (column.wType == DBTYPE_DATE || column.wType == DBTYPE_DBTIMESTAMP || column.wType == DBTYPE_DBDATE) {
        std::u16string& copy = parser_copy();
        copy.assign(text);
        static_cast<ole_variant&>(field) = ole_date(copy).to_variant();
        return;
    }
    field.from_wstring(text, vt);
    // A decimal beyond the platform decimal (numeric(38) holds more digits than it) keeps its
    // exact text rather than arriving empty: the reading refuses any value it would round.
    if (vt == VT_DECIMAL && field.vt() == VT_EMPTY && is_decimal_text(text)) field.attach_wstring(text);
}
