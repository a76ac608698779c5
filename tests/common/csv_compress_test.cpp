#include "TK/tk_exception.hpp"
#include "TK/tk_utils.hpp"
#include "common/csv_file.hpp"
#include "support/decompress.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

using test_support::gunzip;
using test_support::read_file;
using test_support::unzstd;
using test_support::temp_dir;

namespace {
void append(csv_file& file, const std::vector<ole_variant>& values) {
    udb_record record;
    for (const auto& v : values) record.append(std::make_unique<udb_field>(u"f", 0, v));
    file.append_record(record);
}

struct failing : udb_field {
    using udb_field::udb_field;
    VARTYPE get_type() const override { throw tk_exception("refused", 1); }
};

// Many records, one of them failing after 2 MB of it went out, then more: the file's bytes.
void write_rows(const std::string& path, int compression) {
    csv_file file(tk_utf8_to_wstring(path), ';', {u"a", u"b"}, compression);
    for (int i = 0; i < 30000; ++i) append(file, {ole_variant(i), ole_variant(std::u16string(u"text;\"é\" ") + u"x")});
    udb_record record;
    record.append(std::make_unique<udb_field>(u"f", 0, ole_variant(std::u16string(2000000, u'z'))));
    record.append(std::make_unique<failing>(u"g", 0, ole_variant(1)));
    EXPECT_THROW(file.append_record(record), tk_exception);
    append(file, {ole_variant(std::u16string(3000000, u'y')), ole_variant(2)});
    append(file, {ole_variant(-1), ole_variant()});
    file.close();
}
} // namespace

TEST(csv_compress, both_kinds_hold_the_plain_bytes_and_a_record_taken_back_leaves_nothing) {
    temp_dir dir;
    write_rows(dir.file("t.csv"), 0);
    write_rows(dir.file("t.csv.gz"), 1);
    write_rows(dir.file("t.csv.zst"), 2);
    std::string plain = read_file(dir.file("t.csv"));
    ASSERT_GT(plain.size(), 3000000u);
    EXPECT_EQ(plain.find("zzz"), std::string::npos);
    EXPECT_TRUE(gunzip(read_file(dir.file("t.csv.gz"))) == plain);
    EXPECT_TRUE(unzstd(read_file(dir.file("t.csv.zst"))) == plain);

    // A table without rows: a valid stream of nothing but the header, or of nothing at all.
    {
        csv_file file(tk_utf8_to_wstring(dir.file("e.csv.gz")), ';', 1);
        file.close();
    }
    EXPECT_EQ(gunzip(read_file(dir.file("e.csv.gz"))), "");
    {
        csv_file file(tk_utf8_to_wstring(dir.file("h.csv.zst")), ';', {u"a"}, 2);
        file.close();
    }
    // One not closed is no file at all, nor a hidden one.
    { csv_file file(tk_utf8_to_wstring(dir.file("u.csv.gz")), ';', {u"a"}, 1); }
    EXPECT_FALSE(std::filesystem::exists(dir.file("u.csv.gz")));
    EXPECT_FALSE(std::filesystem::exists(dir.file(".u.csv.gz.partial")));
    EXPECT_EQ(unzstd(read_file(dir.file("h.csv.zst"))), "a\r\n");
}

TEST(csv_compress, a_full_disk_is_reported_and_a_discarded_file_is_gone) {
    for (int kind : {1, 2}) {
        csv_file file(u"/dev/full", ';', kind);
        append(file, {ole_variant(1)});
        try {
            file.close();
            ADD_FAILURE() << "a compressed write to a full disk succeeded";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.message(), "Error writing CSV file: No space left on device");
        }
    }
    temp_dir dir;
    csv_file file(tk_utf8_to_wstring(dir.file("d.csv.zst")), ';', 2);
    append(file, {ole_variant(1)});
    file.discard();
    EXPECT_FALSE(test_support::run_process({"/usr/bin/test", "-e", dir.file("d.csv.zst")}).status == 0);
}
