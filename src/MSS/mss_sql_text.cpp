#include "MSS/mss_sql_text.hpp"

#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

namespace {
std::u16string doubled(const std::u16string& text, char16_t c) {
    std::u16string out;
    out.reserve(text.size() + 2);
    for (char16_t ch : text) {
        out += ch;
        if (ch == c) out += c;
    }
    return out;
}

void erase_all(std::u16string& text, std::u16string_view what) {
    for (size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at))
        text.erase(at, what.size());
}

char16_t ascii_lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? c + 32 : c;
}

size_t find_nocase(const std::u16string& text, std::u16string_view what) {
    if (what.size() > text.size()) return std::u16string::npos;
    for (size_t i = 0; i + what.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < what.size() && ascii_lower(text[i + k]) == ascii_lower(what[k])) ++k;
        if (k == what.size()) return i;
    }
    return std::u16string::npos;
}
} // namespace

std::u16string mss_escape_bracketed(const std::u16string& name) {
    return doubled(name, u']');
}

std::u16string mss_escape_literal(const std::u16string& text) {
    return doubled(text, u'\'');
}

std::u16string mss_escape_pattern(const std::u16string& name) {
    std::u16string out;
    out.reserve(name.size() + 4);
    for (char16_t c : name) {
        if (c == u'[' || c == u'_' || c == u'%') {
            out += u'[';
            out += c;
            out += u']';
        } else {
            out += c;
        }
    }
    return mss_escape_bracketed(out);
}

bool mss_normalize_view(const std::u16string& definition, std::u16string& text) {
    std::u16string flat;
    flat.reserve(definition.size());
    bool in_single = false, in_double = false, in_space = false;
    for (char16_t c : definition) {
        bool space = c == u'\r' || c == u'\n' || c == u'\t' || c == u' ';
        if (!in_single && !in_double && space) {
            if (!in_space) flat += u' ';
            in_space = true;
            continue;
        }
        in_space = false;
        if (c == u'\'' && !in_double)
            in_single = !in_single;
        else if (c == u'"' && !in_single)
            in_double = !in_double;
        flat += c;
    }
    size_t at = find_nocase(flat, u" as select");
    if (at == std::u16string::npos) {
        TK_TRACE(2, "'as select' not found in the view");
        return false;
    }
    text = flat.substr(at + 4);
    for (const char16_t* words :
         {u"TOP 100 PERCENT", u"TOP (100) PERCENT", u"top 100 percent", u"top (100) percent"})
        erase_all(text, words);
    erase_all(text, u"dbo.");
    erase_all(text, u"[dbo].");
    text = tk_ltrim(tk_rtrim(text));
    return true;
}
