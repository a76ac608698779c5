#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tdsemu {

// The emulator program run as a child process: started with its arguments, its port read from the first line
// it prints, stopped (SIGTERM, then waited for) on destruction.
class emu_process {
public:
    emu_process(const std::string& program, const std::vector<std::string>& arguments);
    ~emu_process();
    emu_process(const emu_process&) = delete;
    emu_process& operator=(const emu_process&) = delete;

    uint16_t port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // Stops the child and returns its exit status (128 + signal when killed).
    int stop();

private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    int m_status = -1;
};

} // namespace tdsemu
