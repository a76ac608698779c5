// The console agent end to end: the real pellorin, unixODBC and FreeTDS against the emulator.

#include "support/test_support.hpp"
#include "tdsemu/emu_server.hpp"

#include <gtest/gtest.h>
#include <chrono>
#include <memory>
#include <sys/stat.h>

using test_support::process_result;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {
std::string ascii_lower(std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return text;
}

class pellorin_e2e : public ::testing::Test {
protected:
    void SetUp() override {
        driver = test_support::freetds_driver_path();
        if (driver.empty()) GTEST_SKIP() << "the FreeTDS ODBC driver is not installed";
        register_driver("FreeTDS");
    }

    // The drivers this run's unixODBC sees: only what the test registers.
    void register_driver(const std::string& name) {
        write_file(home.file("odbcinst.ini"), "[" + name + "]\nDriver=" + driver + "\n");
        write_file(home.file("odbc.ini"), "");
    }

    void start(tdsemu::emu_options options = {}) {
        options.seed_files.push_back(TABLOXA_SOURCE_DIR "/tests/testing/e2e_shop.sql");
        options.logins = {{"sa", "pw"}, {"clerk", "pw"}, {"sa", "\tpw\t"}};
        server = std::make_unique<tdsemu::emu_server>(options);
        host = "--host=127.0.0.1," + std::to_string(server->port());
    }

    process_result pellorin(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), PELLORIN_PATH);
        env.insert(env.end(), {"HOME=" + home.path(), "ODBCSYSINI=" + home.path(),
                               "ODBCINI=" + home.file("odbc.ini"), "LC_ALL=C.UTF-8"});
        return test_support::run_process(args, env);
    }

    // A run as sa into the output folder with field names.
    process_result export_as(const std::string& user, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {host,        "--user=" + user,       "--pswd=pw",
                                         "--src=E2E", "--dest=" + out.path(), "--inc_fnames"};
        args.insert(args.end(), more.begin(), more.end());
        return pellorin(args);
    }

    std::string file(const std::string& name) const { return read_file(out.file(name)); }
    bool exists(const std::string& name) const {
        struct stat st;
        return stat(out.file(name).c_str(), &st) == 0;
    }
    std::string list_file(const std::string& names) {
        write_file(home.file("tables.txt"), names);
        return "--tab_file=" + home.file("tables.txt");
    }

    std::string driver;
    std::string host;
    temp_dir home;
    temp_dir out;
    std::unique_ptr<tdsemu::emu_server> server;
};

const std::string all_types_header =
    "id;i_big;i_small;i_tiny;flag;amount;price;small_price;ratio;ratio4;code;label;ncode;title;long_text;"
    "long_ntext;"
    "old_text;old_ntext;fixed_bin;var_bin;made;made_small;made2;day;at_time;placed;guid;doc;anything\r\n";
} // namespace

TEST_F(pellorin_e2e, every_column_type_arrives_byte_exact) {
    start();
    process_result r = export_as("sa", {list_file("AllTypes\n")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Converting database E2E(1 tables)\nConverting table AllTypes\n");
    EXPECT_EQ(
        file("alltypes.csv"),
        all_types_header +
            "1;-9223372036854775808;-32768;255;1;12345678901234.5678;922337203685477.5807;-214748.3648;"
            "1.000000000000000e-001;2.500000e+000;ab  ;\"semi;colon\";\xD0\x96\xD0\xB6 ;\"quote \"\" and\n"
            "line\";long;\xF0\x9F\x98\x80 beyond the plane;old;\xC3\xB1;0x00FF10AB;0x0102;2005-12-31 "
            "23:59:59;"
            "2005-12-31 23:59:00;0001-01-01;0001-01-01;0000-00-00 23:59:59;"
            "2024-02-29 12:00:00.5000000 +05:30;{6F9619FF-8B86-D011-B42D-00C04FC964FF};<a>1</a>;42\r\n"
            "2;;;;;;;;;;;;;;;;;;;;;;;;;;;;\r\n"
            "3;0;0;0;0;10;12.34;1;3;4.294967e+009;    ;;   ;;;;;;0x00000000;;1900-01-01;1900-01-01;"
            "9999-12-31 23:59:59;9999-12-31;0000-00-00 00:00:00;0001-01-01 00:00:00.0000000 +00:00;"
            "{00000000-0000-0000-0000-000000000000};;text\r\n");
}

TEST_F(pellorin_e2e, long_values_of_30_mb_arrive_whole) {
    tdsemu::emu_options options;
    // 30 MB of bytes and 15 million two-byte characters (30 MB as UTF-16 and as UTF-8).
    options.seed_text =
        "USE E2E;\nCREATE TABLE dbo.Big (id int NOT NULL, bin varbinary(max) NULL, txt nvarchar(max) NULL);\n"
        "INSERT INTO dbo.Big SELECT 1, zeroblob(31457280), replace(hex(zeroblob(15728640)), '00', 'é');\n";
    start(options);
    process_result r = export_as("sa", {list_file("Big\n"), "--n_delim=2"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string bytes = file("big.csv");
    std::string expected_start = "id,bin,txt\r\n1,0x";
    ASSERT_EQ(bytes.size(), expected_start.size() + 2 * 31457280 + 1 + 2 * 15728640 + 2);
    EXPECT_EQ(bytes.compare(0, expected_start.size(), expected_start), 0);
    EXPECT_EQ(bytes.find_first_not_of('0', expected_start.size()), expected_start.size() + 2 * 31457280);
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "\xC3\xA9\r\n");
}

TEST_F(pellorin_e2e, owners_follow_the_login_and_a_profile_can_connect_as_owner) {
    start();
    process_result r = export_as("clerk");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Converting database E2E(1 tables)\nConverting table Notes\n");
    EXPECT_EQ(file("notes.csv"), "NoteID;Body\r\n7;by the clerk\r\n");

    r = export_as("SA", {list_file("Orders\nNotes\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Table Notes not exists\n");
    EXPECT_EQ(file("orders.csv"), "OrderID;Note\r\n1;first\r\n2;\r\n");

    std::string profile = home.file("clerk.kzt");
    write_file(profile,
               "[MS SQL Server settings]\r\nserver=127.0.0.1," + std::to_string(server->port()) +
                   "\r\nlogin=clerk\r\npassword=pw\r\nconnect as DBO=1\r\n"
                   "[Generic settings]\r\nsrc=E2E\r\ndest=" +
                   out.path() +
                   "\r\nmode=0\r\n"
                   "[Selected Tables]\r\nOrders\r\nQ=SELECT OrderID FROM dbo.Orders WHERE OrderID > 1\r\n"
                   "Broken=SELECT 1 AS a; SELECT 2 AS b\r\n");
    r = pellorin({"--host=ignored", "--profile=" + profile, "--n_delim=2"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(file("orders.csv"), "OrderID,Note\r\n1,first\r\n2,\r\n");
    EXPECT_EQ(file("q.csv"), "OrderID\r\n2\r\n");
    // Two statements are refused before anything is sent: reported with the query's name, the rest converted.
    EXPECT_NE(r.out.find("Error:\nBroken: The query is not a single SELECT statement"), std::string::npos) << r.out;
    EXPECT_FALSE(exists("broken.csv"));
}

TEST_F(pellorin_e2e, queries_a_server_cannot_count_are_exported_and_writing_ones_never_run) {
    start();
    std::string profile = home.file("queries.kzt");
    write_file(profile, "[MS SQL Server settings]\r\nserver=127.0.0.1," + std::to_string(server->port()) +
                            "\r\nlogin=sa\r\npassword=pw\r\n[Generic settings]\r\nsrc=E2E\r\ndest=" + out.path() +
                            "\r\n[CSV settings]\r\nInclude field names=0\r\n[Selected Tables]\r\n"
                            "Cte=WITH o AS (SELECT OrderID FROM dbo.Orders) SELECT OrderID FROM o WHERE OrderID = 2\r\n"
                            "Sorted=SELECT OrderID, Note FROM dbo.Orders ORDER BY OrderID DESC\r\n"
                            "Unnamed=SELECT OrderID * 10 FROM dbo.Orders\r\n"
                            "Wipe=DELETE FROM dbo.Orders\r\n"
                            "Copy=SELECT * INTO dbo.Copy FROM dbo.Orders\r\n"
                            "Two=SELECT 1 AS a; DELETE FROM dbo.Orders\r\n");
    process_result r = pellorin({"--profile=" + profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(file("cte.csv"), "2\r\n");
    EXPECT_EQ(file("sorted.csv"), "2;\r\n1;first\r\n");
    EXPECT_EQ(file("unnamed.csv"), "10\r\n20\r\n");
    for (const char* name : {"Wipe", "Copy", "Two"}) {
        EXPECT_NE(r.out.find(std::string("Error:\n") + name +
                             ": The query is not a single SELECT statement (optionally led by WITH, without INTO, "
                             "with nothing after it) and was not sent to the server\n"),
                  std::string::npos)
            << name << "\n" << r.out;
        EXPECT_FALSE(exists(ascii_lower(name) + ".csv")) << name;
    }
    // Nothing of them ran: the table keeps its rows and no copy was made.
    r = export_as("sa", {list_file("Orders\nCopy\n")});
    EXPECT_EQ(file("orders.csv"), "OrderID;Note\r\n1;first\r\n2;\r\n");
    EXPECT_EQ(r.err, "Table Copy not exists\n");
}

TEST_F(pellorin_e2e, failures_of_the_whole_job_end_with_255) {
    start();
    process_result r = export_as("sa");
    r = pellorin({host, "--user=sa", "--pswd=wrong", "--src=E2E", "--dest=" + out.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nLogin failed for user 'sa'.\n");

    // The server's cause comes first, not its "Login failed" summary.
    r = pellorin({host, "--user=sa", "--pswd=pw", "--src=NoSuchBase", "--dest=" + out.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Cannot open database \"NoSuchBase\" requested by the login. The login failed."),
              std::string::npos)
        << r.out;

    // Tabs at the ends of a password are part of it.
    r = pellorin({host, "--user=sa", "--pswd=\tpw\t", "--src=E2E", "--dest=" + out.path(), list_file("Orders\n")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;

    server.reset(); // nothing listens on that port any more
    r = pellorin({host, "--user=sa", "--pswd=pw", "--src=E2E", "--dest=" + out.path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u);
}

TEST_F(pellorin_e2e, a_server_that_never_answers_fails_the_job_within_the_login_timeout) {
    tdsemu::emu_options options;
    options.silent = true;
    start(options);
    auto started = std::chrono::steady_clock::now();
    process_result r = pellorin({host, "--user=sa", "--pswd=pw", "--src=E2E", "--dest=" + out.path()},
                                {"TABLOXA_LOGIN_TIMEOUT=2"});
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << r.out;
    EXPECT_LT(seconds.count(), 12);

    // The profile's key wins over the environment.
    std::string profile = home.file("hung.kzt");
    write_file(profile, "[MS SQL Server settings]\r\nserver=127.0.0.1," + std::to_string(server->port()) +
                            "\r\nlogin=sa\r\npassword=pw\r\nlogin timeout=1\r\n[Generic settings]\r\nsrc=E2E\r\n"
                            "dest=" + out.path() + "\r\n");
    started = std::chrono::steady_clock::now();
    r = pellorin({"--profile=" + profile}, {"TABLOXA_LOGIN_TIMEOUT=0"});
    seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << r.out;
    EXPECT_LT(seconds.count(), 12);

    for (const char* bad : {"soon", "-1", "1e3", "9999999999"}) {
        r = pellorin({host, "--user=sa", "--pswd=pw", "--src=E2E", "--dest=" + out.path()},
                     {std::string("TABLOXA_LOGIN_TIMEOUT=") + bad});
        EXPECT_EQ(r.status, 255) << bad;
        EXPECT_EQ(r.err, "Invalid login timeout\n") << bad;
    }
}

TEST_F(pellorin_e2e, a_row_the_server_cannot_send_is_named_and_the_rows_before_it_arrive) {
    tdsemu::emu_options options;
    // The server stores what it cannot send as tinyint: the seventh row fails in the middle of a batch,
    // the third one in the first batch.
    options.seed_text = "USE E2E;\nCREATE TABLE dbo.Late (k int, small tinyint);\n"
                        "INSERT INTO dbo.Late VALUES (1,1),(2,2),(3,3),(4,4),(5,5),(6,6),(7,300),(8,8);\n"
                        "CREATE TABLE dbo.Early (k int, small tinyint);\n"
                        "INSERT INTO dbo.Early VALUES (1,1),(2,2),(3,300);\n";
    start(options);
    process_result r = export_as("sa", {list_file("Late\nEarly\n")});
    const std::string overflow = ": Arithmetic overflow error converting expression to data type tinyint.\n";
    EXPECT_NE(r.out.find("Late, record #7" + overflow), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Early, record #3" + overflow), std::string::npos) << r.out;
    if (exists("late.csv")) {
        EXPECT_EQ(file("late.csv"), "k;small\r\n1;1\r\n2;2\r\n3;3\r\n4;4\r\n5;5\r\n6;6\r\n");
    }
    if (exists("early.csv")) {
        EXPECT_EQ(file("early.csv"), "k;small\r\n1;1\r\n2;2\r\n");
    }
}

TEST_F(pellorin_e2e, the_largest_reals_print_as_numbers) {
    tdsemu::emu_options options;
    options.seed_text = "USE E2E;\nCREATE TABLE dbo.Reals (k int, r real);\n"
                        "INSERT INTO dbo.Reals VALUES (1, 3.40282347e+38), (2, -3.40282347e+38), (3, 1.17549435e-38);\n";
    start(options);
    process_result r = export_as("sa", {list_file("Reals\n")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(file("reals.csv"), "k;r\r\n1;3.402823e+038\r\n2;-3.402823e+038\r\n3;1.175494e-038\r\n");
}

TEST_F(pellorin_e2e, a_denied_table_is_reported_and_the_run_goes_on) {
    start();
    process_result r = export_as("sa", {list_file("Secret\nOrders\n")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        r.out,
        "Converting database E2E(2 tables)\nConverting table Orders\nError:\n"
        "Secret: The SELECT permission was denied on the object 'Secret', database 'E2E', schema 'dbo'.\n");
    EXPECT_TRUE(exists("orders.csv"));
    EXPECT_FALSE(exists("secret.csv"));
}

TEST_F(pellorin_e2e, existing_folder_modes) {
    start();
    write_file(out.file("Orders.CSV"), "old");
    write_file(out.file("stale.csv"), "stale");
    write_file(out.file("notes.txt"), "keep");
    process_result r = export_as("sa", {list_file("Orders\n"), "--mode=2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(file("Orders.CSV"), "old");
    EXPECT_FALSE(exists("orders.csv"));

    r = export_as("sa", {list_file("Orders\n"), "--mode=1"});
    EXPECT_FALSE(exists("Orders.CSV"));
    EXPECT_EQ(file("orders.csv"), "OrderID;Note\r\n1;first\r\n2;\r\n");
    EXPECT_EQ(file("stale.csv"), "stale");

    r = export_as("sa", {list_file("AllTypes\n"), "--mode=0", "--tab_def"});
    EXPECT_FALSE(exists("orders.csv"));
    EXPECT_FALSE(exists("stale.csv"));
    EXPECT_EQ(file("notes.txt"), "keep");
    EXPECT_EQ(file("alltypes.csv"), all_types_header);
}

TEST_F(pellorin_e2e, a_driver_under_a_native_name_takes_the_native_path) {
    register_driver("ODBC Driver 18 for SQL Server"); // and no generic driver at all
    start();
    // The native path gives Microsoft's "Server=host,port", which FreeTDS sends with a NUL in the
    // server name: the emulator drops that login as real servers do. The generic path would connect.
    process_result r = export_as("sa", {list_file("Orders\n")});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_EQ(r.out, "Error:\nUnable to connect to data source\n");

    // A library that loads but is no ODBC driver is no provider: the next one is tried.
    write_file(home.file("odbcinst.ini"), "[ODBC Driver 18 for SQL Server]\nDriver=libz.so.1"
                                              "\n[FreeTDS]\nDriver=" + driver + "\n");
    r = export_as("sa", {list_file("Orders\n")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(file("orders.csv"), "OrderID;Note\r\n1;first\r\n2;\r\n");

    write_file(home.file("odbcinst.ini"), "");
    r = export_as("sa", {list_file("Orders\n")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out,
              "Error:\nFailed to load an ODBC driver for SQL Server. You should install unixODBC with \"ODBC "
              "Driver 18 for SQL Server\", \"ODBC Driver 17 for SQL Server\" or FreeTDS (Debian: tdsodbc)  "
              "to proceed with the application.  \n");
}
