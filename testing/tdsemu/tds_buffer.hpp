#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace tdsemu {

// Little-endian byte builder for TDS tokens. Each number goes in with one append: the row path writes
// millions of them.
class tds_buffer {
public:
    std::string bytes;

    void u8(unsigned v) { bytes.push_back(static_cast<char>(v & 0xFF)); }
    void u16(unsigned v) {
        const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
        bytes.append(b, 2);
    }
    void u32(uint32_t v) {
        const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
        bytes.append(b, 4);
    }
    void u64(uint64_t v) { le(v, 8); }
    // The low n bytes of v, least significant first.
    void le(uint64_t v, int n) {
        char b[8];
        if constexpr (std::endian::native == std::endian::little)
            std::memcpy(b, &v, 8);
        else
            for (int k = 0; k < n; ++k) b[k] = static_cast<char>((v >> (8 * k)) & 0xFF);
        bytes.append(b, static_cast<size_t>(n));
    }
    void raw(const std::string& b) { bytes += b; }
    void raw(const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); }
    // UTF-8 text as UTF-16LE with a one-byte (B_VARCHAR) or two-byte (US_VARCHAR) character count.
    void b_varchar(const std::string& utf8);
    void us_varchar(const std::string& utf8);
    size_t size() const { return bytes.size(); }
};

// Appends UTF-8 as UTF-16LE, or as code page 1252, to out (same rules as the functions below).
void append_utf16le(std::string& out, const char* utf8, size_t n);
void append_cp1252(std::string& out, const char* utf8, size_t n);

// Lenient conversions: malformed UTF-8 becomes U+FFFD, never an error.
std::u16string utf8_to_u16(const std::string& utf8);
std::string u16_to_utf8(const std::u16string& text);
std::string utf16le_bytes(const std::string& utf8);
std::string utf16le_to_utf8(const char* p, size_t bytes);
// Code page 1252, what SQL_Latin1_General_CP1_CI_AS stores; '?' for characters it lacks, as the server does.
std::string utf8_to_cp1252(const std::string& utf8);
std::string cp1252_to_utf8(const std::string& bytes);

std::string ascii_lower(std::string text);
bool iequals(const std::string& a, const std::string& b);

} // namespace tdsemu
