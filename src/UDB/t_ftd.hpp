#pragma once

#include "UDB/udb_field.hpp"

#include <cstdint>
#include <string>

// Values of the reserved marker a field description carries in its default value's size.
inline constexpr int udb_reserved_datetime = 1;
inline constexpr int udb_reserved_date = 2;
inline constexpr int udb_reserved_time = 3;
// Decimal fields carry precision * 256 + scale.
inline constexpr int udb_reserved_decimal(int precision, int scale) {
    return precision * 256 + scale;
}

// Field type description: what the source says about one column.
class t_ftd {
public:
    t_ftd(std::uint32_t size, std::u16string name, VARTYPE vartype, bool b_auto_num, bool b_not_null,
          const ole_variant& def_value, int reserved);

    int reserved() const { return def_value.size(); }
    void set_reserved(int reserved) { def_value.set_size(reserved); }
    // Replaces the default value; the reserved marker stays.
    void set_default(const ole_variant& value);

    std::uint32_t size;
    std::u16string name;
    VARTYPE vartype;
    bool b_auto_num;
    bool b_not_null;
    udb_field def_value;
};
