#pragma once

#include <QPointer>
#include <QString>

#include <atomic>
#include <exception>
#include <memory>

class QWidget;
class wait_dlg;

// Work for a worker that may block in the driver for as long as a server keeps silent. The window
// that waits for it can give up at once: the worker is left to end on its own (it is detached and
// holds the job), and whatever it answers then is ignored.
class wizard_job {
public:
    virtual ~wizard_job() = default;
    // On the worker; what it raises is kept for the window.
    virtual void run() = 0;

    bool ended() const { return m_ended; }
    bool abandoned() const { return m_abandoned; }
    // Why `run` failed, once it ended; null when it did not.
    std::exception_ptr failure() const { return m_failure; }
    // Gives up on the job (user-interface thread).
    void abandon();

protected:
    // Called by `abandon`: a job may ask its driver call to end early.
    virtual void on_abandon() {}

private:
    friend void wizard_job_start(const std::shared_ptr<wizard_job>& job);
    friend bool wizard_job_wait(const std::shared_ptr<wizard_job>& job, const QString& text, QWidget* owner);
    static void entry(std::shared_ptr<wizard_job> job);

    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_abandoned{false};
    std::exception_ptr m_failure;
    // The dialog that waits for the job; user-interface thread only.
    QPointer<wait_dlg> m_dialog;
};

// Runs the job on a worker of its own. Failing to make the thread raises.
void wizard_job_start(const std::shared_ptr<wizard_job>& job);

// Starts the job and shows the wait dialog with the text over `owner` until the job ends (true)
// or the user cancels it (false: the job is abandoned).
bool wizard_job_wait(const std::shared_ptr<wizard_job>& job, const QString& text, QWidget* owner);

// Workers that have not ended yet, abandoned ones included.
int wizard_jobs_running();
// At the program's end: workers that end from now on tell no window. Answers how many still run;
// the process must then neither wait for them nor tear down what they may still use.
int wizard_jobs_close();
