#include "tdsemu/emu_session.hpp"

#include "tdsemu/sql_lexer.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tdsemu {

namespace {

const char* const server_name = "TDSEMU";
const size_t max_message_bytes = 64u << 20;

struct connection_lost : std::runtime_error {
    connection_lost() : std::runtime_error("connection lost") {}
};
struct protocol_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A server error raised inside a procedure or statement.
struct server_error : std::runtime_error {
    int number, cls;
    server_error(int n, int c, const std::string& text) : std::runtime_error(text), number(n), cls(c) {}
};

const unsigned done_more = 0x01, done_error = 0x02, done_count = 0x10, done_attn = 0x20;
const unsigned tok_done = 0xFD, tok_doneproc = 0xFE, tok_doneinproc = 0xFF;

struct reader {
    const std::string& b;
    size_t pos = 0;
    void need(size_t n) const {
        if (pos + n > b.size()) throw protocol_error("truncated request");
    }
    unsigned u8() {
        need(1);
        return static_cast<unsigned char>(b[pos++]);
    }
    unsigned u16() {
        unsigned lo = u8();
        return lo | (u8() << 8);
    }
    uint32_t u32() {
        uint32_t lo = u16();
        return lo | (static_cast<uint32_t>(u16()) << 16);
    }
    uint64_t u64() {
        uint64_t lo = u32();
        return lo | (static_cast<uint64_t>(u32()) << 32);
    }
    std::string bytes(size_t n) {
        need(n);
        std::string s = b.substr(pos, n);
        pos += n;
        return s;
    }
    std::string utf16(size_t chars) {
        need(chars * 2);
        std::string s = utf16le_to_utf8(b.data() + pos, chars * 2);
        pos += chars * 2;
        return s;
    }
    bool at_end() const { return pos >= b.size(); }
};

// LIKE with %, _ and [..] sets, ignoring case as the default collation does.
bool like(const std::string& pattern, const std::string& text, size_t p = 0, size_t t = 0) {
    while (p < pattern.size()) {
        char pc = pattern[p];
        if (pc == '%') {
            for (size_t k = t; k <= text.size(); ++k)
                if (like(pattern, text, p + 1, k)) return true;
            return false;
        }
        if (t >= text.size()) return false;
        if (pc == '[') {
            size_t close = pattern.find(']', p + 2);
            if (close == std::string::npos) return false;
            std::string set = pattern.substr(p + 1, close - p - 1);
            bool negate = !set.empty() && set[0] == '^' && set.size() > 1;
            if (negate) set.erase(0, 1);
            bool hit = false;
            char tc = static_cast<char>(std::tolower(static_cast<unsigned char>(text[t])));
            for (size_t k = 0; k < set.size(); ++k) {
                char lo = static_cast<char>(std::tolower(static_cast<unsigned char>(set[k])));
                if (k + 2 < set.size() && set[k + 1] == '-') {
                    char hi = static_cast<char>(std::tolower(static_cast<unsigned char>(set[k + 2])));
                    hit |= tc >= lo && tc <= hi;
                    k += 2;
                } else {
                    hit |= tc == lo;
                }
            }
            if (hit == negate) return false;
            p = close + 1;
            ++t;
            continue;
        }
        if (pc != '_' &&
            std::tolower(static_cast<unsigned char>(pc)) != std::tolower(static_cast<unsigned char>(text[t])))
            return false;
        ++p;
        ++t;
    }
    return t == text.size();
}

bool has_wildcard(const std::string& s) {
    return s.find_first_of("%_[") != std::string::npos;
}

result_column col(const std::string& name, const char* type, std::vector<std::string> args = {},
                  bool nullable = true) {
    result_column c;
    c.name = name;
    parse_sql_type(type, args, c.type);
    c.nullable = nullable;
    return c;
}
result_column sysname(const std::string& name, bool nullable = true) {
    return col(name, "sysname", {}, nullable);
}

cell txt(const std::string& s) {
    return cell::of_text(s);
}
cell num(int64_t v) {
    return cell::of(v);
}
const cell null_cell;

// The ODBC description of a column as the catalog procedure reports it.
struct odbc_info {
    int data_type;
    std::string type_name;
    std::optional<int64_t> precision, length, scale, radix;
    int sql_data_type;
    std::optional<int64_t> datetime_sub, octet_length;
    int ss_data_type;
};

odbc_info odbc_description(const column_def& c, int odbc_version) {
    const sql_type& t = c.type;
    odbc_info i{};
    i.type_name = t.name();
    auto set = [&](int dt, std::optional<int64_t> prec, std::optional<int64_t> len,
                   std::optional<int64_t> scale, std::optional<int64_t> radix, int ss) {
        i.data_type = i.sql_data_type = dt;
        i.precision = prec;
        i.length = len;
        i.scale = scale;
        i.radix = radix;
        i.ss_data_type = ss;
    };
    bool n = c.nullable;
    int64_t len = t.length;
    // Types newer than the catalog procedure's ODBC level are reported as Unicode text of their literal's
    // length.
    auto as_text = [&](int64_t chars, std::optional<int64_t> scale) {
        set(-9, chars, chars * 2, scale, std::nullopt, 39);
        i.octet_length = chars * 2;
    };
    switch (t.kind) {
    case type_kind::int_:
        set(4, 10, 4, 0, 10, n ? 38 : 56);
        break;
    case type_kind::bigint:
        set(-5, 19, 8, 0, 10, 108);
        break;
    case type_kind::smallint:
        set(5, 5, 2, 0, 10, n ? 38 : 52);
        break;
    case type_kind::tinyint:
        set(-6, 3, 1, 0, 10, n ? 38 : 48);
        break;
    case type_kind::bit:
        set(-7, 1, 1, std::nullopt, std::nullopt, 50);
        break;
    case type_kind::decimal:
        set(3, t.precision, t.precision + 2, t.scale, 10, n ? 106 : 55);
        break;
    case type_kind::numeric:
        set(2, t.precision, t.precision + 2, t.scale, 10, n ? 108 : 63);
        break;
    case type_kind::money:
        set(3, 19, 21, 4, 10, n ? 110 : 60);
        break;
    case type_kind::smallmoney:
        set(3, 10, 12, 4, 10, n ? 110 : 122);
        break;
    case type_kind::float_:
        set(6, 15, 8, std::nullopt, 10, n ? 109 : 62);
        break;
    case type_kind::real:
        set(7, 7, 4, std::nullopt, 10, n ? 109 : 59);
        break;
    case type_kind::datetime:
        set(odbc_version >= 3 ? 93 : 11, 23, 16, 3, std::nullopt, n ? 111 : 61);
        i.sql_data_type = 9;
        i.datetime_sub = 3;
        break;
    case type_kind::smalldatetime:
        set(odbc_version >= 3 ? 93 : 11, 16, 16, 0, std::nullopt, n ? 111 : 58);
        i.sql_data_type = 9;
        i.datetime_sub = 3;
        break;
    case type_kind::date:
        as_text(10, std::nullopt);
        break;
    case type_kind::time:
        as_text(t.scale ? 9 + t.scale : 8, t.scale);
        break;
    case type_kind::datetime2:
        as_text(t.scale ? 20 + t.scale : 19, t.scale);
        break;
    case type_kind::datetimeoffset:
        as_text(t.scale ? 27 + t.scale : 26, t.scale);
        break;
    case type_kind::char_:
        set(1, len, len, std::nullopt, std::nullopt, 47);
        i.octet_length = len;
        break;
    case type_kind::varchar:
        if (t.is_max()) len = 2147483647;
        set(12, len, len, std::nullopt, std::nullopt, 39);
        i.octet_length = len;
        break;
    case type_kind::nchar:
        set(-8, len, len * 2, std::nullopt, std::nullopt, 47);
        i.octet_length = len * 2;
        break;
    case type_kind::nvarchar:
        set(-9, t.is_max() ? 1073741823 : len, t.is_max() ? 2147483647 : len * 2, std::nullopt, std::nullopt,
            39);
        i.octet_length = t.is_max() ? 2147483647 : len * 2;
        break;
    case type_kind::text:
        set(-1, 2147483647, 2147483647, std::nullopt, std::nullopt, 35);
        i.octet_length = 2147483647;
        break;
    case type_kind::ntext:
        set(-10, 1073741823, 2147483646, std::nullopt, std::nullopt, 99);
        i.octet_length = 2147483646;
        break;
    case type_kind::xml:
        set(-10, 0, 0, std::nullopt, std::nullopt, 0);
        i.octet_length = 0;
        break;
    case type_kind::binary:
        set(-2, len, len, std::nullopt, std::nullopt, 45);
        i.octet_length = len;
        break;
    case type_kind::varbinary:
        if (t.is_max()) len = 2147483647;
        set(-3, len, len, std::nullopt, std::nullopt, 37);
        i.octet_length = len;
        break;
    case type_kind::image:
        set(-4, 2147483647, 2147483647, std::nullopt, std::nullopt, 34);
        i.octet_length = 2147483647;
        break;
    case type_kind::timestamp:
        set(-2, 8, 8, std::nullopt, std::nullopt, 45);
        i.octet_length = 8;
        break;
    case type_kind::uniqueidentifier:
        set(-11, 36, 16, std::nullopt, std::nullopt, 39);
        break;
    case type_kind::sql_variant:
        set(-150, 8000, 8000, 0, 10, 39);
        break;
    }
    if (c.identity) i.type_name += " identity";
    return i;
}

cell opt(const std::optional<int64_t>& v) {
    return v ? num(*v) : null_cell;
}

// Names inside the procedure's own parameter order, for positional arguments.
std::vector<std::string> positional_names(const std::string& proc) {
    if (proc == "sp_tables" || proc == "sp_tableswc")
        return {"table_name", "table_owner", "table_qualifier", "table_type", "fusepattern"};
    if (proc == "sp_columns")
        return {"table_name", "table_owner", "table_qualifier", "column_name", "odbcver"};
    if (proc == "sp_pkeys") return {"table_name", "table_owner", "table_qualifier"};
    if (proc == "sp_fkeys")
        return {"pktable_name", "pktable_owner", "pktable_qualifier",
                "fktable_name", "fktable_owner", "fktable_qualifier"};
    if (proc == "sp_statistics")
        return {"table_name", "table_owner", "table_qualifier", "index_name", "is_unique", "accuracy"};
    return {};
}

std::string literal_of(const cell& c) {
    switch (c.k) {
    case cell::kind::null:
        return "NULL";
    case cell::kind::integer:
        return std::to_string(c.i);
    case cell::kind::real:
        return c.as_text();
    case cell::kind::text:
        return quote_literal(c.s);
    case cell::kind::blob: {
        std::string hex = "X'";
        static const char* digits = "0123456789ABCDEF";
        for (char ch : c.s) {
            hex += digits[(static_cast<unsigned char>(ch) >> 4) & 0xF];
            hex += digits[static_cast<unsigned char>(ch) & 0xF];
        }
        return hex + "'";
    }
    }
    return "NULL";
}

// Reads one RPC parameter value of the types clients send.
cell read_param_value(reader& r) {
    unsigned type = r.u8();
    auto collation = [&] { r.bytes(5); };
    switch (type) {
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x24:
    case 0x6F:
    case 0x6E: { // INTN BITN FLTN GUID DATETIMN MONEYN
        unsigned maxlen = r.u8();
        (void)maxlen;
        unsigned len = r.u8();
        if (len == 0) return cell{};
        bool sized = (type == 0x26 || type == 0x68) ? (len == 1 || len == 2 || len == 4 || len == 8)
                     : type == 0x6D || type == 0x6E || type == 0x6F ? (len == 4 || len == 8)
                                                                    : len == 16;
        if (!sized) throw protocol_error("bad parameter length");
        std::string b = r.bytes(len);
        if (type == 0x26 || type == 0x68) {
            int64_t v = 0;
            for (unsigned k = 0; k < len; ++k)
                v |= static_cast<int64_t>(static_cast<unsigned char>(b[k])) << (8 * k);
            if (len < 8 && type == 0x26 && len > 1 && (b[len - 1] & 0x80)) v -= int64_t(1) << (8 * len);
            return num(v);
        }
        if (type == 0x6D) {
            if (len == 4) {
                float f;
                std::memcpy(&f, b.data(), 4);
                return cell::of_real(f);
            }
            double d;
            std::memcpy(&d, b.data(), 8);
            return cell::of_real(d);
        }
        return cell::of_blob(b);
    }
    case 0x30:
        return num(r.u8());
    case 0x34: {
        int16_t v = static_cast<int16_t>(r.u16());
        return num(v);
    }
    case 0x38: {
        int32_t v = static_cast<int32_t>(r.u32());
        return num(v);
    }
    case 0x7F: {
        int64_t v = static_cast<int64_t>(r.u64());
        return num(v);
    }
    case 0x32:
        return num(r.u8());
    case 0xE7:
    case 0xEF:
    case 0xA7:
    case 0xAF:
    case 0xA5:
    case 0xAD: { // 16-bit lengths
        unsigned maxlen = r.u16();
        bool text = type != 0xA5 && type != 0xAD;
        if (text) collation();
        bool wide = type == 0xE7 || type == 0xEF;
        std::string data;
        if (maxlen == 0xFFFF) { // PLP
            uint64_t total = r.u64();
            if (total == 0xFFFFFFFFFFFFFFFFull) return cell{};
            for (;;) {
                uint32_t chunk = r.u32();
                if (chunk == 0) break;
                data += r.bytes(chunk);
                if (data.size() > max_message_bytes) throw protocol_error("parameter too long");
            }
        } else {
            unsigned len = r.u16();
            if (len == 0xFFFF) return cell{};
            data = r.bytes(len);
        }
        if (!text) return cell::of_blob(data);
        return txt(wide ? utf16le_to_utf8(data.data(), data.size()) : cp1252_to_utf8(data));
    }
    case 0x63:
    case 0x23:
    case 0x22: { // NTEXT TEXT IMAGE
        r.u32();
        if (type != 0x22) collation();
        uint32_t len = r.u32();
        if (len == 0xFFFFFFFFu) return cell{};
        std::string data = r.bytes(len);
        if (type == 0x63) return txt(utf16le_to_utf8(data.data(), data.size()));
        if (type == 0x23) return txt(cp1252_to_utf8(data));
        return cell::of_blob(data);
    }
    case 0x6A:
    case 0x6C: {
        r.u8();
        unsigned prec = r.u8(), scale = r.u8();
        (void)prec;
        unsigned len = r.u8();
        if (len == 0) return cell{};
        if (len > 17) throw protocol_error("bad decimal parameter");
        unsigned sign = r.u8();
        std::string mag = r.bytes(len - 1);
        unsigned __int128 m = 0;
        for (size_t k = mag.size(); k-- > 0;) m = (m << 8) | static_cast<unsigned char>(mag[k]);
        std::string digits;
        do {
            digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
            m /= 10;
        } while (m);
        while (digits.size() <= scale) digits.insert(digits.begin(), '0');
        if (scale) digits.insert(digits.size() - scale, ".");
        return txt((sign ? "" : "-") + digits);
    }
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B: {
        unsigned scale = type == 0x28 ? 0 : r.u8();
        unsigned len = r.u8();
        if (len == 0) return cell{};
        std::string b = r.bytes(len);
        auto le = [&](size_t from, size_t n) {
            int64_t v = 0;
            for (size_t k = 0; k < n; ++k)
                v |= static_cast<int64_t>(static_cast<unsigned char>(b[from + k])) << (8 * k);
            return v;
        };
        char buf[64];
        int y, m, d;
        size_t tlen = type == 0x28 ? 0 : scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
        if (b.size() < tlen + (type == 0x29 ? 0 : 3)) throw protocol_error("bad date parameter");
        int64_t units = tlen ? le(0, tlen) : 0;
        int64_t ticks = units;
        for (unsigned k = scale; k < 7; ++k) ticks *= 10;
        std::string time_text;
        if (type != 0x28) {
            std::snprintf(
                buf, sizeof buf, "%02lld:%02lld:%02lld.%07lld", static_cast<long long>(ticks / 36000000000LL),
                static_cast<long long>(ticks / 600000000LL % 60),
                static_cast<long long>(ticks / 10000000LL % 60), static_cast<long long>(ticks % 10000000LL));
            time_text = buf;
        }
        if (type == 0x29) return txt(time_text);
        civil_from_days(le(tlen, 3) + days_from_civil(1, 1, 1), y, m, d);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
        if (type == 0x28) return txt(buf);
        return txt(std::string(buf) + " " + time_text);
    }
    default:
        throw protocol_error("unsupported parameter type");
    }
}

bool plain_name(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    return name.find_first_of("()'+-*/ ,=<>|.") == std::string::npos && !iequals(name, "NULL");
}

} // namespace

struct emu_session::proc_result {
    struct set {
        std::vector<result_column> columns;
        std::vector<std::vector<cell>> rows;
    };
    std::vector<set> sets;
};

emu_session::emu_session(const emu_state& state, int fd) : m_state(state), m_fd(fd), m_spid(0) {
    m_spid = state.next_spid++;
}

emu_session::~emu_session() {
    if (m_sqlite) sqlite3_close_v2(m_sqlite);
}

// ---- wire

bool emu_session::read_message(unsigned& type, std::string& payload) {
    payload.clear();
    for (;;) {
        unsigned char h[8];
        size_t got = 0;
        while (got < 8) {
            ssize_t n = ::recv(m_fd, h + got, 8 - got, 0);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                return false;
            }
            got += static_cast<size_t>(n);
        }
        size_t length = (static_cast<size_t>(h[2]) << 8) | h[3];
        if (length < 8 || length > 32768) throw protocol_error("bad packet length");
        if (payload.empty())
            type = h[0];
        else if (h[0] != type)
            throw protocol_error("packet type changed inside a message");
        size_t body = length - 8;
        size_t at = payload.size();
        if (at + body > max_message_bytes) throw protocol_error("message too long");
        payload.resize(at + body);
        size_t read = 0;
        while (read < body) {
            ssize_t n = ::recv(m_fd, payload.data() + at + read, body - read, 0);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                return false;
            }
            read += static_cast<size_t>(n);
        }
        if (h[1] & 0x01) return true;
    }
}

namespace {
// The cell keeps its buffer from row to row; a plain copy costs less than assign()'s general replace.
void refill(std::string& s, const char* p, int n) {
    s.resize(static_cast<size_t>(n));
    if (n > 0) std::memcpy(s.data(), p, static_cast<size_t>(n));
}

void send_all(int fd, const char* p, size_t n) {
    while (n) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw connection_lost();
        p += w;
        n -= static_cast<size_t>(w);
    }
}
} // namespace

// A reply packet's header: type 4, whether it ends the message, its length, the session and the
// packet's number within the message.
void emu_session::put_header(bool last, size_t length) {
    const char h[8] = {4,
                       static_cast<char>(last ? 1 : 0),
                       static_cast<char>((length >> 8) & 0xFF),
                       static_cast<char>(length & 0xFF),
                       static_cast<char>((m_spid >> 8) & 0xFF),
                       static_cast<char>(m_spid & 0xFF),
                       static_cast<char>(m_packet_id++ & 0xFF),
                       0};
    m_wire.append(h, 8);
}

void emu_session::flush_partial() {
    const size_t body = m_packet_size - 8;
    // Full packets go out some at a time: one write for many packets, and a long value is never copied whole.
    const size_t batch = 65536;
    size_t sent = 0;
    while (m_out.bytes.size() - sent > body) {
        m_wire.clear();
        while (m_out.bytes.size() - sent > body && m_wire.size() < batch) {
            put_header(false, m_packet_size);
            m_wire.append(m_out.bytes, sent, body);
            sent += body;
        }
        send_all(m_fd, m_wire.data(), m_wire.size());
    }
    m_out.bytes.erase(0, sent);
}

void emu_session::end_message() {
    flush_partial();
    m_wire.clear();
    put_header(true, m_out.bytes.size() + 8);
    m_wire += m_out.bytes;
    m_out.bytes.clear();
    send_all(m_fd, m_wire.data(), m_wire.size());
    m_packet_id = 1;
}

bool emu_session::attention_requested() {
    if (m_attention) return true;
    unsigned char type = 0;
    ssize_t n = ::recv(m_fd, &type, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) {
        m_closed = true;
        return true; // the client is gone: stop working for it
    }
    if (n == 1 && type == 0x06) consume_attention();
    return m_attention;
}

void emu_session::consume_attention() {
    unsigned type = 0;
    std::string payload;
    if (!read_message(type, payload)) {
        m_closed = true;
        return;
    }
    m_attention = true;
}

void emu_session::done(unsigned token, unsigned status, unsigned curcmd, uint64_t rows) {
    m_out.u8(token);
    m_out.u16(status);
    m_out.u16(curcmd);
    m_out.u64(rows);
}

void emu_session::message(bool error, int number, int cls, int state, const std::string& text,
                          const std::string& proc) {
    tds_buffer body;
    body.u32(static_cast<uint32_t>(number));
    body.u8(state);
    body.u8(cls);
    body.us_varchar(text);
    body.b_varchar(server_name);
    body.b_varchar(proc);
    body.u32(1);
    m_out.u8(error ? 0xAA : 0xAB);
    m_out.u16(static_cast<unsigned>(body.size()));
    m_out.raw(body.bytes);
    if (m_state.options.verbose && error)
        std::cerr << "tdsemu: error " << number << ": " << text << std::endl;
}

void emu_session::envchange(unsigned type, const std::string& new_value, const std::string& old_value) {
    tds_buffer body;
    body.u8(type);
    body.b_varchar(new_value);
    body.b_varchar(old_value);
    m_out.u8(0xE3);
    m_out.u16(static_cast<unsigned>(body.size()));
    m_out.raw(body.bytes);
}

// ---- connection

void emu_session::run() {
    bool logged_in = false;
    try {
        for (;;) {
            unsigned type = 0;
            std::string payload;
            if (!read_message(type, payload)) return;
            long request = ++m_state.requests;
            if (m_state.options.verbose)
                std::cerr << "tdsemu: spid " << m_spid << " request " << request << " packet type " << type
                          << std::endl;
            if (m_state.options.latency_ms > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(m_state.options.latency_ms));
            m_attention = false;
            if (type == 0x12 && !logged_in) {
                prelogin(payload);
            } else if (type == 0x10 && !logged_in) {
                if (!login(payload)) return;
                logged_in = true;
            } else if (!logged_in) {
                return;
            } else if (type == 0x01) {
                batch(payload);
            } else if (type == 0x03) {
                rpc(payload);
            } else if (type == 0x06) {
                done(tok_done, done_attn, 0, 0);
                end_message();
            } else if (type == 0x0E) {
                // Transaction manager requests: the data is not transactional here, so just acknowledge.
                done(tok_done, 0, 0, 0);
                end_message();
            } else {
                return;
            }
            if (m_closed) return;
        }
    } catch (const std::exception& e) {
        if (m_state.options.verbose)
            std::cerr << "tdsemu: spid " << m_spid << " closed: " << e.what() << std::endl;
    }
}

void emu_session::prelogin(const std::string& payload) {
    // Only the option table's shape is checked; encryption is never offered.
    reader r{payload};
    while (r.u8() != 0xFF) {
        r.u16();
        r.u16();
    }
    const unsigned char version[6] = {static_cast<unsigned char>(m_state.options.version_major),
                                      static_cast<unsigned char>(m_state.options.version_minor),
                                      static_cast<unsigned char>(m_state.options.version_build >> 8),
                                      static_cast<unsigned char>(m_state.options.version_build & 0xFF),
                                      0,
                                      0};
    tds_buffer b;
    const unsigned header = 5 * 5 + 1;
    unsigned offset = header;
    auto option = [&](unsigned token, unsigned length) {
        b.u8(token);
        b.u8(offset >> 8);
        b.u8(offset & 0xFF);
        b.u8(length >> 8);
        b.u8(length & 0xFF);
        offset += length;
    };
    option(0, 6);
    option(1, 1);
    option(2, 1);
    option(3, 0);
    option(4, 1);
    b.u8(0xFF);
    b.raw(version, 6);
    b.u8(2); // ENCRYPT_NOT_SUP
    b.u8(0);
    b.u8(0);
    m_out.raw(b.bytes);
    end_message();
}

bool emu_session::login(const std::string& payload) {
    reader r{payload};
    r.need(94);
    r.pos = 4;
    uint32_t tds_version = r.u32();
    uint32_t packet_size = r.u32();
    auto field = [&](int index) {
        reader f{payload};
        f.pos = 36 + 4 * index;
        unsigned ib = f.u16(), cch = f.u16();
        if (static_cast<size_t>(ib) + 2u * cch > payload.size()) throw protocol_error("bad LOGIN7 offsets");
        return std::make_pair(ib, cch);
    };
    auto text_field = [&](int index) {
        auto [ib, cch] = field(index);
        return utf16le_to_utf8(payload.data() + ib, 2u * cch);
    };
    std::string user = text_field(1);
    std::string password;
    {
        auto [ib, cch] = field(2);
        std::string raw = payload.substr(ib, 2u * cch);
        for (char& ch : raw) {
            unsigned x = static_cast<unsigned char>(ch) ^ 0xA5;
            ch = static_cast<char>(((x << 4) | (x >> 4)) & 0xFF);
        }
        password = utf16le_to_utf8(raw.data(), raw.size());
    }
    std::string database = text_field(8);
    reader s{payload};
    s.pos = 80;
    unsigned sspi = s.u16();
    if (m_state.options.verbose)
        std::cerr << "tdsemu: spid " << m_spid << " login user '" << user << "' database '" << database << "'"
                  << std::endl;
    if (packet_size >= 512 && packet_size <= 32767) m_packet_size = packet_size;
    auto refuse = [&](const std::string& text, int number = 18456) {
        message(true, number, 14, 1, text);
        done(tok_done, done_error, 0, 0);
        end_message();
        return false;
    };
    if (sspi || user.empty())
        return refuse("Login failed. The login is from an untrusted domain and cannot be used with "
                      "Integrated authentication.",
                      18452);
    bool known = false;
    for (const auto& [u, p] : m_state.options.logins)
        if (iequals(u, user) && p == password) known = true;
    if (!known) return refuse("Login failed for user '" + user + "'.");
    m_user = user;
    if (database.empty()) database = "master";
    const database_def* db = m_state.catalog->find_database(database);
    if (!db || db->connect_denied) {
        message(true, 4060, 11, 1,
                "Cannot open database \"" + database + "\" requested by the login. The login failed.");
        return refuse("Login failed for user '" + user + "'.");
    }
    if (!open_database(*db)) return refuse("Login failed for user '" + user + "'.");
    envchange(1, db->name, "master");
    message(false, 5701, 0, 2, "Changed database context to '" + db->name + "'.");
    {
        tds_buffer body;
        const unsigned char coll[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};
        body.u8(7);
        body.u8(5);
        body.raw(coll, 5);
        body.u8(0);
        m_out.u8(0xE3);
        m_out.u16(static_cast<unsigned>(body.size()));
        m_out.raw(body.bytes);
    }
    envchange(2, "us_english", "");
    message(false, 5703, 0, 1, "Changed language setting to us_english.");
    {
        tds_buffer body;
        body.u8(1);
        // The acknowledged version is the client's own, byte-swapped as the token carries it.
        uint32_t v = tds_version >= 0x74000004 ? 0x74000004 : tds_version;
        body.u8(v >> 24);
        body.u8((v >> 16) & 0xFF);
        body.u8((v >> 8) & 0xFF);
        body.u8(v & 0xFF);
        body.b_varchar("Microsoft SQL Server");
        body.u8(m_state.options.version_major);
        body.u8(m_state.options.version_minor);
        body.u8(m_state.options.version_build >> 8);
        body.u8(m_state.options.version_build & 0xFF);
        m_out.u8(0xAD);
        m_out.u16(static_cast<unsigned>(body.size()));
        m_out.raw(body.bytes);
    }
    envchange(4, std::to_string(m_packet_size), std::to_string(m_packet_size));
    done(tok_done, 0, 0, 0);
    end_message();
    return true;
}

bool emu_session::open_database(const database_def& db) {
    sqlite3* conn = nullptr;
    // Only this session's thread uses the connection: no locking around each call.
    if (sqlite3_open_v2(":memory:", &conn, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(conn);
        return false;
    }
    register_generator(conn);
    for (size_t k = 0; k < db.owners.size(); ++k) {
        std::string sql =
            "ATTACH DATABASE " + quote_literal(db.files[k]) + " AS " + quote_ident(db.owners[k]);
        if (sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(conn);
            return false;
        }
        // Pages read from the map rather than one read() each: a table scan costs a system call per page
        // otherwise. Where mapping is not available SQLite keeps reading, so the result does not matter.
        sql = "PRAGMA " + quote_ident(db.owners[k]) + ".mmap_size = 1073741824";
        sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_busy_timeout(conn, 5000);
    sqlite3_set_authorizer(conn, &emu_session::authorize, this);
    sqlite3_progress_handler(conn, 20000, &emu_session::progress, this);
    if (m_sqlite) sqlite3_close_v2(m_sqlite);
    m_sqlite = conn;
    m_db = &db;
    return true;
}

int emu_session::authorize(void* self, int action, const char* a, const char*, const char* dbname,
                           const char* trigger) {
    auto* s = static_cast<emu_session*>(self);
    if (action != SQLITE_READ || trigger || !a || !dbname || !s->m_db) return SQLITE_OK;
    const table_def* t = s->m_db->find_table(dbname, a);
    if (t && t->select_denied) {
        s->m_denied = t;
        return SQLITE_DENY;
    }
    return SQLITE_OK;
}

int emu_session::progress(void* self) {
    auto* s = static_cast<emu_session*>(self);
    return s->attention_requested() ? 1 : 0;
}

// ---- batches

std::string emu_session::substitute_variables(const std::string& text) {
    std::vector<sql_token> tokens = tokenize(text);
    std::string out;
    size_t at = 0;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const sql_token& t = tokens[k];
        std::string value;
        size_t end = t.begin + t.raw.size();
        if (t.k == sql_token::kind::variable) {
            std::string v = ascii_lower(t.text);
            if (v == "@@version")
                value = quote_literal(m_state.options.version_text);
            else if (v == "@@spid")
                value = std::to_string(m_spid);
            else if (v == "@@servername")
                value = quote_literal(server_name);
            else if (v == "@@rowcount" || v == "@@error" || v == "@@trancount")
                value = "0";
            else if (v == "@@language")
                value = "'us_english'";
        } else if ((t.is("db_name") || t.is("suser_sname") || t.is("user_name") || t.is("schema_name")) &&
                   k + 2 < tokens.size() && tokens[k + 1].text == "(" && tokens[k + 2].text == ")") {
            value = quote_literal(t.is("db_name")       ? m_db->name
                                  : t.is("schema_name") ? std::string("dbo")
                                                        : m_user);
            end = tokens[k + 2].begin + 1;
            k += 2;
        }
        if (value.empty()) continue;
        out += text.substr(at, t.begin - at) + value;
        at = end;
    }
    return out + text.substr(at);
}

void emu_session::batch(const std::string& payload) {
    size_t skip = 0;
    if (payload.size() >= 4) {
        reader r{payload};
        uint32_t total = r.u32();
        if (total >= 4 && total <= payload.size() && total < 1024) skip = total;
    }
    std::string text = utf16le_to_utf8(payload.data() + skip, payload.size() - skip);
    if (m_state.options.verbose) std::cerr << "tdsemu: spid " << m_spid << " batch: " << text << std::endl;
    std::vector<std::string> statements;
    try {
        statements = split_statements(text);
        for (const auto& s : statements) tokenize(s);
    } catch (const std::exception& e) {
        message(true, 105, 15, 1, e.what());
        done(tok_done, done_error, 0, 0);
        end_message();
        return;
    }
    if (statements.empty()) done(tok_done, 0, 0, 0);
    for (size_t k = 0; k < statements.size(); ++k)
        if (execute_statement(statements[k], k + 1 == statements.size(), false) != outcome::ok) break;
    if (!m_closed) end_message();
}

emu_session::outcome emu_session::execute_statement(const std::string& text, bool last, bool in_proc) {
    std::vector<sql_token> t = tokenize(text);
    unsigned more = last ? 0 : done_more;
    unsigned token = in_proc ? tok_doneinproc : tok_done;
    if (t.empty()) {
        done(token, more, 0, 0);
        return outcome::ok;
    }
    if (size_t n = leading_statement(t)) {
        outcome o = execute_statement(text.substr(0, t[n].begin), false, in_proc);
        return o == outcome::ok ? execute_statement(text.substr(t[n].begin), last, in_proc) : o;
    }
    if (t[0].is("EXEC") || t[0].is("EXECUTE") ||
        (t[0].k == sql_token::kind::word && ascii_lower(t[0].text).rfind("sp_", 0) == 0))
        return run_exec(text, last);
    if (t[0].is("USE") && t.size() == 2 && t[1].is_ident()) return run_use(t[1].text, last);
    if (t[0].is("SET") || t[0].is("BEGIN") || t[0].is("COMMIT") || t[0].is("ROLLBACK") || t[0].is("SAVE")) {
        if (t.size() == 3 && t[1].is("FMTONLY")) m_fmtonly = t[2].is("ON");
        done(token, more, t[0].is("SET") ? 0xBE : 0xD4, 0);
        return outcome::ok;
    }
    if (t[0].is("PRINT") && t.size() == 2 &&
        (t[1].k == sql_token::kind::string || t[1].k == sql_token::kind::nstring)) {
        message(false, 0, 0, 1, t[1].text);
        done(token, more, 0, 0);
        return outcome::ok;
    }
    if (t[0].is("WAITFOR")) return wait_for(text, last, in_proc);
    return run_sql(text, last, in_proc);
}

emu_session::outcome emu_session::run_use(const std::string& name, bool last) {
    const database_def* db = m_state.catalog->find_database(name);
    auto fail = [&](int number, int cls, const std::string& text) {
        message(true, number, cls, 1, text);
        done(tok_done, done_error, 0, 0);
        return outcome::error;
    };
    if (m_state.options.azure && !(db && db == m_db))
        return fail(40508, 16,
                    "USE statement is not supported to switch between databases. Use a new connection to "
                    "connect to a "
                    "different database.");
    if (!db)
        return fail(911, 16,
                    "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
    if (db->connect_denied)
        return fail(916, 14,
                    "The server principal \"" + m_user + "\" is not able to access the database \"" +
                        db->name + "\" under the current security context.");
    std::string old = m_db->name;
    if (!open_database(*db)) return fail(911, 16, "Database '" + name + "' cannot be opened.");
    envchange(1, db->name, old);
    message(false, 5701, 0, 1, "Changed database context to '" + db->name + "'.");
    done(tok_done, last ? 0 : done_more, 0xE2, 0);
    return outcome::ok;
}

emu_session::outcome emu_session::wait_for(const std::string& text, bool last, bool in_proc) {
    std::vector<sql_token> t = tokenize(text);
    date_time_value v;
    if (t.size() != 3 || !t[1].is("DELAY") || t[2].k != sql_token::kind::string ||
        !parse_date_time(t[2].text, v) || v.has_date) {
        message(true, 102, 15, 1, "Incorrect syntax near 'WAITFOR'.");
        done(tok_done, done_error, 0, 0);
        return outcome::error;
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(v.ticks / 10);
    while (std::chrono::steady_clock::now() < until) {
        if (attention_requested()) {
            done(tok_done, done_attn, 0, 0);
            return outcome::attention;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done(in_proc ? tok_doneinproc : tok_done, last ? 0 : done_more, 0xBE, 0);
    return outcome::ok;
}

emu_session::outcome emu_session::sqlite_error(int rc, bool, bool) {
    std::string msg = sqlite3_errmsg(m_sqlite);
    if (rc == SQLITE_INTERRUPT || m_attention || m_closed) {
        done(tok_done, done_attn, 0, 0);
        return outcome::attention;
    }
    int number = 50000, cls = 16, state = 1;
    std::string text = msg;
    auto after = [&](const char* prefix) { return msg.substr(std::strlen(prefix)); };
    if (m_denied) {
        number = 229;
        cls = 14;
        state = 5;
        text = "The SELECT permission was denied on the object '" + m_denied->name + "', database '" +
               m_db->name + "', schema '" + m_denied->owner + "'.";
    } else if (msg.rfind("no such table: ", 0) == 0) {
        number = 208;
        text = "Invalid object name '" + after("no such table: ") + "'.";
    } else if (msg.rfind("no such column: ", 0) == 0) {
        number = 207;
        std::string c = after("no such column: ");
        if (auto dot = c.rfind('.'); dot != std::string::npos) c = c.substr(dot + 1);
        text = "Invalid column name '" + c + "'.";
    } else if (msg.rfind("ambiguous column name: ", 0) == 0) {
        number = 209;
        text = "Ambiguous column name '" + after("ambiguous column name: ") + "'.";
    } else if (msg.rfind("no such function: ", 0) == 0) {
        number = 195;
        cls = 15;
        text = "'" + after("no such function: ") + "' is not a recognized built-in function name.";
    } else if (msg.rfind("near \"", 0) == 0 && msg.find("\": syntax error") != std::string::npos) {
        std::string near = msg.substr(6, msg.find("\": syntax error") - 6);
        cls = 15;
        if (is_reserved_word(near)) {
            number = 156;
            text = "Incorrect syntax near the keyword '" + near + "'.";
        } else {
            number = 102;
            text = "Incorrect syntax near '" + near + "'.";
        }
    } else if (msg.find("incomplete input") != std::string::npos) {
        number = 102;
        cls = 15;
        text = "Incorrect syntax near the end of the batch.";
    } else if (msg.find("readonly") != std::string::npos || msg.find("not authorized") != std::string::npos) {
        number = 229;
        cls = 14;
        text = "The permission was denied on the object.";
    } else if (msg.find("constraint failed") != std::string::npos) {
        number = msg.find("NOT NULL") != std::string::npos ? 515
                 : msg.find("CHECK") != std::string::npos  ? 8152
                                                           : 2627;
        text = number == 8152 ? "String or binary data would be truncated." : msg;
    }
    message(true, number, cls, state, text);
    done(tok_done, done_error, 0, 0);
    return outcome::error;
}

std::vector<result_column> emu_session::describe(sqlite3_stmt* st, const std::vector<cell>& values) {
    int columns = sqlite3_column_count(st);
    std::vector<result_column> cols(columns);
    for (int k = 0; k < columns; ++k) {
        result_column& c = cols[k];
        const char* name = sqlite3_column_name(st, k);
        c.name = name ? name : "";
        const char* odb = sqlite3_column_database_name(st, k);
        const char* otb = sqlite3_column_table_name(st, k);
        const char* ocol = sqlite3_column_origin_name(st, k);
        const table_def* t = odb && otb ? m_db->find_table(odb, otb) : nullptr;
        const column_def* def = t && ocol ? t->find_column(ocol) : nullptr;
        if (def) {
            c.type = def->type;
            c.nullable = def->nullable;
            c.identity = def->identity;
            c.updatable = !t->is_view;
            c.owner = t->owner;
            c.table = t->name;
            continue;
        }
        if (!plain_name(c.name)) c.name.clear();
        // An expression: type it by its first value, as wide as any later one may need.
        cell::kind kind = values.empty() ? cell::kind::null : values[k].k;
        if (kind == cell::kind::integer) {
            bool count = c.name.empty() && ascii_lower(name ? name : "").rfind("count", 0) == 0;
            parse_sql_type(count || (values[k].i >= INT32_MIN && values[k].i <= INT32_MAX) ? "int" : "bigint",
                           {}, c.type);
        } else if (kind == cell::kind::real) {
            parse_sql_type("float", {}, c.type);
        } else if (kind == cell::kind::text) {
            parse_sql_type("nvarchar", {values[k].s.size() > 4000 ? "max" : "4000"}, c.type);
            if (values[k].s.size() > 4000) c.type.length = -1;
        } else if (kind == cell::kind::blob) {
            parse_sql_type("varbinary", {"max"}, c.type);
        } else {
            parse_sql_type("int", {}, c.type);
        }
    }
    return cols;
}

emu_session::outcome emu_session::run_sql(const std::string& original, bool last, bool in_proc) {
    unsigned token = in_proc ? tok_doneinproc : tok_done;
    if (misplaced_order_by(original, false)) {
        message(true, 1033, 15, 1,
                "The ORDER BY clause is invalid in views, inline functions, derived tables, subqueries, and "
                "common "
                "table expressions, unless TOP, OFFSET or FOR XML is also specified.");
        done(tok_done, done_error, 0, 0);
        return outcome::error;
    }
    std::string sql = to_sqlite(substitute_variables(original), m_db->name, false);
    m_denied = nullptr;
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(m_sqlite, sql.c_str(), -1, &raw, nullptr);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> st(raw, sqlite3_finalize);
    if (rc != SQLITE_OK) return sqlite_error(rc, last, in_proc);
    if (!st) {
        done(token, last ? 0 : done_more, 0, 0);
        return outcome::ok;
    }
    int columns = sqlite3_column_count(st.get());
    if (columns > 0 && m_state.options.delay_ms > 0) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_state.options.delay_ms);
        while (std::chrono::steady_clock::now() < until) {
            if (attention_requested()) {
                done(tok_done, done_attn, 0, 0);
                return outcome::attention;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    rc = sqlite3_step(st.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(rc, last, in_proc);
    if (columns == 0) {
        std::string first = ascii_lower(tokenize(original)[0].text);
        unsigned curcmd = first == "insert" ? 0xC3 : first == "update" ? 0xC5 : first == "delete" ? 0xC4 : 0;
        done(token, (last ? 0 : done_more) | (curcmd ? done_count : 0), curcmd,
             curcmd ? sqlite3_changes(m_sqlite) : 0);
        return outcome::ok;
    }
    auto read_row = [&](std::vector<cell>& values) {
        values.resize(columns);
        for (int k = 0; k < columns; ++k) {
            cell& c = values[k];
            // One look-up of the column's value instead of one per call. The value is only "unprotected" in
            // the sense that no mutex guards it: this connection has none, whichever calls read it.
            sqlite3_value* v = sqlite3_column_value(st.get(), k);
            switch (sqlite3_value_type(v)) {
            case SQLITE_INTEGER:
                c.k = cell::kind::integer;
                c.i = sqlite3_value_int64(v);
                break;
            case SQLITE_FLOAT:
                c.k = cell::kind::real;
                c.d = sqlite3_value_double(v);
                break;
            case SQLITE_TEXT: {
                const unsigned char* p = sqlite3_value_text(v);
                c.k = cell::kind::text;
                refill(c.s, reinterpret_cast<const char*>(p), sqlite3_value_bytes(v));
                break;
            }
            case SQLITE_BLOB: {
                const void* p = sqlite3_value_blob(v);
                c.k = cell::kind::blob;
                refill(c.s, static_cast<const char*>(p), sqlite3_value_bytes(v));
                break;
            }
            default:
                c.k = cell::kind::null;
            }
        }
    };
    std::vector<cell> values;
    if (rc == SQLITE_ROW) read_row(values);
    std::vector<result_column> cols = describe(st.get(), values);
    put_colmetadata(m_out, cols);
    if (m_fmtonly) {
        done(token, last ? 0 : done_more, 0xC1, 0);
        return outcome::ok;
    }
    uint64_t count = 0;
    // Rows go out some packets at a time, each time followed by a look for an attention: a write and a
    // poll for every packet would cost more than the rows.
    const size_t stream_bytes = std::max<size_t>(m_packet_size, 32768);
    try {
        while (rc == SQLITE_ROW) {
            // A value that does not fit fails the statement; the row's bytes so far must not reach the
            // client.
            size_t row_start = m_out.bytes.size();
            try {
                put_row(m_out, cols, values);
            } catch (const value_error&) {
                m_out.bytes.resize(row_start);
                throw;
            }
            ++count;
            if (m_out.bytes.size() >= stream_bytes) {
                flush_partial();
                if (attention_requested()) {
                    done(tok_done, done_attn, 0, 0);
                    return outcome::attention;
                }
            }
            rc = sqlite3_step(st.get());
            if (rc == SQLITE_ROW) read_row(values);
        }
    } catch (const value_error& e) {
        message(true, e.number, 16, 1, e.what());
        done(tok_done, done_error | done_count, 0xC1, count);
        return outcome::error;
    }
    if (rc != SQLITE_DONE) return sqlite_error(rc, last, in_proc);
    done(token, (last ? 0 : done_more) | done_count, 0xC1, count);
    return outcome::ok;
}

// ---- procedures

emu_session::outcome emu_session::run_exec(const std::string& text, bool last) {
    std::vector<sql_token> t = tokenize(text);
    size_t k = 0;
    if (t[0].is("EXEC") || t[0].is("EXECUTE")) ++k;
    if (k + 1 < t.size() && t[k].k == sql_token::kind::variable && t[k + 1].text == "=") k += 2;
    auto syntax = [&]() {
        message(true, 102, 15, 1,
                "Incorrect syntax near '" + (k < t.size() ? t[k].raw : std::string("EXEC")) + "'.");
        done(tok_done, done_error, 0, 0);
        return outcome::error;
    };
    if (k >= t.size() || !t[k].is_ident()) return syntax();
    // [db].[owner].name or db..name
    std::vector<std::string> parts{t[k++].text};
    while (k < t.size() && t[k].text == ".") {
        ++k;
        if (k < t.size() && t[k].text == ".") {
            parts.push_back("");
            continue;
        }
        if (k >= t.size() || !t[k].is_ident()) return syntax();
        parts.push_back(t[k++].text);
    }
    std::string name = parts.size() == 3 ? "[" + parts[0] + "].." + parts[2] : parts.back();
    params named;
    std::vector<std::optional<std::string>> positional;
    while (k < t.size()) {
        std::string pname;
        if (t[k].k == sql_token::kind::variable && k + 1 < t.size() && t[k + 1].text == "=") {
            pname = ascii_lower(t[k].text.substr(1));
            k += 2;
        }
        if (k >= t.size()) return syntax();
        std::optional<std::string> value;
        const sql_token& v = t[k];
        if (v.is("NULL") || v.is("DEFAULT") || v.k == sql_token::kind::variable) {
            value.reset();
        } else if (v.k == sql_token::kind::punct && v.text == "-" && k + 1 < t.size()) {
            value = "-" + t[++k].text;
        } else if (v.k == sql_token::kind::punct) {
            return syntax();
        } else {
            value = v.text;
        }
        ++k;
        if (k < t.size() && (t[k].is("OUTPUT") || t[k].is("OUT"))) ++k;
        if (pname.empty())
            positional.push_back(value);
        else
            named[pname] = value;
        if (k < t.size()) {
            if (t[k].text != ",") return syntax();
            ++k;
        }
    }
    return call_procedure(name, named, positional, last, true);
}

emu_session::outcome emu_session::call_procedure(const std::string& full_name, const params& named,
                                                 const std::vector<std::optional<std::string>>& positional,
                                                 bool last, bool in_batch) {
    // [db]..sp_x runs the procedure in that database.
    const database_def* db = m_db;
    std::string name = full_name;
    if (auto dots = full_name.find(".."); dots != std::string::npos) {
        std::string dbname = full_name.substr(0, dots);
        if (dbname.size() >= 2 && dbname.front() == '[' && dbname.back() == ']') {
            std::string inner = dbname.substr(1, dbname.size() - 2);
            dbname.clear();
            for (size_t k = 0; k < inner.size(); ++k) {
                dbname += inner[k];
                if (inner[k] == ']' && k + 1 < inner.size() && inner[k + 1] == ']') ++k;
            }
        }
        name = full_name.substr(dots + 2);
        db = m_state.catalog->find_database(dbname);
        if (!db) {
            message(true, 911, 16, 1,
                    "Database '" + dbname +
                        "' does not exist. Make sure that the name is entered correctly.");
            done(in_batch ? tok_done : tok_doneproc, done_error, 0, 0);
            return outcome::error;
        }
    }
    if (auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    std::string proc = ascii_lower(name);
    params p = named;
    std::vector<std::string> order = positional_names(proc);
    for (size_t k = 0; k < positional.size() && k < order.size(); ++k)
        if (!p.count(order[k])) p[order[k]] = positional[k];
    if (m_state.options.verbose)
        std::cerr << "tdsemu: spid " << m_spid << " procedure " << full_name << std::endl;
    proc_result r;
    try {
        if (proc == "sp_databases" && m_state.options.sp_databases && !m_state.options.azure)
            r = sp_databases();
        else if (proc == "sp_tables")
            r = sp_tables(*db, p, false);
        else if (proc == "sp_tableswc")
            r = sp_tables(*db, p, true);
        else if (proc == "sp_columns")
            r = sp_columns(*db, p);
        else if (proc == "sp_pkeys")
            r = sp_pkeys(*db, p);
        else if (proc == "sp_fkeys")
            r = sp_fkeys(*db, p);
        else if (proc == "sp_statistics")
            r = sp_statistics(*db, p);
        else
            throw server_error(2812, 16, "Could not find stored procedure '" + name + "'.");
    } catch (const server_error& e) {
        message(true, e.number, e.cls, 1, e.what(), e.number == 2812 ? std::string() : name);
        done(in_batch ? tok_done : tok_doneproc, done_error, 0, 0);
        return outcome::error;
    }
    return send_results(r, last, in_batch);
}

emu_session::outcome emu_session::send_results(const proc_result& r, bool last, bool) {
    for (const auto& s : r.sets) {
        put_colmetadata(m_out, s.columns);
        for (const auto& row : s.rows) {
            put_row(m_out, s.columns, row);
            if (m_out.bytes.size() >= m_packet_size) flush_partial();
        }
        done(tok_doneinproc, done_more | done_count, 0xC1, s.rows.size());
    }
    m_out.u8(0x79);
    m_out.u32(0);
    done(tok_doneproc, last ? 0 : done_more, 0xE0, 0);
    return outcome::ok;
}

emu_session::proc_result emu_session::sp_databases() {
    proc_result r;
    proc_result::set s;
    s.columns = {sysname("DATABASE_NAME", false), col("DATABASE_SIZE", "int"),
                 col("REMARKS", "varchar", {"254"})};
    std::vector<const database_def*> dbs;
    for (const auto& d : m_state.catalog->databases()) dbs.push_back(&d);
    std::sort(dbs.begin(), dbs.end(),
              [](auto* a, auto* b) { return ascii_lower(a->name) < ascii_lower(b->name); });
    for (const auto* d : dbs)
        s.rows.push_back(
            {txt(d->name), num(8192 + 1024 * static_cast<int64_t>(d->tables.size())), null_cell});
    r.sets.push_back(std::move(s));
    return r;
}

namespace {

std::vector<result_column> sp_tables_columns() {
    return {sysname("TABLE_QUALIFIER"), sysname("TABLE_OWNER"), sysname("TABLE_NAME"),
            col("TABLE_TYPE", "varchar", {"32"}), col("REMARKS", "varchar", {"254"})};
}

std::vector<std::string> table_types(const std::string& list) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : list + ",") {
        if (c == ',') {
            size_t a = cur.find_first_not_of(" '\"");
            size_t b = cur.find_last_not_of(" '\"");
            if (a != std::string::npos) out.push_back(ascii_lower(cur.substr(a, b - a + 1)));
            cur.clear();
        } else {
            cur += c;
        }
    }
    return out;
}

} // namespace

emu_session::proc_result emu_session::sp_tables(const database_def& db, const params& p,
                                                bool wildcard_catalog) {
    auto get = [&](const char* n) -> std::optional<std::string> {
        auto it = p.find(n);
        return it == p.end() ? std::nullopt : it->second;
    };
    auto name = get("table_name"), owner = get("table_owner"), qual = get("table_qualifier"),
         type = get("table_type");
    proc_result r;
    proc_result::set s;
    s.columns = sp_tables_columns();
    auto empty = [](const std::optional<std::string>& v) { return v && v->empty(); };
    if (qual && *qual == "%" && empty(owner) && empty(name)) {
        // The list of databases (SQL_ALL_CATALOGS).
        std::vector<std::string> names;
        for (const auto& d : m_state.catalog->databases())
            if (!m_state.options.azure || &d == &db || iequals(d.name, "master")) names.push_back(d.name);
        std::sort(names.begin(), names.end(),
                  [](auto& a, auto& b) { return ascii_lower(a) < ascii_lower(b); });
        for (const auto& n : names) s.rows.push_back({txt(n), null_cell, null_cell, null_cell, null_cell});
        r.sets.push_back(std::move(s));
        return r;
    }
    if (owner && *owner == "%" && empty(qual) && empty(name)) {
        std::vector<std::string> owners(db.owners.begin(), db.owners.end());
        std::sort(owners.begin(), owners.end(),
                  [](auto& a, auto& b) { return ascii_lower(a) < ascii_lower(b); });
        for (const auto& o : owners) s.rows.push_back({null_cell, txt(o), null_cell, null_cell, null_cell});
        r.sets.push_back(std::move(s));
        return r;
    }
    if (type && *type == "%" && empty(qual) && empty(owner) && empty(name)) {
        for (const char* t : {"SYSTEM TABLE", "TABLE", "VIEW"})
            s.rows.push_back({null_cell, null_cell, null_cell, txt(t), null_cell});
        r.sets.push_back(std::move(s));
        return r;
    }
    std::vector<const database_def*> dbs;
    if (wildcard_catalog || (qual && has_wildcard(*qual))) {
        for (const auto& d : m_state.catalog->databases())
            if (!d.connect_denied && like(qual ? *qual : "%", d.name)) dbs.push_back(&d);
    } else {
        if (qual && !qual->empty() && !iequals(*qual, db.name))
            throw server_error(15250, 16,
                               "The database name component of the object qualifier must be the name of the "
                               "current database.");
        dbs.push_back(&db);
    }
    std::vector<std::string> types =
        type && !type->empty() ? table_types(*type) : std::vector<std::string>{"table", "view"};
    std::vector<std::vector<cell>> rows;
    for (const auto* d : dbs)
        for (const auto& t : d->tables) {
            if (t.is_system) continue;
            std::string tt = t.is_view ? "VIEW" : "TABLE";
            if (std::find(types.begin(), types.end(), ascii_lower(tt)) == types.end()) continue;
            if (owner && !owner->empty() && !like(*owner, t.owner)) continue;
            if (name && !name->empty() && !like(*name, t.name)) continue;
            rows.push_back({txt(d->name), txt(t.owner), txt(t.name), txt(tt), null_cell});
        }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        for (int k : {3, 0, 1, 2})
            if (ascii_lower(a[k].s) != ascii_lower(b[k].s)) return ascii_lower(a[k].s) < ascii_lower(b[k].s);
        return false;
    });
    s.rows = std::move(rows);
    r.sets.push_back(std::move(s));
    return r;
}

emu_session::proc_result emu_session::sp_columns(const database_def& db, const params& p) {
    auto get = [&](const char* n) {
        auto it = p.find(n);
        return it == p.end() ? std::optional<std::string>() : it->second;
    };
    auto name = get("table_name"), owner = get("table_owner"), qual = get("table_qualifier"),
         column = get("column_name");
    int odbc = 2;
    if (auto v = get("odbcver")) odbc = std::atoi(v->c_str());
    if (!name)
        throw server_error(
            201, 16,
            "Procedure or function 'sp_columns' expects parameter '@table_name', which was not supplied.");
    if (qual && !qual->empty() && !iequals(*qual, db.name))
        throw server_error(
            15250, 16,
            "The database name component of the object qualifier must be the name of the current database.");
    proc_result r;
    proc_result::set s;
    s.columns = {sysname("TABLE_QUALIFIER"),
                 sysname("TABLE_OWNER"),
                 sysname("TABLE_NAME"),
                 sysname("COLUMN_NAME"),
                 col("DATA_TYPE", "smallint"),
                 sysname("TYPE_NAME"),
                 col("PRECISION", "int"),
                 col("LENGTH", "int"),
                 col("SCALE", "smallint"),
                 col("RADIX", "smallint"),
                 col("NULLABLE", "smallint"),
                 col("REMARKS", "varchar", {"254"}),
                 col("COLUMN_DEF", "nvarchar", {"4000"}),
                 col("SQL_DATA_TYPE", "smallint"),
                 col("SQL_DATETIME_SUB", "smallint"),
                 col("CHAR_OCTET_LENGTH", "int"),
                 col("ORDINAL_POSITION", "int"),
                 col("IS_NULLABLE", "varchar", {"254"}),
                 col("SS_DATA_TYPE", "tinyint")};
    std::vector<const table_def*> tables;
    for (const auto& t : db.tables)
        if (!t.is_system && like(*name, t.name) && (!owner || owner->empty() || like(*owner, t.owner)))
            tables.push_back(&t);
    std::stable_sort(tables.begin(), tables.end(), [](auto* a, auto* b) {
        return std::make_pair(ascii_lower(a->owner), ascii_lower(a->name)) <
               std::make_pair(ascii_lower(b->owner), ascii_lower(b->name));
    });
    for (const auto* t : tables) {
        int ordinal = 0;
        for (const auto& c : t->columns) {
            ++ordinal;
            if (column && !column->empty() && !like(*column, c.name)) continue;
            odbc_info i = odbc_description(c, odbc);
            s.rows.push_back({txt(db.name), txt(t->owner), txt(t->name), txt(c.name), num(i.data_type),
                              txt(i.type_name), opt(i.precision), opt(i.length), opt(i.scale), opt(i.radix),
                              num(c.nullable ? 1 : 0), null_cell,
                              c.default_text.empty() ? null_cell : txt(c.default_text), num(i.sql_data_type),
                              opt(i.datetime_sub), opt(i.octet_length), num(ordinal),
                              txt(c.nullable ? "YES" : "NO"), num(i.ss_data_type)});
        }
    }
    r.sets.push_back(std::move(s));
    return r;
}

emu_session::proc_result emu_session::sp_pkeys(const database_def& db, const params& p) {
    auto get = [&](const char* n) {
        auto it = p.find(n);
        return it == p.end() ? std::optional<std::string>() : it->second;
    };
    auto name = get("table_name"), owner = get("table_owner"), qual = get("table_qualifier");
    if (!name)
        throw server_error(
            201, 16,
            "Procedure or function 'sp_pkeys' expects parameter '@table_name', which was not supplied.");
    if (qual && !qual->empty() && !iequals(*qual, db.name))
        throw server_error(
            15250, 16,
            "The database name component of the object qualifier must be the name of the current database.");
    proc_result r;
    proc_result::set s;
    s.columns = {sysname("TABLE_QUALIFIER"), sysname("TABLE_OWNER"),     sysname("TABLE_NAME"),
                 sysname("COLUMN_NAME"),     col("KEY_SEQ", "smallint"), sysname("PK_NAME")};
    for (const auto& t : db.tables) {
        if (t.is_system || !iequals(t.name, *name) || (owner && !owner->empty() && !iequals(t.owner, *owner)))
            continue;
        for (size_t k = 0; k < t.pk_columns.size(); ++k) {
            const column_def* c = t.find_column(t.pk_columns[k]);
            s.rows.push_back({txt(db.name), txt(t.owner), txt(t.name), txt(c ? c->name : t.pk_columns[k]),
                              num(static_cast<int64_t>(k + 1)), txt(t.pk_name)});
        }
    }
    r.sets.push_back(std::move(s));
    return r;
}

emu_session::proc_result emu_session::sp_fkeys(const database_def& db, const params& p) {
    auto get = [&](const char* n) {
        auto it = p.find(n);
        return it == p.end() || !it->second || it->second->empty() ? std::optional<std::string>()
                                                                   : it->second;
    };
    auto pk_name = get("pktable_name"), pk_owner = get("pktable_owner"), fk_name = get("fktable_name"),
         fk_owner = get("fktable_owner");
    if (!pk_name && !fk_name)
        throw server_error(15252, 16, "The primary key or foreign key table name must be given.");
    proc_result r;
    proc_result::set s;
    s.columns = {sysname("PKTABLE_QUALIFIER"),
                 sysname("PKTABLE_OWNER"),
                 sysname("PKTABLE_NAME"),
                 sysname("PKCOLUMN_NAME"),
                 sysname("FKTABLE_QUALIFIER"),
                 sysname("FKTABLE_OWNER"),
                 sysname("FKTABLE_NAME"),
                 sysname("FKCOLUMN_NAME"),
                 col("KEY_SEQ", "smallint"),
                 col("UPDATE_RULE", "smallint"),
                 col("DELETE_RULE", "smallint"),
                 sysname("FK_NAME"),
                 sysname("PK_NAME"),
                 col("DEFERRABILITY", "smallint")};
    std::vector<std::vector<cell>> rows;
    for (const auto& fk : db.foreign_keys) {
        if (pk_name && !iequals(fk.ref_table, *pk_name)) continue;
        if (pk_owner && !iequals(fk.ref_owner, *pk_owner)) continue;
        if (fk_name && !iequals(fk.table, *fk_name)) continue;
        if (fk_owner && !iequals(fk.owner, *fk_owner)) continue;
        const table_def* ref = db.find_table(fk.ref_owner, fk.ref_table);
        std::vector<std::string> ref_cols = fk.ref_columns;
        if (ref_cols.empty() && ref) ref_cols = ref->pk_columns;
        std::string key_name = ref ? ref->pk_name : std::string();
        if (ref) {
            auto same = [&](const std::vector<std::string>& a) {
                if (a.size() != ref_cols.size()) return false;
                for (size_t k = 0; k < a.size(); ++k)
                    if (!iequals(a[k], ref_cols[k])) return false;
                return true;
            };
            if (!same(ref->pk_columns))
                for (const auto& ix : db.indexes)
                    if (ix.unique && iequals(ix.table, ref->name) && iequals(ix.owner, ref->owner)) {
                        std::vector<std::string> names;
                        for (const auto& c : ix.columns) names.push_back(c.first);
                        if (same(names)) key_name = ix.name;
                    }
        }
        for (size_t k = 0; k < fk.columns.size() && k < ref_cols.size(); ++k)
            rows.push_back({txt(db.name), txt(ref ? ref->owner : fk.ref_owner),
                            txt(ref ? ref->name : fk.ref_table), txt(ref_cols[k]), txt(db.name),
                            txt(fk.owner), txt(fk.table), txt(fk.columns[k]),
                            num(static_cast<int64_t>(k + 1)), num(fk.update_rule), num(fk.delete_rule),
                            txt(fk.name), key_name.empty() ? null_cell : txt(key_name), num(7)});
    }
    int a = pk_name ? 5 : 1, b = pk_name ? 6 : 2;
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& x, const auto& y) {
        auto kx = std::make_tuple(ascii_lower(x[a].s), ascii_lower(x[b].s), x[8].i);
        auto ky = std::make_tuple(ascii_lower(y[a].s), ascii_lower(y[b].s), y[8].i);
        return kx < ky;
    });
    s.rows = std::move(rows);
    r.sets.push_back(std::move(s));
    return r;
}

std::optional<int64_t> emu_session::row_count(const database_def& db, const table_def& t) {
    if (t.generated_rows >= 0) return t.generated_rows;
    if (t.generated_rows == -1 || &db != m_db) return std::nullopt;
    std::string sql = "SELECT COUNT(*) FROM " + quote_ident(t.owner) + "." + quote_ident(t.name);
    sqlite3_stmt* st = nullptr;
    std::optional<int64_t> n;
    sqlite3_set_authorizer(m_sqlite, nullptr, nullptr);
    if (sqlite3_prepare_v2(m_sqlite, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_set_authorizer(m_sqlite, &emu_session::authorize, this);
    return n;
}

emu_session::proc_result emu_session::sp_statistics(const database_def& db, const params& p) {
    auto get = [&](const char* n) {
        auto it = p.find(n);
        return it == p.end() ? std::optional<std::string>() : it->second;
    };
    auto name = get("table_name"), owner = get("table_owner"), qual = get("table_qualifier"),
         index = get("index_name"), unique = get("is_unique");
    if (!name)
        throw server_error(
            201, 16,
            "Procedure or function 'sp_statistics' expects parameter '@table_name', which was not supplied.");
    if (qual && !qual->empty() && !iequals(*qual, db.name))
        throw server_error(
            15250, 16,
            "The database name component of the object qualifier must be the name of the current database.");
    bool unique_only = unique && iequals(*unique, "Y");
    proc_result r;
    proc_result::set s;
    s.columns = {sysname("TABLE_QUALIFIER"),
                 sysname("TABLE_OWNER"),
                 sysname("TABLE_NAME"),
                 col("NON_UNIQUE", "smallint"),
                 sysname("INDEX_QUALIFIER"),
                 sysname("INDEX_NAME"),
                 col("TYPE", "smallint"),
                 col("SEQ_IN_INDEX", "smallint"),
                 sysname("COLUMN_NAME"),
                 col("COLLATION", "char", {"1"}),
                 col("CARDINALITY", "int"),
                 col("PAGES", "int"),
                 col("FILTER_CONDITION", "varchar", {"128"})};
    for (const auto& t : db.tables) {
        if (t.is_system || t.is_view || !iequals(t.name, *name) ||
            (owner && !owner->empty() && !iequals(t.owner, *owner)))
            continue;
        std::optional<int64_t> rows = row_count(db, t);
        cell card = rows ? num(*rows) : null_cell;
        cell pages = rows ? num(*rows / 50 + 1) : null_cell;
        s.rows.push_back({txt(db.name), txt(t.owner), txt(t.name), null_cell, null_cell, null_cell, num(0),
                          null_cell, null_cell, null_cell, card, pages, null_cell});
        std::vector<index_def> indexes;
        if (!t.pk_columns.empty()) {
            index_def pk;
            pk.name = t.pk_name;
            pk.unique = true;
            pk.clustered = t.pk_clustered;
            for (const auto& c : t.pk_columns) pk.columns.emplace_back(c, false);
            indexes.push_back(pk);
        }
        for (const auto& ix : db.indexes)
            if (iequals(ix.table, t.name) && iequals(ix.owner, t.owner)) indexes.push_back(ix);
        std::vector<std::vector<cell>> rowset;
        for (const auto& ix : indexes) {
            if (unique_only && !ix.unique) continue;
            if (index && !index->empty() && !like(*index, ix.name)) continue;
            for (size_t k = 0; k < ix.columns.size(); ++k) {
                const column_def* c = t.find_column(ix.columns[k].first);
                rowset.push_back({txt(db.name), txt(t.owner), txt(t.name), num(ix.unique ? 0 : 1),
                                  txt(t.name), txt(ix.name), num(ix.clustered ? 1 : 3),
                                  num(static_cast<int64_t>(k + 1)), txt(c ? c->name : ix.columns[k].first),
                                  txt(ix.columns[k].second ? "D" : "A"), ix.unique ? card : null_cell, pages,
                                  null_cell});
            }
        }
        std::stable_sort(rowset.begin(), rowset.end(), [](const auto& a, const auto& b) {
            return std::make_tuple(a[3].i, a[6].i, ascii_lower(a[5].s), a[7].i) <
                   std::make_tuple(b[3].i, b[6].i, ascii_lower(b[5].s), b[7].i);
        });
        for (auto& row : rowset) s.rows.push_back(std::move(row));
    }
    r.sets.push_back(std::move(s));
    return r;
}

// ---- RPC

void emu_session::rpc(const std::string& payload) {
    reader r{payload};
    uint32_t headers = r.u32();
    if (headers < 4 || headers > payload.size()) throw protocol_error("bad ALL_HEADERS");
    r.pos = headers;
    unsigned name_length = r.u16();
    std::string name;
    int proc_id = 0;
    if (name_length == 0xFFFF) {
        proc_id = static_cast<int>(r.u16());
        static const char* const ids[] = {"",
                                          "sp_cursor",
                                          "sp_cursoropen",
                                          "sp_cursorprepare",
                                          "sp_cursorexecute",
                                          "sp_cursorprepexec",
                                          "sp_cursorunprepare",
                                          "sp_cursorfetch",
                                          "sp_cursoroption",
                                          "sp_cursorclose",
                                          "sp_executesql",
                                          "sp_prepare",
                                          "sp_execute",
                                          "sp_prepexec",
                                          "sp_prepexecrpc",
                                          "sp_unprepare"};
        name = proc_id > 0 && proc_id <= 15 ? ids[proc_id] : "unknown";
    } else {
        name = r.utf16(name_length);
    }
    r.u16(); // option flags
    params named;
    std::vector<std::optional<std::string>> positional;
    std::vector<cell> values;
    std::vector<std::string> names;
    while (!r.at_end()) {
        unsigned char first = static_cast<unsigned char>(payload[r.pos]);
        if (first == 0x80 || first == 0xFF || first == 0xFE)
            break; // another RPC follows: not used by our clients
        std::string pname = r.utf16(r.u8());
        r.u8(); // status
        cell v = read_param_value(r);
        names.push_back(ascii_lower(pname.empty() ? pname : pname.substr(pname[0] == '@' ? 1 : 0)));
        values.push_back(v);
    }
    if (m_state.options.verbose) {
        std::cerr << "tdsemu: spid " << m_spid << " rpc " << name;
        for (size_t k = 0; k < values.size(); ++k)
            std::cerr << (k ? ", @" : " @") << names[k] << "="
                      << (values[k].is_null() ? "NULL" : "'" + values[k].as_text() + "'");
        std::cerr << std::endl;
    }
    std::string proc = ascii_lower(name);
    if (proc == "sp_executesql" || proc == "sp_prepexec" || proc == "sp_execute" || proc == "sp_prepare" ||
        proc == "sp_unprepare") {
        // Parameterised statements: the values are spliced in as literals.
        size_t at = 0;
        int handle = 0;
        std::string statement;
        if (proc == "sp_prepexec" || proc == "sp_prepare") {
            ++at; // the handle (OUTPUT)
            std::string defs = at < values.size() ? values[at++].as_text() : std::string();
            statement = at < values.size() ? values[at++].as_text() : std::string();
            handle = m_next_handle++;
            m_prepared[handle] = statement;
        } else if (proc == "sp_execute" || proc == "sp_unprepare") {
            handle = at < values.size() ? static_cast<int>(values[at++].i) : 0;
            auto it = m_prepared.find(handle);
            if (it == m_prepared.end()) {
                message(true, 8179, 16, 4,
                        "Could not find prepared statement with handle " + std::to_string(handle) + ".");
                done(tok_doneproc, done_error, 0, 0);
                end_message();
                return;
            }
            statement = it->second;
            if (proc == "sp_unprepare") m_prepared.erase(it);
        } else {
            statement = at < values.size() ? values[at++].as_text() : std::string();
            if (at < values.size()) ++at; // definitions
        }
        if (proc != "sp_unprepare" && proc != "sp_prepare") {
            std::vector<sql_token> tokens = tokenize(statement);
            std::string text;
            size_t from = 0, positional_index = at;
            for (const auto& t : tokens) {
                if (t.k != sql_token::kind::variable || t.text.rfind("@@", 0) == 0) continue;
                std::string lname = ascii_lower(t.text.substr(1));
                const cell* v = nullptr;
                for (size_t k = at; k < values.size(); ++k)
                    if (names[k] == lname) v = &values[k];
                if (!v && lname.size() > 1 && lname[0] == 'p') {
                    size_t index = at + static_cast<size_t>(std::atoi(lname.c_str() + 1)) - 1;
                    if (index < values.size()) v = &values[index];
                }
                if (!v && positional_index < values.size()) v = &values[positional_index++];
                if (!v) continue;
                text += statement.substr(from, t.begin - from) + literal_of(*v);
                from = t.begin + t.raw.size();
            }
            statement = text + statement.substr(from);
            std::vector<std::string> statements = split_statements(statement);
            outcome o = outcome::ok;
            for (size_t k = 0; k < statements.size() && o == outcome::ok; ++k)
                o = execute_statement(statements[k], false, true);
            if (o != outcome::ok) {
                end_message();
                return;
            }
        }
        if (proc == "sp_prepare") {
            // The statement's columns, described without running it (parameters read as NULL).
            std::string probe;
            size_t from = 0;
            for (const auto& t : tokenize(statement))
                if (t.k == sql_token::kind::variable && t.text.rfind("@@", 0) != 0) {
                    probe += statement.substr(from, t.begin - from) + "NULL";
                    from = t.begin + t.raw.size();
                }
            probe += statement.substr(from);
            std::string sql = to_sqlite(substitute_variables(probe), m_db->name, false);
            sqlite3_stmt* raw = nullptr;
            m_denied = nullptr;
            if (sqlite3_prepare_v2(m_sqlite, sql.c_str(), -1, &raw, nullptr) == SQLITE_OK && raw &&
                sqlite3_column_count(raw) > 0)
                put_colmetadata(m_out, describe(raw, {}));
            sqlite3_finalize(raw);
        }
        if (proc == "sp_prepexec" || proc == "sp_prepare") {
            // RETURNVALUE of the handle parameter.
            m_out.u8(0xAC);
            m_out.u16(0);
            m_out.b_varchar(names.empty() ? std::string() : "@" + names[0]);
            m_out.u8(1);
            m_out.u32(0);
            m_out.u16(0);
            m_out.u8(0x26);
            m_out.u8(4);
            m_out.u8(4);
            m_out.u32(static_cast<uint32_t>(handle));
        }
        m_out.u8(0x79);
        m_out.u32(0);
        done(tok_doneproc, 0, 0xE0, 0);
        end_message();
        return;
    }
    for (size_t k = 0; k < values.size(); ++k) {
        std::optional<std::string> v;
        if (!values[k].is_null()) v = values[k].as_text();
        if (names[k].empty())
            positional.push_back(v);
        else
            named[names[k]] = v;
    }
    call_procedure(name, named, positional, true, false);
    end_message();
}

} // namespace tdsemu
