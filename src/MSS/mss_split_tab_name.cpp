#include "MSS/mss_split_tab_name.hpp"

#include "TK/tk_log.hpp"

namespace {
// "]]" inside brackets stands for one ']'.
std::u16string unescape(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == u']' && i + 1 < text.size() && text[i + 1] == u']') ++i;
    }
    return out;
}
} // namespace

bool mss_split_tab_name(const std::u16string& name, std::u16string& table, std::u16string& owner) {
    TK_WTRACE(1, u"mss_split_tab_name (%s)", name.c_str());
    if (name.size() < 3 || name.front() != u'[' || name.back() != u']') return false;
    std::u16string inner = name.substr(1, name.size() - 2);
    // The separator is a "].[" whose ']' is not part of an escaped "]]".
    size_t dot = std::u16string::npos;
    for (size_t i = 0; i < inner.size() && dot == std::u16string::npos; ++i) {
        if (inner[i] != u']') continue;
        if (inner.compare(i, 3, u"].[") == 0)
            dot = i;
        else if (i + 1 < inner.size() && inner[i + 1] == u']')
            ++i;
    }
    if (dot != std::u16string::npos) {
        owner = unescape(inner.substr(0, dot));
        table = unescape(inner.substr(dot + 3));
    } else {
        owner.clear();
        table = unescape(inner);
    }
    TK_WTRACE(1, u"tab_name=%s, owner=%s", table.c_str(), owner.c_str());
    return true;
}
