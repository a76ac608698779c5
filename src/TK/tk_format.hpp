#pragma once

#include <cstdarg>
#include <string>

// printf formatting into strings. "%I64d" and "%I64u" mean 64-bit decimal.
std::string tk_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string tk_vformat(const char* format, va_list args);

// Wide formats: "%s" takes const char16_t*, "%hs" takes narrow text (UTF-8 or the locale's),
// "%c" a char16_t promoted to int; numbers as printf writes them.
std::u16string tk_wformat(const char16_t* format, ...);
std::u16string tk_vwformat(const char16_t* format, va_list args);
