#pragma once

#include "OLE/ole_auto.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The value of every column: a VARIANT with side slots for the 64-bit integers and the date-time.
// It owns its BSTR and its byte array.
class ole_variant {
public:
    ole_variant() noexcept;
    ole_variant(bool value);
    ole_variant(char value);          // VT_I1
    ole_variant(signed char value);   // VT_I1
    ole_variant(unsigned char value); // VT_UI1
    ole_variant(short value);
    ole_variant(unsigned short value);
    ole_variant(int value);
    ole_variant(unsigned int value);
    ole_variant(long value); // 64-bit here: VT_I8
    ole_variant(long long value);
    ole_variant(unsigned long value); // VT_UI8
    ole_variant(unsigned long long value);
    ole_variant(float value);
    ole_variant(double value);
    ole_variant(const SYSTEMTIME& value);
    ole_variant(const CY& value);
    ole_variant(const DECIMAL& value);
    ole_variant(const OLECHAR* value); // a copy; a null pointer gives a null string
    ole_variant(const char* value);    // narrow text in the locale's encoding
    ole_variant(const std::string& value);
    ole_variant(const std::u16string& value);
    ole_variant(const std::vector<unsigned char>& bytes);
    ole_variant(std::size_t length, const unsigned char* bytes);

    ole_variant(const ole_variant& other);
    ole_variant(ole_variant&& other) noexcept;
    ole_variant& operator=(const ole_variant& other);
    ole_variant& operator=(ole_variant&& other) noexcept;
    virtual ~ole_variant();

    // The text form of the value; to_wstring of a string ends at its first NUL character.
    virtual std::string to_string() const;
    virtual std::u16string to_wstring() const;
    // The narrow text form appended to `out`: no allocation for numbers once `out` has room.
    void append_string(std::string& out) const;

    VARTYPE vt() const noexcept { return var.vt; }
    bool is_empty() const noexcept { return var.vt == VT_EMPTY || var.vt == VT_NULL; }

    double to_double() const;
    std::int32_t to_long() const;
    bool to_bool() const;

    // Replace the value by `text` read as `type`. Unreadable currency, decimal, date and byte
    // texts give VT_EMPTY; other types the platform cannot convert raise ole_type_exception.
    ole_variant& from_string(std::string_view text, VARTYPE type);
    ole_variant& from_wstring(std::u16string_view text, VARTYPE type);
    // The same for a number that came as one: the value from_string gives its decimal text.
    ole_variant& from_integer(std::int64_t value, VARTYPE type);
    ole_variant& from_real(double value, VARTYPE type);
    ole_variant& from_decimal(const DECIMAL& value);
    ole_variant& from_currency(CY value);
    // A time of day, as its text "hh:mm:ss[.fff]" reads.
    ole_variant& from_time(int hour, int minute, int second, int millis);

    void attach_string(std::string_view text);
    void attach_wstring(std::u16string_view text);
    void attach_binary(const std::vector<unsigned char>& bytes);
    void attach_binary(std::size_t length, const unsigned char* bytes);
    // Take over a string or a one-dimensional byte array (a null one is empty) instead of copying
    // it: a long value exists once.
    void adopt_bstr(BSTR text);
    void adopt_array(SAFEARRAY* bytes);
    void allocate_safe_array(std::size_t size);
    static std::size_t get_safe_array_size(SAFEARRAY* array);

    // The bytes of a one-dimensional byte array; empty for any other value.
    std::span<const unsigned char> get_binary() const noexcept;
    // The string of a VT_BSTR value with all its characters; empty for any other value.
    std::u16string_view get_bstr() const noexcept;

    std::int64_t hyper = 0;   // VT_I8
    std::uint64_t uhyper = 0; // VT_UI8
    SYSTEMTIME systime{};     // VT_DATE: the value itself; var.date is 0 when no DATE can hold it
    VARIANT var;

private:
    void release() noexcept;
    void copy_from(const ole_variant& other, bool traced);
    void set_date(const SYSTEMTIME& value);
    void blob_from_string(std::string_view text);
    // Currency or decimal from its text (',' read as '.'); false, and the value empty, when the
    // text is no such number.
    bool number_from_text(std::u16string& number, VARTYPE type);
};
