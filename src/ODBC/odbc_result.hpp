#pragma once

#include "MSS/odb_oledb.hpp"
#include "ODBC/odbc_connection.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One column as the OLE DB side reports it, and how the binding reads its values.
struct odbc_column {
    enum read_kind : std::uint8_t {
        text,
        bytes,
        real4,
        real8,
        variant,
        integer,
        guid_bytes,
        timestamp,
        date,
        numeric,     // decimal: the driver's numeric structure, read as bytes
        money,       // money and smallmoney: the amount in ten-thousandths, read as bytes
        time,        // the parts of a time, read as bytes
        offset_stamp // the parts of a date-time with its offset, read as bytes
    };

    std::u16string name;
    DBTYPE type = DBTYPE_WSTR;
    DBLENGTH size = 0;
    DBCOLUMNFLAGS flags = 0;
    BYTE precision = 0;
    BYTE scale = 0;

    read_kind read = text;
    bool guid = false;      // add the braces OLE DB gives a GUID
    bool decimal = false;   // give ".5" its leading zero
    bool dated = false;     // give a year before 1000 its four digits
    size_t first_piece = 0; // characters (text) or bytes read by the first call
    BYTE fraction = 0;      // digits of a timestamp's fraction of a second, as the driver writes it
    bool national = false;  // a bounded nchar or nvarchar: FreeTDS gives its UTF-16 as it came
};

// A long value read straight into the storage a consumer takes over, so that it exists once on
// our side: a BSTR for text, a byte SAFEARRAY for bytes. Copies are deep.
class odbc_held {
public:
    odbc_held() = default;
    odbc_held(const odbc_held& other);
    odbc_held(odbc_held&& other) noexcept : m_text(other.m_text), m_bytes(other.m_bytes) {
        other.m_text = nullptr;
        other.m_bytes = nullptr;
    }
    odbc_held& operator=(const odbc_held& other);
    odbc_held& operator=(odbc_held&& other) noexcept;
    ~odbc_held() { reset(); }

    // Inline: it runs for every value read, and almost always holds nothing.
    void reset() noexcept {
        if (m_text || m_bytes) free();
    }
    bool empty() const noexcept { return !m_text && !m_bytes; }
    BSTR text() const noexcept { return m_text; }
    SAFEARRAY* bytes() const noexcept { return m_bytes; }
    void hold(BSTR text) noexcept;
    void hold(SAFEARRAY* bytes) noexcept;
    // The storage, for the consumer to free; nothing is held afterwards.
    BSTR take_text() noexcept;
    SAFEARRAY* take_bytes() noexcept;

private:
    void free() noexcept;
    BSTR m_text = nullptr;
    SAFEARRAY* m_bytes = nullptr;
};

// One value of one fetched row; reused from row to row, so its storage is allocated once.
// A number the driver delivered typed is kept as it came (`number` says which member); its text
// is written only for a binding that asks for text.
struct odbc_value {
    enum number_kind : std::uint8_t { no_number, integer, real8, real4, stamp, day, numeric, money, clock };

    DBSTATUS status = DBSTATUS_S_ISNULL;
    number_kind number = no_number;
    union {
        long long whole; // also money, in ten-thousandths
        double real8;
        float real4;
        DBTIMESTAMP stamp; // a date-time, a date with no time, or a time (clock) with no date
        DB_NUMERIC numeric;
    } typed{};
    std::uint8_t digits = 0; // of a (date-)time's fraction of a second, as the driver's text has them
    std::u16string text; // every type but DBTYPE_BYTES, when not a typed number
    std::string bytes;   // DBTYPE_BYTES
    // A long value longer than its first piece, in place of text or bytes.
    odbc_held held;
    // Its storage went to a consumer: a second read of it has nothing to give.
    bool taken = false;

    std::u16string_view wide() const noexcept {
        return held.text() ? std::u16string_view(held.text(), SysStringLen(held.text()))
                           : std::u16string_view(text);
    }
    std::string_view raw() const noexcept {
        SAFEARRAY* a = held.bytes();
        return a ? std::string_view(static_cast<const char*>(a->pvData), a->rgsabound[0].cElements)
                 : std::string_view(bytes);
    }
};

// The text of a typed value, as the driver's own text would give it back exactly.
void odbc_number_text(const odbc_value& value, std::u16string& out);
using odbc_row = std::vector<odbc_value>;

// A bound column's value, as the driver writes it at each fetch.
struct odbc_bound_value;

// The column information and type codes the binding reports for a result column.
odbc_column odbc_describe_column(std::u16string name, short sql_type, std::u16string_view type_name,
                                 unsigned long long column_size, short decimal_digits, short nullable,
                                 bool is_unsigned);

// Rows for a rowset: a live statement or a result held in memory.
class odbc_result {
public:
    virtual ~odbc_result() = default;
    virtual const std::vector<odbc_column>& columns() const = 0;
    // Reads the next row whole into `row`; false at the end.
    virtual bool fetch(odbc_row& row) = 0;
    // Back before the first row.
    virtual void restart() = 0;
};

// A result built here: schema rowsets, reshaped from the catalog functions.
class odbc_memory_result : public odbc_result {
public:
    odbc_memory_result(std::vector<odbc_column> columns, std::vector<odbc_row> rows)
        : m_columns(std::move(columns)), m_rows(std::move(rows)) {}
    const std::vector<odbc_column>& columns() const override { return m_columns; }
    bool fetch(odbc_row& row) override;
    void restart() override { m_next = 0; }

private:
    std::vector<odbc_column> m_columns;
    std::vector<odbc_row> m_rows;
    size_t m_next = 0;
};

// The result of one SQL text. The statement (and with it its connection) is closed as soon as the
// last row has been read; a restart runs the text again.
class odbc_statement_result : public odbc_result {
public:
    using runner = std::function<void(const odbc_handle& statement)>;
    // Runs the text; throws odbc_error.
    odbc_statement_result(std::shared_ptr<odbc_pool> pool, const std::u16string& sql);
    // Runs `run` (a catalog function) on a new statement; throws odbc_error.
    odbc_statement_result(std::shared_ptr<odbc_pool> pool, runner run);
    ~odbc_statement_result() override;
    const std::vector<odbc_column>& columns() const override { return m_columns; }
    bool fetch(odbc_row& row) override;
    void restart() override;

    // Runs a text whose result nobody reads.
    static void execute(const std::shared_ptr<odbc_pool>& pool, const std::u16string& sql);

private:
    void run();
    void describe();
    void read_value(unsigned short column, odbc_value& value);
    bool read_text_pieces(unsigned short column, const odbc_column& info, odbc_value& value);
    bool read_byte_pieces(unsigned short column, const odbc_column& info, odbc_value& value);
    void read_national(unsigned short column, const odbc_column& info, odbc_value& value);
    // `indicator` is the first call's; the first piece is in the scratch buffer.
    bool read_long_text(unsigned short column, size_t piece, long indicator, odbc_value& value);
    bool read_long_bytes(unsigned short column, size_t piece, long indicator, odbc_value& value);
    bool cannot_convert(odbc_value& value);
    void bind();
    static void read_fixed(const odbc_column& column, const odbc_bound_value& slot, odbc_value& value);

    std::shared_ptr<odbc_pool> m_pool;
    runner m_run;
    std::unique_ptr<odbc_statement> m_statement;
    std::vector<odbc_column> m_columns;
    // The first call's buffers, sized once for the largest first piece of any column.
    std::vector<char16_t> m_wide_scratch;
    std::vector<char> m_byte_scratch;
    // Where the driver writes the values of bound columns at each fetch; empty slots for the
    // columns read by SQLGetData. Allocated once: the driver keeps the addresses.
    std::unique_ptr<odbc_bound_value[]> m_bound;
};
