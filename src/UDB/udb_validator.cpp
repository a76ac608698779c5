#include "UDB/udb_validator.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <algorithm>

udb_validator::udb_validator(unsigned max_len) : m_max_len(max_len) {
    TK_TRACE(2, "udb_validator::ctor");
}

udb_validator::~udb_validator() = default;

std::u16string udb_validator::cut(const std::u16string& name, size_t count) {
    if (count >= name.size()) return name;
    // A lone half of a surrogate pair would turn into U+FFFD in every file name built from it.
    if (count > 0 && name[count - 1] >= 0xD800 && name[count - 1] <= 0xDBFF) --count;
    return name.substr(0, count);
}

namespace {
// Names meet as file names, which are lowered by simple case mapping; case folding alone would
// let "TİTLE" and "TITLE" pass as different names and both become title.csv.
bool same_name(const std::u16string& a, const std::u16string& b) {
    return tk_equal_nocase(a, b) || tk_wstring(a).to_lower() == tk_wstring(b).to_lower();
}
} // namespace

bool udb_validator::is_acceptable(const std::u16string& name) {
    TK_WTRACE(1, u"udb_validator::is_acceptable(%s)", name.c_str());
    if (m_max_len != 0 && name.size() > m_max_len) {
        TK_TRACE(1, "The name is too long");
        return false;
    }
    for (const auto& restricted : m_restricted_names) {
        if (same_name(name, restricted)) {
            TK_TRACE(1, "The name is restricted");
            return false;
        }
    }
    for (char16_t c : m_illegal_chars) {
        if (name.find(c) != std::u16string::npos) {
            TK_WTRACE(1, u"The name contains illegal: %c", static_cast<int>(c));
            return false;
        }
    }
    return true;
}

bool udb_validator::is_duplicated(const std::u16string& name) {
    TK_WTRACE(1, u"udb_validator::is_duplicated(%s)", name.c_str());
    for (const auto& existing : m_existing_names) {
        TK_WTRACE(1, u"Processing %s", existing.c_str());
        if (same_name(name, existing)) return true;
    }
    return false;
}

std::u16string udb_validator::get_safe_name(const std::u16string& name) {
    TK_WTRACE(1, u"udb_validator::get_safe_name(%s)", name.c_str());
    std::u16string safe = name;
    if (m_max_len != 0 && safe.size() > m_max_len) safe = cut(safe, m_max_len - 1);
    for (char16_t& c : safe)
        if (m_illegal_chars.find(c) != std::u16string::npos) c = u'_';
    if (is_free(safe)) return safe;

    if (m_max_len != 0 && safe.size() + 5 > m_max_len) safe = cut(safe, m_max_len > 6 ? m_max_len - 6 : 0);
    for (int counter = 0; counter <= 99999; ++counter) {
        std::u16string candidate = tk_wformat(u"%s%05d", safe.c_str(), counter);
        if (is_free(candidate)) return candidate;
    }
    throw tk_mail_assertion("udb_vali", __LINE__);
}

void udb_validator::add_existing_name(const std::u16string& name) {
    TK_WTRACE(1, u"udb_validator::add_existing_name(%s)", name.c_str());
    m_existing_names.push_back(name);
}

void udb_validator::forget_name(const std::u16string& name) {
    for (auto* list : {&m_existing_names, &m_restricted_names}) {
        auto at = std::find(list->rbegin(), list->rend(), name);
        if (at != list->rend()) list->erase(std::next(at).base());
    }
}

void udb_validator::add_restricted_name(const std::u16string& name) {
    m_restricted_names.push_back(name);
}
