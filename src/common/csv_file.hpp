#pragma once

#include "UDB/udb_recordset.hpp"

#include <memory>

#include <string>
#include <string_view>
#include <vector>

// The write-only recordset of the CSV destination: one file, one line per record. Values are
// UTF-8, the header names are in the narrow encoding, every line ends in CR LF.
class csv_compressor;

class csv_file : public udb_recordset {
public:
    // Both constructors create (or truncate) the file and raise "Error opening CSV file" when
    // they cannot; this one also writes the header line. With a compression (1 gzip, 2 zstd) the
    // file holds the compressed stream of exactly the bytes it would hold plain.
    csv_file(const std::u16string& file_name, char delim, const std::vector<std::u16string>& field_names,
             int compression = 0);
    csv_file(const std::u16string& file_name, char delim, int compression = 0);
    ~csv_file() override;

    // One line per record, written and flushed as a whole; a failed write raises. Each value is
    // written from its own text form (ole_variant's), without the wide copy to_wstring makes.
    void append_record(const udb_record& record) override;
    // Closes the file and reports a failure to do so; the destructor closes silently.
    void close();
    // Closes and removes an incomplete file (a cancelled run), so no half table stays behind.
    void discard() noexcept;

protected:
    // Appends one field to the line being built, quoted when the text needs it.
    void write_csv_field(std::string_view text);

private:
    void open(const std::u16string& file_name, int compression);
    void append_value(const udb_field& value);
    bool append_long_value(const udb_field& value, VARTYPE type);
    void put(std::string_view bytes);
    void put_piece(std::string_view text, bool quoted);
    void write_out();
    void cut_partial_record() noexcept;
    void flush_line();

    char m_delim;
    int m_fd = -1;
    std::string m_path;
    // The line being built and one value's text; both keep their room from record to record.
    std::string m_line;
    std::string m_text;
    // Bytes of complete lines in the file, where a failed write is cut back to.
    long long m_written = 0;
    // Bytes of the current record already in the file: a long line goes out in pieces.
    long long m_spilled = 0;
    std::unique_ptr<csv_compressor> m_compressor;
};
