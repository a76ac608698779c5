#include "UDB/udb_converter.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

udb_converter::udb_converter() {
    TK_TRACE(2, "udb_converter::ctor");
}

udb_converter::~udb_converter() = default;

void udb_converter::set_mode(int mode) {
    TK_TRACE(1, "udb_converter::set_mode(%d)", mode);
    m_mode = mode;
}

bool udb_converter::load_profile(const std::u16string& path) {
    TK_WTRACE(2, u"udb_converter::load_profile(%s)", path.c_str());
    throw tk_exception("Profiles are not available in this build.", 1);
}

std::u16string udb_converter::current_table() const {
    std::lock_guard<std::mutex> guard(m_progress_lock);
    return m_current_table;
}

void udb_converter::set_current_table(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(m_progress_lock);
    m_current_table = name;
}
