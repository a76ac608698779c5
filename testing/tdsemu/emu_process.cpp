#include "tdsemu/emu_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tdsemu {

emu_process::emu_process(const std::string& program, const std::vector<std::string>& arguments) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    // The first line is the port; seeding a big script may take a while.
    std::string line;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        char c;
        ssize_t n = ::read(out[0], &c, 1);
        if (n <= 0 || c == '\n') break;
        line += c;
    }
    ::close(out[0]);
    long port = line.empty() ? 0 : std::strtol(line.c_str(), nullptr, 10);
    if (port <= 0 || port > 65535) {
        int status = stop();
        throw std::runtime_error(program + " did not report a port (exit status " + std::to_string(status) +
                                 ")");
    }
    m_port = static_cast<uint16_t>(port);
}

emu_process::~emu_process() {
    stop();
}

int emu_process::stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
    }
    return m_status;
}

} // namespace tdsemu
