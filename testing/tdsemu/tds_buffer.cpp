#include "tdsemu/tds_buffer.hpp"

#include <cctype>
#include <cstring>

namespace tdsemu {

namespace {

const char16_t cp1252_high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// One code point from s[i], moving i past it; a malformed sequence gives U+FFFD and moves one byte.
[[gnu::always_inline]] inline char32_t next_code_point(const char* s, size_t n, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra = (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= n) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

void put_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::u16string utf8_to_u16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = next_code_point(utf8.data(), utf8.size(), i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string u16_to_utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        put_utf8(out, cp);
    }
    return out;
}

void append_utf16le(std::string& out, const char* utf8, size_t n) {
    size_t at = out.size();
    out.resize(at + 2 * n); // never more than two bytes out for each byte in
    char* w = out.data() + at;
    size_t i = 0;
    for (;;) {
        // Rows are mostly ASCII: take it a byte at a time, the rest through the full decoder.
        while (i < n && static_cast<unsigned char>(utf8[i]) < 0x80) {
            *w++ = utf8[i++];
            *w++ = '\0';
        }
        if (i == n) break;
        char32_t cp;
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xE0) == 0xC0 && i + 1 < n && (utf8[i + 1] & 0xC0) == 0x80) {
            // Two bytes, always valid: Latin, Greek, Cyrillic and the like, read without the general checks.
            cp = (c & 0x1Fu) << 6 | (utf8[i + 1] & 0x3Fu);
            i += 2;
        } else {
            cp = next_code_point(utf8, n, i);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            char16_t hi = static_cast<char16_t>(0xD800 + (cp >> 10)),
                     lo = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            *w++ = static_cast<char>(hi & 0xFF);
            *w++ = static_cast<char>(hi >> 8);
            *w++ = static_cast<char>(lo & 0xFF);
            *w++ = static_cast<char>(lo >> 8);
        } else {
            *w++ = static_cast<char>(cp & 0xFF);
            *w++ = static_cast<char>(cp >> 8);
        }
    }
    out.resize(static_cast<size_t>(w - out.data()));
}

std::string utf16le_bytes(const std::string& utf8) {
    std::string out;
    append_utf16le(out, utf8.data(), utf8.size());
    return out;
}

std::string utf16le_to_utf8(const char* p, size_t bytes) {
    std::u16string w;
    w.reserve(bytes / 2);
    for (size_t i = 0; i + 1 < bytes; i += 2)
        w.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[i]) |
                                          (static_cast<unsigned char>(p[i + 1]) << 8)));
    return u16_to_utf8(w);
}

void append_cp1252(std::string& out, const char* utf8, size_t n) {
    size_t i = 0;
    // ASCII goes as it is; look for the first byte that is not, eight at a time.
    for (uint64_t w; i + 8 <= n; i += 8) {
        std::memcpy(&w, utf8 + i, 8);
        if (w & 0x8080808080808080u) break;
    }
    while (i < n && static_cast<unsigned char>(utf8[i]) < 0x80) ++i;
    out.append(utf8, i);
    while (i < n) {
        char32_t cp = next_code_point(utf8, n, i);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        char c = '?';
        for (int k = 0; k < 32; ++k)
            if (cp1252_high[k] == cp && cp != 0xFFFD) c = static_cast<char>(0x80 + k);
        out.push_back(c);
    }
}

std::string utf8_to_cp1252(const std::string& utf8) {
    std::string out;
    append_cp1252(out, utf8.data(), utf8.size());
    return out;
}

std::string cp1252_to_utf8(const std::string& bytes) {
    std::string out;
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        put_utf8(out, c >= 0x80 && c < 0xA0 ? cp1252_high[c - 0x80] : c);
    }
    return out;
}

void tds_buffer::b_varchar(const std::string& utf8) {
    size_t at = bytes.size();
    bytes.push_back('\0');
    append_utf16le(bytes, utf8.data(), utf8.size());
    if (bytes.size() - at - 1 > 510) bytes.resize(at + 1 + 510);
    bytes[at] = static_cast<char>((bytes.size() - at - 1) / 2);
}

void tds_buffer::us_varchar(const std::string& utf8) {
    size_t at = bytes.size();
    bytes.append(2, '\0');
    append_utf16le(bytes, utf8.data(), utf8.size());
    if (bytes.size() - at - 2 > 131070) bytes.resize(at + 2 + 131070);
    size_t chars = (bytes.size() - at - 2) / 2;
    bytes[at] = static_cast<char>(chars & 0xFF);
    bytes[at + 1] = static_cast<char>((chars >> 8) & 0xFF);
}

std::string ascii_lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool iequals(const std::string& a, const std::string& b) {
    return ascii_lower(a) == ascii_lower(b);
}

} // namespace tdsemu
