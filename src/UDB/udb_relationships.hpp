#pragma once

#include <string>
#include <vector>

// A foreign key: the referencing (fk) table and columns, the referenced (pk) table and columns.
struct udb_relationship {
    std::u16string name;
    std::u16string pk_name;
    std::u16string fk_table;
    std::u16string pk_table;
    std::vector<std::u16string> fk_columns;
    std::vector<std::u16string> pk_columns;
    std::u16string rule;
};

// The relationships of a database. Names compare ignoring case; the first match wins.
class udb_relationships {
public:
    bool is_acceptable_name(const std::u16string& name) const;
    // The relationship of that name; a missing one is a programming error.
    udb_relationship& get_index(const std::u16string& name);
    void add(udb_relationship relationship) { m_items.push_back(std::move(relationship)); }

    size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    const udb_relationship& operator[](size_t i) const { return m_items[i]; }
    std::vector<udb_relationship>::const_iterator begin() const { return m_items.begin(); }
    std::vector<udb_relationship>::const_iterator end() const { return m_items.end(); }

private:
    udb_relationship* find(const std::u16string& name);
    std::vector<udb_relationship> m_items;
};
