#pragma once

#include "UDB/udb_recordset.hpp"

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The write-only recordset of the CSV destination: one file, one line per record. Values are
// UTF-8, the header names are in the narrow encoding, every line ends in CR LF.
//
// The records go to a hidden file of our own beside the named one (".NAME.csv.partial"), and
// only close() puts it in the name's place, synced: a table that fails, or a run that is
// cancelled or killed, never leaves a half table under the table's name. A name that already
// stands for something other than a regular file (a device, a pipe) is written directly.
class csv_compressor;

class csv_file : public udb_recordset {
public:
    // Both constructors create the file and raise "Error opening CSV file" when they cannot (a
    // name the narrow encoding cannot spell is an error of this table only); this one also
    // writes the header line. With a compression (1 gzip, 2 zstd) the file holds the compressed
    // stream of exactly the bytes it would hold plain.
    csv_file(const std::u16string& file_name, char delim, const std::vector<std::u16string>& field_names,
             int compression = 0);
    csv_file(const std::u16string& file_name, char delim, int compression = 0);
    ~csv_file() override;

    // Records are gathered and written whole, at least batch_bytes at a time, so that the file
    // always ends after a whole record; a failed write raises. Each value is written from its
    // own text form (ole_variant's), without the wide copy to_wstring makes.
    static constexpr size_t batch_bytes = 64 * 1024;
    void append_record(const udb_record& record) override;
    // Writes the records gathered so far.
    void flush();
    // The same before the reader waits for the server: a failure is raised by the next call.
    static void flush_before_wait(void* file) noexcept;
    // Writes what is gathered, syncs and closes the file and puts it under its name; a failure
    // raises, and the file is then removed.
    void close();
    // Closes and removes an incomplete file. The destructor does so for a file not closed.
    void discard() noexcept;

    // The hidden name a file is written under until it is whole.
    static std::string partial_name(const std::string& path);
    // True for a name of that pattern (".*.csv.partial", also .csv.gz and .csv.zst), a leftover
    // of a killed run.
    static bool is_partial_name(std::string_view file_name);
    // Removes the files being written right now; safe in a signal handler and at exit.
    static void remove_partial_files() noexcept;

protected:
    // Appends one field to the line being built, quoted when the text needs it.
    void write_csv_field(std::string_view text);

private:
    void open(const std::u16string& file_name, int compression);
    void append_value(const udb_field& value);
    bool append_long_value(const udb_field& value, VARTYPE type);
    void put(std::string_view bytes);
    void put_piece(std::string_view text, bool quoted);
    void write_out(size_t size);
    void cut_partial_record() noexcept;
    void end_record();

    char m_delim;
    int m_fd = -1;
    std::string m_path;
    // Where the records go until close(); empty when written directly.
    std::string m_partial;
    int m_slot = -1;
    // Whole records not yet written, then the one being built, and one value's text; both keep
    // their room from record to record.
    std::string m_line;
    // Where the record being built begins in m_line.
    size_t m_complete = 0;
    // A write that failed while nobody could be told.
    std::exception_ptr m_failure;
    std::string m_text;
    // Bytes of complete lines in the file, where a failed write is cut back to.
    long long m_written = 0;
    // Bytes of the current record already in the file: a long line goes out in pieces.
    long long m_spilled = 0;
    // Compresses on a thread of its own what would be written plain.
    std::unique_ptr<csv_compressor> m_compressor;
};
