// "&Save Settings" of the finish page.

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/gui_finish_page.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard_test_support.hpp"

#include <QFileDialog>
#include <QLineEdit>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace wizard_test;
using test_support::read_file;
using test_support::temp_dir;

namespace {

struct finish_page_test : ::testing::Test {
    finish_page_test() {
        converter.set_source(u"Shop");
        converter.set_dest(u"/data/out");
        converter.set_password(u"secret");
    }
    // Saves through the page's button, answering its file dialog with `name`.
    void save_as(const std::string& name) {
        ui_script script;
        script.when([] { return modal_named("save_profile") != nullptr; },
                    [name] {
                        auto* dialog = static_cast<QFileDialog*>(modal_named("save_profile"));
                        EXPECT_EQ(dialog->windowTitle(), "Select Profile File");
                        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(name));
                        static_cast<QDialog*>(dialog)->accept();
                    });
        script.start();
        page.on_save_settings();
        EXPECT_TRUE(script.finished());
    }
    static int mode_of(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
    }

    config_home home;
    wizard_error_handler handler;
    drelk_converter converter;
    wizard_shell shell{drelk_title(), 501, 311, 312};
    gui_finish_page page{u"success", u"errors", u"kzt"};
    temp_dir dir;
};

TEST_F(finish_page_test, the_extension_is_added_only_when_missing_and_only_the_owner_may_read) {
    save_as(dir.file("run"));
    ASSERT_EQ(mode_of(dir.file("run.kzt")), 0600);
    EXPECT_NE(read_file(dir.file("run.kzt")).find("Shop"), std::string::npos);
    save_as(dir.file("other.kzt"));
    EXPECT_EQ(mode_of(dir.file("other.kzt")), 0600);
    EXPECT_EQ(mode_of(dir.file("other.kzt.kzt")), -1);

    // A profile read by everybody before is no longer after it was saved over.
    test_support::write_file(dir.file("old.kzt"), "");
    chmod(dir.file("old.kzt").c_str(), 0644);
    EXPECT_TRUE(page.save_settings(tk_utf8_to_wstring(dir.file("old"))));
    EXPECT_EQ(mode_of(dir.file("old.kzt")), 0600);

    // What was saved loads back into the settings.
    converter.set_source(u"Other");
    ASSERT_TRUE(converter.load_profile(tk_utf8_to_wstring(dir.file("run.kzt"))));
    EXPECT_EQ(converter.source(), u"Shop");
    EXPECT_EQ(converter.dest(), u"/data/out");
}

TEST_F(finish_page_test, a_profile_that_cannot_be_written_is_reported) {
    ui_script script;
    std::string missing = dir.file("gone/run");
    script
        .when([] { return modal_named("save_profile") != nullptr; },
              [missing] {
                  auto* dialog = static_cast<QFileDialog*>(modal_named("save_profile"));
                  // Typed into the name box: the folder does not exist.
                  dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(missing));
                  static_cast<QDialog*>(dialog)->accept();
              })
        .when([] { return modal_message_box() != nullptr; },
              [missing] {
                  EXPECT_EQ(modal_message_box()->text().toStdString(),
                            "Failed to save the profile " + missing + ".kzt");
                  answer(QMessageBox::Ok);
              });
    script.start();
    page.on_save_settings();
    EXPECT_TRUE(script.finished());
}

} // namespace
