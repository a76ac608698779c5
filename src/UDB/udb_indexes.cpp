#include "UDB/udb_indexes.hpp"

#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

bool udb_indexes::is_acceptable_name(const std::u16string& name) const {
    TK_WTRACE(1, u"udb_indexes::is_acceptable_name(%s)", name.c_str());
    if (find(name)) {
        TK_TRACE(1, "Index name is not acceptable!");
        return false;
    }
    TK_TRACE(1, "Index name is acceptable");
    return true;
}

udb_index* udb_indexes::find(const std::u16string& name) {
    for (auto& index : m_indexes)
        if (tk_equal_nocase(index.name, name)) return &index;
    return nullptr;
}

const udb_index* udb_indexes::find(const std::u16string& name) const {
    return const_cast<udb_indexes*>(this)->find(name);
}

bool udb_indexes::has_primary() const {
    for (const auto& index : m_indexes)
        if (index.b_primary) return true;
    return false;
}
