#include "TK/tk_exception.hpp"

#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include <cerrno>
#include <cstring>

namespace {
const char unknown_exception[] = "Unknown exception";
}

tk_exception::tk_exception(int level) : m_message(unknown_exception), m_level(level) {}

tk_exception::tk_exception(std::string message, int level)
    : m_message(message.empty() ? std::string(unknown_exception) : std::move(message)), m_level(level) {}

tk_exception::tk_exception(const std::u16string& message, int level) : m_level(level) {
    m_message = tk_to_ansi_lossy(message);
    if (m_message.empty()) m_message = unknown_exception;
}

tk_exception_ex::tk_exception_ex(const std::string& text) : tk_exception_ex(text, errno) {}

tk_exception_ex::tk_exception_ex(const std::string& text, int error_number) : tk_exception(1) {
    const char* description = std::strerror(error_number);
    TK_TRACE(2, "GetLastError: %s", description);
    m_code = error_number;
    m_message = text + description;
}

tk_mail_assertion::tk_mail_assertion(const char* source, int line) : tk_exception(2) {
    TK_TRACE(2, "tk_mail_assertion::ctor(%s)", source);
    std::string location = std::string(source) + "\\" + std::to_string(line);
    static const char digits[] = "0123456789abcdef";
    m_message = "Internal error: \ncode=";
    for (unsigned char c : location) {
        m_message += digits[c >> 4];
        m_message += digits[c & 15];
    }
}

tk_final_exception::tk_final_exception() {
    TK_TRACE(2, "tk_final_exception::ctor");
}
