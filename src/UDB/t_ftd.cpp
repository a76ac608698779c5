#include "UDB/t_ftd.hpp"

#include "TK/tk_log.hpp"

t_ftd::t_ftd(std::uint32_t size, std::u16string name, VARTYPE vartype, bool b_auto_num, bool b_not_null,
             const ole_variant& def_value, int reserved)
    : size(size), name(std::move(name)), vartype(vartype), b_auto_num(b_auto_num), b_not_null(b_not_null),
      def_value(u"", reserved, def_value) {
    TK_TRACE(2, "t_ftd::ctor2");
    TK_WTRACE(1, u"\tfield name='%s', vartype=%d, size=%d, b_not_null=%d, reserved=%d", this->name.c_str(),
              static_cast<int>(vartype), static_cast<int>(size), static_cast<int>(b_not_null), reserved);
}

void t_ftd::set_default(const ole_variant& value) {
    int marker = reserved();
    def_value = udb_field(u"", marker, value);
}
