#include "ODBC/odbc_result.hpp"

#include "ODBC/odbc_error.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"

#include "ODBC/odbc_sql.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Microsoft's types beyond the ODBC standard, as its drivers and FreeTDS report them.
constexpr SQLSMALLINT sql_ss_variant = -150;
constexpr SQLSMALLINT sql_ss_udt = -151;
constexpr SQLSMALLINT sql_ss_xml = -152;
constexpr SQLSMALLINT sql_ss_time2 = -154;
constexpr SQLSMALLINT sql_ss_timestampoffset = -155;

constexpr DBLENGTH largest = ~DBLENGTH(0);
// What the first call reads of an unbounded value; the second call takes the rest at once.
constexpr size_t long_first_piece = 4096;
// Bounded columns larger than this still read in pieces.
constexpr size_t bounded_piece_limit = 8000;
// sql_variant's largest value; FreeTDS never ends a piecewise read of one, so it is read in one call.
constexpr size_t variant_piece = 8016;

bool starts_with_nocase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = text[i] >= u'A' && text[i] <= u'Z' ? text[i] + 32 : text[i];
        if (c != prefix[i]) return false;
    }
    return true;
}

void fixed(odbc_column& column, DBTYPE type, DBLENGTH size, size_t piece) {
    column.type = type;
    column.size = size;
    column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
    column.first_piece = piece;
}

void variable(odbc_column& column, DBTYPE type, unsigned long long size, bool is_long) {
    column.type = type;
    if (is_long || size == 0 || size >= 0x3FFFFFFF) {
        column.size = largest;
        column.flags |= DBCOLUMNFLAGS_ISLONG;
        column.first_piece = long_first_piece;
    } else {
        column.size = size;
        column.first_piece = std::clamp<size_t>(size, 16, bounded_piece_limit);
    }
}

std::u16string from_sqlwchar(const SQLWCHAR* text, size_t size) {
    std::u16string result(size, u'\0');
    for (size_t i = 0; i < size; ++i) result[i] = static_cast<char16_t>(text[i]);
    return result;
}

template <class T> void format_real(T number, int digits, std::u16string& out) {
    char buffer[40];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::general, digits);
    out.assign(buffer, ec == std::errc() ? end : buffer);
}

// OLE DB gives a GUID as 38 upper-case characters in braces; FreeTDS gives it bare.
void fix_guid(std::u16string& text) {
    if (text.size() == 36) {
        text.insert(text.begin(), u'{');
        text.push_back(u'}');
    }
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'f') c -= 32;
}

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case, as fix_guid makes of a driver's text.
void format_guid(const SQLGUID& id, std::u16string& out) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    char16_t text[38];
    char16_t* p = text;
    auto hex = [&](unsigned long long value, int count) {
        for (int shift = 4 * (count - 1); shift >= 0; shift -= 4) *p++ = digits[(value >> shift) & 15];
    };
    *p++ = u'{';
    hex(id.Data1, 8);
    *p++ = u'-';
    hex(id.Data2, 4);
    *p++ = u'-';
    hex(id.Data3, 4);
    *p++ = u'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) *p++ = u'-';
        hex(id.Data4[i], 2);
    }
    *p++ = u'}';
    out.assign(text, p);
}

// Microsoft's drivers write 0.5 as ".5".
// FreeTDS writes the year 1 as "1-01-01": read that way it would be a two-digit year of this
// century. The year always has four digits.
void fix_year(std::u16string& text) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
    if (digits > 0 && digits < 4 && digits < text.size() && text[digits] == u'-')
        text.insert(0, 4 - digits, u'0');
}

void fix_decimal(std::u16string& text) {
    if (!text.empty() && text[0] == u'.')
        text.insert(text.begin(), u'0');
    else if (text.size() > 1 && text[0] == u'-' && text[1] == u'.')
        text.insert(text.begin() + 1, u'0');
}

// The bytes FreeTDS gives for a time (hour, minute, second, a pad, the fraction in nanoseconds)
// and for a date-time with its offset (year, month, day, hour, minute, second, the fraction, the
// offset's hours and minutes, signed), in 16-bit words but for the 32-bit fraction.
constexpr SQLLEN freetds_time_size = 12;
constexpr SQLLEN freetds_offset_size = 20;

std::uint16_t word_at(const unsigned char* bytes, size_t index) {
    return std::uint16_t(bytes[2 * index] | bytes[2 * index + 1] << 8);
}
std::uint32_t long_at(const unsigned char* bytes, size_t offset) {
    return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
           std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
}

bool is_freetds_read(odbc_column::read_kind kind) {
    return kind == odbc_column::numeric || kind == odbc_column::money || kind == odbc_column::time ||
           kind == odbc_column::offset_stamp;
}

// The C type a fixed-size column is read as, and the room it takes.
bool fixed_c_type(odbc_column::read_kind kind, SQLSMALLINT& type, SQLLEN& size) {
    switch (kind) {
    case odbc_column::integer:
        type = SQL_C_SBIGINT;
        size = sizeof(SQLBIGINT);
        return true;
    case odbc_column::real8:
        type = SQL_C_DOUBLE;
        size = sizeof(double);
        return true;
    case odbc_column::real4:
        type = SQL_C_FLOAT;
        size = sizeof(float);
        return true;
    case odbc_column::guid_bytes:
        type = SQL_C_GUID;
        size = sizeof(SQLGUID);
        return true;
    case odbc_column::timestamp:
        type = SQL_C_TYPE_TIMESTAMP;
        size = sizeof(SQL_TIMESTAMP_STRUCT);
        return true;
    case odbc_column::date:
        type = SQL_C_TYPE_DATE;
        size = sizeof(SQL_DATE_STRUCT);
        return true;
    // FreeTDS's own structures, which it gives for these types as bytes: a decimal as the
    // numeric structure with the value's precision and scale (the numeric type itself would lose
    // the scale), money as the server sends it, times as the server's structures.
    case odbc_column::numeric:
        type = SQL_C_BINARY;
        size = sizeof(SQL_NUMERIC_STRUCT);
        return true;
    case odbc_column::money:
        type = SQL_C_BINARY;
        size = 8;
        return true;
    case odbc_column::time:
        type = SQL_C_BINARY;
        size = freetds_time_size;
        return true;
    case odbc_column::offset_stamp:
        type = SQL_C_BINARY;
        size = freetds_offset_size;
        return true;
    default:
        return false;
    }
}

// Holds `next` in place of what `value` held, which it may have moved (realloc): never freed here.
void rehold(odbc_value& value, BSTR next) {
    if (!next) throw std::bad_alloc();
    (void)value.held.take_text();
    value.held.hold(next);
}

} // namespace

odbc_held::odbc_held(const odbc_held& other) {
    *this = other;
}

odbc_held& odbc_held::operator=(const odbc_held& other) {
    if (this == &other) return *this;
    reset();
    if (other.m_text) {
        m_text = SysAllocStringLen(other.m_text, SysStringLen(other.m_text));
        if (!m_text) throw std::bad_alloc();
    }
    if (other.m_bytes && FAILED(SafeArrayCopy(other.m_bytes, &m_bytes))) throw std::bad_alloc();
    return *this;
}

odbc_held& odbc_held::operator=(odbc_held&& other) noexcept {
    if (this == &other) return *this;
    reset();
    m_text = std::exchange(other.m_text, nullptr);
    m_bytes = std::exchange(other.m_bytes, nullptr);
    return *this;
}

void odbc_held::free() noexcept {
    SysFreeString(std::exchange(m_text, nullptr));
    SafeArrayDestroy(std::exchange(m_bytes, nullptr));
}

void odbc_held::hold(BSTR text) noexcept {
    reset();
    m_text = text;
}

void odbc_held::hold(SAFEARRAY* bytes) noexcept {
    reset();
    m_bytes = bytes;
}

BSTR odbc_held::take_text() noexcept {
    return std::exchange(m_text, nullptr);
}

SAFEARRAY* odbc_held::take_bytes() noexcept {
    return std::exchange(m_bytes, nullptr);
}

void odbc_number_text(const odbc_value& value, std::u16string& out) {
    switch (value.number) {
    case odbc_value::real8:
        // The number itself: a driver's own text may not give back the same number.
        format_real(value.typed.real8, 17, out);
        return;
    case odbc_value::real4:
        format_real(value.typed.real4, 9, out);
        return;
    case odbc_value::integer: {
        char digits[24];
        char* end = std::to_chars(digits, digits + sizeof digits, value.typed.whole).ptr;
        out.assign(digits, end);
        return;
    }
    case odbc_value::stamp:
    case odbc_value::day:
        // The driver's text with the year in four digits, as fix_year leaves it.
        odb_timestamp_text(value.typed.stamp, value.digits, value.number == odbc_value::day, out);
        return;
    case odbc_value::clock:
        // The driver's text: "hh:mm:ss", then the fraction to the column's digits.
        odb_timestamp_text(value.typed.stamp, value.digits, false, out);
        out.erase(0, 11);
        return;
    case odbc_value::numeric:
        odb_numeric_text(value.typed.numeric, out);
        return;
    case odbc_value::money:
        odb_money_text(value.typed.whole, out);
        return;
    default:
        out = value.text;
        return;
    }
}

struct odbc_bound_value {
    union {
        SQLBIGINT whole;
        double real8;
        float real4;
        SQLGUID id;
        SQL_TIMESTAMP_STRUCT stamp;
        SQL_DATE_STRUCT day;
        unsigned char raw[20]; // the byte forms, big enough for each
    };
    SQLLEN indicator = 0;
    bool bound = false;
};

odbc_column odbc_describe_column(std::u16string name, short sql_type, std::u16string_view type_name,
                                 unsigned long long column_size, short decimal_digits, short nullable,
                                 bool is_unsigned) {
    odbc_column column;
    column.name = std::move(name);
    if (nullable != SQL_NO_NULLS) column.flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
    switch (sql_type) {
    case SQL_INTEGER:
        fixed(column, is_unsigned ? DBTYPE_UI4 : DBTYPE_I4, 4, 16);
        if (!is_unsigned) column.read = odbc_column::integer;
        break;
    case SQL_SMALLINT:
        fixed(column, is_unsigned ? DBTYPE_UI2 : DBTYPE_I2, 2, 16);
        if (!is_unsigned) column.read = odbc_column::integer;
        break;
    case SQL_TINYINT:
        fixed(column, DBTYPE_UI1, 1, 16);
        column.read = odbc_column::integer;
        break; // the server's tinyint is unsigned
    case SQL_BIGINT:
        fixed(column, is_unsigned ? DBTYPE_UI8 : DBTYPE_I8, 8, 24);
        if (!is_unsigned) column.read = odbc_column::integer;
        break;
    case SQL_REAL:
        fixed(column, DBTYPE_R4, 4, 32);
        column.read = odbc_column::real4;
        break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        fixed(column, DBTYPE_R8, 8, 32);
        column.read = odbc_column::real8;
        break;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        // FreeTDS reports money and smallmoney as decimals; only the type name tells them apart.
        if (starts_with_nocase(type_name, u"money") || starts_with_nocase(type_name, u"smallmoney")) {
            fixed(column, DBTYPE_CY, 8, 32);
            column.read = odbc_column::money;
        } else {
            fixed(column, DBTYPE_NUMERIC, 19, 48);
            column.precision = static_cast<BYTE>(std::min<unsigned long long>(column_size, 38));
            column.scale = static_cast<BYTE>(std::clamp<int>(decimal_digits, 0, 38));
            column.read = odbc_column::numeric;
        }
        column.decimal = true;
        break;
    case SQL_BIT:
        fixed(column, DBTYPE_BOOL, 2, 8);
        column.read = odbc_column::integer;
        break;
    case SQL_GUID:
        fixed(column, DBTYPE_GUID, 16, 40);
        column.guid = true;
        column.read = odbc_column::guid_bytes;
        break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        fixed(column, DBTYPE_DBTIMESTAMP, 16, 40);
        column.dated = true;
        column.read = odbc_column::timestamp;
        column.fraction = static_cast<BYTE>(std::clamp<int>(decimal_digits, 0, 9));
        // As OLE DB reports it: the digits of the fraction of a second.
        column.scale = column.fraction;
        break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        fixed(column, DBTYPE_DBDATE, 6, 16);
        column.dated = true;
        column.read = odbc_column::date;
        break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case sql_ss_time2:
        fixed(column, DBTYPE_DBTIME2, 10, 24);
        column.read = odbc_column::time;
        column.fraction = static_cast<BYTE>(std::clamp<int>(decimal_digits, 0, 7));
        break;
    case sql_ss_timestampoffset:
        fixed(column, DBTYPE_DBTIMESTAMPOFFSET, 20, 48);
        column.dated = true;
        column.read = odbc_column::offset_stamp;
        column.fraction = static_cast<BYTE>(std::clamp<int>(decimal_digits, 0, 7));
        break;
    case SQL_CHAR:
        variable(column, DBTYPE_STR, column_size, false);
        column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
        break;
    case SQL_VARCHAR:
        variable(column, DBTYPE_STR, column_size, false);
        break;
    case SQL_LONGVARCHAR:
        variable(column, DBTYPE_STR, column_size, true);
        break;
    case SQL_WCHAR:
        variable(column, DBTYPE_WSTR, column_size, false);
        column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
        column.national = starts_with_nocase(type_name, u"nchar");
        break;
    case SQL_WVARCHAR:
        variable(column, DBTYPE_WSTR, column_size, false);
        column.national = starts_with_nocase(type_name, u"nvarchar") || starts_with_nocase(type_name, u"sysname");
        break;
    case SQL_WLONGVARCHAR:
        variable(column, DBTYPE_WSTR, column_size, true);
        break;
    case SQL_BINARY:
        variable(column, DBTYPE_BYTES, column_size, false);
        column.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
        column.read = odbc_column::bytes;
        break;
    case SQL_VARBINARY:
        variable(column, DBTYPE_BYTES, column_size, false);
        column.read = odbc_column::bytes;
        break;
    case SQL_LONGVARBINARY: // also CLR types through FreeTDS: they only read as bytes there
        variable(column, DBTYPE_BYTES, column_size, true);
        column.read = odbc_column::bytes;
        break;
    case sql_ss_xml:
        variable(column, DBTYPE_XML, column_size, true);
        break;
    case sql_ss_udt:
        variable(column, DBTYPE_UDT, column_size, column_size == 0);
        break;
    case sql_ss_variant:
        column.type = DBTYPE_VARIANT;
        column.size = variant_piece;
        column.read = odbc_column::variant;
        column.first_piece = variant_piece;
        break;
    default:
        variable(column, DBTYPE_WSTR, column_size, false);
        break;
    }
    return column;
}

bool odbc_memory_result::fetch(odbc_row& row) {
    if (m_next >= m_rows.size()) return false;
    row = m_rows[m_next++];
    return true;
}

odbc_statement_result::odbc_statement_result(std::shared_ptr<odbc_pool> pool, const std::u16string& sql)
    : odbc_statement_result(std::move(pool), [sql](const odbc_handle& statement) {
          std::vector<SQLWCHAR> text(sql.begin(), sql.end());
          text.push_back(0);
          SQLRETURN rc = SQLExecDirectW(statement.get(), text.data(), SQL_NTS);
          if (rc != SQL_NO_DATA) odbc_check(rc, statement, "SQLExecDirect");
      }) {}

odbc_statement_result::odbc_statement_result(std::shared_ptr<odbc_pool> pool, runner start)
    : m_pool(std::move(pool)), m_run(std::move(start)) {
    run();
    describe();
    bind();
}

odbc_statement_result::~odbc_statement_result() = default;

void odbc_statement_result::execute(const std::shared_ptr<odbc_pool>& pool, const std::u16string& sql) {
    odbc_statement_result result(pool, sql);
}

void odbc_statement_result::run() {
    m_statement.reset();
    m_statement = std::make_unique<odbc_statement>(m_pool);
    const odbc_handle& h = m_statement->handle();
    struct executing {
        odbc_statement& statement;
        explicit executing(odbc_statement& s) : statement(s) { statement.set_executing(true); }
        ~executing() { statement.set_executing(false); }
    };
    {
        executing running(*m_statement);
        m_run(h);
    }
    // Skip the counts of statements before the first result with columns.
    for (;;) {
        SQLSMALLINT count = 0;
        odbc_check(SQLNumResultCols(h.get(), &count), h, "SQLNumResultCols");
        if (count > 0) return;
        SQLRETURN rc = SQLMoreResults(h.get());
        if (rc == SQL_NO_DATA) break;
        odbc_check(rc, h, "SQLMoreResults");
    }
    m_statement->close();
}

void odbc_statement_result::describe() {
    m_columns.clear();
    if (!m_statement->is_open()) return;
    const odbc_handle& h = m_statement->handle();
    SQLSMALLINT count = 0;
    odbc_check(SQLNumResultCols(h.get(), &count), h, "SQLNumResultCols");
    std::vector<SQLWCHAR> name(512), type_name(256);
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
        SQLSMALLINT name_size = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
        SQLULEN size = 0;
        odbc_check(SQLDescribeColW(h.get(), i, name.data(), static_cast<SQLSMALLINT>(name.size()), &name_size,
                                   &type, &size, &digits, &nullable),
                   h, "SQLDescribeCol");
        SQLSMALLINT type_name_bytes = 0;
        std::u16string type_text;
        if (SQL_SUCCEEDED(SQLColAttributeW(h.get(), i, SQL_DESC_TYPE_NAME, type_name.data(),
                                           static_cast<SQLSMALLINT>(type_name.size() * sizeof(SQLWCHAR)),
                                           &type_name_bytes, nullptr)))
            type_text =
                from_sqlwchar(type_name.data(), std::min<size_t>(type_name_bytes / 2, type_name.size() - 1));
        SQLLEN is_unsigned = SQL_FALSE;
        if (!SQL_SUCCEEDED(
                SQLColAttributeW(h.get(), i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &is_unsigned)))
            is_unsigned = SQL_FALSE;
        odbc_column column =
            odbc_describe_column(from_sqlwchar(name.data(), std::min<size_t>(name_size, name.size() - 1)),
                                 type, type_text, size, digits, nullable, is_unsigned == SQL_TRUE);
        TK_TRACE(1, "ODBC column %u '%s': SQL type %d '%s', size %llu -> DBTYPE %u", static_cast<unsigned>(i),
                 tk_to_utf8(column.name).c_str(), static_cast<int>(type), tk_to_utf8(type_text).c_str(),
                 static_cast<unsigned long long>(size), static_cast<unsigned>(column.type));
        m_columns.push_back(std::move(column));
    }
    size_t largest_piece = 0;
    for (const odbc_column& c : m_columns) largest_piece = std::max(largest_piece, c.first_piece);
    m_wide_scratch.assign(largest_piece + 1, u'\0');
    m_byte_scratch.assign(largest_piece + 1, '\0');
}

void odbc_statement_result::restart() {
    run();
    bind();
}

void odbc_statement_result::bind() {
    m_bound.reset();
    if (!m_statement || !m_statement->is_open()) return;
    SQLHDBC connection = m_statement->connection().get();
    SQLWCHAR library[64] = {};
    SQLSMALLINT library_bytes = 0;
    const bool freetds =
        SQL_SUCCEEDED(SQLGetInfoW(connection, SQL_DRIVER_NAME, library, sizeof library, &library_bytes)) &&
        from_sqlwchar(library, std::min<size_t>(library_bytes / 2, 63)).starts_with(u"libtdsodbc");
    SQLWCHAR name[64] = {};
    SQLSMALLINT name_bytes = 0;
    const bool sql_server =
        SQL_SUCCEEDED(SQLGetInfoW(connection, SQL_DBMS_NAME, name, sizeof name, &name_bytes)) &&
        from_sqlwchar(name, std::min<size_t>(name_bytes / 2, 63)) == u"Microsoft SQL Server";
    // Another driver's bytes of these types are its own, and another server's national text need
    // not be UTF-16: their text is read instead.
    if (!freetds || !sql_server)
        for (odbc_column& column : m_columns) {
            if (is_freetds_read(column.read)) column.read = odbc_column::text;
            column.national = false;
        }
    // Values of fixed size are written by the fetch itself, which saves a driver call per value.
    // Only for SQL Server, whose types convert without fail (a failed conversion would fail the
    // whole fetch instead of one value), and a driver that reads the other columns in any order.
    if (!sql_server) return;
    SQLUINTEGER extensions = 0;
    constexpr SQLUINTEGER any = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER;
    if (!SQL_SUCCEEDED(
            SQLGetInfoW(connection, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
        return;
    // FreeTDS holds the whole row once fetched and reads its columns in any order, though it
    // does not say so.
    if ((extensions & any) != any && !freetds) return;
    SQLHSTMT h = m_statement->handle().get();
    m_bound = std::make_unique<odbc_bound_value[]>(m_columns.size());
    for (size_t i = 0; i < m_columns.size(); ++i) {
        SQLSMALLINT type = 0;
        SQLLEN size = 0;
        if (!fixed_c_type(m_columns[i].read, type, size)) continue;
        odbc_bound_value& slot = m_bound[i];
        slot.bound = SQL_SUCCEEDED(
            SQLBindCol(h, static_cast<SQLUSMALLINT>(i + 1), type, &slot.whole, size, &slot.indicator));
        TK_TRACE(1, "ODBC column %u bound: %s", static_cast<unsigned>(i + 1), slot.bound ? "yes" : "no");
    }
}

bool odbc_statement_result::fetch(odbc_row& row) {
    if (!m_statement || !m_statement->is_open()) return false;
    const odbc_handle& h = m_statement->handle();
    SQLRETURN rc = SQLFetch(h.get());
    if (rc == SQL_NO_DATA) {
        // The end: free the connection for the next statement at once.
        m_statement->close();
        return false;
    }
    odbc_check(rc, h, "SQLFetch");
    row.resize(m_columns.size());
    for (size_t i = 0; i < m_columns.size(); ++i) read_value(static_cast<unsigned short>(i), row[i]);
    return true;
}

bool odbc_statement_result::cannot_convert(odbc_value& value) {
    odbc_error error = odbc_error::from_handle(m_statement->handle(), "SQLGetData");
    const std::u16string& state = error.records().front().sqlstate;
    if (state == u"07006" || state == u"22003" || state == u"22018" || state == u"22007" ||
        state == u"22008" || state == u"HY003" || state == u"HYC00") {
        value.status = DBSTATUS_E_CANTCONVERTVALUE;
        value.text.clear();
        value.bytes.clear();
        return true;
    }
    throw error;
}

// The text of a value of fixed size, written here: the driver's own text of it costs a formatted
// print (strftime for dates, several thousand instructions) per value. The texts are the ones
// the driver writes, with the year in four digits and a GUID in braces.
void odbc_statement_result::read_fixed(const odbc_column& column, const odbc_bound_value& slot,
                                       odbc_value& value) {
    if (slot.indicator == SQL_NULL_DATA) {
        value.status = DBSTATUS_S_ISNULL;
        value.text.clear();
        return;
    }
    // Numbers stay as they came; only a binding that asks for text gets their text.
    switch (column.read) {
    case odbc_column::real8:
        value.number = odbc_value::real8;
        value.typed.real8 = slot.real8;
        value.text.clear();
        return;
    case odbc_column::real4:
        value.number = odbc_value::real4;
        value.typed.real4 = slot.real4;
        value.text.clear();
        return;
    case odbc_column::integer:
        value.number = odbc_value::integer;
        value.typed.whole = slot.whole;
        value.text.clear();
        return;
    case odbc_column::guid_bytes:
        format_guid(slot.id, value.text);
        return;
    case odbc_column::timestamp: {
        const SQL_TIMESTAMP_STRUCT& t = slot.stamp;
        value.number = odbc_value::stamp;
        value.typed.stamp = DBTIMESTAMP{t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction};
        value.digits = column.fraction;
        value.text.clear();
        return;
    }
    case odbc_column::date:
        value.number = odbc_value::day;
        value.typed.stamp = DBTIMESTAMP{slot.day.year, slot.day.month, slot.day.day, 0, 0, 0, 0};
        value.digits = 0;
        value.text.clear();
        return;
    case odbc_column::numeric:
        if (slot.indicator != sizeof(SQL_NUMERIC_STRUCT)) break;
        value.number = odbc_value::numeric;
        static_assert(sizeof(DB_NUMERIC) == sizeof(SQL_NUMERIC_STRUCT));
        std::memcpy(&value.typed.numeric, slot.raw, sizeof(DB_NUMERIC));
        value.text.clear();
        return;
    case odbc_column::money:
        // The server's order: the high 32 bits first, then the low ones; smallmoney is 32 bits.
        if (slot.indicator == 8)
            value.typed.whole = static_cast<long long>(
                static_cast<std::uint64_t>(long_at(slot.raw, 0)) << 32 | long_at(slot.raw, 4));
        else if (slot.indicator == 4)
            value.typed.whole = static_cast<std::int32_t>(long_at(slot.raw, 0));
        else
            break;
        value.number = odbc_value::money;
        value.text.clear();
        return;
    case odbc_column::time:
        if (slot.indicator != freetds_time_size) break;
        value.number = odbc_value::clock;
        value.typed.stamp =
            DBTIMESTAMP{0, 0, 0, word_at(slot.raw, 0), word_at(slot.raw, 1), word_at(slot.raw, 2), long_at(slot.raw, 8)};
        value.digits = column.fraction;
        value.text.clear();
        return;
    case odbc_column::offset_stamp: {
        if (slot.indicator != freetds_offset_size) break;
        // The driver's text: the local date-time, then " +hh:mm" or " -hh:mm".
        const DBTIMESTAMP parts{static_cast<std::int16_t>(word_at(slot.raw, 0)),
                                word_at(slot.raw, 1),
                                word_at(slot.raw, 2),
                                word_at(slot.raw, 3),
                                word_at(slot.raw, 4),
                                word_at(slot.raw, 5),
                                long_at(slot.raw, 12)};
        odb_timestamp_text(parts, column.fraction, false, value.text);
        int offset = static_cast<std::int16_t>(word_at(slot.raw, 8)) * 60 +
                     static_cast<std::int16_t>(word_at(slot.raw, 9));
        value.text += offset < 0 ? u" -" : u" +";
        offset = std::abs(offset);
        const char16_t zone[] = {char16_t(u'0' + offset / 600), char16_t(u'0' + offset / 60 % 10), u':',
                                 char16_t(u'0' + offset % 60 / 10), char16_t(u'0' + offset % 10)};
        value.text.append(zone, 5);
        return;
    }
    default:
        return;
    }
    // Bytes of a length these types never have: nothing is guessed from them.
    value.status = DBSTATUS_E_CANTCONVERTVALUE;
    value.text.clear();
}

void odbc_statement_result::read_value(unsigned short index, odbc_value& value) {
    const odbc_column& column = m_columns[index];
    SQLHSTMT h = m_statement->handle().get();
    SQLUSMALLINT number = index + 1;
    SQLLEN indicator = 0;
    value.status = DBSTATUS_S_OK;
    value.number = odbc_value::no_number;
    value.held.reset();
    value.taken = false;
    switch (column.read) {
    case odbc_column::real8:
    case odbc_column::real4:
    case odbc_column::integer:
    case odbc_column::guid_bytes:
    case odbc_column::timestamp:
    case odbc_column::date:
    case odbc_column::numeric:
    case odbc_column::money:
    case odbc_column::time:
    case odbc_column::offset_stamp: {
        const odbc_bound_value* slot = m_bound ? &m_bound[index] : nullptr;
        odbc_bound_value read{};
        if (!slot || !slot->bound) {
            SQLSMALLINT type = 0;
            SQLLEN size = 0;
            fixed_c_type(column.read, type, size);
            if (!SQL_SUCCEEDED(SQLGetData(h, number, type, &read.whole, size, &read.indicator))) {
                cannot_convert(value);
                return;
            }
            slot = &read;
        }
        read_fixed(column, *slot, value);
        return;
    }
    case odbc_column::bytes:
        read_byte_pieces(number, column, value);
        return;
    case odbc_column::variant: {
        std::u16string& text = value.text;
        size_t capacity = column.first_piece;
        SQLRETURN rc =
            SQLGetData(h, number, SQL_C_WCHAR, m_wide_scratch.data(), (capacity + 1) * 2, &indicator);
        if (rc == SQL_NO_DATA) {
            text.clear();
        } else if (!SQL_SUCCEEDED(rc)) {
            cannot_convert(value);
        } else if (indicator == SQL_NULL_DATA) {
            value.status = DBSTATUS_S_ISNULL;
            text.clear();
        } else if (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) / 2 > capacity) {
            text.assign(m_wide_scratch.data(), capacity);
            value.status = DBSTATUS_S_TRUNCATED;
        } else {
            text.assign(m_wide_scratch.data(), indicator / 2);
        }
        return;
    }
    case odbc_column::text:
        if (column.national && !(column.flags & DBCOLUMNFLAGS_ISLONG)) {
            read_national(number, column, value);
            return;
        }
        if (read_text_pieces(number, column, value) && value.status == DBSTATUS_S_OK) {
            if (column.guid) fix_guid(value.text);
            if (column.decimal) fix_decimal(value.text);
            if (column.dated) fix_year(value.text);
        }
        return;
    }
}

bool odbc_statement_result::read_text_pieces(unsigned short number, const odbc_column& column,
                                             odbc_value& value) {
    SQLHSTMT h = m_statement->handle().get();
    std::u16string& text = value.text;
    size_t piece = column.first_piece;
    // The first piece goes to a buffer of the statement, so that a short value in a wide column
    // costs a copy of itself only.
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(h, number, SQL_C_WCHAR, m_wide_scratch.data(), (piece + 1) * 2, &indicator);
    if (rc == SQL_NO_DATA) {
        text.clear();
        return true;
    }
    if (!SQL_SUCCEEDED(rc)) return !cannot_convert(value);
    if (indicator == SQL_NULL_DATA) {
        value.status = DBSTATUS_S_ISNULL;
        text.clear();
        return true;
    }
    // FreeTDS does not always flag a cut wide text: the length decides, not the return code.
    if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / 2 <= piece) {
        text.assign(m_wide_scratch.data(), indicator / 2);
        return true;
    }
    if (column.flags & DBCOLUMNFLAGS_ISLONG) return read_long_text(number, piece, indicator, value);
    text.assign(m_wide_scratch.data(), piece);
    size_t length = piece;
    for (;;) {
        // The rest in one call when the driver said how much is left (small pieces are slow on
        // some drivers); otherwise double what we have.
        size_t want = indicator == SQL_NO_TOTAL ? std::max(length, long_first_piece)
                                                : static_cast<size_t>(indicator) / 2 - piece;
        if (want == 0) want = 1;
        text.resize(length + want + 1);
        SQLLEN previous = indicator;
        rc = SQLGetData(h, number, SQL_C_WCHAR, text.data() + length, (want + 1) * 2, &indicator);
        if (rc == SQL_NO_DATA) {
            // The driver said there was more but has nothing: the value was cut.
            text.resize(length);
            value.status = DBSTATUS_S_TRUNCATED;
            return true;
        }
        if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(m_statement->handle(), "SQLGetData");
        if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / 2 <= want) {
            text.resize(length + indicator / 2);
            return true;
        }
        if (indicator != SQL_NO_TOTAL && previous != SQL_NO_TOTAL && indicator >= previous) {
            // A driver that never gets to the end (FreeTDS with sql_variant does this).
            text.resize(length + want);
            value.status = DBSTATUS_S_TRUNCATED;
            return true;
        }
        length += want;
        piece = want;
    }
}

bool odbc_statement_result::read_byte_pieces(unsigned short number, const odbc_column& column,
                                             odbc_value& value) {
    SQLHSTMT h = m_statement->handle().get();
    std::string& bytes = value.bytes;
    size_t piece = column.first_piece;
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(h, number, SQL_C_BINARY, m_byte_scratch.data(), piece, &indicator);
    if (rc == SQL_NO_DATA) {
        bytes.clear();
        return true;
    }
    if (!SQL_SUCCEEDED(rc)) return !cannot_convert(value);
    if (indicator == SQL_NULL_DATA) {
        value.status = DBSTATUS_S_ISNULL;
        bytes.clear();
        return true;
    }
    if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= piece) {
        bytes.assign(m_byte_scratch.data(), indicator);
        return true;
    }
    if (column.flags & DBCOLUMNFLAGS_ISLONG) return read_long_bytes(number, piece, indicator, value);
    bytes.assign(m_byte_scratch.data(), piece);
    size_t length = piece;
    for (;;) {
        size_t want = indicator == SQL_NO_TOTAL ? std::max(length, long_first_piece)
                                                : static_cast<size_t>(indicator) - piece;
        if (want == 0) want = 1;
        bytes.resize(length + want);
        SQLLEN previous = indicator;
        rc = SQLGetData(h, number, SQL_C_BINARY, bytes.data() + length, want, &indicator);
        if (rc == SQL_NO_DATA) {
            bytes.resize(length);
            value.status = DBSTATUS_S_TRUNCATED;
            return true;
        }
        if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(m_statement->handle(), "SQLGetData");
        if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= want) {
            bytes.resize(length + indicator);
            return true;
        }
        if (indicator != SQL_NO_TOTAL && previous != SQL_NO_TOTAL && indicator >= previous) {
            bytes.resize(length + want);
            value.status = DBSTATUS_S_TRUNCATED;
            return true;
        }
        length += want;
        piece = want;
    }
}

// The server's UTF-16 as FreeTDS holds it, read as bytes: as wide text FreeTDS would convert it
// with iconv, value by value, from and to the same encoding.
void odbc_statement_result::read_national(unsigned short number, const odbc_column& column, odbc_value& value) {
    SQLHSTMT h = m_statement->handle().get();
    std::u16string& text = value.text;
    const size_t piece = column.first_piece * 2;
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(h, number, SQL_C_BINARY, m_wide_scratch.data(), piece, &indicator);
    if (rc == SQL_NO_DATA) {
        text.clear();
        return;
    }
    if (!SQL_SUCCEEDED(rc)) {
        cannot_convert(value);
        return;
    }
    if (indicator == SQL_NULL_DATA) {
        value.status = DBSTATUS_S_ISNULL;
        text.clear();
        return;
    }
    // A length that is no count of UTF-16 units, or none at all: nothing is guessed from it.
    if (indicator < 0 || indicator % 2) {
        value.status = DBSTATUS_E_CANTCONVERTVALUE;
        text.clear();
        return;
    }
    const size_t length = static_cast<size_t>(indicator);
    const size_t first = std::min(length, piece);
    text.assign(m_wide_scratch.data(), first / 2);
    if (length == first) return;
    // More than the declared size said: the rest in one more call.
    text.resize(length / 2);
    rc = SQLGetData(h, number, SQL_C_BINARY, text.data() + first / 2, length - first, &indicator);
    if (rc == SQL_NO_DATA) {
        text.resize(first / 2);
        value.status = DBSTATUS_S_TRUNCATED;
        return;
    }
    if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(m_statement->handle(), "SQLGetData");
}

// A long value goes straight into the storage a consumer takes over: one block of the size the
// driver announced, grown by doubling when it cannot say. The pieces are read as above.
bool odbc_statement_result::read_long_text(unsigned short number, size_t piece, SQLLEN indicator,
                                           odbc_value& value) {
    SQLHSTMT h = m_statement->handle().get();
    value.text.clear();
    size_t room = indicator == SQL_NO_TOTAL ? 2 * std::max(piece, long_first_piece)
                                            : static_cast<size_t>(indicator) / 2;
    auto fit = [](size_t chars) {
        if (chars > 0x7FFFFFFE) throw std::bad_alloc();
        return static_cast<std::uint32_t>(chars);
    };
    rehold(value, ole_bstr_alloc(fit(room)));
    std::memcpy(value.held.text(), m_wide_scratch.data(), piece * sizeof(char16_t));
    size_t length = piece;
    auto finish = [&](size_t chars, DBSTATUS status) {
        if (chars != room) rehold(value, ole_bstr_resize(value.held.text(), fit(chars)));
        value.status = status;
        return true;
    };
    for (;;) {
        size_t want = indicator == SQL_NO_TOTAL ? std::max(length, long_first_piece)
                                                : static_cast<size_t>(indicator) / 2 - piece;
        if (want == 0) want = 1;
        if (length + want > room) {
            room = length + want;
            rehold(value, ole_bstr_resize(value.held.text(), fit(room)));
        }
        SQLLEN previous = indicator;
        SQLRETURN rc =
            SQLGetData(h, number, SQL_C_WCHAR, value.held.text() + length, (want + 1) * 2, &indicator);
        if (rc == SQL_NO_DATA) return finish(length, DBSTATUS_S_TRUNCATED);
        if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(m_statement->handle(), "SQLGetData");
        if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) / 2 <= want)
            return finish(length + indicator / 2, DBSTATUS_S_OK);
        if (indicator != SQL_NO_TOTAL && previous != SQL_NO_TOTAL && indicator >= previous)
            return finish(length + want, DBSTATUS_S_TRUNCATED);
        length += want;
        piece = want;
    }
}

bool odbc_statement_result::read_long_bytes(unsigned short number, size_t piece, SQLLEN indicator,
                                            odbc_value& value) {
    SQLHSTMT h = m_statement->handle().get();
    value.bytes.clear();
    size_t room =
        indicator == SQL_NO_TOTAL ? 2 * std::max(piece, long_first_piece) : static_cast<size_t>(indicator);
    auto resize = [&](size_t count) {
        if (count > 0xFFFFFFFFu) throw std::bad_alloc();
        SAFEARRAYBOUND bound{static_cast<std::uint32_t>(count), 0};
        if (FAILED(SafeArrayRedim(value.held.bytes(), &bound))) throw std::bad_alloc();
    };
    if (room > 0xFFFFFFFFu) throw std::bad_alloc();
    value.held.hold(ole_byte_array(static_cast<std::uint32_t>(room)));
    if (!value.held.bytes()) throw std::bad_alloc();
    auto data = [&] { return static_cast<char*>(value.held.bytes()->pvData); };
    std::memcpy(data(), m_byte_scratch.data(), piece);
    size_t length = piece;
    auto finish = [&](size_t count, DBSTATUS status) {
        if (count != room) resize(count);
        value.status = status;
        return true;
    };
    for (;;) {
        size_t want = indicator == SQL_NO_TOTAL ? std::max(length, long_first_piece)
                                                : static_cast<size_t>(indicator) - piece;
        if (want == 0) want = 1;
        if (length + want > room) {
            room = length + want;
            resize(room);
        }
        SQLLEN previous = indicator;
        SQLRETURN rc = SQLGetData(h, number, SQL_C_BINARY, data() + length, want, &indicator);
        if (rc == SQL_NO_DATA) return finish(length, DBSTATUS_S_TRUNCATED);
        if (!SQL_SUCCEEDED(rc)) throw odbc_error::from_handle(m_statement->handle(), "SQLGetData");
        if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= want)
            return finish(length + indicator, DBSTATUS_S_OK);
        if (indicator != SQL_NO_TOTAL && previous != SQL_NO_TOTAL && indicator >= previous)
            return finish(length + want, DBSTATUS_S_TRUNCATED);
        length += want;
        piece = want;
    }
}
