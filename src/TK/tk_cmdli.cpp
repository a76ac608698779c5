#include "TK/tk_cmdli.hpp"

#include "TK/tk_exception.hpp"

#include <cstring>

tk_cmdli::tk_cmdli(int argc, const char* const* argv, const tk_cmd_option* table)
    : m_table(table), m_cursor(argv + 1), m_remaining(argc - 1) {
    if (m_remaining > 0) classify();
}

void tk_cmdli::next() {
    if (!has_current()) throw tk_mail_assertion("tk_cmdli.cpp", 19);
    ++m_cursor;
    --m_remaining;
    if (m_remaining > 0) classify();
}

void tk_cmdli::classify() {
    const char* argument = *m_cursor;
    for (const tk_cmd_option* option = m_table;; ++option) {
        size_t length = std::strlen(option->prefix);
        if (std::strncmp(argument, option->prefix, length) != 0) continue;
        m_value = argument + length;
        if (length > 0) {
            m_id = option->id;
            return;
        }
        m_id = -1;
        if (m_unrecognised_count >= max_unrecognised) throw tk_mail_assertion("tk_cmdli.cpp", 43);
        m_unrecognised.emplace_back(argument);
        ++m_unrecognised_count;
        return;
    }
}
