#include "UDB/udb_database.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "UDB/udb_recordset.hpp"

udb_database::udb_database(std::u16string name, int mode, bool b_case_sensitive)
    : m_name(std::move(name)), m_mode(mode), m_b_case_sensitive(b_case_sensitive) {}

udb_database::~udb_database() = default;

bool udb_database::same_name(const std::u16string& a, const std::u16string& b) const {
    return m_b_case_sensitive ? a == b : tk_equal_nocase(a, b);
}

bool udb_database::is_table_exist(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_database::is_table_exist(%s)", name.c_str());
    for (const auto& table : m_tables) {
        TK_WTRACE(1, u"Compare with %s", table.c_str());
        if (same_name(table, name)) {
            TK_TRACE(1, "table exists");
            return true;
        }
    }
    TK_TRACE(1, "table not found");
    return false;
}

void udb_database::delete_tab(const std::u16string& name) {
    TK_WTRACE(1, u"udb_database::delete_tab (%s)", name.c_str());
    for (auto table = m_tables.begin(); table != m_tables.end(); ++table) {
        if (same_name(*table, name)) {
            m_tables.erase(table);
            return;
        }
    }
    throw tk_mail_assertion("udb_db", __LINE__);
}

std::unique_ptr<udb_recordset> udb_database::create_table(const std::u16string& name, const udb_schema&) {
    TK_WTRACE(2, u"udb_database::create_table(%s)", name.c_str());
    throw tk_mail_assertion("udb_db", __LINE__);
}

bool udb_database::add_view(const std::u16string& name, const std::u16string& text) {
    return m_views.emplace(name, text).second;
}
