#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class drelk_converter;

// The status line of a run on a terminal: the table, its records done of its count, rows per
// second, time left for the table and the run. Redrawn at most ten times a second on standard
// error, only when that is a terminal; cleared when the run ends.
class agent_progress {
public:
    // Shows nothing unless `on` and standard error is a terminal.
    agent_progress(const drelk_converter& converter, bool on);
    ~agent_progress();
    agent_progress(const agent_progress&) = delete;
    agent_progress& operator=(const agent_progress&) = delete;

    // The line for a moment of the run; seconds since the table and the run began.
    static std::string format(const std::u16string& table, long long done, long long count, int tables_done,
                              int tables, double table_seconds, double run_seconds, size_t width);

private:
    void run();

    const drelk_converter& m_converter;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};
