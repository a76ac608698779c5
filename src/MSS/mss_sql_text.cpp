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

namespace {
bool is_word_char(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c == u'@' || c == u'#' || c == u'$' || c >= 0x80;
}

// Reserved words that begin statements other than SELECT, and INTO: none may appear in a plain
// SELECT unquoted.
bool is_refused_word(const std::u16string& word) {
    static const char16_t* const refused[] = {
        u"alter",    u"backup",     u"begin",      u"bulk",     u"checkpoint", u"close",  u"commit",
        u"create",   u"dbcc",       u"deallocate", u"declare",  u"delete",     u"deny",   u"drop",
        u"exec",     u"execute",    u"goto",       u"grant",    u"if",         u"insert", u"into",
        u"kill",     u"merge",      u"open",       u"print",    u"raiserror",  u"readtext",
        u"reconfigure", u"restore", u"return",     u"revert",   u"revoke",     u"rollback", u"save",
        u"set",      u"setuser",    u"shutdown",   u"truncate", u"update",     u"updatetext", u"use",
        u"waitfor",  u"while",      u"writetext"};
    for (const char16_t* r : refused)
        if (word == r) return true;
    return false;
}
} // namespace

bool mss_is_single_select(std::u16string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    int depth = 0;
    int top_selects = 0;
    bool ended = false; // a ';' closed the statement
    std::u16string previous; // the last word at depth 0, lower case
    std::u16string first;
    while (i < n) {
        char16_t c = text[i];
        if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v') {
            ++i;
        } else if (c == u'-' && i + 1 < n && text[i + 1] == u'-') {
            while (i < n && text[i] != u'\n') ++i;
        } else if (c == u'/' && i + 1 < n && text[i + 1] == u'*') {
            // Block comments nest in T-SQL.
            int level = 0;
            do {
                if (i + 1 < n && text[i] == u'/' && text[i + 1] == u'*') {
                    ++level;
                    i += 2;
                } else if (i + 1 < n && text[i] == u'*' && text[i + 1] == u'/') {
                    --level;
                    i += 2;
                } else {
                    ++i;
                }
            } while (level > 0 && i < n);
            if (level > 0) return false;
        } else if (ended) {
            if (c != u';') return false;
            ++i;
        } else if (c == u'\'' || c == u'"' || c == u'[') {
            char16_t close = c == u'[' ? u']' : c;
            if (first.empty()) return false;
            for (++i;; ++i) {
                if (i >= n) return false;
                if (text[i] == close) {
                    if (i + 1 < n && text[i + 1] == close) {
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
            }
            if (depth == 0) previous.clear();
        } else if (is_word_char(c)) {
            size_t start = i;
            while (i < n && is_word_char(text[i])) ++i;
            std::u16string word(text.substr(start, i - start));
            for (char16_t& ch : word) ch = ascii_lower(ch);
            // N'...': the prefix of a literal.
            if (word == u"n" && i < n && text[i] == u'\'') continue;
            if (is_refused_word(word)) return false;
            if (first.empty()) {
                if (word != u"select" && word != u"with") return false;
                first = word;
            }
            if (depth == 0) {
                if (word == u"select") {
                    // Another SELECT at the top is another statement, unless a set operator joins it.
                    bool joined = previous == u"union" || previous == u"all" || previous == u"except" ||
                                  previous == u"intersect";
                    if (top_selects > 0 && !joined) return false;
                    ++top_selects;
                }
                previous = word;
            }
        } else if (c == u'(') {
            if (first.empty()) return false;
            ++depth;
            ++i;
        } else if (c == u')') {
            if (--depth < 0) return false;
            if (depth == 0) previous.clear();
            ++i;
        } else if (c == u';') {
            if (depth != 0) return false;
            ended = true;
            ++i;
        } else if (c == u'{') {
            // An ODBC escape: {fn ...}, {d '...'} read; {call ...} and {? = call ...} run a procedure.
            size_t k = i + 1;
            while (k < n && (text[k] == u' ' || text[k] == u'\t')) ++k;
            if (k < n && text[k] == u'?') return false;
            if (k + 4 <= n && ascii_lower(text[k]) == u'c' && ascii_lower(text[k + 1]) == u'a' &&
                ascii_lower(text[k + 2]) == u'l' && ascii_lower(text[k + 3]) == u'l')
                return false;
            ++i;
        } else {
            if (first.empty()) return false;
            ++i;
        }
    }
    return top_selects > 0 && depth == 0;
}
