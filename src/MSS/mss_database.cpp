#include "MSS/mss_database.hpp"

#include "TK/tk_log.hpp"

mss_database::mss_database(const std::u16string& name, ole_com_ptr<IDBInitialize> data_source,
                           ole_com_ptr<IOpenRowset> session, int mode)
    : odb_database(name, std::move(data_source), std::move(session), mode) {
    TK_WTRACE(2, u"mss_database::ctor(%s)", name.c_str());
}

mss_database::~mss_database() = default;
