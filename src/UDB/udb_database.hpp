#pragma once

#include "UDB/udb_relationships.hpp"
#include "UDB/udb_schema.hpp"

#include <map>
#include <memory>
#include <string>
#include <vector>

class udb_recordset;

// A database as the converter sees it: its name, open mode, table names, views (name to
// SELECT text) and relationships. Table names compare ignoring case unless the database is
// case-sensitive.
class udb_database {
public:
    udb_database(std::u16string name, int mode, bool b_case_sensitive = false);
    virtual ~udb_database();
    udb_database(const udb_database&) = delete;
    udb_database& operator=(const udb_database&) = delete;

    bool is_table_exist(const std::u16string& name) const;
    // Removes the first table of that name; a missing name is a programming error.
    void delete_tab(const std::u16string& name);
    // Sources do not create tables; a destination database overrides this.
    virtual std::unique_ptr<udb_recordset> create_table(const std::u16string& name, const udb_schema& schema);

    const std::u16string& name() const { return m_name; }
    int mode() const { return m_mode; }
    bool case_sensitive() const { return m_b_case_sensitive; }
    void set_case_sensitive(bool on) { m_b_case_sensitive = on; }

    const std::vector<std::u16string>& tables() const { return m_tables; }
    void add_table(std::u16string name) { m_tables.push_back(std::move(name)); }
    const std::map<std::u16string, std::u16string>& views() const { return m_views; }
    // A second view of an existing name is not added.
    bool add_view(const std::u16string& name, const std::u16string& text);
    udb_relationships& relationships() { return m_relationships; }
    const udb_relationships& relationships() const { return m_relationships; }

protected:
    bool same_name(const std::u16string& a, const std::u16string& b) const;

    std::u16string m_name;
    int m_mode;
    bool m_b_case_sensitive;
    std::vector<std::u16string> m_tables;
    std::map<std::u16string, std::u16string> m_views;
    udb_relationships m_relationships;
};
