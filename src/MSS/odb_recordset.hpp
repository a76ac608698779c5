#pragma once

#include "MSS/odb_accessor.hpp"
#include "UDB/udb_recordset.hpp"

#include <array>
#include <memory>

// Reads a rowset through a five-row cache: the schema from its column information, then one
// record per row. Walk it as: reset, then while !is_eof(): get_item, use it, next.
class odb_recordset : public udb_recordset {
public:
    static constexpr int cache_size = 5;

    // The rowset may be null: the reader then has no columns and is at its end.
    explicit odb_recordset(IRowset* rowset);
    ~odb_recordset() override;

    void append_record(const udb_record& record) override;
    udb_record* get_item() override;
    // True with no rowset or when the cache holds no row (the rowset ended), and true once
    // is_count_reached says so.
    bool is_eof() final;
    void next() override;
    void reset() override;

    DBORDINAL column_count() const { return m_columns; }
    const DBCOLUMNINFO* column_info() const { return m_info.get(); }
    int rows_read() const { return m_rows_read; }
    int rows_obtained() const { return m_rows_obtained; }

protected:
    // Readers that know their row count stop there (a table opened with its count).
    virtual bool is_count_reached() const { return false; }

    // Reads the column information, builds the schema and binds the rowset.
    void initialize();
    // For readers that open their rowset after construction.
    void set_rowset(IRowset* rowset);

    void fill_cache();
    void clean_cache();

    ole_com_ptr<IRowset> m_rowset;

private:
    struct task_free {
        void operator()(void* p) const noexcept { CoTaskMemFree(p); }
    };

    DBORDINAL m_columns = 0;
    std::unique_ptr<DBCOLUMNINFO, task_free> m_info;
    std::unique_ptr<OLECHAR, task_free> m_names;
    int m_rows_read = 0;
    int m_local_pos = 0;
    int m_rows_obtained = 0;
    // Records stay allocated across refills; only the first m_rows_obtained hold rows.
    std::array<std::unique_ptr<odb_record>, cache_size> m_cache;
    odb_accessor m_accessor;
};
