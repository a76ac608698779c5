#include "TK/tk_converter.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_fname.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <ctime>

namespace {
std::tm local_now() {
    if (init_conversion::local_time) return init_conversion::local_time();
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}
} // namespace

tk_converter::tk_converter() = default;
tk_converter::~tk_converter() = default;

void tk_converter::set_logfile(const std::string& name) {
    TK_TRACE(1, "tk_convertor::set_logfile(%s)", name.c_str());
    if (!name.empty()) {
        if (tk_is_file_exist(name, 0x4000) && !tk_is_file_exist(name, 1))
            throw tk_exception("Logfile name specifies an existing read-only file.", 1);
        tk_file_name split(name);
        if (!tk_is_path_exist(split.get_path()))
            throw tk_exception("Logfile path does not exist.\nPlease verify the correct path was given.", 1);
    }
    m_logfile = name;
    if (!m_logfile.empty()) {
        if (tk_log* log = tk_log::instance()) {
            log->set_file_name(m_logfile.c_str());
            log->enable();
        }
    }
}

init_conversion::init_conversion(std::atomic<bool>* finished) : m_finished(finished) {
    TK_TRACE(2, "init_conversion::ctor");
    std::tm t = local_now();
    TK_TRACE(3, "Conversion started on %02d/%02d/%04d at %02d:%02d:%02d\n", t.tm_mday, t.tm_mon + 1,
             t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

init_conversion::~init_conversion() {
    TK_TRACE(2, "init_conversion::dtor");
    std::tm t = local_now();
    TK_TRACE(3, "Conversion ended on %02d/%02d/%04d at %02d:%02d:%02d\n", t.tm_mday, t.tm_mon + 1,
             t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    if (m_finished) *m_finished = true;
}
