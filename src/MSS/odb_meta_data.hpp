#pragma once

#include "MSS/odb_recordset.hpp"

#include <string>
#include <vector>

// A schema rowset of the session, read like any other rowset. Restrictions match exactly; an
// empty one is not set.
class odb_meta_data : public odb_recordset {
public:
    explicit odb_meta_data(IOpenRowset* session);

protected:
    // Opens the schema rowset with one restriction per position (empty: none) and reads its columns.
    void internal_initialize(const GUID& schema, const std::vector<std::u16string>& restrictions);

    ole_com_ptr<IOpenRowset> m_session;
};

// The server's databases.
class odb_dl_meta_data : public odb_meta_data {
public:
    explicit odb_dl_meta_data(IOpenRowset* session);
};

// The owner's tables.
class odb_tl_meta_data : public odb_meta_data {
public:
    odb_tl_meta_data(IOpenRowset* session, const std::u16string& owner);
};

// The primary key of one table.
class odb_pk_meta_data : public odb_meta_data {
public:
    odb_pk_meta_data(IOpenRowset* session, const std::u16string& owner, const std::u16string& table);
};

// The foreign keys of other tables that point at one table.
class odb_fk_meta_data : public odb_meta_data {
public:
    odb_fk_meta_data(IOpenRowset* session, const std::u16string& owner, const std::u16string& table);
};

// The indexes of one table.
class odb_id_meta_data : public odb_meta_data {
public:
    odb_id_meta_data(IOpenRowset* session, const std::u16string& owner, const std::u16string& table);
};
