#include "TK/error_handler.hpp"
#include "TK/tk_log.hpp"
#include "agent/agent_cmdline.hpp"
#include "common/drelk_converter.hpp"

#include <clocale>
#include <cstdio>
#include <exception>

int pellorin_main(int argc, const char* const* argv) {
    std::setlocale(LC_CTYPE, "");
    tk_log log(nullptr, false, 3, false);
    error_handler handler;
    drelk_converter converter;
    try {
        if (argc < 2 || !parse_cmd_line(argc, argv)) agent_fatal(agent_usage_text());
        // A profile may carry values the command line would have refused.
        if (converter.mode() < 0 || converter.mode() > 2) agent_fatal("Invalid merge/overwrite mode");
        if (converter.delimiter() < 0 || converter.delimiter() > 2) agent_fatal("Invalid CSV delimiter");
        // Connecting, preparing the destination and the run are not built yet: say so rather
        // than report a conversion that did not happen.
        agent_fatal("The conversion is not available in this build: nothing was exported.");
    } catch (const tk_exception& e) {
        handler.handle(e, false);
    } catch (const std::exception& e) {
        agent_fatal(e.what());
    }
    return 0;
}
