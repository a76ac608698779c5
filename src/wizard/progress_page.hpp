#pragma once

#include "GUI2/wizard_page.hpp"
#include "TK/tk_thread.hpp"

#include <chrono>
#include <cstdint>
#include <string>

class drelk_converter;

// What the page shows for one state of the run's progress.
struct progress_view {
    int percent = 0;
    std::u16string status;
    // "Record 12,345 of 100,000" of the current table; empty when it has no records to count.
    std::u16string records;
    // The share of the run done, 0 to 1, as the bar counts it.
    double done = 0;
};

// Finished tables and the current table's share of the records; integer steps, 0 without tables.
int progress_percent(int tables_in_run, int tables_done, int records_in_table, int records_converted);
// The bar's position on the n-th tick spent at 100 per cent: it creeps towards 100.
int progress_creep(int tick);
// Percentage and status text of the converter's progress fields.
progress_view progress_of(const drelk_converter& converter);
// "Record 12,345 of 100,000"; empty without records.
std::u16string progress_record_line(int64_t record, int64_t records);
// Seconds left when `done` of the run took `elapsed_ms`, or -1 while too little is known.
int64_t progress_seconds_left(int64_t elapsed_ms, double done);
// "Time left: 1 min 05 s", "Time left: estimating...".
std::u16string progress_time_left(int64_t seconds);

// Step 4: the conversion runs on a worker while the page shows its progress.
class progress_page : public wizard_page {
public:
    enum {
        dialog = 108,
        id_status = 1323,
        id_bar = 1321,
        id_records = 1324,
        id_time_left = 1325,
        timer_period_ms = 200,
    };

    progress_page();
    ~progress_page() override;

    void create_controls(QWizardPage* page) override;
    bool page_init() override;
    void on_timer() override;
    bool on_cancel() override;

    // True from a confirmed cancel until the wizard closes.
    bool cancelling() const { return m_cancelling; }
    bool worker_running() const { return m_worker.is_running(); }

private:
    // The converter is the worker's task; a stop request cancels its run.
    class converter_task : public tk_thread_task {
    public:
        void run() override;
        void request_stop() override;
    };
    class worker : public tk_thread {
    public:
        ~worker() override;

    protected:
        tk_thread_task* create_task() override { return &m_task; }

    private:
        converter_task m_task;
    };

    void set_status(const std::u16string& text);
    void set_text(int id, const std::u16string& text);
    void set_bar(int position);
    // Waits for the worker, letting the user-interface thread serve the reports it may make.
    void finish_worker();

    worker m_worker;
    int m_creep_ticks = 0;
    std::chrono::steady_clock::time_point m_started;
    bool m_cancelling = false;
};
