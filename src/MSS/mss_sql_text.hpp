#pragma once

#include <string>

// SQL text the catalog builds from names: escaped so that a name is always read back as itself.

// The inside of a [bracketed] identifier: ']' doubled.
std::u16string mss_escape_bracketed(const std::u16string& name);
// The inside of a 'quoted' literal: ''' doubled.
std::u16string mss_escape_literal(const std::u16string& text);
// A pattern argument of the catalog procedures matching only the name itself: the wildcards
// '[', '_' and '%' each inside brackets, then escaped for its brackets.
std::u16string mss_escape_pattern(const std::u16string& name);

// A view's definition as the catalog keeps it: white space runs outside quotes made one blank,
// the text from "select" of " as select" on, without the percentage words and the owner
// prefixes, trimmed. False when the definition has no " as select".
bool mss_normalize_view(const std::u16string& definition, std::u16string& text);

// True for the text of one SELECT statement (optionally led by WITH and its common table
// expressions, optionally ended by ';'): no SELECT ... INTO, no word that starts another kind of
// statement, no second statement and no procedure call escape. This system only ever reads, so a
// user query that is anything else is never sent. Words inside quotes, brackets and comments do
// not count.
bool mss_is_single_select(std::u16string_view text);
