#pragma once

#include "support/test_support.hpp"

#include <QMessageBox>
#include <QObject>
#include <QUrl>

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

} // namespace wizard_test
