#include "TK/error_handler.hpp"

#include "TK/tk_console.hpp"
#include "TK/tk_log.hpp"

#include <cstdio>
#include <cstdlib>

error_handler::error_handler() {
    TK_TRACE(2, "error_handler::ctor");
}

error_handler::error_handler(tk_error_converter messages) : m_messages(std::move(messages)) {
    TK_TRACE(2, "error_handler::ctor");
}

error_handler::~error_handler() = default;

void error_handler::set_context(const std::string& context) {
    std::lock_guard<std::mutex> guard(m_context_lock);
    m_context = context;
}

std::string error_handler::context() const {
    std::lock_guard<std::mutex> guard(m_context_lock);
    return m_context;
}

std::string error_handler::last_error() const {
    std::lock_guard<std::mutex> guard(m_context_lock);
    return m_last_error;
}

std::string error_handler::build_report(const tk_exception& e) const {
    std::string out = context();
    if (!out.empty()) out += ": ";
    std::string known = m_messages.convert(e.code());
    out += known.empty() ? e.message() : known;
    return out;
}

void error_handler::handle(const tk_exception& e, bool run_ending) {
    TK_TRACE(2, "error_handler::handle");
    if (e.level() >= 2) {
        {
            std::lock_guard<std::mutex> guard(m_context_lock);
            m_last_error = "Internal error: " + e.message();
        }
        TK_TRACE(3, "Internal error:\n%s", e.message().c_str());
        report_internal(e.message());
        end_process(-1);
    }
    TK_TRACE(3, "Got error code=%d", e.code());
    std::string text = build_report(e);
    TK_TRACE(3, "Error:\n%s", text.c_str());
    // A carriage return would send the rest of the line back over its start on a terminal.
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    {
        std::lock_guard<std::mutex> guard(m_context_lock);
        m_last_error = text;
    }
    report(text, e.level(), run_ending);
}

void error_handler::report_failure(const std::string& text) {
    if (m_silent) return;
    tk_console_write(stderr, text + "\n");
}

void error_handler::report_internal(const std::string& message) {
    // Shown even in silent mode.
    tk_console_write(stdout, "Internal error: " + message + "\n");
    std::fflush(stdout);
}

void error_handler::report(const std::string& report, int level, bool) {
    if (!m_silent) {
        tk_console_write(stdout, "Error:\n" + report + "\n");
    }
    if (level >= 1) {
        TK_TRACE(1, "Got 1-level error");
        end_process(-1);
    }
    TK_TRACE(1, "Got 0-level error");
}

void error_handler::end_process(int status) {
    tk_console_end_status();
    std::fflush(nullptr);
    std::exit(status);
}
