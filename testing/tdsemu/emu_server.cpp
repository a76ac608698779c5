#include "tdsemu/emu_server.hpp"

#include "tdsemu/emu_session.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tdsemu {

namespace {

struct preset {
    const char* name;
    const char* text;
    int major, minor, build;
};

const preset presets[] = {
    {"2000",
     "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38 \n\tCopyright (c) "
     "1988-2003 "
     "Microsoft Corporation\n\tStandard Edition on Windows NT 5.2 (Build 3790: Service Pack 2)\n",
     8, 0, 2039},
    {"2005",
     "Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86) \n\tDec 10 2010 10:56:29 \n\tCopyright (c) "
     "1988-2005 "
     "Microsoft Corporation\n\tExpress Edition on Windows NT 5.1 (Build 2600: Service Pack 3)\n",
     9, 0, 5000},
    {"2008R2",
     "Microsoft SQL Server 2008 R2 (SP3) - 10.50.6000.34 (X64) \n\tAug 19 2014 12:21:34 \n\tCopyright (c) "
     "Microsoft Corporation\n\tStandard Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack "
     "1)\n",
     10, 50, 6000},
    {"2012",
     "Microsoft SQL Server 2012 (SP4) (KB4018073) - 11.0.7001.0 (X64) \n\tAug 15 2017 10:23:29 \n\tCopyright "
     "(c) "
     "Microsoft Corporation\n\tStandard Edition (64-bit) on Windows NT 6.3 <X64> (Build 9600: )\n",
     11, 0, 7001},
    {"2014",
     "Microsoft SQL Server 2014 (SP3) (KB4022619) - 12.0.6024.0 (X64) \n\tSep  7 2018 01:37:51 \n\tCopyright "
     "(c) "
     "Microsoft Corporation\n\tStandard Edition (64-bit) on Windows NT 6.3 <X64> (Build 9600: ) "
     "(Hypervisor)\n",
     12, 0, 6024},
    {"2019",
     "Microsoft SQL Server 2019 (RTM-CU22) (KB5027702) - 15.0.4322.2 (X64) \n\tJul 27 2023 18:11:00 "
     "\n\tCopyright "
     "(C) 2019 Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Debian GNU/Linux 12 (bookworm)) "
     "<X64>",
     15, 0, 4322},
    {"2022",
     "Microsoft SQL Server 2022 (RTM-CU10) (KB5031778) - 16.0.4095.4 (X64) \n\tOct 30 2023 16:12:44 "
     "\n\tCopyright "
     "(C) 2022 Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (Debian GNU/Linux 12 (bookworm)) "
     "<X64>",
     16, 0, 4095},
    {"azure",
     "Microsoft SQL Azure (RTM) - 12.0.2000.8 \n\tOct  2 2023 12:58:11 \n\tCopyright (C) 2022 Microsoft "
     "Corporation\n",
     12, 0, 2000},
};

std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the seed script " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

bool apply_version_preset(emu_options& options, const std::string& name) {
    for (const auto& p : presets)
        if (iequals(name, p.name)) {
            options.version_text = p.text;
            options.version_major = p.major;
            options.version_minor = p.minor;
            options.version_build = p.build;
            if (iequals(name, "azure")) {
                options.azure = true;
                options.sp_databases = false;
            }
            return true;
        }
    return false;
}

emu_server::emu_server(emu_options options) : m_state(std::make_unique<emu_state>()) {
    if (options.version_text.empty()) {
        emu_options defaults;
        apply_version_preset(defaults, "2019");
        options.version_text = defaults.version_text;
    }
    m_state->options = std::move(options);
    const emu_options& o = m_state->options;
    std::string folder = o.data_dir;
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tdsemu-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw std::runtime_error("cannot create a temporary folder: " +
                                     std::string(std::strerror(errno)));
        folder = buf.data();
        m_own_dir = true;
    } else {
        std::filesystem::create_directories(folder);
    }
    m_state->folder = folder;
    try {
        m_state->catalog = std::make_unique<emu_catalog>(folder);
        for (const auto& f : o.seed_files) m_state->catalog->load_seed(read_text_file(f));
        if (!o.seed_text.empty()) m_state->catalog->load_seed(o.seed_text);
        for (const auto& g : o.generated_tables)
            m_state->catalog->add_generated_table(g.database, g.table, g.rows);
        m_state->catalog->finish();

        m_listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen_fd < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
        int yes = 1;
        ::setsockopt(m_listen_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(o.port);
        if (::inet_pton(AF_INET, o.host.c_str(), &addr.sin_addr) != 1)
            throw std::runtime_error("bad host address " + o.host);
        if (::bind(m_listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("cannot listen on port " + std::to_string(o.port) + ": " +
                                     std::strerror(errno));
        if (::listen(m_listen_fd, 64) != 0)
            throw std::runtime_error("listen: " + std::string(std::strerror(errno)));
        socklen_t len = sizeof addr;
        ::getsockname(m_listen_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    } catch (...) {
        if (m_listen_fd >= 0) ::close(m_listen_fd);
        m_state->catalog.reset();
        if (m_own_dir) {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
        throw;
    }
    m_acceptor = std::thread([this] { accept_loop(); });
}

emu_server::~emu_server() {
    stop();
}

void emu_server::accept_loop() {
    while (!m_stopping) {
        pollfd p{m_listen_fd, POLLIN, 0};
        int n = ::poll(&p, 1, 100);
        {
            // Reap connections that ended by themselves.
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_connections.begin(); it != m_connections.end();) {
                if (*it->finished) {
                    it->thread.join();
                    ::close(it->fd);
                    it = m_connections.erase(it);
                } else {
                    ++it;
                }
            }
        }
        if (n <= 0) continue;
        int fd = ::accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            ::close(fd);
            break;
        }
        auto finished = std::make_shared<std::atomic<bool>>(false);
        emu_state* state = m_state.get();
        m_connections.push_back(connection{fd, std::thread([state, fd, finished] {
                                               {
                                                   emu_session session(*state, fd);
                                                   session.run();
                                               }
                                               ::shutdown(fd, SHUT_RDWR);
                                               *finished = true;
                                           }),
                                           finished});
    }
}

void emu_server::stop() {
    if (m_stopping.exchange(true)) return;
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<connection> connections;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        connections.swap(m_connections);
    }
    for (auto& c : connections) ::shutdown(c.fd, SHUT_RDWR);
    for (auto& c : connections) {
        c.thread.join();
        ::close(c.fd);
    }
    if (m_listen_fd >= 0) ::close(m_listen_fd);
    m_listen_fd = -1;
    m_state->catalog.reset();
    if (m_own_dir) {
        std::error_code ec;
        std::filesystem::remove_all(m_state->folder, ec);
    }
}

} // namespace tdsemu
