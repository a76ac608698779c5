#include "common/drelk_converter.hpp"

#include "MSS/mss_database.hpp"
#include "MSS/mss_engine.hpp"
#include "MSS/mss_table.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/odb_oledb.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_before_wait.hpp"
#include "TK/tk_console.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "UDB/csv_validator.hpp"
#include "common/csv_engine.hpp"
#include "common/csv_file.hpp"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Console text: '?' may stand for a character the locale cannot show.
std::string shown(const std::u16string& text) {
    return tk_to_ansi_lossy(text);
}

void set_context(const std::string& context) {
    if (error_handler* handler = error_handler::instance()) handler->set_context(context);
}

// The report's form of an error: one line, as the console shows it.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

void report(const tk_exception& e, bool run_ending) {
    if (error_handler* handler = error_handler::instance()) handler->handle(e, run_ending);
}

// One context and its report at a time: jobs report from several threads.
std::recursive_mutex report_lock;

void report_in(const std::string& context, const tk_exception& e) {
    std::lock_guard<std::recursive_mutex> guard(report_lock);
    set_context(context);
    report(e, false);
}

bool link_lost(const tk_exception& e) {
    const auto* failure = dynamic_cast<const odb_exception*>(&e);
    return failure && failure->link_lost();
}

// A lost server is tried again this often, after these pauses (it may be restarting).
constexpr int reconnect_tries = 3;
constexpr std::chrono::milliseconds reconnect_pause[reconnect_tries] = {
    std::chrono::milliseconds(500), std::chrono::milliseconds(2000), std::chrono::milliseconds(5000)};
} // namespace

// Entries name their files in the order of the run, whichever job converts them, so that the
// names (and so the files) are those one job gives. An entry waits for its turn only to name its
// file; one that ends before naming passes its turn without waiting.
class drelk_entry_turns {
public:
    explicit drelk_entry_turns(size_t count) : m_passed(count, false) {}

    void wait(size_t entry) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait(guard, [&] { return m_next == entry; });
    }
    void pass(size_t entry) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_passed[entry]) return;
        m_passed[entry] = true;
        while (m_next < m_passed.size() && m_passed[m_next]) ++m_next;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<bool> m_passed;
    size_t m_next = 0;
};

bool mssql_converter_impl::connect_mssql_server() {
    TK_TRACE(1, "mssql_converter_impl::connect_mssql_server");
    long timeout = login_timeout();
    if (timeout < 0) throw tk_exception("Invalid login timeout", 1);
    engine().set_login_timeout(timeout);
    if (m_windows_auth)
        engine().connect(m_host, true);
    else
        engine().connect(m_host, m_user, m_password, true);
    return true;
}

bool drelk_converter::test_query(const std::u16string& text) {
    TK_TRACE(2, "mssql_converter_impl::test_query");
    std::unique_ptr<mss_database> db = engine().open_db(m_source, 1);
    return db->test_query(text);
}

void drelk_converter::get_all_tables(std::vector<std::u16string>& names) {
    TK_TRACE(1, "drelk_converter::get_all_tables");
    std::unique_ptr<mss_database> db = engine().open_db(m_source, 0x21);
    names = db->tables();
}

void drelk_converter::check_dest() {
    TK_WTRACE(1, u"drelk_converter::check_dest(%s)", m_dest.c_str());
    m_empty_dest = false;
    if (tk_is_path_exist(m_dest)) {
        // Emptied by the run once the source database is open: a misspelled database or a
        // login that cannot read it must not cost the last export.
        m_empty_dest = m_mode == 0;
        return;
    }
    if (tk_is_file_exist(m_dest, 0x4000))
        throw tk_exception("You should enter path to CSV folder, not a file name", 1);
    // A folder that is there but may not be entered is no folder to create.
    std::string narrow;
    struct stat st;
    if (tk_to_ansi(m_dest, narrow) && ::stat(narrow.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        ::access(narrow.c_str(), X_OK) != 0)
        throw tk_exception_ex("The folder " + narrow + " cannot be entered: ");
    common_create_path(m_dest);
}

void drelk_converter::report_run_failure(const std::string& text) {
    if (error_handler* handler = error_handler::instance()) handler->report_failure(text);
    else if (!m_silent) tk_console_write(stderr, text + "\n");
}

void drelk_converter::request_cancel() {
    TK_TRACE(3, "Conversion cancelled");
    m_cancel = true;
    odb_cancel_running();
}

void drelk_converter::operator()() {
    TK_TRACE(2, "drelk_converter::operator()");
    m_run_failed = false;
    m_cancel = false;
    {
        std::lock_guard<std::mutex> guard(m_outcomes_lock);
        m_outcomes.clear();
    }
    // A cancel refuses new statements until the run is over; the next work may use the server.
    struct allow_statements {
        allow_statements() { odb_allow_running(); }
        ~allow_statements() { odb_allow_running(); }
    } allowed;
    init_conversion marker(finished_flag());
    // Declared after the marker: released before its end line is written.
    std::unique_ptr<mss_database> db;
    std::unique_ptr<csv_engine> folder;
    std::unique_ptr<csv_validator> validator;
    try {
        db = engine().open_db(m_source, 1);
        if (m_empty_dest) {
            TK_TRACE(1, "Overwrite entire folder");
            m_empty_dest = false;
            csv_engine(m_dest).delete_all_tables();
        }
        folder = std::make_unique<csv_engine>(m_dest);
        folder->remove_leftovers();
        if (m_console && m_selected_names.empty() && m_selection.empty()) m_selected_names = db->tables();
        for (const std::u16string& name : m_selected_names) m_selection.emplace(name, std::u16string());
        tables_in_run = static_cast<int>(m_selection.size());
        TK_WTRACE(3, u"Converting database %s (%d tables)", m_source.c_str(), tables_in_run.load());
        if (m_console && !m_silent) {
            tk_console_write(stdout, "Converting database " + shown(m_source) + "(" +
                                         std::to_string(tables_in_run.load()) + " tables)\n");
        }
        validator = std::make_unique<csv_validator>(m_dest);
        if (m_jobs > 1 && m_selection.size() > 1)
            run_jobs(std::move(db), *folder, *validator);
        else
            for (const auto& [name, text] : m_selection) {
                if (m_cancel) break;
                std::u16string named;
                for (int lost = 0;; ++lost) {
                    try {
                        convert_entry(*db, *folder, *validator, name, text, named);
                        break;
                    } catch (const tk_exception& e) {
                        if (m_cancel || !link_lost(e) || lost == reconnect_tries) throw;
                        // The entry's file went with its writer; it starts again on a new
                        // connection, and the tables already finished stay.
                        db.reset();
                        db = reconnect(e);
                    }
                }
                ++tables_done;
            }
        set_context("");
        tables_in_run = 0;
        tables_done = 0;
    } catch (const tk_final_exception&) {
        // The wizard's handler ended the run; it has said why.
    } catch (const tk_exception& e) {
        // A cancelled statement fails; that is no error of the run.
        if (m_cancel) return;
        m_run_failed = true;
        report(e, true);
    } catch (const std::exception& e) {
        if (m_cancel) return;
        m_run_failed = true;
        TK_TRACE(3, "ERROR:\n%s", e.what());
        report_run_failure(e.what());
    }
}

std::unique_ptr<mss_database> drelk_converter::reconnect(const tk_exception& cause) {
    TK_TRACE(3, "The connection to the server was lost: %s", cause.message().c_str());
    // Jobs that lost theirs at once connect again one at a time.
    static std::mutex connecting;
    std::string last = cause.message();
    for (int attempt = 0; attempt < reconnect_tries; ++attempt) {
        // In short steps, so that a cancel is not kept waiting.
        auto until = std::chrono::steady_clock::now() + reconnect_pause[attempt];
        while (!m_cancel && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (m_cancel) throw cause;
        TK_TRACE(3, "Connecting again (%d of %d)", attempt + 1, reconnect_tries);
        try {
            std::lock_guard<std::mutex> guard(connecting);
            return engine().open_db(m_source, 1);
        } catch (const tk_exception& e) {
            if (e.level() >= 2) throw;
            last = e.message();
            TK_TRACE(3, "Connecting again failed: %s", last.c_str());
        }
    }
    throw tk_exception("The connection to the server was lost and could not be made again: " + last, 1);
}

void drelk_converter::run_jobs(std::unique_ptr<mss_database> first, csv_engine& folder, csv_validator& validator) {
    std::vector<const udb_selection::value_type*> entries;
    for (const auto& entry : m_selection) entries.push_back(&entry);
    const size_t count = std::min(entries.size(), static_cast<size_t>(m_jobs));
    TK_TRACE(3, "Converting with %d jobs", static_cast<int>(count));
    // Each job on a connection of its own, all opened before any starts.
    std::vector<std::unique_ptr<mss_database>> databases;
    databases.push_back(std::move(first));
    while (databases.size() < count) databases.push_back(engine().open_db(m_source, 1));
    records_in_table = 0;
    records_converted = 0;
    drelk_entry_turns turns(entries.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::atomic<bool> ended{false};
    std::mutex failure_lock;
    std::exception_ptr failure;
    auto job = [&](std::unique_ptr<mss_database>& db) {
        for (;;) {
            size_t at = next++;
            if (at >= entries.size()) return;
            if (m_cancel || failed) {
                turns.pass(at);
                continue;
            }
            std::u16string named;
            try {
                for (int lost = 0;; ++lost) {
                    try {
                        convert_entry(*db, folder, validator, entries[at]->first, entries[at]->second, named,
                                      &turns, at);
                        break;
                    } catch (const tk_exception& e) {
                        if (m_cancel || failed || !link_lost(e) || lost == reconnect_tries) throw;
                        // This job's connection only: the entry starts again on a new one.
                        db.reset();
                        db = reconnect(e);
                    }
                }
            } catch (const tk_final_exception&) {
                // The wizard's handler ended the run: every job stops, quietly.
                turns.pass(at);
                ended = true;
                failed = true;
            } catch (const std::exception&) {
                // A server that cannot be reached again, or something outside the toolkit's
                // family (out of memory): every job stops, the run fails with the first.
                turns.pass(at);
                std::lock_guard<std::mutex> guard(failure_lock);
                if (!failed.exchange(true)) failure = std::current_exception();
            }
            ++tables_done;
        }
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < count; ++i) threads.emplace_back(job, std::ref(databases[i]));
    job(databases[0]);
    for (std::thread& thread : threads) thread.join();
    if (ended) throw tk_final_exception();
    // A cancel during a reconnect is no failure.
    if (failure && !m_cancel) std::rethrow_exception(failure);
}

void drelk_converter::convert_entry(mss_database& db, csv_engine& folder, csv_validator& validator,
                                    const std::u16string& name, const std::u16string& text,
                                    std::u16string& named, drelk_entry_turns* turns, size_t turn) {
    // The turn is passed however the entry ends.
    struct turn_guard {
        drelk_entry_turns* turns;
        size_t turn;
        ~turn_guard() {
            if (turns) turns->pass(turn);
        }
    } guard{turns, turn};
    const bool single = turns == nullptr;
    set_current_table(name);
    if (single) {
        records_in_table = 0;
        records_converted = 0;
    }
    int converted = 0;
    int counted_in_run = 0;
    bool closed = false;
    std::unique_ptr<mss_table> source;
    std::unique_ptr<csv_file> writer;
    drelk_outcome outcome;
    outcome.name = name;
    outcome.query = !text.empty();
    const auto started = std::chrono::steady_clock::now();
    // Recorded before an error is reported: the console's handler may end the process there.
    auto done = [&](drelk_outcome::kind what) {
        outcome.what = what;
        if (what != drelk_outcome::failed) outcome.error.clear();
        outcome.rows = converted;
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        struct stat st;
        if (!outcome.file.empty() && what != drelk_outcome::missing && ::stat(outcome.file.c_str(), &st) == 0)
            outcome.bytes = st.st_size;
        add_outcome(outcome);
    };
    try {
        // A query is not a table of the database: only tables are looked up.
        if (m_console && text.empty() && !db.is_table_exist(name)) {
            TK_WTRACE(3, u"Table %s not exists", name.c_str());
            done(drelk_outcome::missing);
            if (!m_silent) {
                tk_console_write(stderr, "Table " + shown(name) + " not exists\n");
            }
            return;
        }
        // Keys, indexes and column details only ever reach the trace: read them only for one
        // that shows them, each a request to the server per table.
        const int mode = tk_log::wants(2) ? 1 : 1 | 96 | mss_table::skip_column_details;
        source = text.empty() ? db.get_table(name, mode) : db.get_table(name, text, mode);
        if (source->schema().empty()) return done(drelk_outcome::skipped);
        // Started over after a lost connection: the name it had, its turn long passed.
        const bool again = !named.empty();
        if (turns && !again) turns->wait(turn);
        bool acceptable = again || validator.is_acceptable(name);
        std::u16string base = again ? named : acceptable ? name : validator.get_safe_name(name);
        // Mode 2 keeps a file of the kind this run writes; mode 1 replaces every kind, only once
        // the new file is whole.
        if (m_mode == 2 && folder.is_table_exist(base, m_compression)) {
            outcome.file = tk_to_utf8(folder.get_full_file_name(base, m_compression));
            return done(drelk_outcome::skipped);
        }
        const bool replace = m_mode == 1 && folder.is_table_exist(base);
        std::u16string file = folder.get_full_file_name(base, m_compression);
        tk_to_ansi(file, outcome.file);
        char delim = delimiter_char(m_delimiter);
        if (m_include_fnames)
            writer = std::make_unique<csv_file>(file, delim, source->schema().field_names(), m_compression);
        else
            writer = std::make_unique<csv_file>(file, delim, m_compression);
        if (!again) {
            if (!acceptable) {
                TK_WTRACE(2, u"Store generated table name '%s'", base.c_str());
                validator.add_existing_name(base);
            }
            validator.add_restricted_name(base);
            named = base;
        }
        if (turns) turns->pass(turn);
        counted_in_run = source->records_count();
        if (single)
            records_in_table = counted_in_run;
        else
            records_in_table += counted_in_run;
        TK_WTRACE(3, u"Converting table %s", name.c_str());
        if (m_console && !m_silent) {
            tk_console_write(stdout, "Converting table " + shown(name) + "\n");
        }
        if (!m_only_definitions && !convert_records(*source, *writer, name, outcome.error, converted, single)) {
            writer->discard();
            if (m_cancel) return;
            // A record the source could not deliver: a half table is no file.
            outcome.file.clear();
            return done(drelk_outcome::failed);
        }
        writer->close();
        closed = true;
        // Other spellings and kinds of the name (Orders.CSV beside orders.csv) go with the old file.
        if (replace) folder.delete_tab(base, m_compression);
        done(outcome.error.empty() ? drelk_outcome::converted : drelk_outcome::failed);
    } catch (const tk_exception& e) {
        if (m_cancel) {
            if (writer) writer->discard();
            return;
        }
        // The run connects again and starts the entry over; its writer removes its file, and
        // what it added to the run's counts is taken back.
        if (link_lost(e)) {
            // Not named yet: the entry keeps its turn to name its file when it starts again.
            if (named.empty()) guard.turns = nullptr;
            if (!single) {
                records_in_table -= counted_in_run;
                records_converted -= converted;
            }
            throw;
        }
        if (outcome.error.empty()) outcome.error = one_line(e.message());
        // No file of it stays unless it was closed whole.
        if (!closed) outcome.file.clear();
        done(drelk_outcome::failed);
        report_in(shown(name), e);
    }
}

bool drelk_converter::convert_records(mss_table& source, csv_file& writer, const std::u16string& name,
                                      std::string& first_error, int& records, bool single) {
    // One job shows its table's records; several add theirs to the run's.
    auto counted = [&] {
        ++records;
        if (single)
            records_converted = records;
        else
            ++records_converted;
    };
    // Records gathered for the file go out whenever the rows have to be waited for.
    tk_before_wait flushing(&csv_file::flush_before_wait, &writer);
    source.reset();
    while (!source.is_eof()) {
        if (m_cancel) return false;
        bool written = false;
        try {
            TK_TRACE(1, "Converting record #%d", records + 1);
            writer.append_record(*source.get_item());
            written = true;
            counted();
            source.next();
        } catch (const tk_exception& e) {
            if (m_cancel) return false;
            if (link_lost(e)) throw;
            if (first_error.empty()) first_error = one_line(e.message());
            // The number of the record that failed to arrive or to be written.
            report_in(shown(name) + ", record #" + std::to_string(records + 1), e);
            // A record the source could not deliver ends the table, and a half table is no file.
            if (e.level() == 0) return false;
            if (!written) counted();
            source.next();
        }
    }
    return true;
}
