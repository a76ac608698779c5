#include "tdsemu/sql_lexer.hpp"

#include "tdsemu/tds_buffer.hpp"

#include <cctype>
#include <stdexcept>

namespace tdsemu {

bool sql_token::is(const char* keyword) const {
    return k == kind::word && iequals(text, keyword);
}

namespace {

bool ident_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '#' || (c & 0x80);
}
bool ident_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '#' || c == '$' || c == '@' ||
           (c & 0x80);
}

size_t skip_space(const std::string& s, size_t i) {
    for (;;) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        if (s.compare(i, 2, "--") == 0) {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (s.compare(i, 2, "/*") == 0) {
            size_t e = s.find("*/", i + 2);
            if (e == std::string::npos) throw std::runtime_error("Missing end comment mark '*/'.");
            i = e + 2;
        } else {
            return i;
        }
    }
}

size_t quoted_end(const std::string& s, size_t i, char close, std::string& value) {
    // i is just after the opening quote; a doubled closing quote stands for itself.
    for (;;) {
        if (i >= s.size())
            throw std::runtime_error("Unclosed quotation mark after the character string '" + value + "'.");
        if (s[i] == close) {
            if (i + 1 < s.size() && s[i + 1] == close) {
                value += close;
                i += 2;
                continue;
            }
            return i + 1;
        }
        value += s[i++];
    }
}

const char* const reserved[] = {
    "add",     "all",      "alter", "and",     "any",        "as",     "asc",     "begin",   "between",
    "by",      "case",     "check", "column",  "constraint", "create", "cross",   "default", "delete",
    "desc",    "distinct", "drop",  "else",    "end",        "exec",   "execute", "exists",  "for",
    "foreign", "from",     "full",  "group",   "having",     "in",     "index",   "inner",   "insert",
    "into",    "is",       "join",  "key",     "left",       "like",   "not",     "null",    "on",
    "or",      "order",    "outer", "primary", "references", "right",  "select",  "set",     "table",
    "then",    "to",       "top",   "union",   "unique",     "update", "use",     "values",  "view",
    "when",    "where",    "with"};

} // namespace

bool is_reserved_word(const std::string& word) {
    std::string w = ascii_lower(word);
    for (const char* r : reserved)
        if (w == r) return true;
    return false;
}

std::vector<sql_token> tokenize(const std::string& s) {
    std::vector<sql_token> out;
    size_t i = skip_space(s, 0);
    while (i < s.size()) {
        sql_token t;
        t.begin = i;
        char c = s[i];
        if ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'') {
            t.k = sql_token::kind::nstring;
            i = quoted_end(s, i + 2, '\'', t.text);
        } else if (c == '\'') {
            t.k = sql_token::kind::string;
            i = quoted_end(s, i + 1, '\'', t.text);
        } else if (c == '[') {
            t.k = sql_token::kind::quoted_ident;
            i = quoted_end(s, i + 1, ']', t.text);
        } else if (c == '"') {
            t.k = sql_token::kind::quoted_ident;
            i = quoted_end(s, i + 1, '"', t.text);
        } else if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            t.k = sql_token::kind::hex;
            i += 2;
            while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) t.text += s[i++];
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            t.k = sql_token::kind::number;
            while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.'))
                t.text += s[i++];
            if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
                size_t j = i + 1;
                if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
                if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
                    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
                    t.text = s.substr(t.begin, j - t.begin);
                    i = j;
                }
            }
        } else if (c == '@') {
            t.k = sql_token::kind::variable;
            while (i < s.size() && (s[i] == '@' || ident_char(s[i]))) t.text += s[i++];
        } else if (ident_start(c)) {
            t.k = sql_token::kind::word;
            while (i < s.size() && ident_char(s[i])) t.text += s[i++];
        } else {
            t.k = sql_token::kind::punct;
            static const char* const two[] = {"<=", ">=", "<>", "!=", "!<", "!>", "||", "::"};
            t.text = std::string(1, c);
            for (const char* op : two)
                if (s.compare(i, 2, op) == 0) t.text = op;
            i += t.text.size();
        }
        t.raw = s.substr(t.begin, i - t.begin);
        out.push_back(std::move(t));
        i = skip_space(s, i);
    }
    return out;
}

std::vector<std::string> split_statements(const std::string& s) {
    std::vector<std::string> out;
    std::string current;
    size_t i = 0;
    auto flush = [&] {
        size_t a = current.find_first_not_of(" \t\r\n");
        if (a != std::string::npos) out.push_back(current.substr(a));
        current.clear();
    };
    bool line_start = true;
    while (i < s.size()) {
        char c = s[i];
        if (line_start) {
            size_t j = i;
            while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
            if (j + 1 < s.size() + 1 && (s.compare(j, 2, "GO") == 0 || s.compare(j, 2, "go") == 0)) {
                size_t k = j + 2;
                while (k < s.size() && (s[k] == ' ' || s[k] == '\t' || s[k] == '\r')) ++k;
                if (k >= s.size() || s[k] == '\n') {
                    flush();
                    i = k;
                    continue;
                }
            }
        }
        line_start = c == '\n';
        if (c == '\'' || c == '"' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t j = i + 1;
            for (;;) {
                if (j >= s.size()) break;
                if (s[j] == close) {
                    if (j + 1 < s.size() && s[j + 1] == close) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            size_t end = std::min(j + 1, s.size());
            current.append(s, i, end - i);
            i = end;
        } else if (s.compare(i, 2, "--") == 0) {
            size_t e = s.find('\n', i);
            if (e == std::string::npos) e = s.size();
            current.append(s, i, e - i);
            i = e;
        } else if (s.compare(i, 2, "/*") == 0) {
            size_t e = s.find("*/", i + 2);
            e = e == std::string::npos ? s.size() : e + 2;
            current.append(s, i, e - i);
            i = e;
        } else if (c == ';') {
            flush();
            ++i;
        } else {
            current += c;
            ++i;
        }
    }
    flush();
    return out;
}

std::string quote_ident(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string quote_literal(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string to_sqlite(const std::string& text, const std::string& current_db, bool quote_decimals) {
    std::vector<sql_token> tokens = tokenize(text);
    std::string out;
    std::vector<std::string> limits(1); // TOP n of the SELECT at each bracket depth
    auto append = [&](const std::string& piece) {
        if (!out.empty()) out += ' ';
        out += piece;
    };
    for (size_t k = 0; k < tokens.size(); ++k) {
        const sql_token& t = tokens[k];
        std::string piece = t.raw;
        if (t.k == sql_token::kind::punct && t.text == "(") {
            limits.emplace_back();
        } else if (t.k == sql_token::kind::punct && t.text == ")" && limits.size() > 1) {
            if (!limits.back().empty()) append("LIMIT " + limits.back());
            limits.pop_back();
        } else if (t.k == sql_token::kind::nstring) {
            piece = quote_literal(t.text);
        } else if (t.k == sql_token::kind::quoted_ident) {
            piece = quote_ident(t.text); // SQLite does not undouble ]] inside brackets
        } else if (t.k == sql_token::kind::hex) {
            piece = "X'" + (t.text.size() % 2 ? "0" + t.text : t.text) + "'";
        } else if (quote_decimals && t.k == sql_token::kind::punct && t.text == "-" &&
                   k + 1 < tokens.size() && tokens[k + 1].k == sql_token::kind::number && k > 0 &&
                   (tokens[k - 1].text == "(" || tokens[k - 1].text == "," || tokens[k - 1].text == "=")) {
            // A negative literal stays exact text too; SQLite's unary minus would make it a double.
            const std::string& n = tokens[k + 1].text;
            piece = n.find('.') != std::string::npos || n.size() > 18 ? quote_literal("-" + n) : "-" + n;
            ++k;
        } else if (t.k == sql_token::kind::number && quote_decimals &&
                   (t.text.find('.') != std::string::npos || t.text.size() > 18)) {
            piece = quote_literal(t.text);
        } else if (t.is("top") && k > 0 && (tokens[k - 1].is("select") || tokens[k - 1].is("distinct"))) {
            // TOP n [PERCENT]: a LIMIT at the end of its SELECT; 100 PERCENT (as views write it) means every
            // row.
            size_t j = k + 1;
            bool paren = j < tokens.size() && tokens[j].text == "(";
            if (paren) ++j;
            if (j < tokens.size() && tokens[j].k == sql_token::kind::number) {
                std::string n = tokens[j].text;
                ++j;
                if (paren && j < tokens.size() && tokens[j].text == ")") ++j;
                bool percent = j < tokens.size() && tokens[j].is("percent");
                if (percent) ++j;
                if (!percent) limits.back() = n;
                k = j - 1;
                continue;
            }
        } else if (t.k == sql_token::kind::word && k + 2 < tokens.size() && tokens[k + 1].text == "." &&
                   tokens[k + 2].text == "." && iequals(t.text, current_db)) {
            // db..name is the default owner of the current database.
            append("dbo");
            ++k;
            continue;
        } else if (t.is_ident() && k + 4 < tokens.size() && tokens[k + 1].text == "." &&
                   tokens[k + 2].is_ident() && tokens[k + 3].text == "." && tokens[k + 4].is_ident() &&
                   iequals(t.text, current_db) && (k == 0 || tokens[k - 1].text != ".")) {
            k += 1; // db.owner.name within the current database
            continue;
        } else if (t.is("with") && k > 0 && k + 1 < tokens.size() && tokens[k + 1].text == "(" &&
                   tokens[k - 1].k != sql_token::kind::punct) {
            // A table hint, WITH (NOLOCK): no meaning here.
            size_t j = k + 2;
            while (j < tokens.size() && tokens[j].text != ")") ++j;
            k = j;
            continue;
        } else if (t.is("isnull") && k + 1 < tokens.size() && tokens[k + 1].text == "(") {
            piece = "IFNULL";
        } else if (t.is("len") && k + 1 < tokens.size() && tokens[k + 1].text == "(") {
            piece = "LENGTH";
        } else if ((t.is("getdate") || t.is("sysdatetime")) && k + 2 < tokens.size() &&
                   tokens[k + 1].text == "(" && tokens[k + 2].text == ")") {
            piece = "strftime('%Y-%m-%d %H:%M:%f','now')";
            k += 2;
        }
        append(piece);
    }
    if (!limits[0].empty()) append("LIMIT " + limits[0]);
    return out;
}

// T-SQL needs no separator after SET, USE, PRINT and transaction statements: the length in tokens of such a
// leading statement, or 0 when the whole text is one statement.
size_t leading_statement(const std::vector<sql_token>& t) {
    size_t n = 0;
    if (t[0].is("SELECT")) {
        // SET FMTONLY ON select ... SET FMTONLY OFF: a SELECT never holds the word SET.
        while (n < t.size() && !t[n].is("SET")) ++n;
    } else if (t[0].is("USE") || t[0].is("PRINT")) {
        n = 2;
    } else if (t[0].is("BEGIN") || t[0].is("COMMIT") || t[0].is("ROLLBACK") || t[0].is("SAVE")) {
        n = 1;
        if (n < t.size() && (t[n].is("TRAN") || t[n].is("TRANSACTION") || t[n].is("WORK"))) ++n;
    } else if (t[0].is("SET")) {
        if (t.size() > 1 && t[1].is("TRANSACTION")) {
            n = 4; // SET TRANSACTION ISOLATION LEVEL
            if (n < t.size() && (t[n].is("READ") || t[n].is("REPEATABLE")))
                n += 2;
            else
                ++n;
        } else {
            n = 1;
            while (n < t.size() && !t[n].is("ON") && !t[n].is("OFF") && n < 2 + 2 * 8) {
                if (n + 1 < t.size() && t[n + 1].text == ",") {
                    n += 2;
                    continue;
                }
                // SET option value, e.g. SET TEXTSIZE 64512
                if (n + 1 < t.size() && !t[n + 1].is("ON") && !t[n + 1].is("OFF")) {
                    n += 1;
                    break;
                }
                ++n;
            }
            ++n;
        }
    }
    return n < t.size() ? n : 0;
}

bool misplaced_order_by(const std::string& text, bool at_top) {
    std::vector<sql_token> tokens = tokenize(text);
    struct scope {
        bool select = false, limited = false;
    };
    std::vector<scope> scopes(1);
    scopes[0].select = at_top;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const sql_token& t = tokens[k];
        if (t.k == sql_token::kind::punct && t.text == "(") {
            scopes.push_back({k + 1 < tokens.size() && tokens[k + 1].is("select"), false});
        } else if (t.k == sql_token::kind::punct && t.text == ")") {
            if (scopes.size() > 1) scopes.pop_back();
        } else if (t.is("top") || t.is("offset") ||
                   (t.is("for") && k + 1 < tokens.size() && tokens[k + 1].is("xml"))) {
            scopes.back().limited = true;
        } else if (t.is("order") && k + 1 < tokens.size() && tokens[k + 1].is("by") && scopes.back().select &&
                   !scopes.back().limited) {
            return true;
        }
    }
    return false;
}

} // namespace tdsemu
