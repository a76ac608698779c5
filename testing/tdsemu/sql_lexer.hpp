#pragma once

#include <string>
#include <vector>

namespace tdsemu {

// A token of T-SQL text. Identifiers keep their unquoted value; strings their unescaped value.
struct sql_token {
    enum class kind { word, quoted_ident, string, nstring, number, hex, variable, punct, end } k = kind::end;
    std::string text; // value: unquoted identifier, unescaped string, or the punctuation itself
    std::string raw;  // as written
    size_t begin = 0; // offset in the source
    bool is(const char* keyword) const; // a bare word, case-insensitively
    bool is_ident() const { return k == kind::word || k == kind::quoted_ident; }
};

// Splits text into tokens, dropping blanks and comments. Unterminated quotes or comments throw
// std::runtime_error with the text near the fault.
std::vector<sql_token> tokenize(const std::string& text);

// Splits a batch at top-level ';' and at lines holding only GO.
std::vector<std::string> split_statements(const std::string& text);

// Rewrites T-SQL spellings SQLite does not read: N'..', 0x.., TOP n, db..name, ISNULL, LEN, GETDATE().
// `quote_decimals` turns decimal literals into strings so that exact values survive storage.
std::string to_sqlite(const std::string& text, const std::string& current_db, bool quote_decimals);

// T-SQL needs no separator after SET, USE, PRINT and transaction statements: the length in tokens of such a
// leading statement, or 0 when the whole text is one statement.
size_t leading_statement(const std::vector<sql_token>& t);

// ORDER BY in a derived table, subquery (or, with at_top, a view) without TOP, OFFSET or FOR XML: error 1033.
bool misplaced_order_by(const std::string& text, bool at_top);

std::string quote_ident(const std::string& name);   // "name" for SQLite
std::string quote_literal(const std::string& text); // 'text'

bool is_reserved_word(const std::string& word);

} // namespace tdsemu
