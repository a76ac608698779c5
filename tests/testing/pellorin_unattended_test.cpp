// Unattended runs end to end (the real pellorin, unixODBC and FreeTDS against the emulator): whole
// files or none, resumable runs, profiles that load or fail loudly, a lost server, signals and
// passwords kept off the command line.

#include "support/decompress.hpp"
#include "support/test_support.hpp"
#include "tdsemu/emu_server.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using test_support::process_result;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {
const char shop_seed[] = "USE E2E;\n"
                         "CREATE TABLE dbo.Mixed (id int NOT NULL, v varchar(10) NULL);\n"
                         "INSERT INTO dbo.Mixed VALUES (1,'1'),(2,'2'),(3,'3'),(4,'4'),(5,'5'),(6,'6'),"
                         "(7,'seven'),(8,'8');\n";
// Row 7 cannot be an int: the server fails the statement after six rows.
const char mixed_query[] = "SELECT id, CASE WHEN v = 'seven' THEN v ELSE id END AS n FROM dbo.Mixed";

class pellorin_unattended : public ::testing::Test {
protected:
    void SetUp() override {
        std::string driver = test_support::freetds_driver_path();
        if (driver.empty()) GTEST_SKIP() << "the FreeTDS ODBC driver is not installed";
        write_file(home.file("odbcinst.ini"), "[FreeTDS]\nDriver=" + driver + "\n");
        write_file(home.file("odbc.ini"), "");
        // Others may read the folder, as an unprivileged user must.
        chmod(home.path().c_str(), 0755);
    }

    void start(tdsemu::emu_options options = {}) {
        if (options.seed_files.empty()) options.seed_files.push_back(TABLOXA_SOURCE_DIR "/tests/testing/e2e_shop.sql");
        options.logins = {{"sa", "pw"}};
        if (options.seed_text.empty()) options.seed_text = shop_seed;
        if (server) options.port = server->port();
        last = options;
        server.reset();
        server = std::make_unique<tdsemu::emu_server>(options);
        host = "--host=127.0.0.1," + std::to_string(server->port());
    }
    // The same server again on the same port, as after a restart.
    void restart() { start(last); }

    std::vector<std::string> environment(std::vector<std::string> more = {}) const {
        std::vector<std::string> env = {"HOME=" + home.path(), "ODBCSYSINI=" + home.path(),
                                        "ODBCINI=" + home.file("odbc.ini"), "LC_ALL=C.UTF-8",
                                        "PELLORIN_PSWD="};
        env.insert(env.end(), more.begin(), more.end());
        return env;
    }

    process_result pellorin(std::vector<std::string> args, std::vector<std::string> env = {},
                            bool unprivileged = false) {
        args.insert(args.begin(), PELLORIN_PATH);
        return test_support::run_process(args, environment(std::move(env)), {}, unprivileged);
    }

    std::vector<std::string> login(std::vector<std::string> more = {}) const {
        std::vector<std::string> args = {host, "--user=sa", "--pswd=pw", "--src=E2E", "--dest=" + out.path(),
                                         "--inc_fnames"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    // A run in the background; `pid` is set once it runs.
    std::future<process_result> pellorin_async(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), PELLORIN_PATH);
        return std::async(std::launch::async, [this, args, env] {
            return test_support::run_process(args, environment(env), {}, false, [this](int id) { pid = id; });
        });
    }

    // Waits until the named file holds at least `bytes`; false after 60 seconds.
    // Until one of the files has that size.
    bool wait_for(std::initializer_list<std::string> names, off_t bytes) const {
        for (int i = 0; i < 6000; ++i) {
            for (const std::string& name : names) {
                struct stat st;
                if (stat(out.file(name).c_str(), &st) == 0 && st.st_size >= bytes) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool wait_for(const std::string& name, off_t bytes) const { return wait_for({name}, bytes); }

    std::string list_file(const std::string& names) {
        write_file(home.file("tables.txt"), names);
        return "--tab_file=" + home.file("tables.txt");
    }
    std::string profile(const std::string& name, const std::string& text) {
        std::string path = home.file(name);
        write_file(path, text);
        chmod(path.c_str(), 0600);
        return path;
    }
    std::string file(const std::string& name) const { return read_file(out.file(name)); }
    bool exists(const std::string& name) const {
        struct stat st;
        return stat(out.file(name).c_str(), &st) == 0;
    }
    bool no_partial_files() const {
        std::string listing = test_support::run_process({"/bin/ls", "-A", out.path()}).out;
        // Hidden names of our pattern only: ".NAME.csv.partial", also with .gz or .zst.
        for (const char* ending : {".csv.partial\n", ".csv.gz.partial\n", ".csv.zst.partial\n"})
            if (listing.find(ending) != std::string::npos) return false;
        return true;
    }

    std::string host;
    temp_dir home;
    temp_dir out;
    tdsemu::emu_options last;
    std::unique_ptr<tdsemu::emu_server> server;
    std::atomic<int> pid{0};
};

const std::string orders = "OrderID;Note\r\n1;first\r\n2;\r\n";
} // namespace

TEST_F(pellorin_unattended, a_table_failing_mid_way_leaves_no_file_and_mode_2_resumes) {
    start();
    std::string connect = "[MS SQL Server settings]\r\nserver=127.0.0.1," + std::to_string(server->port()) +
                          "\r\nlogin=sa\r\npassword=pw\r\n";
    std::string with_query = profile("q.kzt", connect + "[Selected Tables]\r\nOrders\r\nNums=" +
                                                  std::string(mixed_query) + "\r\n[Generic settings]\r\nmode=1\r\n");
    write_file(out.file("nums.csv"), "old\r\n");
    process_result r = pellorin(login({"--profile=" + with_query}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\nNums, record #"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Conversion failed when converting the value 'seven' to data type int."), std::string::npos);
    // Mode 1: the earlier complete file stays, no half one replaces it.
    EXPECT_EQ(file("nums.csv"), "old\r\n");
    EXPECT_EQ(file("orders.csv"), orders);
    EXPECT_TRUE(no_partial_files());

    // Mode 0: no file at all under the name; then a mode-2 run converts exactly what is missing,
    // and removes what a killed run left (only names of our own pattern).
    write_file(with_query, connect + "[Selected Tables]\r\nOrders\r\nNums=" + std::string(mixed_query) + "\r\n");
    r = pellorin(login({"--profile=" + with_query, "--mode=0"}));
    EXPECT_FALSE(exists("nums.csv"));
    EXPECT_EQ(file("orders.csv"), orders);
    write_file(out.file("orders.csv"), "kept by mode 2");
    write_file(out.file(".nums.csv.partial"), "1;1\r\n");
    write_file(out.file(".other.csv.partial"), "half");
    write_file(out.file("notes.partial"), "not ours");
    last.seed_text = std::string(shop_seed).replace(std::string(shop_seed).find("'seven'"), 7, "'7'");
    restart();
    r = pellorin(login({"--profile=" + with_query, "--mode=2"}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(file("nums.csv"), "id;n\r\n1;1\r\n2;2\r\n3;3\r\n4;4\r\n5;5\r\n6;6\r\n7;7\r\n8;8\r\n");
    EXPECT_EQ(file("orders.csv"), "kept by mode 2");
    EXPECT_TRUE(no_partial_files());
    EXPECT_EQ(file("notes.partial"), "not ours");
}

TEST_F(pellorin_unattended, mode_0_keeps_the_folder_when_the_database_cannot_be_opened) {
    start();
    write_file(out.file("orders.csv"), "last export");
    process_result r = pellorin({host, "--user=sa", "--pswd=pw", "--src=NoSuchBase", "--dest=" + out.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << r.out;
    EXPECT_EQ(file("orders.csv"), "last export");
}

TEST_F(pellorin_unattended, long_and_unspellable_names_fail_only_themselves) {
    std::string cjk;
    for (int i = 0; i < 84; ++i) cjk += "\xE6\xB3\xA8"; // 84 characters, 252 bytes
    tdsemu::emu_options options;
    options.seed_text = std::string(shop_seed) + "CREATE TABLE dbo.[" + cjk + "] (id int NOT NULL);\n" +
                        "INSERT INTO dbo.[" + cjk + "] VALUES (1);\n" +
                        "CREATE TABLE dbo.[\xD0\x96urnal] (id int NOT NULL);\n";
    start(options);
    process_result r = pellorin(login({list_file(cjk + "\nOrders\n")}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::string cut;
    for (int i = 0; i < 78; ++i) cut += "\xE6\xB3\xA8";
    EXPECT_EQ(file(cut + "000.csv"), "id\r\n1\r\n");
    EXPECT_EQ(file("orders.csv"), orders);

    // Under a Latin-1 locale a Cyrillic name cannot be a file name: that table (empty) is
    // reported, the others are exported.
    std::string latin_list = home.file("latin.txt");
    write_file(latin_list, "\xEF\xBB\xBF\xD0\x96urnal\nOrders\n");
    r = pellorin(login({"--tab_file=" + latin_list, "--mode=0"}), {"LC_ALL=en_US.ISO-8859-1"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\n?urnal: cannot be written as a file name in the encoding ISO-8859-1\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(file("orders.csv"), orders);
}

TEST_F(pellorin_unattended, profiles_load_whole_or_end_the_run_before_anything_is_deleted) {
    start();
    std::string port = std::to_string(server->port());
    std::string settings = "[MS SQL Server settings]\r\nserver=127.0.0.1," + port +
                           "\r\nlogin=sa\r\npassword=pw\r\n[Generic settings]\r\nsrc=E2E\r\ndest=" + out.path() +
                           "\r\n[Selected Tables]\r\nAllTypes\r\nQ=SELECT OrderID FROM dbo.Orders\r\n";
    std::string good = profile("bom.kzt", "\xEF\xBB\xBF" + settings);
    process_result r = pellorin({"--profile=" + good});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(exists("alltypes.csv"));
    EXPECT_TRUE(exists("q.csv"));

    // --tab_file= replaces the profile's tables whatever the order; its query stays.
    for (bool list_first : {true, false}) {
        std::string list = list_file("Orders\n");
        r = pellorin(list_first ? std::vector<std::string>{list, "--profile=" + good}
                                : std::vector<std::string>{"--profile=" + good, list});
        EXPECT_EQ(r.out, "Converting database E2E(2 tables)\nConverting table Orders\nConverting table Q\n")
            << list_first;
        EXPECT_FALSE(exists("alltypes.csv"));
    }

    std::string bad = profile("bad.kzt", "stray line\r\n" + settings);
    r = pellorin({"--profile=" + bad});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nProfile " + bad + " is not valid: line 1 is outside any section\n");
    EXPECT_TRUE(exists("orders.csv")); // mode 0 deleted nothing

    std::string latin = profile("latin.kzt", "[Generic settings]\r\nsrc=Caf\xE9\r\n");
    r = pellorin({"--profile=" + latin});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error:\nProfile " + latin + " is not valid: line 2: ", 0), 0u) << r.out;

    if (geteuid() == 0) {
        r = pellorin({"--profile=" + good}, {}, true);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "Error:\nProfile " + good + " cannot be read: Permission denied\n");
        chmod(home.file("tables.txt").c_str(), 0600);
        r = pellorin(login({list_file("Orders\n")}), {}, true);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "Table names file cannot be read: Permission denied\n");
    }

    // A password that others may read is warned about; the run goes on.
    chmod(good.c_str(), 0644);
    r = pellorin({"--profile=" + good});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: the profile " + good + " holds a password that other users can read (chmod 600 it)\n");
}

TEST_F(pellorin_unattended, a_lost_server_is_connected_again_and_the_table_converted_whole) {
    tdsemu::emu_options options;
    options.generated_tables.push_back({"E2E", "Zbig", 60000});
    start(options);
    temp_dir clean;
    process_result r = pellorin({host, "--user=sa", "--pswd=pw", "--src=E2E", "--dest=" + clean.path(),
                                 "--inc_fnames", list_file("Zbig\n")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string whole = read_file(clean.file("zbig.csv"));

    std::string list = list_file("Orders\nZbig\n");
    auto run = pellorin_async(login({list}));
    ASSERT_TRUE(wait_for(".zbig.csv.partial", 1 << 20));
    server->stop();
    restart();
    r = run.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Converting database E2E(2 tables)\nConverting table Orders\nConverting table Zbig\n"
                     "Converting table Zbig\n");
    std::string got = file("zbig.csv");
    size_t at = std::mismatch(got.begin(), got.end(), whole.begin(), whole.end()).first - got.begin();
    EXPECT_TRUE(got == whole) << "the table must arrive whole: " << got.size() << " " << whole.size() << " "
                              << got.substr(at > 200 ? at - 200 : 0, 400) << "\n----\n"
                              << whole.substr(at > 200 ? at - 200 : 0, 400);
    EXPECT_EQ(file("orders.csv"), orders);

    // With jobs and compression: the job that lost its connection makes its own again, and the
    // compressed file is whole; mode 1 replaces the plain files.
    run = pellorin_async(login({list, "--mode=1", "--jobs=2", "--compress=gz"}));
    ASSERT_TRUE(wait_for(".zbig.csv.gz.partial", 1 << 16));
    server->stop();
    restart();
    r = run.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(test_support::gunzip(file("zbig.csv.gz")) == whole);
    EXPECT_EQ(test_support::gunzip(file("orders.csv.gz")), orders);
    EXPECT_FALSE(exists("zbig.csv"));
    EXPECT_FALSE(exists("orders.csv"));
    EXPECT_TRUE(no_partial_files());

    // Gone for good: the whole job fails; the finished table stays, the cut one leaves no file.
    std::remove(out.file("zbig.csv").c_str());
    run = pellorin_async(login({list, "--mode=1"}));
    ASSERT_TRUE(wait_for(".zbig.csv.partial", 1 << 20));
    server.reset();
    r = run.get();
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("The connection to the server was lost and could not be made again"), std::string::npos)
        << r.out;
    EXPECT_FALSE(exists("zbig.csv"));
    EXPECT_TRUE(no_partial_files());
    EXPECT_EQ(file("orders.csv"), orders);
}

TEST_F(pellorin_unattended, signals_and_limits_leave_no_half_file) {
    tdsemu::emu_options options;
    options.generated_tables.push_back({"E2E", "Zbig", 60000});
    start(options);
    auto run = pellorin_async(login({list_file("Zbig\n")}));
    ASSERT_TRUE(wait_for(".zbig.csv.partial", 1 << 20));
    kill(pid, SIGTERM);
    process_result r = run.get();
    EXPECT_EQ(r.status, 143);
    EXPECT_FALSE(exists("zbig.csv"));
    EXPECT_TRUE(no_partial_files());

    // A file size limit is a reported write error, not a silent end.
    std::vector<std::string> args = {"/bin/sh", "-c", "ulimit -f 512 && exec \"$0\" \"$@\"", PELLORIN_PATH};
    for (const std::string& a : login({list_file("Zbig\n")})) args.push_back(a);
    r = test_support::run_process(args, environment());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Error writing CSV file: File too large"), std::string::npos) << r.out;
    EXPECT_FALSE(exists("zbig.csv"));
    EXPECT_TRUE(no_partial_files());
}

TEST_F(pellorin_unattended, a_closed_pipe_and_passwords_off_the_command_line) {
    tdsemu::emu_options options;
    options.delay_ms = 200;
    start(options);
    // "| head -1": the export goes on after the reader is gone.
    std::string command = "\"$0\" \"$@\" | head -1";
    std::vector<std::string> args = {"/bin/sh", "-c", command, PELLORIN_PATH};
    for (const std::string& a : login({list_file("AllTypes\nOrders\n")})) args.push_back(a);
    process_result r = test_support::run_process(args, environment());
    EXPECT_EQ(r.out, "Converting database E2E(2 tables)\n");
    EXPECT_TRUE(exists("alltypes.csv"));
    EXPECT_EQ(file("orders.csv"), orders);

    // The password is not in /proc/PID/cmdline while the run lasts.
    std::remove(out.file("alltypes.csv").c_str());
    auto run = pellorin_async(login({list_file("AllTypes\nOrders\n")}));
    ASSERT_TRUE(wait_for({".alltypes.csv.partial", "alltypes.csv"}, 0));
    std::string cmdline = read_file("/proc/" + std::to_string(pid.load()) + "/cmdline");
    EXPECT_NE(cmdline.find("--src=E2E"), std::string::npos);
    EXPECT_NE(cmdline.find("--pswd="), std::string::npos);
    EXPECT_EQ(cmdline.find("--pswd=pw"), std::string::npos);
    r = run.get();
    EXPECT_EQ(r.status, 0) << r.out << r.err; // the password was read before it went

    // Without --pswd= the password comes from PELLORIN_PSWD.
    r = pellorin({host, "--user=sa", "--src=E2E", "--dest=" + out.path(), list_file("Orders\n")},
                 {"PELLORIN_PSWD=pw"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    r = pellorin({host, "--user=sa", "--src=E2E", "--dest=" + out.path(), list_file("Orders\n")});
    EXPECT_EQ(r.status, 255);
}
