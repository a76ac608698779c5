#pragma once

#include <map>
#include <string>
#include <vector>

// Turns names into acceptable, unique names: a length limit, reserved names, forbidden
// characters and a memory of the names already handed out. Names compare ignoring case.
class udb_validator {
public:
    explicit udb_validator(unsigned max_len);
    virtual ~udb_validator();

    // The three operations call each other through these slots, so a derived validator's
    // is_acceptable also governs get_safe_name.
    virtual bool is_acceptable(const std::u16string& name);
    virtual bool is_duplicated(const std::u16string& name);
    virtual std::u16string get_safe_name(const std::u16string& name);

    void add_existing_name(const std::u16string& name);
    void add_restricted_name(const std::u16string& name);
    // Takes back the last registration of a name in both lists (an entry that starts over).
    void forget_name(const std::u16string& name);
    void set_illegal_chars(std::u16string chars) { m_illegal_chars = std::move(chars); }

    unsigned max_len() const { return m_max_len; }
    const std::u16string& illegal_chars() const { return m_illegal_chars; }
    const std::vector<std::u16string>& restricted_names() const { return m_restricted_names; }
    const std::vector<std::u16string>& existing_names() const { return m_existing_names; }

protected:
    // Acceptable and not yet given out.
    bool is_free(const std::u16string& name) { return is_acceptable(name) && !is_duplicated(name); }
    // The first `count` code units, one less when that would split a surrogate pair.
    static std::u16string cut(const std::u16string& name, size_t count);

    unsigned m_max_len;
    std::map<std::u16string, std::u16string> m_name_map;
    std::u16string m_illegal_chars;
    std::vector<std::u16string> m_restricted_names;
    std::vector<std::u16string> m_existing_names;
};
