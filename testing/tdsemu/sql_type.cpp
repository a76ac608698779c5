#include "tdsemu/sql_type.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tdsemu {

namespace {

// SQL_Latin1_General_CP1_CI_AS: clients decode varchar as code page 1252.
const unsigned char collation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

struct kind_name {
    type_kind kind;
    const char* name;
};
const kind_name kind_names[] = {
    {type_kind::int_, "int"},
    {type_kind::bigint, "bigint"},
    {type_kind::smallint, "smallint"},
    {type_kind::tinyint, "tinyint"},
    {type_kind::bit, "bit"},
    {type_kind::decimal, "decimal"},
    {type_kind::numeric, "numeric"},
    {type_kind::money, "money"},
    {type_kind::smallmoney, "smallmoney"},
    {type_kind::float_, "float"},
    {type_kind::real, "real"},
    {type_kind::char_, "char"},
    {type_kind::varchar, "varchar"},
    {type_kind::nchar, "nchar"},
    {type_kind::nvarchar, "nvarchar"},
    {type_kind::text, "text"},
    {type_kind::ntext, "ntext"},
    {type_kind::binary, "binary"},
    {type_kind::varbinary, "varbinary"},
    {type_kind::image, "image"},
    {type_kind::date, "date"},
    {type_kind::time, "time"},
    {type_kind::datetime, "datetime"},
    {type_kind::datetime2, "datetime2"},
    {type_kind::smalldatetime, "smalldatetime"},
    {type_kind::datetimeoffset, "datetimeoffset"},
    {type_kind::uniqueidentifier, "uniqueidentifier"},
    {type_kind::xml, "xml"},
    {type_kind::sql_variant, "sql_variant"},
    {type_kind::timestamp, "timestamp"},
};

// ASCII digits only, whatever the locale.
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_char_kind(type_kind k) {
    return k == type_kind::char_ || k == type_kind::varchar || k == type_kind::nchar ||
           k == type_kind::nvarchar || k == type_kind::binary || k == type_kind::varbinary;
}

[[noreturn]] void conversion_failed(const std::string& text, const sql_type& t) {
    throw value_error(245, "Conversion failed when converting the value '" + text + "' to data type " +
                               t.name() + ".");
}

[[noreturn]] void overflow(const sql_type& t) {
    throw value_error(8115, "Arithmetic overflow error converting expression to data type " + t.name() + ".");
}

// The cell's text as as_text() gives it, without a copy for text and bytes.
const std::string& text_of(const cell& c, std::string& tmp) {
    if (c.k == cell::kind::text || c.k == cell::kind::blob) return c.s;
    tmp = c.as_text();
    return tmp;
}

int64_t to_int64(const cell& c, const sql_type& t) {
    switch (c.k) {
    case cell::kind::integer:
        return c.i;
    case cell::kind::real:
        if (!(std::fabs(c.d) < 9.2e18)) overflow(t);
        return static_cast<int64_t>(std::trunc(c.d));
    default: {
        std::string tmp;
        const std::string& s = text_of(c, tmp);
        errno = 0;
        char* end = nullptr;
        long long v = std::strtoll(s.c_str(), &end, 10);
        while (end && *end == ' ') ++end;
        if (s.empty() || !end || *end || errno) conversion_failed(s, t);
        return v;
    }
    }
}

double to_double(const cell& c, const sql_type& t) {
    if (c.k == cell::kind::integer) return static_cast<double>(c.i);
    if (c.k == cell::kind::real) return c.d;
    std::string tmp;
    const std::string& s = text_of(c, tmp);
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (s.empty() || !end || *end) conversion_failed(s, t);
    return v;
}

// Exact decimal text to a scaled integer, rounding half away from zero as the server does.
bool parse_scaled(const std::string& text, int scale, bool& negative, unsigned __int128& magnitude,
                  int& digits) {
    const char* s = text.data();
    const size_t n = text.size();
    auto digit_at = [&](size_t k) { return k < n && s[k] >= '0' && s[k] <= '9'; };
    size_t i = 0;
    while (i < n && s[i] == ' ') ++i;
    negative = false;
    if (i < n && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    const size_t int_begin = i;
    while (digit_at(i)) ++i;
    const size_t int_len = i - int_begin;
    size_t frac_begin = i, frac_len = 0;
    if (i < n && s[i] == '.') {
        frac_begin = ++i;
        while (digit_at(i)) ++i;
        frac_len = i - frac_begin;
    }
    int exponent = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool eneg = false;
        if (i < n && (s[i] == '-' || s[i] == '+')) eneg = s[i++] == '-';
        const size_t e_begin = i;
        while (digit_at(i)) ++i;
        if (i == e_begin || i - e_begin > 3) return false;
        for (size_t k = e_begin; k < i; ++k) exponent = exponent * 10 + (s[k] - '0');
        if (eneg) exponent = -exponent;
    }
    while (i < n && s[i] == ' ') ++i;
    if (i != n || (int_len == 0 && frac_len == 0)) return false;
    // The digits of the integer part, then of the fraction, read in place.
    const int all = static_cast<int>(int_len + frac_len);
    auto digit = [&](int k) {
        return k < static_cast<int>(int_len) ? s[int_begin + k] : s[frac_begin + (k - int_len)];
    };
    int point = static_cast<int>(int_len) + exponent; // digits before the point
    // Keep point + scale digits, round on the next one.
    int keep = point + scale;
    int round_digit = keep >= 0 && keep < all ? digit(keep) - '0' : 0;
    magnitude = 0;
    digits = 0;
    if (keep <= 19) {
        // Nineteen digits, rounded up, fit in 64 bits; the count of significant digits is the value's length.
        static const uint64_t powers[20] = {1u,
                                            10u,
                                            100u,
                                            1000u,
                                            10000u,
                                            100000u,
                                            1000000u,
                                            10000000u,
                                            100000000u,
                                            1000000000u,
                                            10000000000u,
                                            100000000000u,
                                            1000000000000u,
                                            10000000000000u,
                                            100000000000000u,
                                            1000000000000000u,
                                            10000000000000000u,
                                            100000000000000000u,
                                            1000000000000000000u,
                                            10000000000000000000u};
        uint64_t v = 0;
        int k = 0;
        for (; k < keep && k < static_cast<int>(int_len); ++k)
            v = v * 10 + static_cast<unsigned>(s[int_begin + k] - '0');
        for (; k < keep && k < all; ++k)
            v = v * 10 + static_cast<unsigned>(s[frac_begin + (k - int_len)] - '0');
        for (; k < keep; ++k) v *= 10;
        if (round_digit >= 5) ++v;
        if (v) {
            // The bit length times log10(2) is the digit count or one short of it.
            int estimate = ((64 - __builtin_clzll(v)) * 1233) >> 12;
            digits = estimate + (v >= powers[estimate] ? 1 : 0);
        }
        magnitude = v;
        if (v == 0) negative = false;
        return true;
    }
    bool leading = true;
    for (int k = 0; k < keep; ++k) {
        char ch = k < all ? digit(k) : '0';
        if (leading && ch == '0') continue;
        leading = false;
        if (++digits > 38) return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(ch - '0');
    }
    if (round_digit >= 5) {
        magnitude += 1;
        unsigned __int128 limit = 1;
        for (int k = 0; k < digits; ++k) limit *= 10;
        if (magnitude >= limit) ++digits;
    }
    if (magnitude == 0) negative = false;
    return true;
}

const std::string& exact_text(const cell& c, std::string& tmp) {
    if (c.k == cell::kind::real) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", c.d);
        tmp = buf;
        return tmp;
    }
    return text_of(c, tmp);
}

void put_decimal(tds_buffer& out, const sql_type& t, const cell& c) {
    bool negative = false;
    unsigned __int128 magnitude = 0;
    int digits = 0;
    std::string tmp;
    const std::string& text = exact_text(c, tmp);
    if (!parse_scaled(text, t.scale, negative, magnitude, digits)) conversion_failed(text, t);
    if (digits > t.precision) overflow(t);
    int size = t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
    char b[18];
    b[0] = static_cast<char>(size);
    b[1] = negative ? 0 : 1;
    for (int k = 0; k < size - 1; ++k) {
        b[2 + k] = static_cast<char>(static_cast<unsigned>(magnitude & 0xFF));
        magnitude >>= 8;
    }
    out.raw(b, static_cast<size_t>(size) + 1);
}

int64_t money_units(const sql_type& t, const cell& c) {
    bool negative = false;
    unsigned __int128 magnitude = 0;
    int digits = 0;
    std::string tmp;
    const std::string& text = exact_text(c, tmp);
    if (!parse_scaled(text, 4, negative, magnitude, digits)) conversion_failed(text, t);
    unsigned __int128 limit = t.kind == type_kind::money ? (static_cast<unsigned __int128>(1) << 63)
                                                         : (static_cast<unsigned __int128>(1) << 31);
    if (magnitude > limit || (!negative && magnitude == limit)) overflow(t);
    return negative ? -static_cast<int64_t>(magnitude - 1) - 1 : static_cast<int64_t>(magnitude);
}

date_time_value to_date_time(const cell& c, const sql_type& t) {
    date_time_value v;
    std::string tmp;
    const std::string& s = text_of(c, tmp);
    if (!parse_date_time(s, v)) conversion_failed(s, t);
    return v;
}

void put_time_bytes(tds_buffer& out, int64_t units, int scale) {
    out.le(static_cast<uint64_t>(units), scale <= 2 ? 3 : scale <= 4 ? 4 : 5);
}

int64_t pow10(int n) {
    static const int64_t powers[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    if (n >= 0 && n < 8) return powers[n];
    int64_t r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

// Rounds the time of day to the scale, carrying into the date.
void scaled_time(date_time_value v, int scale, int64_t& days, int64_t& units) {
    days = days_from_civil(v.year, v.month, v.day);
    int64_t div = pow10(7 - scale);
    units = (v.ticks + div / 2) / div;
    if (units >= 86400 * pow10(scale)) {
        units -= 86400 * pow10(scale);
        ++days;
    }
}

void put_date_bytes(tds_buffer& out, int64_t days_since_1970) {
    int64_t d = days_since_1970 - days_from_civil(1, 1, 1);
    if (d < 0 || d > 3652058) throw value_error(242, "The conversion resulted in an out-of-range value.");
    out.le(static_cast<uint64_t>(d), 3);
}

bool is_unicode(type_kind k) {
    return k == type_kind::nchar || k == type_kind::nvarchar || k == type_kind::ntext || k == type_kind::xml;
}

// The value as the column's text type stores it (UTF-16LE or code page 1252, fixed lengths padded),
// appended to out.
void append_text_bytes(std::string& out, const result_column& col, const cell& c) {
    std::string tmp;
    const std::string& s = text_of(c, tmp);
    const size_t at = out.size();
    const size_t length = static_cast<size_t>(col.type.length);
    if (is_unicode(col.type.kind)) {
        append_utf16le(out, s.data(), s.size());
        if (col.type.kind == type_kind::nchar && out.size() - at < length * 2)
            for (size_t k = (out.size() - at) / 2; k < length; ++k) out.append(" \0", 2);
        return;
    }
    append_cp1252(out, s.data(), s.size());
    if (col.type.kind == type_kind::char_ && out.size() - at < length)
        out.append(length - (out.size() - at), ' ');
}

void append_binary_bytes(std::string& out, const result_column& col, const cell& c) {
    if (c.k == cell::kind::integer && col.type.kind == type_kind::timestamp) {
        for (int k = 7; k >= 0; --k)
            out.push_back(static_cast<char>((static_cast<uint64_t>(c.i) >> (8 * k)) & 0xFF));
        return;
    }
    std::string tmp;
    const std::string& b = text_of(c, tmp);
    out += b;
    size_t fixed = col.type.kind == type_kind::binary      ? col.type.length
                   : col.type.kind == type_kind::timestamp ? 8
                                                           : 0;
    if (fixed && b.size() < fixed) out.append(fixed - b.size(), '\0');
}

std::string text_bytes(const result_column& col, const cell& c) {
    std::string b;
    append_text_bytes(b, col, c);
    return b;
}

std::string binary_bytes(const result_column& col, const cell& c) {
    std::string b;
    append_binary_bytes(b, col, c);
    return b;
}

void put_plp(tds_buffer& out, const std::string& data) {
    out.u64(data.size());
    for (size_t pos = 0; pos < data.size(); pos += 8000) {
        size_t n = std::min<size_t>(8000, data.size() - pos);
        out.u32(static_cast<uint32_t>(n));
        out.raw(data.data() + pos, n);
    }
    out.u32(0);
}

// A two-byte length and the bytes append() puts after it. Written in place and measured afterwards; a value
// longer than the column allows leaves out as it was.
template <class Append> void put_sized16(tds_buffer& out, const result_column& col, Append append) {
    size_t limit = col.type.kind == type_kind::nchar || col.type.kind == type_kind::nvarchar
                       ? col.type.length * 2u
                   : col.type.kind == type_kind::timestamp ? 8u
                                                           : col.type.length;
    const size_t at = out.bytes.size();
    out.u16(0);
    append(out.bytes);
    const size_t n = out.bytes.size() - at - 2;
    if (n > limit) {
        out.bytes.resize(at);
        throw value_error(8152, "String or binary data would be truncated.");
    }
    out.bytes[at] = static_cast<char>(n & 0xFF);
    out.bytes[at + 1] = static_cast<char>((n >> 8) & 0xFF);
}

// Each byte's value as a hex digit; 16 for the separators a GUID may hold, 17 for anything else.
struct hex_table {
    unsigned char v[256];
    constexpr hex_table() : v() {
        for (int k = 0; k < 256; ++k) v[k] = 17;
        for (int k = 0; k < 10; ++k) v['0' + k] = static_cast<unsigned char>(k);
        for (int k = 0; k < 6; ++k) v['a' + k] = v['A' + k] = static_cast<unsigned char>(10 + k);
        v[static_cast<unsigned char>('-')] = v[static_cast<unsigned char>('{')] =
            v[static_cast<unsigned char>('}')] = 16;
    }
};
constexpr hex_table hex_digits;

// The usual spelling, 8-4-4-4-12, read without a loop over its separators. False for any other.
bool parse_canonical_guid(const std::string& text, unsigned char (&raw)[16]) {
    static const unsigned char positions[32] = {0,  1,  2,  3,  4,  5,  6,  7,  9,  10, 11,
                                                12, 14, 15, 16, 17, 19, 20, 21, 22, 24, 25,
                                                26, 27, 28, 29, 30, 31, 32, 33, 34, 35};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    if (text.size() != 36 || p[8] != '-' || p[13] != '-' || p[18] != '-' || p[23] != '-') return false;
    unsigned seen = 0;
    for (int k = 0; k < 16; ++k) {
        unsigned hi = hex_digits.v[p[positions[2 * k]]], lo = hex_digits.v[p[positions[2 * k + 1]]];
        seen |= hi | lo;
        raw[k] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return seen < 16;
}

bool parse_guid(const std::string& text, unsigned char (&b)[16]) {
    unsigned char raw[16] = {};
    if (!parse_canonical_guid(text, raw)) {
        std::memset(raw, 0, sizeof raw);
        int nibbles = 0;
        for (char ch : text) {
            unsigned v = hex_digits.v[static_cast<unsigned char>(ch)];
            if (v == 16) continue;
            if (v == 17 || nibbles == 32) return false;
            raw[nibbles / 2] = static_cast<unsigned char>(raw[nibbles / 2] << 4 | v);
            ++nibbles;
        }
        if (nibbles != 32) return false;
    }
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int k = 0; k < 16; ++k) b[k] = raw[order[k]];
    return true;
}

void put_variant(tds_buffer& out, const cell& c) {
    switch (c.k) {
    case cell::kind::null:
        out.u32(0);
        return;
    case cell::kind::integer:
        if (c.i >= INT32_MIN && c.i <= INT32_MAX) {
            out.u32(6);
            out.u8(0x38);
            out.u8(0);
            out.u32(static_cast<uint32_t>(c.i));
        } else {
            out.u32(10);
            out.u8(0x7F);
            out.u8(0);
            out.u64(static_cast<uint64_t>(c.i));
        }
        return;
    case cell::kind::real: {
        out.u32(10);
        out.u8(0x3E);
        out.u8(0);
        uint64_t bits;
        std::memcpy(&bits, &c.d, 8);
        out.u64(bits);
        return;
    }
    case cell::kind::text: {
        std::string w = utf16le_bytes(c.s);
        if (w.size() > 8000) throw value_error(8152, "String or binary data would be truncated.");
        out.u32(static_cast<uint32_t>(2 + 7 + w.size()));
        out.u8(0xE7);
        out.u8(7);
        out.raw(collation, 5);
        out.u16(8000);
        out.raw(w);
        return;
    }
    case cell::kind::blob:
        if (c.s.size() > 8000) throw value_error(8152, "String or binary data would be truncated.");
        out.u32(static_cast<uint32_t>(2 + 2 + c.s.size()));
        out.u8(0xA5);
        out.u8(2);
        out.u16(8000);
        out.raw(c.s);
        return;
    }
}

// NOT NULL columns of these types go out with the fixed-length type codes, as the server sends them.
int fixed_code(const result_column& col) {
    if (col.nullable) return 0;
    switch (col.type.kind) {
    case type_kind::int_:
        return 0x38;
    case type_kind::bigint:
        return 0x7F;
    case type_kind::smallint:
        return 0x34;
    case type_kind::tinyint:
        return 0x30;
    case type_kind::bit:
        return 0x32;
    case type_kind::float_:
        return 0x3E;
    case type_kind::real:
        return 0x3B;
    case type_kind::money:
        return 0x3C;
    case type_kind::smallmoney:
        return 0x7A;
    case type_kind::datetime:
        return 0x3D;
    case type_kind::smalldatetime:
        return 0x3A;
    default:
        return 0;
    }
}

int fixed_size(type_kind k) {
    switch (k) {
    case type_kind::bigint:
    case type_kind::float_:
    case type_kind::money:
    case type_kind::datetime:
        return 8;
    case type_kind::smallint:
        return 2;
    case type_kind::tinyint:
    case type_kind::bit:
        return 1;
    default:
        return 4;
    }
}

void put_type_info(tds_buffer& out, const result_column& col) {
    const sql_type& t = col.type;
    if (int code = fixed_code(col)) {
        out.u8(code);
        return;
    }
    switch (t.kind) {
    case type_kind::int_:
    case type_kind::bigint:
    case type_kind::smallint:
    case type_kind::tinyint:
        out.u8(0x26);
        out.u8(fixed_size(t.kind));
        break;
    case type_kind::bit:
        out.u8(0x68);
        out.u8(1);
        break;
    case type_kind::float_:
    case type_kind::real:
        out.u8(0x6D);
        out.u8(t.kind == type_kind::real ? 4 : 8);
        break;
    case type_kind::money:
    case type_kind::smallmoney:
        out.u8(0x6E);
        out.u8(t.kind == type_kind::money ? 8 : 4);
        break;
    case type_kind::decimal:
    case type_kind::numeric:
        out.u8(t.kind == type_kind::decimal ? 0x6A : 0x6C);
        out.u8(t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17);
        out.u8(t.precision);
        out.u8(t.scale);
        break;
    case type_kind::datetime:
    case type_kind::smalldatetime:
        out.u8(0x6F);
        out.u8(t.kind == type_kind::datetime ? 8 : 4);
        break;
    case type_kind::date:
        out.u8(0x28);
        break;
    case type_kind::time:
    case type_kind::datetime2:
    case type_kind::datetimeoffset:
        out.u8(t.kind == type_kind::time ? 0x29 : t.kind == type_kind::datetime2 ? 0x2A : 0x2B);
        out.u8(t.scale);
        break;
    case type_kind::uniqueidentifier:
        out.u8(0x24);
        out.u8(16);
        break;
    case type_kind::char_:
    case type_kind::varchar:
        out.u8(t.kind == type_kind::char_ ? 0xAF : 0xA7);
        out.u16(t.is_max() ? 0xFFFF : t.length);
        out.raw(collation, 5);
        break;
    case type_kind::nchar:
    case type_kind::nvarchar:
        out.u8(t.kind == type_kind::nchar ? 0xEF : 0xE7);
        out.u16(t.is_max() ? 0xFFFF : t.length * 2);
        out.raw(collation, 5);
        break;
    case type_kind::binary:
    case type_kind::varbinary:
        out.u8(t.kind == type_kind::binary ? 0xAD : 0xA5);
        out.u16(t.is_max() ? 0xFFFF : t.length);
        break;
    case type_kind::timestamp:
        out.u8(0xAD);
        out.u16(8);
        break;
    case type_kind::text:
    case type_kind::ntext:
    case type_kind::image:
        out.u8(t.kind == type_kind::text ? 0x23 : t.kind == type_kind::ntext ? 0x63 : 0x22);
        out.u32(t.kind == type_kind::ntext ? 0x7FFFFFFE : 0x7FFFFFFF);
        if (t.kind != type_kind::image) out.raw(collation, 5);
        if (col.table.empty()) {
            out.u8(0);
        } else {
            out.u8(2);
            out.us_varchar(col.owner);
            out.us_varchar(col.table);
        }
        break;
    case type_kind::xml:
        out.u8(0xF1);
        out.u8(0);
        break;
    case type_kind::sql_variant:
        out.u8(0x62);
        out.u32(8009);
        break;
    }
}

} // namespace

std::string sql_type::name() const {
    for (const auto& kn : kind_names)
        if (kn.kind == kind) return kn.name;
    return "int";
}

std::string sql_type::declaration() const {
    std::string n = name();
    if (is_char_kind(kind)) return n + "(" + (is_max() ? std::string("max") : std::to_string(length)) + ")";
    if (kind == type_kind::decimal || kind == type_kind::numeric)
        return n + "(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    if (kind == type_kind::time || kind == type_kind::datetime2 || kind == type_kind::datetimeoffset)
        return n + "(" + std::to_string(scale) + ")";
    return n;
}

std::string sql_type::sqlite_type() const {
    switch (kind) {
    case type_kind::int_:
    case type_kind::bigint:
    case type_kind::smallint:
    case type_kind::tinyint:
    case type_kind::bit:
        return "INTEGER";
    case type_kind::float_:
    case type_kind::real:
        return "REAL";
    case type_kind::binary:
    case type_kind::varbinary:
    case type_kind::image:
    case type_kind::timestamp:
    case type_kind::sql_variant:
        return "BLOB"; // no conversion on the way in
    default:
        return "TEXT"; // exact decimals, dates and GUIDs are kept as written
    }
}

bool parse_sql_type(const std::string& raw_name, const std::vector<std::string>& args, sql_type& out) {
    std::string n = ascii_lower(raw_name);
    if (n == "integer") n = "int";
    if (n == "rowversion") n = "timestamp";
    if (n == "dec") n = "decimal";
    if (n == "double precision") n = "float";
    if (n == "sysname") {
        out = sql_type{type_kind::nvarchar, 128, 0, 0};
        return args.empty();
    }
    bool found = false;
    for (const auto& kn : kind_names)
        if (n == kn.name) {
            out = sql_type{kn.kind, 0, 0, 0};
            found = true;
        }
    if (!found) return false;
    auto number = [](const std::string& s, int& v) {
        if (s.empty() || s.size() > 10) return false;
        for (char c : s)
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = std::atoi(s.c_str());
        return true;
    };
    switch (out.kind) {
    case type_kind::char_:
    case type_kind::varchar:
    case type_kind::binary:
    case type_kind::varbinary:
    case type_kind::nchar:
    case type_kind::nvarchar: {
        bool wide = out.kind == type_kind::nchar || out.kind == type_kind::nvarchar;
        out.length = 1;
        if (args.size() > 1) return false;
        if (args.size() == 1) {
            bool fixed =
                out.kind == type_kind::char_ || out.kind == type_kind::nchar || out.kind == type_kind::binary;
            if (ascii_lower(args[0]) == "max" && !fixed) {
                out.length = -1;
            } else if (!number(args[0], out.length) || out.length < 1 || out.length > (wide ? 4000 : 8000)) {
                return false;
            }
        }
        return true;
    }
    case type_kind::decimal:
    case type_kind::numeric:
        out.precision = 18;
        if (args.size() > 2) return false;
        if (!args.empty() && (!number(args[0], out.precision) || out.precision < 1 || out.precision > 38))
            return false;
        if (args.size() == 2 && (!number(args[1], out.scale) || out.scale > out.precision)) return false;
        return true;
    case type_kind::float_: {
        int bits = 53;
        if (args.size() > 1 || (args.size() == 1 && (!number(args[0], bits) || bits < 1 || bits > 53)))
            return false;
        if (bits <= 24) out.kind = type_kind::real;
        return true;
    }
    case type_kind::time:
    case type_kind::datetime2:
    case type_kind::datetimeoffset:
        out.scale = 7;
        if (args.size() > 1 || (args.size() == 1 && (!number(args[0], out.scale) || out.scale > 7)))
            return false;
        return true;
    default:
        return args.empty();
    }
}

std::string cell::as_text() const {
    switch (k) {
    case kind::null:
        return {};
    case kind::integer:
        return std::to_string(i);
    case kind::real: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", d);
        return buf;
    }
    default:
        return s;
    }
}

int64_t days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool parse_date_time(const std::string& text, date_time_value& v) {
    const char* p = text.c_str();
    auto digits = [&](int n, int& out) {
        out = 0;
        for (int k = 0; k < n; ++k) {
            if (!is_digit(p[k])) return false;
            out = out * 10 + (p[k] - '0');
        }
        p += n;
        return true;
    };
    while (*p == ' ') ++p;
    v = date_time_value{};
    if (is_digit(p[0]) && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3])) {
        if (!digits(4, v.year)) return false;
        if (*p == '-') ++p;
        if (!digits(2, v.month)) return false;
        if (*p == '-') ++p;
        if (!digits(2, v.day)) return false;
        if (v.month < 1 || v.month > 12 || v.day < 1 || v.day > 31) return false;
        static const int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool leap = v.year % 4 == 0 && (v.year % 100 != 0 || v.year % 400 == 0);
        if (v.day > (v.month == 2 && leap ? 29 : month_days[v.month - 1])) return false;
        v.has_date = true;
        if (*p == 'T' || *p == ' ') ++p;
        while (*p == ' ') ++p;
    }
    if (is_digit(*p)) {
        int h, mi, s = 0;
        if (!digits(2, h) || *p++ != ':' || !digits(2, mi)) return false;
        int64_t frac = 0;
        if (*p == ':') {
            ++p;
            if (!digits(2, s)) return false;
            if (*p == '.') {
                ++p;
                int n = 0;
                while (is_digit(*p)) {
                    if (n < 7) frac = frac * 10 + (*p - '0');
                    ++n;
                    ++p;
                }
                for (; n < 7; ++n) frac *= 10;
            }
        }
        if (h > 23 || mi > 59 || s > 59) return false;
        v.ticks = ((h * 60 + mi) * 60 + s) * 10000000LL + frac;
        v.has_time = true;
        while (*p == ' ') ++p;
    }
    if (*p == '+' || *p == '-') {
        int sign = *p++ == '-' ? -1 : 1, oh, om;
        if (!digits(2, oh) || *p++ != ':' || !digits(2, om) || oh > 14 || om > 59) return false;
        v.offset_minutes = sign * (oh * 60 + om);
        v.has_offset = true;
    } else if (*p == 'Z') {
        ++p;
        v.has_offset = true;
    }
    while (*p == ' ') ++p;
    return *p == 0 && (v.has_date || v.has_time);
}

void put_colmetadata(tds_buffer& out, const std::vector<result_column>& columns) {
    out.u8(0x81);
    out.u16(static_cast<unsigned>(columns.size()));
    for (const auto& col : columns) {
        out.u32(col.type.kind == type_kind::timestamp ? 80 : 0);
        unsigned flags =
            (col.nullable ? 0x0001 : 0) | (col.updatable ? 0x0008 : 0) | (col.identity ? 0x0010 : 0);
        out.u16(flags);
        put_type_info(out, col);
        out.b_varchar(col.name);
    }
}

void put_row(tds_buffer& out, const std::vector<result_column>& columns, const std::vector<cell>& values) {
    bool any_null = false;
    for (const auto& v : values) any_null |= v.is_null();
    out.u8(any_null ? 0xD2 : 0xD1);
    if (any_null) {
        // The bitmap is built where it goes.
        const size_t at = out.bytes.size();
        out.bytes.append((columns.size() + 7) / 8, '\0');
        char* bitmap = out.bytes.data() + at;
        for (size_t k = 0; k < values.size(); ++k)
            if (values[k].is_null()) bitmap[k / 8] = static_cast<char>(bitmap[k / 8] | (1 << (k % 8)));
    }
    for (size_t k = 0; k < columns.size(); ++k) {
        const result_column& col = columns[k];
        const cell& c = values[k];
        if (c.is_null()) {
            if (!col.nullable)
                throw value_error(515, "Cannot insert the value NULL into column '" + col.name + "'.");
            continue;
        }
        const sql_type& t = col.type;
        bool fixed = fixed_code(col) != 0;
        switch (t.kind) {
        case type_kind::int_:
        case type_kind::bigint:
        case type_kind::smallint:
        case type_kind::tinyint: {
            int64_t v = to_int64(c, t);
            int size = fixed_size(t.kind);
            bool fits = t.kind == type_kind::bigint     ? true
                        : t.kind == type_kind::int_     ? v >= INT32_MIN && v <= INT32_MAX
                        : t.kind == type_kind::smallint ? v >= -32768 && v <= 32767
                                                        : v >= 0 && v <= 255;
            if (!fits) overflow(t);
            if (!fixed) out.u8(size);
            out.le(static_cast<uint64_t>(v), size);
            break;
        }
        case type_kind::bit:
            if (!fixed) out.u8(1);
            out.u8(to_double(c, t) != 0 ? 1 : 0);
            break;
        case type_kind::float_: {
            if (!fixed) out.u8(8);
            double d = to_double(c, t);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            out.u64(bits);
            break;
        }
        case type_kind::real: {
            if (!fixed) out.u8(4);
            float f = static_cast<float>(to_double(c, t));
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            out.u32(bits);
            break;
        }
        case type_kind::money: {
            int64_t units = money_units(t, c);
            if (!fixed) out.u8(8);
            // The high half first, as the server sends money.
            out.u64(static_cast<uint64_t>(units) >> 32 | static_cast<uint64_t>(units) << 32);
            break;
        }
        case type_kind::smallmoney: {
            int64_t units = money_units(t, c);
            if (!fixed) out.u8(4);
            out.u32(static_cast<uint32_t>(static_cast<int32_t>(units)));
            break;
        }
        case type_kind::decimal:
        case type_kind::numeric:
            put_decimal(out, t, c);
            break;
        case type_kind::datetime:
        case type_kind::smalldatetime: {
            date_time_value v = to_date_time(c, t);
            if (v.has_offset) conversion_failed(c.as_text(), t);
            int64_t days = days_from_civil(v.year, v.month, v.day) - days_from_civil(1900, 1, 1);
            if (t.kind == type_kind::datetime) {
                int64_t ticks = (v.ticks * 3 + 50000) / 100000; // 1/300 s
                if (ticks >= 300LL * 86400) {
                    ticks -= 300LL * 86400;
                    ++days;
                }
                if (days < -53690 || days > 2958463)
                    throw value_error(242, "The conversion resulted in an out-of-range value.");
                if (!fixed) out.u8(8);
                out.u32(static_cast<uint32_t>(static_cast<int32_t>(days)));
                out.u32(static_cast<uint32_t>(ticks));
            } else {
                // 29.998 seconds and more round up to the next minute.
                int64_t minutes = (v.ticks + 300020000LL) / 600000000LL;
                if (minutes >= 1440) {
                    minutes -= 1440;
                    ++days;
                }
                if (days < 0 || days > 65535)
                    throw value_error(242, "The conversion resulted in an out-of-range value.");
                if (!fixed) out.u8(4);
                out.u16(static_cast<unsigned>(days));
                out.u16(static_cast<unsigned>(minutes));
            }
            break;
        }
        case type_kind::date: {
            date_time_value v = to_date_time(c, t);
            if (!v.has_date) conversion_failed(c.as_text(), t);
            out.u8(3);
            put_date_bytes(out, days_from_civil(v.year, v.month, v.day));
            break;
        }
        case type_kind::time: {
            date_time_value v = to_date_time(c, t);
            int64_t days, units;
            scaled_time(v, t.scale, days, units);
            if (units >= 86400 * pow10(t.scale)) units = 0;
            int n = t.scale <= 2 ? 3 : t.scale <= 4 ? 4 : 5;
            out.u8(n);
            put_time_bytes(out, units, t.scale);
            break;
        }
        case type_kind::datetime2:
        case type_kind::datetimeoffset: {
            date_time_value v = to_date_time(c, t);
            if (t.kind == type_kind::datetime2 && v.has_offset) conversion_failed(c.as_text(), t);
            int64_t days, units;
            if (t.kind == type_kind::datetimeoffset) {
                // The wire carries UTC time and date plus the offset.
                int64_t total = days_from_civil(v.year, v.month, v.day) * 864000000000LL + v.ticks -
                                v.offset_minutes * 600000000LL;
                int64_t d = total >= 0 ? total / 864000000000LL : (total - 863999999999LL) / 864000000000LL;
                date_time_value u = v;
                civil_from_days(d, u.year, u.month, u.day);
                u.ticks = total - d * 864000000000LL;
                scaled_time(u, t.scale, days, units);
            } else {
                scaled_time(v, t.scale, days, units);
            }
            int n = (t.scale <= 2   ? 3
                     : t.scale <= 4 ? 4
                                    : 5) +
                    3 + (t.kind == type_kind::datetimeoffset ? 2 : 0);
            out.u8(n);
            put_time_bytes(out, units, t.scale);
            put_date_bytes(out, days);
            if (t.kind == type_kind::datetimeoffset)
                out.u16(static_cast<unsigned>(static_cast<int16_t>(v.offset_minutes)) & 0xFFFF);
            break;
        }
        case type_kind::uniqueidentifier: {
            unsigned char b[16];
            if (c.k == cell::kind::blob && c.s.size() == 16) {
                std::memcpy(b, c.s.data(), 16);
            } else if (std::string tmp; !parse_guid(text_of(c, tmp), b)) {
                throw value_error(
                    8169, "Conversion failed when converting from a character string to uniqueidentifier.");
            }
            out.u8(16);
            out.raw(b, 16);
            break;
        }
        case type_kind::char_:
        case type_kind::varchar:
        case type_kind::nchar:
        case type_kind::nvarchar: {
            if (t.is_max())
                put_plp(out, text_bytes(col, c));
            else
                put_sized16(out, col, [&](std::string& b) { append_text_bytes(b, col, c); });
            break;
        }
        case type_kind::xml:
            put_plp(out, text_bytes(col, c));
            break;
        case type_kind::binary:
        case type_kind::varbinary:
        case type_kind::timestamp:
            if (t.is_max())
                put_plp(out, binary_bytes(col, c));
            else
                put_sized16(out, col, [&](std::string& b) { append_binary_bytes(b, col, c); });
            break;
        case type_kind::text:
        case type_kind::ntext:
        case type_kind::image: {
            std::string data = t.kind == type_kind::image ? binary_bytes(col, c) : text_bytes(col, c);
            out.u8(16);
            out.raw(std::string(16, '\xAA'));
            out.raw(std::string(8, '\0'));
            out.u32(static_cast<uint32_t>(data.size()));
            out.raw(data);
            break;
        }
        case type_kind::sql_variant:
            put_variant(out, c);
            break;
        }
    }
}

} // namespace tdsemu
