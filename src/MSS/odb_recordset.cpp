#include "MSS/odb_recordset.hpp"

#include "MSS/odb_exception.hpp"
#include "TK/tk_log.hpp"

odb_recordset::odb_recordset(IRowset* rowset) : udb_recordset(std::u16string()) {
    if (rowset) {
        rowset->AddRef();
        m_rowset = ole_com_ptr<IRowset>(rowset);
    }
    TK_TRACE(2, "odb_recordset::ctor");
    initialize();
}

odb_recordset::~odb_recordset() {
    clean_cache();
}

void odb_recordset::set_rowset(IRowset* rowset) {
    if (rowset) rowset->AddRef();
    m_rowset = ole_com_ptr<IRowset>(rowset);
    initialize();
}

void odb_recordset::initialize() {
    TK_TRACE(2, "odb_recordset::initialize");
    if (!m_rowset) {
        TK_TRACE(2, "Rowset isn't defined");
        return;
    }
    ole_com_ptr<IColumnsInfo> columns_info;
    odb_check(m_rowset.query(IID_IColumnsInfo, columns_info));
    DBORDINAL count = 0;
    DBCOLUMNINFO* info = nullptr;
    OLECHAR* names = nullptr;
    HRESULT hr = columns_info->GetColumnInfo(&count, &info, &names);
    m_info.reset(info);
    m_names.reset(names);
    odb_check(hr);
    m_columns = count;
    TK_TRACE(1, "*** Got %d columns ***", static_cast<int>(count));

    for (DBORDINAL i = 0; i < count; ++i) {
        const DBCOLUMNINFO& column = info[i];
        const std::u16string name = column.pwszName ? column.pwszName : u"";
        TK_TRACE(2, "Column #%d has type=%d,size=%08X", static_cast<int>(i), column.wType,
                 static_cast<unsigned>(column.ulColumnSize));
        const VARTYPE vt = odb_record::get_vartype(column.wType);
        auto size = static_cast<std::uint32_t>(column.ulColumnSize);
        if (column.wType == DBTYPE_BYTES) size *= 2;
        if (column.wType == DBTYPE_GUID) size = 38;
        TK_WTRACE(2, u"Field '%s' has type %d", name.c_str(), column.wType);
        const int reserved = vt == VT_DATE ? 1 : 0;
        TK_TRACE(2, ">>> reserved=%d", reserved);
        auto ftd = std::make_unique<t_ftd>(vt == VT_BLOB ? 0 : size, name, vt, false,
                                           (column.dwFlags & DBCOLUMNFLAGS_ISNULLABLE) == 0, ole_variant(),
                                           reserved);
        if (vt == VT_DECIMAL) {
            TK_WTRACE(1, u"Scale/precision for decimal column '%s': (%d, %d)", name.c_str(), column.bScale,
                      column.bPrecision);
            ftd->set_reserved(column.bPrecision * 256 + column.bScale);
        }
        m_schema.append(std::move(ftd));
    }
    // Records of an earlier rowset have other columns.
    m_rows_obtained = 0;
    m_current = nullptr;
    for (auto& record : m_cache) record.reset();
    m_accessor.bind(m_rowset.get(), count, info);
}

void odb_recordset::fill_cache() {
    TK_TRACE(1, "odb_recordset::fill_cache");
    TK_ASSERT(m_rowset, "odb_recordset.cpp");
    HROW handles[cache_size] = {};
    HROW* rows = handles;
    DBCOUNTITEM obtained = 0;
    m_rows_obtained = 0;
    odb_check(m_rowset->GetNextRows(0, 0, cache_size, &obtained, &rows));
    TK_ASSERT(rows == handles && obtained <= cache_size, "odb_recordset.cpp");
    TK_TRACE(1, "GetNextRows extracts %d records", static_cast<int>(obtained));
    try {
        for (DBCOUNTITEM i = 0; i < obtained; ++i) {
            if (m_cache[i])
                m_accessor.get_record(m_rowset.get(), handles[i], *m_cache[i]);
            else
                m_cache[i] = m_accessor.get_record(m_rowset.get(), handles[i]);
        }
    } catch (...) {
        // The handles go back whatever failed; the cache holds no row.
        m_rowset->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr);
        throw;
    }
    odb_check(m_rowset->ReleaseRows(obtained, handles, nullptr, nullptr, nullptr));
    m_rows_obtained = static_cast<int>(obtained);
    TK_TRACE(1, "End of odb_recordset::fill_cache");
}

// The records stay allocated for the next fill; only the count of rows they hold goes.
void odb_recordset::clean_cache() {
    TK_TRACE(2, "odb_recordset::clean_cache(rows_obtaind=%d)", m_rows_obtained);
    m_rows_obtained = 0;
    m_current = nullptr;
}

void odb_recordset::append_record(const udb_record&) {
    TK_ASSERT(false, "odb_recordset.cpp");
}

udb_record* odb_recordset::get_item() {
    TK_TRACE(1, "odb_recordset::get_item(local_pos=%d)", m_local_pos);
    TK_ASSERT(m_local_pos < m_rows_obtained, "odb_recordset.cpp");
    m_current = m_cache[m_local_pos].get();
    return m_current;
}

bool odb_recordset::is_eof() {
    TK_TRACE(1, "odb_recordset::is_eof(%d)", m_rows_obtained);
    return !m_rowset || m_rows_obtained == 0 || is_count_reached();
}

void odb_recordset::next() {
    TK_TRACE(1, "odb_table::next(%d)", m_local_pos);
    TK_ASSERT(m_rows_obtained > 0, "odb_recordset.cpp");
    if (m_local_pos < m_rows_obtained - 1) {
        ++m_local_pos;
        ++m_rows_read;
        return;
    }
    clean_cache();
    fill_cache();
    m_local_pos = 0;
    ++m_rows_read;
}

void odb_recordset::reset() {
    TK_TRACE(1, "odb_table::reset");
    if (!m_rowset) return;
    // A second reset before any next must not go on from the rows already fetched.
    if (m_rows_read != 0 || m_local_pos != 0 || m_rows_obtained != 0) {
        odb_check(m_rowset->RestartPosition(0));
        clean_cache();
    }
    m_rows_read = 0;
    m_local_pos = 0;
    fill_cache();
}
