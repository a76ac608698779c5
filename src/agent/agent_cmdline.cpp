#include "agent/agent_cmdline.hpp"
#include "agent/agent_report.hpp"

#include "TK/error_handler.hpp"
#include "TK/tk_cmdli.hpp"
#include "TK/tk_console.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <sys/stat.h>

namespace {
enum option_id {
    opt_dest = 0,
    opt_help = 1,
    opt_host = 2,
    opt_inc_fnames = 3,
    opt_logfile = 4,
    opt_mode = 5,
    opt_n_delim = 6,
    opt_profile = 7,
    opt_pswd = 9,
    opt_silent = 10,
    opt_src = 11,
    opt_tab_def = 12,
    opt_tab_file = 13,
    opt_user = 14,
    opt_all_schemas = 15,
    opt_as_dbo = 16,
    opt_compress = 17,
    opt_jobs = 18,
    opt_report = 19,
    opt_strict = 20,
    opt_version = 21,
};

const tk_cmd_option agent_options[] = {
    {opt_dest, "--dest="},
    {opt_help, "--help"},
    {opt_host, "--host="},
    {opt_inc_fnames, "--inc_fnames"},
    {opt_logfile, "--logfile="},
    {opt_mode, "--mode="},
    {opt_n_delim, "--n_delim="},
    {opt_profile, "--profile="},
    {opt_pswd, "--pswd="},
    {opt_silent, "--silent"},
    {opt_src, "--src="},
    {opt_tab_def, "--tab_def"},
    {opt_tab_file, "--tab_file="},
    {opt_user, "--user="},
    {opt_all_schemas, "--all_schemas"},
    {opt_as_dbo, "--as_dbo"},
    {opt_compress, "--compress="},
    {opt_jobs, "--jobs="},
    {opt_report, "--report="},
    {opt_strict, "--strict"},
    {opt_version, "--version"},
    {0, ""},
};

const char usage_format[] = "PELLORIN v%d.%d%s, exports one database into a folder of CSV files\n"
                            "Usage: PELLORIN.EXE OPTIONS\n"
                            "\n"
                            "   --all_schemas  convert the tables of every schema (as schema.table)\n"
                            "   --as_dbo       connect as the database owner\n"
                            "   --compress=... compress the CSV files (gz or zst)\n"
                            "   --dest=...     path to the folder where CSV files will be stored\n"
                            "   --help         display this help message and exit\n"
                            "   --host=...     MS SQL server IP address or network name\n"
                            "   --inc_fnames   include MS SQL field names into CSV files\n"
                            "   --jobs=...     number of tables converted at a time (1 to 16)\n"
                            "   --logfile=...  path to the file where execution trace will be written\n"
                            "   --mode=...     how to process an existing CSV folder\n"
                            "                  (0 - overwrite the entire folder, 1 - overwrite existing\n"
                            "                  files only, 2 - skip existing files)\n"
                            "   --n_delim=...  delimiter symbol to use in the resultinig CSV file\n"
                            "                  (0 - tab, 1 - semicolon, 2 - comma)\n"
                            "   --profile=...  path to the file to load conversion settings from\n"
                            "   --pswd=...     MS SQL user password\n"
                            "                  (without it, the PELLORIN_PSWD environment variable)\n"
                            "   --report=...   path to the file where a JSON run report will be written\n"
                            "   --silent       disable program output\n"
                            "   --src=...      MS SQL database name\n"
                            "   --strict       exit status 1 when a table failed or does not exist\n"
                            "   --tab_def      convert table definitions only\n"
                            "   --tab_file=... file containing the list of tables to convert\n"
                            "                  (one table name per line)\n"
                            "   --user=...     MS SQL user\n"
                            "   --version      display the program's version and exit\n"
                            "\n"
                            "NOTES:\n"
                            "   1) If you omit 'tab_file' parameter, all database tables will be converted.\n"
                            "   2) If you omit 'mode' parameter, default mode 'overwrite the entire\n"
                            "      folder' will be used.\n"
                            "   3) Command line parameters that contain spaces should be enclosed in\n"
                            "      quotes (for example --dest=\"c:\\my database\")\n"
                            "   4) You can omit 'MS SQLh' parameter to connect local MS SQL server.";

// Accepts a value only when printing the number back gives exactly the text: 1, not 01 or +1.
bool read_choice(const char* text, int& value) {
    value = std::atoi(text);
    return tk_format("%d", value) == text && value >= 0 && value <= 2;
}

// Loads a profile or ends the program saying why; a password others may read is warned about.
bool load_profile_or_fail(drelk_converter& converter, const char* value, const std::u16string& path) {
    std::string why;
    if (!converter.load_profile(path, &why)) throw tk_exception(std::string("Profile ") + value + " " + why, 1);
    struct stat st;
    if (!converter.password().empty() && ::stat(value, &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        std::string warning = std::string("Warning: the profile ") + value +
                              " holds a password that other users can read (chmod 600 it)";
        TK_TRACE(3, "%s", warning.c_str());
        if (!converter.silent()) {
            std::fprintf(stderr, "%s\n", warning.c_str());
            std::fflush(stderr);
        }
    }
    return true;
}

// A value that cannot be widened leaves its option without effect.
bool widen(const char* text, std::u16string& out) {
    return tk_to_unicode(text, out);
}
} // namespace

void agent_fatal(const std::string& text) {
    TK_TRACE(3, "%s", text.c_str());
    drelk_converter* converter = drelk_converter::instance();
    if (!converter || !converter->silent()) {
        tk_console_write(stderr, text + "\n");
    }
    tk_console_end_status();
    agent_report_end(255, text);
    std::fflush(nullptr);
    std::exit(-1);
}

std::string agent_version_text() {
    return tk_format("pellorin %d.%d", TABLOXA_VERSION_MAJOR, TABLOXA_VERSION_MINOR);
}

std::string agent_usage_text() {
    return tk_format(usage_format, 1, 1, "");
}

bool parse_cmd_line(int argc, const char* const* argv) {
    TK_TRACE(2, "parse_cmd_line");
    for (int i = 0; i < argc; ++i) TK_TRACE(1, "parameter #%d: %s", i, argv[i]);
    drelk_converter& converter = drelk_converter::get();
    std::u16string host, user, password;
    bool profile_loaded = false, password_given = false;
    std::optional<std::string> tab_file;

    tk_cmdli scanner(argc, argv, agent_options);
    for (; scanner.has_current(); scanner.next()) {
        const char* value = scanner.value();
        std::u16string wide;
        int number = 0;
        switch (scanner.id()) {
        case opt_dest:
            if (widen(value, wide)) {
                TK_WTRACE(2, u"\tgot dest %s", wide.c_str());
                converter.set_dest(wide);
            }
            break;
        case opt_help:
            agent_fatal(agent_usage_text());
        case opt_version:
            // Asked for, so on standard output and a success, like any program's version.
            std::puts(agent_version_text().c_str());
            std::fflush(nullptr);
            std::exit(0);
        case opt_host:
            if (widen(value, wide)) host = wide;
            break;
        case opt_user:
            if (widen(value, wide)) user = wide;
            break;
        case opt_pswd:
            password_given = true;
            if (widen(value, wide)) password = wide;
            break;
        case opt_inc_fnames:
            TK_TRACE(1, "parse_cmd_line - 'include f.names' is ON");
            converter.set_include_fnames(true);
            break;
        case opt_logfile:
            TK_TRACE(1, "parse_cmd_line - got logfile %s", value);
            converter.set_logfile(value);
            break;
        case opt_mode: {
            bool valid = read_choice(value, number);
            TK_TRACE(2, "\tgot mode %d", number);
            if (!valid) agent_fatal("Invalid merge/overwrite mode");
            converter.set_mode(number);
            break;
        }
        case opt_n_delim: {
            bool valid = read_choice(value, number);
            TK_TRACE(2, "\tgot delim %d", number);
            if (!valid) agent_fatal("Invalid CSV delimiter");
            converter.set_delimiter(number);
            break;
        }
        case opt_profile:
            if (widen(value, wide)) {
                TK_WTRACE(1, u"parse_cmd_line - got profile %s", wide.c_str());
                profile_loaded = load_profile_or_fail(converter, value, wide);
            }
            break;
        case opt_silent:
            TK_TRACE(1, "parse_cmd_line - silent mode is ON");
            converter.set_silent(true);
            if (error_handler* handler = error_handler::instance()) handler->set_silent(true);
            break;
        case opt_src:
            if (widen(value, wide)) converter.set_source(wide);
            break;
        case opt_tab_def:
            TK_TRACE(2, "\tconvert table definitions only");
            converter.set_only_definitions(true);
            break;
        case opt_all_schemas:
            TK_TRACE(1, "parse_cmd_line - all schemas");
            converter.set_all_schemas(true);
            break;
        case opt_as_dbo:
            TK_TRACE(1, "parse_cmd_line - connect as DBO");
            converter.set_as_dbo(true);
            break;
        case opt_compress: {
            int kind = compress_none;
            TK_TRACE(2, "\tgot compress %s", value);
            if (!widen(value, wide) || wide.empty() || !drelk_converter::compression_from_text(wide, kind))
                agent_fatal("Invalid compression (gz or zst)");
            converter.set_compression(kind);
            break;
        }
        case opt_jobs: {
            int jobs = std::atoi(value);
            TK_TRACE(2, "\tgot jobs %d", jobs);
            if (tk_format("%d", jobs) != value || jobs < 1 || jobs > 16) agent_fatal("Invalid number of jobs (1 to 16)");
            converter.set_jobs(jobs);
            break;
        }
        case opt_report:
            TK_TRACE(1, "parse_cmd_line - got report %s", value);
            if (widen(value, wide)) converter.set_report_file(wide);
            break;
        case opt_strict:
            TK_TRACE(1, "parse_cmd_line - strict status");
            converter.set_strict(true);
            break;
        case opt_tab_file:
            TK_TRACE(2, "\tparse_cmd_line - got tab_file %s", value);
            // Read once every profile is in, which it overrides whatever the order.
            tab_file = value;
            break;
        default:
            break;
        }
    }
    if (scanner.unrecognised_count() > 0) return false;

    if (tab_file) {
        // The list replaces the tables a profile selected; its queries stay.
        udb_selection& selection = converter.selection();
        for (auto entry = selection.begin(); entry != selection.end();)
            entry = entry->second.empty() ? selection.erase(entry) : std::next(entry);
        process_tab_file(*tab_file);
    }

    if (converter.dest().empty()) agent_fatal("You should enter path to CSV folder");
    if (converter.source().empty()) agent_fatal("You should enter MS SQL database name");
    if (!profile_loaded) {
        converter.set_host(host);
        converter.set_user(user);
        converter.set_password(password);
    }
    // Kept off the command line, where every user of the machine could read it.
    if (!password_given && converter.password().empty()) {
        const char* from_env = std::getenv("PELLORIN_PSWD");
        std::u16string wide;
        if (from_env && widen(from_env, wide)) {
            TK_TRACE(2, "\tpassword from PELLORIN_PSWD");
            converter.set_password(wide);
        }
    }
    return true;
}
