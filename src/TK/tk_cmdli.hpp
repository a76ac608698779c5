#pragma once

#include <string>
#include <vector>

struct tk_cmd_option {
    int id;
    const char* prefix; // the table ends with an empty prefix
};

// Matches each argument against a table of option prefixes: the first entry whose prefix starts
// the argument wins, the empty terminator matches everything else (identifier -1).
class tk_cmdli {
public:
    static constexpr int max_unrecognised = 20;

    tk_cmdli(int argc, const char* const* argv, const tk_cmd_option* table);

    bool has_current() const { return m_remaining > 0; }
    void next();
    int id() const { return m_id; }
    const char* value() const { return m_value; }
    int unrecognised_count() const { return m_unrecognised_count; }
    const std::vector<std::string>& unrecognised() const { return m_unrecognised; }

private:
    void classify();

    const tk_cmd_option* m_table;
    int m_unrecognised_count = 0;
    std::vector<std::string> m_unrecognised;
    int m_id = -1;
    const char* m_value = nullptr;
    const char* const* m_cursor;
    int m_remaining;
};
