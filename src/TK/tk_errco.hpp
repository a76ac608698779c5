#pragma once

#include <map>
#include <string>

// The address the messages name for support.
inline constexpr const char tk_support_address[] = "support@example.com";

struct tk_error_row {
    int code;
    const char* text;
};

// The readable messages of provider failures, by code (27 rows).
const tk_error_row* tk_provider_messages(int* row_count);

// Code to message. The console agent's is empty; the wizard's holds the provider messages.
class tk_error_converter {
public:
    tk_error_converter();
    tk_error_converter(int row_count, const tk_error_row* table);

    std::string convert(int code) const;
    size_t size() const { return m_map.size(); }

private:
    void load_map(int row_count, const tk_error_row* table);
    std::map<int, std::string> m_map;
};
