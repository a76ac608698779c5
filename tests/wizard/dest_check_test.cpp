// The destination checks of the database-and-folder page and the folder browser.

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/dest_check.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/overwrite_dlg2.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard_test_support.hpp"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace wizard_test;
using test_support::temp_dir;
using test_support::write_file;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool is_folder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct dest_check_test : ::testing::Test {
    dest_check_test() {
        converter.set_mode(1);
        write_file(out.file("orders.csv"), "id\r\n1\r\n");
        write_file(out.file("Items.CSV"), "x\r\n");
        write_file(out.file("notes.txt"), "kept");
    }
    bool check(const std::string& dest) {
        converter.set_dest(tk_utf8_to_wstring(dest));
        return dest_check_on_next(shell, converter, nullptr);
    }
    // Answers the existing-folder dialog with a radio (or Cancel when id is 0).
    void answer_dialog(int radio) {
        script.when([] { return modal_named("107") != nullptr; },
                    [this, radio] {
                        QWidget* dialog = modal_named("107");
                        shown_text = g_find<QLabel>(dialog, overwrite_dlg2::id_text)->text();
                        shown_caption = dialog->windowTitle();
                        preselected =
                            g_find<QRadioButton>(dialog, overwrite_dlg2::id_overwrite_all)->isChecked();
                        if (radio == 0) {
                            click_id(dialog, overwrite_dlg2::id_cancel);
                            return;
                        }
                        click_id(dialog, radio);
                        click_id(dialog, overwrite_dlg2::id_ok);
                    });
        script.start();
    }

    config_home home;
    wizard_error_handler handler;
    drelk_converter converter;
    wizard_shell shell{drelk_title(), 501, 311, 312};
    temp_dir out;
    ui_script script;
    QString shown_text, shown_caption;
    bool preselected = false;
};

TEST_F(dest_check_test, an_existing_folder_preselects_overwrite_and_cancel_keeps_everything) {
    temp_dir manual;
    write_file(manual.file("drelk.html"), "<html></html>");
    shell.set_help_file(manual.file("drelk.html"));
    url_catcher browser({"file"});
    script.when([] { return modal_named("107") != nullptr; },
                [] { click_id(modal_named("107"), overwrite_dlg2::id_help); });
    answer_dialog(0);
    EXPECT_FALSE(check(out.path()));
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].fragment(), "topic1016");
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(preselected);
    EXPECT_EQ(shown_caption, "Warning"); // no wizard shown yet
    EXPECT_EQ(shown_text, "The destination folder already exists. Select one of the\noptions below. Click "
                          "'Help' button for more information.");
    EXPECT_EQ(converter.mode(), 1);
    EXPECT_TRUE(exists(out.file("orders.csv")));
    EXPECT_TRUE(exists(out.file("Items.CSV")));
}

TEST_F(dest_check_test, overwrite_the_entire_folder_deletes_its_csv_files_at_once) {
    answer_dialog(overwrite_dlg2::id_overwrite_all);
    EXPECT_TRUE(check(out.path()));
    EXPECT_EQ(converter.mode(), 0);
    EXPECT_FALSE(exists(out.file("orders.csv")));
    EXPECT_FALSE(exists(out.file("Items.CSV")));
    EXPECT_TRUE(exists(out.file("notes.txt")));
}

TEST_F(dest_check_test, the_other_modes_are_stored_and_keep_the_files) {
    answer_dialog(overwrite_dlg2::id_skip_existing);
    EXPECT_TRUE(check(out.path()));
    EXPECT_EQ(converter.mode(), 2);
    ui_script second;
    second.when([] { return modal_named("107") != nullptr; },
                [] {
                    click_id(modal_named("107"), overwrite_dlg2::id_overwrite_files);
                    click_id(modal_named("107"), overwrite_dlg2::id_ok);
                });
    second.start();
    EXPECT_TRUE(check(out.path()));
    EXPECT_EQ(converter.mode(), 1);
    EXPECT_TRUE(exists(out.file("orders.csv")));
    EXPECT_TRUE(exists(out.file("Items.CSV")));
}

TEST_F(dest_check_test, a_file_name_is_refused_and_a_failed_creation_is_shown) {
    std::vector<QString> texts;
    script
        .when([] { return modal_message_box() != nullptr; },
              [&] {
                  texts.push_back(modal_message_box()->text());
                  answer(QMessageBox::Ok);
              })
        .when([] { return modal_message_box() != nullptr; },
              [&] {
                  texts.push_back(modal_message_box()->text());
                  answer(QMessageBox::Ok);
              });
    script.start();
    EXPECT_FALSE(check(out.file("notes.txt")));
    // A folder below a file cannot be made.
    EXPECT_FALSE(check(out.file("notes.txt/sub")));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "You should enter path to CSV folder, not a file name");
    EXPECT_FALSE(texts[1].isEmpty());
    EXPECT_EQ(converter.mode(), 1);
}

TEST_F(dest_check_test, missing_parent_folders_are_created_and_the_mode_stays) {
    EXPECT_TRUE(check(out.file("one/two/three")));
    EXPECT_TRUE(is_folder(out.file("one/two/three")));
    EXPECT_EQ(converter.mode(), 1);
}

TEST_F(dest_check_test, the_browser_opens_on_the_stored_folder_and_fills_the_edit) {
    temp_dir chosen;
    QLineEdit edit("typed since");
    QString title, start;
    script.when([] { return modal_named("dest_browse") != nullptr; },
                [&] {
                    auto* dialog = static_cast<QFileDialog*>(modal_named("dest_browse"));
                    title = dialog->windowTitle();
                    start = dialog->directory().absolutePath();
                    dialog->setDirectory(QString::fromStdString(chosen.path()));
                    static_cast<QDialog*>(dialog)->accept();
                });
    script.start();
    dest_browse(nullptr, &edit, tk_utf8_to_wstring(out.path()));
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(title, "Select CSV files folder");
    EXPECT_EQ(start, QDir(QString::fromStdString(out.path())).absolutePath());
    EXPECT_EQ(edit.text().toStdString(), chosen.path());

    // Cancelled: nothing changes. Without a stored folder it opens on the current one.
    ui_script cancel;
    cancel.when([] { return modal_named("dest_browse") != nullptr; },
                [&] {
                    auto* dialog = static_cast<QFileDialog*>(modal_named("dest_browse"));
                    start = dialog->directory().absolutePath();
                    dialog->reject();
                });
    cancel.start();
    dest_browse(nullptr, &edit, {});
    EXPECT_TRUE(cancel.finished());
    EXPECT_EQ(start, QDir::current().absolutePath());
    EXPECT_EQ(edit.text().toStdString(), chosen.path());
}

} // namespace
