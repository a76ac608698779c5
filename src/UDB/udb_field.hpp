#pragma once

#include "OLE/ole_variant.hpp"

#include <cstdint>
#include <string>

// A value that knows its name and size: one column value of a record.
class udb_field : public ole_variant {
public:
    udb_field();
    // Copies the value by the ole_variant rules; the flags are carried, never read here.
    udb_field(std::u16string name, std::int32_t size, const ole_variant& value, bool b_flag1 = false,
              bool b_flag2 = false);
    // The reader's way: the fetched value moves in without a copy of its string or bytes.
    udb_field(std::u16string name, std::int32_t size, ole_variant&& value, bool b_flag1 = false,
              bool b_flag2 = false);
    udb_field(const udb_field&) = default;
    udb_field(udb_field&&) noexcept = default;
    udb_field& operator=(const udb_field&) = default;
    udb_field& operator=(udb_field&&) noexcept = default;
    ~udb_field() override;

    virtual VARTYPE get_type() const;

    const std::u16string& name() const { return m_name; }
    void set_name(std::u16string name) { m_name = std::move(name); }
    std::int32_t size() const { return m_size; }
    void set_size(std::int32_t size) { m_size = size; }
    bool flag1() const { return m_b_flag1; }
    bool flag2() const { return m_b_flag2; }

private:
    std::int32_t m_size = 0;
    std::u16string m_name;
    bool m_b_flag1 = false;
    bool m_b_flag2 = false;
};
