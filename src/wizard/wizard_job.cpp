#include "wizard/wizard_job.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "wizard/wait_dlg.hpp"

#include <QCoreApplication>

#include <mutex>
#include <system_error>
#include <thread>

namespace {
std::mutex jobs_lock;
int jobs_running = 0;
bool jobs_closed = false;
} // namespace

void wizard_job::abandon() {
    if (m_abandoned.exchange(true)) return;
    TK_TRACE(2, "wizard_job::abandon");
    on_abandon();
}

void wizard_job::entry(std::shared_ptr<wizard_job> job) {
    try {
        job->run();
    } catch (...) {
        job->m_failure = std::current_exception();
    }
    job->m_ended = true;
    {
        std::lock_guard<std::mutex> guard(jobs_lock);
        // The dialog also looks for the end on every tick; this only spares the wait.
        if (QCoreApplication* app = QCoreApplication::instance(); app && !jobs_closed)
            QMetaObject::invokeMethod(
                app,
                [job] {
                    if (job->m_dialog) job->m_dialog->finish();
                },
                Qt::QueuedConnection);
    }
    // What the job holds goes before the count says the worker is over.
    job.reset();
    std::lock_guard<std::mutex> guard(jobs_lock);
    --jobs_running;
}

void wizard_job_start(const std::shared_ptr<wizard_job>& job) {
    TK_TRACE(2, "wizard_job_start");
    std::lock_guard<std::mutex> guard(jobs_lock);
    try {
        std::thread(&wizard_job::entry, job).detach();
    } catch (const std::system_error& e) {
        throw tk_exception_ex("Failed to create thread: ", e.code().value());
    }
    ++jobs_running;
}

bool wizard_job_wait(const std::shared_ptr<wizard_job>& job, const QString& text, QWidget* owner) {
    wait_dlg dialog(wait_dlg::default_period_ms, owner, text);
    dialog.set_end_check([job] { return job->ended(); });
    job->m_dialog = &dialog;
    wizard_job_start(job);
    int result = dialog.exec();
    job->m_dialog = nullptr;
    TK_TRACE(1, "wizard_job_wait: the dialog returned %d", result);
    // Cancel wins even over an end that came with the click: the user asked to stay.
    if (result != wait_dlg::cancelled && job->ended()) return true;
    TK_TRACE(3, "The user gave up waiting");
    job->abandon();
    return false;
}

int wizard_jobs_running() {
    std::lock_guard<std::mutex> guard(jobs_lock);
    return jobs_running;
}

int wizard_jobs_close() {
    std::lock_guard<std::mutex> guard(jobs_lock);
    jobs_closed = true;
    if (jobs_running > 0) TK_TRACE(3, "%d worker(s) still blocked at the end", jobs_running);
    return jobs_running;
}
