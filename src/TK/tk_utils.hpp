#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Narrow text is in the encoding of the process locale (the C locale counts as UTF-8);
// wide text is UTF-16.
const std::string& tk_ansi_codeset();
bool tk_ansi_is_utf8();
// Forgets the cached encoding, for a program or test that changed LC_CTYPE.
void tk_reset_ansi_codeset();

std::u16string tk_utf8_to_wstring(std::string_view text);        // throws on invalid input
std::u16string tk_utf8_to_wstring_lossy(std::string_view text);  // U+FFFD for invalid bytes
std::string tk_to_utf8(std::u16string_view text);                // lone surrogates become U+FFFD
void tk_append_utf8(std::string& out, std::u16string_view text); // the same, appended to `out`
std::u16string tk_ansi_to_wstring(std::string_view text);        // throws on invalid input
// Text shown to people: '?' stands for a character the narrow encoding lacks.
std::string tk_to_ansi_lossy(std::u16string_view text);
// Exact conversions; false for a null input or a character the encoding lacks.
bool tk_to_ansi(const char16_t* text, std::string& out);
bool tk_to_ansi(std::u16string_view text, std::string& out);
bool tk_to_unicode(const char* text, std::u16string& out);

// Two upper-case hexadecimal digits per byte, then a terminating zero; out holds 2 * size + 1.
void tk_bin_to_hex(const unsigned char* bytes, size_t size, char* out);

// Only the blank (code 32) is white space here; tabs and line breaks stay.
template <class S> S tk_ltrim(const S& text) {
    size_t first = text.find_first_not_of(typename S::value_type(' '));
    return first == S::npos ? S() : text.substr(first);
}
template <class S> S tk_rtrim(const S& text) {
    size_t last = text.find_last_not_of(typename S::value_type(' '));
    return last == S::npos ? S() : text.substr(0, last + 1);
}
template <class S> S tk_trim(const S& text) {
    return tk_ltrim(tk_rtrim(text));
}

// A wide string with the two editing operations the converter needs.
class tk_wstring : public std::u16string {
public:
    using std::u16string::u16string;
    tk_wstring(std::u16string text) : std::u16string(std::move(text)) {}

    // Every pass searches from the start, so `with` must not contain `what`.
    tk_wstring replace_all(std::u16string_view what, std::u16string_view with) const;
    tk_wstring to_lower() const;
};

// Case-insensitive equality and order of whole names (full case folding).
int tk_compare_nocase(std::u16string_view a, std::u16string_view b);
inline bool tk_equal_nocase(std::u16string_view a, std::u16string_view b) {
    return tk_compare_nocase(a, b) == 0;
}
bool tk_is_alnum(char32_t c);

// Existence tests answer false, never throw. Mode 1 asks whether the file may be written.
bool tk_is_file_exist(const std::string& name, int mode);
bool tk_is_file_exist(const std::u16string& name, int mode);
bool tk_is_path_exist(const std::string& path);
bool tk_is_path_exist(const std::u16string& path);

// The running program's own file and folder (with a trailing '/').
std::string tk_get_module_name();
std::u16string tk_get_module_wname();
std::string tk_get_module_path();
std::u16string tk_get_module_wpath();
