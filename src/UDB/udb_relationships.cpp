#include "UDB/udb_relationships.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

udb_relationship* udb_relationships::find(const std::u16string& name) {
    for (auto& item : m_items)
        if (tk_equal_nocase(item.name, name)) return &item;
    return nullptr;
}

bool udb_relationships::is_acceptable_name(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_relationships::is_acceptable_name(%s)", name.c_str());
    return const_cast<udb_relationships*>(this)->find(name) == nullptr;
}

udb_relationship& udb_relationships::get_index(const std::u16string& name) {
    TK_WTRACE(1, u"udb_relationships::get_index(%s)", name.c_str());
    udb_relationship* item = find(name);
    TK_ASSERT(item != nullptr, "udb_rel");
    return *item;
}
