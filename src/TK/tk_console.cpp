#include "TK/tk_console.hpp"

#include <mutex>

namespace {
std::mutex console_lock;
bool status_shown = false;
bool status_ended = false;

// Carriage return, then erase to the end of the line.
void clear_status() {
    if (!status_shown) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    status_shown = false;
}
} // namespace

void tk_console_write(std::FILE* stream, const std::string& text) {
    std::lock_guard<std::mutex> guard(console_lock);
    clear_status();
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void tk_console_status(const std::string& line) {
    std::lock_guard<std::mutex> guard(console_lock);
    if (status_ended) return;
    if (line.empty()) {
        clear_status();
        return;
    }
    std::fputs("\r", stderr);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputs("\x1b[K", stderr);
    std::fflush(stderr);
    status_shown = true;
}

void tk_console_end_status() {
    std::lock_guard<std::mutex> guard(console_lock);
    clear_status();
    status_ended = true;
}
