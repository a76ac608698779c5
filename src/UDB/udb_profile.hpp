#pragma once

#include <map>
#include <string>

// The in-memory form of a profile file: sections of keys, both ordered by UTF-16 code units.
// Sections and keys this system does not use are kept as they were read.
class udb_profile {
public:
    using section = std::map<std::u16string, std::u16string>;

    udb_profile();

    // Raises a level-1 error for a missing file; false for a file that cannot be read, that
    // holds a key before its first section or a line that is not UTF-8 (then nothing is kept),
    // with the reason in `why` ("cannot be read: ...", "is not valid: line N ..."). A UTF-8
    // byte-order mark at the start is skipped.
    bool load(const std::u16string& path, std::string* why = nullptr);
    // Writes the file readable by its owner only: it holds a password. False when it cannot.
    bool store(const std::u16string& path) const;

    // A key already present keeps its first value.
    void set_value(const std::u16string& section_name, const std::u16string& key,
                   const std::u16string& value);
    std::u16string get_value(const std::u16string& section_name, const std::u16string& key) const;
    const section& get_section(const std::u16string& section_name) const;
    const std::map<std::u16string, section>& sections() const { return m_sections; }

    // The file's bytes, as store writes them.
    std::string to_bytes() const;

private:
    std::map<std::u16string, section> m_sections;
};

inline constexpr char16_t udb_available_queries[] = u"Available Queries";
inline constexpr char16_t udb_selected_tables[] = u"Selected Tables";
inline constexpr char16_t udb_generic_settings[] = u"Generic settings";
inline constexpr char16_t udb_mssql_settings[] = u"MS SQL Server settings";
inline constexpr char16_t udb_csv_settings[] = u"CSV settings";

// A query text on one line: each line break becomes one blank, and a line comment becomes a
// block comment so that it cannot swallow the lines joined after it.
std::u16string udb_flatten_query(const std::u16string& text);
