#include "UDB/udb_field.hpp"

#include "TK/tk_log.hpp"

udb_field::udb_field() {
    TK_TRACE(1, "udb_field::empty ctor");
}

udb_field::udb_field(std::u16string name, std::int32_t size, const ole_variant& value, bool b_flag1,
                     bool b_flag2)
    : ole_variant(value), m_size(size), m_name(std::move(name)), m_b_flag1(b_flag1), m_b_flag2(b_flag2) {
    TK_TRACE(1, "udb_field::ctor #2");
    TK_WTRACE(1, u"name=%s, size=%d", m_name.c_str(), static_cast<int>(m_size));
}

udb_field::udb_field(std::u16string name, std::int32_t size, ole_variant&& value, bool b_flag1, bool b_flag2)
    : ole_variant(std::move(value)), m_size(size), m_name(std::move(name)), m_b_flag1(b_flag1),
      m_b_flag2(b_flag2) {
    TK_TRACE(1, "udb_field::ctor #2");
    TK_WTRACE(1, u"name=%s, size=%d", m_name.c_str(), static_cast<int>(m_size));
}

udb_field::~udb_field() = default;

VARTYPE udb_field::get_type() const {
    TK_TRACE(1, "ole_variant::get_type");
    return var.vt;
}
