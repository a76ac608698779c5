#include "agent/agent_cmdline.hpp"
#include "support/test_support.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using test_support::process_result;
using test_support::read_file;
using test_support::temp_dir;

namespace {
// The program as another user can start it: the build folder's parents may be private (a clone
// under root's home or under mktemp -d), so that user runs a copy in a folder open to all.
std::string reachable_pellorin() {
    static temp_dir folder;
    static const std::string copy = [] {
        std::string path = folder.file("pellorin");
        std::filesystem::copy_file(PELLORIN_PATH, path, std::filesystem::copy_options::overwrite_existing);
        chmod(path.c_str(), 0755);
        return path;
    }();
    return copy;
}

process_result pellorin(std::vector<std::string> args, const std::string& cwd = {},
                        bool unprivileged = false) {
    args.insert(args.begin(), unprivileged ? reachable_pellorin() : std::string(PELLORIN_PATH));
    return test_support::run_process(args, {"LC_ALL=C.UTF-8"}, cwd, unprivileged);
}

const std::string usage_first_line = "PELLORIN v1.1, ";
} // namespace

TEST(pellorin_usage, no_arguments_help_and_unknown_arguments_print_the_usage_with_status_255) {
    for (auto args :
         {std::vector<std::string>{}, std::vector<std::string>{"--help"},
          std::vector<std::string>{"--dest=x", "--src=y", "-dest=x"}, std::vector<std::string>{"--helpme"}}) {
        process_result r = pellorin(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, agent_usage_text() + "\n");
        EXPECT_EQ(r.err.rfind(usage_first_line, 0), 0u);
    }
}

TEST(pellorin_usage, text_lines_are_exact) {
    std::string text = agent_usage_text();
    EXPECT_NE(
        text.find(
            "\nUsage: PELLORIN.EXE OPTIONS\n\n   --all_schemas  "),
        std::string::npos);
    EXPECT_NE(
        text.find(
            "\n   --dest=...     path to the folder where CSV files will be "
            "stored\n"),
        std::string::npos);
    EXPECT_NE(text.find("   --n_delim=...  delimiter symbol to use in the resultinig CSV file\n"),
              std::string::npos);
    EXPECT_NE(text.find("      quotes (for example --dest=\"c:\\my database\")\n"), std::string::npos);
    std::string last = "   4) You can omit 'MS SQLh' parameter to connect local MS SQL server.";
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    // The options of schedulers and whole databases, each in its alphabetical place.
    EXPECT_NE(text.find("\n\n   --all_schemas  convert the tables of every schema (as schema.table)\n"
                        "   --as_dbo       connect as the database owner\n"
                        "   --compress=... compress the CSV files (gz or zst)\n"
                        "   --dest=...     "),
              std::string::npos);
    EXPECT_NE(text.find("   --pswd=...     MS SQL user password\n"
                        "                  (without it, the PELLORIN_PSWD environment variable)\n"
                        "   --report=...   "),
              std::string::npos);
    EXPECT_NE(text.find("   --src=...      MS SQL database name\n   --strict       "), std::string::npos);
    EXPECT_NE(text.find("   --inc_fnames   include MS SQL field names into CSV files\n   --jobs=...     "),
              std::string::npos);
    EXPECT_NE(text.find("   --user=...     MS SQL user\n"
                        "   --version      display the program's version and exit\n"
                        "\n"
                        "NOTES:\n"),
              std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 36);
}

TEST(pellorin_usage, version_goes_to_stdout_with_status_0_as_soon_as_it_is_read) {
    for (auto args : {std::vector<std::string>{"--version"}, std::vector<std::string>{"--silent", "--version", "--bogus"}}) {
        process_result r = pellorin(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "pellorin 1.1\n");
        EXPECT_EQ(r.err, "");
    }
    // An invalid option before it still ends the program first.
    process_result r = pellorin({"--mode=7", "--version"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
}

TEST(pellorin_usage, options_before_help_have_acted) {
    temp_dir dir;
    std::string log = dir.file("trace.log");
    process_result r = pellorin({"--logfile=" + log, "--help"});
    EXPECT_EQ(r.status, 255);
    std::string bytes = read_file(log);
    EXPECT_EQ(bytes.rfind(usage_first_line, 0), 0u); // the fatal message is traced at level 3
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

TEST(pellorin_checks, invalid_values_give_their_messages_and_silent_hides_them) {
    struct check {
        std::vector<std::string> args;
        std::string message;
    };
    std::vector<check> checks = {
        {{"--mode=01"}, "Invalid merge/overwrite mode"},
        {{"--mode=3"}, "Invalid merge/overwrite mode"},
        {{"--mode=-1"}, "Invalid merge/overwrite mode"},
        {{"--mode="}, "Invalid merge/overwrite mode"},
        {{"--mode=+1"}, "Invalid merge/overwrite mode"},
        {{"--n_delim="}, "Invalid CSV delimiter"},
        {{"--n_delim=1x"}, "Invalid CSV delimiter"},
        {{"--dest=", "--src=db"}, "You should enter path to CSV folder"},
        {{"--src=db"}, "You should enter path to CSV folder"},
        {{"--dest=/tmp/out"}, "You should enter MS SQL database name"},
        {{"--compress=zip"}, "Invalid compression (gz or zst)"},
        {{"--compress="}, "Invalid compression (gz or zst)"},
        {{"--jobs=0"}, "Invalid number of jobs (1 to 16)"},
        {{"--jobs=17"}, "Invalid number of jobs (1 to 16)"},
        {{"--jobs=02"}, "Invalid number of jobs (1 to 16)"},
    };
    for (const check& c : checks) {
        process_result r = pellorin(c.args);
        EXPECT_EQ(r.status, 255) << c.message;
        EXPECT_EQ(r.err, c.message + "\n");
        std::vector<std::string> quiet = c.args;
        quiet.insert(quiet.begin(), "--silent");
        r = pellorin(quiet);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
    }
    // Options act in order: a later --silent cannot hide an earlier invalid value.
    process_result r = pellorin({"--mode=7", "--silent"});
    EXPECT_EQ(r.err, "Invalid merge/overwrite mode\n");
}

TEST(pellorin_checks, a_server_that_cannot_be_reached_fails_the_job) {
    temp_dir dir;
    // Port 1 on the loopback: nothing listens there.
    process_result r =
        pellorin({"--dest=" + dir.path(), "--src=db", "--host=127.0.0.1,1", "--user=u", "--pswd=p"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(pellorin_logfile, missing_folder_is_reported_on_stdout_and_creates_nothing) {
    temp_dir dir;
    std::string log = dir.file("missing/run.log");
    process_result r = pellorin({"--logfile=" + log, "--dest=x", "--src=y"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nLogfile path does not exist. Please verify the correct path was given.\n");
    struct stat st;
    EXPECT_NE(stat(dir.file("missing").c_str(), &st), 0);
    r = pellorin({"--silent", "--logfile=" + log});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
}

TEST(pellorin_logfile, existing_read_only_log_is_refused) {
    temp_dir dir;
    std::string log = dir.file("ro.log");
    test_support::write_file(log, "keep");
    chmod(log.c_str(), 0444);
    process_result r = pellorin({"--logfile=" + log, "--dest=x", "--src=y"}, {}, true);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nLogfile name specifies an existing read-only file.\n");
    EXPECT_EQ(read_file(log), "keep");
}

TEST(pellorin_logfile, relative_log_name_is_created_in_the_working_folder) {
    temp_dir dir;
    process_result r = pellorin({"--logfile=run.log", "--mode=9"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(read_file(dir.file("run.log")), "Invalid merge/overwrite mode\r\n");
}

TEST(pellorin_internal_error, a_21st_unknown_argument_names_the_scanner) {
    std::vector<std::string> args(21, "unknown");
    process_result r = pellorin(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Internal error: Internal error: \ncode=746b5f636d646c692e637070", 0), 0u) << r.out;
    args.insert(args.begin(), "--silent");
    r = pellorin(args);
    EXPECT_EQ(r.out.rfind("Internal error: ", 0), 0u);
}
