#include "OLE/ole_variant.hpp"

#include "OLE/ole_type_exception.hpp"
#include "TK/tk_exception.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

DECIMAL decimal_of(const std::u16string& text) {
    DECIMAL d{};
    EXPECT_EQ(VarDecFromStr(text.c_str(), LCID_ENGLISH_US, 0, &d), S_OK);
    return d;
}

struct text_case {
    const char* name;
    std::function<ole_variant()> make;
    const char* expected;
};

class variant_text_form : public ::testing::TestWithParam<text_case> {};

TEST_P(variant_text_form, prints_the_exact_text) {
    const text_case& c = GetParam();
    ole_variant value = c.make();
    EXPECT_EQ(value.to_string(), c.expected);
    std::string wide_expected = c.expected;
    EXPECT_EQ(value.to_wstring(), std::u16string(wide_expected.begin(), wide_expected.end()));
}

INSTANTIATE_TEST_SUITE_P(
    numbers, variant_text_form,
    ::testing::Values(
        text_case{"r8_tenth", [] { return ole_variant(0.1); }, "1.000000000000000e-001"},
        text_case{"r8_one_and_half", [] { return ole_variant(1.5); }, "1.500000000000000e+000"},
        text_case{"r8_negative", [] { return ole_variant(-2.5); }, "-2.500000000000000e+000"},
        text_case{"r8_large_exponent", [] { return ole_variant(1e100); }, "1.000000000000000e+100"},
        text_case{"r8_small_exponent", [] { return ole_variant(1.5e-300); }, "1.500000000000000e-300"},
        text_case{"r8_zero", [] { return ole_variant(0.0); }, "0.000000000000000e+000"},
        text_case{"r8_negative_zero", [] { return ole_variant(-0.0); }, "-0.000000000000000e+000"},
        text_case{"r8_rounds_last_digit", [] { return ole_variant(5.0 / 9.0); }, "5.555555555555556e-001"},
        text_case{"r4", [] { return ole_variant(2.5f); }, "2.500000e+000"},
        text_case{"r4_tenth", [] { return ole_variant(0.1f); }, "1.000000e-001"},
        text_case{"i8_min", [] { return ole_variant(std::numeric_limits<std::int64_t>::min()); },
                  "-9223372036854775808"},
        text_case{"i8_max", [] { return ole_variant(std::numeric_limits<std::int64_t>::max()); },
                  "9223372036854775807"},
        text_case{"ui8_max", [] { return ole_variant(std::numeric_limits<std::uint64_t>::max()); },
                  "18446744073709551615"},
        text_case{"i4_min", [] { return ole_variant(std::numeric_limits<int>::min()); }, "-2147483648"},
        text_case{"ui4_max", [] { return ole_variant(4294967295u); }, "4294967295"},
        text_case{"i2", [] { return ole_variant(short(-32768)); }, "-32768"},
        text_case{"ui2", [] { return ole_variant((unsigned short)65535); }, "65535"},
        text_case{"i1", [] { return ole_variant(char(-1)); }, "-1"},
        text_case{"ui1", [] { return ole_variant((unsigned char)255); }, "255"},
        text_case{"bool_true", [] { return ole_variant(true); }, "1"},
        text_case{"bool_false", [] { return ole_variant(false); }, "0"},
        text_case{"cy", [] { return ole_variant(CY{12345678}); }, "1234.5678"},
        text_case{"cy_whole", [] { return ole_variant(CY{-50000}); }, "-5"},
        text_case{"cy_min", [] { return ole_variant(CY{std::numeric_limits<std::int64_t>::min()}); },
                  "-922337203685477.5808"},
        text_case{"cy_small", [] { return ole_variant(CY{1}); }, "0.0001"},
        text_case{"decimal", [] { return ole_variant(decimal_of(u"-0012.3400")); }, "-12.34"},
        text_case{"decimal_max", [] { return ole_variant(decimal_of(u"79228162514264337593543950335")); },
                  "79228162514264337593543950335"},
        // Either side of 2^64, where the digits change from 128-bit to 64-bit division.
        text_case{"decimal_2_64", [] { return ole_variant(decimal_of(u"-1844674407370955.1616")); },
                  "-1844674407370955.1616"},
        text_case{"decimal_below_2_64", [] { return ole_variant(decimal_of(u"0.18446744073709551615")); },
                  "0.18446744073709551615"},
        text_case{"decimal_tiny", [] { return ole_variant(decimal_of(u"0.0000000000000000000000000001")); },
                  "0.0000000000000000000000000001"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    other_types, variant_text_form,
    ::testing::Values(text_case{"empty", [] { return ole_variant(); }, ""},
                      text_case{"null",
                                [] {
                                    ole_variant v;
                                    v.var.vt = VT_NULL;
                                    return v;
                                },
                                ""},
                      text_case{"error",
                                [] {
                                    ole_variant v;
                                    v.var.vt = VT_ERROR;
                                    return v;
                                },
                                ""},
                      text_case{"bool_other_than_true",
                                [] {
                                    ole_variant v(true);
                                    v.var.boolVal = 1;
                                    return v;
                                },
                                "0"},
                      text_case{"bytes",
                                [] {
                                    return ole_variant(std::vector<unsigned char>{0x00, 0xAB});
                                },
                                "0x00AB"},
                      text_case{"no_bytes", [] { return ole_variant(std::vector<unsigned char>{}); }, ""},
                      text_case{"string", [] { return ole_variant(std::string("abc")); }, "abc"},
                      text_case{"null_string",
                                [] { return ole_variant(static_cast<const OLECHAR*>(nullptr)); }, ""},
                      text_case{"date_time",
                                [] {
                                    return ole_variant(SYSTEMTIME{2005, 12, 0, 31, 23, 59, 59, 997});
                                },
                                "2005-12-31 23:59:59"},
                      text_case{"date_at_midnight",
                                [] {
                                    return ole_variant(SYSTEMTIME{2005, 1, 0, 1, 0, 0, 0, 0});
                                },
                                "2005-01-01"},
                      text_case{"year_one_kept",
                                [] {
                                    return ole_variant(SYSTEMTIME{1, 1, 0, 1, 0, 0, 0, 0});
                                },
                                "0001-01-01"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(variant_text_form_locale, ignores_a_comma_locale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    ole_variant r8(0.1);
    ole_variant parsed;
    parsed.from_string("0.25", VT_R8);
    ole_variant cy;
    cy.from_string("1234.5", VT_CY);
    std::string r8_text = r8.to_string(), parsed_text = parsed.to_string(), cy_text = cy.to_string();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(r8_text, "1.000000000000000e-001");
    EXPECT_EQ(parsed_text, "2.500000000000000e-001");
    EXPECT_EQ(cy_text, "1234.5");
}

TEST(variant_text_form_bytes, prints_every_byte_of_a_large_array) {
    std::vector<unsigned char> bytes(12'000'000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    ole_variant value(bytes);
    std::string text = value.to_string();
    ASSERT_EQ(text.size(), 2u + 24'000'000u);
    EXPECT_EQ(text.substr(0, 8), "0x00070E");
    // The last byte, 11,999,999 * 7 mod 256.
    char last[3];
    std::snprintf(last, sizeof last, "%02X", unsigned((11'999'999ull * 7) & 0xFF));
    EXPECT_EQ(text.substr(text.size() - 2), last);
    EXPECT_EQ(value.to_wstring().size(), text.size());
}

TEST(variant_text_form_strings, wide_text_ends_at_the_first_nul_but_the_value_keeps_it) {
    std::u16string text(u"ab\0cd", 5);
    ole_variant value(text);
    EXPECT_EQ(value.vt(), VT_BSTR);
    EXPECT_EQ(value.get_bstr().size(), 5u);
    EXPECT_EQ(value.to_wstring(), u"ab");
    EXPECT_EQ(value.to_string(), "ab");
    ole_variant copy(value);
    EXPECT_EQ(copy.get_bstr(), std::u16string_view(text));
}

TEST(variant_text_form_strings, non_ascii_text_survives_both_ways) {
    ole_variant value(std::string("Gr\xC3\xBC\xC3\x9F"
                                  "e \xF0\x9F\x98\x80"));
    EXPECT_EQ(value.to_wstring(), u"Grüße 😀");
    EXPECT_EQ(value.to_string(), "Gr\xC3\xBC\xC3\x9F"
                                 "e \xF0\x9F\x98\x80");
    ole_variant literal("abc");
    EXPECT_EQ(literal.vt(), VT_BSTR);
}

TEST(variant_text_form_numbers, append_string_reuses_the_buffer) {
    std::string out = "x;";
    ole_variant(42).append_string(out);
    out += ';';
    ole_variant(0.5).append_string(out);
    EXPECT_EQ(out, "x;42;5.000000000000000e-001");
}

// --- Typed values from text ---

struct from_case {
    const char* name;
    const char* text;
    VARTYPE type;
    VARTYPE expected_vt;
    const char* expected_text;
};

class variant_from_string : public ::testing::TestWithParam<from_case> {};

TEST_P(variant_from_string, reads_the_text_as_the_type) {
    const from_case& c = GetParam();
    ole_variant value;
    value.from_string(c.text, c.type);
    EXPECT_EQ(value.vt(), c.expected_vt);
    EXPECT_EQ(value.to_string(), c.expected_text);
    std::string narrow = c.text;
    ole_variant wide;
    wide.from_wstring(std::u16string(narrow.begin(), narrow.end()), c.type);
    EXPECT_EQ(wide.vt(), c.expected_vt);
    EXPECT_EQ(wide.to_string(), c.expected_text);
}

constexpr VARTYPE bytes_type = VT_ARRAY | VT_UI1;

INSTANTIATE_TEST_SUITE_P(
    empty_and_integers, variant_from_string,
    ::testing::Values(
        from_case{"empty_i4", "", VT_I4, VT_EMPTY, ""}, from_case{"empty_bstr", "", VT_BSTR, VT_BSTR, ""},
        from_case{"empty_date", "", VT_DATE, VT_EMPTY, ""},
        from_case{"i4_as_atoi", "  -42abc", VT_I4, VT_I4, "-42"},
        from_case{"i4_no_digits", "abc", VT_I4, VT_I4, "0"},
        from_case{"i4_clamped", "99999999999", VT_I4, VT_I4, "2147483647"},
        from_case{"i2_narrowed", "70000", VT_I2, VT_I2, "4464"},
        from_case{"ui1_narrowed", "-1", VT_UI1, VT_UI1, "255"}, from_case{"i1", "-128", VT_I1, VT_I1, "-128"},
        from_case{"ui2", "+65535", VT_UI2, VT_UI2, "65535"},
        from_case{"ui4_max", "4294967295", VT_UI4, VT_UI4, "4294967295"},
        from_case{"ui4_negative_wraps", "-1", VT_UI4, VT_UI4, "4294967295"},
        from_case{"ui4_nothing_read", "x", VT_UI4, VT_UI4, "0"},
        from_case{"i8_min", "-9223372036854775808", VT_I8, VT_I8, "-9223372036854775808"},
        from_case{"i8_max", "9223372036854775807", VT_I8, VT_I8, "9223372036854775807"},
        from_case{"i8_saturates", "-99999999999999999999", VT_I8, VT_I8, "-9223372036854775808"},
        from_case{"ui8_max", "18446744073709551615", VT_UI8, VT_UI8, "18446744073709551615"},
        from_case{"ui8_nothing_read", "-", VT_UI8, VT_UI8, "0"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    reals_and_booleans, variant_from_string,
    ::testing::Values(
        from_case{"r8_comma", "0,1", VT_R8, VT_R8, "1.000000000000000e-001"},
        from_case{"r8_exponent", "1.5E+300", VT_R8, VT_R8, "1.500000000000000e+300"},
        from_case{"r8_as_atof", " 2.5xyz", VT_R8, VT_R8, "2.500000000000000e+000"},
        from_case{"r8_nothing", "abc", VT_R8, VT_R8, "0.000000000000000e+000"},
        // Plain numbers read in place; the rest as strtod reads them.
        from_case{"r8_plain", "0.10000000000000001", VT_R8, VT_R8, "1.000000000000000e-001"},
        from_case{"r8_signed", "+2.5", VT_R8, VT_R8, "2.500000000000000e+000"},
        from_case{"r8_beyond", "1e999", VT_R8, VT_R8, "inf"},
        from_case{"r8_subnormal", "4.9406564584124654e-324", VT_R8, VT_R8, "4.940656458412465e-324"},
        from_case{"r4", "2,5", VT_R4, VT_R4, "2.500000e+000"},
        from_case{"bool_True_is_false", "True", VT_BOOL, VT_BOOL, "0"},
        from_case{"bool_true", "true", VT_BOOL, VT_BOOL, "1"},
        from_case{"bool_yes", "yes", VT_BOOL, VT_BOOL, "1"},
        from_case{"bool_YES_is_false", "YES", VT_BOOL, VT_BOOL, "0"},
        from_case{"bool_one", "1", VT_BOOL, VT_BOOL, "1"}, from_case{"bool_two", "2", VT_BOOL, VT_BOOL, "1"},
        from_case{"bool_zero", "0", VT_BOOL, VT_BOOL, "0"}, from_case{"bool_no", "no", VT_BOOL, VT_BOOL, "0"},
        from_case{"bool_false", "false", VT_BOOL, VT_BOOL, "0"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    currency_and_decimal, variant_from_string,
    ::testing::Values(
        from_case{"cy_comma", "1234,5678", VT_CY, VT_CY, "1234.5678"},
        from_case{"cy_point", "-0.5", VT_CY, VT_CY, "-0.5"},
        from_case{"cy_min", "-922337203685477.5808", VT_CY, VT_CY, "-922337203685477.5808"},
        from_case{"cy_max", "922337203685477.5807", VT_CY, VT_CY, "922337203685477.5807"},
        from_case{"cy_overflow", "922337203685477.5808", VT_CY, VT_EMPTY, ""},
        from_case{"cy_rounds_half_even_down", "0.00005", VT_CY, VT_CY, "0"},
        from_case{"cy_rounds_half_even_up", "0.00015", VT_CY, VT_CY, "0.0002"},
        from_case{"cy_rounds_above_half", "1.234551", VT_CY, VT_CY, "1.2346"},
        from_case{"cy_not_a_number", "12abc", VT_CY, VT_EMPTY, ""},
        from_case{"cy_thousands_become_points", "1,234.5", VT_CY, VT_EMPTY, ""},
        from_case{"cy_negative_zero", "-0", VT_CY, VT_CY, "0"},
        from_case{"dec_comma", "1,5", VT_DECIMAL, VT_DECIMAL, "1.5"},
        from_case{"dec_blanks_and_sign", "  -3.25  ", VT_DECIMAL, VT_DECIMAL, "-3.25"},
        from_case{"dec_max", "79228162514264337593543950335", VT_DECIMAL, VT_DECIMAL,
                  "79228162514264337593543950335"},
        from_case{"dec_min", "-79228162514264337593543950335", VT_DECIMAL, VT_DECIMAL,
                  "-79228162514264337593543950335"},
        from_case{"dec_overflow", "79228162514264337593543950336", VT_DECIMAL, VT_EMPTY, ""},
        from_case{"dec_negative_zero", "-0.00", VT_DECIMAL, VT_DECIMAL, "0"},
        from_case{"dec_more_than_28_decimals", "0.00000000000000000000000000015", VT_DECIMAL, VT_EMPTY, ""},
        from_case{"dec_38_digits", "12345678901234567890.123456789012345678", VT_DECIMAL, VT_EMPTY, ""},
        from_case{"dec_29_digits", "7922816251426433759354395033.5", VT_DECIMAL, VT_DECIMAL,
                  "7922816251426433759354395033.5"},
        from_case{"dec_zeros_beyond_28_decimals", "1.500000000000000000000000000000000", VT_DECIMAL,
                  VT_DECIMAL, "1.5"},
        from_case{"dec_not_a_number", "1.2.3", VT_DECIMAL, VT_EMPTY, ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    bytes_dates_and_others, variant_from_string,
    ::testing::Values(from_case{"blob_prefixed", "0x4142", VT_BLOB, bytes_type, "0x4142"},
                      from_case{"blob_odd", "414", VT_BLOB, VT_EMPTY, ""},
                      from_case{"blob_empty", "", VT_BLOB, VT_EMPTY, ""},
                      from_case{"array_plain_lower_case", "00abff", bytes_type, bytes_type, "0x00ABFF"},
                      from_case{"array_upper_prefix", "0X41", bytes_type, bytes_type, "0x41"},
                      from_case{"array_prefix_only", "0x", bytes_type, bytes_type, ""},
                      from_case{"array_bad_pair_is_zero", "zz41", bytes_type, bytes_type, "0x0041"},
                      from_case{"date", "2005-12-31 23:59:59", VT_DATE, VT_DATE, "2005-12-31 23:59:59"},
                      from_case{"date_swapped", "31.12.2005", VT_DATE, VT_DATE, "2005-12-31"},
                      from_case{"date_invalid", "2005-13-01", VT_DATE, VT_EMPTY, ""},
                      from_case{"bstr", "a,b", VT_BSTR, VT_BSTR, "a,b"},
                      from_case{"int_through_platform", "12", VT_INT, VT_INT, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(variant_from_string_values, decimals_of_28_digits_round_trip_at_every_scale) {
    const std::string digits = "1234567890123456789012345671";
    ASSERT_EQ(digits.size(), 28u);
    for (int scale = 0; scale <= 28; ++scale) {
        std::string text = digits;
        if (scale == 28)
            text = "0." + digits;
        else if (scale > 0)
            text.insert(digits.size() - size_t(scale), ".");
        for (const std::string& signed_text : {text, "-" + text}) {
            ole_variant value;
            value.from_string(signed_text, VT_DECIMAL);
            EXPECT_EQ(value.to_string(), signed_text) << "scale " << scale;
            EXPECT_EQ(value.var.decVal.scale, scale);
        }
    }
}

// A small generator with a fixed seed, so that a failure repeats.
std::uint64_t next_random(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// A number that came typed must become the variant its driver text would have: the same type,
// the same bits and the same printed text, at the edges and for many random values.
TEST(variant_from_number, is_the_variant_of_the_drivers_text) {
    auto same = [](const ole_variant& typed, const ole_variant& text, const std::string& what) {
        EXPECT_EQ(typed.var.vt, text.var.vt) << what;
        EXPECT_EQ(std::memcmp(&typed.var.llVal, &text.var.llVal, 8), 0) << what;
        EXPECT_EQ(typed.hyper, text.hyper) << what;
        EXPECT_EQ(typed.to_string(), text.to_string()) << what;
    };
    std::vector<std::int64_t> wholes = {0, 1, -1, 2, 255, 256, -129, 32767, 32768, -32769, 2147483647, 2147483648LL,
                                        -2147483648LL, -2147483649LL, std::numeric_limits<std::int64_t>::max(),
                                        std::numeric_limits<std::int64_t>::min(), 9007199254740993LL};
    std::vector<double> reals = {0.0, -0.0, 0.1, 1.0 / 3, -2.5e-300, 1e308, std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                                 3.4028234663852886e38, 123456789012345678.0};
    std::vector<float> floats = {0.0f, -0.0f, 0.1f, 1.0f / 3, std::numeric_limits<float>::max(),
                                 -std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                                 std::numeric_limits<float>::denorm_min(), 16777217.0f};
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    for (int i = 0; i < 3000; ++i) {
        std::uint64_t bits = next_random(state);
        wholes.push_back(static_cast<std::int64_t>(bits) >> (bits % 60));
        double real;
        std::memcpy(&real, &bits, 8);
        if (std::isfinite(real)) reals.push_back(real);
        std::uint32_t low = static_cast<std::uint32_t>(bits);
        float single;
        std::memcpy(&single, &low, 4);
        if (std::isfinite(single)) floats.push_back(single);
    }
    for (std::int64_t whole : wholes)
        for (VARTYPE type : {VT_I2, VT_I4, VT_UI1, VT_I8, VT_BOOL, VT_R8, VT_DECIMAL}) {
            std::string text = std::to_string(whole);
            ole_variant typed, parsed;
            typed.from_integer(whole, type);
            parsed.from_string(text, type);
            same(typed, parsed, text + " as " + std::to_string(type));
        }
    // The driver's texts: 17 digits of a double, 9 of a float.
    char digits[40];
    for (double real : reals) {
        auto end = std::to_chars(digits, digits + sizeof digits, real, std::chars_format::general, 17).ptr;
        ole_variant typed, parsed;
        typed.from_real(real, VT_R8);
        parsed.from_string(std::string_view(digits, end - digits), VT_R8);
        same(typed, parsed, std::string(digits, end));
    }
    for (float single : floats) {
        auto end = std::to_chars(digits, digits + sizeof digits, single, std::chars_format::general, 9).ptr;
        ole_variant typed, parsed;
        typed.from_real(single, VT_R4);
        parsed.from_string(std::string_view(digits, end - digits), VT_R4);
        same(typed, parsed, std::string(digits, end));
    }
}

// A time of day that came as its parts must become the variant its driver text would have, for
// every count of fraction digits the server writes.
TEST(variant_from_number, a_time_is_the_variant_of_its_text) {
    std::uint64_t state = 0x853C49E6748FEA9Bull;
    for (int i = 0; i < 6000; ++i) {
        const int hour = i < 24 ? i : int(next_random(state) % 24);
        const int minute = i < 60 ? i : int(next_random(state) % 60);
        const int second = i < 60 ? 59 - i : int(next_random(state) % 60);
        const int digits = i % 8;
        std::uint32_t fraction = std::uint32_t(next_random(state) % 1000000000u);
        if (i % 5 == 0) fraction = 0;
        std::uint32_t unit = 1;
        for (int d = digits; d < 9; ++d) unit *= 10;
        fraction -= fraction % unit;
        char text[24];
        int n = std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
        if (digits > 0) std::snprintf(text + n, sizeof text - n, ".%0*u", digits, fraction / unit);
        ole_variant typed, parsed;
        typed.from_time(hour, minute, second, int(fraction / 1000000));
        parsed.from_string(text, VT_DATE);
        ASSERT_EQ(typed.var.vt, parsed.var.vt) << text;
        ASSERT_EQ(std::memcmp(&typed.var.date, &parsed.var.date, sizeof(DATE)), 0) << text;
        ASSERT_EQ(std::memcmp(&typed.systime, &parsed.systime, sizeof(SYSTEMTIME)), 0) << text;
        ASSERT_EQ(typed.to_string(), parsed.to_string()) << text;
    }
}

TEST(variant_from_string_values, currency_and_decimal_texts_round_trip) {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 20000; ++i) {
        std::int64_t amount = static_cast<std::int64_t>(next_random(state)) >> (next_random(state) % 64);
        ole_variant cy{CY{amount}};
        ole_variant cy_back;
        cy_back.from_string(cy.to_string(), VT_CY);
        ASSERT_EQ(cy_back.vt(), VT_CY) << cy.to_string();
        ASSERT_EQ(cy_back.var.cyVal.int64, amount) << cy.to_string();

        DECIMAL d{};
        d.Lo64 = next_random(state) >> (next_random(state) % 64);
        d.Hi32 = static_cast<std::uint32_t>(next_random(state) >> (32 + next_random(state) % 32));
        d.scale = static_cast<std::uint8_t>(next_random(state) % 29);
        d.sign = next_random(state) % 2 ? DECIMAL_NEG : 0;
        ole_variant dec(d);
        std::string text = dec.to_string();
        ole_variant dec_back;
        dec_back.from_string(text, VT_DECIMAL);
        ASSERT_EQ(dec_back.to_string(), text);
        // Equal values: the same digits once trailing fractional zeros are gone.
        double original = dec.to_double(), back = dec_back.to_double();
        ASSERT_EQ(original, back) << text;
    }
}

TEST(variant_from_string_values, platform_conversion_failure_throws_type_exception) {
    ole_variant value;
    EXPECT_THROW(value.from_string("abc", VT_INT), ole_type_exception);
    EXPECT_THROW(value.from_string("5", VT_ERROR), ole_type_exception);
    try {
        value.from_string("x", VT_UINT);
        FAIL();
    } catch (const ole_type_exception& e) {
        EXPECT_STREQ(e.what(), "The operating type is not supported yet");
        EXPECT_EQ(e.level(), 1);
        EXPECT_EQ(e.code(), 0);
    }
}

TEST(variant_from_string_values, from_wstring_keeps_wide_text_for_strings) {
    ole_variant value;
    value.from_wstring(std::u16string(u"x\0y\U0001F600", 5), VT_BSTR);
    EXPECT_EQ(value.get_bstr().size(), 5u);
    value.from_wstring(u"１２", VT_I4); // full-width digits are no digits
    EXPECT_EQ(value.to_string(), "0");
}

// --- Numeric readings ---

TEST(variant_readings, to_double_of_each_type) {
    EXPECT_EQ(ole_variant(true).to_double(), -1.0);
    EXPECT_EQ(ole_variant(false).to_double(), 0.0);
    EXPECT_EQ(ole_variant().to_double(), 0.0);
    EXPECT_EQ(ole_variant(4294967295u).to_double(), 4294967295.0);
    EXPECT_EQ(ole_variant(std::numeric_limits<std::uint64_t>::max()).to_double(), 18446744073709551615.0);
    EXPECT_EQ(ole_variant(CY{-12345}).to_double(), -1.2345);
    EXPECT_EQ(ole_variant(decimal_of(u"0.1")).to_double(), 0.1);
    EXPECT_EQ(ole_variant(decimal_of(u"79228162514264337593543950335")).to_double(),
              79228162514264337593543950335.0);
    DECIMAL broken{};
    broken.scale = 29;
    EXPECT_EQ(ole_variant(broken).to_double(), 0.0);
    EXPECT_THROW(ole_variant(std::string("1")).to_double(), tk_mail_assertion);
}

TEST(variant_readings, to_long_truncates_reals_and_rounds_decimals_half_even) {
    EXPECT_EQ(ole_variant(2.9).to_long(), 2);
    EXPECT_EQ(ole_variant(-2.9f).to_long(), -2);
    EXPECT_EQ(ole_variant(4294967301.0).to_long(), 5); // low 32 bits of the 64-bit truncation
    EXPECT_EQ(ole_variant(1e300).to_long(), 0);
    EXPECT_EQ(ole_variant(std::int64_t(0x100000005)).to_long(), 5);
    EXPECT_EQ(ole_variant(4294967295u).to_long(), -1);
    EXPECT_EQ(ole_variant(true).to_long(), -1);
    EXPECT_EQ(ole_variant(decimal_of(u"2.5")).to_long(), 2);
    EXPECT_EQ(ole_variant(decimal_of(u"3.5")).to_long(), 4);
    EXPECT_EQ(ole_variant(decimal_of(u"-2.5")).to_long(), -2);
    EXPECT_EQ(ole_variant(decimal_of(u"2147483648")).to_long(), 0); // overflow reads 0
    EXPECT_THROW(ole_variant(CY{10000}).to_long(), tk_mail_assertion);
}

TEST(variant_readings, to_bool_of_each_type) {
    EXPECT_TRUE(ole_variant(true).to_bool());
    ole_variant odd_bool(true);
    odd_bool.var.boolVal = 1;
    EXPECT_FALSE(odd_bool.to_bool());
    EXPECT_TRUE(ole_variant(0.5).to_bool());
    EXPECT_FALSE(ole_variant(0).to_bool());
    EXPECT_TRUE(ole_variant(std::uint64_t(1) << 40).to_bool());
    EXPECT_FALSE(ole_variant(decimal_of(u"0.4")).to_bool());
    EXPECT_TRUE(ole_variant(decimal_of(u"0.6")).to_bool());
    EXPECT_THROW(ole_variant(CY{1}).to_bool(), tk_mail_assertion);
}

TEST(variant_readings, assertions_name_the_value_source) {
    try {
        ole_variant(std::string("x")).to_long();
        FAIL();
    } catch (const tk_mail_assertion& e) {
        // The location is written in hexadecimal: "ole_var" then '\'.
        EXPECT_NE(std::string(e.what()).find("6f6c655f7661725c"), std::string::npos) << e.what();
        EXPECT_EQ(e.level(), 2);
    }
}

// --- Lifetime: copies, moves, attachments ---

TEST(variant_lifetime, copies_are_deep_and_keep_side_slots) {
    ole_variant bytes(std::vector<unsigned char>{1, 2, 3});
    ole_variant copy(bytes);
    static_cast<unsigned char*>(bytes.var.parray->pvData)[0] = 9;
    EXPECT_EQ(copy.to_string(), "0x010203");
    EXPECT_EQ(bytes.to_string(), "0x090203");

    ole_variant big(std::int64_t(-5));
    ole_variant big_copy;
    big_copy = big;
    EXPECT_EQ(big_copy.to_string(), "-5");
    ole_variant date(SYSTEMTIME{2005, 12, 0, 31, 10, 0, 0, 0});
    ole_variant date_copy(std::string("overwritten"));
    date_copy = date;
    EXPECT_EQ(date_copy.to_string(), "2005-12-31 10:00:00");

    ole_variant& self = date_copy;
    date_copy = self;
    EXPECT_EQ(date_copy.to_string(), "2005-12-31 10:00:00");
}

TEST(variant_lifetime, old_style_safearray_copies_as_byte_array) {
    ole_variant value(std::vector<unsigned char>{0xAB});
    value.var.vt = VT_SAFEARRAY;
    ole_variant copy(value);
    EXPECT_EQ(copy.vt(), VT_ARRAY | VT_UI1);
    EXPECT_EQ(copy.to_string(), "0xAB");
}

TEST(variant_lifetime, moves_leave_the_source_empty) {
    ole_variant source(std::u16string(u"text"));
    ole_variant target(std::move(source));
    EXPECT_EQ(source.vt(), VT_EMPTY);
    EXPECT_EQ(target.to_wstring(), u"text");
    std::vector<ole_variant> row;
    for (int i = 0; i < 100; ++i) row.emplace_back(std::vector<unsigned char>(10, (unsigned char)i));
    EXPECT_EQ(row[99].to_string(), "0x63636363636363636363");
    target = std::move(row[0]);
    EXPECT_EQ(target.to_string(), "0x00000000000000000000");
}

TEST(variant_lifetime, attachments_replace_any_content) {
    ole_variant value(std::vector<unsigned char>{});
    // An empty array is re-dimensioned like any other.
    value.attach_binary(std::vector<unsigned char>{1, 2});
    EXPECT_EQ(value.to_string(), "0x0102");
    value.attach_binary(0, nullptr);
    EXPECT_EQ(value.to_string(), "");
    EXPECT_EQ(value.vt(), VT_ARRAY | VT_UI1);
    EXPECT_THROW(value.attach_binary(3, nullptr), tk_mail_assertion);
    value.attach_string("abc");
    EXPECT_EQ(value.to_string(), "abc");
    const unsigned char raw[] = {0xDE, 0xAD};
    value.attach_binary(2, raw);
    EXPECT_EQ(value.to_string(), "0xDEAD");
    value.attach_wstring(u"w");
    EXPECT_EQ(value.to_wstring(), u"w");
    value.from_string("7", VT_I8);
    value.attach_binary(std::vector<unsigned char>{5});
    EXPECT_EQ(value.to_string(), "0x05");
}

TEST(variant_lifetime, a_string_of_the_same_length_refills_the_old_one) {
    const std::u16string_view with_nul(u"x\0z", 3);
    ole_variant value(std::u16string(u"abc"));
    value.attach_wstring(with_nul);
    EXPECT_EQ(value.get_bstr(), with_nul);
    value.attach_wstring(value.get_bstr());
    EXPECT_EQ(value.get_bstr(), with_nul);
    ole_variant copy(value);
    copy.attach_wstring(u"abc");
    EXPECT_EQ(value.get_bstr(), with_nul);
    EXPECT_EQ(copy.to_wstring(), u"abc");
    value.attach_wstring(u"longer");
    EXPECT_EQ(value.to_wstring(), u"longer");
    value.attach_wstring(u"");
    value.attach_wstring(std::u16string_view());
    EXPECT_EQ(value.vt(), VT_BSTR);
    EXPECT_TRUE(value.get_bstr().empty());
}

// A long value is taken over, not copied; what the variant held before is freed (the leak check
// would say otherwise), and a copy of it is a copy.
TEST(variant_lifetime, an_adopted_string_or_array_is_the_variants_own) {
    ole_variant value(std::u16string(u"before"));
    BSTR text = SysAllocStringLen(u"x\0z", 3);
    value.adopt_bstr(text);
    EXPECT_EQ(value.vt(), VT_BSTR);
    EXPECT_EQ(value.get_bstr().data(), text);
    EXPECT_EQ(value.get_bstr(), std::u16string_view(u"x\0z", 3));
    ole_variant copy(value);
    EXPECT_NE(copy.get_bstr().data(), text);
    EXPECT_EQ(copy.get_bstr(), value.get_bstr());
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 2);
    static_cast<unsigned char*>(bytes->pvData)[1] = 0xAB;
    value.adopt_array(bytes);
    EXPECT_EQ(value.vt(), VT_ARRAY | VT_UI1);
    EXPECT_EQ(value.get_binary().data(), bytes->pvData);
    EXPECT_EQ(value.to_string(), "0x00AB");
    copy = value;
    EXPECT_EQ(copy.to_string(), "0x00AB");
    // Nothing to take: an empty string or array, never a null one.
    value.adopt_bstr(nullptr);
    EXPECT_EQ(value.vt(), VT_BSTR);
    EXPECT_TRUE(value.get_bstr().empty());
    value.adopt_array(nullptr);
    EXPECT_EQ(value.vt(), VT_ARRAY | VT_UI1);
    EXPECT_TRUE(value.get_binary().empty());
}

TEST(variant_lifetime, allocate_keeps_an_array_of_the_same_size) {
    ole_variant value(std::vector<unsigned char>{7, 8});
    value.allocate_safe_array(2);
    EXPECT_EQ(value.to_string(), "0x0708");
    value.allocate_safe_array(3);
    EXPECT_EQ(value.get_binary().size(), 3u);
    EXPECT_EQ(ole_variant::get_safe_array_size(value.var.parray), 3u);
}

} // namespace
