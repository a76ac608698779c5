#include "MSS/mss_split_tab_name.hpp"

#include "TK/tk_log.hpp"

bool mss_split_tab_name(const std::u16string& name, std::u16string& table, std::u16string& owner) {
    TK_WTRACE(1, u"mss_split_tab_name (%s)", name.c_str());
    if (name.size() < 3 || name.front() != u'[' || name.back() != u']') return false;
    std::u16string inner = name.substr(1, name.size() - 2);
    size_t dot = inner.find(u"].[");
    if (dot != std::u16string::npos) {
        owner = inner.substr(0, dot);
        table = inner.substr(dot + 3);
    } else {
        owner.clear();
        table = inner;
    }
    TK_WTRACE(1, u"tab_name=%s, owner=%s", table.c_str(), owner.c_str());
    return true;
}
