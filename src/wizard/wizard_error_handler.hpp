#pragma once

#include "TK/error_handler.hpp"

#include <string>

// The wizard's reporter: the provider messages replace the provider's text by code, errors
// join the shell's list, and the user sees them in dialogs.
class wizard_error_handler : public error_handler {
public:
    wizard_error_handler();

    // A failure outside the toolkit family ended the run: shown, and listed like the others.
    void report_failure(const std::string& text) override;

protected:
    void report_internal(const std::string& message) override;
    void report(const std::string& report, int level, bool run_ending) override;
    // Ends at once: a worker may be the caller while the user-interface thread still runs.
    [[noreturn]] void end_process(int status) override;

    // The dialogs, over the active window; replaced by tests.
    virtual void show_internal_error(const std::string& message);
    // Answers 2 (Continue) or 1 (Abort) and the state of the check box.
    virtual int show_continue(const std::string& report, bool& dont_show);
};
