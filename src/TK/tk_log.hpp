#pragma once

#include "TK/tk_singl.hpp"

#include <atomic>
#include <mutex>
#include <string>

// The trace log: plain text lines, each opened, appended and closed on its own so that every
// written line is on disk when the call returns.
class tk_log : public tk_single<tk_log> {
public:
    tk_log(const char* file_name, bool enabled, int threshold, bool time_stamps);
    ~tk_log();

    void set_file_name(const char* name);
    void enable(bool on = true) noexcept { m_enabled = on; }
    const std::string& file_name() const noexcept { return m_file_name; }
    int threshold() const noexcept { return m_threshold; }

    // True when a line of this level would be written. Also true while the file still has to be
    // emptied by its first call after the log was switched on, whatever the level.
    static bool wants(int level) noexcept {
        const tk_log* log = instance();
        return log && log->m_enabled &&
               (!log->m_emptied.load(std::memory_order_relaxed) || level >= log->m_threshold);
    }

    static void trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
    // A %s in a wide format takes wide text (const char16_t*).
    static void wtrace(int level, const char16_t* format, ...);

private:
    bool prepare(int level);
    void write_line(const char* text, size_t size);

    std::string m_file_name;
    int m_threshold;
    bool m_line_break = true;
    bool m_enabled;
    std::atomic<bool> m_emptied{false};
    // Lines may come from a reading thread as well as the run's own.
    std::mutex m_lock;
    bool m_time_stamps;
};

// Formatting is the expensive part of a trace; skip it for lines that will not be written.
#define TK_TRACE(level, ...)                                                                                 \
    do {                                                                                                     \
        if (tk_log::wants(level)) tk_log::trace(level, __VA_ARGS__);                                         \
    } while (0)
#define TK_WTRACE(level, ...)                                                                                \
    do {                                                                                                     \
        if (tk_log::wants(level)) tk_log::wtrace(level, __VA_ARGS__);                                        \
    } while (0)
