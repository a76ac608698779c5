#include "TK/tk_exception.hpp"
#include "TK/tk_utils.hpp"
#include "common/csv_file.hpp"
#include "support/test_support.hpp"

#include <clocale>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using test_support::read_file;
using test_support::temp_dir;

namespace {
using row = std::vector<ole_variant>;

void append(csv_file& file, const row& values) {
    udb_record record;
    for (const auto& v : values) record.append(std::make_unique<udb_field>(u"f", 0, v));
    file.append_record(record);
}

// The bytes of a file written with these rows, without a header line.
std::string written(char delim, const std::vector<row>& rows) {
    temp_dir dir;
    {
        csv_file file(tk_utf8_to_wstring(dir.file("t.csv")), delim);
        for (const auto& r : rows) append(file, r);
        file.close();
    }
    return read_file(dir.file("t.csv"));
}

std::string one_value(const ole_variant& value, char delim = ';') {
    return written(delim, {{value}});
}

ole_variant text(const std::u16string& s) {
    return ole_variant(s);
}

DECIMAL decimal(std::uint64_t magnitude, int scale, bool negative = false) {
    DECIMAL d{};
    d.scale = static_cast<std::uint8_t>(scale);
    d.sign = negative ? DECIMAL_NEG : 0;
    d.Lo64 = magnitude;
    return d;
}

struct field_case {
    char delim;
    std::u16string text;
    std::string expected;
};
class csv_field_rule : public ::testing::TestWithParam<field_case> {};
} // namespace

TEST_P(csv_field_rule, writes_exact_bytes) {
    EXPECT_EQ(one_value(text(GetParam().text), GetParam().delim), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    semicolon, csv_field_rule,
    ::testing::Values(field_case{';', u"a;b", "\"a;b\"\r\n"}, field_case{';', u"a,b", "a,b\r\n"},
                      field_case{';', u"a\tb", "a\tb\r\n"}, field_case{';', u"\"hi\"", "\"\"\"hi\"\"\"\r\n"},
                      field_case{';', u" padded ", " padded \r\n"}, field_case{';', u"", "\r\n"}));
INSTANTIATE_TEST_SUITE_P(comma, csv_field_rule,
                         ::testing::Values(field_case{',', u"a,b", "\"a,b\"\r\n"},
                                           field_case{',', u"a;b", "a;b\r\n"},
                                           field_case{',', u"say \"x\"", "\"say \"\"x\"\"\"\r\n"}));
INSTANTIATE_TEST_SUITE_P(tab, csv_field_rule,
                         ::testing::Values(field_case{'\t', u"a\tb", "\"a\tb\"\r\n"},
                                           field_case{'\t', u"a;b,c", "a;b,c\r\n"}));
// A line break inside a field is quoted and kept byte for byte; only the record ends in CR LF.
INSTANTIATE_TEST_SUITE_P(line_breaks, csv_field_rule,
                         ::testing::Values(field_case{';', u"a\nb", "\"a\nb\"\r\n"},
                                           field_case{';', u"a\r\nb", "\"a\r\nb\"\r\n"},
                                           field_case{';', u"a\rb", "\"a\rb\"\r\n"},
                                           field_case{',', u"\n", "\"\n\"\r\n"}));

TEST(csv_file, a_quote_or_break_anywhere_in_a_long_field_is_seen) {
    // Every position of texts longer than a machine word, next to bytes of non-ASCII text.
    for (char delim : {';', ',', '\t'}) {
        for (char16_t special : {static_cast<char16_t>(delim), u'"', u'\r', u'\n'}) {
            const std::u16string base = u"\u00e9bcdefghijklmnopqrstu";
            for (size_t at = 0; at < base.size(); ++at) {
                std::u16string value = base;
                value[at] = special;
                std::string bytes = tk_to_utf8(value);
                std::string quoted = "\"";
                for (char c : bytes) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
                EXPECT_EQ(one_value(text(value), delim), quoted + "\"\r\n")
                    << "delimiter " << int(delim) << ", character " << int(special) << " at " << at;
            }
        }
        // Bytes one off the special ones, and above 0x7F, are plain.
        std::u16string plain = u"\u00e9\u0100:+<!#\u000b\u000c\u000e\u0008 \u00ff\u20ac abcdefghij";
        EXPECT_EQ(one_value(text(plain), delim), tk_to_utf8(plain) + "\r\n") << int(delim);
    }
}

TEST(csv_file, values_are_utf8_and_end_at_a_nul) {
    EXPECT_EQ(one_value(text(u"Заказ 注文 😀")),
              "\xD0\x97\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7 \xE6\xB3\xA8\xE6\x96\x87 "
              "\xF0\x9F\x98\x80\r\n");
    std::u16string lone = u"x";
    lone.push_back(static_cast<char16_t>(0xDC00));
    EXPECT_EQ(one_value(text(lone)), "x\xEF\xBF\xBD\r\n");
    EXPECT_EQ(one_value(text(std::u16string(u"ab\0;d", 5))), "ab\r\n");
}

TEST(csv_file, empty_null_and_empty_text_are_empty_fields) {
    ole_variant null_value;
    null_value.var.vt = VT_NULL;
    EXPECT_EQ(written(';', {{ole_variant(1), null_value, ole_variant(), text(u""), ole_variant(2)}}),
              "1;;;;2\r\n");
    EXPECT_EQ(written(';', {{ole_variant()}}), "\r\n");
    EXPECT_EQ(written(',', {{ole_variant(1)}, {null_value}, {ole_variant(3)}}), "1\r\n\r\n3\r\n");
}

TEST(csv_file, booleans_are_1_and_0) {
    EXPECT_EQ(written(';', {{ole_variant(true), ole_variant(false)}}), "1;0\r\n");
}

TEST(csv_file, whole_reals_within_32_bits_are_integers) {
    EXPECT_EQ(one_value(ole_variant(3.0)), "3\r\n");
    EXPECT_EQ(one_value(ole_variant(0.0)), "0\r\n");
    EXPECT_EQ(one_value(ole_variant(-0.0)), "0\r\n");
    EXPECT_EQ(one_value(ole_variant(2.0f)), "2\r\n");
    EXPECT_EQ(one_value(ole_variant(2147483647.0)), "2147483647\r\n");
    EXPECT_EQ(one_value(ole_variant(-2147483648.0)), "-2147483648\r\n");
}

TEST(csv_file, other_reals_keep_their_exponent_form) {
    EXPECT_EQ(one_value(ole_variant(3.5)), "3.500000000000000e+000\r\n");
    EXPECT_EQ(one_value(ole_variant(4294967296.0)), "4.294967296000000e+009\r\n");
    EXPECT_EQ(one_value(ole_variant(2147483648.0)), "2.147483648000000e+009\r\n");
    EXPECT_EQ(one_value(ole_variant(-0.25f)), "-2.500000e-001\r\n");
}

TEST(csv_file, only_an_exact_decimal_is_written_whole) {
    EXPECT_EQ(one_value(ole_variant(decimal(1000, 2))), "10\r\n");    // 10.00
    EXPECT_EQ(one_value(ole_variant(decimal(5, 0, true))), "-5\r\n"); // -5
    EXPECT_EQ(one_value(ole_variant(decimal(0, 3, true))), "0\r\n");  // -0.000
    EXPECT_EQ(one_value(ole_variant(decimal(2147483648ull, 0, true))), "-2147483648\r\n");
    // 1.000000000000000001 reads as 1 through a double, but is not 1.
    EXPECT_EQ(one_value(ole_variant(decimal(1000000000000000001ull, 18))), "1.000000000000000001\r\n");
    EXPECT_EQ(one_value(ole_variant(decimal(2147483648ull, 0))), "2147483648\r\n");
    EXPECT_EQ(one_value(ole_variant(decimal(1005, 1))), "100.5\r\n");
}

TEST(csv_file, currency_uses_a_point_whatever_the_locale) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    std::string amount = one_value(ole_variant(CY{123400}));
    std::string whole = one_value(ole_variant(CY{-50000}));
    std::string cents = one_value(ole_variant(CY{1}));
    std::setlocale(LC_ALL, restore.c_str());
    EXPECT_EQ(amount, "12.34\r\n");
    EXPECT_EQ(whole, "-5\r\n");
    EXPECT_EQ(cents, "0.0001\r\n");
    if (!german) GTEST_SKIP() << "locale de_DE.UTF-8 missing: checked in the C locale only";
}

TEST(csv_file, header_names_are_quoted_by_the_field_rule) {
    temp_dir dir;
    {
        csv_file file(tk_utf8_to_wstring(dir.file("h.csv")), ';',
                      {u"Id", u"Order;No", u"Say \"hi\"", u"Two\nlines"});
        append(file, {ole_variant(1), text(u"A-1"), text(u"hi"), text(u"x")});
        file.close();
    }
    EXPECT_EQ(read_file(dir.file("h.csv")), "Id;\"Order;No\";\"Say \"\"hi\"\"\";\"Two\nlines\"\r\n"
                                            "1;A-1;hi;x\r\n");
}

TEST(csv_file, header_is_in_the_narrow_encoding_and_values_in_utf8) {
    if (!std::setlocale(LC_CTYPE, "en_US.ISO-8859-1")) GTEST_SKIP() << "locale en_US.ISO-8859-1 missing";
    tk_reset_ansi_codeset();
    temp_dir dir;
    {
        csv_file file(tk_utf8_to_wstring(dir.file("l.csv")), ',', {u"Café", u"Ж"});
        append(file, {text(u"Café"), text(u"Ж")});
        file.close();
    }
    // A file name the encoding cannot spell is refused rather than written under a near name,
    // as a failure of that table only.
    try {
        csv_file(tk_utf8_to_wstring(dir.file("\xD0\x96.csv")), ',');
        ADD_FAILURE() << "an unspellable name was written";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.message(), "cannot be written as a file name in the encoding ISO-8859-1");
        EXPECT_EQ(e.level(), 0);
    }
    std::setlocale(LC_CTYPE, "C");
    tk_reset_ansi_codeset();
    EXPECT_EQ(read_file(dir.file("l.csv")), "Caf\xE9,?\r\nCaf\xC3\xA9,\xD0\x96\r\n");
}

TEST(csv_file, a_table_without_rows_leaves_the_header_or_nothing) {
    temp_dir dir;
    csv_file(tk_utf8_to_wstring(dir.file("a.csv")), '\t', {u"x", u"y"}).close();
    csv_file(tk_utf8_to_wstring(dir.file("b.csv")), '\t').close();
    EXPECT_EQ(read_file(dir.file("a.csv")), "x\ty\r\n");
    EXPECT_EQ(read_file(dir.file("b.csv")), "");
}

TEST(csv_file, a_file_that_cannot_be_created_fails_at_once) {
    temp_dir dir;
    std::u16string name = tk_utf8_to_wstring(dir.file("missing/t.csv"));
    for (bool header : {false, true}) {
        try {
            if (header)
                csv_file(name, ';', {u"a"});
            else
                csv_file(name, ';');
            ADD_FAILURE() << "created " << header;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.message(), "Error opening CSV file");
            EXPECT_EQ(e.level(), 1);
        }
    }
}

TEST(csv_file, a_full_disk_is_reported) {
    // Gathered records meet the full disk when they go out: at the close, or at once for a batch.
    for (size_t size : {size_t(1), csv_file::batch_bytes}) {
        csv_file file(u"/dev/full", ';');
        try {
            append(file, {text(std::u16string(size, u'1'))});
            file.close();
            ADD_FAILURE() << "write to a full disk succeeded";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.message(), "Error writing CSV file: No space left on device");
            EXPECT_EQ(e.level(), 1);
        }
    }
    csv_file header(u"/dev/full", ';', {u"a"});
    EXPECT_THROW(header.close(), tk_exception);
}

// Records are gathered and go out whole, at least a batch at a time: the file never ends inside
// a record, and a record larger than a batch goes out alone, at once.
TEST(csv_file, records_go_out_whole_in_batches) {
    temp_dir dir;
    std::string path = dir.file("t.csv");
    csv_file file(tk_utf8_to_wstring(path), ';', {u"n", u"s"});
    const std::u16string filler(90, u'f');
    std::string expected = "n;s\r\n";
    auto record = [&](int n, const std::u16string& s) {
        append(file, {ole_variant(n), text(s)});
        expected += std::to_string(n) + ";" + tk_to_utf8(s) + "\r\n";
    };
    record(1, filler);
    EXPECT_EQ(read_file(csv_file::partial_name(path)), "");
    size_t writes = 0;
    for (int n = 2; n < 2000; ++n) {
        record(n, filler);
        std::string now = read_file(csv_file::partial_name(path));
        if (now.empty()) continue;
        if (now.size() != expected.size()) {
            EXPECT_EQ(now, expected.substr(0, now.size()));
            continue;
        }
        ++writes;
        EXPECT_EQ(now, expected);
        EXPECT_GE(now.size(), csv_file::batch_bytes * writes);
    }
    EXPECT_GE(writes, 2u);
    const std::u16string alone(100000, u'w');
    record(2000, alone);
    EXPECT_EQ(read_file(csv_file::partial_name(path)), expected);
    record(2001, u"tail");
    EXPECT_NE(read_file(csv_file::partial_name(path)), expected);
    // A reader about to wait hands the gathered records over; so does the close.
    csv_file::flush_before_wait(&file);
    EXPECT_EQ(read_file(csv_file::partial_name(path)), expected);
    record(2002, u"last");
    file.close();
    EXPECT_EQ(read_file(path), expected);
}

TEST(csv_file, a_failed_write_leaves_whole_records_only) {
    temp_dir dir;
    std::string path = dir.file("f.csv");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file size limit 10 bytes above a first batch: the second is cut after 10 of its bytes.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{csv_file::batch_bytes + 12, csv_file::batch_bytes + 12};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            csv_file file(tk_utf8_to_wstring(path), ';');
            append(file, {text(std::u16string(csv_file::batch_bytes, u'1'))});
            append(file, {text(u"123456789")});
            append(file, {text(u"123456789")});
            try {
                file.close();
            } catch (const tk_exception& e) {
                // A caller that goes on keeps whole records only.
                file.close();
                _exit(e.level() == 1 ? 0 : 2);
            }
        } catch (const tk_exception&) {
            _exit(3);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(path), std::string(csv_file::batch_bytes, '1') + "\r\n");
}

// Values longer than a piece go out piece by piece; the bytes must be those of the whole-text
// way: hexadecimal for bytes, UTF-8 for text (surrogate pairs on piece edges, quotes doubled).
TEST(csv_file, long_values_written_in_pieces_keep_their_bytes) {
    std::vector<unsigned char> bytes(1500000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 255);
    std::string hex = "0x";
    for (unsigned char b : bytes) {
        static const char digits[] = "0123456789ABCDEF";
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    // A pair on every 65,536-unit edge, a quote, and a tail after a NUL that is not written.
    std::u16string wide;
    while (wide.size() < 700000) wide += u"ab\"é€𝄞x;";
    wide.insert(65535, u"𝄞");
    std::u16string with_nul = wide + u'\0' + u"gone";
    std::string utf8 = tk_to_utf8(wide), quoted = "\"";
    for (char c : utf8) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += '"';

    EXPECT_EQ(written(';', {{ole_variant(bytes), text(with_nul), ole_variant(1)}, {text(u"next")}}),
              hex + ";" + quoted + ";1\r\nnext\r\n");
    // A delimiter among the hexadecimal digits takes the whole-text way: quoted.
    EXPECT_EQ(written('A', {{ole_variant(bytes)}}), "\"" + hex + "\"\r\n");
}

TEST(csv_file, a_record_failing_after_its_first_pieces_leaves_nothing) {
    // A field whose type cannot be read stands for a value that fails after a long one went out.
    struct failing : udb_field {
        using udb_field::udb_field;
        VARTYPE get_type() const override { throw tk_exception("refused", 1); }
    };
    auto write = [](const std::string& path, bool more) {
        csv_file file(tk_utf8_to_wstring(path), ';');
        append(file, {text(u"first")});
        udb_record record;
        record.append(std::make_unique<udb_field>(u"f", 0, text(std::u16string(2000000, u'z'))));
        record.append(std::make_unique<failing>(u"g", 0, ole_variant(1)));
        EXPECT_THROW(file.append_record(record), tk_exception);
        if (more) append(file, {text(u"third")});
        file.close();
    };
    temp_dir dir;
    write(dir.file("a.csv"), true);
    EXPECT_EQ(read_file(dir.file("a.csv")), "first\r\nthird\r\n");
    write(dir.file("b.csv"), false);
    EXPECT_EQ(read_file(dir.file("b.csv")), "first\r\n");
}

// Until close() the records are in a hidden file beside the name; a file never closed (a table
// that failed) leaves the name as it was, and a file closed replaces the old one whole.
TEST(csv_file, only_a_closed_file_takes_its_name) {
    temp_dir dir;
    std::string path = dir.file("t.csv"), hidden = dir.file(".t.csv.partial");
    test_support::write_file(path, "old\r\n");
    {
        csv_file file(tk_utf8_to_wstring(path), ';', {u"a"});
        append(file, {text(u"half")});
        EXPECT_EQ(access(hidden.c_str(), F_OK), 0);
        EXPECT_EQ(read_file(path), "old\r\n");
    }
    EXPECT_EQ(read_file(path), "old\r\n");
    EXPECT_EQ(access(hidden.c_str(), F_OK), -1);

    csv_file discarded(tk_utf8_to_wstring(path), ';');
    discarded.discard();
    EXPECT_EQ(access(hidden.c_str(), F_OK), -1);

    csv_file file(tk_utf8_to_wstring(path), ';');
    append(file, {text(u"new")});
    file.close();
    EXPECT_EQ(read_file(path), "new\r\n");
    EXPECT_EQ(access(hidden.c_str(), F_OK), -1);

    for (const char* ours : {".orders.csv.partial", ".orders.csv.gz.partial", ".orders.csv.zst.partial"})
        EXPECT_TRUE(csv_file::is_partial_name(ours)) << ours;
    for (const char* other : {"orders.csv.partial", ".csv.partial", ".csv.gz.partial", ".orders.csv",
                              ".orders.txt.partial", ".orders.gz.partial"})
        EXPECT_FALSE(csv_file::is_partial_name(other)) << other;
}
