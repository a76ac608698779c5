#pragma once

#include "ODBC/odbc_result.hpp"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Reads the rows of another result on a thread of its own, a batch ahead of the caller, so that
// the driver decodes the next rows while the caller writes these. The caller sees the same rows
// in the same order, and a failure at the row where it happened.
class odbc_read_ahead : public odbc_result {
public:
    // Rows handed over together, and the data that ends a batch early: a few batches are all the
    // memory the reading ahead costs, however long the result.
    static constexpr size_t batch_rows = 1024;
    static constexpr size_t batch_bytes = 1 << 20;
    // Batches in turn: the reader fills one while the caller takes rows from another, and a few
    // filled ones wait, so that neither waits whenever the other is held up for a moment.
    static constexpr size_t batch_count = 8;
    // Data waiting for the caller beyond which the reader waits too, whatever the batches: rows
    // of large values are held a few at a time.
    static constexpr size_t waiting_limit = 4u << 20;

    explicit odbc_read_ahead(std::unique_ptr<odbc_result> source);
    ~odbc_read_ahead() override;
    odbc_read_ahead(const odbc_read_ahead&) = delete;
    odbc_read_ahead& operator=(const odbc_read_ahead&) = delete;

    const std::vector<odbc_column>& columns() const override { return m_source->columns(); }
    bool fetch(odbc_row& row) override;
    void restart() override;

private:
    struct batch {
        std::vector<odbc_row> rows;
        size_t count = 0;
        size_t bytes = 0;           // the data of its rows
        bool last = false;          // the source has no rows after these
        std::exception_ptr failure; // raised after the rows, where the source raised it
    };

    void start();
    void stop() noexcept;
    void produce() noexcept;
    void fill(batch& into);

    std::unique_ptr<odbc_result> m_source;
    std::thread m_reader;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<batch>> m_free;  // for the reader to fill
    std::vector<std::unique_ptr<batch>> m_ready; // filled, oldest first
    std::unique_ptr<batch> m_current;            // the caller's
    size_t m_next = 0;                           // the caller's next row in m_current
    bool m_started = false;
    size_t m_waiting_bytes = 0; // the data of m_ready, under m_lock
    // Set under m_lock, so that a waiting reader sees it; also read between rows without it.
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_waiting{false}; // the caller waits for rows
};
