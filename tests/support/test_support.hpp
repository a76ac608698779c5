#pragma once

#include <functional>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

struct process_result {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program with arguments (no shell); env entries "NAME=value" are added to the
// environment, "NAME=" removes one. Working directory `cwd` when not empty.
// `started`, when given, is called with the child's process id once it runs.
process_result run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                           const std::string& cwd = {}, bool unprivileged = false,
                           const std::function<void(int)>& started = {});

// Runs `check` in a child process as an unprivileged user (root may write read-only files) and
// returns its answer. Without root it runs as the current user.
bool run_unprivileged(const std::function<bool()>& check);

// The FreeTDS ODBC driver's library, or empty when it is not installed.
std::string freetds_driver_path();

// The uid and gid tests use for an unprivileged user.
constexpr unsigned unprivileged_id = 65534;

} // namespace test_support
