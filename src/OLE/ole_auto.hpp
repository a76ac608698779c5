#pragma once

// A small portable OLE Automation subset: the types and conversions the values need, with the
// results Windows documents (locale 1033: '.' decimal point; currency scale 10,000; banker's
// rounding where Automation rounds; DATE counts days from 1899-12-30).

#include <cstddef>
#include <cstdint>

// Results.
using HRESULT = std::int32_t;
using SCODE = HRESULT;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000Du);

#ifndef SUCCEEDED
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#endif

// Basic types.
using OLECHAR = char16_t;
using BSTR = OLECHAR*; // UTF-16, its length stored before the first character
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double; // days since 1899-12-30; the fraction is the time of day
using LCID = std::uint32_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LCID_ENGLISH_US = 1033;

// Type tags.
enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_SAFEARRAY = 27,
    VT_BLOB = 65,
    VT_BLOB_OBJECT = 70,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

// Currency: a signed amount scaled by 10,000.
struct CY {
    std::int64_t int64;
};

// Decimal: a 96-bit magnitude, a scale of 0 to 28 and a sign (DECIMAL_NEG).
struct DECIMAL {
    std::uint16_t wReserved;
    std::uint8_t scale;
    std::uint8_t sign;
    std::uint32_t Hi32;
    std::uint64_t Lo64;
};
constexpr std::uint8_t DECIMAL_NEG = 0x80;

struct SYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

// Arrays: only one-dimensional arrays of bytes are made here.
struct SAFEARRAYBOUND {
    std::uint32_t cElements;
    std::int32_t lLbound;
};

struct SAFEARRAY {
    std::uint16_t cDims;
    std::uint16_t fFeatures;
    std::uint32_t cbElements;
    std::uint32_t cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};

struct VARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1;
    std::uint16_t wReserved2;
    std::uint16_t wReserved3;
    union {
        std::int64_t llVal;
        std::uint64_t ullVal;
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::int16_t iVal;
        std::uint16_t uiVal;
        signed char cVal;
        unsigned char bVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        int intVal;
        unsigned int uintVal;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        SAFEARRAY* parray;
        void* byref;
        DECIMAL decVal;
    };
};
using VARIANTARG = VARIANT;

// Strings. A null BSTR counts as the empty string.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, std::uint32_t length); // null text: zero-filled
void SysFreeString(BSTR text);
std::uint32_t SysStringLen(BSTR text);
// For text about to be read into its place: a BSTR of `length` characters, unwritten but for its
// terminator. ole_bstr_resize keeps the first characters (the string may move); null, and the old
// string still valid, when there is no memory.
BSTR ole_bstr_alloc(std::uint32_t length);
BSTR ole_bstr_resize(BSTR text, std::uint32_t length);

// Arrays (element type VT_UI1 only).
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lower_bound, std::uint32_t count);
// For bytes about to be read into it: a vector of `count` bytes from 0, left unwritten.
SAFEARRAY* ole_byte_array(std::uint32_t count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayRedim(SAFEARRAY* array, SAFEARRAYBOUND* bound);
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);
std::uint32_t SafeArrayGetDim(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);

// Variants.
void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);
// Changes to the numeric types, VT_BOOL, VT_CY, VT_DECIMAL, VT_DATE and VT_BSTR. Texts are read
// as English (United States); a text that is no number gives DISP_E_TYPEMISMATCH, a number out of
// the target's range DISP_E_OVERFLOW. dest may be source.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, std::uint16_t flags, VARTYPE vt);

// Numbers from and to text (the locale is accepted and read as English, United States).
HRESULT VarCyFromStr(const OLECHAR* text, LCID locale, std::uint32_t flags, CY* out);
HRESULT VarDecFromStr(const OLECHAR* text, LCID locale, std::uint32_t flags, DECIMAL* out);
HRESULT VarR8FromStr(const OLECHAR* text, LCID locale, std::uint32_t flags, double* out);
HRESULT VarBstrFromCy(CY value, LCID locale, std::uint32_t flags, BSTR* out);
HRESULT VarBstrFromDec(const DECIMAL* value, LCID locale, std::uint32_t flags, BSTR* out);

// VarDecFromStr that also tells whether the decimal holds the text's value exactly: like the
// platform, it rounds away digits beyond 28 decimals or 96 bits.
HRESULT ole_dec_from_str(const OLECHAR* text, DECIMAL* out, bool* exact);

// The same texts without a BSTR, into `out` (room for 64 characters); the length, 0 for a decimal
// that is not valid.
std::size_t ole_cy_to_chars(CY value, char* out);
std::size_t ole_dec_to_chars(const DECIMAL& value, char* out);

// Numbers between types; rounding to integers is banker's rounding.
HRESULT VarR8FromCy(CY value, double* out);
HRESULT VarR8FromDec(const DECIMAL* value, double* out);
HRESULT VarI4FromDec(const DECIMAL* value, std::int32_t* out);
HRESULT VarI4FromR8(double value, std::int32_t* out);
HRESULT VarI8FromR8(double value, std::int64_t* out);
HRESULT VarCyFromR8(double value, CY* out);
HRESULT VarDecFromR8(double value, DECIMAL* out);
HRESULT VarDecFromI8(std::int64_t value, DECIMAL* out);
HRESULT VarDecFromUI8(std::uint64_t value, DECIMAL* out);
HRESULT VarDecFromCy(CY value, DECIMAL* out);
HRESULT VarCyFromDec(const DECIMAL* value, CY* out);

// Dates. The parser reads English (United States) texts: month/day/year with '/', '-' or '.',
// year-month-day, month names and abbreviations, and a time h:mm[:ss] with AM or PM.
HRESULT VarDateFromStr(const OLECHAR* text, LCID locale, std::uint32_t flags, DATE* out);
// "12/31/2005 11:59:59 PM"; the date alone at midnight, the time alone on day 0.
HRESULT VarBstrFromDate(DATE value, LCID locale, std::uint32_t flags, BSTR* out);
// Both answer nonzero on success. Years 100 to 9999; the time is rounded to the second.
int SystemTimeToVariantTime(const SYSTEMTIME* time, DATE* out);
int VariantTimeToSystemTime(DATE value, SYSTEMTIME* out);

// A double read for a real: rounded to the nearest float, so that the largest real's 9-digit text
// (3.40282347e+38, a little above FLT_MAX) is FLT_MAX again. Only a value that rounds beyond the
// float range does not fit.
inline bool ole_fits_float(double value) {
    // Halfway between FLT_MAX and the next power of two: from there on the value rounds to infinity.
    constexpr double limit = 0x1.ffffffp+127;
    return value < limit && value > -limit;
}
inline float ole_round_to_float(double value) {
    constexpr double largest = 3.40282346638528859811704183484516925e+38; // FLT_MAX
    if (value > largest) return static_cast<float>(largest);
    if (value < -largest) return static_cast<float>(-largest);
    return static_cast<float>(value);
}
