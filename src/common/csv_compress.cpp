#include "common/csv_compress.hpp"

#include "TK/tk_exception.hpp"
#include "TK/tk_log.hpp"

#include <cerrno>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace {
// Buffers of about this size go to the thread; a few may wait, so that memory stays bounded.
constexpr size_t hand_over_size = 256 * 1024;
constexpr size_t queue_limit = 4;

// Writes all of it; errno of the failure, or 0.
int write_all(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

// One stream of either kind: feed() bytes, end() at the last.
class packer {
public:
    packer(int kind, int fd) : m_kind(kind), m_fd(fd), m_out(128 * 1024) {
        if (kind == 1) {
            // zlib's fastest level: its default cannot keep up with a run on one core.
            m_ok = deflateInit2(&m_z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        } else {
            m_zstd = ZSTD_createCCtx();
            m_ok = m_zstd && !ZSTD_isError(ZSTD_CCtx_setParameter(m_zstd, ZSTD_c_compressionLevel, 3));
        }
    }
    ~packer() {
        if (m_kind == 1)
            deflateEnd(&m_z);
        else
            ZSTD_freeCCtx(m_zstd);
    }
    // errno-like: 0 when all went out.
    int feed(const std::string& bytes, bool last) {
        if (!m_ok) return EIO;
        return m_kind == 1 ? feed_gz(bytes, last) : feed_zstd(bytes, last);
    }

private:
    int feed_gz(const std::string& bytes, bool last) {
        m_z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        m_z.avail_in = static_cast<uInt>(bytes.size());
        for (;;) {
            m_z.next_out = m_out.data();
            m_z.avail_out = static_cast<uInt>(m_out.size());
            int rc = deflate(&m_z, last ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_ERROR) return EIO;
            if (int error = write_all(m_fd, m_out.data(), m_out.size() - m_z.avail_out)) return error;
            if (last ? rc == Z_STREAM_END : m_z.avail_in == 0 && m_z.avail_out != 0) return 0;
        }
    }
    int feed_zstd(const std::string& bytes, bool last) {
        ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
        for (;;) {
            ZSTD_outBuffer out{m_out.data(), m_out.size(), 0};
            size_t left = ZSTD_compressStream2(m_zstd, &out, &in, last ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(left)) return EIO;
            if (int error = write_all(m_fd, m_out.data(), out.pos)) return error;
            if (last ? left == 0 : in.pos == in.size) return 0;
        }
    }

    int m_kind;
    int m_fd;
    bool m_ok = false;
    z_stream m_z{};
    ZSTD_CCtx* m_zstd = nullptr;
    std::vector<unsigned char> m_out;
};
} // namespace

csv_compressor::csv_compressor(int kind, int fd) : m_kind(kind), m_fd(fd) {
    TK_TRACE(2, "csv_compressor::ctor(%d)", kind);
    m_current.reserve(hand_over_size + 64 * 1024);
    m_thread = std::thread([this] { run(); });
}

csv_compressor::~csv_compressor() {
    abandon();
}

void csv_compressor::check() const {
    if (m_error != 0) throw tk_exception_ex("Error writing CSV file: ", m_error);
}

void csv_compressor::add(std::string_view bytes) {
    m_current.append(bytes);
}

void csv_compressor::commit() {
    m_committed = m_current.size();
    if (m_committed >= hand_over_size) hand_over(false);
}

void csv_compressor::rollback() noexcept {
    m_current.resize(m_committed);
}

void csv_compressor::hand_over(bool last) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [this] { return m_queue.size() < queue_limit || m_ended; });
    check();
    std::string rest = m_current.substr(m_committed);
    m_current.resize(m_committed);
    m_queue.push_back(std::move(m_current));
    m_current = std::move(rest);
    m_current.reserve(hand_over_size + 64 * 1024);
    m_committed = 0;
    m_last = last;
    m_changed.notify_all();
}

void csv_compressor::finish() {
    m_current.resize(m_committed);
    hand_over(true);
    if (m_thread.joinable()) m_thread.join();
    check();
}

void csv_compressor::abandon() noexcept {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
}

void csv_compressor::run() {
    packer stream(m_kind, m_fd);
    for (;;) {
        std::string bytes;
        bool last;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_changed.wait(guard, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) break;
            bytes = std::move(m_queue.front());
            m_queue.pop_front();
            last = m_last && m_queue.empty();
            m_changed.notify_all();
        }
        int error = stream.feed(bytes, last);
        if (error != 0) {
            TK_TRACE(3, "Error compressing CSV file: %d", error);
            std::lock_guard<std::mutex> guard(m_lock);
            m_error = error;
            break;
        }
        if (last) break;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_ended = true;
    m_changed.notify_all();
}
