#include "common/csv_file.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"
#include "TK/tk_utils.hpp"
#include "common/csv_compress.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <span>
#include <sys/stat.h>
#include <utility>
#include <unistd.h>

namespace {
const char error_opening[] = "Error opening CSV file";
const char error_writing[] = "Error writing CSV file: ";

// A line longer than this goes to the file in pieces of about this size, and a value whose text
// is longer is converted piece by piece: memory stays near the value's own size, however long.
constexpr size_t line_spill = size_t(1) << 20;

bool fits_int32(long double v) {
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

// The value as a 32-bit integer when it is exactly one. Only an exact test will do: through a
// double, 1.000000000000000001 would pass for 1.
bool exact_int32(const ole_variant& value, VARTYPE type, std::int32_t& out) {
    switch (type) {
    case VT_R4:
    case VT_R8: {
        double v = type == VT_R4 ? value.var.fltVal : value.var.dblVal;
        if (!std::isfinite(v) || v != std::trunc(v) || !fits_int32(v)) return false;
        out = static_cast<std::int32_t>(v);
        return true;
    }
    case VT_CY: {
        std::int64_t amount = value.var.cyVal.int64;
        if (amount % 10000 != 0 || !fits_int32(amount / 10000)) return false;
        out = static_cast<std::int32_t>(amount / 10000);
        return true;
    }
    case VT_DECIMAL: {
        const DECIMAL& d = value.var.decVal;
        if (d.scale > 28) return false;
        unsigned __int128 magnitude = (static_cast<unsigned __int128>(d.Hi32) << 64) | d.Lo64;
        unsigned __int128 unit = 1;
        for (int i = 0; i < d.scale; ++i) unit *= 10;
        if (magnitude % unit != 0) return false;
        magnitude /= unit;
        if (magnitude > 0x80000000u) return false;
        std::int64_t whole = static_cast<std::int64_t>(magnitude);
        if (d.sign & DECIMAL_NEG) whole = -whole;
        if (!fits_int32(whole)) return false;
        out = static_cast<std::int32_t>(whole);
        return true;
    }
    default:
        return false;
    }
}
// The hidden files being written now, for a signal handler or exit() to remove: a slot is free
// (0), being filled (1) or holds a path (2). Plain arrays, no locks: a handler may read them.
constexpr int partial_slots = 32;
struct partial_slot {
    std::atomic<int> state{0};
    char path[PATH_MAX];
};
partial_slot partials[partial_slots];

void remove_partials_at_exit() {
    csv_file::remove_partial_files();
}

int register_partial(const std::string& path) {
    static std::once_flag at_exit;
    std::call_once(at_exit, [] { std::atexit(remove_partials_at_exit); });
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < partial_slots; ++i) {
        int free = 0;
        if (!partials[i].state.compare_exchange_strong(free, 1)) continue;
        std::memcpy(partials[i].path, path.c_str(), path.size() + 1);
        partials[i].state.store(2);
        return i;
    }
    return -1;
}

void unregister_partial(int& slot) {
    if (slot >= 0) partials[slot].state.store(0);
    slot = -1;
}
} // namespace

std::string csv_file::partial_name(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t base = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, base) + "." + path.substr(base) + ".partial";
}

bool csv_file::is_partial_name(std::string_view file_name) {
    if (file_name.empty() || file_name.front() != '.') return false;
    for (std::string_view ending : {".csv.partial", ".csv.gz.partial", ".csv.zst.partial"})
        if (file_name.size() > ending.size() + 1 && file_name.ends_with(ending)) return true;
    return false;
}

void csv_file::remove_partial_files() noexcept {
    for (auto& slot : partials)
        if (slot.state.load() == 2) ::unlink(slot.path);
}

csv_file::csv_file(const std::u16string& file_name, char delim,
                   const std::vector<std::u16string>& field_names, int compression)
    : udb_recordset(file_name), m_delim(delim) {
    TK_TRACE(2, "csv_file::ctor for writing with field names");
    open(file_name, compression);
    // Names are for people: the narrow encoding, with '?' for a character it lacks.
    std::string name;
    for (size_t i = 0; i < field_names.size(); ++i) {
        if (i != 0) m_line += m_delim;
        name = tk_to_ansi_lossy(field_names[i]);
        write_csv_field(name);
    }
    m_line += "\r\n";
    end_record();
}

csv_file::csv_file(const std::u16string& file_name, char delim, int compression)
    : udb_recordset(file_name), m_delim(delim) {
    TK_TRACE(2, "csv_file::ctor for writing without field names");
    open(file_name, compression);
}

csv_file::~csv_file() {
    // A file written directly (a device, a pipe) keeps what was gathered; a hidden one goes.
    if (m_partial.empty()) {
        try {
            flush();
        } catch (const tk_exception&) {
            TK_TRACE(3, "Error writing CSV file %s", m_path.c_str());
        }
        cut_partial_record();
        // Unfinished: what is written stays a valid beginning of the stream, as a plain file would.
        if (m_compressor) {
            try {
                m_compressor->finish();
            } catch (const tk_exception&) {
                TK_TRACE(3, "Error writing CSV file %s", m_path.c_str());
            }
        }
    } else if (m_compressor) {
        m_compressor->abandon();
    }
    m_compressor.reset();
    if (m_fd >= 0 && ::close(m_fd) != 0) TK_TRACE(3, "Error closing CSV file %s", m_path.c_str());
    // Not closed: the table did not finish, so nothing of it takes the name.
    if (!m_partial.empty() && ::unlink(m_partial.c_str()) != 0)
        TK_TRACE(3, "Cannot remove %s: %s", m_partial.c_str(), std::strerror(errno));
    unregister_partial(m_slot);
}

void csv_file::open(const std::u16string& file_name, int compression) {
    m_line.reserve(2 * batch_bytes);
    // A name the narrow encoding cannot spell exactly is refused, never replaced by a near one;
    // it fails this table only.
    if (!tk_to_ansi(file_name, m_path)) {
        TK_WTRACE(3, u"Cannot convert the file name %s", file_name.c_str());
        throw tk_exception("cannot be written as a file name in the encoding " + tk_ansi_codeset(), 0);
    }
    struct stat st;
    std::string target = m_path;
    if (::stat(m_path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
        m_partial = partial_name(m_path);
        target = m_partial;
        m_slot = register_partial(m_partial);
    }
    m_fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        TK_TRACE(3, "%s %s: %s", error_opening, target.c_str(), std::strerror(errno));
        m_partial.clear();
        unregister_partial(m_slot);
        throw tk_exception(error_opening, 1);
    }
    if (compression != 0) m_compressor = std::make_unique<csv_compressor>(compression, m_fd);
}

void csv_file::close() {
    flush();
    cut_partial_record();
    if (m_compressor) {
        std::unique_ptr<csv_compressor> compressor = std::move(m_compressor);
        compressor->finish();
    }
    int fd = m_fd;
    m_fd = -1;
    if (fd < 0) return;
    // Synced before the rename: after a crash the name holds the old file or the whole new one.
    int error = 0;
    if (!m_partial.empty() && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && !m_partial.empty() && ::rename(m_partial.c_str(), m_path.c_str()) != 0) error = errno;
    if (error != 0) {
        if (!m_partial.empty()) ::unlink(m_partial.c_str());
        m_partial.clear();
        unregister_partial(m_slot);
        throw tk_exception_ex(error_writing, error);
    }
    m_partial.clear();
    unregister_partial(m_slot);
}

void csv_file::discard() noexcept {
    if (m_compressor) m_compressor->abandon();
    m_compressor.reset();
    m_line.clear();
    m_complete = 0;
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_partial.empty() && ::unlink(m_partial.c_str()) != 0)
        TK_TRACE(3, "Cannot remove %s: %s", m_partial.c_str(), std::strerror(errno));
    m_partial.clear();
    unregister_partial(m_slot);
}

namespace {

// Eight bytes at a time (a byte equal to one of four is found by the zero-byte test on each
// difference): the scan runs over every byte written, and a byte loop costs several times more.
bool needs_quotes(std::string_view text, char delim) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const std::uint64_t d = ones * static_cast<unsigned char>(delim);
    const std::uint64_t q = ones * '"', cr = ones * '\r', lf = ones * '\n';
    auto has_zero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    const char* p = text.data();
    const char* end = p + text.size();
    for (; end - p >= 8; p += 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        if (has_zero(v ^ d) | has_zero(v ^ q) | has_zero(v ^ cr) | has_zero(v ^ lf)) return true;
    }
    for (; p < end; ++p)
        if (*p == delim || *p == '"' || *p == '\r' || *p == '\n') return true;
    return false;
}

} // namespace

void csv_file::write_csv_field(std::string_view text) {
    TK_TRACE(1, "csv_file::write_csv_field(%.*s)", static_cast<int>(text.size()), text.data());
    // A line break inside a field needs quotes too, or every reader would see two records.
    const bool quote = needs_quotes(text, m_delim);
    if (!quote && m_line.size() + text.size() <= line_spill) {
        m_line.append(text);
        return;
    }
    if (quote) m_line += '"';
    put_piece(text, quote);
    if (quote) m_line += '"';
}

// One piece of a field's text; inside quotes a quote is doubled.
void csv_file::put_piece(std::string_view text, bool quoted) {
    if (!quoted) {
        put(text);
        return;
    }
    for (size_t from = 0;;) {
        size_t at = text.find('"', from);
        if (at == std::string_view::npos) {
            put(text.substr(from));
            return;
        }
        put(text.substr(from, at + 1 - from));
        m_line += '"';
        from = at + 1;
    }
}

void csv_file::put(std::string_view bytes) {
    while (m_line.size() + bytes.size() > line_spill) {
        size_t room = line_spill - std::min(line_spill, m_line.size());
        m_line.append(bytes.substr(0, room));
        bytes.remove_prefix(room);
        write_out(m_line.size());
    }
    m_line.append(bytes);
}

// A string or a byte array longer than a piece: converted and written piece by piece, to the
// bytes append_string and tk_append_utf8 give. False for every other value (and for a delimiter
// the piecewise reading cannot see), which then takes the whole-text way.
bool csv_file::append_long_value(const udb_field& value, VARTYPE type) {
    const unsigned char delim = static_cast<unsigned char>(m_delim);
    constexpr size_t piece = 64 * 1024;
    if (value.vt() == (VT_ARRAY | VT_UI1) && type != VT_BSTR) {
        std::span<const unsigned char> bytes = value.get_binary();
        if (bytes.size() <= line_spill / 2) return false;
        // "0x" and upper-case hexadecimal digits: quoted only for such a delimiter.
        if (std::isxdigit(delim) || delim == 'x') return false;
        put("0x");
        for (size_t at = 0; at < bytes.size(); at += piece) {
            size_t n = std::min(piece, bytes.size() - at);
            m_text.resize(2 * n + 1);
            tk_bin_to_hex(bytes.data() + at, n, m_text.data());
            put(std::string_view(m_text.data(), 2 * n));
        }
        return true;
    }
    if (type != VT_BSTR) return false;
    std::u16string_view text = value.get_bstr();
    if (text.size() <= line_spill / 3 || delim >= 0x80) return false;
    text = text.substr(0, text.find(u'\0'));
    // An ASCII delimiter is a UTF-8 byte only where the text has that character.
    bool quote = false;
    for (char16_t c : text)
        if (c == delim || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    if (quote) m_line += '"';
    while (!text.empty()) {
        size_t n = std::min(piece, text.size());
        // A surrogate pair stays in one piece.
        if (n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) ++n;
        m_text.clear();
        tk_append_utf8(m_text, text.substr(0, n));
        put_piece(m_text, quote);
        text.remove_prefix(n);
    }
    if (quote) m_line += '"';
    return true;
}

void csv_file::append_value(const udb_field& value) {
    VARTYPE type = value.get_type();
    if (type == VT_R4 || type == VT_R8 || type == VT_CY || type == VT_DECIMAL) {
        TK_TRACE(1, "Got floating point number");
        std::int32_t whole;
        if (exact_int32(value, type, whole)) {
            TK_TRACE(1, "Number can be processed as int");
            char digits[16];
            auto end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
            write_csv_field(std::string_view(digits, end - digits));
            return;
        }
    }
    if (append_long_value(value, type)) return;
    m_text.clear();
    // Straight from the value, without the wide copy: a string is the only non-ASCII form.
    if (type == VT_BSTR) {
        // A string value's text ends at its first NUL, as its text form does.
        std::u16string_view text = value.get_bstr();
        tk_append_utf8(m_text, text.substr(0, text.find(u'\0')));
    } else {
        value.append_string(m_text);
    }
    write_csv_field(m_text);
}

void csv_file::append_record(const udb_record& record) {
    TK_TRACE(1, "csv_file::append_record");
    if (m_fd < 0) throw tk_exception(error_opening, 1);
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
    // A value that fails leaves nothing of its record, in the file or gathered.
    cut_partial_record();
    m_line.resize(m_complete);
    for (size_t i = 0; i < record.size(); ++i) {
        if (i != 0) m_line += m_delim;
        append_value(record[i]);
    }
    m_line += "\r\n";
    end_record();
}

void csv_file::end_record() {
    m_complete = m_line.size();
    // A record whose first part went out early is finished in the file at once.
    if (m_complete >= batch_bytes || m_spilled > 0) write_out(m_complete);
    m_written += m_spilled;
    m_spilled = 0;
}

void csv_file::flush() {
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
    if (m_fd >= 0 && m_complete > 0) write_out(m_complete);
}

void csv_file::flush_before_wait(void* file) noexcept {
    auto* self = static_cast<csv_file*>(file);
    if (self->m_failure) return;
    try {
        self->flush();
    } catch (...) {
        self->m_failure = std::current_exception();
    }
}

// Writes the first `size` bytes gathered: whole records, then perhaps the first part of a record
// too long to gather (it is counted as spilled). A failed write cuts the file back to its last
// whole record.
void csv_file::write_out(size_t size) {
    if (m_compressor) {
        // Whole records are committed; the first part of a long record waits for its end.
        std::string_view bytes(m_line.data(), size);
        m_compressor->add(bytes.substr(0, m_complete));
        m_compressor->commit();
        m_compressor->add(bytes.substr(m_complete));
        m_written += static_cast<long long>(m_complete);
        m_spilled += static_cast<long long>(size - m_complete);
        m_line.erase(0, size);
        m_complete = 0;
        return;
    }
    const char* data = m_line.data();
    size_t left = size;
    while (left > 0) {
        ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int error = n < 0 ? errno : EIO;
            // Cut the half-written line off, so the file keeps whole records only.
            if (::ftruncate(m_fd, m_written) == 0) ::lseek(m_fd, m_written, SEEK_SET);
            m_spilled = 0;
            m_line.clear();
            m_complete = 0;
            throw tk_exception_ex(error_writing, error);
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    m_written += static_cast<long long>(m_complete);
    m_spilled += static_cast<long long>(size - m_complete);
    m_line.erase(0, size);
    m_complete = 0;
}

// The pieces of a record whose value failed after its line began to go out are taken back.
void csv_file::cut_partial_record() noexcept {
    if (m_spilled == 0 || m_fd < 0) return;
    if (m_compressor) {
        m_compressor->rollback();
        m_spilled = 0;
        return;
    }
    if (::ftruncate(m_fd, m_written) == 0) ::lseek(m_fd, m_written, SEEK_SET);
    m_spilled = 0;
}

