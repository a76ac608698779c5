#pragma once

#include "GUI2/wizard_page.hpp"
#include "wizard/wizard_job.hpp"

#include <atomic>
#include <memory>
#include <string>

// Step 1: the server and the credentials. Next connects on a worker behind the wait dialog and
// moves on only when the connection succeeded; Cancel in the dialog gives the attempt up.
class connect_page : public wizard_page {
public:
    enum {
        dialog = 118,
        id_host = 1014,
        id_login = 1012,
        id_password = 1013,
        id_windows_auth = 1329,
        id_sql_auth = 1330,
        id_as_dbo = 1202,
        animation_period_ms = 500,
    };

    connect_page();
    ~connect_page() override;

    void create_controls(QWizardPage* page) override;
    bool page_init() override;
    bool on_next() override;
    bool on_back() override;

    // One connection attempt, run by a worker with its own copy of the login. The page reports
    // its failures once the wait is over; an attempt given up is never reported.
    class animation : public wizard_job {
    public:
        animation() = default;
        animation(bool windows_auth, std::u16string host, std::u16string user, std::u16string password);
        void run() override;
        std::atomic<bool> connected{false};

    private:
        bool m_windows_auth = false;
        std::u16string m_host;
        std::u16string m_user;
        std::u16string m_password;
    };
    // The last attempt.
    const animation& task() const { return *m_animation; }

private:
    void store();
    void enable_login(bool on);
    // The tab order reaches the checked authentication choice only.
    void update_tab_stops();
    void report_failure(std::exception_ptr failure);

    std::shared_ptr<animation> m_animation = std::make_shared<animation>();
};
