#include "wizard/wizard_error_handler.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_log.hpp"
#include "wizard/dlg_error_continue.hpp"
#include "wizard/dlg_error_ex.hpp"

#include <cstdio>
#include <cstdlib>

namespace {
tk_error_converter provider_converter() {
    int rows = 0;
    const tk_error_row* table = tk_provider_messages(&rows);
    return tk_error_converter(rows, table);
}
} // namespace

wizard_error_handler::wizard_error_handler() : error_handler(provider_converter()) {}

void wizard_error_handler::report_failure(const std::string& text) {
    TK_TRACE(3, "ERROR:\n%s", text.c_str());
    std::string listed = text;
    for (char& c : listed)
        if (c == '\n') c = ' ';
    if (wizard_shell* shell = wizard_shell::instance()) shell->add_error(listed);
    if (!m_silent) wizard_shell::error(text);
}

void wizard_error_handler::report_internal(const std::string& message) {
    show_internal_error(message);
}

void wizard_error_handler::show_internal_error(const std::string& message) {
    g_run_on_gui([&] {
        dlg_error_ex dialog(message, g_active_window());
        dialog.exec();
    });
}

int wizard_error_handler::show_continue(const std::string& report, bool& dont_show) {
    int result = dlg_error_continue::id_continue;
    g_run_on_gui([&] {
        dlg_error_continue dialog(report, g_active_window());
        result = dialog.exec();
        dont_show = dialog.dont_show();
    });
    return result;
}

void wizard_error_handler::report(const std::string& report, int level, bool run_ending) {
    if (wizard_shell* shell = wizard_shell::instance()) shell->add_error(report);
    if (level >= 1) {
        TK_TRACE(1, "Got 1-level error");
        if (!m_silent) {
            TK_TRACE(1, "Step 1");
            wizard_shell::error(report);
        }
        TK_TRACE(1, "Step 2");
        if (!run_ending) throw tk_final_exception();
        return;
    }
    TK_TRACE(1, "Got 0-level error");
    if (m_silent) return;
    bool dont_show = false;
    int answer = show_continue(report, dont_show);
    if (!run_ending && answer == dlg_error_continue::id_abort) throw tk_final_exception();
    m_silent = dont_show;
}

void wizard_error_handler::end_process(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}
