#pragma once

#include <cstdint>
#include <string>

namespace tdsemu {

// Little-endian byte builder for TDS tokens.
class tds_buffer {
public:
    std::string bytes;

    void u8(unsigned v) { bytes.push_back(static_cast<char>(v & 0xFF)); }
    void u16(unsigned v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void u64(uint64_t v) {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(v >> 32));
    }
    void raw(const std::string& b) { bytes += b; }
    void raw(const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); }
    // UTF-8 text as UTF-16LE with a one-byte (B_VARCHAR) or two-byte (US_VARCHAR) character count.
    void b_varchar(const std::string& utf8);
    void us_varchar(const std::string& utf8);
    size_t size() const { return bytes.size(); }
};

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
