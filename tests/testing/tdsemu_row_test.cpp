// Values as the emulator writes them into a row: the conversions it does by hand (exact decimals, money,
// GUID text, lenient UTF-8, code page 1252, lengths patched in after the bytes) checked byte by byte.
#include "tdsemu/sql_type.hpp"
#include "tdsemu/tds_buffer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tdsemu::cell;

struct row_case {
    const char* type;
    std::vector<std::string> args;
    cell value;
    const char* expected; // the row's bytes in hex, after "error N" when the value is refused
};

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

// The value in a one-column row of a nullable column: what put_row left in the buffer, and the error if any.
std::string row_of(const row_case& c) {
    tdsemu::result_column col;
    col.name = "c";
    EXPECT_TRUE(tdsemu::parse_sql_type(c.type, c.args, col.type)) << c.type;
    tdsemu::tds_buffer out;
    std::string error;
    try {
        tdsemu::put_row(out, {col}, {c.value});
    } catch (const tdsemu::value_error& e) {
        error = "error " + std::to_string(e.number) + " ";
    }
    return error + hex(out.bytes);
}

cell text(const std::string& s) {
    return cell::of_text(s);
}

class row_bytes : public ::testing::TestWithParam<row_case> {};

TEST_P(row_bytes, match_the_server) {
    EXPECT_EQ(row_of(GetParam()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    exact_numbers, row_bytes,
    ::testing::Values(
        row_case{"decimal", {"18", "4"}, text("12345.6789"), "d1 09 01 15 cd 5b 07 00 00 00 00 "},
        // Half away from zero; a zero is never negative.
        row_case{"decimal", {"18", "4"}, text("-0.00005"), "d1 09 00 01 00 00 00 00 00 00 00 "},
        row_case{"decimal", {"18", "4"}, text(" -0.00004 "), "d1 09 01 00 00 00 00 00 00 00 00 "},
        row_case{"decimal", {"18", "4"}, text("1.5e3"), "d1 09 01 c0 e1 e4 00 00 00 00 00 "},
        row_case{"decimal", {"18", "4"}, cell::of_real(0.1), "d1 09 01 e8 03 00 00 00 00 00 00 "},
        // Rounding that adds a digit the precision has no room for.
        row_case{"decimal", {"18", "4"}, text("99999999999999.99995"), "error 8115 d1 "},
        row_case{"decimal", {"5", "2"}, text("999.995"), "error 8115 d1 "},
        row_case{"decimal", {"18", "4"}, text("12.3.4"), "error 245 d1 "},
        // More digits than 64 bits hold.
        row_case{"decimal",
                 {"38", "0"},
                 text("12345678901234567890123456789012345678"),
                 "d1 11 01 4e f3 38 de 50 90 49 c4 13 33 02 f0 f6 b0 49 09 "},
        row_case{"decimal",
                 {"38", "2"},
                 text("9999999999999999999.995"),
                 "d1 11 01 00 00 a0 de c5 ad c9 35 36 00 00 00 00 00 00 00 "},
        row_case{"money", {}, text("-922337203685477.5808"), "d1 08 00 00 00 80 00 00 00 00 "},
        row_case{"money", {}, text("922337203685477.5808"), "error 8115 d1 "},
        row_case{"money", {}, text("1234.56785"), "d1 08 00 00 00 00 4f 61 bc 00 "},
        row_case{"smallmoney", {}, text("-214748.3648"), "d1 04 00 00 00 80 "},
        row_case{"bigint", {}, cell::of(INT64_MIN), "d1 08 00 00 00 00 00 00 00 80 "},
        row_case{"int", {}, cell::of(2147483648LL), "error 8115 d1 "}));

INSTANTIATE_TEST_SUITE_P(
    guids, row_bytes,
    ::testing::Values(
        row_case{"uniqueidentifier",
                 {},
                 text("00112233-4455-6677-8899-AABBCCDDEEFF"),
                 "d1 10 33 22 11 00 55 44 77 66 88 99 aa bb cc dd ee ff "},
        row_case{"uniqueidentifier",
                 {},
                 text("{00112233-4455-6677-8899-aabbccddeeff}"),
                 "d1 10 33 22 11 00 55 44 77 66 88 99 aa bb cc dd ee ff "},
        row_case{"uniqueidentifier",
                 {},
                 text("00112233445566778899aabbccddeeff"),
                 "d1 10 33 22 11 00 55 44 77 66 88 99 aa bb cc dd ee ff "},
        row_case{"uniqueidentifier", {}, text("00112233-4455-6677-8899-AABBCCDDEEFG"), "error 8169 d1 "},
        row_case{"uniqueidentifier", {}, text("00112233-4455-6677-8899-AABBCCDDEEFF0"), "error 8169 d1 "}));

INSTANTIATE_TEST_SUITE_P(
    text_and_bytes, row_bytes,
    ::testing::Values(
        // Two, three and four bytes of UTF-8; the last becomes a surrogate pair.
        row_case{"nvarchar",
                 {"10"},
                 text("G\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80"),
                 "d1 0a 00 47 00 fc 00 ac 20 3d d8 00 de "},
        // Malformed UTF-8 becomes U+FFFD a byte at a time; an overlong NUL is read as NUL.
        row_case{"nvarchar", {"10"}, text("a\xc3"), "d1 04 00 61 00 fd ff "},
        row_case{"nvarchar", {"10"}, text("\xed\xa0\x80z"), "d1 08 00 fd ff fd ff fd ff 7a 00 "},
        row_case{"nvarchar", {"10"}, text("\xc0\x80\xff"), "d1 04 00 00 00 fd ff "},
        row_case{"nchar", {"4"}, text("\xce\x96"), "d1 08 00 96 03 20 00 20 00 20 00 "},
        // Code page 1252 where it has the character, '?' where it has not.
        row_case{"varchar", {"10"}, text("\xe2\x82\xac\xce\x96\xc3\xa9"), "d1 03 00 80 3f e9 "},
        row_case{"char", {"4"}, text("ab"), "d1 04 00 61 62 20 20 "},
        // Too long for the column: nothing of the value stays in the row.
        row_case{"nvarchar", {"3"}, text("abcd"), "error 8152 d1 "},
        row_case{
            "varchar", {"3"}, text("\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac"), "error 8152 d1 "},
        row_case{"varbinary", {"4"}, cell::of_blob("\x01\x02\x03\x04\x05"), "error 8152 d1 "},
        row_case{"binary", {"4"}, cell::of_blob("\x01"), "d1 04 00 01 00 00 00 "},
        row_case{"datetime2", {}, text("2024-02-29 23:59:59.99999995"), "d1 08 ff bf 69 2a c9 80 46 0b "},
        row_case{"datetime2", {}, text("2023-02-29 00:00:00"), "error 245 d1 "}));

TEST(tds_buffer, cuts_names_at_the_count_their_length_byte_holds) {
    tdsemu::tds_buffer b;
    b.b_varchar(std::string(300, 'x'));
    ASSERT_EQ(b.bytes.size(), 1u + 510u);
    EXPECT_EQ(static_cast<unsigned char>(b.bytes[0]), 255u);
    b.bytes.clear();
    b.us_varchar("\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(hex(b.bytes), "03 00 e9 00 74 00 e9 00 ");
}

} // namespace
