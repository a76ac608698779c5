// Cancelling a run from another thread, through the real ODBC binding and the emulator program.

#include "ODBC/odbc_provider.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {
int open_descriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// The emulator program as a child, its port read from its first line.
class emulator_child {
public:
    explicit emulator_child(const std::string& seed) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            execl(TABLOXA_BINARY_DIR "/testing/tabloxa-tdsemu", "tabloxa-tdsemu", "--seed", seed.c_str(),
                  "--login", "sa:pw", nullptr);
            _exit(127);
        }
        close(out[1]);
        char line[32] = {};
        ssize_t n = read(out[0], line, sizeof line - 1);
        close(out[0]);
        m_port = n > 0 ? std::atoi(line) : 0;
    }
    ~emulator_child() {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

class cancelled_run : public ::testing::Test {
protected:
    void SetUp() override {
        std::string driver = test_support::freetds_driver_path();
        struct stat st;
        if (driver.empty() || stat(TABLOXA_BINARY_DIR "/testing/tabloxa-tdsemu", &st) != 0)
            GTEST_SKIP() << "FreeTDS or the emulator program is missing";
        // unixODBC reads its driver list once per process: each test runs in a process of its own.
        write_file(home.file("odbcinst.ini"), "[FreeTDS]\nDriver=" + driver + "\n");
        setenv("ODBCSYSINI", home.path().c_str(), 1);
        setenv("ODBCINI", home.file("odbc.ini").c_str(), 1);
        odbc_install_provider();
        write_file(home.file("seed.sql"), "CREATE DATABASE Big;\nGO\nUSE Big;\nGO\n"
                                          "CREATE TABLE dbo.A_small (id int NOT NULL);\n"
                                          "INSERT INTO dbo.A_small VALUES (1), (2);\n"
                                          "CREATE GENERATED TABLE dbo.B_endless ROWS ENDLESS;\n"
                                          "CREATE GENERATED TABLE dbo.C_large ROWS 2000000;\n");
        server = std::make_unique<emulator_child>(home.file("seed.sql"));
        ASSERT_GT(server->port(), 0);
        converter = std::make_unique<drelk_converter>();
        converter->set_host(u"127.0.0.1," + tk_utf8_to_wstring(std::to_string(server->port())));
        converter->set_user(u"sa");
        converter->set_password(u"pw");
        converter->set_source(u"Big");
        converter->set_dest(tk_utf8_to_wstring(out.path()));
        converter->connect_mssql_server();
    }

    // Runs the conversion on a worker and cancels it once `ready` says so; answers the seconds the
    // run took after the cancel.
    double run_and_cancel(const std::function<bool()>& ready) {
        std::thread worker([this] { (*converter)(); });
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!ready() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto cancelled = std::chrono::steady_clock::now();
        converter->request_cancel();
        worker.join();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelled).count();
    }

    bool exists(const std::string& name) const {
        struct stat st;
        return stat(out.file(name).c_str(), &st) == 0;
    }

    temp_dir home;
    temp_dir out;
    std::unique_ptr<emulator_child> server;
    error_handler handler;
    std::unique_ptr<drelk_converter> converter;
};
} // namespace

TEST_F(cancelled_run, a_count_the_server_is_still_running_stops_at_once) {
    converter->set_selected_names({u"A_small", u"B_endless", u"C_large"});
    int descriptors = open_descriptors();
    testing::internal::CaptureStdout();
    double seconds = run_and_cancel([&] { return converter->current_table() == u"B_endless"; });
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_LT(seconds, 10.0);
    EXPECT_EQ(printed, ""); // a cancel is no error
    EXPECT_FALSE(converter->run_failed());
    EXPECT_EQ(read_file(out.file("a_small.csv")), "id\r\n1\r\n2\r\n");
    EXPECT_FALSE(exists("b_endless.csv"));
    EXPECT_FALSE(exists("c_large.csv"));
    EXPECT_TRUE(converter->finished());
    // The connection to the database and the files are closed again.
    EXPECT_LE(open_descriptors(), descriptors);
}

TEST_F(cancelled_run, a_table_being_written_is_removed) {
    converter->set_selected_names({u"A_small", u"C_large"});
    testing::internal::CaptureStdout();
    double seconds = run_and_cancel([&] { return converter->records_converted.load() > 1000; });
    testing::internal::GetCapturedStdout();
    EXPECT_LT(seconds, 10.0);
    EXPECT_TRUE(exists("a_small.csv"));
    EXPECT_FALSE(exists("c_large.csv"));
}
