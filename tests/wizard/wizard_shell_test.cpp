#include "GUI2/g_gui.hpp"
#include "GUI2/hyperlink_label.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "support/test_support.hpp"
#include "wizard/connect_page.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/gui_finish_page.hpp"
#include "wizard/progress_page.hpp"
#include "wizard/sel_file_page.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/welcome_page.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard_test_support.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWizard>
#include <QWizardPage>

#include <gtest/gtest.h>
#include <thread>

using namespace wizard_test;

namespace {

QAbstractButton* wizard_button(QWizard::WizardButton which) {
    return wizard_shell::get().frame()->button(which);
}

bool shown_and_enabled(QWizard::WizardButton which) {
    QAbstractButton* b = wizard_button(which);
    return b->isVisible() && b->isEnabled();
}

void next() {
    wizard_shell::get().frame()->next();
}

struct wizard_shell_test : ::testing::Test {
    config_home home;
    wizard_error_handler handler;
};

TEST_F(wizard_shell_test, captions_and_owner_change_with_the_first_activation) {
    ui_script script;
    {
        // Before the shell exists, and before its first activation: bare captions, no owner.
        script.when([] { return modal_message_box() != nullptr; },
                    [] {
                        EXPECT_EQ(modal_message_box()->windowTitle(), "Error");
                        EXPECT_EQ(modal_message_box()->parentWidget(), nullptr);
                        EXPECT_EQ(modal_message_box()->icon(), QMessageBox::Critical);
                        answer(QMessageBox::Ok);
                    });
        script.start();
        wizard_shell shell(drelk_title(), 501, 311, 312);
        EXPECT_FALSE(wizard_shell::is_initialized());
        wizard_shell::error(u"before");
        EXPECT_TRUE(script.finished());
    }

    ui_script during;
    during
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] {
                  EXPECT_TRUE(wizard_shell::is_initialized());
                  EXPECT_EQ(wizard_shell::get().frame()->windowTitle(), "Tabloxa 1.1 ");
                  EXPECT_FALSE(wizard_shell::get().frame()->windowIcon().isNull());
                  wizard_shell::message(u"hello");
              })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->windowTitle(), "Tabloxa 1.1  Message");
                  EXPECT_EQ(modal_message_box()->parentWidget(), wizard_shell::get().frame());
                  EXPECT_EQ(modal_message_box()->icon(), QMessageBox::Information);
                  answer(QMessageBox::Ok);
              })
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] { EXPECT_TRUE(wizard_shell::question(u"Proceed?")); })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->windowTitle(), "Tabloxa 1.1  Question");
                  EXPECT_EQ(static_cast<QAbstractButton*>(modal_message_box()->defaultButton()),
                            modal_message_box()->button(QMessageBox::Yes));
                  answer(QMessageBox::Yes);
              })
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] { wizard_shell::get().frame()->reject(); })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->text(), "Are you sure you want to exit the wizard?");
                  EXPECT_EQ(static_cast<QAbstractButton*>(modal_message_box()->defaultButton()),
                            modal_message_box()->button(QMessageBox::No));
                  answer(QMessageBox::Yes);
              });
    during.start();
    EXPECT_EQ(drelk_run(""), 0);
    EXPECT_TRUE(during.finished());
}

TEST_F(wizard_shell_test, cancel_answered_no_keeps_the_page_and_its_values) {
    ui_script script;
    script.when([] { return wizard_on_page(welcome_page::dialog); }, [] { next(); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [] {
                  auto* page = wizard_shell::get().frame()->currentPage();
                  EXPECT_EQ(page->title(), "Step 1 of 4");
                  EXPECT_EQ(page->subTitle(), "Connect to MS SQL server");
                  EXPECT_TRUE(shown_and_enabled(QWizard::BackButton));
                  EXPECT_TRUE(shown_and_enabled(QWizard::NextButton));
                  wizard_button(QWizard::CancelButton)->click();
              })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::No); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [] {
                  EXPECT_TRUE(wizard_shell::get().frame()->isVisible());
                  // Escape and the window's close button ask too.
                  QTest::keyClick(wizard_shell::get().frame(), Qt::Key_Escape);
              })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::No); })
        .when([] { return wizard_on_page(connect_page::dialog); },
              [] { wizard_button(QWizard::BackButton)->click(); })
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] {
                  EXPECT_FALSE(wizard_button(QWizard::BackButton)->isEnabled());
                  wizard_button(QWizard::CancelButton)->click();
              })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::Yes); });
    script.start();
    EXPECT_EQ(drelk_run(""), 0);
    EXPECT_TRUE(script.finished());
}

TEST_F(wizard_shell_test, the_steps_carry_their_headers_and_the_finish_page_offers_only_finish) {
    if (!odbc_use_freetds()) GTEST_SKIP() << "the FreeTDS ODBC driver is missing";
    // Steps 1 to 3 reach a server; its database has no table to choose.
    emulated_server server("CREATE DATABASE Empty;\n");
    test_support::temp_dir out;
    home.write_store(server.store_text("Empty", out.path() + "/csv"));
    ui_script script;
    script
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] {
                  EXPECT_TRUE(wizard_shell::get().frame()->currentPage()->title().isEmpty());
                  EXPECT_FALSE(
                      wizard_shell::get().frame()->currentPage()->pixmap(QWizard::WatermarkPixmap).isNull());
                  EXPECT_FALSE(wizard_button(QWizard::BackButton)->isEnabled());
                  next();
              })
        .when([] { return wizard_on_page(connect_page::dialog); }, [] { next(); })
        .when([] { return wizard_on_page(sel_file_page::dialog); },
              [] {
                  EXPECT_EQ(wizard_shell::get().frame()->currentPage()->subTitle(), "Select databases");
                  EXPECT_FALSE(
                      wizard_shell::get().frame()->currentPage()->pixmap(QWizard::LogoPixmap).isNull());
                  next();
              })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [] {
                  EXPECT_EQ(wizard_shell::get().frame()->currentPage()->title(), "Step 3 of 4");
                  EXPECT_EQ(wizard_shell::get().frame()->currentPage()->subTitle(), "Select tables");
                  next();
              })
        .when([] { return wizard_on_page(progress_page::dialog); },
              [] {
                  EXPECT_EQ(wizard_shell::get().frame()->currentPage()->subTitle(),
                            "Database converting is in progress");
                  EXPECT_FALSE(wizard_button(QWizard::BackButton)->isEnabled());
                  EXPECT_FALSE(wizard_button(QWizard::NextButton)->isEnabled());
                  EXPECT_TRUE(shown_and_enabled(QWizard::CancelButton));
                  wizard_shell::get().next_page(); // what the end of the conversion does
              })
        .when([] { return wizard_on_page(gui_finish_page::dialog); },
              [] {
                  EXPECT_TRUE(shown_and_enabled(QWizard::FinishButton));
                  EXPECT_FALSE(wizard_button(QWizard::BackButton)->isVisible());
                  EXPECT_FALSE(wizard_button(QWizard::NextButton)->isVisible());
                  EXPECT_FALSE(wizard_button(QWizard::CancelButton)->isEnabled());
                  EXPECT_FALSE(wizard_button(QWizard::HelpButton)->isEnabled());
                  QWidget* page = wizard_shell::get().frame()->currentPage();
                  EXPECT_EQ(g_find<QLabel>(page, gui_finish_page::id_title)->text(),
                            "Conversion is Completed");
                  EXPECT_TRUE(
                      g_find<QLabel>(page, gui_finish_page::id_message)
                          ->text()
                          .startsWith(
                              "Wizard has converted your MSSQL database into\nCSV format successfully."));
                  EXPECT_FALSE(g_find<QPlainTextEdit>(page, gui_finish_page::id_errors)->isVisible());
                  wizard_button(QWizard::FinishButton)->click();
              });
    script.start();
    // Finish, like Cancel, is a good end for the shell.
    EXPECT_EQ(drelk_run(""), 0);
    EXPECT_TRUE(script.finished());
}

TEST_F(wizard_shell_test, the_finish_page_lists_the_run_errors_on_one_line_each) {
    if (!odbc_use_freetds()) GTEST_SKIP() << "the FreeTDS ODBC driver is missing";
    // Steps 1 to 3 reach a server; its database has no table to choose.
    emulated_server server("CREATE DATABASE Empty;\n");
    test_support::temp_dir out;
    home.write_store(server.store_text("Empty", out.path() + "/csv"));
    ui_script script;
    script
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] {
                  wizard_shell::get().add_error("first\nerror");
                  wizard_shell::get().add_error("second");
                  for (int i = 0; i < 4; ++i) next();
              })
        .when([] { return wizard_on_page(progress_page::dialog); }, [] { wizard_shell::get().next_page(); })
        .when([] { return wizard_on_page(gui_finish_page::dialog); },
              [] {
                  QWidget* page = wizard_shell::get().frame()->currentPage();
                  EXPECT_EQ(
                      g_find<QLabel>(page, gui_finish_page::id_message)->text(),
                      "There were some errors while converting the database.\nClick 'Finish' to exit the "
                      "wizard.");
                  auto* edit = g_find<QPlainTextEdit>(page, gui_finish_page::id_errors);
                  EXPECT_TRUE(edit->isVisible());
                  EXPECT_TRUE(edit->isReadOnly());
                  EXPECT_EQ(edit->toPlainText(), "first error\n\nsecond\n\n");
                  QFocusEvent focus_in(QEvent::FocusIn, Qt::TabFocusReason);
                  QApplication::sendEvent(edit, &focus_in);
              })
        .when(
            [] { return wizard_shell::get().frame()->focusWidget() == wizard_button(QWizard::FinishButton); },
            [] { wizard_button(QWizard::FinishButton)->click(); });
    script.start();
    // Finish, like Cancel, is a good end for the shell.
    EXPECT_EQ(drelk_run(""), 0);
    EXPECT_TRUE(script.finished());
}

TEST_F(wizard_shell_test, help_goes_to_the_topic_of_the_current_page) {
    if (!odbc_use_freetds()) GTEST_SKIP() << "the FreeTDS ODBC driver is missing";
    // Steps 1 to 3 reach a server; its database has no table to choose.
    emulated_server server("CREATE DATABASE Empty;\n");
    test_support::temp_dir out;
    home.write_store(server.store_text("Empty", out.path() + "/csv"));
    test_support::temp_dir manual;
    test_support::write_file(manual.file("drelk.html"), "<html></html>");
    url_catcher browser({"file"});
    ui_script script;
    auto help_then_next = [](bool f1) {
        return [f1] {
            if (f1)
                QTest::keyClick(wizard_shell::get().frame(), Qt::Key_F1);
            else
                wizard_button(QWizard::HelpButton)->click();
            next();
        };
    };
    std::string manual_path = manual.file("drelk.html");
    script
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [manual_path, help_then_next] {
                  wizard_shell::get().set_help_file(manual_path);
                  help_then_next(true)();
              })
        .when([] { return wizard_on_page(connect_page::dialog); }, help_then_next(false))
        .when([] { return wizard_on_page(sel_file_page::dialog); }, help_then_next(true))
        .when([] { return wizard_on_page(sel_tables_page::dialog); }, help_then_next(false))
        .when([] { return wizard_on_page(progress_page::dialog); },
              [] {
                  wizard_button(QWizard::HelpButton)->click();
                  wizard_shell::get().next_page();
              })
        .when([] { return wizard_on_page(gui_finish_page::dialog); },
              [] {
                  QTest::keyClick(wizard_shell::get().frame(), Qt::Key_F1); // Help is disabled here
                  wizard_button(QWizard::FinishButton)->click();
              });
    script.start();
    drelk_run("");
    ASSERT_TRUE(script.finished());
    std::vector<QString> fragments;
    for (const QUrl& url : browser.urls) {
        EXPECT_EQ(url.toLocalFile().toStdString(), manual_path);
        fragments.push_back(url.fragment());
    }
    EXPECT_EQ(fragments, std::vector<QString>({"topic1012", "topic1010", "topic1013", "topic1014", ""}));
}

TEST_F(wizard_shell_test, a_missing_manual_is_reported_and_the_wizard_goes_on) {
    url_catcher browser({"file"});
    ui_script script;
    script
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] {
                  wizard_shell::get().set_help_file("/nonexistent/drelk.html");
                  wizard_button(QWizard::HelpButton)->click();
              })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->text(), "Help file does not exist. Reinstall the program.");
                  answer(QMessageBox::Ok);
              })
        .when([] { return wizard_on_page(welcome_page::dialog); },
              [] { wizard_shell::get().frame()->reject(); })
        .when([] { return modal_message_box() != nullptr; }, [] { answer(QMessageBox::Yes); });
    script.start();
    drelk_run("");
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(browser.urls.empty());
}

// A page that counts the shell's timer ticks and has a check box.
struct ticking_page : wizard_page {
    ticking_page() : wizard_page(900, u"Step", u"Ticks", 1, button_next) {}
    int ticks = 0;
    void on_timer() override { ++ticks; }
    void create_controls(QWizardPage* page) override { g_set_id(new QCheckBox("box", page), 1202); }
};

TEST_F(wizard_shell_test, the_timer_forwards_ticks_to_the_page_and_starts_once) {
    ticking_page page;
    wizard_shell shell(drelk_title(), 501, 311, 312);
    shell.add_page(&page);
    bool second_start_refused = false;
    ui_script script;
    script
        .when([&] { return shell.shown(); },
              [&] {
                  // The conversion starts the timer from its worker thread.
                  std::thread worker([&] { shell.start_timer(20); });
                  while (!shell.timer_on()) QCoreApplication::processEvents();
                  worker.join();
                  try {
                      shell.start_timer(20);
                  } catch (const tk_mail_assertion&) {
                      second_start_refused = true;
                  }
              })
        .when([&] { return page.ticks >= 3; },
              [&] {
                  shell.stop_timer();
                  EXPECT_TRUE(page.invert_chbox(1202));
                  EXPECT_FALSE(page.invert_chbox(1202));
                  EXPECT_THROW(page.invert_chbox(1999), tk_mail_assertion);
                  shell.frame()->accept();
              });
    script.start();
    EXPECT_EQ(shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(second_start_refused);
    EXPECT_FALSE(shell.timer_on());
}

TEST_F(wizard_shell_test, a_second_shell_and_a_page_without_shell_are_internal_errors) {
    ticking_page page;
    EXPECT_THROW(page.activate(), tk_mail_assertion);
    wizard_shell shell(drelk_title(), 501, 311, 312);
    EXPECT_THROW(wizard_shell(u"again", 501, 311, 312), tk_mail_assertion);
    EXPECT_EQ(wizard_shell::instance(), &shell);
}

TEST_F(wizard_shell_test, the_error_list_holds_twenty_messages) {
    wizard_shell shell(drelk_title(), 501, 311, 312);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(shell.add_error("e" + std::to_string(i)), i < 20);
    ASSERT_EQ(shell.errors().size(), 20u);
    EXPECT_EQ(shell.errors().back(), "e19");
}

TEST(hyperlink_label_test, a_click_opens_the_target_and_marks_it_visited) {
    url_catcher browser({"https"});
    hyperlink_label link("Quorvane", welcome_page::maker_site);
    link.show();
    EXPECT_EQ(link.foregroundRole(), QPalette::Link);
    EXPECT_TRUE(link.font().underline());
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(&link, Qt::LeftButton);
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].toString(), "https://www.example.com/");
    EXPECT_TRUE(link.visited());
    EXPECT_EQ(link.foregroundRole(), QPalette::LinkVisited);
}

} // namespace

namespace {
TEST(hyperlink_label_test, the_link_is_drawn_in_the_link_colour_on_a_white_wizard_page) {
    QWizard wizard;
    wizard.setWizardStyle(QWizard::ModernStyle);
    auto* page = new QWizardPage;
    auto* link = new hyperlink_label("Quorvane", welcome_page::maker_site, page);
    wizard.addPage(page);
    wizard.show();
    QImage picture = link->grab().toImage();
    QColor expected = link->palette().color(QPalette::Link);
    int link_pixels = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixelColor(x, y) == expected) ++link_pixels;
    EXPECT_GT(link_pixels, 10);
}
} // namespace

namespace {
// A page whose initialisation fails, as the database page does when the server refuses to list.
struct failing_page : wizard_page {
    failing_page() : wizard_page(901, u"Step", u"Fails", 1, button_next) {}
    bool page_init() override { throw tk_exception("Azure SQL does not allow to list databases.", 0); }
};

TEST(wizard_shell_failure_test, a_failure_inside_a_page_ends_the_wizard_and_reaches_the_caller) {
    failing_page page;
    wizard_shell shell(drelk_title(), 501, 311, 312);
    shell.add_page(&page);
    try {
        shell.run(nullptr);
        FAIL() << "the wizard went on";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message(), "Azure SQL does not allow to list databases.");
    }
    EXPECT_FALSE(shell.frame()->isVisible());
}

TEST(wizard_shell_failure_test, a_page_destroyed_before_the_shell_leaves_it) {
    wizard_shell shell(drelk_title(), 501, 311, 312);
    {
        failing_page page;
        shell.add_page(&page);
    }
    EXPECT_TRUE(shell.pages().empty());
}
} // namespace

namespace {
// Pages that refuse: to be left backwards, or to be shown at all.
struct plain_page : wizard_page {
    plain_page(int id, int buttons) : wizard_page(id, u"Step", u"Plain", 1, buttons) {}
    bool allow_back = true;
    bool allow_show = true;
    int activations = 0;
    bool page_init() override {
        ++activations;
        return allow_show;
    }
    bool on_back() override { return allow_back; }
};

TEST(wizard_shell_navigation_test, back_asks_the_page_and_a_refusing_page_is_skipped) {
    plain_page first(910, wizard_page::button_next),
        second(911, wizard_page::button_back | wizard_page::button_next),
        hidden(912, wizard_page::button_back | wizard_page::button_next),
        last(913, wizard_page::button_finish);
    hidden.allow_show = false;
    second.allow_back = false;
    wizard_shell shell(drelk_title(), 501, 311, 312);
    for (wizard_page* page : {static_cast<wizard_page*>(&first), static_cast<wizard_page*>(&second),
                              static_cast<wizard_page*>(&hidden), static_cast<wizard_page*>(&last)})
        shell.add_page(page);
    auto on = [&shell](int id) {
        return [&shell, id] { return shell.shown() && shell.current_page()->dialog_id() == id; };
    };
    ui_script script;
    script.when(on(910), [&] { shell.frame()->next(); })
        .when(on(911),
              [&] {
                  shell.frame()->button(QWizard::BackButton)->click(); // refused: stays
                  EXPECT_EQ(shell.current_page(), &second);
                  second.allow_back = true;
                  shell.frame()->button(QWizard::BackButton)->click();
              })
        .when(on(910), [&] { shell.frame()->next(); })
        .when(on(911), [&] { shell.frame()->next(); })
        .when(on(913), [&] { shell.frame()->button(QWizard::FinishButton)->click(); });
    script.start();
    EXPECT_EQ(shell.run(nullptr), 1);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(first.activations, 2);
    EXPECT_EQ(second.activations, 2);
    EXPECT_EQ(hidden.activations, 1);
}
} // namespace
