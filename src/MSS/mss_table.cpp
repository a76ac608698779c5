#include "MSS/mss_table.hpp"

#include "MSS/mss_engine.hpp"
#include "MSS/mss_sql_text.hpp"
#include "MSS/odb_command.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/odb_meta_data.hpp"
#include "OLE/ole_date.hpp"
#include "OLE/ole_type_exception.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cstdlib>
#include <stdexcept>

namespace {
// The first column of the first row of a one-value result, as text.
std::u16string first_value(odb_recordset& result) {
    result.reset();
    if (result.is_eof()) return {};
    udb_record* row = result.get_item();
    if (!row || row->empty()) throw std::out_of_range("invalid vector<T> subscript");
    return (*row)[0].to_wstring();
}

ole_com_ptr<IRowset> run(IOpenRowset* session, const std::u16string& sql) {
    ole_com_ptr<IRowset> rowset;
    odb_command(session).execute(sql, &rowset);
    return rowset;
}

} // namespace

std::u16string mss_column_text(const udb_record& row, size_t column) {
    return column < row.size() ? row[column].to_wstring() : std::u16string();
}

odb_table::odb_table(std::u16string name, std::u16string query, IOpenRowset* session, int mode,
                     udb_relationships& relationships)
    : odb_recordset(nullptr), m_relationships(relationships) {
    m_name = std::move(name);
    TK_WTRACE(2, u"odb_table::odb_table(%s)", m_name.c_str());
    m_query = std::move(query);
    session->AddRef();
    m_session = ole_com_ptr<IOpenRowset>(session);
    try {
        internal_initialize(mode);
    } catch (const odb_exception& e) {
        if ((e.code() & 0xFFFF) != 0x0E37) throw;
        TK_TRACE(2, "Got table_not_exists error");
        std::u16string table, owner;
        if (mss_split_tab_name(m_name, table, owner)) {
            m_name = u"[dbo].[" + mss_escape_bracketed(table) + u"]";
            TK_WTRACE(2, u"Creating %s", m_name.c_str());
            internal_initialize(mode);
        }
    }
    m_records_count = get_records_cnt();
    TK_TRACE(2, "Got %d records", m_records_count);
}

odb_table::~odb_table() = default;

void odb_table::internal_initialize(int mode) {
    TK_TRACE(2, "odb_table::internal_initialize");
    ole_com_ptr<IRowset> rowset;
    if (!m_query.empty()) {
        odb_command command(m_session.get());
        command.execute(m_query, &rowset);
    } else if (mode & 1) {
        TK_TRACE(2, "Open rowset in read_only mode");
        DBID id = DB_NULLID;
        id.eKind = DBKIND_NAME;
        id.pwszName = const_cast<LPOLESTR>(m_name.c_str());
        odb_check(
            m_session->OpenRowset(nullptr, &id, nullptr, IID_IRowset, 0, nullptr, rowset.put_unknown()));
    } else {
        // Only a destination opens a writable rowset; a source never does.
        throw tk_mail_assertion("odb_table.cpp", __LINE__);
    }
    set_rowset(rowset.get());
}

int odb_table::get_records_cnt() {
    TK_TRACE(2, "odb_table::get_records_cnt");
    std::u16string sql = m_query.empty() ? u"SELECT COUNT(*) FROM " + m_name
                                         : u"SELECT COUNT(*) FROM (" + m_query + u") as query";
    odb_recordset result(run(m_session.get(), sql).get());
    return static_cast<int>(std::strtol(tk_to_utf8(first_value(result)).c_str(), nullptr, 10));
}

void odb_table::init_indexes(const std::u16string& table, const std::u16string& owner) {
    TK_WTRACE(2, u"odb_table::init_indexes(%s,%s)", table.c_str(), owner.c_str());
    {
        odb_pk_meta_data keys(m_session.get(), owner, table);
        udb_index primary;
        primary.b_primary = primary.b_unique = true;
        for (keys.reset(); !keys.is_eof(); keys.next()) {
            const udb_record& row = *keys.get_item();
            std::u16string column = mss_column_text(row, odb_pk_column_name);
            std::u16string key_name = mss_column_text(row, odb_pk_name);
            TK_WTRACE(2, u"Got pr.key: %s", column.c_str());
            TK_ASSERT(primary.columns.empty() || key_name == primary.name, "odb_table.cpp");
            primary.name = key_name;
            primary.columns.push_back(column);
        }
        if (!primary.columns.empty()) m_indexes.add(std::move(primary));
    }
    {
        odb_fk_meta_data keys(m_session.get(), owner, table);
        for (keys.reset(); !keys.is_eof(); keys.next()) {
            const udb_record& row = *keys.get_item();
            std::u16string fk_name = mss_column_text(row, odb_fk_fk_name);
            if (m_relationships.is_acceptable_name(fk_name)) {
                TK_WTRACE(2, u"GOT FOREIGN KEY: %s", fk_name.c_str());
                udb_relationship r;
                r.name = fk_name;
                r.pk_name = mss_column_text(row, odb_fk_pk_name);
                r.fk_table = mss_column_text(row, odb_fk_fk_table_name);
                r.pk_table = mss_column_text(row, odb_fk_pk_table_name);
                r.fk_columns.push_back(mss_column_text(row, odb_fk_fk_column_name));
                r.pk_columns.push_back(mss_column_text(row, odb_fk_pk_column_name));
                m_relationships.add(std::move(r));
            } else {
                udb_relationship& r = m_relationships.get_index(fk_name);
                r.fk_columns.push_back(mss_column_text(row, odb_fk_fk_column_name));
                r.pk_columns.push_back(mss_column_text(row, odb_fk_pk_column_name));
            }
        }
    }
    odb_id_meta_data indexes(m_session.get(), owner, table);
    for (indexes.reset(); !indexes.is_eof(); indexes.next()) {
        const udb_record& row = *indexes.get_item();
        std::u16string index_name = mss_column_text(row, odb_ix_index_name);
        std::u16string column = mss_column_text(row, odb_ix_column_name);
        udb_index* index = m_indexes.find(index_name);
        if (!index) {
            TK_WTRACE(2, u"Got index: %s", index_name.c_str());
            udb_index added;
            added.name = index_name;
            added.b_primary =
                odb_ix_primary_key < static_cast<int>(row.size()) && row[odb_ix_primary_key].to_bool();
            added.b_unique = odb_ix_unique < static_cast<int>(row.size()) && row[odb_ix_unique].to_bool();
            added.columns.push_back(column);
            m_indexes.add(std::move(added));
        } else if (!index->b_primary) {
            index->columns.push_back(column);
        } else {
            TK_TRACE(2, "Skip Primary Key DoubleInitialization");
        }
    }
}

mss_table::mss_table(const std::u16string& name, IOpenRowset* session, int mode,
                     udb_relationships& relationships, int server_version)
    : odb_table(name, std::u16string(), session, mode, relationships) {
    TK_WTRACE(2, u"mss_table::mss_table(%s)", m_name.c_str());
    if (!(mode & mss_table::skip_column_details)) init_schema();
    TK_TRACE(1, "mss_table::split_tab_name");
    std::u16string table, owner;
    mss_split_tab_name(m_name, table, owner);
    if ((mode & 96) != 96) {
        if (server_version == 100) {
            TK_TRACE(2, "Skip init_indexes for SQL Azure");
        } else {
            try {
                init_indexes(table, owner);
            } catch (const odb_exception& e) {
                TK_TRACE(2, "Error while init_indexes: %s", e.what());
            }
        }
    }
    if (!(mode & 1))
        for (size_t i = 0; i < m_schema.size(); ++i)
            m_b_has_auto_num = m_b_has_auto_num || m_schema[i].b_auto_num;
    m_b_has_primary = m_indexes.has_primary();
}

mss_table::mss_table(const std::u16string& name, const std::u16string& query, IOpenRowset* session, int mode,
                     udb_relationships& relationships)
    : odb_table(name, query, session, mode, relationships) {
    TK_WTRACE(2, u"mss_table::ctor(%s)", m_name.c_str());
}

mss_table::~mss_table() = default;

void mss_table::init_schema() {
    TK_TRACE(2, "mss_table::init_schema");
    std::u16string table, owner;
    mss_split_tab_name(m_name, table, owner);
    // Pattern arguments: a name with '_' or '%' must match only itself.
    std::u16string sql = u"EXEC sp_columns @table_name=[" + mss_escape_pattern(table) + u"]";
    if (!owner.empty()) sql += u", @table_owner=[" + mss_escape_pattern(owner) + u"]";
    odb_recordset rows(run(m_session.get(), sql).get());
    for (rows.reset(); !rows.is_eof(); rows.next()) {
        const udb_record& row = *rows.get_item();
        std::u16string row_table = mss_column_text(row, 2);
        std::u16string column = mss_column_text(row, 3);
        std::u16string type_name = mss_column_text(row, 5);
        TK_WTRACE(1, u"Got field name/type: %s/%s", column.c_str(), type_name.c_str());
        // Rows of another table, or hidden columns the rowset does not have, annotate nothing.
        if (!row_table.empty() && !tk_equal_nocase(row_table, table)) continue;
        int at = m_schema.get_field_idx(column);
        if (at < 0) continue;
        t_ftd& field = m_schema[at];
        std::u16string def_text = mss_column_text(row, 12);
        if (!def_text.empty()) {
            TK_WTRACE(1, u"Got default string: %s", def_text.c_str());
            ole_variant value = get_def_value(field.vartype, def_text);
            std::u16string shown = value.to_wstring();
            TK_WTRACE(1, u"Got default variant: %s", shown.c_str());
            if (field.vartype == VT_BSTR && shown.size() > field.size) {
                TK_WTRACE(2, u"Def.value '%s' is out of range", shown.c_str());
                continue;
            }
            field.set_default(value);
        }
        field.b_auto_num = type_name.ends_with(u"identity");
        if (field.vartype == VT_DECIMAL) {
            int length = std::atoi(tk_to_utf8(mss_column_text(row, 7)).c_str());
            int scale = std::atoi(tk_to_utf8(mss_column_text(row, 8)).c_str());
            field.set_reserved(length * 256 + scale);
        }
        TK_TRACE(1, ">>> reserved=%d", field.reserved());
    }
}

ole_variant mss_table::get_def_value(VARTYPE type, const std::u16string& source) {
    TK_WTRACE(1, u"mss_table::get_def_value(type=0x%08X, src='%s')", static_cast<unsigned>(type),
              source.c_str());
    std::u16string text = source;
    size_t n = 0;
    while (n < text.size() && text[n] == u'(') ++n;
    if (n > 0) {
        long size = static_cast<long>(text.size()) - 2 * static_cast<long>(n);
        TK_TRACE(1, "Before removing round brackets, pos0=%d, size=%d", static_cast<int>(n),
                 static_cast<int>(size));
        // More opening brackets than half the text: the whole rest is taken.
        text = size < 0 ? text.substr(n) : text.substr(n, static_cast<size_t>(size));
        TK_WTRACE(1, u"mss_table::get_def_value - buf=[%s]", text.c_str());
    }
    if (text.size() > 2 && text.front() == u'\'' && text.back() == u'\'') {
        text = text.substr(1, text.size() - 2);
        TK_WTRACE(1, u"mss_table::get_def_value - buf=[%s]", text.c_str());
    }
    if (type == VT_DATE) {
        if (text.size() > 1 && text.front() == u'\'' && text.back() == u'\'')
            text = text.substr(1, text.size() - 2);
        ole_date date(text);
        return date.is_valid() ? date.to_variant() : ole_variant();
    }
    if (text.size() > 2) {
        for (size_t at = text.find(u"''"); at != std::u16string::npos; at = text.find(u"''", at + 1))
            text.erase(at, 1);
    }
    ole_variant value;
    try {
        value.from_wstring(text, type);
    } catch (const ole_type_exception&) {
        return ole_variant();
    }
    return value;
}
