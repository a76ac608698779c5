#include "ODBC/odbc_catalog.hpp"

#include "ODBC/odbc_error.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include "ODBC/odbc_sql.hpp"

#include <cstdlib>

namespace {

using restriction = std::optional<std::u16string>;
using rows = std::vector<odbc_row>;

struct layout_column {
    const char16_t* name;
    DBTYPE type;
};

std::vector<odbc_column> make_columns(std::initializer_list<layout_column> layout) {
    std::vector<odbc_column> columns;
    for (const layout_column& c : layout) {
        odbc_column column;
        column.name = c.name;
        column.type = c.type;
        column.flags = DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
        switch (c.type) {
        case DBTYPE_WSTR:
            column.size = 128;
            break;
        case DBTYPE_BOOL:
            column.size = 2;
            break;
        case DBTYPE_I2:
        case DBTYPE_UI2:
            column.size = 2;
            break;
        case DBTYPE_I4:
        case DBTYPE_UI4:
            column.size = 4;
            break;
        case DBTYPE_UI8:
            column.size = 8;
            break;
        case DBTYPE_GUID:
            column.size = 16;
            break;
        case DBTYPE_DBTIMESTAMP:
            column.size = 16;
            break;
        default:
            column.size = 0;
            break;
        }
        columns.push_back(std::move(column));
    }
    return columns;
}

odbc_value text_value(std::u16string text) {
    odbc_value value;
    value.status = DBSTATUS_S_OK;
    value.text = std::move(text);
    return value;
}

odbc_value bool_value(bool flag) {
    return text_value(flag ? u"1" : u"0");
}

// A catalog function's column, as OLE DB wants it: a NULL stays NULL.
const odbc_value& field(const odbc_row& row, size_t index) {
    static const odbc_value null_value;
    return index < row.size() ? row[index] : null_value;
}

long number(const odbc_value& value) {
    if (value.status != DBSTATUS_S_OK) return 0;
    return std::strtol(tk_to_utf8(value.text).c_str(), nullptr, 10);
}

std::vector<SQLWCHAR> argument(const std::u16string& text) {
    std::vector<SQLWCHAR> result(text.begin(), text.end());
    result.push_back(0);
    return result;
}

SQLWCHAR* pointer(std::optional<std::vector<SQLWCHAR>>& text) {
    return text ? text->data() : nullptr;
}

SQLSMALLINT length(const std::optional<std::vector<SQLWCHAR>>& text) {
    return text ? SQL_NTS : 0;
}

// Restrictions match exactly, SQLTables' arguments are patterns. SQL_ATTR_METADATA_ID makes '_'
// and '%' match only themselves, but it also makes an absent argument (any schema, any table) an
// error, so it is used only when every name is given; otherwise the wildcards are escaped.
bool exact_arguments(const odbc_handle& statement) {
    return SQL_SUCCEEDED(SQLSetStmtAttr(statement.get(), SQL_ATTR_METADATA_ID,
                                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_TRUE)), 0));
}

std::optional<std::vector<SQLWCHAR>> pattern_argument(bool exact, const restriction& value) {
    if (!value) return std::nullopt;
    if (exact) return argument(*value);
    // The search escape of the drivers this system meets.
    std::u16string escaped;
    for (char16_t c : *value) {
        if (c == u'_' || c == u'%' || c == u'\\') escaped.push_back(u'\\');
        escaped.push_back(c);
    }
    return argument(escaped);
}

rows read_all(const std::shared_ptr<odbc_pool>& pool, odbc_statement_result::runner run) {
    odbc_statement_result result(pool, std::move(run));
    rows all;
    odbc_row row;
    while (result.fetch(row)) {
        // The catalog's rows are read, compared and handed on as text.
        for (odbc_value& value : row)
            if (value.number != odbc_value::no_number) {
                odbc_number_text(value, value.text);
                value.number = odbc_value::no_number;
            }
        all.push_back(row);
    }
    return all;
}

// The drivers compare names the server's way; keep only the rows whose restricted columns hold
// the restriction, ignoring case as the server's default collation does.
bool matches(const odbc_row& row, size_t column, const restriction& value) {
    if (!value) return true;
    const odbc_value& v = field(row, column);
    return v.status == DBSTATUS_S_OK && tk_equal_nocase(v.text, *value);
}

restriction at(const std::vector<restriction>& restrictions, size_t index) {
    return index < restrictions.size() ? restrictions[index] : std::nullopt;
}

std::unique_ptr<odbc_memory_result> catalogs(const std::shared_ptr<odbc_pool>& pool) {
    rows source = read_all(pool, [](const odbc_handle& h) {
        // SQL_ALL_CATALOGS is a pattern call: no identifier semantics here.
        SQLWCHAR all[] = {'%', 0}, empty[] = {0};
        odbc_check(SQLTablesW(h.get(), all, SQL_NTS, empty, 0, empty, 0, nullptr, 0), h, "SQLTables");
    });
    rows out;
    for (const odbc_row& row : source) {
        const odbc_value& name = field(row, 0);
        if (name.status != DBSTATUS_S_OK) continue;
        out.push_back({name, field(row, 4)});
    }
    return std::make_unique<odbc_memory_result>(
        make_columns({{u"CATALOG_NAME", DBTYPE_WSTR}, {u"DESCRIPTION", DBTYPE_WSTR}}), std::move(out));
}

std::unique_ptr<odbc_memory_result> tables(const std::shared_ptr<odbc_pool>& pool,
                                           const std::vector<restriction>& r) {
    restriction catalog = at(r, 0), schema = at(r, 1), name = at(r, 2), type = at(r, 3);
    rows source = read_all(pool, [&](const odbc_handle& h) {
        bool exact = catalog && schema && name && exact_arguments(h);
        auto c = catalog ? std::optional(argument(*catalog)) : std::nullopt;
        auto s = pattern_argument(exact, schema);
        auto n = pattern_argument(exact, name);
        // TableType is a list of values, not an identifier.
        auto t = type ? std::optional(argument(*type)) : std::nullopt;
        odbc_check(SQLTablesW(h.get(), pointer(c), length(c), pointer(s), length(s), pointer(n), length(n),
                              pointer(t), length(t)),
                   h, "SQLTables");
    });
    rows out;
    for (const odbc_row& row : source) {
        if (!matches(row, 0, catalog) || !matches(row, 1, schema) || !matches(row, 2, name) ||
            !matches(row, 3, type))
            continue;
        out.push_back({field(row, 0), field(row, 1), field(row, 2), field(row, 3), odbc_value(),
                       field(row, 4), odbc_value(), odbc_value(), odbc_value()});
    }
    return std::make_unique<odbc_memory_result>(make_columns({{u"TABLE_CATALOG", DBTYPE_WSTR},
                                                              {u"TABLE_SCHEMA", DBTYPE_WSTR},
                                                              {u"TABLE_NAME", DBTYPE_WSTR},
                                                              {u"TABLE_TYPE", DBTYPE_WSTR},
                                                              {u"TABLE_GUID", DBTYPE_GUID},
                                                              {u"DESCRIPTION", DBTYPE_WSTR},
                                                              {u"TABLE_PROPID", DBTYPE_UI4},
                                                              {u"DATE_CREATED", DBTYPE_DBTIMESTAMP},
                                                              {u"DATE_MODIFIED", DBTYPE_DBTIMESTAMP}}),
                                                std::move(out));
}

// SQLPrimaryKeys, SQLForeignKeys and SQLStatistics take ordinary arguments, matched literally; the
// table name is required, without one there is nothing to ask.
void require_table(const restriction& table, const char* schema_name) {
    if (!table)
        throw odbc_error(DB_E_NOTSUPPORTED, tk_utf8_to_wstring_lossy(schema_name) +
                                                u" needs a table name restriction through ODBC");
}

rows primary_key_rows(const std::shared_ptr<odbc_pool>& pool, const restriction& catalog,
                      const restriction& schema, const restriction& table) {
    return read_all(pool, [&](const odbc_handle& h) {
        auto c = catalog ? std::optional(argument(*catalog)) : std::nullopt;
        auto s = schema ? std::optional(argument(*schema)) : std::nullopt;
        auto t = argument(*table);
        odbc_check(SQLPrimaryKeysW(h.get(), pointer(c), length(c), pointer(s), length(s), t.data(), SQL_NTS),
                   h, "SQLPrimaryKeys");
    });
}

std::unique_ptr<odbc_memory_result> primary_keys(const std::shared_ptr<odbc_pool>& pool,
                                                 const std::vector<restriction>& r) {
    restriction catalog = at(r, 0), schema = at(r, 1), table = at(r, 2);
    require_table(table, "PRIMARY_KEYS");
    rows out;
    for (const odbc_row& row : primary_key_rows(pool, catalog, schema, table)) {
        if (!matches(row, 1, schema) || !matches(row, 2, table)) continue;
        out.push_back({field(row, 0), field(row, 1), field(row, 2), field(row, 3), odbc_value(), odbc_value(),
                       field(row, 4), field(row, 5)});
    }
    return std::make_unique<odbc_memory_result>(make_columns({{u"TABLE_CATALOG", DBTYPE_WSTR},
                                                              {u"TABLE_SCHEMA", DBTYPE_WSTR},
                                                              {u"TABLE_NAME", DBTYPE_WSTR},
                                                              {u"COLUMN_NAME", DBTYPE_WSTR},
                                                              {u"COLUMN_GUID", DBTYPE_GUID},
                                                              {u"COLUMN_PROPID", DBTYPE_UI4},
                                                              {u"ORDINAL", DBTYPE_UI4},
                                                              {u"PK_NAME", DBTYPE_WSTR}}),
                                                std::move(out));
}

odbc_value rule_text(const odbc_value& rule) {
    if (rule.status != DBSTATUS_S_OK) return odbc_value();
    switch (number(rule)) {
    case SQL_CASCADE:
        return text_value(u"CASCADE");
    case SQL_SET_NULL:
        return text_value(u"SET NULL");
    case SQL_SET_DEFAULT:
        return text_value(u"SET DEFAULT");
    default:
        return text_value(u"NO ACTION");
    }
}

odbc_value deferrability(const odbc_value& value) {
    if (value.status != DBSTATUS_S_OK) return odbc_value();
    switch (number(value)) {
    case SQL_INITIALLY_DEFERRED:
        return text_value(u"1");
    case SQL_INITIALLY_IMMEDIATE:
        return text_value(u"2");
    default:
        return text_value(u"3");
    }
}

std::unique_ptr<odbc_memory_result> foreign_keys(const std::shared_ptr<odbc_pool>& pool,
                                                 const std::vector<restriction>& r) {
    restriction pk_catalog = at(r, 0), pk_schema = at(r, 1), pk_table = at(r, 2);
    restriction fk_catalog = at(r, 3), fk_schema = at(r, 4), fk_table = at(r, 5);
    if (!pk_table && !fk_table) require_table(pk_table, "FOREIGN_KEYS");
    rows source = read_all(pool, [&](const odbc_handle& h) {
        auto arg = [](const restriction& v) { return v ? std::optional(argument(*v)) : std::nullopt; };
        auto pc = arg(pk_catalog), ps = arg(pk_schema), pt = arg(pk_table);
        auto fc = arg(fk_catalog), fs = arg(fk_schema), ft = arg(fk_table);
        odbc_check(SQLForeignKeysW(h.get(), pointer(pc), length(pc), pointer(ps), length(ps), pointer(pt),
                                   length(pt), pointer(fc), length(fc), pointer(fs), length(fs), pointer(ft),
                                   length(ft)),
                   h, "SQLForeignKeys");
    });
    rows out;
    for (const odbc_row& row : source) {
        if (!matches(row, 1, pk_schema) || !matches(row, 2, pk_table) || !matches(row, 5, fk_schema) ||
            !matches(row, 6, fk_table))
            continue;
        out.push_back({field(row, 0), field(row, 1), field(row, 2), field(row, 3), odbc_value(), odbc_value(),
                       field(row, 4), field(row, 5), field(row, 6), field(row, 7), odbc_value(), odbc_value(),
                       field(row, 8), rule_text(field(row, 9)), rule_text(field(row, 10)), field(row, 12),
                       field(row, 11), deferrability(field(row, 13))});
    }
    return std::make_unique<odbc_memory_result>(make_columns({{u"PK_TABLE_CATALOG", DBTYPE_WSTR},
                                                              {u"PK_TABLE_SCHEMA", DBTYPE_WSTR},
                                                              {u"PK_TABLE_NAME", DBTYPE_WSTR},
                                                              {u"PK_COLUMN_NAME", DBTYPE_WSTR},
                                                              {u"PK_COLUMN_GUID", DBTYPE_GUID},
                                                              {u"PK_COLUMN_PROPID", DBTYPE_UI4},
                                                              {u"FK_TABLE_CATALOG", DBTYPE_WSTR},
                                                              {u"FK_TABLE_SCHEMA", DBTYPE_WSTR},
                                                              {u"FK_TABLE_NAME", DBTYPE_WSTR},
                                                              {u"FK_COLUMN_NAME", DBTYPE_WSTR},
                                                              {u"FK_COLUMN_GUID", DBTYPE_GUID},
                                                              {u"FK_COLUMN_PROPID", DBTYPE_UI4},
                                                              {u"ORDINAL", DBTYPE_UI4},
                                                              {u"UPDATE_RULE", DBTYPE_WSTR},
                                                              {u"DELETE_RULE", DBTYPE_WSTR},
                                                              {u"PK_NAME", DBTYPE_WSTR},
                                                              {u"FK_NAME", DBTYPE_WSTR},
                                                              {u"DEFERRABILITY", DBTYPE_I2}}),
                                                std::move(out));
}

std::unique_ptr<odbc_memory_result> indexes(const std::shared_ptr<odbc_pool>& pool,
                                            const std::vector<restriction>& r) {
    restriction catalog = at(r, 0), schema = at(r, 1), index_name = at(r, 2), type = at(r, 3),
                table = at(r, 4);
    require_table(table, "INDEXES");
    // PRIMARY_KEY: the index that carries the primary key's name.
    std::u16string pk_name;
    for (const odbc_row& row : primary_key_rows(pool, catalog, schema, table)) {
        const odbc_value& name = field(row, 5);
        if (name.status == DBSTATUS_S_OK && matches(row, 1, schema) && matches(row, 2, table)) {
            pk_name = name.text;
            break;
        }
    }
    rows source = read_all(pool, [&](const odbc_handle& h) {
        auto c = catalog ? std::optional(argument(*catalog)) : std::nullopt;
        auto s = schema ? std::optional(argument(*schema)) : std::nullopt;
        auto t = argument(*table);
        odbc_check(SQLStatisticsW(h.get(), pointer(c), length(c), pointer(s), length(s), t.data(), SQL_NTS,
                                  SQL_INDEX_ALL, SQL_QUICK),
                   h, "SQLStatistics");
    });
    rows out;
    for (const odbc_row& row : source) {
        const odbc_value& name = field(row, 5);
        long index_type = number(field(row, 6));
        // The table's statistics row describes no index.
        if (index_type == SQL_TABLE_STAT || name.status != DBSTATUS_S_OK) continue;
        if (!matches(row, 1, schema) || !matches(row, 2, table) || !matches(row, 5, index_name)) continue;
        bool clustered = index_type == SQL_INDEX_CLUSTERED;
        // OLE DB's index types: 1 B-tree, 3 hash, 4 other.
        odbc_value ole_type = text_value(index_type == SQL_INDEX_HASHED  ? u"3"
                                         : index_type == SQL_INDEX_OTHER ? u"4"
                                                                         : u"1");
        if (type && ole_type.text != *type) continue;
        const odbc_value& order = field(row, 9);
        odbc_value collation;
        if (order.status == DBSTATUS_S_OK) collation = text_value(order.text == u"D" ? u"2" : u"1");
        bool primary = !pk_name.empty() && name.text == pk_name;
        bool unique = field(row, 3).status == DBSTATUS_S_OK && number(field(row, 3)) == 0;
        out.push_back({field(row, 0),
                       field(row, 1),
                       field(row, 2),
                       field(row, 0),
                       field(row, 4),
                       name,
                       bool_value(primary),
                       bool_value(unique),
                       bool_value(clustered),
                       ole_type,
                       odbc_value(),
                       odbc_value(),
                       odbc_value(),
                       odbc_value(),
                       odbc_value(),
                       odbc_value(),
                       field(row, 7),
                       field(row, 8),
                       odbc_value(),
                       odbc_value(),
                       collation,
                       field(row, 10),
                       field(row, 11),
                       field(row, 12),
                       bool_value(clustered)});
    }
    return std::make_unique<odbc_memory_result>(make_columns({{u"TABLE_CATALOG", DBTYPE_WSTR},
                                                              {u"TABLE_SCHEMA", DBTYPE_WSTR},
                                                              {u"TABLE_NAME", DBTYPE_WSTR},
                                                              {u"INDEX_CATALOG", DBTYPE_WSTR},
                                                              {u"INDEX_SCHEMA", DBTYPE_WSTR},
                                                              {u"INDEX_NAME", DBTYPE_WSTR},
                                                              {u"PRIMARY_KEY", DBTYPE_BOOL},
                                                              {u"UNIQUE", DBTYPE_BOOL},
                                                              {u"CLUSTERED", DBTYPE_BOOL},
                                                              {u"TYPE", DBTYPE_UI2},
                                                              {u"FILL_FACTOR", DBTYPE_I4},
                                                              {u"INITIAL_SIZE", DBTYPE_I4},
                                                              {u"NULLS", DBTYPE_I4},
                                                              {u"SORT_BOOKMARKS", DBTYPE_BOOL},
                                                              {u"AUTO_UPDATE", DBTYPE_BOOL},
                                                              {u"NULL_COLLATION", DBTYPE_I4},
                                                              {u"ORDINAL_POSITION", DBTYPE_UI4},
                                                              {u"COLUMN_NAME", DBTYPE_WSTR},
                                                              {u"COLUMN_GUID", DBTYPE_GUID},
                                                              {u"COLUMN_PROPID", DBTYPE_UI4},
                                                              {u"COLLATION", DBTYPE_I2},
                                                              {u"CARDINALITY", DBTYPE_UI8},
                                                              {u"PAGES", DBTYPE_I4},
                                                              {u"FILTER_CONDITION", DBTYPE_WSTR},
                                                              {u"INTEGRATED", DBTYPE_BOOL}}),
                                                std::move(out));
}

} // namespace

std::unique_ptr<odbc_memory_result>
odbc_schema_rowset(const std::shared_ptr<odbc_pool>& pool, const GUID& schema,
                   const std::vector<std::optional<std::u16string>>& restrictions) {
    if (schema == DBSCHEMA_CATALOGS) return catalogs(pool);
    if (schema == DBSCHEMA_TABLES) return tables(pool, restrictions);
    if (schema == DBSCHEMA_PRIMARY_KEYS) return primary_keys(pool, restrictions);
    if (schema == DBSCHEMA_FOREIGN_KEYS) return foreign_keys(pool, restrictions);
    if (schema == DBSCHEMA_INDEXES) return indexes(pool, restrictions);
    throw odbc_error(DB_E_NOTSUPPORTED, u"This schema rowset is not available through ODBC");
}
