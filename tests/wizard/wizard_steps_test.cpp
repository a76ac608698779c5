// Steps 1 to 3 of the wizard against the SQL Server emulator, through unixODBC and FreeTDS.

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "MSS/mss_engine.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"
#include "tdsemu/emu_server.hpp"
#include "wizard/connect_page.hpp"
#include "wizard/dlg_error_continue.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/sel_file_page.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/set_query_dlg.hpp"
#include "wizard/sorted_list.hpp"
#include "wizard/wait_dlg.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard/wizard_job.hpp"
#include "wizard_test_support.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QWizard>
#include <QWizardPage>

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace wizard_test;

namespace {

constexpr const char seed[] = "CREATE DATABASE Sales;\nGO\nCREATE DATABASE SalesArchive;\nGO\n"
                              "CREATE DATABASE Inventory;\nGO\nUSE Sales;\nGO\n"
                              "CREATE TABLE dbo.Customers (id int NOT NULL, name nvarchar(40));\n"
                              "CREATE TABLE dbo.orders (id int NOT NULL, customer int);\n"
                              "CREATE TABLE dbo.Products (id int NOT NULL);\n"
                              "CREATE TABLE dbo.Zones_with_a_name_much_longer_than_the_list_is_wide_"
                              "to_make_it_scroll (id int);\n"
                              "INSERT INTO dbo.orders VALUES (1, 1), (2, 1);\n";
const std::u16string long_table = u"Zones_with_a_name_much_longer_than_the_list_is_wide_to_make_it_scroll";

QWidget* frame() {
    return wizard_shell::get().frame();
}
void next() {
    wizard_shell::get().frame()->next();
}
void back() {
    wizard_shell::get().frame()->button(QWizard::BackButton)->click();
}
bool box_says(const QString& text) {
    QMessageBox* box = modal_message_box();
    return box && box->text() == text;
}
template <class T = QLineEdit> T* on(const wizard_page& page, int id) {
    return g_find<T>(page.widget(), id);
}
QStringList items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}
QString selected_text(const sorted_list* list) {
    int row = list->selected_row();
    return row < 0 ? QString() : list->item(row)->text();
}

// The last page of these runs: it only lets the test see that Next went through.
class end_page : public wizard_page {
public:
    end_page() : wizard_page(999, u"End", u"End of the steps", no_help, button_back) {}
};

struct steps_test : ::testing::Test {
    void SetUp() override {
        if (!odbc_use_freetds())
            GTEST_SKIP() << "the FreeTDS ODBC driver is missing, or this process has none";
    }

    void start_server(tdsemu::emu_options options = {}) {
        options.seed_text = seed;
        options.logins = {{"sa", "Tabloxa-1"}};
        server = std::make_unique<tdsemu::emu_server>(options);
        converter.emplace();
        converter->set_host(host());
        converter->set_user(u"sa");
        converter->set_password(u"Tabloxa-1");
        converter->set_windows_auth(false);
    }
    std::u16string host() const { return u"127.0.0.1," + tk_utf8_to_wstring(std::to_string(server->port())); }

    // Runs a wizard of these pages (and an end page) until the script closes it.
    void run(std::vector<wizard_page*> pages, ui_script& script) {
        wizard_shell shell(drelk_title(), 501, 311, 312);
        for (wizard_page* page : pages) shell.add_page(page);
        shell.add_page(&last);
        script.start(90000);
        shell.run(nullptr);
        EXPECT_TRUE(script.finished());
    }
    static void close_wizard() { static_cast<QDialog*>(wizard_shell::get().frame())->done(0); }

    config_home home;
    wizard_error_handler handler;
    std::unique_ptr<tdsemu::emu_server> server;
    std::optional<drelk_converter> converter;
    end_page last;
};

// Step 1.

TEST_F(steps_test, connect_page_failures_keep_the_page_and_what_was_typed) {
    start_server();
    converter->set_password(u"wrong");
    connect_page connect;
    sel_file_page files;
    ui_script script;
    script
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_EQ(on(connect, connect_page::id_host)->text(), g_qstring(host()));
                  EXPECT_EQ(on(connect, connect_page::id_login)->text(), "sa");
                  EXPECT_EQ(on(connect, connect_page::id_password)->echoMode(), QLineEdit::Password);
                  EXPECT_TRUE(on<QRadioButton>(connect, connect_page::id_sql_auth)->isChecked());
                  EXPECT_TRUE(on(connect, connect_page::id_login)->isEnabled());
                  next();
              })
        .when([] { return box_says("Invalid user name or password."); }, [] { answer(QMessageBox::Ok); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_FALSE(connect.task().connected);
                  EXPECT_EQ(on(connect, connect_page::id_password)->text(), "wrong");
                  // A port where nothing listens.
                  on(connect, connect_page::id_host)->setText("127.0.0.1,1");
                  next();
              })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->text(), "MS SQL Server does not exist or access denied.\n"
                                                         "Check to verify the correct host was given.");
                  answer(QMessageBox::Ok);
              })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_EQ(on(connect, connect_page::id_host)->text(), "127.0.0.1,1");
                  EXPECT_EQ(converter->host(), u"127.0.0.1,1");
                  // Windows authentication: no login, no password.
                  on<QRadioButton>(connect, connect_page::id_windows_auth)->click();
                  EXPECT_FALSE(on(connect, connect_page::id_login)->isEnabled());
                  EXPECT_FALSE(on(connect, connect_page::id_password)->isEnabled());
                  on<QRadioButton>(connect, connect_page::id_sql_auth)->click();
                  EXPECT_TRUE(on(connect, connect_page::id_login)->isEnabled());
                  EXPECT_TRUE(on(connect, connect_page::id_password)->isEnabled());
                  on(connect, connect_page::id_host)->setText(g_qstring(host()));
                  on(connect, connect_page::id_password)->setText("Tabloxa-1");
                  on<QCheckBox>(connect, connect_page::id_as_dbo)->setChecked(true);
                  next();
              })
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [&] {
                  EXPECT_TRUE(connect.task().connected);
                  EXPECT_TRUE(converter->engine().is_connected());
                  EXPECT_TRUE(converter->as_dbo());
                  back();
              })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_EQ(on(connect, connect_page::id_host)->text(), g_qstring(host()));
                  EXPECT_EQ(on(connect, connect_page::id_password)->text(), "Tabloxa-1");
                  EXPECT_TRUE(on<QCheckBox>(connect, connect_page::id_as_dbo)->isChecked());
                  // Back stores without connecting.
                  on(connect, connect_page::id_login)->setText("nobody");
                  EXPECT_TRUE(connect.on_back());
                  EXPECT_EQ(converter->user(), u"nobody");
                  close_wizard();
              });
    run({&connect, &files}, script);
}

TEST_F(steps_test, windows_authentication_uses_neither_login_nor_password) {
    start_server();
    converter->set_windows_auth(true);
    connect_page connect;
    ui_script script;
    script
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_TRUE(on<QRadioButton>(connect, connect_page::id_windows_auth)->isChecked());
                  EXPECT_FALSE(on(connect, connect_page::id_login)->isEnabled());
                  EXPECT_FALSE(on(connect, connect_page::id_password)->isEnabled());
                  next();
              })
        // The emulator takes SQL Server logins only: the attempt fails and the page stays.
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::Ok); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_FALSE(connect.task().connected);
                  EXPECT_TRUE(converter->windows_auth());
                  close_wizard();
              });
    run({&connect}, script);
}

TEST_F(steps_test, a_server_that_never_answers_ends_the_attempt_within_the_login_timeout) {
    tdsemu::emu_options options;
    options.silent = true;
    start_server(options);
    converter->set_login_timeout(u"1");
    connect_page connect;
    ui_script script;
    script.when([] { return wizard_on_page(connect_page::dialog); }, [] { next(); })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::Ok); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_FALSE(connect.task().connected);
                  EXPECT_FALSE(converter->engine().is_connected());
                  close_wizard();
              });
    run({&connect}, script);
}

TEST_F(steps_test, the_wait_dialog_animates_while_the_server_is_slow_and_escape_gives_up) {
    tdsemu::emu_options options;
    options.delay_ms = 1500;
    start_server(options);
    connect_page connect;
    int frames_seen = 0;
    QElapsedTimer since_escape;
    ui_script script;
    auto animating = [] {
        auto* dialog = dynamic_cast<wait_dlg*>(QApplication::activeModalWidget());
        return dialog && dialog->frame() > 0;
    };
    script.when([] { return wizard_on_page(connect_page::dialog); }, [] { next(); })
        .when(animating,
              [&] {
                  auto* dialog = dynamic_cast<wait_dlg*>(QApplication::activeModalWidget());
                  frames_seen = dialog->frame();
                  EXPECT_FALSE(g_find<QLabel>(dialog, wait_dlg::id_image)->pixmap().isNull());
                  EXPECT_TRUE(g_find<QPushButton>(dialog, wait_dlg::id_cancel)->isVisible());
                  since_escape.start();
                  QTest::keyClick(dialog, Qt::Key_Escape);
              })
        .when([] { return wizard_on_page(connect_page::dialog) && QApplication::activeModalWidget() == frame(); },
              [&] {
                  // At once, long before the server answers; nothing typed is lost.
                  EXPECT_LT(since_escape.elapsed(), 1000);
                  EXPECT_FALSE(connect.task().connected);
                  EXPECT_EQ(on(connect, connect_page::id_host)->text(), g_qstring(host()));
                  EXPECT_EQ(on(connect, connect_page::id_password)->text(), "Tabloxa-1");
                  // Trying again goes through, whatever the attempt given up still does.
                  next();
              })
        .when([] { return wizard_on_page(999); }, [] { close_wizard(); });
    run({&connect}, script);
    EXPECT_GT(frames_seen, 0);
    EXPECT_TRUE(connect.task().connected);
    for (int waited = 0; wizard_jobs_running() > 0 && waited < 20000; waited += 10) usleep(10000);
    EXPECT_EQ(wizard_jobs_running(), 0);
}

TEST(connect_without_driver, the_error_dialog_abort_closes_the_wait_and_keeps_the_page) {
    if (!odbc_use_no_driver()) GTEST_SKIP() << "this process already has the FreeTDS driver";

    config_home home;
    wizard_error_handler handler;
    drelk_converter converter;
    converter.set_host(u"127.0.0.1,1");
    converter.set_user(u"sa");
    connect_page connect;
    end_page last;
    ui_script script;
    script.when([] { return wizard_on_page(connect_page::dialog); }, [] { next(); })
        .when([] { return modal_named(g_id_name(dlg_error_continue::dialog_id)) != nullptr; },
              [] { click_id(QApplication::activeModalWidget(), dlg_error_continue::id_abort); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [&] {
                  EXPECT_FALSE(connect.task().connected);
                  EXPECT_EQ(on(connect, connect_page::id_host)->text(), "127.0.0.1,1");
                  static_cast<QDialog*>(wizard_shell::get().frame())->done(0);
              });
    wizard_shell shell(drelk_title(), 501, 311, 312);
    shell.add_page(&connect);
    shell.add_page(&last);
    script.start(60000);
    shell.run(nullptr);
    EXPECT_TRUE(script.finished());
}

TEST(wait_dialog, closes_at_once_when_the_attempt_ended_before_it_opened) {
    wait_dlg dialog(500, nullptr);
    dialog.finish();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_LT(clock.elapsed(), 400);
}

// Step 2.

TEST_F(steps_test, database_list_prefix_missing_name_and_the_two_messages) {
    start_server();
    converter->connect_mssql_server();
    converter->set_source(u"sal");
    test_support::temp_dir out;
    sel_file_page files;
    sel_tables_page tables;
    ui_script script;
    script
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [&] {
                  auto* list = on<sorted_list>(files, sel_file_page::id_databases);
                  EXPECT_EQ(items(list), QStringList({"Inventory", "master", "model", "msdb", "Sales",
                                                      "SalesArchive", "tempdb"}));
                  // A prefix of two names: the first of them.
                  EXPECT_EQ(selected_text(list), "Sales");
                  converter->set_source(u"Nowhere");
                  files.page_init();
                  EXPECT_EQ(selected_text(list), "Inventory");
                  converter->set_source(u"SALESA");
                  files.page_init();
                  EXPECT_EQ(selected_text(list), "SalesArchive");
                  // Nothing chosen, no folder: the database comes first.
                  list->clearSelection();
                  on(files, sel_file_page::id_folder)->clear();
                  next();
              })
        .when([] { return box_says("You should enter MSSQL database name"); },
              [] { answer(QMessageBox::Ok); })
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [&] {
                  on<sorted_list>(files, sel_file_page::id_databases)->select_row(4);
                  next();
              })
        .when([] { return box_says("You should enter path to CSV folder"); }, [] { answer(QMessageBox::Ok); })
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [&] {
                  EXPECT_EQ(converter->source(), u"Sales");
                  on(files, sel_file_page::id_folder)->setText(g_qstring(out.path() + "/csv"));
                  on<QRadioButton>(files, sel_file_page::id_comma)->click();
                  on<QCheckBox>(files, sel_file_page::id_include_fnames)->setChecked(false);
                  on<QCheckBox>(files, sel_file_page::id_definitions_only)->setChecked(true);
                  next();
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(converter->source(), u"Sales");
                  EXPECT_EQ(converter->dest(), tk_utf8_to_wstring(out.path() + "/csv"));
                  EXPECT_EQ(converter->delimiter(), 2);
                  EXPECT_FALSE(converter->include_fnames());
                  EXPECT_TRUE(converter->only_definitions());
                  EXPECT_TRUE(tk_is_path_exist(converter->dest()));
                  back();
              })
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [&] {
                  // Rebuilt from the settings.
                  EXPECT_EQ(selected_text(on<sorted_list>(files, sel_file_page::id_databases)), "Sales");
                  EXPECT_TRUE(on<QRadioButton>(files, sel_file_page::id_comma)->isChecked());
                  EXPECT_FALSE(on<QCheckBox>(files, sel_file_page::id_include_fnames)->isChecked());
                  // Back stores too.
                  on<QRadioButton>(files, sel_file_page::id_tab)->click();
                  on(files, sel_file_page::id_folder)->setText("/somewhere/else");
                  files.on_back();
                  EXPECT_EQ(converter->delimiter(), 0);
                  EXPECT_EQ(converter->dest(), u"/somewhere/else");
                  close_wizard();
              });
    run({&files, &tables}, script);
}

TEST_F(steps_test, azure_refuses_the_list_and_the_name_is_typed) {
    tdsemu::emu_options options;
    tdsemu::apply_version_preset(options, "azure");
    options.azure = true;
    options.sp_databases = false;
    start_server(options);
    converter->connect_mssql_server();
    converter->set_source(u"Sal");
    converter->set_dest(u"/tmp");
    sel_file_page files;
    ui_script script;
    script
        .when(
            [] {
                return box_says(
                    "Azure SQL does not allow to list databases.\r\nEnter database name directly.");
            },
            [] { answer(QMessageBox::Ok); })
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [&] {
                  EXPECT_TRUE(files.typed_name());
                  auto* list = on<sorted_list>(files, sel_file_page::id_databases);
                  ASSERT_EQ(list->count(), 1);
                  auto* editor = qobject_cast<QLineEdit*>(list->indexWidget(list->model()->index(0, 0)));
                  ASSERT_NE(editor, nullptr);
                  EXPECT_EQ(editor->text(), "Sal");
                  editor->setText("Sales");
                  files.on_back();
                  EXPECT_EQ(converter->source(), u"Sales");
                  close_wizard();
              });
    run({&files}, script);
}

// Step 3.

struct tables_test : steps_test {
    void SetUp() override {
        steps_test::SetUp();
        if (IsSkipped()) return;
        start_server();
        converter->connect_mssql_server();
        converter->set_source(u"Sales");
    }
    sorted_list* available() { return on<sorted_list>(tables, sel_tables_page::id_available); }
    sorted_list* selected() { return on<sorted_list>(tables, sel_tables_page::id_selected); }
    static set_query_dlg* query_dialog() {
        return dynamic_cast<set_query_dlg*>(QApplication::activeModalWidget());
    }
    static void fill_query(const QString& name, const QString& text) {
        g_find<QLineEdit>(query_dialog(), set_query_dlg::id_name)->setText(name);
        g_find<QPlainTextEdit>(query_dialog(), set_query_dlg::id_text)->setPlainText(text);
    }
    static void click_in_query(int id) { click_id(query_dialog(), id); }
    static bool query_dialog_shows(const QString& name) {
        set_query_dlg* dialog = query_dialog();
        return dialog && dialog->isVisible() &&
               g_find<QLineEdit>(dialog, set_query_dlg::id_name)->text() == name;
    }

    sel_tables_page tables;
};

TEST_F(tables_test, moves_follow_the_selection_rules) {
    ui_script script;
    const QStringList all = {"Customers", "orders", "Products", g_qstring(long_table)};
    script
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(on<QLabel>(tables, sel_tables_page::id_guidance)->text(),
                            "Select MS SQL tables to convert into CSV format.");
                  EXPECT_TRUE(on<QPushButton>(tables, sel_tables_page::id_add_query)->isVisible());
                  EXPECT_EQ(items(available()), all);
                  EXPECT_EQ(selected_text(available()), "Customers");
                  // Scrolls to the widest name.
                  EXPECT_GT(available()->widest(), available()->viewport()->width());
                  EXPECT_GT(available()->horizontalScrollBar()->maximum(), 0);

                  available()->select_row(1);
                  tables.on_add();
                  EXPECT_EQ(items(selected()), QStringList({"orders"}));
                  EXPECT_EQ(selected_text(available()), "Products");
                  // The last item: the new last one is selected.
                  available()->select_row(2);
                  tables.on_add();
                  EXPECT_EQ(selected_text(available()), "Products");
                  // Nothing selected: nothing moves.
                  available()->clearSelection();
                  tables.on_add();
                  EXPECT_EQ(available()->count(), 2);
                  tables.on_add_all();
                  EXPECT_EQ(available()->count(), 0);
                  EXPECT_EQ(items(selected()), all);
                  EXPECT_EQ(selected_text(selected()), "Customers");
                  EXPECT_TRUE(selected()->hasFocus() || !QApplication::focusWidget());

                  selected()->select_row(3);
                  tables.on_delete();
                  EXPECT_EQ(selected_text(selected()), "Products");
                  selected()->select_row(0);
                  tables.on_delete();
                  EXPECT_EQ(selected_text(selected()), "orders");
                  tables.on_del_all();
                  EXPECT_EQ(items(available()), all);
                  EXPECT_EQ(selected()->count(), 0);
                  EXPECT_EQ(selected_text(available()), "Customers");
                  // Emptying the selected list one by one ends in the available list.
                  available()->select_row(0);
                  tables.on_add();
                  selected()->select_row(0);
                  tables.on_delete();
                  EXPECT_EQ(selected_text(available()), "Customers");
                  // An empty selection asks; No stays.
                  next();
              })
        .when([] { return box_says("There are no tables selected. Continue anyway?"); },
              [] {
                  EXPECT_EQ(static_cast<QAbstractButton*>(modal_message_box()->defaultButton()),
                            modal_message_box()->button(QMessageBox::No));
                  answer(QMessageBox::No);
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  // A double click adds.
                  available()->select_row(1);
                  emit available()->itemDoubleClicked(available()->item(1));
                  EXPECT_EQ(items(selected()), QStringList({"orders"}));
                  available()->select_row(0);
                  tables.on_add();
                  next();
              })
        .when([] { return wizard_on_page(999); },
              [&] {
                  EXPECT_EQ(converter->selected_names(),
                            std::vector<std::u16string>({u"Customers", u"orders"}));
                  EXPECT_TRUE(converter->selection().empty());
                  close_wizard();
              });
    run({&tables}, script);
}

TEST_F(tables_test, queries_added_tested_refused_edited_and_kept) {
    ui_script script;
    script
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] { click_id(tables.widget(), sel_tables_page::id_add_query); })
        // The SELECT check and the dialog's messages, in their order.
        .when([] { return query_dialog_shows(""); },
              [] {
                  fill_query("", "SELECT 1");
                  click_in_query(set_query_dlg::id_ok);
              })
        .when([] { return box_says("Table name is empty!"); }, [] { answer(QMessageBox::Ok); })
        .when([] { return query_dialog() && !modal_message_box(); },
              [] {
                  fill_query("Five", "selec");
                  click_in_query(set_query_dlg::id_ok);
              })
        .when([] { return box_says("The query must start with SELECT."); }, [] { answer(QMessageBox::Ok); })
        .when([] { return query_dialog() && !modal_message_box(); },
              [] {
                  fill_query("Five", "");
                  click_in_query(set_query_dlg::id_ok);
              })
        .when([] { return box_says("Query is empty!"); }, [] { answer(QMessageBox::Ok); })
        .when([] { return query_dialog() && !modal_message_box(); },
              [] {
                  fill_query("Five", "SELECT * FROM nowhere");
                  click_in_query(set_query_dlg::id_test);
              })
        .when(
            [] {
                return box_says("You have an error in your query syntax. Make sure that it is a correct SQL "
                                "SELECT-statement. Contact support@example.com if the error persists.");
            },
            [] { answer(QMessageBox::Ok); })
        .when([] { return query_dialog() && !modal_message_box(); },
              [] {
                  // A table's name in another letter case.
                  fill_query("ORDERS", "\n\tselect id FROM orders");
                  click_in_query(set_query_dlg::id_test);
              })
        .when([] { return box_says("The query is correct."); }, [] { answer(QMessageBox::Ok); })
        .when([] { return query_dialog() && !modal_message_box(); },
              [] { click_in_query(set_query_dlg::id_ok); })
        .when([] { return box_says("Duplicate table name. Try again."); }, [] { answer(QMessageBox::Ok); })
        // The dialog is back with what was typed.
        .when([] { return query_dialog_shows("ORDERS"); },
              [] {
                  EXPECT_EQ(g_find<QPlainTextEdit>(query_dialog(), set_query_dlg::id_text)->toPlainText(),
                            "\n\tselect id FROM orders");
                  g_find<QLineEdit>(query_dialog(), set_query_dlg::id_name)->setText("Order ids");
                  click_in_query(set_query_dlg::id_ok);
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(items(selected()), QStringList({"Order ids"}));
                  EXPECT_EQ(tables.selected_queries().at(u"Order ids"), u"\n\tselect id FROM orders");
                  available()->select_row(0);
                  tables.on_add();
                  // Editing: a double click on the query; renaming it like a table is refused too.
                  int row = selected()->find_exact("Order ids");
                  selected()->select_row(row);
                  emit selected()->itemDoubleClicked(selected()->item(row));
              })
        .when([] { return query_dialog_shows("Order ids"); },
              [] {
                  fill_query("customers", "SELECT id FROM orders WHERE id > 1");
                  click_in_query(set_query_dlg::id_ok);
              })
        .when([] { return box_says("Duplicate table name. Try again."); }, [] { answer(QMessageBox::Ok); })
        .when([] { return query_dialog_shows("customers"); },
              [] {
                  fill_query("Late orders", "SELECT id FROM orders WHERE id > 1");
                  click_in_query(set_query_dlg::id_ok);
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(items(selected()), QStringList({"Customers", "Late orders"}));
                  EXPECT_FALSE(tables.selected_queries().contains(u"Order ids"));
                  EXPECT_EQ(tables.selected_queries().at(u"Late orders"),
                            u"SELECT id FROM orders WHERE id > 1");
                  // A double click on a table edits nothing.
                  selected()->select_row(0);
                  tables.on_edit_query();
                  EXPECT_EQ(QApplication::activeModalWidget(), frame());
                  // Removed, the query stays available.
                  selected()->select_row(1);
                  tables.on_delete();
                  EXPECT_EQ(tables.available_queries().at(u"Late orders"),
                            u"SELECT id FROM orders WHERE id > 1");
                  EXPECT_TRUE(tables.selected_queries().empty());
                  EXPECT_GE(available()->find_exact("Late orders"), 0);
                  next();
              })
        .when([] { return wizard_on_page(999); },
              [&] {
                  EXPECT_EQ(converter->selected_names(), std::vector<std::u16string>({u"Customers"}));
                  EXPECT_TRUE(converter->selection().empty());
                  EXPECT_EQ(converter->available_queries().at(u"Late orders"),
                            u"SELECT id FROM orders WHERE id > 1");
                  back();
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  // Rebuilt: the query is back among the available items.
                  EXPECT_GE(available()->find_exact("Late orders"), 0);
                  EXPECT_EQ(tables.available_queries().size(), 1u);
                  close_wizard();
              });
    run({&tables}, script);
}

TEST_F(tables_test, a_stored_selection_is_restored) {
    converter->selection() = {{u"Products", u""}, {u"Big", u"SELECT * FROM orders"}, {u"Gone", u""}};
    converter->available_queries() = {{u"Spare", u"SELECT 1"}};
    ui_script script;
    script
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(items(selected()), QStringList({"Big", "Products"}));
                  EXPECT_EQ(items(available()),
                            QStringList({"Customers", "orders", "Spare", g_qstring(long_table)}));
                  EXPECT_EQ(tables.selected_queries().size(), 1u);
                  // An available query moves like a table, into the selected queries.
                  available()->select_row(available()->find_exact("Spare"));
                  tables.on_add();
                  EXPECT_TRUE(tables.available_queries().empty());
                  EXPECT_EQ(tables.selected_queries().at(u"Spare"), u"SELECT 1");
                  next();
              })
        .when([] { return wizard_on_page(999); },
              [&] {
                  EXPECT_EQ(converter->selected_names(), std::vector<std::u16string>({u"Products"}));
                  EXPECT_EQ(converter->selection().size(), 2u);
                  close_wizard();
              });
    run({&tables}, script);
}

TEST_F(tables_test, a_database_that_cannot_be_opened_keeps_the_page_and_the_stored_selection) {
    converter->set_source(u"Nowhere");
    converter->set_selected_names({u"orders"});
    converter->available_queries() = {{u"Spare", u"SELECT 1"}};
    QString failure;
    ui_script script;
    script
        .when([] { return modal_message_box() != nullptr; },
              [&] {
                  failure = modal_message_box()->text();
                  answer(QMessageBox::Ok);
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(items(available()), QStringList({"Spare"}));
                  next();
              })
        // Next tells again why, and stays.
        .when([] { return modal_message_box() != nullptr; },
              [&] {
                  EXPECT_EQ(modal_message_box()->text(), failure);
                  answer(QMessageBox::Ok);
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); }, [] { close_wizard(); });
    run({&tables}, script);
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_EQ(converter->selected_names(), std::vector<std::u16string>({u"orders"}));
    EXPECT_EQ(converter->available_queries().size(), 1u);
}

TEST(query_check, select_after_blanks_in_any_case) {
    EXPECT_TRUE(set_query_dlg::is_select(u"\nselect 1"));
    EXPECT_TRUE(set_query_dlg::is_select(u" \t\r\nSeLeCt"));
    EXPECT_TRUE(set_query_dlg::is_select(u""));
    EXPECT_FALSE(set_query_dlg::is_select(u"selec"));
    EXPECT_FALSE(set_query_dlg::is_select(u"   "));
    EXPECT_FALSE(set_query_dlg::is_select(u"WITH x AS (SELECT 1) SELECT * FROM x"));
    EXPECT_FALSE(set_query_dlg::is_select(u"\vSELECT 1"));
}

} // namespace
