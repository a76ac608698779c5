#include "TK/tk_format.hpp"

#include "TK/tk_utils.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
// Replaces the Windows size prefix I64 by ll; other formats pass untouched.
std::string portable_format(const char* format) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            out += "ll";
            p += 2;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string vprint(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
    std::string out(n, '\0');
    std::vsnprintf(out.data(), n + 1, format, args);
    return out;
}

void append_ascii(std::u16string& out, const std::string& text) {
    for (unsigned char c : text) out += static_cast<char16_t>(c);
}
} // namespace

std::string tk_vformat(const char* format, va_list args) {
    if (std::strstr(format, "I64")) return vprint(portable_format(format).c_str(), args);
    return vprint(format, args);
}

std::string tk_format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = tk_vformat(format, args);
    va_end(args);
    return out;
}

std::u16string tk_vwformat(const char16_t* format, va_list args) {
    std::u16string out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        if (p[1] == u'%') {
            out += u'%';
            ++p;
            continue;
        }
        // Collect one conversion: flags, width, precision, length, conversion character.
        std::string conversion = "%";
        const char16_t* q = p + 1;
        while (*q && std::strchr("-+ #0", static_cast<char>(*q)) && *q < 128) conversion += static_cast<char>(*q++);
        int width = -1, precision = -1;
        auto read_number = [&](int& value) {
            if (*q == u'*') {
                value = va_arg(args, int);
                conversion += std::to_string(value);
                ++q;
                return;
            }
            if (*q >= u'0' && *q <= u'9') value = 0;
            while (*q >= u'0' && *q <= u'9') {
                value = value * 10 + (*q - u'0');
                conversion += static_cast<char>(*q++);
            }
        };
        read_number(width);
        if (*q == u'.') {
            conversion += '.';
            ++q;
            precision = 0;
            read_number(precision);
        }
        std::string length;
        if (q[0] == u'I' && q[1] == u'6' && q[2] == u'4') {
            length = "ll";
            q += 3;
        } else {
            while (*q == u'h' || *q == u'l' || *q == u'L' || *q == u'z' || *q == u'j' || *q == u't')
                length += static_cast<char>(*q++);
        }
        char16_t conv = *q;
        if (!conv) break;
        p = q;
        bool left = conversion.find('-') != std::string::npos;
        auto pad_text = [&](std::u16string text) {
            if (precision >= 0 && text.size() > static_cast<size_t>(precision)) text.resize(precision);
            if (width > 0 && text.size() < static_cast<size_t>(width)) {
                std::u16string fill(width - text.size(), u' ');
                text = left ? text + fill : fill + text;
            }
            out += text;
        };
        switch (conv) {
        case u's': {
            if (length == "h") {
                const char* s = va_arg(args, const char*);
                pad_text(s ? tk_utf8_to_wstring_lossy(s) : u"(null)");
            } else {
                const char16_t* s = va_arg(args, const char16_t*);
                pad_text(s ? std::u16string(s) : u"(null)");
            }
            break;
        }
        case u'c':
            pad_text(std::u16string(1, static_cast<char16_t>(va_arg(args, int))));
            break;
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            conversion += length;
            conversion += static_cast<char>(conv);
            char buf[64];
            if (length == "ll" || length == "j")
                std::snprintf(buf, sizeof buf, conversion.c_str(), va_arg(args, long long));
            else if (length == "l" || length == "z" || length == "t")
                std::snprintf(buf, sizeof buf, conversion.c_str(), va_arg(args, long));
            else
                std::snprintf(buf, sizeof buf, conversion.c_str(), va_arg(args, int));
            append_ascii(out, buf);
            break;
        }
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'a':
        case u'A': {
            conversion += static_cast<char>(conv);
            char buf[512];
            std::snprintf(buf, sizeof buf, conversion.c_str(), va_arg(args, double));
            append_ascii(out, buf);
            break;
        }
        case u'p': {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%p", va_arg(args, void*));
            append_ascii(out, buf);
            break;
        }
        default:
            out += u'%';
            out += conv;
        }
    }
    return out;
}

std::u16string tk_wformat(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::u16string out = tk_vwformat(format, args);
    va_end(args);
    return out;
}
