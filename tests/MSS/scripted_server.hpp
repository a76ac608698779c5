#pragma once

// A whole scripted server for catalog and conversion tests: tables with their rows, counts and
// catalog answers, user queries, the version text.

#include "MSS/odb_test_util.hpp"

#include <map>
#include <string>
#include <vector>

namespace odb_test {

inline std::u16string number_text(size_t n) {
    std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

inline const char16_t version_2008r2[] =
    u"Microsoft SQL Server 2008 R2 (SP2) - 10.50.4000.0 (X64) \n\tJun 28 2012 08:36:30";

// One sp_columns answer row beyond what the rowset says: the catalog's type name and default.
struct column_note {
    std::u16string type_name; // e.g. "int identity"
    std::u16string column_def;
    std::u16string length;
    std::u16string scale;
    std::u16string data_type; // INFORMATION_SCHEMA.COLUMNS type ("date", "time", ...)
};

class scripted_server {
public:
    explicit scripted_server(const std::u16string& version = version_2008r2) {
        provider.add_class(CLSID_SQLNCLI11);
        provider.add_command(u"SELECT @@VERSION", text_rows(u"", {version}));
    }

    // A table of an owner: its rowset by the bracketed name, its count and its catalog rows.
    void add_table(const std::u16string& owner, const std::u16string& name, const odb_script_rowset& rows,
                   std::map<std::u16string, column_note> notes = {}) {
        add_table(owner, name, rows, std::move(notes), true);
    }
    // A table created after the database-wide column query ran: only its own query sees it.
    void add_late_table(const std::u16string& owner, const std::u16string& name, const odb_script_rowset& rows,
                        std::map<std::u16string, column_note> notes = {}) {
        add_table(owner, name, rows, std::move(notes), false);
    }
    static std::u16string literal(std::u16string text) {
        for (size_t at = text.find(u'\''); at != std::u16string::npos; at = text.find(u'\'', at + 2))
            text.insert(at, 1, u'\'');
        return text;
    }

private:
    void add_table(const std::u16string& owner, const std::u16string& name, const odb_script_rowset& rows,
                   std::map<std::u16string, column_note> notes, bool listed) {
        auto bracketed = [](std::u16string text) {
            for (size_t at = text.find(u']'); at != std::u16string::npos; at = text.find(u']', at + 2))
                text.insert(at, 1, u']');
            return text;
        };
        std::u16string full = u"[" + bracketed(owner) + u"].[" + bracketed(name) + u"]";
        provider.add_table(full, rows);
        provider.add_command(u"SELECT COUNT(*) FROM " + full,
                             text_rows(u"", {number_text(rows.rows.size())}));
        odb_script_rowset columns;
        for (const char16_t* c :
             {u"TABLE_QUALIFIER", u"TABLE_OWNER", u"TABLE_NAME", u"COLUMN_NAME", u"DATA_TYPE", u"TYPE_NAME",
              u"PRECISION", u"LENGTH", u"SCALE", u"RADIX", u"NULLABLE", u"REMARKS", u"COLUMN_DEF"})
            columns.columns.push_back(column(c, DBTYPE_WSTR, 128));
        odb_script_rowset own;
        for (const char16_t* c : {u"column_name", u"data_type"}) own.columns.push_back(column(c, DBTYPE_WSTR, 128));
        for (const odb_script_column& c : rows.columns) {
            column_note note = notes.count(c.name) ? notes[c.name] : column_note{};
            columns.rows.push_back(
                {u"shop", owner, name, c.name, u"4", note.type_name.empty() ? u"int" : note.type_name, u"10",
                 note.length, note.scale, u"10", u"1", odb_script_value::null(),
                 note.column_def.empty() ? odb_script_value::null() : odb_script_value(note.column_def)});
            std::u16string type = note.data_type.empty() ? u"int" : note.data_type;
            if (listed) m_columns[owner].push_back({name, c.name, type});
            own.rows.push_back({c.name, type});
        }
        provider.add_command(u"select column_name, data_type from INFORMATION_SCHEMA.COLUMNS where table_schema='" +
                                 literal(owner) + u"' and table_name='" + literal(name) + u"'",
                             own);
        provider.add_command(u"EXEC sp_columns @table_name=[" + bracketed(name) + u"], @table_owner=[" +
                                 bracketed(owner) + u"]",
                             columns);
        m_tables.push_back({u"shop", owner, name, u"TABLE"});
    }

public:

    // A user query: its result and its count.
    void add_query(const std::u16string& text, const odb_script_rowset& rows) {
        provider.add_command(text, rows);
        provider.add_command(u"SELECT COUNT(*) FROM (" + text + u") as query",
                             text_rows(u"", {number_text(rows.rows.size())}));
    }

    void add_view(const std::u16string& owner, const std::u16string& name, const std::u16string& definition) {
        m_views[owner].push_back({name, definition});
    }

    // The catalog answers for these owners; call once, after the tables.
    void finish(const std::vector<std::u16string>& owners = {u"dbo"}) {
        odb_script_rowset tables;
        for (const char16_t* c : {u"TABLE_CATALOG", u"TABLE_SCHEMA", u"TABLE_NAME", u"TABLE_TYPE"})
            tables.columns.push_back(column(c, DBTYPE_WSTR, 128));
        for (const auto& t : m_tables) tables.rows.push_back({t[0], t[1], t[2], t[3]});
        provider.add_schema(DBSCHEMA_TABLES, tables);
        provider.add_schema(DBSCHEMA_PRIMARY_KEYS, wide_columns(8));
        provider.add_schema(DBSCHEMA_FOREIGN_KEYS, wide_columns(18));
        provider.add_schema(DBSCHEMA_INDEXES, wide_columns(25));
        const std::u16string filter =
            u"' and table_name not in ('sysalternates','sysconstraints','syssegments')";
        for (const std::u16string& owner : owners) {
            odb_script_rowset columns;
            for (const char16_t* c : {u"table_name", u"column_name", u"data_type"})
                columns.columns.push_back(column(c, DBTYPE_WSTR, 128));
            for (const auto& c : m_columns[owner]) columns.rows.push_back({c[0], c[1], c[2]});
            provider.add_command(
                u"select table_name, column_name, data_type from INFORMATION_SCHEMA.COLUMNS where "
                u"table_schema='" +
                    owner + filter,
                columns);
            odb_script_rowset views;
            for (const char16_t* c : {u"table_name", u"view_definition"})
                views.columns.push_back(column(c, DBTYPE_WSTR, 4000));
            for (const auto& v : m_views[owner]) views.rows.push_back({v[0], v[1]});
            provider.add_command(u"select table_name, view_definition from information_schema.views where "
                                 u"table_schema='" +
                                     owner + filter,
                                 views);
            odb_script_rowset fallback = tables;
            fallback.rows.clear();
            provider.add_command(u"exec sp_tables @table_owner='" + owner + u"', @table_type=\"'TABLE'\"",
                                 fallback);
        }
    }

    static odb_script_rowset wide_columns(int count) {
        odb_script_rowset rowset;
        for (int i = 0; i < count; ++i)
            rowset.columns.push_back(column(u"C" + number_text(i), DBTYPE_WSTR, 128));
        return rowset;
    }

    odb_scripted_provider provider;

private:
    std::vector<std::vector<std::u16string>> m_tables;
    std::map<std::u16string, std::vector<std::vector<std::u16string>>> m_columns;
    std::map<std::u16string, std::vector<std::vector<std::u16string>>> m_views;
};

// Two columns, id (int) and name (text), one row per name.
inline odb_script_rowset id_name_rows(const std::vector<std::u16string>& names) {
    odb_script_rowset rowset;
    rowset.columns.push_back(column(u"id", DBTYPE_I4, 10));
    rowset.columns.push_back(column(u"name", DBTYPE_WSTR, 50));
    int id = 1;
    for (const auto& n : names) rowset.rows.push_back({number_text(id++), n});
    return rowset;
}

} // namespace odb_test
