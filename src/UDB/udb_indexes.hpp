#pragma once

#include <string>
#include <vector>

// One index of a table as the catalog reports it; columns in key order.
struct udb_index {
    std::u16string name;
    bool b_primary = false;
    bool b_unique = false;
    std::vector<std::u16string> columns;
};

// The indexes of one table. Names compare ignoring case; the first match wins.
class udb_indexes {
public:
    bool is_acceptable_name(const std::u16string& name) const;
    // The index of that name, or nullptr.
    udb_index* find(const std::u16string& name);
    const udb_index* find(const std::u16string& name) const;
    void add(udb_index index) { m_indexes.push_back(std::move(index)); }
    bool has_primary() const;

    size_t size() const { return m_indexes.size(); }
    bool empty() const { return m_indexes.empty(); }
    const udb_index& operator[](size_t i) const { return m_indexes[i]; }
    std::vector<udb_index>::const_iterator begin() const { return m_indexes.begin(); }
    std::vector<udb_index>::const_iterator end() const { return m_indexes.end(); }

private:
    std::vector<udb_index> m_indexes;
};
