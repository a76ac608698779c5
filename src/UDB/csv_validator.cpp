#include "UDB/csv_validator.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

namespace {
bool is_name_char(char32_t c) {
    return c == U'_' || c == U'-' || tk_is_alnum(c);
}

// Calls `visit(first, count, code_point)` per character; a lone surrogate is its own character.
template <class F> void for_each_char(const std::u16string& name, F visit);

// A file name may take 255 bytes; the hidden ".NAME.csv.zst.partial" a compressed file is written
// under first takes 13 more than NAME.csv, and must fit as well.
constexpr size_t file_name_room = 255 - 13;

// The bytes of the base name's file name in the narrow encoding (in UTF-8 for a name the
// encoding cannot spell: that name fails when its file is created, whatever its length).
size_t file_name_bytes(const std::u16string& base) {
    std::u16string file = tk_wstring(base).to_lower() + u".csv";
    std::string narrow;
    if (!tk_to_ansi(file, narrow)) narrow = tk_to_utf8(file);
    return narrow.size();
}

template <class F> void for_each_char(const std::u16string& name, F visit) {
    for (size_t i = 0; i < name.size();) {
        char32_t c = name[i];
        size_t count = 1;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
            name[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            count = 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // never a letter
        }
        visit(i, count, c);
        i += count;
    }
}
} // namespace

csv_validator::csv_validator(const std::u16string& folder) : udb_validator(0), m_folder(folder) {
    TK_WTRACE(2, u"csv_validator::ctor(%s)", folder.c_str());
}

bool csv_validator::is_acceptable(const std::u16string& name) {
    TK_WTRACE(1, u"csv_validator::is_acceptable(%s)", name.c_str());
    if (!udb_validator::is_acceptable(name)) return false;
    if (file_name_bytes(name) > file_name_room) {
        TK_TRACE(1, "The file name would be too long");
        return false;
    }
    bool good = true;
    for_each_char(name, [&](size_t, size_t, char32_t c) { good = good && is_name_char(c); });
    return good;
}

std::u16string csv_validator::get_safe_name(const std::u16string& name) {
    TK_WTRACE(2, u"csv_validator::get_safe_name(%s)", name.c_str());
    // Letters and digits are judged per character, so a pair of surrogates stays or goes whole.
    std::u16string safe;
    safe.reserve(name.size());
    for_each_char(name, [&](size_t first, size_t count, char32_t c) {
        if (is_name_char(c))
            safe.append(name, first, count);
        else
            safe += u'_';
    });
    if (is_free(safe)) return safe;

    if (m_max_len != 0 && safe.size() + 3 > m_max_len) safe = cut(safe, m_max_len > 3 ? m_max_len - 3 : 0);
    // Cut on a character boundary so that the name with its number fits a file name.
    if (file_name_bytes(safe + u"000") > file_name_room) {
        std::u16string fits;
        bool full = false;
        for_each_char(safe, [&](size_t first, size_t count, char32_t) {
            if (full) return;
            std::u16string longer = fits + safe.substr(first, count);
            if (file_name_bytes(longer + u"000") > file_name_room)
                full = true;
            else
                fits = std::move(longer);
        });
        safe = std::move(fits);
    }
    for (int counter = 0; counter <= 999; ++counter) {
        std::u16string candidate = tk_wformat(u"%s%03d", safe.c_str(), counter);
        if (is_free(candidate)) return candidate;
    }
    throw tk_mail_assertion("csv_vali", __LINE__);
}
