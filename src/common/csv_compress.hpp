#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// Compresses a CSV file's bytes on a thread of its own (gzip through zlib, or zstd), so that a
// run with a core to spare is not slowed by it. Bytes arrive as they are built; only committed
// bytes (whole records) go to the compressor, so a record taken back leaves nothing behind.
class csv_compressor {
public:
    // kind: 1 gzip, 2 zstd. The file descriptor stays the caller's.
    csv_compressor(int kind, int fd);
    ~csv_compressor();
    csv_compressor(const csv_compressor&) = delete;
    csv_compressor& operator=(const csv_compressor&) = delete;

    // A failed write of the compressed stream raises, at the next call after it happened.
    void add(std::string_view bytes);
    void commit();
    // Drops the bytes added since the last commit.
    void rollback() noexcept;
    // Compresses the rest, ends the stream and waits for it to be written.
    void finish();
    // Stops without finishing the stream (the file is being removed).
    void abandon() noexcept;

private:
    void run();
    void hand_over(bool last);
    void check() const;

    int m_kind;
    int m_fd;
    std::string m_current;
    size_t m_committed = 0;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    bool m_last = false;    // no more buffers will come
    bool m_stop = false;    // abandon: stop at once
    bool m_ended = false;   // the thread has ended
    int m_error = 0;        // errno of a failed write, or EIO for a compressor's failure
    std::thread m_thread;
};
