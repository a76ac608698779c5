#pragma once

#include <exception>
#include <string>

// The failure family. Levels: 0 one item failed, the run may go on; 1 the run (or the console
// program) ends; 2 internal error, the program ends.
class tk_exception : public std::exception {
public:
    explicit tk_exception(int level);
    tk_exception(std::string message, int level);
    tk_exception(const std::u16string& message, int level);

    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& message() const noexcept { return m_message; }
    int code() const noexcept { return m_code; }
    void set_code(int code) noexcept { m_code = code; }
    int level() const noexcept { return m_level; }

protected:
    std::string m_message;
    int m_code = 0;
    int m_level;
};

// A failed system call: the code is errno, the system's description follows the text.
class tk_exception_ex : public tk_exception {
public:
    explicit tk_exception_ex(const std::string& text);
    tk_exception_ex(const std::string& text, int error_number);
};

// A broken internal expectation, located by a source name and a line.
class tk_mail_assertion : public tk_exception {
public:
    tk_mail_assertion(const char* source, int line);
};

// Raised by the wizard's error handler to end a run; carries nothing.
class tk_final_exception : public std::exception {
public:
    tk_final_exception();
    const char* what() const noexcept override { return "tk_final_exception"; }
};

#define TK_ASSERT(condition, source)                                                                         \
    do {                                                                                                     \
        if (!(condition)) throw tk_mail_assertion(source, __LINE__);                                         \
    } while (0)
