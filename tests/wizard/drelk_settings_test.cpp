#include "GUI2/wizard_shell.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/drelk_settings.hpp"
#include "wizard/welcome_page.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard_test_support.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QWizard>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace wizard_test;
using test_support::read_file;
using test_support::write_file;

namespace {

std::string store_text(const std::string& host, int delimiter) {
    return "[Software\\Quorvane\\Tabloxa]\nblob2text=dword:1\ndest=sz:/data/out\nhost=sz:" + host +
           "\ninc_fnames=dword:0\nn_comma=dword:" + std::to_string(delimiter) +
           "\npswd=sz:secret\nsrc=sz:Sales\nuser=sz:sa\n";
}

TEST(drelk_settings_test, load_sets_defaults_then_reads_every_value) {
    config_home home;
    {
        drelk_converter converter;
        converter.set_delimiter(0);
        converter.set_include_fnames(false);
        converter.set_blob_to_text(true);
        drelk_settings settings(converter); // no store yet: the defaults
        EXPECT_EQ(converter.delimiter(), 1);
        EXPECT_TRUE(converter.include_fnames());
        EXPECT_FALSE(converter.blob_to_text());
        EXPECT_EQ(converter.host(), u"");
    }
    home.write_store(store_text("db1", 2));
    drelk_converter converter;
    drelk_settings settings(converter);
    EXPECT_TRUE(converter.blob_to_text());
    EXPECT_EQ(converter.dest(), u"/data/out");
    EXPECT_EQ(converter.host(), u"db1");
    EXPECT_FALSE(converter.include_fnames());
    EXPECT_EQ(converter.delimiter(), 2);
    EXPECT_EQ(converter.password(), u"secret");
    EXPECT_EQ(converter.source(), u"Sales");
    EXPECT_EQ(converter.user(), u"sa");
}

TEST(drelk_settings_test, a_delimiter_code_outside_the_table_counts_as_missing) {
    config_home home;
    for (int code : {3, 7, -1}) {
        std::string text = store_text("h", 0);
        text.replace(text.find("n_comma=dword:0"), 15,
                     "n_comma=dword:" + std::to_string(static_cast<unsigned>(code)));
        home.write_store(text);
        drelk_converter converter;
        converter.set_delimiter(0);
        drelk_settings settings(converter);
        EXPECT_EQ(converter.delimiter(), 1) << code;
        EXPECT_EQ(converter.host(), u"h");
    }
}

TEST(drelk_settings_test, store_writes_what_the_converter_holds_in_order_owner_only) {
    config_home home;
    {
        drelk_converter converter;
        drelk_settings settings(converter);
        converter.set_host(u"srv\u00e9");
        converter.set_user(u"u");
        converter.set_password(u"p=w\\d");
        converter.set_source(u"db");
        converter.set_dest(u"");
        converter.set_delimiter(0);
        converter.set_include_fnames(false);
    }
    EXPECT_EQ(read_file(home.store_file()), "# Tabloxa settings, written by the program.\n"
                                            "[Software\\Quorvane\\Tabloxa]\n"
                                            "blob2text=dword:0\n"
                                            "dest=sz:\n"
                                            "host=sz:srv\xc3\xa9\n"
                                            "inc_fnames=dword:0\n"
                                            "n_comma=dword:0\n"
                                            "pswd=sz:p=w\\\\d\n"
                                            "src=sz:db\n"
                                            "user=sz:u\n");
    struct stat st;
    ASSERT_EQ(stat(home.store_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // The folder is private too.
    ASSERT_EQ(stat((home.dir().path() + "/Quorvane").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// The program from the converter on, cancelled on its first page.
struct drelk_run_test : ::testing::Test {
    config_home home;
    wizard_error_handler handler;

    // Runs the wizard, calls `check` on the welcome page, then cancels with Yes.
    int run_and_cancel(const std::string& command_line, std::function<void()> check) {
        ui_script script;
        script
            .when([] { return wizard_on_page(welcome_page::dialog); },
                  [check] {
                      check();
                      wizard_shell::get().frame()->reject();
                  })
            .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::Yes); });
        script.start();
        int result = drelk_run(command_line);
        EXPECT_TRUE(script.finished());
        return result;
    }
};

TEST_F(drelk_run_test, first_start_shows_defaults_and_creates_the_store_at_the_end) {
    bool checked = false;
    int result = run_and_cancel("", [&] {
        drelk_converter& c = drelk_converter::get();
        EXPECT_TRUE(c.include_fnames());
        EXPECT_EQ(c.delimiter(), 1);
        EXPECT_FALSE(c.blob_to_text());
        EXPECT_EQ(c.host(), u"");
        struct stat st;
        EXPECT_NE(stat(home.store_file().c_str(), &st), 0) << "nothing is written before the end";
        checked = true;
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(drelk_converter::instance(), nullptr);
    EXPECT_EQ(wizard_shell::instance(), nullptr);
    struct stat st;
    ASSERT_EQ(stat(home.store_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string text = read_file(home.store_file());
    EXPECT_NE(text.find("inc_fnames=dword:1\nn_comma=dword:1\n"), std::string::npos) << text;
}

TEST_F(drelk_run_test, the_next_start_loads_what_the_last_one_stored) {
    run_and_cancel("", [] {
        drelk_converter::get().set_host(u"remembered");
        drelk_converter::get().set_delimiter(2);
    });
    bool checked = false;
    run_and_cancel("", [&] {
        EXPECT_EQ(drelk_converter::get().host(), u"remembered");
        EXPECT_EQ(drelk_converter::get().delimiter(), 2);
        checked = true;
    });
    EXPECT_TRUE(checked);
}

TEST_F(drelk_run_test, a_profile_on_the_command_line_is_loaded_and_stored_even_on_cancel) {
    std::string profile = home.dir().file("my settings.kzt"); // a blank in the path
    write_file(profile, "[CSV settings]\r\nCSV delimiter=0\r\nInclude field names=0\r\n\r\n"
                        "[Generic settings]\r\ndest=/exports\r\nsrc=Northwind\r\n\r\n"
                        "[MS SQL Server settings]\r\nlogin=reader\r\npassword=pw\r\nserver=db.example\r\n");
    bool checked = false;
    run_and_cancel(profile, [&] {
        EXPECT_EQ(drelk_converter::get().host(), u"db.example");
        checked = true;
    });
    EXPECT_TRUE(checked);
    std::string text = read_file(home.store_file());
    for (const char* line : {"dest=sz:/exports\n", "host=sz:db.example\n", "inc_fnames=dword:0\n",
                             "n_comma=dword:0\n", "pswd=sz:pw\n", "src=sz:Northwind\n", "user=sz:reader\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

TEST_F(drelk_run_test, load_settings_on_the_welcome_page_uses_the_profile_dialog) {
    std::string profile = home.dir().file("p.kzt");
    write_file(profile, "[MS SQL Server settings]\r\nserver=from-dialog\r\n");
    ui_script script;
    script
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] { click_id(wizard_shell::get().frame(), welcome_page::id_load_settings); })
        .when([] { return modal_named("load_profile") != nullptr; },
              [profile] {
                  auto* dialog = static_cast<QFileDialog*>(modal_named("load_profile"));
                  EXPECT_EQ(dialog->windowTitle(), "Select Profile File");
                  EXPECT_EQ(dialog->nameFilters(),
                            QStringList({"Profile Files (.kzt) (*.kzt)", "All Files (*.*) (*)"}));
                  EXPECT_TRUE(dialog->testOption(QFileDialog::HideNameFilterDetails));
                  EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
                  // What the user types into the name field.
                  dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(profile));
                  static_cast<QDialog*>(dialog)->accept();
              })
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] {
                  EXPECT_EQ(drelk_converter::get().host(), u"from-dialog");
                  wizard_shell::get().frame()->reject();
              })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::Yes); });
    script.start();
    drelk_run("");
    EXPECT_TRUE(script.finished());
    EXPECT_NE(read_file(home.store_file()).find("host=sz:from-dialog\n"), std::string::npos);
}

TEST_F(drelk_run_test, a_missing_profile_on_the_command_line_is_reported_and_ends_the_program) {
    ui_script script;
    script.when([] { return modal_message_box() != nullptr; },
                [] {
                    EXPECT_EQ(modal_message_box()->windowTitle(), "Error");
                    EXPECT_EQ(modal_message_box()->text(),
                              "Profile does not exist. Please verify the correct path/name was given.");
                    answer(QMessageBox::Ok);
                });
    script.start();
    EXPECT_EQ(drelk_run(home.dir().file("missing.kzt")), -1);
    EXPECT_TRUE(script.finished());
    // The settings are still stored on the way out.
    struct stat st;
    EXPECT_EQ(stat(home.store_file().c_str(), &st), 0);
}

} // namespace
