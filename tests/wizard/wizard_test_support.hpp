#pragma once

#include "support/test_support.hpp"

#include <QMessageBox>
#include <QObject>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wizard_test {

// Catches what the program hands to the desktop (browser, mail program) for chosen schemes.
class url_catcher : public QObject {
    Q_OBJECT
public:
    explicit url_catcher(std::vector<QString> schemes);
    ~url_catcher() override;
    std::vector<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.push_back(url); }

private:
    std::vector<QString> m_schemes;
};

// A fresh settings folder (XDG_CONFIG_HOME) for one test.
class config_home {
public:
    config_home();
    ~config_home();
    std::string store_file() const { return m_dir.path() + "/Quorvane/Tabloxa.conf"; }
    // Writes the settings file as an earlier run would have.
    void write_store(const std::string& text) const;
    const test_support::temp_dir& dir() const { return m_dir; }

private:
    test_support::temp_dir m_dir;
    std::string m_saved;
    bool m_had = false;
};

// Steps run in order from the event loop, each as soon as its condition holds. Actions run
// from their own zero timer, so one that opens a modal dialog does not stop the script.
class ui_script {
public:
    ui_script& when(std::function<bool()> ready, std::function<void()> act);
    ui_script& then(std::function<void()> act) {
        return when([] { return true; }, std::move(act));
    }
    // Starts polling; a script still unfinished after `timeout_ms` ends the test program.
    void start(int timeout_ms = 30000);
    bool finished() const { return m_next == m_steps.size(); }

private:
    struct step {
        std::function<bool()> ready;
        std::function<void()> act;
    };
    std::vector<step> m_steps;
    size_t m_next = 0;
};

// The modal widget on top, when it is a message box / of the given object name.
QMessageBox* modal_message_box();
QWidget* modal_named(const QString& name);
// Clicks a message box's button.
void answer(QMessageBox::StandardButton button);
// Clicks the widget with this id inside the parent.
void click_id(QWidget* parent, int id);
bool wizard_on_page(int dialog_id);

// unixODBC reads its driver list once per process (ctest runs each test in its own): the first
// choice holds. FreeTDS registered as "FreeTDS", in the test program's home; false when the
// driver is missing or the process chose no driver.
bool odbc_use_freetds();
// No driver at all; false when the process already chose FreeTDS.
bool odbc_use_no_driver();

// The SQL Server emulator in this process, seeded with a script; login sa / Tabloxa-1.
class emulated_server {
public:
    explicit emulated_server(const std::string& seed);
    ~emulated_server();
    uint16_t port() const;
    // The host text that reaches it: "127.0.0.1,PORT".
    std::u16string host() const;
    // A store file for the wizard's settings that reaches it, with a source and a destination.
    std::string store_text(const std::string& source, const std::string& dest) const;

private:
    struct impl;
    std::unique_ptr<impl> m_impl;
};

} // namespace wizard_test
