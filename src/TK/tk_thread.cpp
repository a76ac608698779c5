#include "TK/tk_thread.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

#include <chrono>
#include <system_error>

void tk_loop_task::run() {
    while (!m_stop && !done()) step();
    finish();
}

tk_thread::tk_thread() {
    TK_TRACE(2, "tk_thread::ctor");
}

tk_thread::~tk_thread() {
    TK_TRACE(2, "tk_thread::dtor");
    try {
        if (is_running())
            terminate();
        else
            clean_up();
    } catch (const tk_exception& e) {
        TK_TRACE(3, "tk_thread::dtor: %s", e.what());
    }
}

bool tk_thread::is_running() const {
    if (!m_thread.joinable()) return false;
    std::unique_lock<std::mutex> guard(m_lock);
    return !m_ended_signal.wait_for(guard, std::chrono::milliseconds(10), [this] { return m_ended; });
}

void tk_thread::start() {
    TK_TRACE(2, "tk_thread::start");
    TK_ASSERT(!is_running(), "tk_threa");
    clean_up();
    TK_ASSERT(!m_task, "tk_threa");
    m_task = create_task();
    TK_ASSERT(m_task, "tk_threa");
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = false;
    }
    try {
        m_thread = std::thread(&tk_thread::entry, this, m_task);
    } catch (const std::system_error& e) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
        throw tk_exception_ex("Failed to create thread: ", e.code().value());
    }
}

void tk_thread::entry(tk_thread_task* task) {
    try {
        task->run();
    } catch (const std::exception& e) {
        // A task reports its own failures; one that escapes must not take the process down.
        TK_TRACE(3, "tk_thread: the task ended with an exception: %s", e.what());
    } catch (...) {
        TK_TRACE(3, "tk_thread: the task ended with an unknown exception");
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_ended = true;
    m_ended_signal.notify_all();
}

void tk_thread::clean_up() {
    TK_TRACE(2, "tk_thread::clean_up");
    TK_ASSERT(!is_running(), "tk_threa");
    if (m_thread.joinable()) m_thread.join();
    m_owned_task.reset();
    m_task = nullptr;
}

void tk_thread::terminate() {
    TK_TRACE(2, "tk_thread::terminate");
    TK_ASSERT(is_running(), "tk_threa");
    if (m_task) m_task->request_stop();
    m_thread.join();
    clean_up();
}

tk_thread_task* tk_thread::create_task() {
    m_owned_task = std::make_unique<tk_loop_task>();
    return m_owned_task.get();
}
