#include "GUI2/g_gui.hpp"
#include "GUI2/tk_send_bug.hpp"
#include "GUI2/wizard_shell.hpp"
#include "wizard/dlg_error_continue.hpp"
#include "wizard/dlg_error_ex.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard_test_support.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>
#include <thread>

using namespace wizard_test;

namespace {

struct ended {
    int status;
};

// The real handler, with the process's end turned into an exception the test can catch.
struct test_handler : wizard_error_handler {
    [[noreturn]] void end_process(int status) override { throw ended{status}; }
};

tk_exception coded(int level, int code, const char* text = "provider text") {
    tk_exception e(text, level);
    e.set_code(code);
    return e;
}

struct error_handler_test : ::testing::Test {
    test_handler handler;
    wizard_shell shell{drelk_title(), 501, 311, 312};
};

TEST_F(error_handler_test, level_0_asks_continue_and_the_check_box_silences_later_reports) {
    handler.set_context("Orders, record #7");
    ui_script script;
    script.when([] { return modal_named("115") != nullptr; },
                [] {
                    QWidget* dialog = modal_named("115");
                    EXPECT_EQ(dialog->windowTitle(), "Error"); // the shell has not been shown
                    EXPECT_EQ(g_find<QLabel>(dialog, 1320)->text(),
                              "Orders, record #7: Invalid user name or password.");
                    EXPECT_TRUE(g_find<QPushButton>(dialog, dlg_error_continue::id_continue)->isDefault());
                    g_find<QCheckBox>(dialog, dlg_error_continue::id_dont_show)->click();
                    click_id(dialog, dlg_error_continue::id_continue);
                });
    script.start();
    EXPECT_NO_THROW(handler.handle(coded(0, 0x80E4D), false));
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(handler.silent());

    // No dialog any more (one would block here), but the list still grows.
    EXPECT_NO_THROW(handler.handle(coded(0, 12345, "line one\nline two"), false));
    EXPECT_EQ(shell.errors(), std::vector<std::string>({"Orders, record #7: Invalid user name or password.",
                                                        "Orders, record #7: line one line two"}));
}

TEST_F(error_handler_test, level_0_abort_ends_the_run_unless_it_is_already_ending) {
    ui_script script;
    script
        .when([] { return modal_named("115") != nullptr; },
              [] { click_id(modal_named("115"), dlg_error_continue::id_abort); })
        .when([] { return modal_named("115") != nullptr; },
              [] { click_id(modal_named("115"), dlg_error_continue::id_abort); });
    script.start();
    EXPECT_THROW(handler.handle(coded(0, 1), false), tk_final_exception);
    EXPECT_NO_THROW(handler.handle(coded(0, 1), true));
    EXPECT_TRUE(script.finished());
    EXPECT_FALSE(handler.silent());
}

TEST_F(error_handler_test, level_0_from_a_worker_thread_shows_the_dialog_on_the_gui_thread) {
    ui_script script;
    script.when([] { return modal_named("115") != nullptr; },
                [] {
                    EXPECT_EQ(QThread::currentThread(), qApp->thread());
                    click_id(modal_named("115"), dlg_error_continue::id_abort);
                });
    script.start();
    bool final_seen = false;
    bool done = false;
    std::thread worker([&] {
        try {
            handler.handle(coded(0, 1), false);
        } catch (const tk_final_exception&) {
            final_seen = true;
        }
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 20000));
    worker.join();
    EXPECT_TRUE(final_seen);
}

TEST_F(error_handler_test, level_1_shows_the_error_box_and_ends_the_run) {
    ui_script script;
    script.when([] { return modal_message_box() != nullptr; },
                [] {
                    EXPECT_EQ(modal_message_box()->text(),
                              "A literal value overflowed the range of the type of the "
                              "associated column. Contact to support@example.com for "
                              "the solution.");
                    EXPECT_EQ(modal_message_box()->icon(), QMessageBox::Critical);
                    answer(QMessageBox::Ok);
                });
    script.start();
    EXPECT_THROW(handler.handle(coded(1, 0x80E57), false), tk_final_exception);
    EXPECT_TRUE(script.finished());
    // Silent: no box, but the run still ends.
    handler.set_silent(true);
    EXPECT_THROW(handler.handle(coded(1, 2), false), tk_final_exception);
    EXPECT_NO_THROW(handler.handle(coded(1, 2), true));
    EXPECT_EQ(shell.errors().size(), 3u);
}

TEST_F(error_handler_test, an_internal_error_shows_the_error_dialog_and_ends_the_program) {
    ui_script script;
    script.when([] { return modal_named("114") != nullptr; },
                [] {
                    QWidget* dialog = modal_named("114");
                    EXPECT_EQ(g_find<QLabel>(dialog, 1320)->text(),
                              "Internal error: \ncode=746b5f636d646c692e6370705c3139");
                    EXPECT_TRUE(g_find<QPushButton>(dialog, dlg_error_ex::id_send_bug)->isDefault());
                    click_id(dialog, dlg_error_ex::id_ok);
                });
    script.start();
    handler.set_silent(true); // shown even so
    try {
        handler.handle(tk_mail_assertion("tk_cmdli.cpp", 19), false);
        FAIL() << "the program goes on";
    } catch (const ended& e) {
        EXPECT_EQ(e.status, -1);
    }
    EXPECT_TRUE(script.finished());
}

TEST(error_handler_death_test, an_internal_error_ends_the_process_with_minus_one) {
    struct no_dialog : wizard_error_handler {
        void show_internal_error(const std::string&) override {}
    };
    EXPECT_EXIT(
        {
            no_dialog handler;
            handler.handle(tk_mail_assertion("x", 1), false);
        },
        ::testing::ExitedWithCode(255), "");
}

TEST(error_handler_table_test, the_27_provider_messages_replace_the_text_by_code) {
    test_handler handler;
    wizard_shell shell(drelk_title(), 501, 311, 312);
    handler.set_silent(true);
    int rows = 0;
    const tk_error_row* table = tk_provider_messages(&rows);
    ASSERT_EQ(rows, 27);
    for (int i = 0; i < rows; ++i) EXPECT_NO_THROW(handler.handle(coded(0, table[i].code), false));
    std::vector<std::string> errors = shell.errors();
    ASSERT_EQ(errors.size(), 20u);
    EXPECT_EQ(errors[0], "Given values violate the database schema.");
    EXPECT_EQ(errors[1],
              "A literal value could not be converted to the correct type.Contact to support@example.com "
              "for the solution.");
    EXPECT_EQ(errors[2],
              "You are not allowed to access MS SQL database. Ask your system administrator to grant "
              "you necessary privileges.");
}

struct error_dialog_test : ::testing::Test {
    test_support::temp_dir dir;
};

TEST_F(error_dialog_test, continue_dialog_answers_and_remembers_the_check_box) {
    dlg_error_continue dialog("message");
    EXPECT_EQ(dialog.windowTitle(), "Error");
    EXPECT_EQ(g_find<QCheckBox>(&dialog, 1222)->text(), "&Do not show this dialog box again");
    QTimer::singleShot(0, [&] {
        g_find<QCheckBox>(&dialog, 1222)->click();
        g_find<QCheckBox>(&dialog, 1222)->click();
        g_find<QCheckBox>(&dialog, 1222)->click();
        click_id(&dialog, 2);
    });
    EXPECT_EQ(dialog.exec(), 2);
    EXPECT_TRUE(dialog.dont_show());

    dlg_error_continue escaped("message");
    QTimer::singleShot(0, [&] { QTest::keyClick(&escaped, Qt::Key_Escape); });
    EXPECT_EQ(escaped.exec(), 2);
    EXPECT_FALSE(escaped.dont_show());
}

TEST_F(error_dialog_test, copy_to_clipboard_puts_the_message_there) {
    dlg_error_ex dialog("Internal error: \ncode=41");
    QTimer::singleShot(0, [&] { click_id(&dialog, dlg_error_ex::id_copy); });
    EXPECT_EQ(dialog.exec(), 1108);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Internal error: \ncode=41");
}

TEST_F(error_dialog_test, send_bug_hands_a_mail_link_to_the_desktop) {
    url_catcher mail({"mailto"});
    wizard_shell shell(drelk_title(), 501, 311, 312);
    dlg_error_ex dialog("Internal error: \ncode=41 \xc3\xa9&x");
    QTimer::singleShot(0, [&] { click_id(&dialog, dlg_error_ex::id_send_bug); });
    EXPECT_EQ(dialog.exec(), 1112);
    ASSERT_EQ(mail.urls.size(), 1u);
    QUrl url = mail.urls[0];
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), "support@example.com");
    QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Bug report on "); // shell not shown yet
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded),
              QString::fromUtf8("Internal error: \r\ncode=41 \xc3\xa9&x"));
    EXPECT_FALSE(query.queryItemValue("date").isEmpty());
}

TEST(tk_send_bug_test, the_link_carries_subject_body_and_date_text) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 0;
    when.tm_mday = 5;
    when.tm_hour = 9;
    when.tm_min = 7;
    EXPECT_EQ(tk_bug_mail_url("Tabloxa 1.1 ", "a\nb", when),
              "mailto:support@example.com?subject=Bug%20report%20on%20Tabloxa%201.1%20&body=a%0D%0Ab"
              "&date=2026%2F1%2F5%209%3A7");
}

TEST_F(error_dialog_test, without_a_mail_handler_send_bug_still_closes) {
    // The offscreen platform has no desktop services: nothing can take the link.
    dlg_error_ex dialog("message");
    QTimer::singleShot(0, [&] { click_id(&dialog, dlg_error_ex::id_send_bug); });
    EXPECT_EQ(dialog.exec(), 1112);
}

} // namespace
