#pragma once

#include "MSS/odb_record.hpp"
#include "MSS/ole_com_ptr.hpp"

#include <memory>
#include <vector>

// The binding of every column of one rowset: one slot per column in one row buffer, reused by
// every fetch. Text columns are fetched as wide text, binary ones as bytes.
class odb_accessor {
public:
    // A slot never starts larger than this; a longer value grows its slot when it arrives.
    static constexpr DBLENGTH max_bind_size = 20000000;

    odb_accessor() = default;
    ~odb_accessor();
    odb_accessor(const odb_accessor&) = delete;
    odb_accessor& operator=(const odb_accessor&) = delete;

    void bind(IRowset* rowset, DBORDINAL columns, const DBCOLUMNINFO* info);
    // Fetches one row into the row buffer; the caller owns the record.
    std::unique_ptr<odb_record> get_record(IRowset* rowset, HROW row);
    // Fetches one row into an existing record of this rowset.
    void get_record(IRowset* rowset, HROW row, odb_record& record);
    DBLENGTH get_bind_size(DBORDINAL column) const;

    const std::vector<DBBINDING>& bindings() const { return m_bindings; }
    size_t row_size() const { return m_row.size(); }

private:
    // Fetches the row; a value cut by its slot grows the slot and the row is fetched again.
    void fetch(IRowset* rowset, HROW row);
    void layout();
    void create_accessor(IRowset* rowset);
    void release_accessor();

    DBORDINAL m_columns = 0;
    const DBCOLUMNINFO* m_info = nullptr;
    std::vector<DBBINDING> m_bindings;
    std::vector<unsigned char> m_row;
    std::vector<DBBINDSTATUS> m_status;
    HACCESSOR m_handle = 0;
    ole_com_ptr<IAccessor> m_accessor;
};
