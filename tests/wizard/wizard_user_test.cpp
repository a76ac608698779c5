// The wizard as a desktop user meets it: waits that can be given up, the keys people expect,
// layouts that hold at a larger font, and the program's end with a worker still blocked.

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "MSS/mss_engine.hpp"
#include "TK/tk_utils.hpp"
#include "common/drelk_converter.hpp"
#include "support/test_support.hpp"
#include "tdsemu/emu_server.hpp"
#include "wizard/connect_page.hpp"
#include "wizard/drelk_art.hpp"
#include "wizard/drelk_entry.hpp"
#include "wizard/gui_finish_page.hpp"
#include "wizard/overwrite_dlg2.hpp"
#include "wizard/sel_file_page.hpp"
#include "wizard/sel_tables_page.hpp"
#include "wizard/set_query_dlg.hpp"
#include "wizard/sorted_list.hpp"
#include "wizard/wait_dlg.hpp"
#include "wizard/welcome_page.hpp"
#include "wizard/wizard_error_handler.hpp"
#include "wizard/wizard_job.hpp"
#include "wizard_test_support.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWizard>
#include <QWizardPage>

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace wizard_test;

namespace {

constexpr const char seed[] = "CREATE DATABASE Sales;\nGO\nUSE Sales;\nGO\n"
                              "CREATE TABLE dbo.Customers (id int NOT NULL, name nvarchar(40));\n"
                              "CREATE TABLE dbo.orders (id int NOT NULL, customer int);\n"
                              "CREATE TABLE dbo.Products (id int NOT NULL);\n"
                              "INSERT INTO dbo.orders VALUES (1, 1), (2, 1);\n";

// A host that takes the connection and never says a word, as a hung server does.
class silent_listener {
public:
    silent_listener() {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(m_fd, 8) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("silent_listener: no socket");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd ready{m_fd, POLLIN, 0};
                if (poll(&ready, 1, 20) <= 0) continue;
                int client = accept(m_fd, nullptr, nullptr);
                std::lock_guard<std::mutex> guard(m_lock);
                if (client >= 0) m_clients.push_back(client);
            }
        });
    }
    ~silent_listener() { hang_up(); }

    std::u16string host() const { return u"127.0.0.1," + tk_utf8_to_wstring(std::to_string(m_port)); }
    int clients() {
        std::lock_guard<std::mutex> guard(m_lock);
        return static_cast<int>(m_clients.size());
    }
    // Closes every connection: a login blocked on one of them fails now.
    void hang_up() {
        if (m_stop.exchange(true)) return;
        m_thread.join();
        for (int client : m_clients) close(client);
        close(m_fd);
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<int> m_clients;
};

QWidget* frame() {
    return wizard_shell::get().frame();
}
QAbstractButton* wizard_button(QWizard::WizardButton which) {
    return wizard_shell::get().frame()->button(which);
}
void close_wizard() {
    static_cast<QDialog*>(wizard_shell::get().frame())->done(0);
}
template <class T = QLineEdit> T* on(const wizard_page& page, int id) {
    return g_find<T>(page.widget(), id);
}
wait_dlg* waiting() {
    auto* dialog = dynamic_cast<wait_dlg*>(QApplication::activeModalWidget());
    return dialog && dialog->isVisible() ? dialog : nullptr;
}
QString waiting_text() {
    wait_dlg* dialog = waiting();
    return dialog ? g_find<QLabel>(dialog, wait_dlg::id_text)->text() : QString();
}
// A widget lies wholly inside the visible part of `area`.
bool inside(QWidget* widget, QWidget* area) {
    QRect box(widget->mapTo(area, QPoint(0, 0)), widget->size());
    return widget->isVisible() && area->rect().contains(box);
}
// Waits for abandoned workers, so that none outlives the converter of the test.
bool workers_ended(int ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (wizard_jobs_running() > 0 && clock.elapsed() < ms) usleep(10000);
    return wizard_jobs_running() == 0;
}

// The last page of these runs: it only lets the test see that Next went through.
class end_page : public wizard_page {
public:
    end_page() : wizard_page(999, u"End", u"End of the steps", no_help, button_back) {}
};

struct user_test : ::testing::Test {
    void SetUp() override {
        if (!odbc_use_freetds())
            GTEST_SKIP() << "the FreeTDS ODBC driver is missing, or this process has none";
    }
    void TearDown() override { EXPECT_TRUE(workers_ended()); }

    void start_server(tdsemu::emu_options options = {}) {
        options.seed_text = seed;
        server = std::make_unique<tdsemu::emu_server>(options);
        converter.emplace();
        converter->set_host(host());
        converter->set_user(u"sa");
        converter->set_password(u"Tabloxa-1");
        converter->set_windows_auth(false);
        converter->set_source(u"Sales");
    }
    std::u16string host() const { return u"127.0.0.1," + tk_utf8_to_wstring(std::to_string(server->port())); }

    // Runs a wizard of these pages (and an end page) until the script closes it.
    int run(std::vector<wizard_page*> pages, ui_script& script) {
        wizard_shell shell(drelk_title(), 501, 311, 312);
        for (wizard_page* page : pages) shell.add_page(page);
        shell.add_page(&last);
        script.start(90000);
        int result = shell.run(nullptr);
        EXPECT_TRUE(script.finished());
        return result;
    }

    config_home home;
    wizard_error_handler handler;
    std::unique_ptr<tdsemu::emu_server> server;
    std::optional<drelk_converter> converter;
    end_page last;
};

// Waits that can be given up.

TEST_F(user_test, cancel_leaves_a_silent_host_at_once_and_its_late_failure_is_never_shown) {
    start_server();
    silent_listener silent;
    converter->set_host(silent.host());
    connect_page connect;
    QElapsedTimer since_cancel;
    ui_script script;
    script.when([] { return wizard_on_page(connect_page::dialog); }, [] { wizard_shell::get().frame()->next(); })
        .when([&] { return waiting() && silent.clients() > 0; },
              [&] {
                  EXPECT_EQ(waiting_text(), "Connecting to MS SQL server. Please wait...");
                  since_cancel.start();
                  click_id(waiting(), wait_dlg::id_cancel);
              })
        .when([] { return wizard_on_page(connect_page::dialog) && QApplication::activeModalWidget() == frame(); },
              [&] {
                  EXPECT_LT(since_cancel.elapsed(), 1000);
                  EXPECT_EQ(on(connect, connect_page::id_host)->text(), g_qstring(silent.host()));
                  EXPECT_EQ(on(connect, connect_page::id_password)->text(), "Tabloxa-1");
                  EXPECT_FALSE(converter->engine().is_connected());
                  // The worker is still blocked in the driver; the window is not.
                  EXPECT_EQ(wizard_jobs_running(), 1);
                  silent.hang_up();
              })
        // Its failure comes now, to nobody.
        .when([] { return wizard_jobs_running() == 0; },
              [&] {
                  EXPECT_EQ(modal_message_box(), nullptr);
                  EXPECT_FALSE(connect.task().connected);
                  EXPECT_FALSE(converter->engine().is_connected());
                  on(connect, connect_page::id_host)->setText(g_qstring(host()));
                  wizard_shell::get().frame()->next();
              })
        .when([] { return wizard_on_page(999); },
              [&] {
                  EXPECT_TRUE(connect.task().connected);
                  EXPECT_EQ(converter->engine().host(), host());
                  close_wizard();
              });
    run({&connect}, script);
}

TEST_F(user_test, test_query_waits_on_a_worker_and_cancel_gives_it_up) {
    tdsemu::emu_options options;
    options.delay_ms = 1500;
    start_server(options);
    converter->connect_mssql_server();
    sel_tables_page tables;
    auto query_dialog = [] { return dynamic_cast<set_query_dlg*>(QApplication::activeModalWidget()); };
    int frames_seen = 0;
    QElapsedTimer since_cancel;
    ui_script script;
    script
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] { click_id(tables.widget(), sel_tables_page::id_add_query); })
        .when([&] { return query_dialog() != nullptr; },
              [&] {
                  g_find<QLineEdit>(query_dialog(), set_query_dlg::id_name)->setText("Ids");
                  g_find<QPlainTextEdit>(query_dialog(), set_query_dlg::id_text)->setPlainText("SELECT id FROM orders");
                  click_id(query_dialog(), set_query_dlg::id_test);
              })
        // The window lives on while the server thinks: the animation runs.
        .when([] { return waiting() && waiting()->frame() > 1; },
              [&] {
                  EXPECT_EQ(waiting_text(), "Testing the query. Please wait...");
                  frames_seen = waiting()->frame();
                  since_cancel.start();
                  click_id(waiting(), wait_dlg::id_cancel);
              })
        .when([&] { return query_dialog() != nullptr; },
              [&] {
                  EXPECT_LT(since_cancel.elapsed(), 1000);
                  EXPECT_EQ(modal_message_box(), nullptr);
                  EXPECT_EQ(g_find<QLineEdit>(query_dialog(), set_query_dlg::id_name)->text(), "Ids");
                  // Asked again and waited for, the answer comes.
                  click_id(query_dialog(), set_query_dlg::id_test);
              })
        .when([] { return modal_message_box() != nullptr; },
              [] {
                  EXPECT_EQ(modal_message_box()->text(), "The query is correct.");
                  answer(QMessageBox::Ok);
              })
        .when([&] { return query_dialog() != nullptr && !modal_message_box(); },
              [&] { click_id(query_dialog(), set_query_dlg::id_cancel); })
        .when([] { return wizard_on_page(sel_tables_page::dialog) && QApplication::activeModalWidget() == frame(); },
              [] { close_wizard(); });
    run({&tables}, script);
    EXPECT_GT(frames_seen, 1);
}

TEST(wizard_job_test, the_end_of_a_job_reaches_the_window_and_a_failure_comes_with_it) {
    struct failing : wizard_job {
        void run() override { throw std::runtime_error("no luck"); }
    };
    auto job = std::make_shared<failing>();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(wizard_job_wait(job, "Working", nullptr));
    // Told at once, not on the next animation tick.
    EXPECT_LT(clock.elapsed(), 400);
    ASSERT_TRUE(job->failure());
    EXPECT_THROW(std::rethrow_exception(job->failure()), std::runtime_error);
    EXPECT_TRUE(workers_ended());
}

// A worker that blocks until the test lets it go.
struct blocked_job : wizard_job {
    std::mutex lock;
    std::condition_variable wake;
    bool released = false;
    std::atomic<bool> told_to_stop{false};
    void run() override {
        std::unique_lock<std::mutex> guard(lock);
        wake.wait(guard, [this] { return released; });
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock);
        released = true;
        wake.notify_all();
    }

protected:
    void on_abandon() override { told_to_stop = true; }
};

TEST(wizard_job_test, a_blocked_worker_neither_holds_up_nor_breaks_the_end_of_the_program) {
    // In a process of its own: a worker that never comes back.
    EXPECT_EXIT(
        {
            auto job = std::make_shared<blocked_job>();
            wizard_job_start(job);
            job.reset();
            drelk_end(0);
            std::abort();
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(wizard_job_test, escape_abandons_the_job_and_it_ends_later_on_its_own) {
    auto job = std::make_shared<blocked_job>();
    QTimer::singleShot(300, [] {
        if (waiting()) QTest::keyClick(waiting(), Qt::Key_Escape);
    });
    EXPECT_FALSE(wizard_job_wait(job, "Working", nullptr));
    EXPECT_TRUE(job->abandoned());
    EXPECT_TRUE(job->told_to_stop);
    EXPECT_EQ(wizard_jobs_running(), 1);
    job->release();
    EXPECT_TRUE(workers_ended());
    EXPECT_TRUE(job->ended());
}

// Keys.

TEST_F(user_test, return_presses_next_and_finish_and_escape_on_the_finish_page_finishes) {
    converter.emplace();
    welcome_page welcome(u"kzt");
    gui_finish_page finish(u"success", u"errors", u"kzt");
    for (bool escape : {false, true}) {
        ui_script script;
        script
            .when([] { return wizard_on_page(welcome_page::dialog); },
                  [&] {
                      auto* load = on<QPushButton>(welcome, welcome_page::id_load_settings);
                      load->setFocus();
                      QTest::keyClick(load, Qt::Key_Return);
                  })
            .when([] { return wizard_on_page(gui_finish_page::dialog); },
                  [&, escape] {
                      EXPECT_FALSE(wizard_button(QWizard::CancelButton)->isEnabled());
                      auto* save = on<QPushButton>(finish, gui_finish_page::id_save_settings);
                      save->setFocus();
                      QTest::keyClick(save, escape ? Qt::Key_Escape : Qt::Key_Return);
                  });
        wizard_shell shell(drelk_title(), 501, 311, 312);
        shell.add_page(&welcome);
        shell.add_page(&finish);
        script.start(30000);
        // No file dialog and no question on the way: Finish closed the wizard.
        EXPECT_EQ(shell.run(nullptr), QDialog::Accepted) << (escape ? "Escape" : "Return");
        EXPECT_TRUE(script.finished());
    }
}

TEST_F(user_test, the_connect_page_tabs_from_the_server_to_the_chosen_authentication) {
    start_server();
    connect_page connect;
    std::vector<int> order;
    auto walk = [&order] {
        order.clear();
        for (int i = 0; i < 5; ++i) {
            QWidget* focus = frame()->focusWidget();
            order.push_back(focus ? focus->objectName().toInt() : 0);
            QTest::keyClick(focus ? focus : frame(), Qt::Key_Tab);
        }
    };
    ui_script script;
    script.when([] { return wizard_on_page(connect_page::dialog) && frame()->focusWidget(); },
                [&] {
                    walk();
                    EXPECT_EQ(order, std::vector<int>({connect_page::id_host, connect_page::id_sql_auth,
                                                       connect_page::id_login, connect_page::id_password,
                                                       connect_page::id_as_dbo}));
                    // Windows authentication chosen: Tab reaches it, and the disabled login not.
                    on<QRadioButton>(connect, connect_page::id_windows_auth)->click();
                    on(connect, connect_page::id_host)->setFocus();
                    walk();
                    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 3),
                              std::vector<int>({connect_page::id_host, connect_page::id_windows_auth,
                                                connect_page::id_as_dbo}));
                    close_wizard();
                });
    run({&connect}, script);
}

TEST_F(user_test, f1_opens_the_help_of_the_add_query_and_existing_folder_dialogs) {
    wizard_shell shell(drelk_title(), 501, 311, 312);
    test_support::temp_dir manual;
    test_support::write_file(manual.file("drelk.html"), "<html></html>");
    shell.set_help_file(manual.file("drelk.html"));
    url_catcher browser({"file"});
    {
        set_query_dlg dialog(u"", u"", nullptr);
        dialog.show();
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(g_find<QLineEdit>(&dialog, set_query_dlg::id_name), Qt::Key_F1);
    }
    {
        overwrite_dlg2 dialog(1016, u"The destination folder already exists.", nullptr);
        dialog.show();
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClick(&dialog, Qt::Key_F1);
    }
    ASSERT_EQ(browser.urls.size(), 2u);
    EXPECT_EQ(browser.urls[0].fragment(), "topic1025");
    EXPECT_EQ(browser.urls[1].fragment(), "topic1016");
}

// Back and Next again.

TEST_F(user_test, back_from_step_3_and_next_again_keeps_its_tables_and_queries) {
    start_server();
    converter->connect_mssql_server();
    converter->available_queries() = {{u"Spare", u"SELECT 1"}};
    sel_file_page files;
    sel_tables_page tables;
    auto list = [&](int id) {
        QStringList out;
        auto* widget = on<sorted_list>(tables, id);
        for (int i = 0; i < widget->count(); ++i) out << widget->item(i)->text();
        return out;
    };
    test_support::temp_dir out;
    converter->set_dest(tk_utf8_to_wstring(out.path() + "/csv"));
    ui_script script;
    script.when([] { return wizard_on_page(sel_file_page::dialog); }, [] { wizard_shell::get().frame()->next(); })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  auto* available = on<sorted_list>(tables, sel_tables_page::id_available);
                  available->select_row(available->find_exact("orders"));
                  tables.on_add();
                  available->select_row(available->find_exact("Spare"));
                  tables.on_add();
                  wizard_button(QWizard::BackButton)->click();
              })
        .when([] { return wizard_on_page(sel_file_page::dialog); }, [] { wizard_shell::get().frame()->next(); })
        // The folder exists since the first Next.
        .when([] { return modal_named(g_id_name(overwrite_dlg2::dialog_id)) != nullptr; },
              [] { click_id(modal_named(g_id_name(overwrite_dlg2::dialog_id)), overwrite_dlg2::id_ok); })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  EXPECT_EQ(list(sel_tables_page::id_selected), QStringList({"orders", "Spare"}));
                  EXPECT_EQ(list(sel_tables_page::id_available), QStringList({"Customers", "Products"}));
                  EXPECT_EQ(tables.selected_queries().at(u"Spare"), u"SELECT 1");
                  wizard_shell::get().frame()->next();
              })
        .when([] { return wizard_on_page(999); },
              [&] {
                  EXPECT_EQ(converter->selected_names(), std::vector<std::u16string>({u"orders"}));
                  EXPECT_EQ(converter->selection(), udb_selection({{u"Spare", u"SELECT 1"}}));
                  close_wizard();
              });
    run({&files, &tables}, script);
}

// Layouts.

TEST_F(user_test, step_3_keeps_its_buttons_and_lists_whole_at_one_and_a_half_times_the_font) {
    start_server();
    converter->connect_mssql_server();
    QFont normal = QApplication::font();
    QFont large = normal;
    large.setPointSizeF(normal.pointSizeF() * 1.5);
    QApplication::setFont(large);
    welcome_page welcome(u"kzt");
    sel_tables_page tables;
    ui_script script;
    script.when([] { return wizard_on_page(welcome_page::dialog); }, [] { wizard_shell::get().frame()->next(); })
        .when([] { return wizard_on_page(sel_tables_page::dialog); },
              [&] {
                  QWidget* page = tables.widget();
                  for (int id : {sel_tables_page::id_add, sel_tables_page::id_add_all, sel_tables_page::id_remove,
                                 sel_tables_page::id_remove_all, sel_tables_page::id_add_query}) {
                      auto* button = on<QPushButton>(tables, id);
                      EXPECT_TRUE(inside(button, page)) << id;
                      // The text is not cut either.
                      EXPECT_GE(button->width(), button->sizeHint().width()) << id;
                  }
                  for (int id : {sel_tables_page::id_available, sel_tables_page::id_selected})
                      EXPECT_TRUE(inside(on<QWidget>(tables, id), page)) << id;
                  // And the page itself sits above the wizard's buttons.
                  QRect page_box(page->mapTo(frame(), QPoint(0, 0)), page->size());
                  EXPECT_TRUE(frame()->rect().contains(page_box));
                  EXPECT_LE(page_box.bottom(), wizard_button(QWizard::NextButton)->mapTo(frame(), QPoint(0, 0)).y());
                  close_wizard();
              });
    run({&welcome, &tables}, script);
    QApplication::setFont(normal);
}

TEST_F(user_test, the_side_image_runs_down_a_grown_window) {
    converter.emplace();
    drelk_register_images();
    welcome_page welcome(u"kzt");
    QColor below;
    QSize watermark;
    ui_script script;
    script.when([] { return wizard_on_page(welcome_page::dialog) && frame()->isVisible(); },
                [&] {
                    watermark = wizard_shell::get().frame()->currentPage()->pixmap(QWizard::WatermarkPixmap).size();
                    frame()->resize(frame()->width() + 200, frame()->height() + 300);
                })
        .when([&] { return frame()->height() > watermark.height() + 300; },
              [&] {
                  QImage shot = frame()->grab().toImage();
                  // Under the image, in its strip, above the buttons.
                  below = shot.pixelColor(10, watermark.height() + 100);
                  close_wizard();
              });
    run({&welcome}, script);
    EXPECT_NE(below, QColor(Qt::white));
    EXPECT_LT(below.lightness(), 200);
}

TEST(overwrite_dialog_test, the_text_keeps_its_two_lines) {
    const QString first = "The destination folder already exists. Select one of the";
    overwrite_dlg2 dialog(1016, g_wstring(first + "\noptions below. Click 'Help' button for more information."),
                          nullptr);
    dialog.show();
    auto* label = g_find<QLabel>(&dialog, overwrite_dlg2::id_text);
    QFontMetrics metrics(label->font());
    EXPECT_GE(label->width(), metrics.horizontalAdvance(first));
    EXPECT_LT(label->height(), 3 * metrics.lineSpacing());
}

} // namespace
