#include "ODBC/odbc_provider.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_log.hpp"
#include "agent/agent_cmdline.hpp"
#include "agent/agent_progress.hpp"
#include "agent/agent_report.hpp"
#include "common/csv_file.hpp"
#include "common/drelk_converter.hpp"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>

namespace {
// Interrupted or terminated: the file being written goes, then the signal ends the process as
// it would have (a shell sees status 130 or 143).
void end_on_signal(int signal_number) {
    csv_file::remove_partial_files();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void set_signals() {
    // A closed pipe on standard output ("| head -1") must not end the export, and a file size
    // limit is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = end_on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

int run(drelk_converter& converter, error_handler& handler, int argc, const char* const* argv) {
    try {
        if (argc < 2 || !parse_cmd_line(argc, argv)) agent_fatal(agent_usage_text());
        // A profile may carry values the command line would have refused.
        if (converter.mode() < 0 || converter.mode() > 2) agent_fatal("Invalid merge/overwrite mode");
        if (converter.delimiter() < 0 || converter.delimiter() > 2) agent_fatal("Invalid CSV delimiter");
        if (converter.login_timeout() < 0) agent_fatal("Invalid login timeout");
        converter.set_console(true);
        converter.connect_mssql_server();
        converter.check_dest();
        {
            agent_progress progress(converter, !converter.silent());
            converter();
        }
        // A run that failed as a whole has been reported; a script must not see success.
        if (converter.run_failed()) return 255;
        // For schedulers: a table that failed or does not exist fails the run.
        if (converter.strict() && converter.any_entry_failed()) return 1;
    } catch (const tk_exception& e) {
        // Connecting or preparing the destination failed: reported, and nothing was exported.
        handler.handle(e, false);
        return 255;
    } catch (const std::exception& e) {
        agent_fatal(e.what());
    }
    return 0;
}
} // namespace

int pellorin_main(int argc, const char* const* argv) {
    std::setlocale(LC_CTYPE, "");
    set_signals();
    odbc_install_provider();
    tk_log log(nullptr, false, 3, false);
    error_handler handler;
    drelk_converter converter;
    agent_report_begin(converter);
    int status = run(converter, handler, argc, argv);
    // A report that cannot be written leaves the scheduler blind: the job failed.
    if (!agent_report_end(status) && status == 0) status = 255;
    agent_report_forget();
    return status == 255 ? -1 : status;
}
