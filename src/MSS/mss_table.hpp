#pragma once

#include "MSS/mss_split_tab_name.hpp"
#include "MSS/odb_recordset.hpp"
#include "MSS/ole_com_ptr.hpp"
#include "UDB/udb_relationships.hpp"

#include <string>

// A record sequence over one table or one user query. It stops after as many rows as its count
// query said, whatever the rowset still holds.
class odb_table : public odb_recordset {
public:
    ~odb_table() override;

    bool is_query() const override { return !m_query.empty(); }
    int records_count() const { return m_records_count; }

protected:
    odb_table(std::u16string name, std::u16string query, IOpenRowset* session, int mode,
              udb_relationships& relationships);

    bool is_count_reached() const override { return rows_read() >= m_records_count; }
    void internal_initialize(int mode);
    int get_records_cnt();
    void init_indexes(const std::u16string& table, const std::u16string& owner);

    ole_com_ptr<IOpenRowset> m_session;
    udb_relationships& m_relationships;
    int m_records_count = 0;
};

// The text of a catalog row's column; empty when the row is shorter.
std::u16string mss_column_text(const udb_record& row, size_t column);

class mss_table : public odb_table {
public:
    // Mode bit 8: no defaults, identity or decimal sizes from the catalog (a request a table).
    static constexpr int skip_column_details = 256;
    // A table: name is the owner-qualified bracketed name.
    mss_table(const std::u16string& name, IOpenRowset* session, int mode, udb_relationships& relationships,
              int server_version);
    // A user query of that name.
    mss_table(const std::u16string& name, const std::u16string& query, IOpenRowset* session, int mode,
              udb_relationships& relationships);
    ~mss_table() override;

    bool has_auto_num() const { return m_b_has_auto_num; }
    bool has_primary_index() const { return m_b_has_primary; }

    // A column default as the catalog writes it, read as a value of the column's type.
    static ole_variant get_def_value(VARTYPE type, const std::u16string& text);

private:
    void init_schema();

    bool m_b_has_auto_num = false;
    bool m_b_has_primary = false;
};
