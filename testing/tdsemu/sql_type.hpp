#pragma once

#include "tdsemu/tds_buffer.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tdsemu {

enum class type_kind {
    int_,
    bigint,
    smallint,
    tinyint,
    bit,
    decimal,
    numeric,
    money,
    smallmoney,
    float_,
    real,
    char_,
    varchar,
    nchar,
    nvarchar,
    text,
    ntext,
    binary,
    varbinary,
    image,
    date,
    time,
    datetime,
    datetime2,
    smalldatetime,
    datetimeoffset,
    uniqueidentifier,
    xml,
    sql_variant,
    timestamp
};

// A server column type; length counts characters for text types and bytes for binary ones, -1 for (max).
struct sql_type {
    type_kind kind = type_kind::int_;
    int length = 0;
    int precision = 0;
    int scale = 0;

    bool is_max() const { return length == -1; }
    std::string name() const;        // "nvarchar"
    std::string declaration() const; // "nvarchar(50)"
    std::string sqlite_type() const; // storage affinity used for the backing table
};

// Parses "int", "decimal(18, 4)", "varchar(max)", "rowversion", "sysname" ... into a type. False when
// unknown.
bool parse_sql_type(const std::string& name, const std::vector<std::string>& args, sql_type& out);

// One value as SQLite hands it over; the column's declared type decides how it goes on the wire.
struct cell {
    enum class kind { null, integer, real, text, blob } k = kind::null;
    int64_t i = 0;
    double d = 0;
    std::string s; // UTF-8 text or raw bytes

    static cell null_value() { return {}; }
    static cell of(int64_t v) {
        cell c;
        c.k = kind::integer;
        c.i = v;
        return c;
    }
    static cell of_real(double v) {
        cell c;
        c.k = kind::real;
        c.d = v;
        return c;
    }
    static cell of_text(std::string v) {
        cell c;
        c.k = kind::text;
        c.s = std::move(v);
        return c;
    }
    static cell of_blob(std::string v) {
        cell c;
        c.k = kind::blob;
        c.s = std::move(v);
        return c;
    }
    bool is_null() const { return k == kind::null; }
    std::string as_text() const;
};

struct result_column {
    std::string name;
    sql_type type;
    bool nullable = true;
    bool identity = false;
    bool updatable = false;
    std::string owner, table; // for the table name parts of text, ntext and image
};

// A value the column's type cannot carry; reported to the client as the server's conversion errors.
struct value_error : std::runtime_error {
    int number;
    value_error(int n, const std::string& text) : std::runtime_error(text), number(n) {}
};

// COLMETADATA for the columns.
void put_colmetadata(tds_buffer& out, const std::vector<result_column>& columns);
// ROW, or NBCROW when the row holds a NULL. Throws value_error.
void put_row(tds_buffer& out, const std::vector<result_column>& columns, const std::vector<cell>& values);

// Parsing helpers shared with the request side.
struct date_time_value {
    bool has_date = false, has_time = false, has_offset = false;
    int year = 1900, month = 1, day = 1;
    int64_t ticks = 0; // 100 ns units since midnight
    int offset_minutes = 0;
};
bool parse_date_time(const std::string& text, date_time_value& out);
int64_t days_from_civil(int y, int m, int d);
void civil_from_days(int64_t z, int& y, int& m, int& d);

} // namespace tdsemu
