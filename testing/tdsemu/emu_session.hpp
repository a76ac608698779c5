#pragma once

#include "tdsemu/emu_catalog.hpp"
#include "tdsemu/emu_server.hpp"
#include "tdsemu/sql_type.hpp"

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tdsemu {

struct emu_state {
    emu_options options;
    std::unique_ptr<emu_catalog> catalog;
    std::string folder;
    mutable std::atomic<int> next_spid{51};
    mutable std::atomic<long> requests{0}; // of every session, counted in the verbose log
};

// One client connection: pre-login, login, then batches, RPCs and attention until the client leaves.
class emu_session {
public:
    emu_session(const emu_state& state, int fd);
    ~emu_session();
    emu_session(const emu_session&) = delete;
    emu_session& operator=(const emu_session&) = delete;

    void run();

private:
    struct proc_result; // result sets of a catalog procedure
    enum class outcome { ok, error, attention };
    using params = std::map<std::string, std::optional<std::string>>; // lower-case name without '@'

    // wire
    bool read_message(unsigned& type, std::string& payload);
    void put_header(bool last, size_t length);
    void flush_partial();
    void end_message();
    bool attention_requested();
    void consume_attention();
    void done(unsigned token, unsigned status, unsigned curcmd, uint64_t rows);
    void message(bool error, int number, int cls, int state, const std::string& text,
                 const std::string& proc = {});
    void envchange(unsigned type, const std::string& new_value, const std::string& old_value);

    // requests
    void prelogin(const std::string& payload);
    bool login(const std::string& payload);
    void batch(const std::string& payload);
    void rpc(const std::string& payload);

    // statements
    outcome execute_statement(const std::string& text, bool last, bool in_proc);
    outcome run_sql(const std::string& text, bool last, bool in_proc);
    outcome run_exec(const std::string& text, bool last);
    outcome run_use(const std::string& name, bool last);
    outcome wait_for(const std::string& text, bool last, bool in_proc);
    outcome call_procedure(const std::string& name, const params& named,
                           const std::vector<std::optional<std::string>>& positional, bool last,
                           bool in_batch);
    outcome send_results(const proc_result& r, bool last, bool in_batch);
    outcome sqlite_error(int rc, bool last, bool in_proc);
    std::string substitute_variables(const std::string& text);
    std::vector<result_column> describe(sqlite3_stmt* st, const std::vector<cell>& first_row);

    // catalog procedures
    proc_result sp_databases();
    proc_result sp_tables(const database_def& db, const params& p, bool wildcard_catalog);
    proc_result sp_columns(const database_def& db, const params& p);
    proc_result sp_pkeys(const database_def& db, const params& p);
    proc_result sp_fkeys(const database_def& db, const params& p);
    proc_result sp_statistics(const database_def& db, const params& p);

    bool open_database(const database_def& db);
    std::optional<int64_t> row_count(const database_def& db, const table_def& t);
    static int authorize(void* self, int action, const char* a, const char* b, const char* dbname,
                         const char* trigger);
    static int progress(void* self);

    const emu_state& m_state;
    int m_fd;
    int m_spid;
    size_t m_packet_size = 4096;
    unsigned m_packet_id = 1;
    tds_buffer m_out;
    std::string m_wire; // packets on their way to the socket
    bool m_attention = false;
    bool m_closed = false;
    std::string m_user;
    const database_def* m_db = nullptr;
    sqlite3* m_sqlite = nullptr;
    const table_def* m_denied = nullptr;
    // SET FMTONLY ON: queries answer with their columns only (bulk-copy clients ask this way).
    bool m_fmtonly = false;
    std::map<int, std::string> m_prepared;
    int m_next_handle = 1;
};

} // namespace tdsemu
