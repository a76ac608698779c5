#pragma once

#include "MSS/odb_record.hpp"
#include "MSS/ole_com_ptr.hpp"

#include <memory>
#include <vector>

// The binding of every column of one rowset: one slot per column in one row buffer, reused by
// every fetch. Text columns are fetched as wide text, binary ones as bytes.
class odb_accessor {
public:
    // A slot never starts larger than this, whatever the column declares; a longer value grows
    // its slot when it arrives, and a slot far larger than its values shrinks again.
    static constexpr DBLENGTH start_bind_size = 8192;
    // Slots above this size are given back once a row's value needs a quarter of them or less.
    static constexpr DBLENGTH shrink_above = 1 << 20;

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
    size_t row_size() const { return m_row_size; }

private:
    // Fetches the row; a value cut by its slot grows the slot and is fetched again.
    void fetch(IRowset* rowset, HROW row);
    void reread(IRowset* rowset, HROW row, const std::vector<size_t>& grown);
    // Frees the strings and arrays of the row buffer that no record took.
    void drop_values() noexcept;
    void layout();
    // Slots much larger than the values of the row just read shrink.
    bool shrink();
    void release_room(IRowset* rowset);
    void create_accessor(IRowset* rowset);
    void release_accessor();

    DBORDINAL m_columns = 0;
    const DBCOLUMNINFO* m_info = nullptr;
    std::vector<DBBINDING> m_bindings;
    // Left uninitialised: only what the values fill is ever touched, so a grown slot costs the
    // memory of the value that grew it. Slots of strings and arrays we own are null or hold one.
    std::unique_ptr<unsigned char[]> m_row;
    size_t m_row_size = 0;
    bool m_row_filled = false;
    std::vector<DBBINDSTATUS> m_status;
    HACCESSOR m_handle = 0;
    ole_com_ptr<IAccessor> m_accessor;
};
