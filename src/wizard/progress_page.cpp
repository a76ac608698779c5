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
#include <QHBoxLayout>
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
    int tables = converter.tables_in_run;
    int tables_done = converter.tables_done;
    view.percent = progress_percent(tables, tables_done, records, record);
    if (tables > 0) {
        double share = records > 0 ? std::min(1.0, double(record) / records) : 0.0;
        view.done = std::min(1.0, (tables_done + share) / tables);
    }
    std::u16string name = converter.current_table();
    if (name.empty()) return view;
    if (records == 0 || converter.only_definitions()) {
        view.status = tk_wformat(u"Processing table '%s'", name.c_str());
    } else if (records < 0 || record > records) {
        view.status = tk_wformat(u"Processing table '%s' (record %ld)", name.c_str(), static_cast<long>(record));
        view.records = progress_record_line(record, -1);
    } else {
        view.status = tk_wformat(u"Processing table '%s' (record %ld of %ld)", name.c_str(),
                                 static_cast<long>(record), static_cast<long>(records));
        view.records = progress_record_line(record, records);
    }
    return view;
}

namespace {
// Digits in groups of three, whatever the locale: "100,000".
std::u16string grouped(int64_t number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return std::u16string(number < 0 ? u"-" : u"") + std::u16string(out.begin(), out.end());
}
} // namespace

std::u16string progress_record_line(int64_t record, int64_t records) {
    // A query whose count the server refused has records without a total.
    if (records < 0) return u"Record " + grouped(record);
    if (records == 0) return {};
    return u"Record " + grouped(record) + u" of " + grouped(records);
}

int64_t progress_seconds_left(int64_t elapsed_ms, double done) {
    // The first second and the first per cent say too little about the pace.
    if (elapsed_ms < 1000 || done < 0.01) return -1;
    if (done >= 1) return 0;
    return static_cast<int64_t>(std::llround(elapsed_ms * (1 - done) / done / 1000));
}

std::u16string progress_time_left(int64_t seconds) {
    if (seconds < 0) return u"Time left: estimating...";
    if (seconds < 60) return tk_wformat(u"Time left: %d s", static_cast<int>(seconds));
    if (seconds < 3600)
        return tk_wformat(u"Time left: %d min %02d s", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    return tk_wformat(u"Time left: %d h %02d min", static_cast<int>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60));
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
    auto* below = new QHBoxLayout;
    auto* records = new QLabel(page);
    g_set_id(records, id_records);
    records->setTextFormat(Qt::PlainText);
    auto* time_left = new QLabel(page);
    g_set_id(time_left, id_time_left);
    time_left->setTextFormat(Qt::PlainText);
    time_left->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    below->addWidget(records, 1);
    below->addWidget(time_left);
    layout->addLayout(below);
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
    set_text(id_records, {});
    set_text(id_time_left, {});
    m_creep_ticks = 0;
    m_started = std::chrono::steady_clock::now();
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
        set_text(id_records, {});
        set_text(id_time_left, {});
        ++m_creep_ticks;
        return;
    }
    set_bar(view.percent);
    set_status(view.status);
    set_text(id_records, view.records);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_started);
    set_text(id_time_left, progress_time_left(progress_seconds_left(elapsed.count(), view.done)));
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

void progress_page::set_text(int id, const std::u16string& text) {
    if (auto* label = g_find<QLabel>(widget(), id)) label->setText(g_qstring(text));
}

void progress_page::set_bar(int position) {
    if (auto* bar = g_find<QProgressBar>(widget(), id_bar)) bar->setValue(position);
}
