#pragma once

#include "UDB/udb_field.hpp"

#include <memory>
#include <string>
#include <vector>

// The values of one row; the i-th value belongs to the i-th field of the recordset's schema.
// The record owns its values.
class udb_record {
public:
    udb_record() = default;
    virtual ~udb_record();
    udb_record(const udb_record&) = delete;
    udb_record& operator=(const udb_record&) = delete;

    void reserve(size_t count) { m_fields.reserve(count); }
    udb_field& append(std::unique_ptr<udb_field> field);

    size_t size() const { return m_fields.size(); }
    bool empty() const { return m_fields.empty(); }
    udb_field& operator[](size_t i) { return *m_fields[i]; }
    const udb_field& operator[](size_t i) const { return *m_fields[i]; }

    // True when a value of that name (ignoring case) exists.
    bool find_field(const std::u16string& name) const;
    // The first value of that name, or an empty value when none matches.
    const udb_field& get_field(const std::u16string& name) const;

private:
    std::vector<std::unique_ptr<udb_field>> m_fields;
};
