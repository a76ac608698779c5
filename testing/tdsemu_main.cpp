// tabloxa-tdsemu: a SQL Server stand-in for tests and the demo. See testing/README.md.
#include "tdsemu/emu_server.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace {

const char* const usage =
    "usage: tabloxa-tdsemu [options]\n"
    "  --seed FILE              run a seed script (repeatable, in order)\n"
    "  --port N                 listen on port N (default: any free port)\n"
    "  --host ADDRESS           listen address (default 127.0.0.1)\n"
    "  --login USER:PASSWORD    accepted login (repeatable; default sa:Tabloxa-1)\n"
    "  --version NAME           pose as 2000, 2005, 2008R2, 2012, 2014, 2019 (default), 2022 or azure\n"
    "  --version-text TEXT      the text of SELECT @@VERSION\n"
    "  --no-sp-databases        refuse exec sp_databases (error 2812) as Azure SQL does\n"
    "  --azure                  behave as Azure SQL: no sp_databases, no USE of another database\n"
    "  --delay-ms N             wait N ms before answering each SELECT\n"
    "  --latency-ms N           wait N ms before answering every request, as a network adds\n"
    "  --generate DB.TABLE=ROWS add a generated table (TABLE may be OWNER.NAME; ROWS may be 'endless')\n"
    "  --data-dir DIR           keep the SQLite files in DIR (default: a temporary folder, removed at exit)\n"
    "  --exit-on-stdin-eof      stop when standard input closes\n"
    "  --verbose                log requests on standard error\n"
    "Prints the port on the first line of standard output, then serves until SIGINT or SIGTERM.\n";

int fail(const std::string& text) {
    std::cerr << "tabloxa-tdsemu: " << text << "\n" << usage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    tdsemu::emu_options options;
    bool custom_login = false, watch_stdin = false;
    for (int k = 1; k < argc; ++k) {
        std::string a = argv[k];
        auto value = [&]() -> std::string {
            if (k + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++k];
        };
        try {
            if (a == "--seed")
                options.seed_files.push_back(value());
            else if (a == "--port")
                options.port = static_cast<uint16_t>(std::stoul(value()));
            else if (a == "--host")
                options.host = value();
            else if (a == "--login") {
                std::string v = value();
                auto colon = v.find(':');
                if (colon == std::string::npos || colon == 0) return fail("--login takes USER:PASSWORD");
                if (!custom_login) options.logins.clear();
                custom_login = true;
                options.logins.emplace_back(v.substr(0, colon), v.substr(colon + 1));
            } else if (a == "--version") {
                if (!tdsemu::apply_version_preset(options, value()))
                    return fail("unknown version " + std::string(argv[k]));
            } else if (a == "--version-text")
                options.version_text = value();
            else if (a == "--no-sp-databases")
                options.sp_databases = false;
            else if (a == "--azure") {
                options.azure = true;
                options.sp_databases = false;
            } else if (a == "--delay-ms")
                options.delay_ms = std::stoi(value());
            else if (a == "--latency-ms")
                options.latency_ms = std::stoi(value());
            else if (a == "--generate") {
                std::string v = value();
                auto eq = v.find('='), dot = v.find('.');
                if (eq == std::string::npos || dot == std::string::npos || dot > eq)
                    return fail("--generate takes DB.TABLE=ROWS");
                std::string rows = v.substr(eq + 1);
                options.generated_tables.push_back({v.substr(0, dot), v.substr(dot + 1, eq - dot - 1),
                                                    rows == "endless" ? -1 : std::stoll(rows)});
            } else if (a == "--data-dir")
                options.data_dir = value();
            else if (a == "--exit-on-stdin-eof")
                watch_stdin = true;
            else if (a == "--verbose")
                options.verbose = true;
            else if (a == "--help" || a == "-h") {
                std::cout << usage;
                return 0;
            } else
                return fail("unknown option " + a);
        } catch (const std::exception& e) {
            return fail("bad value for " + a + ": " + e.what());
        }
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // the server's threads inherit the mask
    try {
        tdsemu::emu_server server(options);
        std::cout << server.port() << std::endl;
        if (watch_stdin) {
            timespec zero{0, 0};
            for (;;) {
                pollfd p{0, POLLIN, 0};
                if (::poll(&p, 1, 200) > 0) {
                    char buf[256];
                    if (::read(0, buf, sizeof buf) <= 0) break;
                }
                if (sigtimedwait(&set, nullptr, &zero) > 0) break;
            }
        } else {
            int sig = 0;
            sigwait(&set, &sig);
        }
        server.stop();
    } catch (const std::exception& e) {
        std::cerr << "tabloxa-tdsemu: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
