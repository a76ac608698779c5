#pragma once

#include "MSS/mss_table.hpp"
#include "MSS/odb_database.hpp"

#include <map>
#include <memory>
#include <string>

// One open database described to the converter: its tables, their columns' SQL types, its
// views; tables and user queries open as record sequences.
class mss_database : public odb_database {
public:
    // Reads the tables, their columns and (unless mode bit 7) the views at once.
    mss_database(const std::u16string& name, ole_com_ptr<IDBInitialize> data_source,
                 ole_com_ptr<IOpenRowset> session, int mode);
    ~mss_database() override;

    std::unique_ptr<mss_table> get_table(const std::u16string& name, int mode);
    std::unique_ptr<mss_table> get_table(const std::u16string& name, const std::u16string& query, int mode);

    const std::u16string& owner() const { return m_owner; }

private:
    void init_tables(const std::u16string& owner);
    void init_columns(const std::u16string& owner);
    void init_views(const std::u16string& owner);
    // Reads the columns of a table the database-wide query did not see (one created since).
    void init_table_columns(const std::u16string& name);
    void correct_dates(mss_table& table) const;

    std::u16string m_owner;
    int m_server_version;
    // Owner-qualified table name -> column name -> SQL data type.
    std::map<std::u16string, std::map<std::u16string, std::u16string>> m_columns;
};
