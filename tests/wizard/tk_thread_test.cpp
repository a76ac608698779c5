#include "TK/tk_exception.hpp"
#include "TK/tk_thread.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A task that runs until it is told to stop, or released by the test.
struct blocking_task : tk_thread_task {
    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    std::atomic<bool> stop_requested{false};
    std::atomic<int> runs{0};
    void run() override {
        ++runs;
        started = true;
        while (!release && !stop_requested) std::this_thread::sleep_for(1ms);
    }
    void request_stop() override { stop_requested = true; }
};

struct task_thread : tk_thread {
    explicit task_thread(tk_thread_task* task) : m_given(task) {}
    ~task_thread() override {
        if (is_running()) terminate();
    }
    tk_thread_task* create_task() override { return m_given; }
    tk_thread_task* m_given;
};

bool wait_until(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(1ms);
    return done();
}

TEST(tk_thread_test, a_started_task_runs_once_and_the_thread_can_start_again) {
    blocking_task task;
    task_thread thread(&task);
    thread.start();
    ASSERT_TRUE(wait_until([&] { return task.started.load(); }));
    EXPECT_TRUE(thread.is_running());
    EXPECT_FALSE(thread.owns_task());
    task.release = true;
    ASSERT_TRUE(wait_until([&] { return !thread.is_running(); }));
    thread.start(); // cleans up the finished run first
    ASSERT_TRUE(wait_until([&] { return task.runs == 2; }));
    ASSERT_TRUE(wait_until([&] { return !thread.is_running(); }));
    thread.clean_up();
    EXPECT_EQ(thread.task(), nullptr);
}

TEST(tk_thread_test, misuse_while_running_or_idle_is_an_internal_error) {
    blocking_task task;
    task_thread thread(&task);
    EXPECT_THROW(thread.terminate(), tk_mail_assertion); // not running
    thread.start();
    ASSERT_TRUE(wait_until([&] { return task.started.load(); }));
    EXPECT_THROW(thread.start(), tk_mail_assertion);
    EXPECT_THROW(thread.clean_up(), tk_mail_assertion);
    EXPECT_EQ(task.runs, 1);
    task.release = true;
}

TEST(tk_thread_test, terminate_stops_the_task_and_waits_for_it) {
    blocking_task task;
    task_thread thread(&task);
    thread.start();
    ASSERT_TRUE(wait_until([&] { return task.started.load(); }));
    thread.terminate();
    EXPECT_TRUE(task.stop_requested);
    EXPECT_FALSE(thread.is_running());
    EXPECT_EQ(thread.task(), nullptr);
}

TEST(tk_thread_test, destroying_a_running_thread_stops_its_worker) {
    blocking_task task;
    {
        task_thread thread(&task);
        thread.start();
        ASSERT_TRUE(wait_until([&] { return task.started.load(); }));
    }
    EXPECT_TRUE(task.stop_requested);
}

TEST(tk_thread_test, a_factory_without_a_task_is_an_internal_error) {
    task_thread thread(nullptr);
    EXPECT_THROW(thread.start(), tk_mail_assertion);
    EXPECT_FALSE(thread.is_running());
}

// The default task steps until done, then finishes.
struct counting_task : tk_loop_task {
    std::atomic<int>* steps;
    std::atomic<bool>* finished;
    counting_task(std::atomic<int>* s, std::atomic<bool>* f) : steps(s), finished(f) {}
    void step() override { ++*steps; }
    bool done() override { return *steps >= 5; }
    void finish() override { *finished = true; }
};

struct owning_thread : tk_thread {
    std::atomic<int> steps{0};
    std::atomic<bool> finished{false};
    tk_thread_task* create_task() override {
        tk_thread_task* base = tk_thread::create_task(); // marks the task as owned
        EXPECT_NE(base, nullptr);
        return base;
    }
};

TEST(tk_thread_test, the_default_task_is_owned_and_released_at_clean_up) {
    owning_thread thread;
    thread.start();
    EXPECT_TRUE(thread.owns_task());
    ASSERT_TRUE(wait_until([&] { return !thread.is_running(); }));
    thread.clean_up();
    EXPECT_FALSE(thread.owns_task());
    EXPECT_EQ(thread.task(), nullptr);
}

TEST(tk_thread_test, a_loop_task_steps_until_done_then_finishes) {
    std::atomic<int> steps{0};
    std::atomic<bool> finished{false};
    counting_task task(&steps, &finished);
    task.run();
    EXPECT_EQ(steps, 5);
    EXPECT_TRUE(finished);
}

TEST(tk_thread_test, an_exception_escaping_a_task_does_not_end_the_process) {
    struct throwing_task : tk_thread_task {
        void run() override { throw tk_exception("boom", 1); }
    } task;
    task_thread thread(&task);
    thread.start();
    ASSERT_TRUE(wait_until([&] { return !thread.is_running(); }));
    thread.clean_up();
}

} // namespace
