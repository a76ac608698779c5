#include "wizard/progress_page.hpp"

#include "GUI2/g_gui.hpp"
#include "GUI2/wizard_shell.hpp"
#include "MSS/odb_oledb.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_log.hpp"
#include "common/drelk_converter.hpp"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWizard>
#include <QWizardPage>

#include <algorithm>
#include <cmath>
#include <numbers>

int progress_percent(int tables_in_run, int tables_done, int records_in_table, int records_converted) {
    if (tables_in_run <= 0) return 0;
    int percent = tables_done * 100 / tables_in_run;
    // More rows than the count said may arrive; an unknown count (-1) adds nothing.
    if (records_in_table > 0)
        percent += std::min(records_converted, records_in_table) * 100 / records_in_table / tables_in_run;
    return percent;
}

int progress_creep(int tick) {
    return static_cast<int>(100.0 * std::atan(tick / 10.0) / (std::numbers::pi / 2));
}

progress_view progress_of(const drelk_converter& converter) {
    progress_view view;
    int records = converter.records_in_table;
    int record = converter.records_converted;
    view.percent = progress_percent(converter.tables_in_run, converter.tables_done, records, record);
    std::u16string name = converter.current_table();
    if (name.empty()) return view;
    if (records == 0 || converter.only_definitions())
        view.status = tk_wformat(u"Processing table '%s'", name.c_str());
    else if (records < 0 || record > records)
        view.status = tk_wformat(u"Processing table '%s' (record %ld)", name.c_str(), static_cast<long>(record));
    else
        view.status = tk_wformat(u"Processing table '%s' (record %ld of %ld)", name.c_str(),
                                 static_cast<long>(record), static_cast<long>(records));
    return view;
}

void progress_page::converter_task::run() {
    drelk_converter& converter = drelk_converter::get();
    // The data-access runtime is set up per thread that uses the server engine.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        converter();
    } catch (const tk_final_exception&) {
    } catch (const std::exception& e) {
        // The run reports its own failures; one that still escapes must reach the list too.
        if (error_handler* handler = error_handler::instance()) handler->report_failure(e.what());
    }
    CoUninitialize();
    // Whatever happened, the page must learn that the run is over.
    *converter.finished_flag() = true;
}

void progress_page::converter_task::request_stop() {
    if (drelk_converter* converter = drelk_converter::instance()) converter->request_cancel();
}

progress_page::worker::~worker() {
    // The task is a member: stop the run before it goes.
    if (is_running()) terminate();
}

progress_page::progress_page()
    : wizard_page(dialog, u"Step 4 of 4", u"Database converting is in progress", help_start_page, 0) {}

progress_page::~progress_page() {
    finish_worker();
}

void progress_page::create_controls(QWizardPage* page) {
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel("Database converting is in progress. Please wait until the wizard completes", page));
    layout->addWidget(new QLabel("converting your MS SQL database into CSV format.", page));
    layout->addSpacing(24);
    auto* status = new QLabel(page);
    g_set_id(status, id_status);
    status->setTextFormat(Qt::PlainText);
    layout->addWidget(status);
    auto* bar = new QProgressBar(page);
    g_set_id(bar, id_bar);
    bar->setRange(0, 100);
    bar->setValue(0);
    // The status line says what runs; the bar alone shows how far.
    bar->setTextVisible(false);
    layout->addWidget(bar);
    layout->addStretch(1);
}

bool progress_page::page_init() {
    TK_TRACE(2, "progress_page::page_init()");
    wizard_shell& shell = wizard_shell::get();
    drelk_converter& converter = drelk_converter::get();
    shell.set_wizard_buttons(0);
    shell.enable_button(wizard_shell::id_cancel, true);
    set_bar(0);
    set_status({});
    m_creep_ticks = 0;
    m_cancelling = false;
    // A flag left from an earlier run would end this one on the first tick.
    *converter.finished_flag() = false;
    converter.records_in_table = 0;
    converter.records_converted = 0;
    converter.tables_in_run = 0;
    converter.tables_done = 0;
    converter.set_current_table({});
    if (!shell.timer_on()) shell.start_timer(timer_period_ms);
    m_worker.start();
    return true;
}

void progress_page::on_timer() {
    drelk_converter* converter = drelk_converter::instance();
    TK_ASSERT(converter, "kzt_shel");
    progress_view view = progress_of(*converter);
    wizard_shell& shell = wizard_shell::get();
    if (converter->finished()) {
        shell.stop_timer();
        finish_worker();
        if (m_cancelling) {
            TK_TRACE(2, "progress_page: the cancelled run has ended");
            if (QWizard* frame = shell.frame()) static_cast<QDialog*>(frame)->done(QDialog::Rejected);
        } else {
            shell.next_page();
        }
        return;
    }
    if (m_cancelling) converter->request_cancel();
    if (view.percent >= 100) {
        set_status(u"Applying format settings");
        set_bar(progress_creep(m_creep_ticks));
        ++m_creep_ticks;
        return;
    }
    set_bar(view.percent);
    set_status(view.status);
}

bool progress_page::on_cancel() {
    TK_TRACE(2, "progress_page::on_cancel");
    if (m_cancelling) return false;
    if (!wizard_page::on_cancel()) return false;
    drelk_converter* converter = drelk_converter::instance();
    if (!converter || converter->finished() || !m_worker.is_running()) return true;
    // The run stops at its next record or statement; the wizard closes on the tick that sees
    // it ended. Waiting here instead could block a worker that is reporting an error.
    m_cancelling = true;
    wizard_shell::get().enable_button(wizard_shell::id_cancel, false);
    converter->request_cancel();
    return false;
}

void progress_page::finish_worker() {
    if (m_worker.task() && m_worker.is_running()) {
        if (drelk_converter* converter = drelk_converter::instance()) converter->request_cancel();
        // A worker reporting an error waits for this thread to show the dialog.
        QCoreApplication* app = QCoreApplication::instance();
        bool on_gui = app && QThread::currentThread() == app->thread();
        while (m_worker.is_running()) {
            // Again each time: a run that had not begun yet clears an earlier request.
            if (drelk_converter* converter = drelk_converter::instance()) converter->request_cancel();
            if (on_gui) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
    if (!m_worker.is_running()) m_worker.clean_up();
}

void progress_page::set_status(const std::u16string& text) {
    if (auto* label = g_find<QLabel>(widget(), id_status)) label->setText(g_qstring(text));
}

void progress_page::set_bar(int position) {
    if (auto* bar = g_find<QProgressBar>(widget(), id_bar)) bar->setValue(position);
}
