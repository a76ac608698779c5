#include "MSS/mss_engine.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/scripted_server.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace odb_test;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {
std::u16string wide(const std::string& s) {
    return tk_utf8_to_wstring(s);
}

class conversion_run : public ::testing::Test {
protected:
    conversion_run() {
        converter.set_source(u"shop");
        converter.set_dest(wide(out.path()));
        converter.set_host(u"srv");
        converter.set_user(u"sa");
        converter.set_password(u"pw");
        converter.set_console(true);
    }

    // Runs the whole job as the console agent does, capturing both streams.
    void run() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        converter.connect_mssql_server();
        converter.check_dest();
        converter();
        out_text = testing::internal::GetCapturedStdout();
        err_text = testing::internal::GetCapturedStderr();
    }

    std::string file(const std::string& name) const { return read_file(out.file(name)); }
    bool exists(const std::string& name) const {
        struct stat st;
        return stat(out.file(name).c_str(), &st) == 0;
    }

    temp_dir logs;
    temp_dir out;
    tk_log log{logs.file("run.log").c_str(), true, 3, false};
    scripted_server server;
    error_handler handler;
    drelk_converter converter;
    std::string out_text, err_text;
};
} // namespace

TEST_F(conversion_run, every_entry_in_code_unit_order_with_console_lines_trace_and_files) {
    server.add_table(u"dbo", u"Zeta", id_name_rows({u"z1", u"z;2"}));
    server.add_table(u"dbo", u"alpha", id_name_rows({u"a\"1", u"a2", u"\u0416"}));
    server.add_table(u"dbo", u"Orders", id_name_rows({u"from the table"}));
    server.add_query(u"SELECT 2 AS two", text_rows(u"two", {u"2"}));
    server.add_query(u"SELECT 1 AS one", text_rows(u"one", {u"1", u"1"}));
    server.finish();
    converter.set_selected_names({u"alpha", u"Zeta", u"Missing", u"Orders"});
    converter.selection().emplace(u"Orders", u"SELECT 2 AS two"); // named like a table, keeps its text
    converter.selection().emplace(u"Q1", u"SELECT 1 AS one");
    run();

    EXPECT_EQ(out_text, "Converting database shop(5 tables)\n"
                        "Converting table Orders\nConverting table Q1\nConverting table Zeta\n"
                        "Converting table alpha\n");
    EXPECT_EQ(err_text, "Table Missing not exists\n");
    EXPECT_EQ(file("orders.csv"), "two\r\n2\r\n");
    EXPECT_EQ(file("q1.csv"), "one\r\n1\r\n1\r\n");
    EXPECT_EQ(file("zeta.csv"), "id;name\r\n1;z1\r\n2;\"z;2\"\r\n");
    EXPECT_EQ(file("alpha.csv"), "id;name\r\n1;\"a\"\"1\"\r\n2;a2\r\n3;\xD0\x96\r\n");
    EXPECT_FALSE(exists("missing.csv"));
    EXPECT_FALSE(converter.run_failed());
    EXPECT_EQ(converter.tables_in_run.load(), 0);
    EXPECT_EQ(converter.tables_done.load(), 0);
    EXPECT_EQ(converter.records_converted.load(), 3);
    EXPECT_TRUE(converter.finished());

    std::string trace = read_file(logs.file("run.log"));
    EXPECT_NE(trace.find("Conversion started on "), std::string::npos);
    EXPECT_NE(trace.find("\r\nOpening MS SQL database 'shop'\r\nConverting database shop (5 tables)\r\n"
                         "Table Missing not exists\r\nConverting table Orders\r\nConverting table Q1\r\nConverting table Zeta\r\n"
                         "Converting table alpha\r\nConversion ended on "),
              std::string::npos)
        << trace;
}

TEST_F(conversion_run, no_selection_converts_every_table_and_definitions_only_writes_headers) {
    server.add_table(u"dbo", u"b", id_name_rows({u"x"}));
    server.add_table(u"dbo", u"a", id_name_rows({}));
    server.finish();
    converter.set_only_definitions(true);
    run();
    EXPECT_EQ(file("a.csv"), "id;name\r\n");
    EXPECT_EQ(file("b.csv"), "id;name\r\n");
    converter.set_include_fnames(false);
    converter.set_only_definitions(false);
    run();
    EXPECT_EQ(file("a.csv"), ""); // zero rows, no header
    EXPECT_EQ(file("b.csv"), "1;x\r\n");
}

TEST_F(conversion_run, existing_folder_modes) {
    server.add_table(u"dbo", u"Orders", id_name_rows({u"new"}));
    server.finish();
    auto seed = [&] {
        write_file(out.file("orders.csv"), "old");
        write_file(out.file("other.csv"), "other");
        write_file(out.file("notes.txt"), "keep");
    };
    seed();
    converter.set_mode(2);
    run();
    EXPECT_EQ(file("orders.csv"), "old");
    EXPECT_EQ(file("other.csv"), "other");

    converter.set_mode(1);
    run();
    EXPECT_EQ(file("orders.csv"), "id;name\r\n1;new\r\n");
    EXPECT_EQ(file("other.csv"), "other");

    seed();
    converter.set_mode(0);
    run();
    EXPECT_EQ(file("orders.csv"), "id;name\r\n1;new\r\n");
    EXPECT_FALSE(exists("other.csv"));
    EXPECT_EQ(file("notes.txt"), "keep");
}

TEST_F(conversion_run, names_sharing_a_base_name_get_their_own_files) {
    server.add_table(u"dbo", u"dbo.Orders", id_name_rows({u"dot"}));
    server.add_table(u"dbo", u"dbo,Orders", id_name_rows({u"comma"}));
    server.add_query(u"SELECT 3 AS q", text_rows(u"q", {u"3"}));
    server.finish();
    // The query is named like the first table's file; it gets a file of its own.
    converter.set_selected_names({u"dbo.Orders", u"dbo,Orders"});
    converter.selection().emplace(u"dbo_Orders", u"SELECT 3 AS q");
    run();
    std::vector<std::string> contents;
    for (const char* name : {"dbo_orders.csv", "dbo_orders000.csv", "dbo_orders001.csv"})
        contents.push_back(file(name));

    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents,
              (std::vector<std::string>{"id;name\r\n1;comma\r\n", "id;name\r\n1;dot\r\n", "q\r\n3\r\n"}));
}

TEST_F(conversion_run, a_provider_failure_mid_table_is_reported_and_the_next_table_converted) {
    std::vector<std::u16string> names;
    for (int i = 1; i <= 8; ++i) names.push_back(u"n" + number_text(i));
    server.add_table(u"dbo", u"Orders", id_name_rows(names));
    server.add_table(u"dbo", u"Zoo", id_name_rows({u"z"}));
    server.finish();
    converter.set_selected_names({u"Orders", u"Zoo"});
    testing::internal::CaptureStdout();
    converter.connect_mssql_server();
    server.provider.clear_calls();
    converter();
    testing::internal::GetCapturedStdout();
    // Find the fetch of Orders' second batch of five rows in a clean run, then break it.
    std::vector<std::string> calls = server.provider.calls();
    size_t at = std::find(calls.begin(), calls.end(), "OpenRowset [dbo].[Orders]") - calls.begin();
    for (; at + 5 < calls.size(); ++at)
        if (calls[at] == "GetNextRows" && std::all_of(calls.begin() + at + 1, calls.begin() + at + 6,
                                                      [](auto& c) { return c == "GetData"; }))
            break;
    at = std::find(calls.begin() + at + 1, calls.end(), std::string("GetNextRows")) - calls.begin();
    ASSERT_LT(at, calls.size());
    size_t connect_calls = 0;
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i] == "GetNextRows" && i < at) ++connect_calls;
    odb_script_failure broken = failure(E_FAIL, u"Communication link failure", u"08S01");
    broken.after = static_cast<int>(connect_calls);
    broken.once = true;
    server.provider.clear_calls();
    server.provider.fail(odb_script_call::get_next_rows, broken);
    testing::internal::CaptureStdout();
    converter();
    std::string printed = testing::internal::GetCapturedStdout();
    // A lost link is connected again and the table converted again from its start, whole.
    EXPECT_EQ(printed, "Converting database shop(2 tables)\nConverting table Orders\nConverting table Orders\n"
                       "Converting table Zoo\n");
    const std::string whole = "id;name\r\n1;n1\r\n2;n2\r\n3;n3\r\n4;n4\r\n5;n5\r\n6;n6\r\n7;n7\r\n8;n8\r\n";
    EXPECT_EQ(file("orders.csv"), whole);
    EXPECT_FALSE(exists("orders000.csv")); // the same name again
    EXPECT_EQ(file("zoo.csv"), "id;name\r\n1;z\r\n");
    EXPECT_FALSE(converter.run_failed());

    // Any other failure mid-table ends the table with no half file: in mode 1 the earlier file stays.
    broken = failure(E_FAIL, u"General error", u"HY000");
    broken.after = static_cast<int>(connect_calls);
    broken.once = true;
    server.provider.fail(odb_script_call::get_next_rows, broken);
    converter.set_mode(1);
    testing::internal::CaptureStdout();
    converter();
    printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Error:\nOrders, record #6: General error\n"), std::string::npos) << printed;
    EXPECT_EQ(file("orders.csv"), whole);
    EXPECT_FALSE(exists(".orders.csv.partial"));
}

// With jobs, an entry whose link is lost before it named its file keeps its turn to name it: it
// starts again on a connection of its own, and no entry waits for ever.
TEST_F(conversion_run, jobs_connect_again_for_an_entry_lost_before_it_named_its_file) {
    server.add_table(u"dbo", u"Apes", id_name_rows({u"a"}));
    server.add_table(u"dbo", u"Orders", id_name_rows({u"o1", u"o2"}));
    server.add_table(u"dbo", u"Zoo", id_name_rows({u"z"}));
    server.finish();
    converter.set_selected_names({u"Apes", u"Orders", u"Zoo"});
    converter.set_jobs(2);
    testing::internal::CaptureStdout();
    converter.connect_mssql_server();
    odb_script_failure broken = failure(E_FAIL, u"Communication link failure", u"08S01");
    broken.once = true;
    server.provider.fail(odb_script_call::open_rowset, broken);
    converter();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(converter.run_failed()) << printed;
    EXPECT_EQ(file("apes.csv"), "id;name\r\n1;a\r\n");
    EXPECT_EQ(file("orders.csv"), "id;name\r\n1;o1\r\n2;o2\r\n");
    EXPECT_EQ(file("zoo.csv"), "id;name\r\n1;z\r\n");
}

// Records go to the file in batches of whole records: a failure after a hundred of them, some
// already written, leaves exactly those hundred, never part of one.
TEST_F(conversion_run, a_failure_after_a_hundred_batched_records_leaves_whole_records) {
    std::vector<std::u16string> names;
    for (int i = 1; i <= 150; ++i) names.push_back(std::u16string(1000, u'a' + i % 26));
    server.add_table(u"dbo", u"Orders", id_name_rows(names));
    server.finish();
    converter.set_selected_names({u"Orders"});
    testing::internal::CaptureStdout();
    converter.connect_mssql_server();
    server.provider.clear_calls();
    converter();
    testing::internal::GetCapturedStdout();
    std::string whole = file("orders.csv");
    // The fetch of the 21st batch of five rows, counted from the table's first one.
    std::vector<std::string> calls = server.provider.calls();
    size_t at = std::find(calls.begin(), calls.end(), "OpenRowset [dbo].[Orders]") - calls.begin();
    // The table's rows come after its count: the count's own fetch is the last before them.
    at = std::find(calls.begin() + at, calls.end(), "SetCommandText SELECT COUNT(*) FROM [dbo].[Orders]") -
         calls.begin();
    at = std::find(calls.begin() + at, calls.end(), std::string("GetNextRows")) - calls.begin();
    ASSERT_LT(at, calls.size());
    size_t before = 0;
    for (size_t i = 0; i <= at; ++i) before += calls[i] == "GetNextRows";
    odb_script_failure broken = failure(E_FAIL, u"General error", u"HY000");
    broken.after = static_cast<int>(before + 20);
    broken.once = true;
    server.provider.fail(odb_script_call::get_next_rows, broken);
    testing::internal::CaptureStdout();
    converter();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Orders, record #101: General error"), std::string::npos) << printed;
    // Batches already written went to the hidden file only: the earlier whole file stays.
    EXPECT_TRUE(file("orders.csv") == whole);
    EXPECT_FALSE(exists(".orders.csv.partial"));
}

TEST_F(conversion_run, a_table_that_fails_to_open_is_reported_with_its_name) {
    server.add_table(u"dbo", u"Good", id_name_rows({u"g"}));
    server.finish();
    converter.set_selected_names({u"Good"});
    converter.selection().emplace(u"Broken", u"SELECT nothing");
    run();
    EXPECT_NE(out_text.find("Error:\nBroken: Could not run 'SELECT nothing'.\n"), std::string::npos)
        << out_text;
    EXPECT_EQ(file("good.csv"), "id;name\r\n1;g\r\n");
    EXPECT_FALSE(converter.run_failed());
}

TEST_F(conversion_run, a_missing_database_fails_the_whole_job) {
    server.finish();
    server.provider.add_command(u"unused", text_rows(u"", {}));
    testing::internal::CaptureStdout();
    converter.connect_mssql_server();
    server.provider.fail(
        odb_script_call::initialize,
        failure(E_FAIL, u"Cannot open database \"shop\" requested by the login.", u"42000", 4060));
    converter();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(converter.run_failed());
    EXPECT_EQ(printed, "Error:\nCannot open database \"shop\" requested by the login.\n");
}

TEST_F(conversion_run, a_wrong_password_raises_at_connect) {
    server.finish();
    server.provider.fail(odb_script_call::initialize,
                         failure(DB_SEC_E_AUTH_FAILED, u"Login failed for user 'sa'.", u"28000", 18456));
    try {
        converter.connect_mssql_server();
        FAIL();
    } catch (const odb_exception& e) {
        EXPECT_EQ(e.code(), 0x80E4D);
        EXPECT_EQ(e.level(), 0);
    }
}

TEST_F(conversion_run, a_file_that_cannot_be_created_ends_the_console_program) {
    server.add_table(u"dbo", u"Orders", id_name_rows({u"x"}));
    server.finish();
    mkdir(out.file("orders.csv").c_str(), 0755); // a folder where the file should go
    converter.set_mode(1);
    EXPECT_EXIT(
        {
            converter.connect_mssql_server();
            converter();
        },
        testing::ExitedWithCode(255), "");
}

TEST_F(conversion_run, a_destination_naming_a_file_is_refused) {
    write_file(out.file("plain"), "x");
    converter.set_dest(wide(out.file("plain")));
    try {
        converter.check_dest();
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "You should enter path to CSV folder, not a file name");
        EXPECT_EQ(e.level(), 1);
    }
    converter.set_dest(wide(out.file("a/b/c")));
    converter.check_dest();
    struct stat st;
    EXPECT_EQ(stat(out.file("a/b/c").c_str(), &st), 0);
}
