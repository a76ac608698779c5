#pragma once

#include "UDB/t_ftd.hpp"

#include <memory>
#include <string>
#include <vector>

// The ordered field descriptions of a table. An owning schema destroys its descriptions with
// itself; a borrowing one only points at descriptions kept alive elsewhere.
class udb_schema {
public:
    explicit udb_schema(bool owner = true) : m_owner(owner) {}
    udb_schema(const udb_schema&) = delete;
    udb_schema& operator=(const udb_schema&) = delete;

    bool owner() const { return m_owner; }
    // For an owning schema.
    t_ftd& append(std::unique_ptr<t_ftd> ftd);
    // For a borrowing schema.
    t_ftd& append(t_ftd& ftd);

    size_t size() const { return m_fields.size(); }
    bool empty() const { return m_fields.empty(); }
    t_ftd& operator[](size_t i) { return *m_fields[i]; }
    const t_ftd& operator[](size_t i) const { return *m_fields[i]; }

    // Index of the first field of that name (ignoring case), or -1.
    int get_field_idx(const std::u16string& name) const;
    // The named field; a missing name is a programming error.
    t_ftd& find_field(const std::u16string& name);
    const t_ftd& find_field(const std::u16string& name) const;
    std::uint32_t get_field_size(const std::u16string& name) const;
    VARTYPE get_field_type(const std::u16string& name) const;
    // The names in field order, as a header line wants them.
    std::vector<std::u16string> field_names() const;

private:
    int find(const std::u16string& name) const;

    bool m_owner;
    std::vector<t_ftd*> m_fields;
    std::vector<std::unique_ptr<t_ftd>> m_owned;
};
