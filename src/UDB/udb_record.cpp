#include "UDB/udb_record.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

udb_record::~udb_record() = default;

udb_field& udb_record::append(std::unique_ptr<udb_field> field) {
    TK_ASSERT(field != nullptr, "udb_rec");
    m_fields.push_back(std::move(field));
    return *m_fields.back();
}

bool udb_record::find_field(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_record::find_field(%s)", name.c_str());
    for (const auto& field : m_fields) {
        TK_WTRACE(1, u"Processing %s", field->name().c_str());
        if (tk_equal_nocase(field->name(), name)) return true;
    }
    return false;
}

const udb_field& udb_record::get_field(const std::u16string& name) const {
    for (const auto& field : m_fields)
        if (tk_equal_nocase(field->name(), name)) return *field;
    static const udb_field none;
    return none;
}
