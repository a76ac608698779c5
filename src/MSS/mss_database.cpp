#include "MSS/mss_database.hpp"

#include "MSS/mss_engine.hpp"
#include "MSS/mss_sql_text.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/mss_split_tab_name.hpp"
#include "MSS/odb_meta_data.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

namespace {
const char16_t system_tables[] = u"table_name not in ('sysalternates','sysconstraints','syssegments')";

} // namespace

mss_database::mss_database(const std::u16string& name, ole_com_ptr<IDBInitialize> data_source,
                           ole_com_ptr<IOpenRowset> session, int mode)
    : odb_database(name, std::move(data_source), std::move(session), mode) {
    TK_WTRACE(2, u"mss_database::ctor(%s)", name.c_str());
    const mss_engine& engine = mss_engine::get();
    m_server_version = engine.version();
    const std::u16string& user = engine.user();
    TK_WTRACE(2, u"user=%s", user.c_str());
    // sa owns what dbo owns: its own name owns nothing.
    m_owner = user.empty() || engine.as_dbo() || tk_equal_nocase(user, u"sa") ? std::u16string(u"dbo") : user;
    init_tables(m_owner);
    if (!(mode & 128)) {
        try {
            init_views(m_owner);
        } catch (const odb_exception& e) {
            TK_TRACE(3, "Error while extracting views:\n%s\n", e.what());
        }
    }
}

mss_database::~mss_database() = default;

void mss_database::init_tables(const std::u16string& owner) {
    TK_WTRACE(2, u"mss_database::init_tables(%s)", owner.c_str());
    auto read = [this](odb_recordset& rows) {
        for (rows.reset(); !rows.is_eof(); rows.next()) {
            const udb_record& row = *rows.get_item();
            std::u16string table = mss_column_text(row, odb_tables_name);
            std::u16string table_owner = mss_column_text(row, odb_tables_schema);
            TK_WTRACE(2, u"Got table: (name=%s, owner=%s)", table.c_str(), table_owner.c_str());
            add_table(table);
        }
    };
    {
        odb_tl_meta_data tables(session(), owner);
        read(tables);
    }
    if (m_tables.empty()) {
        TK_TRACE(2, "No tables were found! Trying another method.");
        std::unique_ptr<odb_recordset> rows = query(
            u"exec sp_tables @table_owner='" + mss_escape_literal(owner) + u"', @table_type=\"'TABLE'\"");
        read(*rows);
    }
    TK_TRACE(2, "Tables count: %d", static_cast<int>(m_tables.size()));
    init_columns(owner);
}

void mss_database::init_columns(const std::u16string& owner) {
    TK_WTRACE(2, u"mss_database::init_columns(%s)", owner.c_str());
    if (!m_columns.empty()) return;
    std::unique_ptr<odb_recordset> rows = query(
        u"select table_name, column_name, data_type from INFORMATION_SCHEMA.COLUMNS where table_schema='" +
        mss_escape_literal(owner) + u"' and " + system_tables);
    for (rows->reset(); !rows->is_eof(); rows->next()) {
        const udb_record& row = *rows->get_item();
        std::u16string table = mss_column_text(row, 0), column = mss_column_text(row, 1),
                       type = mss_column_text(row, 2);
        m_columns[mss_engine::get().get_safe_tname(table)][column] = type;
        TK_WTRACE(2, u"Database column (table, column, type): %s, %s, %s", table.c_str(), column.c_str(),
                  type.c_str());
    }
}

void mss_database::init_views(const std::u16string& owner) {
    TK_WTRACE(2, u"mss_database::init_views(%s)", owner.c_str());
    std::unique_ptr<odb_recordset> rows =
        query(u"select table_name, view_definition from information_schema.views where table_schema='" +
              mss_escape_literal(owner) + u"' and " + system_tables);
    for (rows->reset(); !rows->is_eof(); rows->next()) {
        const udb_record& row = *rows->get_item();
        std::u16string name = mss_column_text(row, 0), text;
        if (!mss_normalize_view(mss_column_text(row, 1), text)) continue;
        TK_WTRACE(2, u"Got view: ('%s', '%s')", name.c_str(), text.c_str());
        add_view(name, text);
    }
}

void mss_database::correct_dates(mss_table& table) const {
    auto columns = m_columns.find(table.name());
    if (columns == m_columns.end()) return;
    udb_schema& schema = table.schema();
    for (size_t i = 0; i < schema.size(); ++i) {
        auto type = columns->second.find(schema[i].name);
        if (type == columns->second.end()) continue;
        if (type->second == u"date") {
            schema[i].vartype = VT_DATE;
            schema[i].set_reserved(2);
        } else if (type->second == u"time") {
            schema[i].vartype = VT_DATE;
            schema[i].set_reserved(3);
        }
    }
}

void mss_database::init_table_columns(const std::u16string& name) {
    std::u16string table, owner;
    if (!mss_split_tab_name(name, table, owner)) return;
    TK_WTRACE(2, u"mss_database::init_table_columns(%s)", name.c_str());
    std::map<std::u16string, std::u16string>& columns = m_columns[name];
    try {
        std::unique_ptr<odb_recordset> rows =
            query(u"select column_name, data_type from INFORMATION_SCHEMA.COLUMNS where table_schema='" +
                  mss_escape_literal(owner.empty() ? m_owner : owner) + u"' and table_name='" +
                  mss_escape_literal(table) + u"'");
        for (rows->reset(); !rows->is_eof(); rows->next()) {
            const udb_record& row = *rows->get_item();
            columns[mss_column_text(row, 0)] = mss_column_text(row, 1);
        }
    } catch (const odb_exception& e) {
        // The table itself is read all the same: only its date columns stay as the rowset types them.
        TK_TRACE(3, "Error while reading the columns of a table:\n%s\n", e.what());
    }
}

std::unique_ptr<mss_table> mss_database::get_table(const std::u16string& name, int mode) {
    TK_WTRACE(1, u"mss_database::get_table(%s)", name.c_str());
    auto table = std::make_unique<mss_table>(mss_engine::get().get_safe_tname(name), session(), mode,
                                             relationships(), m_server_version);
    if (!m_columns.contains(table->name())) init_table_columns(table->name());
    correct_dates(*table);
    return table;
}

std::unique_ptr<mss_table> mss_database::get_table(const std::u16string& name, const std::u16string& text,
                                                   int mode) {
    TK_WTRACE(1, u"mss_database::get_table(%s: %s)", name.c_str(), text.c_str());
    auto table = std::make_unique<mss_table>(name, text, session(), mode, relationships());
    correct_dates(*table);
    return table;
}
