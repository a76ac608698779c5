#pragma once

#include "TK/tk_errco.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_singl.hpp"

#include <mutex>
#include <string>

// The one reporter of caught failures. This class reports on the console; the wizard derives
// its own reporter with dialogs.
class error_handler : public tk_single<error_handler> {
public:
    error_handler();
    explicit error_handler(tk_error_converter messages);
    virtual ~error_handler();

    void handle(const tk_exception& e, bool run_ending);
    // A failure outside the toolkit family that ended a run (out of memory, a library's error):
    // the console writes its text on standard error unless silent; the wizard shows and lists it.
    virtual void report_failure(const std::string& text);

    void set_context(const std::string& context);
    std::string context() const;
    // The text of the last error handled, as reported ("context: message"), for a run report.
    std::string last_error() const;
    void set_silent(bool silent) { m_silent = silent; }
    bool silent() const { return m_silent; }

protected:
    // Builds "context: message" with the table's text for the code when it has one.
    std::string build_report(const tk_exception& e) const;

    virtual void report_internal(const std::string& message);
    virtual void report(const std::string& report, int level, bool run_ending);
    [[noreturn]] virtual void end_process(int status);

    bool m_silent = false;

private:
    mutable std::mutex m_context_lock;
    std::string m_context;
    std::string m_last_error;
    tk_error_converter m_messages;
};
