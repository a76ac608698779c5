#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tdsemu {

struct emu_options {
    std::string host = "127.0.0.1";
    uint16_t port = 0;                   // 0: any free port
    std::vector<std::string> seed_files; // run in order
    std::string seed_text;               // run after the files
    std::vector<std::pair<std::string, std::string>> logins{{"sa", "Tabloxa-1"}};
    std::string version_text; // SELECT @@VERSION; empty: the 2019 text
    int version_major = 15, version_minor = 0, version_build = 4322;
    bool sp_databases = true; // false: refuse it as Azure SQL does
    bool azure = false;       // also refuses USE, as Azure SQL does
    int delay_ms = 0;         // wait before answering each SELECT
    int latency_ms = 0;       // wait before answering every request, as a network between adds
    struct generated_table {
        std::string database, table; // table may be owner.name
        int64_t rows;                // -1: endless
    };
    std::vector<generated_table> generated_tables;
    std::string data_dir; // where the SQLite files go; empty: a temporary folder, removed at stop
    bool verbose = false; // one line per request on stderr
};

// Sets the version text and number of a named server: 2000, 2005, 2008R2, 2012, 2014, 2019, 2022, azure.
bool apply_version_preset(emu_options& options, const std::string& name);

struct emu_state;

// A TDS 7.4 server on a loopback port, answering from SQLite databases built from the seed.
class emu_server {
public:
    explicit emu_server(emu_options options); // seeds and listens; throws std::runtime_error
    ~emu_server();
    emu_server(const emu_server&) = delete;
    emu_server& operator=(const emu_server&) = delete;

    uint16_t port() const { return m_port; }
    // Closes the listener and every connection, and waits for them.
    void stop();

private:
    void accept_loop();

    std::unique_ptr<emu_state> m_state;
    int m_listen_fd = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
    std::mutex m_mutex;
    struct connection {
        int fd;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::vector<connection> m_connections;
    std::atomic<bool> m_stopping{false};
    bool m_own_dir = false;
};

} // namespace tdsemu
