#include "tdsemu/emu_catalog.hpp"

#include "tdsemu/sql_lexer.hpp"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <functional>

namespace tdsemu {

const column_def* table_def::find_column(const std::string& column) const {
    for (const auto& c : columns)
        if (iequals(c.name, column)) return &c;
    return nullptr;
}

const table_def* database_def::find_table(const std::string& owner, const std::string& name) const {
    for (const auto& t : tables)
        if (iequals(t.owner, owner) && iequals(t.name, name)) return &t;
    return nullptr;
}

namespace {

using tokens = std::vector<sql_token>;

std::string error_near(const tokens& t, size_t pos) {
    return pos < t.size() ? "near '" + t[pos].raw + "'" : "at the end of the statement";
}

struct cursor {
    const tokens& t;
    size_t pos = 0;
    bool at_end() const { return pos >= t.size(); }
    const sql_token& peek() const {
        static const sql_token end{};
        return pos < t.size() ? t[pos] : end;
    }
    bool accept(const char* word) {
        if (peek().is(word)) {
            ++pos;
            return true;
        }
        return false;
    }
    bool accept_punct(const char* p) {
        if (peek().k == sql_token::kind::punct && peek().text == p) {
            ++pos;
            return true;
        }
        return false;
    }
    void expect(const char* word) {
        if (!accept(word)) throw seed_error(std::string("expected ") + word + " " + error_near(t, pos));
    }
    void expect_punct(const char* p) {
        if (!accept_punct(p)) throw seed_error(std::string("expected '") + p + "' " + error_near(t, pos));
    }
    std::string ident() {
        if (!peek().is_ident()) throw seed_error("expected a name " + error_near(t, pos));
        return t[pos++].text;
    }
    // [db.][owner.]name
    void object_name(std::string& db, std::string& owner, std::string& name) {
        std::vector<std::string> parts{ident()};
        while (accept_punct(".")) parts.push_back(peek().text == "." ? std::string() : ident());
        if (parts.size() > 3) throw seed_error("too many name parts " + error_near(t, pos));
        name = parts.back();
        owner = parts.size() >= 2 && !parts[parts.size() - 2].empty() ? parts[parts.size() - 2] : "dbo";
        db = parts.size() == 3 ? parts[0] : std::string();
    }
    std::vector<std::string> name_list() {
        std::vector<std::string> out;
        expect_punct("(");
        do {
            out.push_back(ident());
            accept("ASC") || accept("DESC");
        } while (accept_punct(","));
        expect_punct(")");
        return out;
    }
    // Skips a balanced group or one token.
    void skip_one() {
        if (accept_punct("(")) {
            int depth = 1;
            while (!at_end() && depth > 0) {
                if (peek().text == "(" && peek().k == sql_token::kind::punct) ++depth;
                if (peek().text == ")" && peek().k == sql_token::kind::punct) --depth;
                ++pos;
            }
        } else {
            ++pos;
        }
    }
};

std::string generated_name(const char* prefix, const std::string& table, const std::string& salt) {
    uint64_t h = 1469598103934665603ULL;
    for (char c : table + "|" + salt) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(h));
    return std::string(prefix) + "__" + table.substr(0, 8) + "__" + hex;
}

// The server keeps defaults in brackets, numbers in two pairs: DEFAULT 0 reads back as ((0)).
std::string normalized_default(const std::string& expr) {
    std::string e = expr;
    while (e.size() >= 2 && e.front() == '(' && e.back() == ')') {
        int depth = 0;
        bool wraps = true;
        for (size_t k = 0; k < e.size(); ++k) {
            if (e[k] == '(') ++depth;
            if (e[k] == ')' && --depth == 0 && k + 1 < e.size()) wraps = false;
        }
        if (!wraps) break;
        e = e.substr(1, e.size() - 2);
    }
    bool number = !e.empty();
    for (size_t k = 0; k < e.size(); ++k)
        if (!(std::isdigit(static_cast<unsigned char>(e[k])) || e[k] == '.' ||
              (k == 0 && (e[k] == '-' || e[k] == '+'))))
            number = false;
    return number ? "((" + e + "))" : "(" + e + ")";
}

const char* const newid_sql =
    "(upper(hex(randomblob(4))||'-'||hex(randomblob(2))||'-'||hex(randomblob(2))||'-'||"
    "hex(randomblob(2))||'-'||hex(randomblob(6))))";

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown SQLite error";
        sqlite3_free(err);
        throw seed_error(msg);
    }
}

// ---- generated rows

struct gen_vtab {
    sqlite3_vtab base;
    int64_t rows;
};
struct gen_cursor {
    sqlite3_vtab_cursor base;
    int64_t row;
};

const char* const gen_schema =
    "CREATE TABLE x(id INTEGER, code TEXT, name TEXT, amount TEXT, price TEXT, ratio REAL, "
    "flag INTEGER, created TEXT, day TEXT, guid TEXT, note TEXT, data BLOB)";

int gen_connect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char**) {
    int rc = sqlite3_declare_vtab(db, gen_schema);
    if (rc != SQLITE_OK) return rc;
    auto* v = static_cast<gen_vtab*>(sqlite3_malloc(sizeof(gen_vtab)));
    if (!v) return SQLITE_NOMEM;
    std::memset(v, 0, sizeof *v);
    v->rows = argc > 3 ? std::atoll(argv[3]) : 0;
    *out = &v->base;
    return SQLITE_OK;
}
int gen_disconnect(sqlite3_vtab* v) {
    sqlite3_free(v);
    return SQLITE_OK;
}
int gen_best_index(sqlite3_vtab*, sqlite3_index_info* info) {
    info->estimatedCost = 1e9;
    return SQLITE_OK;
}
int gen_open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    auto* c = static_cast<gen_cursor*>(sqlite3_malloc(sizeof(gen_cursor)));
    if (!c) return SQLITE_NOMEM;
    std::memset(c, 0, sizeof *c);
    *out = &c->base;
    return SQLITE_OK;
}
int gen_close(sqlite3_vtab_cursor* c) {
    sqlite3_free(c);
    return SQLITE_OK;
}
int gen_filter(sqlite3_vtab_cursor* c, int, const char*, int, sqlite3_value**) {
    reinterpret_cast<gen_cursor*>(c)->row = 1;
    return SQLITE_OK;
}
int gen_next(sqlite3_vtab_cursor* c) {
    ++reinterpret_cast<gen_cursor*>(c)->row;
    return SQLITE_OK;
}
int gen_eof(sqlite3_vtab_cursor* c) {
    auto* v = reinterpret_cast<gen_vtab*>(c->pVtab);
    return v->rows >= 0 && reinterpret_cast<gen_cursor*>(c)->row > v->rows;
}
int gen_rowid(sqlite3_vtab_cursor* c, sqlite3_int64* out) {
    *out = reinterpret_cast<gen_cursor*>(c)->row;
    return SQLITE_OK;
}
int gen_column(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int col) {
    int64_t i = reinterpret_cast<gen_cursor*>(cur)->row;
    char buf[96];
    auto text = [&](const char* s) { sqlite3_result_text(ctx, s, -1, SQLITE_TRANSIENT); };
    int y, m, d;
    switch (col) {
    case 0:
        sqlite3_result_int64(ctx, i);
        break;
    case 1:
        std::snprintf(buf, sizeof buf, "C%08lld", static_cast<long long>(i));
        text(buf);
        break;
    case 2:
        std::snprintf(buf, sizeof buf, "Nom \xC3\xA9l\xC3\xA8ve \xE2\x84\x96%lld", static_cast<long long>(i));
        text(buf);
        break;
    case 3:
        std::snprintf(buf, sizeof buf, "%lld.%04lld", static_cast<long long>(i * 12345 / 10000),
                      static_cast<long long>(i * 12345 % 10000));
        text(buf);
        break;
    case 4:
        std::snprintf(buf, sizeof buf, "%lld.99", static_cast<long long>(i % 100000));
        text(buf);
        break;
    case 5:
        sqlite3_result_double(ctx, static_cast<double>(i) / 7.0);
        break;
    case 6:
        sqlite3_result_int(ctx, static_cast<int>(i % 2));
        break;
    case 7:
        civil_from_days(days_from_civil(2020, 1, 1) + i % 3650, y, m, d);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d,
                      static_cast<int>(i % 24), static_cast<int>(i % 60), static_cast<int>(i * 7 % 60),
                      static_cast<int>(i * 10 % 1000));
        text(buf);
        break;
    case 8:
        civil_from_days(days_from_civil(2000, 1, 1) + i % 10000, y, m, d);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
        text(buf);
        break;
    case 9:
        std::snprintf(buf, sizeof buf, "%08llX-0000-4000-8000-%012llX",
                      static_cast<unsigned long long>(i & 0xFFFFFFFF),
                      static_cast<unsigned long long>(i * 2654435761ULL & 0xFFFFFFFFFFFFULL));
        text(buf);
        break;
    case 10:
        if (i % 7 == 0) {
            sqlite3_result_null(ctx);
        } else {
            std::snprintf(buf, sizeof buf, "Note %lld; \"quoted\", line\nbreak", static_cast<long long>(i));
            text(buf);
        }
        break;
    default: {
        unsigned char b[16];
        for (int k = 0; k < 16; ++k) b[k] = static_cast<unsigned char>((i >> ((k % 8) * 8)) ^ (k * 17));
        sqlite3_result_blob(ctx, b, 16, SQLITE_TRANSIENT);
    }
    }
    return SQLITE_OK;
}

sqlite3_module gen_module = {
    0,          gen_connect, gen_connect, gen_best_index, gen_disconnect, gen_disconnect, gen_open, gen_close,
    gen_filter, gen_next,    gen_eof,     gen_column,     gen_rowid,      nullptr,        nullptr,  nullptr,
    nullptr,    nullptr,     nullptr,     nullptr,        nullptr,        nullptr,        nullptr,  nullptr};

// INFORMATION_SCHEMA views as the server types them.
struct info_column {
    const char* table;
    const char* column;
    const char* type;
    int length;
};
const info_column info_columns[] = {
    {"SCHEMATA", "CATALOG_NAME", "nvarchar", 128},
    {"SCHEMATA", "SCHEMA_NAME", "nvarchar", 128},
    {"SCHEMATA", "SCHEMA_OWNER", "nvarchar", 128},
    {"TABLES", "TABLE_CATALOG", "nvarchar", 128},
    {"TABLES", "TABLE_SCHEMA", "nvarchar", 128},
    {"TABLES", "TABLE_NAME", "nvarchar", 128},
    {"TABLES", "TABLE_TYPE", "varchar", 10},
    {"COLUMNS", "TABLE_CATALOG", "nvarchar", 128},
    {"COLUMNS", "TABLE_SCHEMA", "nvarchar", 128},
    {"COLUMNS", "TABLE_NAME", "nvarchar", 128},
    {"COLUMNS", "COLUMN_NAME", "nvarchar", 128},
    {"COLUMNS", "ORDINAL_POSITION", "int", 0},
    {"COLUMNS", "COLUMN_DEFAULT", "nvarchar", 4000},
    {"COLUMNS", "IS_NULLABLE", "varchar", 3},
    {"COLUMNS", "DATA_TYPE", "nvarchar", 128},
    {"COLUMNS", "CHARACTER_MAXIMUM_LENGTH", "int", 0},
    {"COLUMNS", "CHARACTER_OCTET_LENGTH", "int", 0},
    {"COLUMNS", "NUMERIC_PRECISION", "tinyint", 0},
    {"COLUMNS", "NUMERIC_PRECISION_RADIX", "smallint", 0},
    {"COLUMNS", "NUMERIC_SCALE", "int", 0},
    {"COLUMNS", "DATETIME_PRECISION", "smallint", 0},
    {"COLUMNS", "CHARACTER_SET_NAME", "nvarchar", 128},
    {"COLUMNS", "COLLATION_NAME", "nvarchar", 128},
    {"VIEWS", "TABLE_CATALOG", "nvarchar", 128},
    {"VIEWS", "TABLE_SCHEMA", "nvarchar", 128},
    {"VIEWS", "TABLE_NAME", "nvarchar", 128},
    {"VIEWS", "VIEW_DEFINITION", "nvarchar", 4000},
    {"VIEWS", "CHECK_OPTION", "varchar", 7},
    {"VIEWS", "IS_UPDATABLE", "varchar", 2},
};

} // namespace

namespace {

// A few of the server's built-in functions that SQLite lacks.
void fn_newid(sqlite3_context* ctx, int, sqlite3_value**) {
    unsigned char b[16];
    sqlite3_randomness(16, b);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    sqlite3_result_text(ctx, text, 36, SQLITE_TRANSIENT);
}

void fn_getutcdate(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3* db = sqlite3_context_db_handle(ctx);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT strftime('%Y-%m-%d %H:%M:%f','now')", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        sqlite3_result_text(ctx, reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), -1,
                            SQLITE_TRANSIENT);
    else
        sqlite3_result_null(ctx);
    sqlite3_finalize(st);
}

// DATALENGTH counts bytes as the server stores them: two per character for Unicode text.
void fn_datalength(sqlite3_context* ctx, int, sqlite3_value** argv) {
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        sqlite3_result_null(ctx);
        break;
    case SQLITE_BLOB:
        sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
        break;
    case SQLITE_TEXT: {
        std::string text(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                         sqlite3_value_bytes(argv[0]));
        sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(utf16le_bytes(text).size()));
        break;
    }
    default:
        sqlite3_result_int64(ctx, 8); // numbers: the width of bigint and float
    }
}

} // namespace

void register_generator(sqlite3* db) {
    sqlite3_create_module(db, "tdsemu_rows", &gen_module, nullptr);
    sqlite3_create_function(db, "newid", 0, SQLITE_UTF8, nullptr, fn_newid, nullptr, nullptr);
    sqlite3_create_function(db, "getutcdate", 0, SQLITE_UTF8, nullptr, fn_getutcdate, nullptr, nullptr);
    sqlite3_create_function(db, "datalength", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fn_datalength,
                            nullptr, nullptr);
}

std::vector<column_def> generated_columns() {
    auto col = [](const char* name, const char* type, std::vector<std::string> args, bool nullable) {
        column_def c;
        c.name = name;
        parse_sql_type(type, args, c.type);
        c.nullable = nullable;
        return c;
    };
    return {col("id", "int", {}, false),
            col("code", "varchar", {"20"}, true),
            col("name", "nvarchar", {"50"}, true),
            col("amount", "decimal", {"18", "4"}, true),
            col("price", "money", {}, true),
            col("ratio", "float", {}, true),
            col("flag", "bit", {}, true),
            col("created", "datetime", {}, true),
            col("day", "date", {}, true),
            col("guid", "uniqueidentifier", {}, true),
            col("note", "nvarchar", {"max"}, true),
            col("data", "varbinary", {"16"}, true)};
}

struct emu_catalog::writer {
    std::string database;
    sqlite3* db = nullptr;
    ~writer() {
        if (db) sqlite3_close_v2(db);
    }
};

emu_catalog::emu_catalog(std::string folder) : m_folder(std::move(folder)) {
    for (const char* name : {"master", "model", "msdb", "tempdb"}) create_database(name);
}

emu_catalog::~emu_catalog() = default;

const database_def* emu_catalog::find_database(const std::string& name) const {
    for (const auto& d : m_databases)
        if (iequals(d.name, name)) return &d;
    return nullptr;
}

database_def& emu_catalog::create_database(const std::string& name) {
    if (find_database(name)) throw seed_error("Database '" + name + "' already exists.");
    database_def d;
    d.name = name;
    d.owners.push_back("dbo");
    d.files.push_back(m_folder + "/db" + std::to_string(++m_file_counter) + ".sqlite");
    d.info_schema_file = m_folder + "/db" + std::to_string(++m_file_counter) + ".sqlite";
    m_databases.push_back(d);
    return m_databases.back();
}

sqlite3* emu_catalog::connection(database_def& db) {
    for (auto& w : m_writers)
        if (w->database == db.name) return w->db;
    auto w = std::make_unique<writer>();
    w->database = db.name;
    if (sqlite3_open(":memory:", &w->db) != SQLITE_OK) throw seed_error("cannot open SQLite");
    register_generator(w->db);
    for (size_t k = 0; k < db.owners.size(); ++k)
        exec(w->db, "ATTACH DATABASE " + quote_literal(db.files[k]) + " AS " + quote_ident(db.owners[k]));
    m_writers.push_back(std::move(w));
    return m_writers.back()->db;
}

void emu_catalog::load_seed(const std::string& script) {
    std::vector<std::string> statements;
    try {
        statements = split_statements(script);
    } catch (const std::exception& e) {
        throw seed_error(e.what());
    }
    for (const auto& s : statements) {
        try {
            run_statement(s);
        } catch (const std::exception& e) {
            std::string head = s.substr(0, 200);
            throw seed_error(std::string(e.what()) + " in: " + head);
        }
    }
}

void emu_catalog::add_generated_table(const std::string& database, const std::string& name, int64_t rows) {
    database_def* db = nullptr;
    for (auto& d : m_databases)
        if (iequals(d.name, database)) db = &d;
    if (!db) db = &create_database(database);
    std::string owner = "dbo", table = name;
    if (auto dot = name.find('.'); dot != std::string::npos) {
        owner = name.substr(0, dot);
        table = name.substr(dot + 1);
    }
    std::string text = "CREATE GENERATED TABLE " + quote_ident(owner) + "." + quote_ident(table) + " ROWS " +
                       (rows < 0 ? std::string("ENDLESS") : std::to_string(rows));
    std::string saved = m_current;
    m_current = db->name;
    run_statement(text);
    m_current = saved;
}

void emu_catalog::run_statement(const std::string& text) {
    tokens t = tokenize(text);
    if (t.empty()) return;
    cursor c{t};
    database_def* db = nullptr;
    for (auto& d : m_databases)
        if (iequals(d.name, m_current)) db = &d;
    if (size_t n = leading_statement(t)) {
        run_statement(text.substr(0, t[n].begin));
        run_statement(text.substr(t[n].begin));
        return;
    }
    // What follows a statement without a separator is the next statement, never ignored.
    auto next = [&]() {
        if (c.accept("TO")) {
            do c.ident();
            while (c.accept_punct(","));
        }
        if (!c.at_end()) run_statement(text.substr(t[c.pos].begin));
    };
    if (c.accept("GO") || c.accept("SET") || c.accept("PRINT")) return;
    if (c.accept("USE")) {
        std::string name = c.ident();
        if (!find_database(name)) throw seed_error("Database '" + name + "' does not exist.");
        m_current = find_database(name)->name;
        return next();
    }
    if (c.accept("DENY")) {
        if (c.accept("CONNECT")) {
            c.expect("ON");
            c.expect("DATABASE");
            c.accept_punct("::");
            std::string name = c.ident();
            for (auto& d : m_databases)
                if (iequals(d.name, name)) d.connect_denied = true;
            return next();
        }
        c.expect("SELECT");
        c.expect("ON");
        c.accept("OBJECT") && c.accept_punct("::");
        std::string dbn, owner, name;
        c.object_name(dbn, owner, name);
        for (auto& tb : db->tables)
            if (iequals(tb.owner, owner) && iequals(tb.name, name)) {
                tb.select_denied = true;
                return next();
            }
        throw seed_error("Cannot find the object '" + name + "'.");
    }
    if (c.accept("ALTER")) {
        c.expect("TABLE");
        std::string dbn, owner, name;
        c.object_name(dbn, owner, name);
        c.expect("ADD");
        // Reuse the table parser on a one-constraint body.
        std::string body = "CREATE TABLE " + quote_ident(owner) + "." + quote_ident(name) + " (" +
                           text.substr(t[c.pos].begin) + ")";
        tokens bt = tokenize(body);
        create_table(*db, bt, body);
        return;
    }
    if (c.accept("CREATE")) {
        if (c.accept("DATABASE")) {
            create_database(c.ident());
            return next();
        }
        if (c.accept("SCHEMA")) {
            std::string name = c.ident();
            for (const auto& o : db->owners)
                if (iequals(o, name)) throw seed_error("There is already a schema named '" + name + "'.");
            if (db->owners.size() >= 8) throw seed_error("at most 8 schemas per database");
            connection(*db); // opened with the owners so far
            db->owners.push_back(name);
            db->files.push_back(m_folder + "/db" + std::to_string(++m_file_counter) + ".sqlite");
            exec(connection(*db),
                 "ATTACH DATABASE " + quote_literal(db->files.back()) + " AS " + quote_ident(name));
            if (c.accept("AUTHORIZATION")) c.ident();
            return next();
        }
        if (c.peek().is("TABLE")) {
            create_table(*db, t, text);
            return;
        }
        if (c.accept("GENERATED")) {
            c.expect("TABLE");
            std::string dbn, owner, name;
            c.object_name(dbn, owner, name);
            c.expect("ROWS");
            int64_t rows = -1;
            if (!c.accept("ENDLESS")) {
                if (c.peek().k != sql_token::kind::number) throw seed_error("expected a row count");
                rows = std::atoll(c.peek().text.c_str());
                ++c.pos;
            }
            bool owner_ok = false;
            for (const auto& o : db->owners) owner_ok |= iequals(o, owner);
            if (!owner_ok)
                throw seed_error("The specified schema name \"" + owner + "\" either does not exist.");
            exec(connection(*db), "CREATE VIRTUAL TABLE " + quote_ident(owner) + "." + quote_ident(name) +
                                      " USING tdsemu_rows(" + std::to_string(rows) + ")");
            table_def tb;
            tb.owner = owner;
            tb.name = name;
            tb.columns = generated_columns();
            tb.pk_name = generated_name("PK", name, "pk");
            tb.pk_columns = {"id"};
            tb.generated_rows = rows;
            db->tables.push_back(tb);
            return next();
        }
        if (c.peek().is("VIEW")) {
            ++c.pos;
            std::string dbn, owner, name;
            c.object_name(dbn, owner, name);
            c.expect("AS");
            std::string select = text.substr(t[c.pos - 1].begin + 2);
            if (misplaced_order_by(select, true))
                throw seed_error(
                    "The ORDER BY clause is invalid in views unless TOP, OFFSET or FOR XML is also "
                    "specified.");
            exec(connection(*db), "CREATE VIEW " + quote_ident(owner) + "." + quote_ident(name) + " AS " +
                                      to_sqlite(select, db->name, false));
            table_def tb;
            tb.owner = owner;
            tb.name = name;
            tb.is_view = true;
            tb.view_definition = text;
            db->tables.push_back(tb);
            return;
        }
        bool unique = c.accept("UNIQUE");
        bool clustered = c.accept("CLUSTERED");
        if (!clustered) c.accept("NONCLUSTERED");
        c.expect("INDEX");
        index_def ix;
        ix.name = c.ident();
        ix.unique = unique;
        ix.clustered = clustered;
        c.expect("ON");
        std::string dbn;
        c.object_name(dbn, ix.owner, ix.table);
        const table_def* tb = db->find_table(ix.owner, ix.table);
        if (!tb) throw seed_error("Cannot find the object \"" + ix.table + "\".");
        c.expect_punct("(");
        std::string cols;
        do {
            std::string col = c.ident();
            bool desc = c.accept("DESC");
            if (!desc) c.accept("ASC");
            if (!tb->find_column(col)) throw seed_error("Column name '" + col + "' does not exist.");
            ix.columns.emplace_back(tb->find_column(col)->name, desc);
            cols += (cols.empty() ? "" : ", ") + quote_ident(col) + (desc ? " DESC" : "");
        } while (c.accept_punct(","));
        c.expect_punct(")");
        ix.owner = tb->owner;
        ix.table = tb->name;
        exec(connection(*db), std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                                  quote_ident(ix.owner) + "." + quote_ident(ix.table + "$" + ix.name) +
                                  " ON " + quote_ident(ix.table) + " (" + cols + ")");
        db->indexes.push_back(ix);
        return next();
    }
    if (c.peek().is("INSERT") || c.peek().is("UPDATE") || c.peek().is("DELETE")) {
        exec(connection(*db), to_sqlite(text, db->name, true));
        return;
    }
    throw seed_error("unsupported statement " + error_near(t, 0));
}

void emu_catalog::create_table(database_def& db, const std::vector<sql_token>& t, const std::string& text) {
    cursor c{t};
    c.expect("CREATE");
    c.expect("TABLE");
    std::string dbn, owner, name;
    c.object_name(dbn, owner, name);
    bool owner_ok = false;
    for (const auto& o : db.owners)
        if (iequals(o, owner)) {
            owner = o;
            owner_ok = true;
        }
    if (!owner_ok) throw seed_error("The specified schema name \"" + owner + "\" does not exist.");
    table_def* existing = nullptr;
    for (auto& tb : db.tables)
        if (iequals(tb.owner, owner) && iequals(tb.name, name)) existing = &tb;
    bool alter = existing != nullptr; // ALTER TABLE ... ADD reaches here with an existing table
    table_def fresh;
    table_def& tb = alter ? *existing : fresh;
    tb.owner = owner;
    tb.name = name;
    std::vector<std::string> sqlite_columns, identity_columns, timestamp_columns, uniques;
    c.expect_punct("(");
    auto table_constraint = [&](std::string cname) {
        if (c.accept("PRIMARY")) {
            c.expect("KEY");
            if (c.accept("NONCLUSTERED"))
                tb.pk_clustered = false;
            else
                c.accept("CLUSTERED");
            tb.pk_columns = c.name_list();
            tb.pk_name = cname.empty() ? generated_name("PK", name, "pk") : cname;
            for (const auto& pc : tb.pk_columns)
                for (auto& col : tb.columns)
                    if (iequals(col.name, pc)) col.nullable = false;
        } else if (c.accept("UNIQUE")) {
            bool clustered = c.accept("CLUSTERED");
            if (!clustered) c.accept("NONCLUSTERED");
            index_def ix;
            ix.owner = owner;
            ix.table = name;
            ix.unique = true;
            ix.clustered = clustered;
            ix.name = cname.empty() ? generated_name("UQ", name, std::to_string(db.indexes.size())) : cname;
            for (const auto& col : c.name_list()) ix.columns.emplace_back(col, false);
            db.indexes.push_back(ix);
        } else if (c.accept("FOREIGN")) {
            c.expect("KEY");
            foreign_key_def fk;
            fk.owner = owner;
            fk.table = name;
            fk.columns = c.name_list();
            c.expect("REFERENCES");
            std::string rdb;
            c.object_name(rdb, fk.ref_owner, fk.ref_table);
            if (c.peek().text == "(") fk.ref_columns = c.name_list();
            while (c.accept("ON")) {
                bool del = c.accept("DELETE");
                if (!del) c.expect("UPDATE");
                int rule = c.accept("CASCADE") ? 0
                           : c.accept("NO")
                               ? (c.expect("ACTION"), 1)
                               : (c.expect("SET"), c.accept("NULL") ? 2 : (c.expect("DEFAULT"), 3));
                (del ? fk.delete_rule : fk.update_rule) = rule;
            }
            fk.name =
                cname.empty() ? generated_name("FK", name, std::to_string(db.foreign_keys.size())) : cname;
            db.foreign_keys.push_back(fk);
        } else if (c.accept("CHECK")) {
            c.skip_one();
        } else {
            throw seed_error("unexpected " + error_near(t, c.pos));
        }
    };
    do {
        if (c.peek().text == ")" && c.peek().k == sql_token::kind::punct) break;
        if (c.accept("CONSTRAINT")) {
            table_constraint(c.ident());
            continue;
        }
        if (c.peek().is("PRIMARY") || c.peek().is("UNIQUE") || c.peek().is("FOREIGN") ||
            c.peek().is("CHECK")) {
            table_constraint({});
            continue;
        }
        if (alter) throw seed_error("ALTER TABLE ... ADD takes constraints only");
        column_def col;
        col.name = c.ident();
        std::string tname = c.ident();
        if (iequals(tname, "double") && c.accept("precision")) tname = "double precision";
        std::vector<std::string> args;
        if (c.accept_punct("(")) {
            do {
                args.push_back(c.peek().text);
                ++c.pos;
            } while (c.accept_punct(","));
            c.expect_punct(")");
        }
        if (!parse_sql_type(tname, args, col.type))
            throw seed_error("Column, parameter, or variable #" + std::to_string(tb.columns.size() + 1) +
                             ": Cannot find data type " + tname + ".");
        std::string default_sql;
        std::string pending_name;
        for (;;) {
            const sql_token& k = c.peek();
            if (c.at_end() || (k.k == sql_token::kind::punct && (k.text == "," || k.text == ")"))) break;
            if (c.accept("IDENTITY")) {
                col.identity = true;
                int64_t seed = 1, incr = 1;
                if (c.accept_punct("(")) {
                    bool neg = c.accept_punct("-");
                    seed = std::atoll(c.peek().text.c_str()) * (neg ? -1 : 1);
                    ++c.pos;
                    c.expect_punct(",");
                    neg = c.accept_punct("-");
                    incr = std::atoll(c.peek().text.c_str()) * (neg ? -1 : 1);
                    ++c.pos;
                    c.expect_punct(")");
                }
                identity_columns.push_back(col.name + "\x1f" + std::to_string(seed) + "\x1f" +
                                           std::to_string(incr));
            } else if (c.accept("NOT")) {
                c.expect("NULL");
                col.nullable = false;
            } else if (c.accept("NULL")) {
                col.nullable = true;
            } else if (c.accept("DEFAULT")) {
                size_t from = c.pos;
                c.skip_one();
                while (!c.at_end() && (c.peek().text == "(" || c.peek().text == "+" || c.peek().text == "-"))
                    c.skip_one();
                size_t end = c.pos < t.size() ? t[c.pos].begin : text.size();
                std::string expr = text.substr(t[from].begin, end - t[from].begin);
                while (!expr.empty() && std::isspace(static_cast<unsigned char>(expr.back())))
                    expr.pop_back();
                col.default_text = normalized_default(expr);
                std::string lowered = ascii_lower(expr);
                default_sql = lowered.find("newid") != std::string::npos
                                  ? newid_sql
                                  : "(" + to_sqlite(expr, db.name, false) + ")";
            } else if (c.accept("CONSTRAINT")) {
                pending_name = c.ident();
            } else if (c.accept("PRIMARY")) {
                c.expect("KEY");
                if (c.accept("NONCLUSTERED"))
                    tb.pk_clustered = false;
                else
                    c.accept("CLUSTERED");
                tb.pk_columns = {col.name};
                tb.pk_name = pending_name.empty() ? generated_name("PK", name, "pk") : pending_name;
                col.nullable = false;
            } else if (c.accept("UNIQUE")) {
                c.accept("CLUSTERED") || c.accept("NONCLUSTERED");
                index_def ix;
                ix.owner = owner;
                ix.table = name;
                ix.unique = true;
                ix.name = pending_name.empty() ? generated_name("UQ", name, col.name) : pending_name;
                ix.columns.emplace_back(col.name, false);
                db.indexes.push_back(ix);
                uniques.push_back(col.name);
            } else if (c.accept("REFERENCES")) {
                foreign_key_def fk;
                fk.owner = owner;
                fk.table = name;
                fk.columns = {col.name};
                std::string rdb;
                c.object_name(rdb, fk.ref_owner, fk.ref_table);
                if (c.peek().text == "(") fk.ref_columns = c.name_list();
                fk.name = pending_name.empty() ? generated_name("FK", name, col.name) : pending_name;
                db.foreign_keys.push_back(fk);
            } else if (c.accept("COLLATE")) {
                c.ident();
            } else if (c.accept("CHECK")) {
                c.skip_one();
            } else if (c.accept("ROWGUIDCOL") || c.accept("SPARSE")) {
            } else {
                throw seed_error("Incorrect syntax " + error_near(t, c.pos));
            }
        }
        if (col.type.kind == type_kind::timestamp) timestamp_columns.push_back(col.name);
        std::string def = quote_ident(col.name) + " " + col.type.sqlite_type();
        bool char_limit = col.type.length > 0 &&
                          (col.type.kind == type_kind::char_ || col.type.kind == type_kind::varchar ||
                           col.type.kind == type_kind::nchar || col.type.kind == type_kind::nvarchar ||
                           col.type.kind == type_kind::binary || col.type.kind == type_kind::varbinary);
        if (char_limit)
            def += " CHECK(length(" + quote_ident(col.name) + ") <= " + std::to_string(col.type.length) + ")";
        // Identity and row version columns are filled by a trigger after the insert.
        if (!col.nullable && !col.identity && col.type.kind != type_kind::timestamp) def += " NOT NULL";
        if (!default_sql.empty()) def += " DEFAULT " + default_sql;
        sqlite_columns.push_back(def);
        tb.columns.push_back(col);
    } while (c.accept_punct(","));
    c.expect_punct(")");
    if (!c.at_end()) throw seed_error("Incorrect syntax " + error_near(t, c.pos));
    for (const auto& pc : tb.pk_columns)
        if (!tb.find_column(pc))
            throw seed_error("Column name '" + pc + "' does not exist in the target table.");
    if (alter) return;
    if (db.find_table(owner, name))
        throw seed_error("There is already an object named '" + name + "' in the database.");
    std::string ddl = "CREATE TABLE " + quote_ident(owner) + "." + quote_ident(name) + " (";
    for (size_t k = 0; k < sqlite_columns.size(); ++k) ddl += (k ? ", " : "") + sqlite_columns[k];
    for (const auto& u : uniques) ddl += ", UNIQUE(" + quote_ident(u) + ")";
    ddl += ")";
    sqlite3* conn = connection(db);
    exec(conn, ddl);
    std::string qt = quote_ident(name);
    for (const auto& idc : identity_columns) {
        std::string cn = idc.substr(0, idc.find('\x1f'));
        std::string rest = idc.substr(idc.find('\x1f') + 1);
        std::string seed = rest.substr(0, rest.find('\x1f')), incr = rest.substr(rest.find('\x1f') + 1);
        std::string qc = quote_ident(cn);
        exec(conn, "CREATE TRIGGER " + quote_ident(owner) + "." + quote_ident(name + "$id$" + cn) +
                       " AFTER INSERT ON " + qt + " FOR EACH ROW WHEN NEW." + qc + " IS NULL BEGIN UPDATE " +
                       qt + " SET " + qc + " = (SELECT IFNULL(MAX(" + qc + "), " + seed + " - (" + incr +
                       ")) + (" + incr + ") FROM " + qt + ") WHERE rowid = NEW.rowid; END");
    }
    for (const auto& cn : timestamp_columns) {
        std::string qc = quote_ident(cn);
        exec(conn, "CREATE TRIGGER " + quote_ident(owner) + "." + quote_ident(name + "$ts$" + cn) +
                       " AFTER INSERT ON " + qt + " FOR EACH ROW WHEN NEW." + qc + " IS NULL BEGIN UPDATE " +
                       qt + " SET " + qc + " = (SELECT IFNULL(MAX(" + qc + "), 2000) + 1 FROM " + qt +
                       ") WHERE rowid = NEW.rowid; END");
    }
    db.tables.push_back(tb);
}

void emu_catalog::resolve_view_columns(database_def& db) {
    sqlite3* conn = connection(db);
    for (auto& tb : db.tables) {
        if (!tb.is_view) continue;
        sqlite3_stmt* st = nullptr;
        std::string sql = "SELECT * FROM " + quote_ident(tb.owner) + "." + quote_ident(tb.name);
        if (sqlite3_prepare_v2(conn, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw seed_error(std::string(sqlite3_errmsg(conn)) + " in view " + tb.name);
        bool has_row = sqlite3_step(st) == SQLITE_ROW;
        for (int k = 0; k < sqlite3_column_count(st); ++k) {
            column_def col;
            col.name = sqlite3_column_name(st, k);
            const char* odb = sqlite3_column_database_name(st, k);
            const char* otb = sqlite3_column_table_name(st, k);
            const char* ocol = sqlite3_column_origin_name(st, k);
            const table_def* base = odb && otb ? db.find_table(odb, otb) : nullptr;
            const column_def* bc = base && ocol ? base->find_column(ocol) : nullptr;
            if (bc) {
                col.type = bc->type;
                col.nullable = bc->nullable;
            } else {
                int kind = has_row ? sqlite3_column_type(st, k) : SQLITE_NULL;
                std::vector<std::string> args;
                const char* tn = kind == SQLITE_FLOAT  ? "float"
                                 : kind == SQLITE_BLOB ? "varbinary"
                                 : kind == SQLITE_TEXT ? "nvarchar"
                                                       : "int";
                if (kind == SQLITE_BLOB) args = {"max"};
                if (kind == SQLITE_TEXT) args = {"4000"};
                parse_sql_type(tn, args, col.type);
            }
            tb.columns.push_back(col);
        }
        sqlite3_finalize(st);
    }
}

void emu_catalog::build_info_schema(database_def& db) {
    sqlite3* conn = nullptr;
    if (sqlite3_open(db.info_schema_file.c_str(), &conn) != SQLITE_OK) {
        sqlite3_close(conn);
        throw seed_error("cannot create " + db.info_schema_file);
    }
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> holder(conn, sqlite3_close_v2);
    std::vector<std::string> tables;
    for (const auto& ic : info_columns)
        if (tables.empty() || tables.back() != ic.table) tables.push_back(ic.table);
    for (const auto& name : tables) {
        table_def tb;
        tb.owner = "INFORMATION_SCHEMA";
        tb.name = name;
        tb.is_view = true;
        tb.is_system = true;
        std::string ddl = "CREATE TABLE " + quote_ident(name) + " (";
        for (const auto& ic : info_columns) {
            if (name != ic.table) continue;
            column_def col;
            col.name = ic.column;
            std::vector<std::string> args;
            if (ic.length) args.push_back(std::to_string(ic.length));
            parse_sql_type(ic.type, args, col.type);
            ddl += (tb.columns.empty() ? "" : ", ") + quote_ident(col.name) + " " + col.type.sqlite_type();
            tb.columns.push_back(col);
        }
        exec(conn, ddl + ")");
        db.tables.push_back(tb);
    }
    exec(conn, "BEGIN");
    auto insert = [&](const std::string& table, const std::vector<cell>& values) {
        std::string sql = "INSERT INTO " + quote_ident(table) + " VALUES (";
        for (size_t k = 0; k < values.size(); ++k) sql += k ? ",?" : "?";
        sql += ")";
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(conn, sql.c_str(), -1, &st, nullptr);
        for (size_t k = 0; k < values.size(); ++k) {
            int i = static_cast<int>(k + 1);
            if (values[k].k == cell::kind::integer)
                sqlite3_bind_int64(st, i, values[k].i);
            else if (values[k].k == cell::kind::text)
                sqlite3_bind_text(st, i, values[k].s.c_str(), -1, SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(st, i);
        }
        int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) throw seed_error("cannot fill INFORMATION_SCHEMA");
    };
    auto txt = [](const std::string& s) { return cell::of_text(s); };
    auto num = [](int64_t v) { return cell::of(v); };
    const cell null;
    for (const auto& o : db.owners) insert("SCHEMATA", {txt(db.name), txt(o), txt("dbo")});
    for (const auto& tb : db.tables) {
        if (tb.is_system) continue;
        insert("TABLES",
               {txt(db.name), txt(tb.owner), txt(tb.name), txt(tb.is_view ? "VIEW" : "BASE TABLE")});
        if (tb.is_view)
            insert("VIEWS", {txt(db.name), txt(tb.owner), txt(tb.name),
                             tb.view_definition.size() > 4000 ? null : txt(tb.view_definition), txt("NONE"),
                             txt("NO")});
        int ordinal = 0;
        for (const auto& col : tb.columns) {
            const sql_type& ty = col.type;
            bool chars = ty.kind == type_kind::char_ || ty.kind == type_kind::varchar ||
                         ty.kind == type_kind::nchar || ty.kind == type_kind::nvarchar ||
                         ty.kind == type_kind::text || ty.kind == type_kind::ntext;
            bool bins = ty.kind == type_kind::binary || ty.kind == type_kind::varbinary ||
                        ty.kind == type_kind::image || ty.kind == type_kind::timestamp ||
                        ty.kind == type_kind::xml;
            bool wide =
                ty.kind == type_kind::nchar || ty.kind == type_kind::nvarchar || ty.kind == type_kind::ntext;
            cell maxlen = null, octets = null, prec = null, radix = null, scale = null, dtprec = null,
                 cs = null, coll = null;
            if (chars || bins) {
                int64_t n = ty.kind == type_kind::text || ty.kind == type_kind::image ? 2147483647
                            : ty.kind == type_kind::ntext                             ? 1073741823
                            : ty.kind == type_kind::timestamp                         ? 8
                            : ty.is_max() || ty.kind == type_kind::xml                ? -1
                                                                                      : ty.length;
                maxlen = num(n);
                octets = num(n < 0                                 ? -1
                             : wide && ty.kind != type_kind::ntext ? n * 2
                             : ty.kind == type_kind::ntext         ? 2147483646
                                                                   : n);
                if (chars) {
                    cs = txt(wide ? "UNICODE" : "iso_1");
                    coll = txt("SQL_Latin1_General_CP1_CI_AS");
                }
            }
            switch (ty.kind) {
            case type_kind::int_:
                prec = num(10);
                break;
            case type_kind::bigint:
                prec = num(19);
                break;
            case type_kind::smallint:
                prec = num(5);
                break;
            case type_kind::tinyint:
                prec = num(3);
                break;
            case type_kind::decimal:
            case type_kind::numeric:
                prec = num(ty.precision);
                break;
            case type_kind::money:
                prec = num(19);
                break;
            case type_kind::smallmoney:
                prec = num(10);
                break;
            case type_kind::float_:
                prec = num(53);
                break;
            case type_kind::real:
                prec = num(24);
                break;
            default:
                break;
            }
            if (!prec.is_null()) {
                bool binary_radix = ty.kind == type_kind::float_ || ty.kind == type_kind::real;
                radix = num(binary_radix ? 2 : 10);
                if (!binary_radix)
                    scale = num(ty.kind == type_kind::decimal || ty.kind == type_kind::numeric    ? ty.scale
                                : ty.kind == type_kind::money || ty.kind == type_kind::smallmoney ? 4
                                                                                                  : 0);
            }
            switch (ty.kind) {
            case type_kind::date:
                dtprec = num(0);
                break;
            case type_kind::datetime:
                dtprec = num(3);
                break;
            case type_kind::smalldatetime:
                dtprec = num(0);
                break;
            case type_kind::time:
            case type_kind::datetime2:
            case type_kind::datetimeoffset:
                dtprec = num(ty.scale);
                break;
            default:
                break;
            }
            insert("COLUMNS",
                   {txt(db.name), txt(tb.owner), txt(tb.name), txt(col.name), num(++ordinal),
                    col.default_text.empty() ? null : txt(col.default_text), txt(col.nullable ? "YES" : "NO"),
                    txt(ty.name()), maxlen, octets, prec, radix, scale, dtprec, cs, coll});
        }
    }
    exec(conn, "COMMIT");
    db.owners.push_back("INFORMATION_SCHEMA");
    db.files.push_back(db.info_schema_file);
}

void emu_catalog::finish() {
    for (auto& db : m_databases) {
        resolve_view_columns(db);
        // Owners without a file yet still need one to attach.
        connection(db);
    }
    m_writers.clear();
    for (auto& db : m_databases) build_info_schema(db);
}

} // namespace tdsemu
