#pragma once

#include "TK/tk_singl.hpp"
#include "UDB/udb_converter.hpp"
#include "UDB/udb_profile.hpp"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class csv_engine;
class csv_file;
class csv_validator;
class drelk_entry_turns;
class mss_database;
class mss_engine;
class mss_table;
class tk_exception;

// The MS SQL half of the converter: how to reach the server. It owns the server engine.
class mssql_converter_impl {
public:
    mssql_converter_impl();
    virtual ~mssql_converter_impl();

    // Connects the engine with the stored host and login; failures raise.
    bool connect_mssql_server();
    mss_engine& engine() { return *m_engine; }

    bool windows_auth() const { return m_windows_auth; }
    void set_windows_auth(bool on) { m_windows_auth = on; }
    const std::u16string& host() const { return m_host; }
    void set_host(const std::u16string& host) { m_host = host; }
    const std::u16string& user() const { return m_user; }
    void set_user(const std::u16string& user) { m_user = user; }
    const std::u16string& password() const { return m_password; }
    void set_password(const std::u16string& password) { m_password = password; }

    // Connect as the database owner, kept by the server engine.
    bool as_dbo() const;
    void set_as_dbo(bool on);

    // Seconds each connection attempt may take (0: no limit): the profile's "login timeout", else
    // the environment's TABLOXA_LOGIN_TIMEOUT, else 15. -1 when the value in force is no such number.
    long login_timeout() const;
    void set_login_timeout(const std::u16string& seconds) { m_login_timeout = seconds; }

    bool load_profile(const udb_profile& profile);
    void store_profile(udb_profile& profile) const;

protected:
    std::unique_ptr<mss_engine> m_engine;
    bool m_windows_auth = false;
    std::u16string m_host;
    std::u16string m_user;
    std::u16string m_password;
    // As the profile gave it; empty: not given.
    std::u16string m_login_timeout;
};

// What became of one entry of a run, as the run report tells it.
struct drelk_outcome {
    enum kind { converted, failed, missing, skipped };
    std::u16string name;
    bool query = false;
    std::string file; // the file written (or kept, when skipped); empty when none
    long long rows = 0;
    long long bytes = 0;
    double seconds = 0;
    kind what = converted;
    std::string error; // the first error's text, when failed
};

// How the CSV files are compressed.
enum drelk_compression { compress_none = 0, compress_gz = 1, compress_zst = 2 };

// The one converter of the system: MS SQL source, CSV destination.
class drelk_converter : public udb_converter, public mssql_converter_impl, public tk_single<drelk_converter> {
public:
    using tk_single<drelk_converter>::instance;
    using tk_single<drelk_converter>::get;
    using udb_converter::load_profile;
    using udb_converter::store_profile;

    drelk_converter();
    ~drelk_converter() override;

    // Runs the conversion of the whole selection; everything it reports goes through the error
    // handler. run_failed() tells whether the run as a whole failed.
    void operator()() override;
    bool run_failed() const { return m_run_failed; }
    // Prepares the destination folder: created when missing; in mode 0 the next run empties it
    // once the source database is open.
    void check_dest();
    // Every table of the source database, as the catalog lists them.
    void get_all_tables(std::vector<std::u16string>& names);
    // True when the statement runs on the source database.
    bool test_query(const std::u16string& text);
    // The console agent's behaviour: every table when nothing is selected, missing tables
    // reported on the console, progress lines.
    void set_console(bool on) { m_console = on; }
    // From another thread: the run stops at once, between two records or by cancelling the
    // statement the server runs; the file being written is removed, finished files stay.
    void request_cancel();
    bool cancel_requested() const { return m_cancel; }

    bool load_all(const udb_profile& profile) override;
    void store_all(udb_profile& profile) const override;
    bool load_csv_settings(const udb_profile& profile);
    void store_csv_settings(udb_profile& profile) const;

    bool include_fnames() const { return m_include_fnames; }
    void set_include_fnames(bool on) { m_include_fnames = on; }
    int delimiter() const { return m_delimiter; }
    void set_delimiter(int code) { m_delimiter = code; }
    // The delimiter character of a code 0 to 2.
    static char delimiter_char(int code);
    bool blob_to_text() const { return m_blob_to_text; }
    void set_blob_to_text(bool on) { m_blob_to_text = on; }

    // Settings of the console agent's own options (profile keys under "Generic settings").
    bool strict() const { return m_strict; }
    void set_strict(bool on) { m_strict = on; }
    const std::u16string& report_file() const { return m_report_file; }
    void set_report_file(const std::u16string& path) { m_report_file = path; }
    bool all_schemas() const;
    void set_all_schemas(bool on);
    int jobs() const { return m_jobs; }
    void set_jobs(int jobs) { m_jobs = jobs; }
    int compression() const { return m_compression; }
    void set_compression(int kind) { m_compression = kind; }
    // "gz", "zst" or "" for none; false for any other text.
    static bool compression_from_text(const std::u16string& text, int& kind);
    static const char* compression_text(int kind);

    // The entries of the last run as they ended, in the order they ended.
    std::vector<drelk_outcome> outcomes() const;
    // True when an entry of the last run failed or was missing.
    bool any_entry_failed() const;

protected:
    // A failure outside the per-table steps; the console writes it on standard error.
    virtual void report_run_failure(const std::string& text);

    bool m_console = false;
    std::atomic<bool> m_cancel{false};
    bool m_run_failed = false;
    bool m_empty_dest = false;
    bool m_blob_to_text = false;
    bool m_include_fnames = true;
    int m_delimiter = 1;
    bool m_strict = false;
    std::u16string m_report_file;
    int m_compression = compress_none;
    int m_jobs = 1;

private:
    void add_outcome(drelk_outcome outcome);

    mutable std::mutex m_outcomes_lock;
    std::vector<drelk_outcome> m_outcomes;

    // After a lost connection: opens the source database again, after a short pause, at most a
    // few times; then a level-1 failure of the whole run.
    std::unique_ptr<mss_database> reconnect(const tk_exception& cause);
    // Entries taken in turn by several jobs, each on a database (connection) of its own.
    void run_jobs(std::unique_ptr<mss_database> first, csv_engine& folder, csv_validator& validator);
    // One entry; with turns, it names its file in the run's order. The file's base name is kept
    // in `named`: an entry started over after a lost connection keeps it.
    void convert_entry(mss_database& db, csv_engine& folder, csv_validator& validator,
                       const std::u16string& name, const std::u16string& text, std::u16string& named,
                       drelk_entry_turns* turns = nullptr, size_t turn = 0);
    // False when the table did not arrive whole (cancelled, or a record the source failed).
    bool convert_records(mss_table& source, csv_file& writer, const std::u16string& name,
                         std::string& first_error, int& records, bool single);
};
