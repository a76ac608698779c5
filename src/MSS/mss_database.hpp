#pragma once

#include "MSS/odb_database.hpp"

#include <string>

// One open MS SQL database, made by mss_engine::open_db.
class mss_database : public odb_database {
public:
    mss_database(const std::u16string& name, ole_com_ptr<IDBInitialize> data_source,
                 ole_com_ptr<IOpenRowset> session, int mode);
    ~mss_database() override;
};
