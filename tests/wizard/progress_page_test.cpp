// The progress page: its arithmetic, and real runs on its worker against the SQL Server emulator
// through unixODBC and FreeTDS, with errors, cancels and the finish page.

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "ODBC/odbc_provider.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "tdsemu/emu_server.hpp"
#include "wizard/dlg_error_continue.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/gui_finish_page.hpp"
#include "wizard/progress_page.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard_test_support.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QWizard>

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace wizard_test;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

namespace {

TEST(progress_arithmetic, finished_tables_and_the_current_tables_share) {
    EXPECT_EQ(progress_percent(3, 1, 200, 50), 41); // 33 + 8
    EXPECT_EQ(progress_percent(3, 0, 0, 0), 0);
    EXPECT_EQ(progress_percent(3, 3, 0, 0), 100);
    EXPECT_EQ(progress_percent(0, 0, 10, 5), 0);
    EXPECT_EQ(progress_percent(1, 0, 7, 7), 100);
    // The bar creeps towards 100 by ever smaller steps without reaching it.
    EXPECT_EQ(progress_creep(0), 0);
    EXPECT_EQ(progress_creep(10), 50);
    int last = 0;
    for (int tick = 1; tick < 2000; ++tick) {
        int position = progress_creep(tick);
        EXPECT_GE(position, last);
        EXPECT_LT(position, 100);
        last = position;
    }
    EXPECT_GT(progress_creep(10) - progress_creep(0), progress_creep(20) - progress_creep(10));
    EXPECT_GT(progress_creep(20) - progress_creep(10), progress_creep(100) - progress_creep(90));
}

TEST(progress_arithmetic, status_texts) {
    drelk_converter converter;
    EXPECT_EQ(progress_of(converter).status, u"");
    converter.tables_in_run = 3;
    converter.tables_done = 1;
    converter.set_current_table(u"Orders");
    EXPECT_EQ(progress_of(converter).status, u"Processing table 'Orders'");
    converter.records_in_table = 200;
    converter.records_converted = 50;
    progress_view view = progress_of(converter);
    EXPECT_EQ(view.percent, 41);
    EXPECT_EQ(view.status, u"Processing table 'Orders' (record 50 of 200)");
    EXPECT_EQ(view.records, u"Record 50 of 200");
    EXPECT_DOUBLE_EQ(view.done, 1.25 / 3);
    converter.set_only_definitions(true);
    EXPECT_EQ(progress_of(converter).status, u"Processing table 'Orders'");
    EXPECT_EQ(progress_of(converter).records, u"");
}

TEST(progress_arithmetic, the_record_line_and_the_time_left) {
    EXPECT_EQ(progress_record_line(12345, 100000), u"Record 12,345 of 100,000");
    EXPECT_EQ(progress_record_line(0, 7), u"Record 0 of 7");
    EXPECT_EQ(progress_record_line(999, 1000), u"Record 999 of 1,000");
    EXPECT_EQ(progress_record_line(1234567, 2147483647), u"Record 1,234,567 of 2,147,483,647");
    EXPECT_EQ(progress_record_line(0, 0), u"");
    EXPECT_EQ(progress_record_line(4321, -1), u"Record 4,321");
    // A quarter in 10 s leaves 30 s; too early or too little done says nothing yet.
    EXPECT_EQ(progress_seconds_left(10000, 0.25), 30);
    EXPECT_EQ(progress_seconds_left(999, 0.5), -1);
    EXPECT_EQ(progress_seconds_left(60000, 0.001), -1);
    EXPECT_EQ(progress_seconds_left(5000, 1.0), 0);
    EXPECT_EQ(progress_time_left(-1), u"Time left: estimating...");
    EXPECT_EQ(progress_time_left(42), u"Time left: 42 s");
    EXPECT_EQ(progress_time_left(65), u"Time left: 1 min 05 s");
    EXPECT_EQ(progress_time_left(3 * 3600 + 7 * 60 + 59), u"Time left: 3 h 07 min");
}

// A run the test holds: it sets the progress fields it is given and ends when released.
struct held_converter : drelk_converter {
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    std::string failure;
    void operator()() override {
        started = true;
        while (!release) usleep(2000);
        if (!failure.empty()) throw std::runtime_error(failure);
    }
};

// The progress and finish pages in a wizard of their own.
struct run_wizard {
    run_wizard() {
        shell.add_page(&progress);
        shell.add_page(&finish);
    }
    QLabel* status() const { return g_find<QLabel>(progress.widget(), progress_page::id_status); }
    QProgressBar* bar() const { return g_find<QProgressBar>(progress.widget(), progress_page::id_bar); }
    QPlainTextEdit* errors() const {
        return g_find<QPlainTextEdit>(finish.widget(), gui_finish_page::id_errors);
    }
    QString message() const { return g_find<QLabel>(finish.widget(), gui_finish_page::id_message)->text(); }
    void click_finish() const { shell.frame()->button(QWizard::FinishButton)->click(); }
    void click_cancel() const { shell.frame()->button(QWizard::CancelButton)->click(); }

    wizard_shell shell{drelk_title(), 501, 311, 312};
    progress_page progress;
    gui_finish_page finish{u"success", u"There were some errors", u"kzt"};
};

struct progress_display_test : ::testing::Test {
    config_home home;
    wizard_error_handler handler;
    held_converter converter;
};

TEST_F(progress_display_test, percentage_status_creep_and_the_switch_to_the_finish_page) {
    run_wizard wizard;
    std::vector<int> creep;
    ui_script script;
    script
        .when([&] { return wizard_on_page(progress_page::dialog) && converter.started; },
              [&] {
                  EXPECT_TRUE(wizard.shell.timer_on());
                  EXPECT_TRUE(wizard.shell.frame()->button(QWizard::CancelButton)->isEnabled());
                  EXPECT_FALSE(wizard.shell.frame()->button(QWizard::NextButton)->isEnabled());
                  converter.tables_in_run = 3;
                  converter.tables_done = 1;
                  converter.set_current_table(u"B_second");
                  converter.records_in_table = 200;
                  converter.records_converted = 50;
              })
        .when([&] { return wizard.bar()->value() == 41; },
              [&] {
                  EXPECT_EQ(wizard.status()->text(), "Processing table 'B_second' (record 50 of 200)");
                  EXPECT_EQ(g_find<QLabel>(wizard.progress.widget(), progress_page::id_records)->text(),
                            "Record 50 of 200");
                  EXPECT_TRUE(g_find<QLabel>(wizard.progress.widget(), progress_page::id_time_left)
                                  ->text()
                                  .startsWith("Time left: "));
                  // Ticks by hand from here, to count them.
                  wizard.shell.stop_timer();
                  converter.tables_done = 3;
                  for (int tick = 0; tick <= 10; ++tick) {
                      wizard.progress.on_timer();
                      creep.push_back(wizard.bar()->value());
                  }
                  EXPECT_EQ(wizard.status()->text(), "Applying format settings");
                  EXPECT_EQ(g_find<QLabel>(wizard.progress.widget(), progress_page::id_records)->text(), "");
                  EXPECT_EQ(g_find<QLabel>(wizard.progress.widget(), progress_page::id_time_left)->text(), "");
                  converter.release = true;
                  while (!converter.finished()) QCoreApplication::processEvents();
                  wizard.progress.on_timer();
              })
        .when([&] { return wizard_on_page(gui_finish_page::dialog); },
              [&] {
                  EXPECT_EQ(wizard.message(), "success");
                  EXPECT_FALSE(wizard.progress.worker_running());
                  wizard.click_finish();
              });
    script.start();
    EXPECT_EQ(wizard.shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
    ASSERT_EQ(creep.size(), 11u);
    EXPECT_EQ(creep[0], 0);
    EXPECT_EQ(creep[10], 50);
    EXPECT_FALSE(wizard.shell.timer_on());
}

TEST_F(progress_display_test, a_failure_outside_the_toolkit_is_shown_and_listed) {
    converter.failure = "std::bad_alloc";
    converter.release = true;
    run_wizard wizard;
    ui_script script;
    script
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->text(), "std::bad_alloc");
                  answer(QMessageBox::Ok);
              })
        .when([&] { return wizard_on_page(gui_finish_page::dialog); },
              [&] {
                  EXPECT_EQ(wizard.message(), "There were some errors");
                  EXPECT_EQ(wizard.errors()->toPlainText(), "std::bad_alloc\n\n");
                  wizard.click_finish();
              });
    script.start();
    EXPECT_EQ(wizard.shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
}

TEST(run_failure_test, listed_on_one_line_and_shown_unless_silenced) {
    config_home home;
    wizard_error_handler handler;
    wizard_shell shell(drelk_title(), 501, 311, 312);
    ui_script script;
    script.when([] { return modal_message_box() != nullptr; },
                [] {
                    EXPECT_EQ(modal_message_box()->text(), "out of\nmemory");
                    answer(QMessageBox::Ok);
                });
    script.start();
    handler.report_failure("out of\nmemory");
    EXPECT_TRUE(script.finished());
    handler.set_silent(true);
    handler.report_failure("No space left on device"); // no box would be answered here
    EXPECT_EQ(shell.errors(), std::vector<std::string>({"out of memory", "No space left on device"}));
}

TEST_F(progress_display_test, cancel_answered_no_lets_the_run_go_on) {
    run_wizard wizard;
    ui_script script;
    script
        .when([&] { return wizard_on_page(progress_page::dialog) && converter.started; },
              [&] { wizard.click_cancel(); })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::No); })
        .when([&] { return wizard_on_page(progress_page::dialog); },
              [&] {
                  EXPECT_FALSE(wizard.progress.cancelling());
                  EXPECT_FALSE(converter.cancel_requested());
                  converter.release = true;
              })
        .when([&] { return wizard_on_page(gui_finish_page::dialog); }, [&] { wizard.click_finish(); });
    script.start();
    EXPECT_EQ(wizard.shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
}

// Files this process holds open below a folder.
int open_files_below(const std::string& folder) {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            char target[4096];
            std::string link = std::string("/proc/self/fd/") + e->d_name;
            ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
            if (len <= 0) continue;
            target[len] = 0;
            if (std::string(target).rfind(folder, 0) == 0) ++n;
        }
        closedir(d);
    }
    return n;
}

// Real runs: the emulator in this process, reached through unixODBC and FreeTDS.
struct emulated_run_test : ::testing::Test {
    void SetUp() override {
        std::string driver = test_support::freetds_driver_path();
        if (driver.empty()) GTEST_SKIP() << "FreeTDS is not installed";
        // unixODBC reads its driver list once per process: ctest runs each test in its own.
        write_file(odbc.file("odbcinst.ini"), "[FreeTDS]\nDriver=" + driver + "\n");
        setenv("ODBCSYSINI", odbc.path().c_str(), 1);
        setenv("ODBCINI", odbc.file("odbc.ini").c_str(), 1);
        odbc_install_provider();
        tdsemu::emu_options options;
        options.logins = {{"sa", "pw"}};
        options.seed_text =
            "CREATE DATABASE Shop;\nGO\nUSE Shop;\nGO\n"
            "CREATE TABLE dbo.A_first (id int NOT NULL, name nvarchar(20) NULL);\n"
            "INSERT INTO dbo.A_first VALUES (1, N'one'), (2, NULL);\n"
            // Row 51 holds a value its column cannot carry: the server fails there.
            "CREATE TABLE dbo.B_second (id int NOT NULL, small tinyint NULL);\n"
            "INSERT INTO dbo.B_second (id, small) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
            "SELECT i + 1 FROM n WHERE i < 200) SELECT i, CASE WHEN i = 51 THEN 300 ELSE 7 END "
            "FROM n;\n"
            "CREATE TABLE dbo.C_third (id int NOT NULL);\n"
            "INSERT INTO dbo.C_third VALUES (10), (20), (30);\n"
            "CREATE TABLE dbo.D_fourth (small tinyint NULL);\n"
            "INSERT INTO dbo.D_fourth VALUES (1), (999);\n"
            "CREATE GENERATED TABLE dbo.E_endless ROWS ENDLESS;\n"
            "CREATE GENERATED TABLE dbo.F_large ROWS 2000000;\n";
        server = std::make_unique<tdsemu::emu_server>(options);
        converter = std::make_unique<drelk_converter>();
        converter->set_host(u"127.0.0.1," + tk_utf8_to_wstring(std::to_string(server->port())));
        converter->set_user(u"sa");
        converter->set_password(u"pw");
        converter->set_source(u"Shop");
        converter->set_dest(tk_utf8_to_wstring(out.path()));
        converter->connect_mssql_server();
    }

    bool exists(const std::string& name) const {
        struct stat st;
        return stat(out.file(name).c_str(), &st) == 0;
    }

    config_home home;
    temp_dir odbc;
    temp_dir out;
    wizard_error_handler handler;
    std::unique_ptr<tdsemu::emu_server> server;
    std::unique_ptr<drelk_converter> converter;
};

TEST_F(emulated_run_test, level_0_errors_continue_silenced_and_listed) {
    // Three tables; the third fails too, after the dialogs were silenced.
    converter->set_selected_names({u"A_first", u"B_second", u"D_fourth"});
    run_wizard wizard;
    QString first_error, status_at_error;
    int bar_at_error = -1;
    ui_script script;
    script
        .when([] { return modal_named("115") != nullptr; },
              [&] {
                  QWidget* dialog = modal_named("115");
                  first_error = g_find<QLabel>(dialog, 1320)->text();
                  // The page goes on showing the run while the worker waits for the answer.
                  QDeadlineTimer limit(5000);
                  while (wizard.bar()->value() != 41 && !limit.hasExpired())
                      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                  bar_at_error = wizard.bar()->value();
                  status_at_error = wizard.status()->text();
                  click_id(dialog, dlg_error_continue::id_dont_show);
                  click_id(dialog, dlg_error_continue::id_continue);
              })
        .when([&] { return wizard_on_page(gui_finish_page::dialog); },
              [&] {
                  EXPECT_EQ(wizard.message(), "There were some errors");
                  EXPECT_TRUE(wizard.errors()->isVisible());
                  QStringList listed = wizard.errors()->toPlainText().split("\n\n", Qt::SkipEmptyParts);
                  ASSERT_EQ(listed.size(), 2);
                  EXPECT_TRUE(listed[0].startsWith("B_second, record #51: ")) << listed[0].toStdString();
                  EXPECT_TRUE(listed[1].startsWith("D_fourth")) << listed[1].toStdString();
                  EXPECT_FALSE(listed[0].contains('\n'));
                  wizard.click_finish();
              });
    script.start();
    EXPECT_EQ(wizard.shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(first_error.startsWith("B_second, record #51: ")) << first_error.toStdString();
    EXPECT_EQ(bar_at_error, 41);
    EXPECT_EQ(status_at_error, "Processing table 'B_second' (record 50 of 200)");
    EXPECT_TRUE(handler.silent());
    EXPECT_EQ(read_file(out.file("a_first.csv")), "id;name\r\n1;one\r\n2;\r\n");
    // The table that ended on its error leaves no half file under its name.
    struct stat st;
    EXPECT_NE(stat(out.file("b_second.csv").c_str(), &st), 0);
    EXPECT_NE(stat(out.file(".b_second.csv.partial").c_str(), &st), 0);
}

TEST_F(emulated_run_test, abort_ends_the_run_and_the_finish_page_lists_why) {
    converter->set_selected_names({u"A_first", u"B_second", u"C_third"});
    run_wizard wizard;
    ui_script script;
    script
        .when([] { return modal_named("115") != nullptr; },
              [] { click_id(modal_named("115"), dlg_error_continue::id_abort); })
        .when([&] { return wizard_on_page(gui_finish_page::dialog); },
              [&] {
                  EXPECT_EQ(wizard.message(), "There were some errors");
                  EXPECT_TRUE(wizard.errors()->toPlainText().startsWith("B_second, record #51: "));
                  wizard.click_finish();
              });
    script.start();
    EXPECT_EQ(wizard.shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(exists("a_first.csv"));
    EXPECT_FALSE(exists("c_third.csv"));
}

TEST_F(emulated_run_test, a_clean_run_shows_the_success_text) {
    converter->set_selected_names({u"A_first", u"C_third"});
    run_wizard wizard;
    ui_script script;
    script.when([&] { return wizard_on_page(gui_finish_page::dialog); },
                [&] {
                    EXPECT_EQ(wizard.message(), "success");
                    EXPECT_FALSE(wizard.errors()->isVisible());
                    wizard.click_finish();
                });
    script.start();
    EXPECT_EQ(wizard.shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(read_file(out.file("c_third.csv")), "id\r\n10\r\n20\r\n30\r\n");
}

// Cancel: the question, then the wizard closes as soon as the worker has ended.
void cancel_when(run_wizard& wizard, ui_script& script, std::function<bool()> ready) {
    script
        .when([&wizard, ready] { return wizard_on_page(progress_page::dialog) && ready(); },
              [&wizard] { wizard.click_cancel(); })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->text(), "Are you sure you want to exit the wizard?");
                  answer(QMessageBox::Yes);
              });
    script.start(60000);
}

TEST_F(emulated_run_test, cancel_during_a_count_the_server_runs_keeps_the_finished_files) {
    converter->set_selected_names({u"A_first", u"E_endless", u"F_large"});
    run_wizard wizard;
    ui_script script;
    cancel_when(wizard, script, [this] { return converter->current_table() == u"E_endless"; });
    EXPECT_EQ(wizard.shell.run(nullptr), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_FALSE(wizard.progress.worker_running());
    EXPECT_TRUE(converter->finished());
    EXPECT_TRUE(wizard.shell.errors().empty()); // a cancel is no error
    EXPECT_EQ(read_file(out.file("a_first.csv")), "id;name\r\n1;one\r\n2;\r\n");
    EXPECT_FALSE(exists("e_endless.csv"));
    EXPECT_FALSE(exists("f_large.csv"));
    EXPECT_EQ(open_files_below(out.path()), 0);
}

TEST_F(emulated_run_test, cancel_while_records_are_written_removes_the_incomplete_file) {
    converter->set_selected_names({u"A_first", u"F_large"});
    run_wizard wizard;
    ui_script script;
    cancel_when(wizard, script, [this] { return converter->records_converted > 1000; });
    EXPECT_EQ(wizard.shell.run(nullptr), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_FALSE(wizard.progress.worker_running());
    EXPECT_TRUE(exists("a_first.csv"));
    EXPECT_FALSE(exists("f_large.csv"));
    EXPECT_EQ(open_files_below(out.path()), 0);
}

} // namespace
