#include "ODBC/odbc_read_ahead.hpp"

#include "TK/tk_before_wait.hpp"

#include <chrono>

namespace {

// A caller waiting for rows gets a partly filled batch after this long, so that rows that come
// slowly from the server are not held back.
constexpr auto patience = std::chrono::milliseconds(20);
// Storage kept in a batch's rows from one fill to the next; beyond it they are freed, so that
// rows once holding large values do not keep their memory for ever.
constexpr size_t kept_storage = 2u << 20;

// What a row holds, its values' own room included: a wide table's rows weigh more than their text.
size_t data_size(const odbc_row& row) {
    size_t size = 0;
    for (const odbc_value& value : row)
        size += sizeof(odbc_value) + value.wide().size() * sizeof(char16_t) + value.raw().size();
    return size;
}

size_t storage(const std::vector<odbc_row>& rows) {
    size_t size = 0;
    for (const odbc_row& row : rows)
        for (const odbc_value& value : row)
            size += value.text.capacity() * sizeof(char16_t) + value.bytes.capacity() +
                    (value.held.empty() ? 0 : value.wide().size() * sizeof(char16_t) + value.raw().size());
    return size;
}

} // namespace

odbc_read_ahead::odbc_read_ahead(std::unique_ptr<odbc_result> source) : m_source(std::move(source)) {}

odbc_read_ahead::~odbc_read_ahead() {
    stop();
}

void odbc_read_ahead::start() {
    m_free.clear();
    m_ready.clear();
    m_current.reset();
    m_next = 0;
    for (size_t i = 0; i < batch_count; ++i) m_free.push_back(std::make_unique<batch>());
    m_waiting_bytes = 0;
    m_stopping = false;
    m_waiting = false;
    m_reader = std::thread([this] { produce(); });
    m_started = true;
}

void odbc_read_ahead::stop() noexcept {
    if (!m_reader.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    // A reader inside the driver finishes its row first.
    m_reader.join();
}

void odbc_read_ahead::restart() {
    stop();
    m_started = false;
    m_current.reset();
    m_ready.clear();
    m_free.clear();
    m_source->restart();
}

bool odbc_read_ahead::fetch(odbc_row& row) {
    if (!m_started) start();
    for (;;) {
        if (m_current) {
            if (m_next < m_current->count) {
                // The caller's old row goes back to the batch: its storage serves a later row.
                row.swap(m_current->rows[m_next++]);
                return true;
            }
            if (m_current->failure) {
                std::exception_ptr failure = std::move(m_current->failure);
                m_current->failure = nullptr;
                std::rethrow_exception(failure);
            }
            if (m_current->last) return false;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_free.push_back(std::move(m_current));
            }
            m_changed.notify_all();
        }
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_ready.empty()) {
            // No rows yet: the caller's own pending work goes first.
            lock.unlock();
            tk_before_wait::run();
            lock.lock();
        }
        m_waiting = true;
        m_changed.wait(lock, [this] { return !m_ready.empty(); });
        m_waiting = false;
        m_current = std::move(m_ready.front());
        m_ready.erase(m_ready.begin());
        m_waiting_bytes -= m_current->bytes;
        m_next = 0;
        lock.unlock();
        m_changed.notify_all();
    }
}

void odbc_read_ahead::produce() noexcept {
    for (;;) {
        std::unique_ptr<batch> filling;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(
                lock, [this] { return m_stopping || (!m_free.empty() && m_waiting_bytes < waiting_limit); });
            if (m_stopping) return;
            filling = std::move(m_free.back());
            m_free.pop_back();
        }
        fill(*filling);
        bool last = filling->last;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_waiting_bytes += filling->bytes;
            m_ready.push_back(std::move(filling));
        }
        m_changed.notify_all();
        if (last) return;
    }
}

void odbc_read_ahead::fill(batch& into) {
    if (storage(into.rows) > kept_storage) into.rows.clear();
    into.count = 0;
    into.bytes = 0;
    into.last = false;
    into.failure = nullptr;
    std::chrono::steady_clock::time_point began{};
    try {
        while (into.count < batch_rows && into.bytes < batch_bytes) {
            if (into.rows.size() == into.count) into.rows.emplace_back();
            if (!m_source->fetch(into.rows[into.count])) {
                into.last = true;
                return;
            }
            into.bytes += data_size(into.rows[into.count]);
            if (into.count++ == 0) began = std::chrono::steady_clock::now();
            if (m_stopping.load(std::memory_order_relaxed)) return;
            if (m_waiting.load(std::memory_order_relaxed) &&
                std::chrono::steady_clock::now() - began >= patience)
                return;
        }
    } catch (...) {
        into.failure = std::current_exception();
        into.last = true;
    }
}
