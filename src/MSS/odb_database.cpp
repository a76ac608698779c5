#include "MSS/odb_database.hpp"

#include "MSS/mss_sql_text.hpp"
#include "MSS/odb_command.hpp"
#include "TK/tk_log.hpp"

odb_database::odb_database(const std::u16string& name, ole_com_ptr<IDBInitialize> data_source,
                           ole_com_ptr<IOpenRowset> session, int mode)
    : udb_database(name, mode), m_data_source(std::move(data_source)), m_session(std::move(session)) {
    TK_TRACE(2, "odb_database::ctor");
}

odb_database::~odb_database() = default;

bool odb_database::test_query(const std::u16string& text) {
    TK_WTRACE(2, u"odb_database::test_query(%s)", text.c_str());
    // Only a plain SELECT is ever sent: testing runs the statement.
    if (!mss_is_single_select(text)) {
        TK_TRACE(1, "Not a single SELECT statement");
        return false;
    }
    try {
        odb_command command(m_session.get());
        command.execute(text);
    } catch (...) {
        TK_TRACE(1, "Query failed");
        return false;
    }
    TK_TRACE(1, "Query succeeded");
    return true;
}

std::unique_ptr<odb_recordset> odb_database::query(const std::u16string& text) {
    TK_WTRACE(1, u"odb_database::query(%s)", text.c_str());
    odb_command command(m_session.get());
    ole_com_ptr<IRowset> rowset;
    command.execute(text, &rowset);
    return std::make_unique<odb_recordset>(rowset.get());
}
