#include "UDB/udb_schema.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

t_ftd& udb_schema::append(std::unique_ptr<t_ftd> ftd) {
    TK_ASSERT(m_owner && ftd, "udb_sche");
    m_fields.push_back(ftd.get());
    m_owned.push_back(std::move(ftd));
    return *m_fields.back();
}

t_ftd& udb_schema::append(t_ftd& ftd) {
    TK_ASSERT(!m_owner, "udb_sche");
    m_fields.push_back(&ftd);
    return ftd;
}

int udb_schema::find(const std::u16string& name) const {
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (tk_equal_nocase(m_fields[i]->name, name)) return static_cast<int>(i);
    return -1;
}

int udb_schema::get_field_idx(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_schema::get_field_idx(%s)", name.c_str());
    return find(name);
}

t_ftd& udb_schema::find_field(const std::u16string& name) {
    TK_WTRACE(1, u"udb_schema::find_field(%s)", name.c_str());
    int at = find(name);
    TK_ASSERT(at >= 0, "udb_sche");
    return *m_fields[at];
}

const t_ftd& udb_schema::find_field(const std::u16string& name) const {
    return const_cast<udb_schema*>(this)->find_field(name);
}

std::uint32_t udb_schema::get_field_size(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_schema::get_field_size(%s)", name.c_str());
    int at = find(name);
    TK_ASSERT(at >= 0, "udb_sche");
    return m_fields[at]->size;
}

VARTYPE udb_schema::get_field_type(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_schema::get_field_type(%s)", name.c_str());
    int at = find(name);
    TK_ASSERT(at >= 0, "udb_sche");
    return m_fields[at]->vartype;
}

std::vector<std::u16string> udb_schema::field_names() const {
    std::vector<std::u16string> names;
    names.reserve(m_fields.size());
    for (const t_ftd* ftd : m_fields) names.push_back(ftd->name);
    return names;
}
