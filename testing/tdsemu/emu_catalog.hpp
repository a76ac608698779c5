#pragma once

#include "tdsemu/sql_type.hpp"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace tdsemu {

struct column_def {
    std::string name;
    sql_type type;
    bool nullable = true;
    bool identity = false;
    std::string default_text; // as the server keeps it, e.g. ((0)) or (N'x')
};

struct table_def {
    std::string owner, name;
    bool is_view = false;
    bool is_system = false;      // INFORMATION_SCHEMA: queryable, not listed by the catalog procedures
    std::string view_definition; // the CREATE VIEW text as written
    std::vector<column_def> columns;
    std::string pk_name;
    std::vector<std::string> pk_columns;
    bool pk_clustered = true;
    bool select_denied = false;
    int64_t generated_rows = -2; // -2: stored rows, -1: endless generated rows, else that many generated rows

    const column_def* find_column(const std::string& column) const;
};

struct index_def {
    std::string owner, table, name;
    bool unique = false, clustered = false;
    std::vector<std::pair<std::string, bool>> columns; // name, descending
};

struct foreign_key_def {
    std::string name, owner, table;
    std::vector<std::string> columns;
    std::string ref_owner, ref_table;
    std::vector<std::string> ref_columns;
    int update_rule = 1, delete_rule = 1; // 0 cascade, 1 no action, 2 set null, 3 set default
};

struct database_def {
    std::string name;
    std::vector<std::string> owners; // dbo first
    std::vector<table_def> tables;
    std::vector<index_def> indexes;
    std::vector<foreign_key_def> foreign_keys;
    bool connect_denied = false;
    std::vector<std::string> files; // one SQLite file per owner, same order as owners
    std::string info_schema_file;

    const table_def* find_table(const std::string& owner, const std::string& name) const;
};

struct seed_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The databases the emulator serves, built once from a seed script into SQLite files under a folder.
class emu_catalog {
public:
    explicit emu_catalog(std::string folder);
    ~emu_catalog();
    emu_catalog(const emu_catalog&) = delete;
    emu_catalog& operator=(const emu_catalog&) = delete;

    // Runs a seed script; throws seed_error naming the statement at fault.
    void load_seed(const std::string& script);
    // A table of generated rows (rows = -1: endless), owner "dbo" unless given as owner.name.
    void add_generated_table(const std::string& database, const std::string& name, int64_t rows);
    // Builds INFORMATION_SCHEMA and closes the writing connections; call once after seeding.
    void finish();

    const std::vector<database_def>& databases() const { return m_databases; }
    const database_def* find_database(const std::string& name) const;

private:
    struct writer;
    database_def& create_database(const std::string& name);
    void run_statement(const std::string& text);
    void create_table(database_def& db, const std::vector<struct sql_token>& t, const std::string& text);
    void build_info_schema(database_def& db);
    void resolve_view_columns(database_def& db);
    sqlite3* connection(database_def& db);

    std::string m_folder;
    std::vector<database_def> m_databases;
    std::vector<std::unique_ptr<writer>> m_writers;
    std::string m_current = "master";
    int m_file_counter = 0;
};

// Registers the row generator module and the server functions SQLite lacks (newid, getutcdate, datalength) on
// a connection; needed before a generated table is read.
void register_generator(sqlite3* db);
// The columns of a generated table, in order.
std::vector<column_def> generated_columns();

} // namespace tdsemu
