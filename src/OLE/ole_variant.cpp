#include "OLE/ole_variant.hpp"

#include "OLE/ole_date.hpp"
#include "OLE/ole_type_exception.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {
const char source_name[] = "ole_var";
constexpr VARTYPE byte_array = VT_ARRAY | VT_UI1;

bool is_ascii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}
bool is_ascii(std::u16string_view text) {
    for (char16_t c : text)
        if (c >= 0x80) return false;
    return true;
}

// atoi's reading: blanks, a sign, digits up to the first other character. Saturates at the
// 64-bit limits instead of overflowing.
std::int64_t read_integer(std::string_view text, bool& negative, std::uint64_t& magnitude, bool& any) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    magnitude = 0;
    any = false;
    bool saturated = false;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        any = true;
        unsigned digit = unsigned(text[i] - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            saturated = true;
            magnitude = std::numeric_limits<std::uint64_t>::max();
        } else if (!saturated) {
            magnitude = magnitude * 10 + digit;
        }
    }
    constexpr std::uint64_t max_positive = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    if (negative)
        return magnitude > max_positive ? std::numeric_limits<std::int64_t>::min() : -std::int64_t(magnitude);
    return magnitude > max_positive ? std::numeric_limits<std::int64_t>::max() : std::int64_t(magnitude);
}

std::int64_t atoi64(std::string_view text) {
    bool negative, any;
    std::uint64_t magnitude;
    return read_integer(text, negative, magnitude, any);
}

// atoi clamps to the 32-bit range on overflow.
std::int32_t atoi32(std::string_view text) {
    std::int64_t value = atoi64(text);
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(value);
}

// scanf's "%u" family: a minus sign negates modulo 2^64; nothing read gives 0.
std::uint64_t scan_unsigned(std::string_view text) {
    bool negative, any;
    std::uint64_t magnitude;
    read_integer(text, negative, magnitude, any);
    if (!any) return 0;
    return negative ? 0 - magnitude : magnitude;
}

// atof without the locale: the point is always '.'.
double atof_c(const std::string& text) {
    static locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(text.c_str(), nullptr, c_locale);
}

// "%.Ne" with an exponent of at least three digits, as the export has always written it.
void append_exponent_form(std::string& out, double value, int precision) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision);
    if (ec != std::errc()) return;
    char* e = static_cast<char*>(std::memchr(buf, 'e', size_t(end - buf)));
    if (!e) {
        out.append(buf, end);
        return;
    }
    out.append(buf, e + 2); // mantissa, 'e' and sign
    size_t exponent_digits = size_t(end - (e + 2));
    if (exponent_digits < 3) out.append(3 - exponent_digits, '0');
    out.append(e + 2, end);
}

template <class T> void append_integer(std::string& out, T value) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec == std::errc()) out.append(buf, end);
}

unsigned hex_digit(char c) {
    if (c >= '0' && c <= '9') return unsigned(c - '0');
    if (c >= 'a' && c <= 'f') return unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return unsigned(c - 'A' + 10);
    return 16;
}

// One pair of characters read as "%02X" would read it on its own.
unsigned char read_hex_pair(char a, char b) {
    unsigned high = hex_digit(a), low = hex_digit(b);
    if (high < 16 && low < 16) return static_cast<unsigned char>(high * 16 + low);
    char pair[3] = {a, b, 0};
    unsigned value = 0;
    if (std::sscanf(pair, "%02X", &value) != 1) return 0;
    return static_cast<unsigned char>(value);
}

std::string narrow(std::u16string_view text) {
    if (is_ascii(text)) return std::string(text.begin(), text.end());
    return tk_to_ansi_lossy(text);
}

std::u16string widen(std::string_view text) {
    if (is_ascii(text)) return std::u16string(text.begin(), text.end());
    return tk_ansi_to_wstring(text);
}
} // namespace

ole_variant::ole_variant() noexcept {
    VariantInit(&var);
}

ole_variant::ole_variant(bool value) {
    TK_TRACE(1, "ole_variant::ctor from bool (%d)", int(value));
    VariantInit(&var);
    var.vt = VT_BOOL;
    var.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

ole_variant::ole_variant(char value) : ole_variant(static_cast<signed char>(value)) {}

ole_variant::ole_variant(signed char value) {
    TK_TRACE(1, "ole_variant::ctor from char(%d)", int(value));
    VariantInit(&var);
    var.vt = VT_I1;
    var.cVal = value;
}

ole_variant::ole_variant(unsigned char value) {
    TK_TRACE(1, "ole_variant::ctor from byte(%d)", int(value));
    VariantInit(&var);
    var.vt = VT_UI1;
    var.bVal = value;
}

ole_variant::ole_variant(short value) {
    TK_TRACE(1, "ole_variant::ctor from short(%d)", int(value));
    VariantInit(&var);
    var.vt = VT_I2;
    var.iVal = value;
}

ole_variant::ole_variant(unsigned short value) {
    TK_TRACE(1, "ole_variant::ctor from ushort(%d)", int(value));
    VariantInit(&var);
    var.vt = VT_UI2;
    var.uiVal = value;
}

ole_variant::ole_variant(int value) {
    TK_TRACE(1, "ole_variant::ctor from int(%d)", value);
    VariantInit(&var);
    var.vt = VT_I4;
    var.lVal = value;
}

ole_variant::ole_variant(unsigned int value) {
    TK_TRACE(1, "ole_variant::ctor from uint(%u)", value);
    VariantInit(&var);
    var.vt = VT_UI4;
    var.ulVal = value;
}

ole_variant::ole_variant(long value) : ole_variant(static_cast<long long>(value)) {}

ole_variant::ole_variant(long long value) {
    TK_TRACE(1, "ole_variant::ctor(hyper, %lld)", value);
    VariantInit(&var);
    var.vt = VT_I8;
    var.llVal = value;
    hyper = value;
}

ole_variant::ole_variant(unsigned long value) : ole_variant(static_cast<unsigned long long>(value)) {}

ole_variant::ole_variant(unsigned long long value) {
    TK_TRACE(1, "ole_variant::ctor(uhyper, %llu)", value);
    VariantInit(&var);
    var.vt = VT_UI8;
    var.ullVal = value;
    uhyper = value;
}

ole_variant::ole_variant(float value) {
    TK_TRACE(1, "ole_variant::ctor from float(%f)", double(value));
    VariantInit(&var);
    var.vt = VT_R4;
    var.fltVal = value;
}

ole_variant::ole_variant(double value) {
    TK_TRACE(1, "ole_variant::ctor from double(%e)", value);
    VariantInit(&var);
    var.vt = VT_R8;
    var.dblVal = value;
}

ole_variant::ole_variant(const SYSTEMTIME& value) {
    TK_TRACE(1, "Construct ole_variant from SYSTEMTIME");
    VariantInit(&var);
    set_date(value);
}

ole_variant::ole_variant(const CY& value) {
    TK_TRACE(1, "Construct ole_variant from CY");
    VariantInit(&var);
    var.vt = VT_CY;
    var.cyVal = value;
}

ole_variant::ole_variant(const DECIMAL& value) {
    TK_TRACE(1, "Construct ole_variant from DECIMAL");
    VariantInit(&var);
    var.decVal = value;
    var.vt = VT_DECIMAL;
}

ole_variant::ole_variant(const OLECHAR* value) {
    TK_TRACE(1, "Construct ole_variant from BSTR");
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(value);
    TK_ASSERT(var.bstrVal || !value, source_name);
}

ole_variant::ole_variant(const char* value) : ole_variant(std::string(value ? value : "")) {}

ole_variant::ole_variant(const std::string& value) {
    TK_TRACE(1, "ole_variant::ctor from string(%s)", value.c_str());
    VariantInit(&var);
    attach_string(value);
}

ole_variant::ole_variant(const std::u16string& value) {
    TK_WTRACE(1, u"ole_variant::ctor from wstring(%s)", value.c_str());
    VariantInit(&var);
    attach_wstring(value);
}

ole_variant::ole_variant(const std::vector<unsigned char>& bytes) {
    VariantInit(&var);
    attach_binary(bytes);
}

ole_variant::ole_variant(std::size_t length, const unsigned char* bytes) {
    VariantInit(&var);
    attach_binary(length, bytes);
}

ole_variant::ole_variant(const ole_variant& other) {
    TK_TRACE(1, "ole_variant::copy ctor");
    VariantInit(&var);
    copy_from(other, true);
}

ole_variant::ole_variant(ole_variant&& other) noexcept
    : hyper(other.hyper), uhyper(other.uhyper), systime(other.systime), var(other.var) {
    VariantInit(&other.var);
    other.hyper = 0;
    other.uhyper = 0;
}

ole_variant& ole_variant::operator=(const ole_variant& other) {
    if (this == &other) return *this;
    release();
    copy_from(other, false);
    if (var.vt == VT_DATE)
        TK_TRACE(1, "%04d-%02d-%02d %02d:%02d:%02d", systime.wYear, systime.wMonth, systime.wDay,
                 systime.wHour, systime.wMinute, systime.wSecond);
    return *this;
}

ole_variant& ole_variant::operator=(ole_variant&& other) noexcept {
    if (this == &other) return *this;
    release();
    hyper = other.hyper;
    uhyper = other.uhyper;
    systime = other.systime;
    var = other.var;
    VariantInit(&other.var);
    other.hyper = 0;
    other.uhyper = 0;
    return *this;
}

ole_variant::~ole_variant() {
    release();
}

void ole_variant::release() noexcept {
    if (var.vt == VT_SAFEARRAY) {
        SafeArrayDestroy(var.parray);
        VariantInit(&var);
    } else if (FAILED(VariantClear(&var))) {
        VariantInit(&var);
    }
    hyper = 0;
    uhyper = 0;
}

void ole_variant::copy_from(const ole_variant& other, bool traced) {
    VARTYPE vt = other.var.vt;
    if (vt == VT_SAFEARRAY || vt == byte_array) {
        if (traced) TK_TRACE(1, "Special processing for VT_SAFEARRAY");
        var = other.var;
        if (!other.var.parray) return;
        var.parray = nullptr;
        if (SUCCEEDED(SafeArrayCopy(other.var.parray, &var.parray)) && var.parray) {
            var.vt = byte_array;
        } else {
            VariantInit(&var);
            var.vt = VT_ERROR;
        }
        return;
    }
    if (FAILED(VariantCopy(&var, &other.var))) {
        VariantInit(&var);
        var.vt = VT_ERROR;
        return;
    }
    if (vt == VT_DATE) {
        if (traced) TK_TRACE(1, "Special processing for VT_DATE");
        systime = other.systime;
    } else if (vt == VT_I8 || vt == VT_UI8) {
        if (traced) TK_TRACE(1, "Special processing for VT_(U)I8 type");
        hyper = other.hyper;
        uhyper = other.uhyper;
    }
}

void ole_variant::set_date(const SYSTEMTIME& value) {
    var.vt = VT_DATE;
    systime = value;
    if (!SystemTimeToVariantTime(&systime, &var.date)) {
        TK_TRACE(2, "Failed to convert SYSTEMTIME->VARIANT");
        var.date = 0;
    }
}

std::string ole_variant::to_string() const {
    std::string out;
    append_string(out);
    return out;
}

std::u16string ole_variant::to_wstring() const {
    if (var.vt == VT_BSTR) {
        if (!var.bstrVal) return {};
        std::u16string_view text(var.bstrVal, SysStringLen(var.bstrVal));
        return std::u16string(text.substr(0, text.find(u'\0')));
    }
    if (var.vt == byte_array) {
        // Straight to wide text: a large array is not held twice.
        std::span<const unsigned char> bytes = get_binary();
        if (bytes.empty() || var.parray->cDims != 1) return {};
        TK_TRACE(1, "ole_variant::to_string (vt=%08X)", unsigned(var.vt));
        TK_TRACE(1, "Converting VT_ARRAY");
        static const char16_t digits[] = u"0123456789ABCDEF";
        std::u16string out(2 + 2 * bytes.size(), u'0');
        out[1] = u'x';
        char16_t* p = out.data() + 2;
        for (unsigned char b : bytes) {
            *p++ = digits[b >> 4];
            *p++ = digits[b & 15];
        }
        return out;
    }
    // Every other form is ASCII; a reused buffer keeps numbers free of a second allocation.
    thread_local std::string text;
    text.clear();
    append_string(text);
    return std::u16string(text.begin(), text.end());
}

void ole_variant::append_string(std::string& out) const {
    TK_TRACE(1, "ole_variant::to_string (vt=%08X)", unsigned(var.vt));
    switch (var.vt) {
    case VT_I2:
        append_integer(out, int(var.iVal));
        break;
    case VT_I1:
        append_integer(out, int(var.cVal));
        break;
    case VT_I4:
        append_integer(out, var.lVal);
        break;
    case VT_UI1:
        append_integer(out, unsigned(var.bVal));
        break;
    case VT_UI2:
        append_integer(out, unsigned(var.uiVal));
        break;
    case VT_UI4:
        append_integer(out, var.ulVal);
        break;
    case VT_I8:
        append_integer(out, hyper);
        break;
    case VT_UI8:
        append_integer(out, uhyper);
        break;
    case VT_R4:
        append_exponent_form(out, double(var.fltVal), 6);
        break;
    case VT_R8:
        append_exponent_form(out, var.dblVal, 15);
        break;
    case VT_BOOL:
        TK_TRACE(1, "to_string - bool: %d", int(var.boolVal));
        TK_TRACE(1, "Mapping BOOL like ANSI!");
        out += var.boolVal == VARIANT_TRUE ? '1' : '0';
        break;
    case VT_CY: {
        TK_TRACE(1, "Converting VT_CY");
        char buf[64];
        out.append(buf, ole_cy_to_chars(var.cyVal, buf));
        break;
    }
    case VT_DECIMAL: {
        TK_TRACE(1, "Converting VT_DECIMAL");
        char buf[64];
        out.append(buf, ole_dec_to_chars(var.decVal, buf));
        break;
    }
    case VT_DATE:
        TK_TRACE(1, "Converting VT_DATE");
        ole_date(systime).append_string(out);
        break;
    case VT_BSTR:
        if (var.bstrVal) {
            std::u16string_view text(var.bstrVal, SysStringLen(var.bstrVal));
            out += narrow(text.substr(0, text.find(u'\0')));
        }
        break;
    case byte_array: {
        if (!var.parray || SafeArrayGetDim(var.parray) != 1) break;
        TK_TRACE(1, "Converting VT_ARRAY");
        std::size_t size = get_safe_array_size(var.parray);
        if (!size) break;
        // Every byte: a shortened text would lose data without a trace.
        std::size_t start = out.size();
        out.resize(start + 2 + 2 * size + 1);
        out[start] = '0';
        out[start + 1] = 'x';
        tk_bin_to_hex(static_cast<const unsigned char*>(var.parray->pvData), size, &out[start + 2]);
        out.pop_back();
        break;
    }
    default:
        break;
    }
}

double ole_variant::to_double() const {
    TK_TRACE(1, "ole_variant::to_double(%08X)", unsigned(var.vt));
    switch (var.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return 0;
    case VT_I2:
        return var.iVal;
    case VT_BOOL:
        return var.boolVal;
    case VT_I4:
        return var.lVal;
    case VT_R4:
        return var.fltVal;
    case VT_R8:
        return var.dblVal;
    case VT_I1:
        return var.cVal;
    case VT_UI1:
        return var.bVal;
    case VT_UI2:
        return var.uiVal;
    case VT_UI4:
        return var.ulVal;
    case VT_I8:
        return double(hyper);
    case VT_UI8:
        return double(uhyper);
    case VT_CY: {
        double result = 0;
        HRESULT hr = VarR8FromCy(var.cyVal, &result);
        TK_TRACE(1, "from CURRECY: res=%lg, hr=%08X", result, unsigned(hr));
        return result;
    }
    case VT_DECIMAL: {
        double result = 0;
        HRESULT hr = VarR8FromDec(&var.decVal, &result);
        TK_TRACE(1, "from DECIMAL: res=%lg, hr=%08X", result, unsigned(hr));
        return FAILED(hr) ? 0 : result;
    }
    default:
        throw tk_mail_assertion(source_name, __LINE__);
    }
}

std::int32_t ole_variant::to_long() const {
    TK_TRACE(1, "ole_variant::to_long(vt=%08X)", unsigned(var.vt));
    auto truncated = [](double value) -> std::int32_t {
        // An out-of-range conversion gives the "integer indefinite" value, whose low half is 0.
        if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) return 0;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(value)));
    };
    switch (var.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return 0;
    case VT_I2:
        return var.iVal;
    case VT_BOOL:
        return var.boolVal;
    case VT_I4:
        return var.lVal;
    case VT_UI4:
        return static_cast<std::int32_t>(var.ulVal);
    case VT_I1:
        return var.cVal;
    case VT_UI1:
        return var.bVal;
    case VT_UI2:
        return var.uiVal;
    case VT_R4:
        return truncated(var.fltVal);
    case VT_R8:
        return truncated(var.dblVal);
    case VT_I8:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(hyper));
    case VT_UI8:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(uhyper));
    case VT_DECIMAL: {
        std::int32_t result = 0;
        HRESULT hr = VarI4FromDec(&var.decVal, &result);
        TK_TRACE(1, "from DECIMAL, hr=%08X", unsigned(hr));
        return FAILED(hr) ? 0 : result;
    }
    default:
        throw tk_mail_assertion(source_name, __LINE__);
    }
}

bool ole_variant::to_bool() const {
    TK_TRACE(1, "ole_variant::to_bool(vt=%08X)", unsigned(var.vt));
    switch (var.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return false;
    case VT_BOOL:
        return var.boolVal == VARIANT_TRUE;
    case VT_I2:
        return var.iVal != 0;
    case VT_I4:
        return var.lVal != 0;
    case VT_R4:
        return var.fltVal != 0;
    case VT_R8:
        return var.dblVal != 0;
    case VT_I1:
        return var.cVal != 0;
    case VT_UI1:
        return var.bVal != 0;
    case VT_UI2:
        return var.uiVal != 0;
    case VT_UI4:
        return var.ulVal != 0;
    case VT_I8:
        return hyper != 0;
    case VT_UI8:
        return uhyper != 0;
    case VT_DECIMAL:
        return to_long() != 0;
    default:
        throw tk_mail_assertion(source_name, __LINE__);
    }
}

ole_variant& ole_variant::from_string(std::string_view text, VARTYPE type) {
    TK_TRACE(1, "ole_variant::from_string('%s', 0x%08X)", std::string(text).c_str(), unsigned(type));
    if (type == VT_BLOB || type == byte_array) {
        blob_from_string(text);
        return *this;
    }
    release();
    if (text.empty() && type != VT_BSTR) return *this;
    switch (type) {
    case VT_I2:
        var.iVal = static_cast<std::int16_t>(atoi32(text));
        break;
    case VT_I4:
        var.lVal = atoi32(text);
        break;
    case VT_I1:
        var.cVal = static_cast<signed char>(atoi32(text));
        break;
    case VT_UI1:
        var.bVal = static_cast<unsigned char>(atoi32(text));
        break;
    case VT_UI2:
        var.uiVal = static_cast<std::uint16_t>(atoi32(text));
        break;
    case VT_UI4:
        var.ulVal = static_cast<std::uint32_t>(scan_unsigned(text));
        break;
    case VT_I8:
        hyper = atoi64(text);
        var.llVal = hyper;
        break;
    case VT_UI8:
        uhyper = scan_unsigned(text);
        var.ullVal = uhyper;
        break;
    case VT_R4:
    case VT_R8: {
        // A plain number (a provider's text) reads in place, correctly rounded as strtod reads
        // it; any other text (a comma, blanks, a sign, out of range) takes the strtod way.
        double value;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size()) {
            std::string number(text);
            for (char& c : number)
                if (c == ',') c = '.';
            value = atof_c(number);
        }
        if (type == VT_R8) {
            var.dblVal = value;
        } else {
            var.fltVal = ole_fits_float(value) ? ole_round_to_float(value)
                         : value > 0        ? std::numeric_limits<float>::infinity()
                                            : -std::numeric_limits<float>::infinity();
        }
        break;
    }
    case VT_CY:
    case VT_DECIMAL: {
        if (!is_ascii(text)) {
            std::u16string number = widen(text);
            if (!number_from_text(number, type)) return *this;
            break;
        }
        // Plain digits (a provider's text) need no conversion through the locale.
        thread_local std::u16string number;
        number.assign(text.begin(), text.end());
        if (!number_from_text(number, type)) return *this;
        break;
    }
    case VT_DATE: {
        TK_TRACE(1, "GOT VT_DATE");
        ole_date date{std::string(text)};
        if (date.is_valid()) set_date(date.systemtime);
        return *this;
    }
    case VT_BOOL: {
        bool value;
        if (text == "yes" || text == "true")
            value = true;
        else if (text == "no" || text == "false")
            value = false;
        else
            value = atoi32(text) != 0;
        var.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    }
    default: {
        attach_string(text);
        HRESULT hr = VariantChangeType(&var, &var, 0, type);
        if (FAILED(hr)) throw ole_type_exception();
        TK_TRACE(1, "VariantChangeType succeeded");
        return *this;
    }
    }
    var.vt = type;
    return *this;
}

ole_variant& ole_variant::from_integer(std::int64_t value, VARTYPE type) {
    const std::int32_t clamped = value > std::numeric_limits<std::int32_t>::max()   ? std::numeric_limits<std::int32_t>::max()
                                 : value < std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::min()
                                                                                    : std::int32_t(value);
    switch (type) {
    case VT_I2:
        release();
        var.iVal = static_cast<std::int16_t>(clamped);
        break;
    case VT_I4:
        release();
        var.lVal = clamped;
        break;
    case VT_UI1:
        release();
        var.bVal = static_cast<unsigned char>(clamped);
        break;
    case VT_I8:
        release();
        hyper = value;
        var.llVal = value;
        break;
    case VT_BOOL:
        release();
        var.boolVal = clamped != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    default: {
        char digits[24];
        char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        return from_string(std::string_view(digits, end - digits), type);
    }
    }
    var.vt = type;
    return *this;
}

ole_variant& ole_variant::from_real(double value, VARTYPE type) {
    switch (type) {
    case VT_R8:
        release();
        var.dblVal = value;
        break;
    case VT_R4:
        release();
        var.fltVal = ole_fits_float(value) ? ole_round_to_float(value)
                     : value > 0        ? std::numeric_limits<float>::infinity()
                                        : -std::numeric_limits<float>::infinity();
        break;
    default: {
        char digits[40];
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 17);
        return from_string(std::string_view(digits, ec == std::errc() ? end : digits), type);
    }
    }
    var.vt = type;
    return *this;
}

ole_variant& ole_variant::from_decimal(const DECIMAL& value) {
    release();
    var.decVal = value;
    var.vt = VT_DECIMAL;
    return *this;
}

ole_variant& ole_variant::from_currency(CY value) {
    release();
    var.cyVal = value;
    var.vt = VT_CY;
    return *this;
}

ole_variant& ole_variant::from_time(int hour, int minute, int second, int millis) {
    release();
    SYSTEMTIME time{};
    time.wHour = static_cast<std::uint16_t>(hour);
    time.wMinute = static_cast<std::uint16_t>(minute);
    time.wSecond = static_cast<std::uint16_t>(second);
    time.wMilliseconds = static_cast<std::uint16_t>(millis);
    set_date(time);
    return *this;
}

bool ole_variant::number_from_text(std::u16string& number, VARTYPE type) {
    if (type == VT_CY)
        TK_TRACE(1, "GOT VT_CY");
    else
        TK_TRACE(1, "GOT VT_DECIMAL");
    for (char16_t& c : number)
        if (c == u',') c = u'.';
    HRESULT hr;
    if (type == VT_CY) {
        hr = VarCyFromStr(number.c_str(), LCID_ENGLISH_US, 0, &var.cyVal);
    } else {
        // A value the decimal would round (numeric(38) holds more digits) is no decimal:
        // the caller keeps its text rather than a changed number.
        bool exact = false;
        hr = ole_dec_from_str(number.c_str(), &var.decVal, &exact);
        if (SUCCEEDED(hr) && !exact) hr = DISP_E_OVERFLOW;
    }
    if (FAILED(hr)) {
        if (type == VT_CY)
            TK_TRACE(3, "VarCyFromStr failed: %08X", unsigned(hr));
        else
            TK_TRACE(3, "VarDecFromStr failed: %08X", unsigned(hr));
        VariantInit(&var);
        return false;
    }
    return true;
}

ole_variant& ole_variant::from_wstring(std::u16string_view text, VARTYPE type) {
    TK_TRACE(1, "ole_variant::from_wstring");
    if (type == VT_BSTR) {
        attach_wstring(text);
        return *this;
    }
    if ((type == VT_CY || type == VT_DECIMAL) && is_ascii(text)) {
        // Straight from the provider's text: its narrow copy would only be widened again.
        release();
        if (text.empty()) return *this;
        thread_local std::u16string number;
        number.assign(text);
        if (number_from_text(number, type)) var.vt = type;
        return *this;
    }
    return from_string(narrow(text), type);
}

void ole_variant::blob_from_string(std::string_view text) {
    TK_TRACE(1, "Got BLOB size: %d", int(text.size()));
    release();
    if (text.empty()) {
        TK_TRACE(1, "Empty BLOB");
        return;
    }
    if (text.size() % 2) {
        TK_TRACE(2, "Incorrect BLOB (size is odd)");
        return;
    }
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    allocate_safe_array(text.size() / 2);
    auto* bytes = static_cast<unsigned char*>(var.parray->pvData);
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes[i / 2] = read_hex_pair(text[i], text[i + 1]);
}

void ole_variant::attach_string(std::string_view text) {
    TK_TRACE(1, "ole_variant::attach_string('%s')", std::string(text).c_str());
    std::u16string wide = widen(text);
    release();
    var.bstrVal = SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
    TK_ASSERT(var.bstrVal, source_name);
    var.vt = VT_BSTR;
}

void ole_variant::attach_wstring(std::u16string_view text) {
    TK_WTRACE(1, u"ole_variant::attach_wstring('%s')", std::u16string(text).c_str());
    TK_ASSERT(text.size() < 0x7FFFFFFF, source_name);
    // A string of the same length takes the place of the old one: a record's field is refilled
    // row after row, and a column's values often share a length (a GUID always does).
    if (var.vt == VT_BSTR && var.bstrVal && SysStringLen(var.bstrVal) == text.size()) {
        if (!text.empty()) std::memmove(var.bstrVal, text.data(), text.size() * sizeof(char16_t));
        return;
    }
    release();
    var.bstrVal = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    TK_ASSERT(var.bstrVal, source_name);
    var.vt = VT_BSTR;
}

void ole_variant::attach_binary(const std::vector<unsigned char>& bytes) {
    TK_TRACE(1, "ole_variant::attach_binary(1)");
    allocate_safe_array(bytes.size());
    if (!bytes.empty()) std::memcpy(var.parray->pvData, bytes.data(), bytes.size());
}

void ole_variant::attach_binary(std::size_t length, const unsigned char* bytes) {
    TK_TRACE(1, "ole_variant::attach_binary(2)");
    // No bytes at all may come without a buffer.
    TK_ASSERT(bytes || length == 0, source_name);
    allocate_safe_array(length);
    if (length) std::memcpy(var.parray->pvData, bytes, length);
}

// The trace lines of attach_wstring and attach_binary: the log reads the same whichever way the
// value came.
void ole_variant::adopt_bstr(BSTR text) {
    release();
    var.bstrVal = text ? text : SysAllocStringLen(nullptr, 0);
    var.vt = var.bstrVal ? VARTYPE(VT_BSTR) : VARTYPE(VT_ERROR);
    TK_WTRACE(1, u"ole_variant::attach_wstring('%s')", std::u16string(get_bstr()).c_str());
}

void ole_variant::adopt_array(SAFEARRAY* bytes) {
    release();
    var.parray = bytes ? bytes : SafeArrayCreateVector(VT_UI1, 0, 0);
    var.vt = var.parray ? byte_array : VARTYPE(VT_ERROR);
    TK_TRACE(1, "ole_variant::attach_binary(2)");
    TK_TRACE(1, "ole_variant::allocate_safe_array (size=%d)", int(get_binary().size()));
}

void ole_variant::allocate_safe_array(std::size_t size) {
    TK_TRACE(1, "ole_variant::allocate_safe_array (size=%d)", int(size));
    TK_ASSERT(size <= 0xFFFFFFFFu, source_name);
    if (var.vt == byte_array && var.parray && SafeArrayGetDim(var.parray) == 1) {
        TK_TRACE(1, "Redimension array");
        // An empty array (upper bound one below the lower) is re-dimensioned like any other.
        if (get_safe_array_size(var.parray) == size) return;
        SAFEARRAYBOUND bound{static_cast<std::uint32_t>(size), var.parray->rgsabound[0].lLbound};
        TK_ASSERT(SUCCEEDED(SafeArrayRedim(var.parray, &bound)), source_name);
        return;
    }
    release();
    var.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<std::uint32_t>(size));
    TK_ASSERT(var.parray, source_name);
    var.vt = byte_array;
}

std::size_t ole_variant::get_safe_array_size(SAFEARRAY* array) {
    TK_TRACE(1, "get_safe_array_size");
    std::int32_t lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    TK_TRACE(1, "lower=%d, upper=%d", lower, upper);
    if (upper < lower) return 0;
    return std::size_t(std::int64_t(upper) - lower + 1);
}

std::span<const unsigned char> ole_variant::get_binary() const noexcept {
    if (var.vt != byte_array || !var.parray || var.parray->cDims != 1 || !var.parray->pvData) return {};
    return {static_cast<const unsigned char*>(var.parray->pvData), var.parray->rgsabound[0].cElements};
}

std::u16string_view ole_variant::get_bstr() const noexcept {
    if (var.vt != VT_BSTR || !var.bstrVal) return {};
    return {var.bstrVal, SysStringLen(var.bstrVal)};
}
