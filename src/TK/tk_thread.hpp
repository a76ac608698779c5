#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// What a worker thread runs.
class tk_thread_task {
public:
    virtual ~tk_thread_task() = default;
    virtual void run() = 0;
    // Asks a running task to end at its next safe point. Called from another thread; a thread
    // cannot be killed safely here, so every task that may be stopped must listen.
    virtual void request_stop() {}
};

// The default task: steps until done (or asked to stop), then finishes.
class tk_loop_task : public tk_thread_task {
public:
    void run() override;
    void request_stop() override { m_stop = true; }

protected:
    virtual void step() {}
    virtual bool done() { return true; }
    virtual void finish() {}

    std::atomic<bool> m_stop{false};
};

// One worker thread at a time, running the task its factory gives.
class tk_thread {
public:
    tk_thread();
    // Stops a worker that still runs. Derived classes whose factory hands out their own members
    // must terminate in their own destructor, before those members go.
    virtual ~tk_thread();
    tk_thread(const tk_thread&) = delete;
    tk_thread& operator=(const tk_thread&) = delete;

    void start();
    void clean_up();
    void terminate();

    // True when the worker has not ended within 10 ms.
    bool is_running() const;
    tk_thread_task* task() const { return m_task; }
    bool owns_task() const { return m_owned_task != nullptr; }

protected:
    // The task to run; the default makes a `tk_loop_task` that the thread owns.
    virtual tk_thread_task* create_task();

private:
    void entry(tk_thread_task* task);

    std::thread m_thread;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_ended_signal;
    bool m_ended = true;
    tk_thread_task* m_task = nullptr;
    std::unique_ptr<tk_thread_task> m_owned_task;
};
