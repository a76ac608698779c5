// The console agent's options for schedulers and whole databases, end to end through unixODBC and
// FreeTDS against the emulator: strict status, the run report, owner and schemas.

#include "support/decompress.hpp"
#include "support/test_support.hpp"
#include "tdsemu/emu_server.hpp"

#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <cerrno>
#include <cstdlib>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using test_support::gunzip;
using test_support::process_result;
using test_support::read_file;
using test_support::temp_dir;
using test_support::unzstd;
using test_support::write_file;

namespace {
class pellorin_options : public ::testing::Test {
protected:
    void SetUp() override {
        std::string driver = test_support::freetds_driver_path();
        if (driver.empty()) GTEST_SKIP() << "the FreeTDS ODBC driver is not installed";
        write_file(home.file("odbcinst.ini"), "[FreeTDS]\nDriver=" + driver + "\n");
        write_file(home.file("odbc.ini"), "");
    }

    void start(tdsemu::emu_options options = {}) {
        options.seed_files.push_back(TABLOXA_SOURCE_DIR "/tests/testing/e2e_shop.sql");
        options.logins = {{"sa", "pw"}, {"clerk", "pw"}};
        server = std::make_unique<tdsemu::emu_server>(options);
        host = "--host=127.0.0.1," + std::to_string(server->port());
    }

    process_result pellorin(std::vector<std::string> args) {
        args.insert(args.begin(), PELLORIN_PATH);
        return test_support::run_process(args, {"HOME=" + home.path(), "ODBCSYSINI=" + home.path(),
                                                "ODBCINI=" + home.file("odbc.ini"), "LC_ALL=C.UTF-8"});
    }

    process_result export_as(const std::string& user, std::vector<std::string> more = {},
                             const std::string& database = "E2E") {
        std::vector<std::string> args = {host, "--user=" + user, "--pswd=pw", "--src=" + database,
                                         "--dest=" + out.path()};
        args.insert(args.end(), more.begin(), more.end());
        return pellorin(args);
    }

    std::string list_file(const std::string& names) {
        write_file(home.file("tables.txt"), names);
        return "--tab_file=" + home.file("tables.txt");
    }
    bool exists(const std::string& name) const {
        struct stat st;
        return stat(out.file(name).c_str(), &st) == 0;
    }
    nlohmann::json report() const { return nlohmann::json::parse(read_file(home.file("run.json"))); }

    std::string host;
    temp_dir home;
    temp_dir out;
    std::unique_ptr<tdsemu::emu_server> server;
};

// What a terminal shows after these bytes: its lines, the cursor's line last.
std::vector<std::string> screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        std::string& line = lines.back();
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else if (bytes.compare(i, 3, "\x1b[K") == 0) {
            line.resize(std::min(line.size(), column));
            i += 2;
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line += c;
            ++column;
        }
    }
    return lines;
}

const nlohmann::json* entry(const nlohmann::json& report, const std::string& name) {
    for (const auto& table : report["tables"])
        if (table["name"] == name) return &table;
    return nullptr;
}
} // namespace

TEST_F(pellorin_options, strict_status_follows_the_worst_outcome) {
    start();
    // All converted, or one skipped by mode 2: 0 with or without --strict.
    EXPECT_EQ(export_as("sa", {list_file("Orders\n"), "--strict"}).status, 0);
    EXPECT_EQ(export_as("sa", {list_file("Orders\n"), "--strict", "--mode=2"}).status, 0);
    // A missing table, a failed table: 1 with --strict, 0 without, as before.
    for (const char* names : {"Orders\nNoSuch\n", "Orders\nSecret\n"}) {
        EXPECT_EQ(export_as("sa", {list_file(names), "--mode=0"}).status, 0) << names;
        process_result r = export_as("sa", {list_file(names), "--strict", "--mode=0"});
        EXPECT_EQ(r.status, 1) << names << r.out << r.err;
        EXPECT_TRUE(exists("orders.csv"));
    }
    // The job as a whole: 255 as ever.
    EXPECT_EQ(pellorin({host, "--user=sa", "--pswd=no", "--src=E2E", "--dest=" + out.path(), "--strict"}).status,
              255);
}

TEST_F(pellorin_options, report_tells_every_outcome_and_never_the_password) {
    start();
    write_file(out.file("alltypes.csv"), "kept");
    process_result r = export_as("sa", {list_file("AllTypes\nNoSuch\nOrders\nSecret\n"), "--mode=2",
                                        "--report=" + home.file("run.json"), "--inc_fnames"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    nlohmann::json report = this->report();
    EXPECT_EQ(report["exit_status"], 0);
    EXPECT_EQ(report["database"], "E2E");
    EXPECT_EQ(report["destination"], out.path());
    EXPECT_EQ(report["options"]["user"], "sa");
    EXPECT_EQ(report["options"]["mode"], 2);
    EXPECT_EQ(read_file(home.file("run.json")).find("\"pw\""), std::string::npos);
    EXPECT_LE(report["started"].get<std::string>(), report["ended"].get<std::string>());
    ASSERT_EQ(report["tables"].size(), 4u);

    const nlohmann::json* orders = entry(report, "Orders");
    ASSERT_TRUE(orders);
    EXPECT_EQ((*orders)["outcome"], "converted");
    EXPECT_EQ((*orders)["rows"], 2);
    EXPECT_EQ((*orders)["file"], out.file("orders.csv"));
    EXPECT_EQ((*orders)["bytes"], read_file(out.file("orders.csv")).size());
    EXPECT_GE((*orders)["seconds"].get<double>(), 0.0);
    EXPECT_EQ((*entry(report, "AllTypes"))["outcome"], "skipped");
    EXPECT_EQ((*entry(report, "NoSuch"))["outcome"], "missing");
    const nlohmann::json* secret = entry(report, "Secret");
    EXPECT_EQ((*secret)["outcome"], "failed");
    EXPECT_EQ((*secret)["error"],
              "The SELECT permission was denied on the object 'Secret', database 'E2E', schema 'dbo'.");
    EXPECT_EQ((*secret)["file"], "");
    const nlohmann::json& totals = report["totals"];
    EXPECT_EQ(totals["converted"], 1);
    EXPECT_EQ(totals["failed"], 1);
    EXPECT_EQ(totals["missing"], 1);
    EXPECT_EQ(totals["skipped"], 1);
    EXPECT_EQ(totals["rows"], 2);
    // No temporary file stays beside it.
    EXPECT_EQ(test_support::run_process({"/bin/sh", "-c", "ls " + home.path() + " | grep -c partial"}).out, "0\n");
}

TEST_F(pellorin_options, report_of_a_failed_login_says_why) {
    start();
    process_result r = pellorin({host, "--user=sa", "--pswd=secret-word", "--src=E2E", "--dest=" + out.path(),
                                 "--report=" + home.file("run.json")});
    EXPECT_EQ(r.status, 255);
    nlohmann::json report = this->report();
    EXPECT_EQ(report["exit_status"], 255);
    EXPECT_EQ(report["error"], "Login failed for user 'sa'.");
    EXPECT_TRUE(report["tables"].empty());
    EXPECT_EQ(read_file(home.file("run.json")).find("secret-word"), std::string::npos);

    // A fatal message of the command line is what is known then.
    r = pellorin({"--report=" + home.file("run.json"), "--dest=" + out.path(), "--mode=5"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(this->report()["error"], "Invalid merge/overwrite mode");

    // A report that cannot be written fails the job, which otherwise went well.
    r = export_as("sa", {list_file("Orders\n"), "--report=" + home.file("no/such/run.json")});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("Cannot write the run report"), std::string::npos) << r.err;
}

TEST_F(pellorin_options, as_dbo_lets_another_login_see_the_owners_tables) {
    start();
    process_result r = export_as("clerk", {"--as_dbo", list_file("Orders\nNotes\n")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "Table Notes not exists\n");
    EXPECT_EQ(read_file(out.file("orders.csv")), "OrderID;Note\r\n1;first\r\n2;\r\n");
    // Without it the login's own schema is the owner's.
    r = export_as("clerk", {list_file("Orders\nNotes\n"), "--mode=0"});
    EXPECT_EQ(r.err, "Table Orders not exists\n");
    EXPECT_EQ(read_file(out.file("notes.csv")), "NoteID;Body\r\n7;by the clerk\r\n");
}

TEST_F(pellorin_options, all_schemas_exports_the_demo_databases_sales_and_hr_tables) {
    tdsemu::emu_options options;
    options.seed_files.push_back(TABLOXA_SOURCE_DIR "/testing/demo/demo.sql");
    start(options);
    process_result r = export_as("sa", {"--all_schemas", "--n_delim=2"}, "DemoShop");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Code-unit order: upper-case owners' names before the lower-case schemas.
    EXPECT_EQ(r.out,
              "Converting database DemoShop(7 tables)\nConverting table Customers\nConverting table OrderLines\n"
              "Converting table Orders\nConverting table Price History (2024)\nConverting table Products\n"
              "Converting table hr.Employees\nConverting table sales.Regions\n");
    EXPECT_EQ(read_file(out.file("sales_regions.csv")).substr(0, 16), "RegionCode,Name,");
    EXPECT_TRUE(exists("hr_employees.csv"));
    EXPECT_TRUE(exists("customers.csv"));
    // Without it only the owner's tables.
    r = export_as("sa", {"--mode=0"}, "DemoShop");
    EXPECT_EQ(r.out.substr(0, 39), "Converting database DemoShop(5 tables)\n");
    EXPECT_FALSE(exists("sales_regions.csv"));
}

TEST_F(pellorin_options, compressed_files_hold_exactly_the_plain_bytes) {
    tdsemu::emu_options options;
    options.generated_tables.push_back({"E2E", "Many", 60000}); // several MB: many pieces
    start(options);
    std::string tables = list_file("AllTypes\nMany\nOrders\n");
    ASSERT_EQ(export_as("sa", {tables, "--inc_fnames"}).status, 0);
    std::string plain_types = read_file(out.file("alltypes.csv")), plain_many = read_file(out.file("many.csv"));
    ASSERT_GT(plain_many.size(), 1000000u);

    process_result r = export_as("sa", {tables, "--inc_fnames", "--compress=gz", "--mode=1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(gunzip(read_file(out.file("alltypes.csv.gz"))), plain_types);
    EXPECT_EQ(gunzip(read_file(out.file("many.csv.gz"))), plain_many);
    // Mode 1 replaced the table's plain files.
    EXPECT_FALSE(exists("many.csv"));

    r = export_as("sa", {tables, "--inc_fnames", "--compress=zst", "--mode=2"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(unzstd(read_file(out.file("alltypes.csv.zst"))), plain_types);
    EXPECT_EQ(unzstd(read_file(out.file("many.csv.zst"))), plain_many);
    // Mode 2 skips only a file of the kind being written: the .gz files stay as they were.
    EXPECT_TRUE(exists("many.csv.gz"));
    write_file(out.file("orders.csv.zst"), "old");
    r = export_as("sa", {tables, "--compress=zst", "--mode=2"});
    EXPECT_EQ(read_file(out.file("orders.csv.zst")), "old");
    EXPECT_EQ(r.out, "Converting database E2E(3 tables)\n");

    // Mode 0 empties the folder of every kind.
    write_file(out.file("keep.txt"), "keep");
    r = export_as("sa", {list_file("Orders\n"), "--mode=0"});
    EXPECT_FALSE(exists("many.csv.gz"));
    EXPECT_FALSE(exists("many.csv.zst"));
    EXPECT_FALSE(exists("alltypes.csv.gz"));
    EXPECT_TRUE(exists("orders.csv"));
    EXPECT_TRUE(exists("keep.txt"));
}

TEST_F(pellorin_options, progress_shows_on_a_terminal_only_and_leaves_no_stale_line) {
    tdsemu::emu_options options;
    options.generated_tables.push_back({"E2E", "Many", 100000});
    start(options);
    std::vector<std::string> args = {PELLORIN_PATH, host, "--user=sa", "--pswd=pw", "--src=E2E",
                                     "--dest=" + out.path(), list_file("Many\nNoSuch\nOrders\n")};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string env_home = home.path(), env_ini = home.file("odbc.ini");
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("HOME", env_home.c_str(), 1);
        setenv("ODBCSYSINI", env_home.c_str(), 1);
        setenv("ODBCINI", env_ini.c_str(), 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // EIO once the child has closed the terminal
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(bytes.find("[1/3] Many: "), std::string::npos) << bytes;
    EXPECT_NE(bytes.find(" rows/s"), std::string::npos);
    EXPECT_EQ(screen(bytes), (std::vector<std::string>{"Converting database E2E(3 tables)",
                                                       "Converting table Many", "Table NoSuch not exists",
                                                       "Converting table Orders", ""}))
        << bytes;

    // Not a terminal: the same lines and not a byte of status.
    process_result r = export_as("sa", {list_file("Many\nNoSuch\nOrders\n")});
    EXPECT_EQ(r.out, "Converting database E2E(3 tables)\nConverting table Many\nConverting table Orders\n");
    EXPECT_EQ(r.err, "Table NoSuch not exists\n");
}

namespace {
// Every file of a folder, by name.
std::map<std::string, std::string> folder_files(const std::string& path) {
    std::map<std::string, std::string> files;
    process_result list = test_support::run_process({"/bin/ls", "-A", path});
    size_t from = 0;
    for (size_t at; (at = list.out.find('\n', from)) != std::string::npos; from = at + 1) {
        std::string name = list.out.substr(from, at - from);
        files[name] = read_file(path + "/" + name);
    }
    return files;
}
} // namespace

TEST_F(pellorin_options, jobs_give_the_files_of_one_job) {
    tdsemu::emu_options options;
    options.seed_text = "USE E2E;\n";
    for (int i = 0; i < 200; ++i) {
        std::string name = "T" + std::to_string(1000 + i);
        options.seed_text += "CREATE TABLE dbo." + name + " (id int NOT NULL, label nvarchar(20) NULL);\n"
                             "INSERT INTO dbo." + name + " VALUES (1, N'" + name + "'), (" + std::to_string(i) +
                             ", N'x;y');\n";
    }
    // Two names that give the same file name: which one gets the generated name is the run's order.
    options.seed_text += "CREATE TABLE dbo.[Odd Name] (a int NULL);\nINSERT INTO dbo.[Odd Name] VALUES (1);\n"
                         "CREATE TABLE dbo.[Odd.Name] (b int NULL);\nINSERT INTO dbo.[Odd.Name] VALUES (2);\n";
    start(options);
    temp_dir one;
    process_result single =
        pellorin({host, "--user=sa", "--pswd=pw", "--src=E2E", "--dest=" + one.path(), "--inc_fnames"});
    ASSERT_EQ(single.status, 0) << single.out;
    process_result r = export_as("sa", {"--inc_fnames", "--jobs=3", "--report=" + home.file("run.json")});
    EXPECT_EQ(r.status, 0);
    std::map<std::string, std::string> expected = folder_files(one.path());
    EXPECT_EQ(expected.size(), 200u + 2 + 2); // and AllTypes and Orders; Secret fails
    EXPECT_TRUE(folder_files(out.path()) == expected);
    // Every line whole and once; the failed table named in its error.
    std::vector<std::string> lines, single_lines;
    for (auto [text, into] : {std::pair{&r.out, &lines}, std::pair{&single.out, &single_lines}}) {
        size_t from = 0;
        for (size_t at; (at = text->find('\n', from)) != std::string::npos; from = at + 1)
            into->push_back(text->substr(from, at - from));
        std::sort(into->begin(), into->end());
    }
    EXPECT_EQ(lines, single_lines);
    EXPECT_NE(r.out.find("\nSecret: The SELECT permission was denied on the object 'Secret'"), std::string::npos);
    nlohmann::json report = this->report();
    EXPECT_EQ(report["options"]["jobs"], 3);
    EXPECT_EQ(report["totals"]["converted"], 204);
    EXPECT_EQ(report["totals"]["failed"], 1);
    EXPECT_EQ(report["tables"][0]["name"], "AllTypes");

    // With a table list and a profile's queries.
    std::string profile = home.file("jobs.kzt");
    write_file(profile, "[MS SQL Server settings]\r\nserver=127.0.0.1," + std::to_string(server->port()) +
                            "\r\nlogin=sa\r\npassword=pw\r\n[Generic settings]\r\njobs=2\r\n[Selected Tables]\r\nQ1=SELECT id FROM dbo.T1005\r\n"
                        "Q2=SELECT label FROM dbo.T1006\r\n");
    ::chmod(profile.c_str(), 0600);
    temp_dir listed;
    r = pellorin({"--profile=" + profile, "--src=E2E", "--dest=" + listed.path(),
                  list_file("T1001\nNoSuch\nT1002\n"), "--jobs=3"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "Table NoSuch not exists\n");
    std::map<std::string, std::string> files = folder_files(listed.path());
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(files["q1.csv"], "id\r\n1\r\n5\r\n");
    EXPECT_EQ(files["q2.csv"], "label\r\nT1006\r\n\"x;y\"\r\n");
    EXPECT_EQ(files["t1001.csv"], expected["t1001.csv"]);
}
