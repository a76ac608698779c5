#include "OLE/ole_date.hpp"

#include "OLE/ole_variant.hpp"
#include "TK/tk_exception.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct parse_case {
    const char* name;
    const char* text;
    bool valid;
    const char* printed;
};

class date_parser : public ::testing::TestWithParam<parse_case> {};

TEST_P(date_parser, reads_and_prints) {
    const parse_case& c = GetParam();
    ole_date date(c.text);
    EXPECT_EQ(date.is_valid(), c.valid);
    if (c.valid) {
        EXPECT_EQ(date.to_string(), c.printed);
    }
    std::string narrow = c.text;
    ole_date wide(std::u16string(narrow.begin(), narrow.end()));
    EXPECT_EQ(wide.is_valid(), c.valid);
    if (c.valid) {
        std::string printed = c.printed;
        EXPECT_EQ(wide.to_wstring(), std::u16string(printed.begin(), printed.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    fixed_layouts, date_parser,
    ::testing::Values(
        parse_case{"timestamp_14", "20051231235959", true, "2005-12-31 23:59:59"},
        parse_case{"timestamp_8", "20051231", true, "2005-12-31"},
        parse_case{"timestamp_14_invalid_month", "20051331235959", false, ""},
        parse_case{"pure_time_with_fraction", "12:30:15.250", true, "0000-00-00 12:30:15"},
        parse_case{"pure_time_leap_second", "23:59:60", true, "0000-00-00 23:59:60"},
        parse_case{"provider_date_time", "2005-12-31 23:59:59", true, "2005-12-31 23:59:59"},
        parse_case{"midnight_prints_date", "2005-01-01 00:00:00", true, "2005-01-01"},
        parse_case{"one_second_prints_time", "2005-01-01 00:00:01", true, "2005-01-01 00:00:01"},
        parse_case{"fraction_never_rounds_into_next_day", "9999-12-31 23:59:59.997", true,
                   "9999-12-31 23:59:59"},
        parse_case{"seven_digit_fraction", "2005-12-31 23:59:59.9999999", true, "2005-12-31 23:59:59"},
        parse_case{"offset_ignored", "2005-12-31 23:59:59.1234567 +01:00", true, "2005-12-31 23:59:59"},
        parse_case{"before_the_epoch", "1753-01-01 06:00:00", true, "1753-01-01 06:00:00"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    english_and_fallbacks, date_parser,
    ::testing::Values(parse_case{"day_month_year_swapped", "31.12.2005", true, "2005-12-31"},
                      parse_case{"month_day_year", "12/31/2005", true, "2005-12-31"},
                      parse_case{"month_name", "Dec 31, 2005", true, "2005-12-31"},
                      parse_case{"full_month_name_and_time", "31 December 2005 10:30", true,
                                 "2005-12-31 10:30:00"},
                      parse_case{"month_13_everywhere", "13/13/2005", false, ""},
                      parse_case{"day_month_year_slashes", "13/01/2005", true, "2005-01-13"},
                      parse_case{"february_30", "2005-02-30", true, "2005-02-30"},
                      parse_case{"not_a_date", "hello world", false, ""},
                      parse_case{"four_characters", "2005", false, ""},
                      parse_case{"four_letters", "abcd", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    am_and_pm, date_parser,
    ::testing::Values(parse_case{"pm_time", "03:15:00 PM", true, "0000-00-00 15:15:00"},
                      parse_case{"pm_lower_case", "03:15:00 pm", true, "0000-00-00 15:15:00"},
                      parse_case{"noon_pm_keeps_12", "12:10:00 PM", true, "0000-00-00 12:10:00"},
                      parse_case{"midnight_am_keeps_12", "12:10:00 AM", true, "0000-00-00 12:10:00"},
                      parse_case{"am_only_disappears", "03:15:00 AM", true, "0000-00-00 03:15:00"},
                      parse_case{"short_pm_time_too_short", "3:15 PM", false, ""},
                      parse_case{"date_with_pm", "12/31/2005 11:59:59 PM", true, "2005-12-31 23:59:59"},
                      parse_case{"date_with_12_am", "2005-12-31 12:00:00 AM", true, "2005-12-31 12:00:00"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    years, date_parser,
    ::testing::Values(parse_case{"year_one_four_digits", "0001-01-01", true, "0001-01-01"},
                      parse_case{"year_99_four_digits", "0099-12-31 23:59:59", true, "0099-12-31 23:59:59"},
                      parse_case{"two_digit_year_1975", "75-12-31", true, "1975-12-31"},
                      parse_case{"two_digit_year_2005", "05-12-31 10:00:00.5", true, "2005-12-31 10:00:00"},
                      parse_case{"one_digit_year", "5-12-31 10:00:00.5", true, "2005-12-31 10:00:00"},
                      parse_case{"year_49", "49-12-31", true, "2049-12-31"},
                      parse_case{"year_50", "50-12-31", true, "1950-12-31"},
                      parse_case{"swapped_two_digit_year", "31.12.75", true, "1975-12-31"},
                      parse_case{"english_two_digit_year", "12/31/75", true, "1975-12-31"},
                      parse_case{"year_zero_invalid", "00-05-06 10:00:00.5", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(date_value, refine_type_classifies_system_times) {
    EXPECT_EQ(ole_date(SYSTEMTIME{0, 0, 0, 0, 10, 5, 0, 0}).kind, ole_date::kind_time);
    EXPECT_EQ(ole_date(SYSTEMTIME{2005, 1, 0, 2, 0, 0, 0, 0}).kind, ole_date::kind_date);
    EXPECT_EQ(ole_date(SYSTEMTIME{2005, 1, 0, 2, 0, 0, 1, 0}).kind, ole_date::kind_date_time);
    EXPECT_EQ(ole_date(SYSTEMTIME{2005, 0, 0, 2, 0, 0, 0, 0}).kind, ole_date::kind_date_time);
    EXPECT_EQ(ole_date(SYSTEMTIME{0, 0, 0, 0, 10, 5, 0, 0}).to_string(), "0000-00-00 10:05:00");
}

TEST(date_value, is_valid_rules) {
    auto valid = [](SYSTEMTIME t) { return ole_date(t).is_valid(); };
    EXPECT_TRUE(valid({0, 0, 0, 0, 60, 60, 60, 0}));
    EXPECT_FALSE(valid({0, 0, 0, 0, 61, 0, 0, 0}));
    EXPECT_FALSE(valid({2005, 13, 0, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(valid({2005, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(valid({2005, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(valid({0, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(valid({32, 1, 0, 32, 0, 0, 0, 0}));
    EXPECT_TRUE(valid({31, 1, 0, 2005, 0, 0, 0, 0})); // day and year read the wrong way round
    EXPECT_FALSE(ole_date("xxxxxx").is_valid());
}

TEST(date_value, milliseconds_are_kept_but_never_printed) {
    ole_date date("12:30:15.250");
    EXPECT_EQ(date.systemtime.wMilliseconds, 250);
    EXPECT_EQ(date.systemtime.wSecond, 15);
    ole_date full("2005-12-31 23:59:59.997");
    EXPECT_EQ(full.systemtime.wMilliseconds, 997);
}

TEST(date_value, b_full_off_prints_midnight) {
    ole_date date(SYSTEMTIME{2005, 1, 0, 1, 0, 0, 0, 0});
    date.kind = ole_date::kind_date_time;
    date.b_full = false;
    EXPECT_EQ(date.to_string(), "2005-01-01 00:00:00");
}

TEST(date_value, from_variant) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(ole_date(v).kind, ole_date::kind_none);
    EXPECT_EQ(ole_date(v).to_string(), "");
    v.vt = VT_DATE;
    v.date = 38717.0 + (23 * 3600 + 59 * 60 + 59) / 86400.0;
    EXPECT_EQ(ole_date(v).to_string(), "2005-12-31 23:59:59");
    v.date = 38718.0;
    EXPECT_EQ(ole_date(v).kind, ole_date::kind_date);
    v.date = 1e12;
    EXPECT_EQ(ole_date(v).kind, ole_date::kind_none);
    v.vt = VT_I4;
    EXPECT_THROW(ole_date{v}, tk_mail_assertion);
}

TEST(date_value, wide_text_beyond_ascii_is_narrowed_first) {
    EXPECT_EQ(ole_date(std::u16string(u"31.12.2005 \u00e9t\u00e9")).to_string(), "2005-12-31");
    EXPECT_FALSE(ole_date(std::u16string(u"\u65e5\u4ed8\u65e5\u4ed8\u65e5")).is_valid());
}

TEST(date_value, to_variant_round_trips) {
    for (const char* text : {"2005-12-31 23:59:59", "1753-01-01", "0001-01-01", "0000-00-00 15:15:00"}) {
        ole_date date(text);
        ASSERT_TRUE(date.is_valid()) << text;
        ole_variant value = date.to_variant();
        EXPECT_EQ(value.vt(), VT_DATE);
        EXPECT_EQ(value.to_string(), text);
    }
    // The DATE beside the SYSTEMTIME follows the platform's count, negative before 1899-12-30.
    EXPECT_EQ(ole_date("1899-12-29 06:00:00").to_variant().var.date, -1.25);
    EXPECT_EQ(ole_date("2005-12-31").to_variant().var.date, 38717.0);
}

} // namespace

namespace {
void expect_same_date(const ole_date& fast, const ole_date& layered, const std::string& text) {
    SCOPED_TRACE(text);
    const SYSTEMTIME &a = fast.systemtime, &b = layered.systemtime;
    EXPECT_EQ(fast.kind, layered.kind);
    EXPECT_EQ(fast.is_valid(), layered.is_valid());
    EXPECT_EQ(fast.to_string(), layered.to_string());
    EXPECT_EQ(std::vector<int>(
                  {a.wYear, a.wMonth, a.wDayOfWeek, a.wDay, a.wHour, a.wMinute, a.wSecond, a.wMilliseconds}),
              std::vector<int>(
                  {b.wYear, b.wMonth, b.wDayOfWeek, b.wDay, b.wHour, b.wMinute, b.wSecond, b.wMilliseconds}));
    EXPECT_EQ(fast.to_variant().var.date, layered.to_variant().var.date);
}
} // namespace

// Provider texts take a direct reader; a trailing blank sends the same text through the layered
// parser, whose result the direct reader must give exactly, at the edges of every range too.
TEST(date_value, provider_texts_read_as_the_layered_parser_reads_them) {
    const char* const dates[] = {"2024-02-29", "2023-02-29", "1899-12-30", "1899-12-29", "0100-01-01",
                                 "0099-12-31", "9999-12-31", "0001-01-01", "2001-13-01", "2001-00-10",
                                 "2001-04-31", "2001-04-00", "1753-01-01", "0031-05-45", "2024-12-31"};
    const char* const times[] = {"",
                                 " 00:00:00",
                                 " 23:59:59",
                                 " 24:00:00",
                                 " 12:60:00",
                                 " 12:00:60",
                                 " 01:02:03.5",
                                 " 01:02:03.1234567",
                                 " 00:00:00.000",
                                 " 23:59:59.9999999",
                                 " 10:11:12.0000001234",
                                 " 10:11:12.",
                                 " 10:11:12.5x",
                                 " 10:11",
                                 " 7:08:09"};
    for (const char* date : dates)
        for (const char* time : times) {
            std::string text = std::string(date) + time;
            ole_date layered(text + " ");
            expect_same_date(ole_date(text), layered, text);
            expect_same_date(ole_date(std::u16string(text.begin(), text.end())), layered, text);
        }
}

// A date-time that came as its parts is the date its provider text gives: every field of the
// system time, over years, the calendar's edges and every number of fraction digits.
TEST(date_value, parts_are_the_date_of_their_text) {
    struct stamp {
        int year, month, day, hour, minute, second;
        unsigned long nanoseconds;
    };
    std::vector<stamp> stamps = {{100, 1, 1, 0, 0, 0, 0},          {1753, 1, 1, 0, 0, 0, 0},
                                 {1900, 2, 28, 23, 59, 59, 997000000}, {2000, 2, 29, 12, 0, 0, 500000000},
                                 {2005, 12, 31, 23, 59, 59, 999999900}, {9999, 12, 31, 23, 59, 59, 123456700},
                                 {2024, 6, 15, 7, 8, 9, 1000}};
    std::uint64_t state = 0x853C49E6748FEA9Bull;
    for (int i = 0; i < 2000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        std::uint64_t r = state >> 11;
        stamps.push_back({int(100 + r % 9900), int(1 + (r >> 14) % 12), int(1 + (r >> 18) % 28), int((r >> 23) % 24),
                          int((r >> 28) % 60), int((r >> 34) % 60), static_cast<unsigned long>((r >> 40) % 1000000000)});
    }
    char text[40];
    for (const stamp& s : stamps)
        for (int digits = 0; digits <= 9; ++digits) {
            unsigned long shown = s.nanoseconds;
            for (int i = digits; i < 9; ++i) shown /= 10;
            int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", s.year, s.month, s.day, s.hour,
                                  s.minute, s.second);
            if (digits > 0) std::snprintf(text + n, sizeof text - n, ".%0*lu", digits, shown);
            unsigned long millis = shown;
            for (int i = digits; i > 3; --i) millis /= 10;
            for (int i = digits; i < 3; ++i) millis *= 10;
            ole_date parsed{std::u16string(text, text + std::strlen(text))};
            ole_date parts(SYSTEMTIME{});
            ASSERT_TRUE(parts.from_parts(s.year, s.month, s.day, s.hour, s.minute, s.second, digits, int(millis)))
                << text;
            EXPECT_EQ(std::memcmp(&parts.systemtime, &parsed.systemtime, sizeof(SYSTEMTIME)), 0) << text;
            EXPECT_EQ(parts.kind, parsed.kind) << text;
            EXPECT_EQ(parts.to_string(), parsed.to_string()) << text;
        }
    // What the provider form does not read directly is left to the full parser.
    ole_date parts(SYSTEMTIME{});
    EXPECT_FALSE(parts.from_parts(99, 1, 1, 0, 0, 0, 0, 0));
    EXPECT_FALSE(parts.from_parts(2001, 2, 29, 0, 0, 0, 0, 0));
}
