#include "agent/agent_progress.hpp"

#include "TK/tk_console.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"

#include <chrono>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
std::string duration(double seconds) {
    if (seconds < 0) seconds = 0;
    long long s = static_cast<long long>(seconds + 0.5);
    if (s >= 3600) return tk_format("%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return tk_format("%lld:%02lld", s / 60, s % 60);
}

size_t terminal_width() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}
} // namespace

std::string agent_progress::format(const std::u16string& table, long long done, long long count, int tables_done,
                                   int tables, double table_seconds, double run_seconds, size_t width) {
    double rate = table_seconds > 0 ? done / table_seconds : 0;
    std::string line = tk_format("[%d/%d] ", tables_done + 1, tables) + tk_to_ansi_lossy(table) +
                       tk_format(": %lld of %lld records, %.0f rows/s", done, count, rate);
    if (rate > 0 && count >= done) {
        double table_left = (count - done) / rate;
        // The tables still to come are guessed at the pace of those done so far.
        double per_table = tables_done > 0 ? (run_seconds - table_seconds) / tables_done : table_seconds + table_left;
        double run_left = table_left + per_table * (tables - tables_done - 1);
        line += ", " + duration(table_left) + " left, run " + duration(run_left);
    }
    // A line wider than the terminal would wrap, and its first part could not be cleared.
    if (width > 1 && line.size() > width - 1) {
        size_t cut = width - 1;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line.resize(cut);
    }
    return line;
}

agent_progress::agent_progress(const drelk_converter& converter, bool on) : m_converter(converter) {
    if (on && ::isatty(STDERR_FILENO)) m_thread = std::thread([this] { run(); });
}

agent_progress::~agent_progress() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    tk_console_status("");
}

void agent_progress::run() {
    using clock = std::chrono::steady_clock;
    const clock::time_point run_start = clock::now();
    clock::time_point table_start = run_start;
    std::u16string table;
    int tables_done = -1;
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_wake.wait_for(guard, std::chrono::milliseconds(100), [this] { return m_stop; })) {
        int tables = m_converter.tables_in_run;
        std::u16string current = m_converter.current_table();
        int done_tables = m_converter.tables_done;
        clock::time_point now = clock::now();
        // Several jobs: the records of every table started so far, at the run's pace.
        const int jobs = m_converter.jobs();
        if (jobs > 1) current = tk_utf8_to_wstring(std::to_string(jobs) + " jobs");
        if (jobs <= 1 && (current != table || done_tables != tables_done)) {
            table = current;
            tables_done = done_tables;
            table_start = now;
        }
        if (tables == 0 || m_converter.current_table().empty()) continue;
        tk_console_status(format(current, m_converter.records_converted, m_converter.records_in_table, done_tables,
                                 tables, std::chrono::duration<double>(now - table_start).count(),
                                 std::chrono::duration<double>(now - run_start).count(), terminal_width()));
    }
}
