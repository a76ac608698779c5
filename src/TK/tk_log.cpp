#include "TK/tk_log.hpp"

#include "TK/tk_fname.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_utils.hpp"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {
struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Longest wide line written whole; a longer one is cut, keeping its line break.
constexpr size_t wide_line_limit = 10240;
} // namespace

tk_log::tk_log(const char* file_name, bool enabled, int threshold, bool time_stamps)
    : m_threshold(threshold), m_enabled(enabled), m_time_stamps(time_stamps) {
    if (file_name) {
        m_file_name = file_name;
    } else {
        tk_file_name program(tk_get_module_name());
        program.set_extension(".log");
        m_file_name = program.full_name();
    }
    if (m_enabled) prepare(m_threshold);
}

tk_log::~tk_log() = default;

void tk_log::set_file_name(const char* name) {
    TK_ASSERT(name != nullptr, "tk_log.hpp");
    m_file_name = name;
}

bool tk_log::prepare(int level) {
    if (!m_enabled) return false;
    if (!m_emptied.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> guard(m_lock);
        // A log that cannot be created loses its lines; the run goes on.
        if (!m_emptied) file_ptr f(std::fopen(m_file_name.c_str(), "wb"));
        m_emptied = true;
    }
    return level >= m_threshold;
}

void tk_log::write_line(const char* text, size_t size) {
    file_ptr f(std::fopen(m_file_name.c_str(), "ab"));
    if (!f) return;
    if (m_time_stamps) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        std::fprintf(f.get(), "%02d:%02d:%02d ", local.tm_hour, local.tm_min, local.tm_sec);
    }
    std::fwrite(text, 1, size, f.get());
    if (m_line_break) std::fwrite("\r\n", 1, 2, f.get());
}

void tk_log::trace(int level, const char* format, ...) {
    tk_log* log = instance();
    if (!log || !log->prepare(level)) return;
    va_list args;
    va_start(args, format);
    std::string text = tk_vformat(format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(log->m_lock);
    log->write_line(text.data(), text.size());
}

void tk_log::wtrace(int level, const char16_t* format, ...) {
    tk_log* log = instance();
    if (!log || !log->prepare(level)) return;
    va_list args;
    va_start(args, format);
    std::u16string text = tk_vwformat(format, args);
    va_end(args);
    if (text.size() > wide_line_limit - 1) text.resize(wide_line_limit - 1);
    std::string bytes = tk_to_utf8(text);
    if (bytes.size() > wide_line_limit) {
        // Cut on a character boundary.
        size_t end = wide_line_limit;
        while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
        bytes.resize(end);
    }
    std::lock_guard<std::mutex> guard(log->m_lock);
    log->write_line(bytes.data(), bytes.size());
}
