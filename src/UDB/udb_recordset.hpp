#pragma once

#include "UDB/udb_indexes.hpp"
#include "UDB/udb_record.hpp"
#include "UDB/udb_schema.hpp"

#include <string>

// The record sequence every reader and writer of rows implements. Readers walk it as: reset,
// then while !is_eof(): get_item, use the record, next. Writers take append_record.
class udb_recordset {
public:
    explicit udb_recordset(std::u16string name, bool owns_schema = true);
    virtual ~udb_recordset();
    udb_recordset(const udb_recordset&) = delete;
    udb_recordset& operator=(const udb_recordset&) = delete;

    virtual void append_record(const udb_record& record) = 0;
    virtual void update();
    // The current row's record; it belongs to the recordset. The base has none.
    virtual udb_record* get_item();
    virtual bool is_eof();
    virtual bool is_query() const;
    virtual void next();
    virtual void idle();
    virtual void reset();

    const std::u16string& name() const { return m_name; }
    const std::u16string& query() const { return m_query; }
    void set_query(std::u16string query) { m_query = std::move(query); }
    udb_schema& schema() { return m_schema; }
    const udb_schema& schema() const { return m_schema; }
    udb_indexes& indexes() { return m_indexes; }
    const udb_indexes& indexes() const { return m_indexes; }

protected:
    std::u16string m_query;
    std::u16string m_name;
    udb_schema m_schema;
    udb_indexes m_indexes;
    udb_record* m_current = nullptr;
    int m_position = -1;
};
