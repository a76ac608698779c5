#include "tdsemu/tds_buffer.hpp"

#include <cctype>

namespace tdsemu {

namespace {

const char16_t cp1252_high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::u32string utf8_to_u32(const std::string& s) {
    std::u32string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= s.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
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
    for (char32_t cp : utf8_to_u32(utf8)) {
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

std::string utf16le_bytes(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    size_t i = 0;
    // Rows are mostly ASCII: take it a byte at a time, the rest through the full decoder.
    while (i < utf8.size() && static_cast<unsigned char>(utf8[i]) < 0x80) {
        out.push_back(utf8[i++]);
        out.push_back('\0');
    }
    if (i == utf8.size()) return out;
    for (char16_t c : utf8_to_u16(utf8.substr(i))) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
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

std::string utf8_to_cp1252(const std::string& utf8) {
    bool ascii = true;
    for (char c : utf8) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (ascii) return utf8;
    std::string out;
    for (char32_t cp : utf8_to_u32(utf8)) {
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        char c = '?';
        for (int k = 0; k < 32; ++k)
            if (cp1252_high[k] == cp && cp != 0xFFFD) c = static_cast<char>(0x80 + k);
        out.push_back(c);
    }
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
    std::string w = utf16le_bytes(utf8);
    if (w.size() > 510) w.resize(510);
    u8(static_cast<unsigned>(w.size() / 2));
    raw(w);
}

void tds_buffer::us_varchar(const std::string& utf8) {
    std::string w = utf16le_bytes(utf8);
    if (w.size() > 131070) w.resize(131070);
    u16(static_cast<unsigned>(w.size() / 2));
    raw(w);
}

std::string ascii_lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool iequals(const std::string& a, const std::string& b) {
    return ascii_lower(a) == ascii_lower(b);
}

} // namespace tdsemu
