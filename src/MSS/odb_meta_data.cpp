#include "MSS/odb_meta_data.hpp"

#include "MSS/odb_exception.hpp"
#include "TK/tk_log.hpp"

namespace {
// Restriction variants owning their texts.
class restriction_list {
public:
    explicit restriction_list(const std::vector<std::u16string>& texts) : m_values(texts.size()) {
        for (size_t i = 0; i < texts.size(); ++i) {
            VariantInit(&m_values[i]);
            if (texts[i].empty()) continue;
            m_values[i].vt = VT_BSTR;
            m_values[i].bstrVal =
                SysAllocStringLen(texts[i].data(), static_cast<std::uint32_t>(texts[i].size()));
        }
    }
    ~restriction_list() {
        for (VARIANT& v : m_values) VariantClear(&v);
    }
    restriction_list(const restriction_list&) = delete;
    restriction_list& operator=(const restriction_list&) = delete;

    ULONG size() const { return static_cast<ULONG>(m_values.size()); }
    const VARIANT* data() const { return m_values.empty() ? nullptr : m_values.data(); }

private:
    std::vector<VARIANT> m_values;
};
} // namespace

odb_meta_data::odb_meta_data(IOpenRowset* session) : odb_recordset(nullptr) {
    TK_TRACE(1, "odb_meta_data::ctor");
    TK_ASSERT(session != nullptr, "odb_meta_data.cpp");
    session->AddRef();
    m_session = ole_com_ptr<IOpenRowset>(session);
}

void odb_meta_data::internal_initialize(const GUID& schema, const std::vector<std::u16string>& restrictions) {
    TK_TRACE(1, "odb_meta_data::internal_initialize");
    restriction_list values(restrictions);
    TK_TRACE(1, "Step #1");
    ole_com_ptr<IDBSchemaRowset> schemas;
    odb_check(m_session.query(IID_IDBSchemaRowset, schemas));
    TK_TRACE(1, "Step #2");
    ole_com_ptr<IRowset> rowset;
    odb_check(schemas->GetRowset(nullptr, schema, values.size(), values.data(), IID_IRowset, 0, nullptr,
                                 rowset.put_unknown()));
    TK_TRACE(1, "Step #3");
    set_rowset(rowset.get());
}

odb_dl_meta_data::odb_dl_meta_data(IOpenRowset* session) : odb_meta_data(session) {
    TK_TRACE(1, "odb_dl_meta_data::ctor");
    internal_initialize(DBSCHEMA_CATALOGS, {});
}

odb_tl_meta_data::odb_tl_meta_data(IOpenRowset* session, const std::u16string& owner)
    : odb_meta_data(session) {
    TK_TRACE(1, "odb_tl_meta_data::ctor");
    std::vector<std::u16string> r(odb_tables_r_count);
    r[odb_tables_r_schema] = owner;
    r[odb_tables_r_type] = u"TABLE";
    internal_initialize(DBSCHEMA_TABLES, r);
}

odb_pk_meta_data::odb_pk_meta_data(IOpenRowset* session, const std::u16string& owner,
                                   const std::u16string& table)
    : odb_meta_data(session) {
    TK_WTRACE(1, u"odb_pk_meta_data::ctor(%s)", table.c_str());
    std::vector<std::u16string> r(odb_pk_r_count);
    r[odb_pk_r_schema] = owner;
    r[odb_pk_r_table] = table;
    internal_initialize(DBSCHEMA_PRIMARY_KEYS, r);
}

odb_fk_meta_data::odb_fk_meta_data(IOpenRowset* session, const std::u16string& owner,
                                   const std::u16string& table)
    : odb_meta_data(session) {
    TK_WTRACE(1, u"odb_fk_meta_data::ctor(%s)", table.c_str());
    std::vector<std::u16string> r(odb_fk_r_count);
    r[odb_fk_r_pk_schema] = owner;
    r[odb_fk_r_pk_table] = table;
    internal_initialize(DBSCHEMA_FOREIGN_KEYS, r);
}

odb_id_meta_data::odb_id_meta_data(IOpenRowset* session, const std::u16string& owner,
                                   const std::u16string& table)
    : odb_meta_data(session) {
    TK_WTRACE(1, u"odb_id_meta_data::ctor(%s)", table.c_str());
    std::vector<std::u16string> r(odb_ix_r_count);
    r[odb_ix_r_schema] = owner;
    r[odb_ix_r_table] = table;
    internal_initialize(DBSCHEMA_INDEXES, r);
}
