#pragma once

#include <atomic>
#include <ctime>
#include <string>

// The settings every converter has. The run marker sets `finished`.
class tk_converter {
public:
    tk_converter();
    virtual ~tk_converter();

    virtual void operator()() = 0;
    virtual void set_silent(bool silent) { m_silent = silent; }
    bool silent() const { return m_silent; }

    const std::u16string& source() const { return m_source; }
    void set_source(const std::u16string& source) { m_source = source; }
    const std::u16string& dest() const { return m_dest; }
    void set_dest(const std::u16string& dest) { m_dest = dest; }
    const std::string& logfile() const { return m_logfile; }
    // Checks the name, stores it and switches the trace log on.
    void set_logfile(const std::string& name);

    bool finished() const { return m_finished; }
    std::atomic<bool>* finished_flag() { return &m_finished; }

protected:
    // Read by the wizard's timer while the worker runs.
    std::atomic<bool> m_finished{false};
    bool m_silent = false;
    std::u16string m_source;
    std::u16string m_dest;
    std::string m_logfile;
};

// Scoped marker of one conversion run: the start and end lines of the log, then `finished`.
class init_conversion {
public:
    explicit init_conversion(std::atomic<bool>* finished);

    // The local time of the start and end lines; tests replace it.
    static inline std::tm (*local_time)() = nullptr;
    ~init_conversion();
    init_conversion(const init_conversion&) = delete;
    init_conversion& operator=(const init_conversion&) = delete;

private:
    std::atomic<bool>* m_finished;
};
