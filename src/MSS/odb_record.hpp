#pragma once

#include "MSS/odb_oledb.hpp"
#include "UDB/udb_record.hpp"

#include <string>
#include <string_view>

// One value of a fetched row.
class odb_field : public udb_field {
public:
    using udb_field::udb_field;
    std::u16string to_wstring() const override;
};

// One fetched row: one odb_field per column, in column order.
class odb_record : public udb_record {
public:
    // Builds the record from the row buffer as the bindings lay it out. The strings and arrays of
    // DBTYPE_BSTR and DBTYPE_ARRAY | DBTYPE_UI1 bindings become the fields' own: their slots are
    // left null.
    odb_record(DBORDINAL columns, unsigned char* row, const DBCOLUMNINFO* info, const DBBINDING* bindings);

    // Reads the row buffer again into this record's fields: the reader refills its cached records
    // in place, so a row costs no allocation beyond its values.
    void assign(DBORDINAL columns, unsigned char* row, const DBCOLUMNINFO* info, const DBBINDING* bindings);

    // The variant type of an OLE DB column type; `date_kind` (may be null) receives 2 (date only),
    // 3 (time only) or 0. The kinds are given only for a server after 2005 on a native provider.
    static VARTYPE get_vartype(DBTYPE type, int* date_kind = nullptr);
    // Puts the value of a column's text into `field`.
    static void get_field(const DBCOLUMNINFO& column, std::u16string_view text, odb_field& field);

private:
    void read(DBORDINAL columns, unsigned char* row, const DBCOLUMNINFO* info, const DBBINDING* bindings,
              bool fresh);
};
