#include "OLE/ole_auto.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

// Numbers of the subset: texts read as English (United States), currency and decimal kept exact
// as decimal digits, and every rounding to fewer digits is banker's rounding (half to even).

namespace {
using u128 = unsigned __int128;

constexpr u128 max96 = (u128(1) << 96) - 1;
constexpr std::int64_t cy_scale = 10000;

// A decimal number: value = digits * 10^exp10. No leading or trailing zeros in `digits`; an
// empty `digits` is zero.
struct number {
    bool neg = false;
    std::string digits;
    long exp10 = 0;
};

bool is_blank(char32_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool is_digit(char32_t c) {
    return c >= '0' && c <= '9';
}

void normalize(number& x) {
    size_t last = x.digits.find_last_not_of('0');
    if (last == std::string::npos) {
        x.digits.clear();
        x.exp10 = 0;
        return;
    }
    x.exp10 += long(x.digits.size() - 1 - last);
    x.digits.resize(last + 1);
}

// Optional blanks, a sign before or after the number, parentheses for a negative amount, a
// leading '$', ',' between digits of the whole part, one '.', an exponent.
template <class C> bool parse_number(std::basic_string_view<C> text, number& out) {
    out = number{};
    size_t i = 0, n = text.size();
    auto skip = [&] {
        while (i < n && is_blank(text[i])) ++i;
    };
    bool sign = false, paren = false, currency = false;
    skip();
    for (;;) {
        if (i < n && (text[i] == '+' || text[i] == '-') && !sign && !paren) {
            sign = true;
            out.neg = text[i] == '-';
        } else if (i < n && text[i] == '(' && !paren && !sign) {
            paren = true;
        } else if (i < n && text[i] == '$' && !currency) {
            currency = true;
        } else {
            break;
        }
        ++i;
        skip();
    }
    bool any = false, point = false;
    for (; i < n; ++i) {
        C c = text[i];
        if (is_digit(c)) {
            any = true;
            if (point) --out.exp10;
            if (!out.digits.empty() || c != '0') out.digits += char(c);
        } else if (c == ',' && !point && i > 0 && is_digit(text[i - 1]) && i + 1 < n &&
                   is_digit(text[i + 1])) {
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool exp_neg = false;
        if (j < n && (text[j] == '+' || text[j] == '-')) exp_neg = text[j++] == '-';
        if (j >= n || !is_digit(text[j])) return false;
        long e = 0;
        for (; j < n && is_digit(text[j]); ++j)
            if (e < 100000) e = e * 10 + (text[j] - '0');
        out.exp10 += exp_neg ? -e : e;
        i = j;
    }
    skip();
    if (i < n && (text[i] == '+' || text[i] == '-') && !sign && !paren) {
        sign = true;
        out.neg = text[i] == '-';
        ++i;
        skip();
    }
    if (paren) {
        if (i >= n || text[i] != ')') return false;
        out.neg = true;
        ++i;
        skip();
    }
    if (i != n) return false;
    normalize(out);
    return true;
}

// The common text of a provider, [-]digits[.digits] with at most 18 digits, read straight into
// a whole number and the count of its decimals (trailing zeros of the decimals dropped, as
// normalize does). False for anything else, which takes the general way.
bool parse_plain(std::u16string_view text, bool& neg, std::uint64_t& magnitude, int& decimals) {
    size_t i = 0, n = text.size();
    neg = i < n && text[i] == u'-';
    if (neg) ++i;
    if (i == n || !is_digit(text[i]) || n - i > 19) return false;
    magnitude = 0;
    decimals = 0;
    int digits = 0;
    bool point = false;
    for (; i < n; ++i) {
        char16_t c = text[i];
        if (is_digit(c)) {
            magnitude = magnitude * 10 + std::uint64_t(c - u'0');
            ++digits;
            if (point) ++decimals;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits > 18) return false;
    while (decimals > 0 && magnitude % 10 == 0) {
        magnitude /= 10;
        --decimals;
    }
    if (magnitude == 0) decimals = 0;
    return true;
}

// The digits without their last `drop` ones, rounded half to even.
std::string round_off(const std::string& digits, size_t drop) {
    if (drop == 0) return digits;
    if (drop > digits.size()) return {};
    size_t keep = digits.size() - drop;
    std::string kept = digits.substr(0, keep);
    char first = digits[keep];
    bool rest = digits.find_first_not_of('0', keep + 1) != std::string::npos;
    bool odd = keep > 0 && ((kept.back() - '0') & 1);
    if (first > '5' || (first == '5' && (rest || odd))) {
        size_t k = kept.size();
        while (k > 0 && kept[k - 1] == '9') kept[--k] = '0';
        if (k == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[k - 1];
    }
    return kept;
}

// The magnitude of value * 10^scale rounded to a whole number; false above `limit`.
bool to_scaled(const number& x, long scale, u128 limit, u128& out) {
    out = 0;
    if (x.digits.empty()) return true;
    long e = x.exp10 + scale;
    std::string digits;
    if (e >= 0) {
        if (long(x.digits.size()) + e > 40) return false;
        digits = x.digits + std::string(size_t(e), '0');
    } else {
        digits = round_off(x.digits, size_t(-e));
    }
    for (char c : digits) {
        out = out * 10 + u128(c - '0');
        if (out > limit) return false;
    }
    return true;
}

number number_from_magnitude(u128 magnitude, bool neg, long scale) {
    number x;
    x.neg = neg;
    char buf[48];
    char* p = buf + sizeof buf;
    do {
        *--p = char('0' + int(magnitude % 10));
        magnitude /= 10;
    } while (magnitude);
    x.digits.assign(p, buf + sizeof buf);
    x.exp10 = -scale;
    normalize(x);
    return x;
}

// Shortest exact text: '.' point, no trailing fractional zeros, no exponent. `out` holds 64.
std::size_t magnitude_chars(u128 magnitude, int scale, bool neg, char* out) {
    char buf[64];
    char* end = buf + sizeof buf;
    char* p = end;
    int written = 0;
    bool zero = magnitude == 0;
    // Digits past 64 bits first: dividing 128 bits is a library call, dividing 64 a multiply, and
    // nearly every amount fits in 64.
    while (magnitude >> 64) {
        *--p = char('0' + int(magnitude % 10));
        magnitude /= 10;
        ++written;
    }
    std::uint64_t small = std::uint64_t(magnitude);
    do {
        *--p = char('0' + int(small % 10));
        small /= 10;
        ++written;
    } while (small || written <= scale);
    char* o = out;
    if (neg && !zero) *o++ = '-';
    char* point = end - scale;
    for (char* q = p; q < point; ++q) *o++ = *q;
    char* last = end;
    while (last > point && last[-1] == '0') --last;
    if (last > point) {
        *o++ = '.';
        for (char* q = point; q < last; ++q) *o++ = *q;
    }
    return std::size_t(o - out);
}

std::u16string magnitude_text(u128 magnitude, int scale, bool neg) {
    char buf[64];
    std::size_t n = magnitude_chars(magnitude, scale, neg, buf);
    return std::u16string(buf, buf + n);
}

bool decimal_ok(const DECIMAL* value) {
    return value && value->scale <= 28 && !(value->sign & 0x7F);
}

u128 decimal_magnitude(const DECIMAL* value) {
    return (u128(value->Hi32) << 64) | value->Lo64;
}

number number_from_decimal(const DECIMAL* value) {
    return number_from_magnitude(decimal_magnitude(value), value->sign & DECIMAL_NEG, value->scale);
}

u128 magnitude_of(std::int64_t value) {
    return value < 0 ? u128(-(value + 1)) + 1 : u128(value);
}

number number_from_cy(CY value) {
    return number_from_magnitude(magnitude_of(value.int64), value.int64 < 0, 4);
}

HRESULT decimal_from_number(const number& x, DECIMAL* out, bool* exact = nullptr) {
    const long wanted = x.exp10 < 0 ? -x.exp10 : 0;
    long scale = wanted > 28 ? 28 : wanted;
    // Fewer decimals when all of them do not fit into 96 bits.
    for (; scale >= 0; --scale) {
        u128 magnitude;
        if (to_scaled(x, scale, max96, magnitude)) {
            *out = DECIMAL{};
            out->scale = std::uint8_t(scale);
            out->sign = x.neg ? DECIMAL_NEG : 0;
            out->Hi32 = std::uint32_t(magnitude >> 64);
            out->Lo64 = std::uint64_t(magnitude);
            if (exact) *exact = scale == wanted;
            return S_OK;
        }
    }
    return DISP_E_OVERFLOW;
}

// A whole number in [-neg_limit, pos_limit].
HRESULT integer_from_number(const number& x, u128 neg_limit, u128 pos_limit, std::int64_t& signed_out,
                            std::uint64_t& unsigned_out) {
    u128 magnitude;
    if (!to_scaled(x, 0, x.neg ? neg_limit : pos_limit, magnitude)) return DISP_E_OVERFLOW;
    if (x.neg) {
        signed_out = magnitude ? -std::int64_t(magnitude - 1) - 1 : 0;
        unsigned_out = 0;
    } else {
        signed_out = std::int64_t(std::uint64_t(magnitude));
        unsigned_out = std::uint64_t(magnitude);
    }
    return S_OK;
}

HRESULT cy_from_number(const number& x, CY* out) {
    u128 magnitude;
    u128 limit = x.neg ? (u128(1) << 63) : (u128(1) << 63) - 1;
    if (!to_scaled(x, 4, limit, magnitude)) return DISP_E_OVERFLOW;
    out->int64 = x.neg ? (magnitude ? -std::int64_t(magnitude - 1) - 1 : 0) : std::int64_t(magnitude);
    return S_OK;
}

HRESULT double_from_number(const number& x, double* out) {
    if (x.digits.empty()) {
        *out = x.neg ? -0.0 : 0.0;
        return S_OK;
    }
    long magnitude = x.exp10 + long(x.digits.size());
    if (magnitude > 400) return DISP_E_OVERFLOW;
    if (magnitude < -400) {
        *out = x.neg ? -0.0 : 0.0;
        return S_OK;
    }
    std::string text = x.digits + "e" + std::to_string(x.exp10);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        if (magnitude > 0) return DISP_E_OVERFLOW;
        value = 0;
    } else if (ec != std::errc()) {
        return DISP_E_TYPEMISMATCH;
    }
    *out = x.neg ? -value : value;
    return S_OK;
}

HRESULT number_from_double(double value, number& out) {
    if (!std::isfinite(value)) return DISP_E_OVERFLOW;
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    if (ec != std::errc()) return E_FAIL;
    return parse_number(std::string_view(buf, size_t(end - buf)), out) ? S_OK : E_FAIL;
}

std::u16string ascii_to_wide(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

// Up to `precision` significant digits, as Windows writes reals: 1.5, 1E+20, 1E-05.
std::u16string real_text(double value, int precision) {
    if (std::isnan(value)) return u"NaN";
    if (std::isinf(value)) return value < 0 ? u"-Infinity" : u"Infinity";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
    if (ec != std::errc()) return {};
    std::string text(buf, end);
    size_t e = text.find('e');
    if (e != std::string::npos) text[e] = 'E';
    return ascii_to_wide(text);
}

// Reads a VARIANT of a numeric type (or a text) as an exact decimal number.
HRESULT number_from_variant(const VARIANT* source, number& x) {
    auto from_signed = [&](std::int64_t v) {
        x = number_from_magnitude(magnitude_of(v), v < 0, 0);
        return S_OK;
    };
    switch (source->vt) {
    case VT_EMPTY:
        x = number{};
        return S_OK;
    case VT_I1:
        return from_signed(source->cVal);
    case VT_UI1:
        return from_signed(source->bVal);
    case VT_I2:
        return from_signed(source->iVal);
    case VT_UI2:
        return from_signed(source->uiVal);
    case VT_I4:
    case VT_INT:
        return from_signed(source->lVal);
    case VT_UI4:
    case VT_UINT:
        return from_signed(source->ulVal);
    case VT_I8:
        return from_signed(source->llVal);
    case VT_UI8:
        x = number_from_magnitude(source->ullVal, false, 0);
        return S_OK;
    case VT_BOOL:
        return from_signed(source->boolVal ? -1 : 0);
    case VT_R4:
        return number_from_double(source->fltVal, x);
    case VT_R8:
    case VT_DATE:
        return number_from_double(source->dblVal, x);
    case VT_CY:
        x = number_from_cy(source->cyVal);
        return S_OK;
    case VT_DECIMAL:
        if (!decimal_ok(&source->decVal)) return E_INVALIDARG;
        x = number_from_decimal(&source->decVal);
        return S_OK;
    case VT_BSTR: {
        const OLECHAR* text = source->bstrVal ? source->bstrVal : u"";
        return parse_number(std::u16string_view(text, SysStringLen(source->bstrVal)), x)
                   ? S_OK
                   : DISP_E_TYPEMISMATCH;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

bool equal_nocase_ascii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char16_t(x + 32);
        if (y >= 'A' && y <= 'Z') y = char16_t(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// The converted value into `out` (already cleared to VT_EMPTY); `source` is untouched.
HRESULT change_type(VARIANT& out, const VARIANT* source, VARTYPE vt) {
    if (vt == VT_EMPTY) return S_OK;
    if (vt == VT_NULL) {
        out.vt = VT_NULL;
        return S_OK;
    }
    if (source->vt == VT_NULL) return DISP_E_TYPEMISMATCH;
    switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
    case VT_DATE:
    case VT_BOOL:
    case VT_BSTR:
        break;
    case VT_ERROR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_VARIANT:
        return DISP_E_TYPEMISMATCH;
    default:
        return DISP_E_BADVARTYPE;
    }
    if (vt == VT_BSTR) {
        std::u16string text;
        switch (source->vt) {
        case VT_BSTR: {
            out.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
            if (!out.bstrVal && source->bstrVal) return E_OUTOFMEMORY;
            out.vt = VT_BSTR;
            return S_OK;
        }
        case VT_BOOL:
            text = source->boolVal ? u"True" : u"False";
            break;
        case VT_R4:
            text = real_text(source->fltVal, 7);
            break;
        case VT_R8:
            text = real_text(source->dblVal, 15);
            break;
        case VT_CY: {
            BSTR b = nullptr;
            HRESULT hr = VarBstrFromCy(source->cyVal, LCID_ENGLISH_US, 0, &b);
            if (FAILED(hr)) return hr;
            out.vt = VT_BSTR;
            out.bstrVal = b;
            return S_OK;
        }
        case VT_DECIMAL: {
            BSTR b = nullptr;
            HRESULT hr = VarBstrFromDec(&source->decVal, LCID_ENGLISH_US, 0, &b);
            if (FAILED(hr)) return hr;
            out.vt = VT_BSTR;
            out.bstrVal = b;
            return S_OK;
        }
        case VT_DATE: {
            BSTR b = nullptr;
            HRESULT hr = VarBstrFromDate(source->date, LCID_ENGLISH_US, 0, &b);
            if (FAILED(hr)) return hr;
            out.vt = VT_BSTR;
            out.bstrVal = b;
            return S_OK;
        }
        default: {
            number x;
            HRESULT hr = number_from_variant(source, x);
            if (FAILED(hr)) return hr;
            if (source->vt == VT_EMPTY) break;
            std::u16string digits = ascii_to_wide(x.digits.empty() ? std::string("0") : x.digits);
            text = (x.neg && !x.digits.empty() ? u"-" : u"") + digits + std::u16string(size_t(x.exp10), u'0');
        }
        }
        out.bstrVal = SysAllocStringLen(text.data(), std::uint32_t(text.size()));
        if (!out.bstrVal) return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        return S_OK;
    }
    if (vt == VT_DATE && source->vt == VT_BSTR) {
        HRESULT hr = VarDateFromStr(source->bstrVal ? source->bstrVal : u"", LCID_ENGLISH_US, 0, &out.date);
        if (SUCCEEDED(hr)) out.vt = VT_DATE;
        return hr;
    }
    if (vt == VT_BOOL && source->vt == VT_BSTR) {
        std::u16string_view text = trimmed(
            std::u16string_view(source->bstrVal ? source->bstrVal : u"", SysStringLen(source->bstrVal)));
        if (equal_nocase_ascii(text, u"true") || equal_nocase_ascii(text, u"#true#")) {
            out.boolVal = VARIANT_TRUE;
            out.vt = VT_BOOL;
            return S_OK;
        }
        if (equal_nocase_ascii(text, u"false") || equal_nocase_ascii(text, u"#false#")) {
            out.boolVal = VARIANT_FALSE;
            out.vt = VT_BOOL;
            return S_OK;
        }
    }
    number x;
    HRESULT hr = number_from_variant(source, x);
    if (FAILED(hr)) return hr;
    std::int64_t s = 0;
    std::uint64_t u = 0;
    auto integer = [&](u128 neg_limit, u128 pos_limit) {
        return integer_from_number(x, neg_limit, pos_limit, s, u);
    };
    switch (vt) {
    case VT_I1:
        hr = integer(128, 127), out.cVal = static_cast<signed char>(s);
        break;
    case VT_UI1:
        hr = integer(0, 255), out.bVal = static_cast<unsigned char>(u);
        break;
    case VT_I2:
        hr = integer(32768, 32767), out.iVal = static_cast<std::int16_t>(s);
        break;
    case VT_UI2:
        hr = integer(0, 65535), out.uiVal = static_cast<std::uint16_t>(u);
        break;
    case VT_I4:
    case VT_INT:
        hr = integer(u128(1) << 31, (u128(1) << 31) - 1), out.lVal = static_cast<std::int32_t>(s);
        break;
    case VT_UI4:
    case VT_UINT:
        hr = integer(0, 0xFFFFFFFFu), out.ulVal = static_cast<std::uint32_t>(u);
        break;
    case VT_I8:
        hr = integer(u128(1) << 63, (u128(1) << 63) - 1), out.llVal = s;
        break;
    case VT_UI8:
        hr = integer(0, ~std::uint64_t(0)), out.ullVal = u;
        break;
    case VT_BOOL:
        out.boolVal = x.digits.empty() ? VARIANT_FALSE : VARIANT_TRUE;
        break;
    case VT_R4: {
        double d = 0;
        hr = double_from_number(x, &d);
        if (SUCCEEDED(hr) && !ole_fits_float(d)) hr = DISP_E_OVERFLOW;
        if (SUCCEEDED(hr)) out.fltVal = ole_round_to_float(d);
        break;
    }
    case VT_R8:
        hr = double_from_number(x, &out.dblVal);
        break;
    case VT_DATE: {
        hr = double_from_number(x, &out.date);
        if (SUCCEEDED(hr) && (out.date < -657434.0 || out.date >= 2958466.0)) hr = DISP_E_OVERFLOW;
        break;
    }
    case VT_CY:
        hr = cy_from_number(x, &out.cyVal);
        break;
    case VT_DECIMAL: {
        DECIMAL d;
        hr = decimal_from_number(x, &d);
        if (SUCCEEDED(hr)) out.decVal = d;
        break;
    }
    default:
        return DISP_E_BADVARTYPE;
    }
    if (FAILED(hr)) return hr;
    out.vt = vt;
    return S_OK;
}
} // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, std::uint16_t, VARTYPE vt) {
    if (!dest || !source) return E_INVALIDARG;
    if ((source->vt & (VT_ARRAY | VT_BYREF)) || (vt & (VT_ARRAY | VT_BYREF))) return DISP_E_BADVARTYPE;
    VARIANT out;
    VariantInit(&out);
    HRESULT hr = change_type(out, source, vt);
    if (FAILED(hr)) return hr;
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&out);
        return hr;
    }
    *dest = out;
    return S_OK;
}

HRESULT VarCyFromStr(const OLECHAR* text, LCID, std::uint32_t, CY* out) {
    if (!out) return E_INVALIDARG;
    if (!text) return DISP_E_TYPEMISMATCH;
    bool neg;
    std::uint64_t plain;
    int decimals;
    if (parse_plain(std::u16string_view(text), neg, plain, decimals) && decimals <= 4) {
        static constexpr std::uint64_t scales[] = {10000, 1000, 100, 10, 1};
        u128 magnitude = u128(plain) * scales[decimals];
        if (magnitude > (neg ? (u128(1) << 63) : (u128(1) << 63) - 1)) return DISP_E_OVERFLOW;
        out->int64 = neg ? (magnitude ? -std::int64_t(magnitude - 1) - 1 : 0) : std::int64_t(magnitude);
        return S_OK;
    }
    number x;
    if (!parse_number(std::u16string_view(text), x)) return DISP_E_TYPEMISMATCH;
    return cy_from_number(x, out);
}

HRESULT VarDecFromStr(const OLECHAR* text, LCID, std::uint32_t, DECIMAL* out) {
    bool exact;
    return ole_dec_from_str(text, out, &exact);
}

HRESULT ole_dec_from_str(const OLECHAR* text, DECIMAL* out, bool* exact) {
    if (!out || !exact) return E_INVALIDARG;
    if (!text) return DISP_E_TYPEMISMATCH;
    bool neg;
    std::uint64_t plain;
    int decimals;
    if (parse_plain(std::u16string_view(text), neg, plain, decimals)) {
        *out = DECIMAL{};
        out->scale = std::uint8_t(decimals);
        out->sign = neg ? DECIMAL_NEG : 0;
        out->Lo64 = plain;
        *exact = true;
        return S_OK;
    }
    number x;
    if (!parse_number(std::u16string_view(text), x)) return DISP_E_TYPEMISMATCH;
    return decimal_from_number(x, out, exact);
}

HRESULT VarR8FromStr(const OLECHAR* text, LCID, std::uint32_t, double* out) {
    if (!out) return E_INVALIDARG;
    if (!text) return DISP_E_TYPEMISMATCH;
    number x;
    if (!parse_number(std::u16string_view(text), x)) return DISP_E_TYPEMISMATCH;
    return double_from_number(x, out);
}

std::size_t ole_cy_to_chars(CY value, char* out) {
    return magnitude_chars(magnitude_of(value.int64), 4, value.int64 < 0, out);
}

std::size_t ole_dec_to_chars(const DECIMAL& value, char* out) {
    if (!decimal_ok(&value)) return 0;
    return magnitude_chars(decimal_magnitude(&value), value.scale, value.sign & DECIMAL_NEG, out);
}

HRESULT VarBstrFromCy(CY value, LCID, std::uint32_t, BSTR* out) {
    if (!out) return E_INVALIDARG;
    std::u16string text = magnitude_text(magnitude_of(value.int64), 4, value.int64 < 0);
    *out = SysAllocStringLen(text.data(), std::uint32_t(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT VarBstrFromDec(const DECIMAL* value, LCID, std::uint32_t, BSTR* out) {
    if (!out || !decimal_ok(value)) return E_INVALIDARG;
    std::u16string text = magnitude_text(decimal_magnitude(value), value->scale, value->sign & DECIMAL_NEG);
    *out = SysAllocStringLen(text.data(), std::uint32_t(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT VarR8FromCy(CY value, double* out) {
    if (!out) return E_INVALIDARG;
    *out = double(value.int64) / double(cy_scale);
    return S_OK;
}

HRESULT VarR8FromDec(const DECIMAL* value, double* out) {
    if (!out || !decimal_ok(value)) return E_INVALIDARG;
    return double_from_number(number_from_decimal(value), out);
}

HRESULT VarI4FromDec(const DECIMAL* value, std::int32_t* out) {
    if (!out || !decimal_ok(value)) return E_INVALIDARG;
    std::int64_t s;
    std::uint64_t u;
    HRESULT hr = integer_from_number(number_from_decimal(value), u128(1) << 31, (u128(1) << 31) - 1, s, u);
    if (SUCCEEDED(hr)) *out = static_cast<std::int32_t>(s);
    return hr;
}

HRESULT VarI4FromR8(double value, std::int32_t* out) {
    if (!out) return E_INVALIDARG;
    number x;
    HRESULT hr = number_from_double(value, x);
    if (FAILED(hr)) return hr;
    std::int64_t s;
    std::uint64_t u;
    hr = integer_from_number(x, u128(1) << 31, (u128(1) << 31) - 1, s, u);
    if (SUCCEEDED(hr)) *out = static_cast<std::int32_t>(s);
    return hr;
}

HRESULT VarI8FromR8(double value, std::int64_t* out) {
    if (!out) return E_INVALIDARG;
    number x;
    HRESULT hr = number_from_double(value, x);
    if (FAILED(hr)) return hr;
    std::uint64_t u;
    return integer_from_number(x, u128(1) << 63, (u128(1) << 63) - 1, *out, u);
}

HRESULT VarCyFromR8(double value, CY* out) {
    if (!out) return E_INVALIDARG;
    number x;
    HRESULT hr = number_from_double(value, x);
    return FAILED(hr) ? hr : cy_from_number(x, out);
}

HRESULT VarDecFromR8(double value, DECIMAL* out) {
    if (!out) return E_INVALIDARG;
    number x;
    HRESULT hr = number_from_double(value, x);
    return FAILED(hr) ? hr : decimal_from_number(x, out);
}

HRESULT VarDecFromI8(std::int64_t value, DECIMAL* out) {
    if (!out) return E_INVALIDARG;
    return decimal_from_number(number_from_magnitude(magnitude_of(value), value < 0, 0), out);
}

HRESULT VarDecFromUI8(std::uint64_t value, DECIMAL* out) {
    if (!out) return E_INVALIDARG;
    return decimal_from_number(number_from_magnitude(value, false, 0), out);
}

HRESULT VarDecFromCy(CY value, DECIMAL* out) {
    if (!out) return E_INVALIDARG;
    // Always four decimals, as the currency holds them.
    u128 magnitude = magnitude_of(value.int64);
    *out = DECIMAL{};
    out->scale = 4;
    out->sign = value.int64 < 0 ? DECIMAL_NEG : 0;
    out->Lo64 = std::uint64_t(magnitude);
    return S_OK;
}

HRESULT VarCyFromDec(const DECIMAL* value, CY* out) {
    if (!out || !decimal_ok(value)) return E_INVALIDARG;
    return cy_from_number(number_from_decimal(value), out);
}
