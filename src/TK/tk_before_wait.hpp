#pragma once

// What a thread does before it blocks until another thread gives it work: a writer hands its
// gathered records to the file, so that what was read never waits on a slow server. One action a
// thread, set for the life of a tk_before_wait.
class tk_before_wait {
public:
    using action = void (*)(void* context) noexcept;

    tk_before_wait(action what, void* context) noexcept;
    ~tk_before_wait();
    tk_before_wait(const tk_before_wait&) = delete;
    tk_before_wait& operator=(const tk_before_wait&) = delete;

    // Runs the calling thread's action, if any.
    static void run() noexcept;

private:
    action m_previous;
    void* m_previous_context;
};
