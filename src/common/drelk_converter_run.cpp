#include "common/drelk_converter.hpp"

#include "MSS/mss_database.hpp"
#include "MSS/mss_engine.hpp"
#include "MSS/mss_table.hpp"
#include "MSS/odb_exception.hpp"
#include "MSS/odb_oledb.hpp"
#include "TK/error_handler.hpp"
#include "TK/tk_before_wait.hpp"
#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "UDB/csv_validator.hpp"
#include "common/csv_engine.hpp"
#include "common/csv_file.hpp"

#include <cerrno>
#include <chrono>
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

void report(const tk_exception& e, bool run_ending) {
    if (error_handler* handler = error_handler::instance()) handler->handle(e, run_ending);
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

bool mssql_converter_impl::connect_mssql_server() {
    TK_TRACE(1, "mssql_converter_impl::connect_mssql_server");
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
    else if (!m_silent) std::fprintf(stderr, "%s\n", text.c_str());
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
            std::printf("Converting database %s(%d tables)\n", shown(m_source).c_str(), tables_in_run.load());
            std::fflush(stdout);
        }
        validator = std::make_unique<csv_validator>(m_dest);
        int lost = 0; // connections lost during the current entry
        for (auto entry = m_selection.begin(); entry != m_selection.end();) {
            if (m_cancel) break;
            try {
                convert_entry(*db, *folder, *validator, entry->first, entry->second);
            } catch (const tk_exception& e) {
                if (m_cancel || !link_lost(e) || ++lost > reconnect_tries) throw;
                // The entry's file is gone with its writer; the entry starts again on a new
                // connection, and the tables already finished stay.
                db.reset();
                db = reconnect(e);
                continue;
            }
            lost = 0;
            ++tables_done;
            ++entry;
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
    std::string last = cause.message();
    for (int attempt = 0; attempt < reconnect_tries; ++attempt) {
        // In short steps, so that a cancel is not kept waiting.
        auto until = std::chrono::steady_clock::now() + reconnect_pause[attempt];
        while (!m_cancel && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (m_cancel) throw cause;
        TK_TRACE(3, "Connecting again (%d of %d)", attempt + 1, reconnect_tries);
        try {
            return engine().open_db(m_source, 1);
        } catch (const tk_exception& e) {
            if (e.level() >= 2) throw;
            last = e.message();
            TK_TRACE(3, "Connecting again failed: %s", last.c_str());
        }
    }
    set_context("");
    throw tk_exception("The connection to the server was lost and could not be made again: " + last, 1);
}

void drelk_converter::convert_entry(mss_database& db, csv_engine& folder, csv_validator& validator,
                                    const std::u16string& name, const std::u16string& text) {
    set_current_table(name);
    records_in_table = 0;
    records_converted = 0;
    std::unique_ptr<mss_table> source;
    std::unique_ptr<csv_file> writer;
    std::u16string registered;
    try {
        // A query is not a table of the database: only tables are looked up.
        if (m_console && text.empty() && !db.is_table_exist(name)) {
            TK_WTRACE(3, u"Table %s not exists", name.c_str());
            if (!m_silent) {
                std::fprintf(stderr, "Table %s not exists\n", shown(name).c_str());
                std::fflush(stderr);
            }
            return;
        }
        // Keys, indexes and column details only ever reach the trace: read them only for one
        // that shows them, each a request to the server per table.
        const int mode = tk_log::wants(2) ? 1 : 1 | 96 | mss_table::skip_column_details;
        source = text.empty() ? db.get_table(name, mode) : db.get_table(name, text, mode);
        if (source->schema().empty()) return;
        bool acceptable = validator.is_acceptable(name);
        std::u16string base = acceptable ? name : validator.get_safe_name(name);
        // Mode 1 replaces the old file only once the new one is whole.
        bool replace = false;
        if (folder.is_table_exist(base)) {
            if (m_mode == 2) return;
            replace = m_mode == 1;
        }
        std::u16string file = folder.get_full_file_name(base);
        char delim = delimiter_char(m_delimiter);
        if (m_include_fnames)
            writer = std::make_unique<csv_file>(file, delim, source->schema().field_names());
        else
            writer = std::make_unique<csv_file>(file, delim);
        if (!acceptable) {
            TK_WTRACE(2, u"Store generated table name '%s'", base.c_str());
            validator.add_existing_name(base);
        }
        validator.add_restricted_name(base);
        registered = base;
        records_in_table = source->records_count();
        TK_WTRACE(3, u"Converting table %s", name.c_str());
        if (m_console && !m_silent) {
            std::printf("Converting table %s\n", shown(name).c_str());
            std::fflush(stdout);
        }
        if (!m_only_definitions && !convert_records(*source, *writer, name)) {
            writer->discard();
            return;
        }
        writer->close();
        // Other spellings of the name (Orders.CSV beside orders.csv) go with the old file.
        if (replace) folder.delete_tab(base, true);
    } catch (const tk_exception& e) {
        if (m_cancel) {
            if (writer) writer->discard();
            return;
        }
        // The run connects again and starts the entry over, under the same name; its writer
        // removes its file.
        if (link_lost(e)) {
            if (!registered.empty()) validator.forget_name(registered);
            throw;
        }
        set_context(shown(name));
        report(e, false);
    }
}

bool drelk_converter::convert_records(mss_table& source, csv_file& writer, const std::u16string& name) {
    // Records gathered for the file go out whenever the rows have to be waited for.
    tk_before_wait flushing(&csv_file::flush_before_wait, &writer);
    source.reset();
    while (!source.is_eof()) {
        if (m_cancel) return false;
        bool written = false;
        try {
            TK_TRACE(1, "Converting record #%d", records_converted + 1);
            writer.append_record(*source.get_item());
            written = true;
            ++records_converted;
            source.next();
        } catch (const tk_exception& e) {
            if (m_cancel) return false;
            if (link_lost(e)) throw;
            // The number of the record that failed to arrive or to be written.
            set_context(shown(name) + ", record #" + std::to_string(records_converted + 1));
            report(e, false);
            // A record the source could not deliver ends the table, and a half table is no file.
            if (e.level() == 0) return false;
            if (!written) ++records_converted;
            source.next();
        }
    }
    return true;
}
