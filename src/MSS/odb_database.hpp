#pragma once

#include "MSS/odb_recordset.hpp"
#include "MSS/ole_com_ptr.hpp"
#include "UDB/udb_database.hpp"

#include <memory>
#include <string>

// One open database: its data source and its session.
class odb_database : public udb_database {
public:
    odb_database(const std::u16string& name, ole_com_ptr<IDBInitialize> data_source,
                 ole_com_ptr<IOpenRowset> session, int mode);
    ~odb_database() override;

    // True when the text executes; nothing is read from its result.
    bool test_query(const std::u16string& text);
    // A reader over the text's result; the caller owns it.
    std::unique_ptr<odb_recordset> query(const std::u16string& text);

    IDBInitialize* data_source() const { return m_data_source.get(); }
    IOpenRowset* session() const { return m_session.get(); }

protected:
    ole_com_ptr<IDBInitialize> m_data_source;
    ole_com_ptr<IOpenRowset> m_session;
};
