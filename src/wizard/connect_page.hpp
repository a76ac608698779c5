#pragma once

#include "GUI2/wizard_page.hpp"
#include "TK/tk_thread.hpp"

#include <atomic>

class wait_dlg;

// Step 1: the server and the credentials. Next connects on a worker behind the wait dialog and
// moves on only when the connection succeeded.
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

    // The connection attempt, run by the worker; reports its own failures.
    class animation : public tk_thread_task {
    public:
        void run() override;
        std::atomic<bool> connected{false};
        // The dialog the attempt closes when it ends.
        wait_dlg* dialog = nullptr;
    };
    const animation& task() const { return m_animation; }

private:
    class connect_thread : public tk_thread {
    public:
        explicit connect_thread(animation& task) : m_task(task) {}
        ~connect_thread() override;

    protected:
        tk_thread_task* create_task() override { return &m_task; }

    private:
        animation& m_task;
    };

    void store();
    void enable_login(bool on);

    animation m_animation;
    connect_thread m_thread{m_animation};
};
