#include "wizard_test_support.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_page.hpp"
#include "GUI2/wizard_shell.hpp"
#include "ODBC/odbc_provider.hpp"
#include "TK/tk_utils.hpp"
#include "tdsemu/emu_server.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QWizard>

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace wizard_test {

url_catcher::url_catcher(std::vector<QString> schemes) : m_schemes(std::move(schemes)) {
    for (const QString& scheme : m_schemes) QDesktopServices::setUrlHandler(scheme, this, "open");
}

url_catcher::~url_catcher() {
    for (const QString& scheme : m_schemes) QDesktopServices::unsetUrlHandler(scheme);
}

config_home::config_home() {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
        m_had = true;
        m_saved = old;
    }
    setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
}

config_home::~config_home() {
    if (m_had)
        setenv("XDG_CONFIG_HOME", m_saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

void config_home::write_store(const std::string& text) const {
    mkdir((m_dir.path() + "/Quorvane").c_str(), 0700);
    test_support::write_file(store_file(), text);
}

ui_script& ui_script::when(std::function<bool()> ready, std::function<void()> act) {
    m_steps.push_back({std::move(ready), std::move(act)});
    return *this;
}

void ui_script::start(int timeout_ms) {
    auto* poll = new QTimer(qApp);
    auto* deadline = new QTimer(poll);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        QMessageBox* box = qobject_cast<QMessageBox*>(modal);
        std::fprintf(stderr, "ui_script: step %zu of %zu never became ready; on top: %s '%s' %s\n",
                     m_next + 1, m_steps.size(), modal ? modal->metaObject()->className() : "nothing",
                     modal ? modal->objectName().toUtf8().constData() : "",
                     box ? box->text().toUtf8().constData() : "");
        std::fflush(stderr);
        std::_Exit(3);
    });
    QObject::connect(poll, &QTimer::timeout, [this, poll] {
        if (finished()) {
            poll->deleteLater();
            return;
        }
        step& s = m_steps[m_next];
        if (!s.ready()) return;
        ++m_next;
        QTimer::singleShot(0, qApp, s.act);
        if (finished()) poll->deleteLater();
    });
    poll->start(10);
    deadline->start(timeout_ms);
}

QMessageBox* modal_message_box() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

QWidget* modal_named(const QString& name) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal && modal->objectName() == name ? modal : nullptr;
}

void answer(QMessageBox::StandardButton button) {
    QMessageBox* box = modal_message_box();
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->button(button), nullptr);
    box->button(button)->click();
}

void click_id(QWidget* parent, int id) {
    auto* button = g_find<QAbstractButton>(parent, id);
    ASSERT_NE(button, nullptr) << "no button " << id;
    button->click();
}

bool wizard_on_page(int dialog_id) {
    wizard_shell* shell = wizard_shell::instance();
    return shell && shell->shown() && shell->current_page() &&
           shell->current_page()->dialog_id() == dialog_id &&
           QApplication::activeModalWidget() == shell->frame();
}

namespace {
enum class drivers { none_yet, freetds, no_driver };
drivers arrangement = drivers::none_yet;

void use_drivers(const std::string& dir, const std::string& odbcinst) {
    mkdir(dir.c_str(), 0700);
    test_support::write_file(dir + "/odbcinst.ini", odbcinst);
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
    odbc_install_provider();
}
} // namespace

bool odbc_use_freetds() {
    if (arrangement == drivers::no_driver) return false;
    static const bool ready = [] {
        std::string driver = test_support::freetds_driver_path();
        const char* home = std::getenv("HOME");
        if (driver.empty() || !home) return false;
        use_drivers(std::string(home) + "/odbc-freetds", "[FreeTDS]\nDriver=" + driver + "\n");
        return true;
    }();
    arrangement = drivers::freetds;
    return ready;
}

bool odbc_use_no_driver() {
    if (arrangement == drivers::freetds) return false;
    if (arrangement == drivers::none_yet) {
        const char* home = std::getenv("HOME");
        if (!home) return false;
        use_drivers(std::string(home) + "/odbc-none", "");
        arrangement = drivers::no_driver;
    }
    return true;
}

struct emulated_server::impl {
    std::unique_ptr<tdsemu::emu_server> server;
};

emulated_server::emulated_server(const std::string& seed) : m_impl(std::make_unique<impl>()) {
    tdsemu::emu_options options;
    options.seed_text = seed;
    options.logins = {{"sa", "Tabloxa-1"}};
    m_impl->server = std::make_unique<tdsemu::emu_server>(options);
}

emulated_server::~emulated_server() = default;

uint16_t emulated_server::port() const {
    return m_impl->server->port();
}

std::u16string emulated_server::host() const {
    return u"127.0.0.1," + tk_utf8_to_wstring(std::to_string(port()));
}

std::string emulated_server::store_text(const std::string& source, const std::string& dest) const {
    return "[Software\\Quorvane\\Tabloxa]\ndest=sz:" + dest + "\nhost=sz:127.0.0.1," +
           std::to_string(port()) + "\npswd=sz:Tabloxa-1\nsrc=sz:" + source + "\nuser=sz:sa\n";
}

} // namespace wizard_test
