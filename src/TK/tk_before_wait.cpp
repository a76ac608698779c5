#include "TK/tk_before_wait.hpp"

namespace {
thread_local tk_before_wait::action current = nullptr;
thread_local void* current_context = nullptr;
} // namespace

tk_before_wait::tk_before_wait(action what, void* context) noexcept
    : m_previous(current), m_previous_context(current_context) {
    current = what;
    current_context = context;
}

tk_before_wait::~tk_before_wait() {
    current = m_previous;
    current_context = m_previous_context;
}

void tk_before_wait::run() noexcept {
    if (current) current(current_context);
}
