#include "TK/tk_utils.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_fname.hpp"
#include "TK/tk_log.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <mutex>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unistd.h>

namespace {
const char to_utf8_message[] = "Cannot convert to UTF8 string: ";
const char to_unicode_message[] = "Cannot convert to UNICODE string: ";

std::mutex codeset_lock;
std::string codeset_name;
bool codeset_utf8 = true;
bool codeset_known = false;

void load_codeset() {
    std::lock_guard<std::mutex> guard(codeset_lock);
    if (codeset_known) return;
    const char* name = nl_langinfo(CODESET);
    std::string set = name ? name : "";
    // The C locale answers ASCII; treat it as UTF-8 so that names survive in cron and containers.
    if (set.empty() || set == "ANSI_X3.4-1968" || set == "ASCII" || set == "US-ASCII") set = "UTF-8";
    codeset_utf8 = set == "UTF-8" || set == "utf8" || set == "UTF8";
    codeset_name = set;
    codeset_known = true;
}

struct iconv_holder {
    iconv_t cd;
    iconv_holder(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~iconv_holder() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

// Decodes UTF-8; false on a malformed sequence unless lossy (then U+FFFD).
bool decode_utf8(std::string_view in, std::u16string& out, bool lossy) {
    out.clear();
    out.reserve(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    while (p < end) {
        unsigned c = *p;
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++p;
            continue;
        }
        int extra = 0;
        char32_t cp = 0, min = 0;
        if ((c & 0xE0) == 0xC0)
            extra = 1, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            extra = 2, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            extra = 3, cp = c & 0x07, min = 0x10000;
        else
            extra = -1;
        bool good = extra > 0 && end - p > extra;
        for (int i = 1; good && i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                good = false;
            else
                cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (good && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) good = false;
        if (!good) {
            if (!lossy) return false;
            out += u'\uFFFD';
            ++p;
            continue;
        }
        p += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

// Replaces lone surrogates by U+FFFD, as the platform's converters do.
std::u16string sound_utf16(std::u16string_view text) {
    std::u16string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        char16_t c = out[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 &&
            out[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out[i] = u'\uFFFD';
        }
    }
    return out;
}

// Converts through iconv. On a character the target lacks: fails, or writes '?' when lossy.
bool iconv_convert(const char* to, const char* from, const char* in, size_t in_size, std::string& out,
                   bool lossy, size_t unit) {
    iconv_holder conv(to, from);
    if (!conv.ok()) return false;
    out.clear();
    char buffer[4096];
    char* src = const_cast<char*>(in);
    size_t left = in_size;
    while (left > 0) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        size_t r = iconv(conv.cd, &src, &left, &dst, &room);
        out.append(buffer, dst - buffer);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (!lossy || left == 0) return false;
            // Skip one character of the source and stand a '?' in for it.
            size_t skip = unit;
            if (unit == 2 && left >= 4) {
                unsigned hi = static_cast<unsigned char>(src[0]) | (static_cast<unsigned char>(src[1]) << 8);
                if (hi >= 0xD800 && hi <= 0xDBFF) skip = 4;
            }
            if (skip > left) skip = left;
            src += skip;
            left -= skip;
            out += '?';
        }
    }
    char* dst = buffer;
    size_t room = sizeof buffer;
    iconv(conv.cd, nullptr, nullptr, &dst, &room);
    out.append(buffer, dst - buffer);
    return true;
}

bool ansi_to_wide(std::string_view text, std::u16string& out) {
    if (tk_ansi_is_utf8()) return decode_utf8(text, out, false);
    std::string bytes;
    if (!iconv_convert("UTF-16LE", tk_ansi_codeset().c_str(), text.data(), text.size(), bytes, false, 1))
        return false;
    out.assign(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return true;
}

bool wide_to_ansi(std::u16string_view text, std::string& out, bool lossy) {
    std::u16string sound = sound_utf16(text);
    if (tk_ansi_is_utf8()) {
        out = tk_to_utf8(sound);
        return true;
    }
    std::string bytes(sound.size() * 2, '\0');
    for (size_t i = 0; i < sound.size(); ++i) {
        bytes[2 * i] = static_cast<char>(sound[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(sound[i] >> 8);
    }
    return iconv_convert(tk_ansi_codeset().c_str(), "UTF-16LE", bytes.data(), bytes.size(), out, lossy, 2);
}

std::string read_module_name() {
    char path[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0) throw tk_mail_assertion("tk_utils", __LINE__);
    return std::string(path, n);
}
} // namespace

const std::string& tk_ansi_codeset() {
    if (!codeset_known) load_codeset();
    return codeset_name;
}

bool tk_ansi_is_utf8() {
    if (!codeset_known) load_codeset();
    return codeset_utf8;
}

void tk_reset_ansi_codeset() {
    std::lock_guard<std::mutex> guard(codeset_lock);
    codeset_known = false;
}

std::u16string tk_utf8_to_wstring(std::string_view text) {
    std::u16string out;
    if (!decode_utf8(text, out, false)) throw tk_exception_ex(to_unicode_message, EILSEQ);
    return out;
}

std::u16string tk_utf8_to_wstring_lossy(std::string_view text) {
    std::u16string out;
    decode_utf8(text, out, true);
    return out;
}

void tk_append_utf8(std::string& out, std::u16string_view text) {
    size_t start = out.size();
    // At most three bytes per UTF-16 unit: a pair of them gives four. Writing through a pointer
    // into room made once costs far less than appending byte by byte (the CSV hot path).
    out.resize(start + 3 * text.size());
    char* p = out.data() + start;
    for (size_t i = 0; i < text.size(); ++i) {
        // Four ASCII units at a time: most text is ASCII.
        while (text.size() - i >= 4) {
            std::uint64_t units;
            std::memcpy(&units, text.data() + i, sizeof units);
            if (units & 0xFF80FF80FF80FF80ULL) break;
            for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(text[i + k]);
            p += 4;
            i += 4;
        }
        if (i == text.size()) break;
        char32_t c = text[i];
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
            *p++ = static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *p++ = static_cast<char>(0xE0 | (c >> 12));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            *p++ = static_cast<char>(0xF0 | (c >> 18));
            *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    out.resize(static_cast<size_t>(p - out.data()));
}

std::string tk_to_utf8(std::u16string_view text) {
    std::string out;
    tk_append_utf8(out, text);
    return out;
}

std::u16string tk_ansi_to_wstring(std::string_view text) {
    std::u16string out;
    if (!ansi_to_wide(text, out)) throw tk_exception_ex(to_unicode_message, EILSEQ);
    return out;
}

std::string tk_to_ansi_lossy(std::u16string_view text) {
    std::string out;
    wide_to_ansi(text, out, true);
    return out;
}

bool tk_to_ansi(const char16_t* text, std::string& out) {
    if (!text) return false;
    return tk_to_ansi(std::u16string_view(text), out);
}

bool tk_to_ansi(std::u16string_view text, std::string& out) {
    return wide_to_ansi(text, out, false);
}

bool tk_to_unicode(const char* text, std::u16string& out) {
    if (!text) return false;
    return ansi_to_wide(text, out);
}

void tk_bin_to_hex(const unsigned char* bytes, size_t size, char* out) {
    if (!out) throw tk_mail_assertion("tk_utils", __LINE__);
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < size; ++i) {
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 15];
    }
    *out = '\0';
}

tk_wstring tk_wstring::replace_all(std::u16string_view what, std::u16string_view with) const {
    TK_WTRACE(2, u"tk_wstring::replace_all");
    tk_wstring out(*this);
    if (what.empty()) return out;
    for (size_t at = out.find(what); at != npos; at = out.find(what)) out.replace(at, what.size(), with);
    return out;
}

tk_wstring tk_wstring::to_lower() const {
    TK_WTRACE(2, u"tk_wstring::to_lower(%s)", c_str());
    std::u16string out;
    out.reserve(size());
    for (size_t i = 0; i < size();) {
        UChar32 c;
        U16_NEXT(data(), i, size(), c);
        UChar32 lower = u_tolower(c);
        if (U_IS_BMP(lower)) {
            out += static_cast<char16_t>(lower);
        } else {
            out += static_cast<char16_t>(U16_LEAD(lower));
            out += static_cast<char16_t>(U16_TRAIL(lower));
        }
    }
    return tk_wstring(std::move(out));
}

int tk_compare_nocase(std::u16string_view a, std::u16string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    int r = u_strCaseCompare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                             reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()),
                             U_FOLD_CASE_DEFAULT, &status);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool tk_is_alnum(char32_t c) {
    return u_isalnum(static_cast<UChar32>(c));
}

bool tk_is_file_exist(const std::string& name, int mode) {
    TK_TRACE(2, "tk_is_file_exist(%s)", name.c_str());
    // Only a regular file counts: opening a folder as a file fails on the other platforms too.
    struct stat st;
    bool ok = ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        int fd = ::open(name.c_str(), (mode == 1 ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
        ok = fd >= 0;
        if (ok) ::close(fd);
    }
    if (!ok) TK_TRACE(1, "File not exists!");
    return ok;
}

bool tk_is_file_exist(const std::u16string& name, int mode) {
    std::string narrow;
    if (!tk_to_ansi(name, narrow)) {
        TK_TRACE(1, "File not exists!");
        return false;
    }
    return tk_is_file_exist(narrow, mode);
}

bool tk_is_path_exist(const std::string& path) {
    TK_TRACE(2, "tk_is_path_exist(%s)", path.c_str());
    // A folder we could enter: a directory with search permission. The current directory is
    // never changed for the test, since another thread may rely on it.
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool tk_is_path_exist(const std::u16string& path) {
    std::string narrow;
    if (!tk_to_ansi(path, narrow)) return false;
    return tk_is_path_exist(narrow);
}

std::string tk_get_module_name() {
    return read_module_name();
}

std::u16string tk_get_module_wname() {
    return tk_ansi_to_wstring(read_module_name());
}

std::string tk_get_module_path() {
    return tk_file_name(read_module_name()).get_path();
}

std::u16string tk_get_module_wpath() {
    return tk_file_wname(tk_get_module_wname()).get_path();
}
