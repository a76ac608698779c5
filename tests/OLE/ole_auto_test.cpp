#include "OLE/ole_auto.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::u16string bstr_text(BSTR b) {
    return std::u16string(b, SysStringLen(b));
}

// --- Strings and arrays ---

TEST(auto_strings, keep_their_length_and_embedded_nul) {
    BSTR b = SysAllocStringLen(u"a\0b", 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[3], u'\0');
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    BSTR zeros = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(bstr_text(zeros), std::u16string(2, u'\0'));
    SysFreeString(zeros);
}

// A string read in pieces of unknown total grows, then shrinks to what came.
TEST(auto_strings, resizing_keeps_the_first_characters_and_the_terminator) {
    BSTR b = ole_bstr_alloc(3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[3], u'\0');
    std::memcpy(b, u"abc", 6);
    b = ole_bstr_resize(b, 1 << 20);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 1u << 20);
    EXPECT_EQ(b[1 << 20], u'\0');
    EXPECT_EQ(std::u16string(b, 3), u"abc");
    b = ole_bstr_resize(b, 2);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bstr_text(b), u"ab");
    EXPECT_EQ(b[2], u'\0');
    // Too long for a BSTR's length: refused, and the string is still there.
    EXPECT_EQ(ole_bstr_resize(b, 0x7FFFFFFF), nullptr);
    EXPECT_EQ(bstr_text(b), u"ab");
    SysFreeString(b);
}

TEST(auto_arrays, redimension_keeps_bytes_and_zero_fills) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 5, 2);
    ASSERT_NE(a, nullptr);
    static_cast<unsigned char*>(a->pvData)[0] = 1;
    static_cast<unsigned char*>(a->pvData)[1] = 2;
    SAFEARRAYBOUND bound{4, 5};
    ASSERT_EQ(SafeArrayRedim(a, &bound), S_OK);
    const unsigned char* bytes = static_cast<unsigned char*>(a->pvData);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 2);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 0);
    std::int32_t lower = 0, upper = 0;
    EXPECT_EQ(SafeArrayGetLBound(a, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
    EXPECT_EQ(lower, 5);
    EXPECT_EQ(upper, 8);
    EXPECT_EQ(SafeArrayGetUBound(a, 2, &upper), DISP_E_BADINDEX);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
    static_cast<unsigned char*>(a->pvData)[0] = 9;
    EXPECT_EQ(static_cast<unsigned char*>(copy->pvData)[0], 1);

    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 1), nullptr);
}

// --- Currency and decimal texts ---

struct cy_case {
    const char* text;
    HRESULT hr;
    std::int64_t value;
};

class auto_cy_from_str : public ::testing::TestWithParam<cy_case> {};

TEST_P(auto_cy_from_str, reads_english_amounts) {
    std::string narrow = GetParam().text;
    std::u16string text(narrow.begin(), narrow.end());
    CY cy{-1};
    EXPECT_EQ(VarCyFromStr(text.c_str(), LCID_ENGLISH_US, 0, &cy), GetParam().hr) << narrow;
    if (SUCCEEDED(GetParam().hr)) {
        EXPECT_EQ(cy.int64, GetParam().value) << narrow;
    }
}

INSTANTIATE_TEST_SUITE_P(
    texts, auto_cy_from_str,
    ::testing::Values(cy_case{"  -1,234.5678 ", S_OK, -12345678}, cy_case{"(5)", S_OK, -50000},
                      cy_case{"5-", S_OK, -50000}, cy_case{"$1.5", S_OK, 15000},
                      cy_case{"1e3", S_OK, 10000000}, cy_case{".5", S_OK, 5000}, cy_case{"5.", S_OK, 50000},
                      cy_case{"922337203685477.5807", S_OK, std::numeric_limits<std::int64_t>::max()},
                      cy_case{"-922337203685477.5808", S_OK, std::numeric_limits<std::int64_t>::min()},
                      cy_case{"922337203685477.58065", S_OK, 9223372036854775806},
                      cy_case{"922337203685477.58075", DISP_E_OVERFLOW, 0},
                      cy_case{"1e400", DISP_E_OVERFLOW, 0}, cy_case{"1e-400", S_OK, 0},
                      cy_case{"2.00025", S_OK, 20002}, cy_case{"2.00035", S_OK, 20004},
                      cy_case{"", DISP_E_TYPEMISMATCH, 0}, cy_case{".", DISP_E_TYPEMISMATCH, 0},
                      cy_case{"1.2.3", DISP_E_TYPEMISMATCH, 0}, cy_case{"1e", DISP_E_TYPEMISMATCH, 0},
                      cy_case{"--1", DISP_E_TYPEMISMATCH, 0}, cy_case{",5", DISP_E_TYPEMISMATCH, 0},
                      cy_case{"(5", DISP_E_TYPEMISMATCH, 0}, cy_case{"5 5", DISP_E_TYPEMISMATCH, 0}));

struct dec_case {
    const char* text;
    HRESULT hr;
    const char* printed;
};

class auto_dec_from_str : public ::testing::TestWithParam<dec_case> {};

TEST_P(auto_dec_from_str, reads_and_prints_exactly) {
    std::string narrow = GetParam().text;
    std::u16string text(narrow.begin(), narrow.end());
    DECIMAL d{};
    ASSERT_EQ(VarDecFromStr(text.c_str(), LCID_ENGLISH_US, 0, &d), GetParam().hr) << narrow;
    if (FAILED(GetParam().hr)) return;
    BSTR b = nullptr;
    ASSERT_EQ(VarBstrFromDec(&d, LCID_ENGLISH_US, 0, &b), S_OK);
    std::string printed = GetParam().printed;
    EXPECT_EQ(bstr_text(b), std::u16string(printed.begin(), printed.end())) << narrow;
    SysFreeString(b);
}

INSTANTIATE_TEST_SUITE_P(
    texts, auto_dec_from_str,
    ::testing::Values(dec_case{"0", S_OK, "0"}, dec_case{"-0.000", S_OK, "0"},
                      dec_case{"000123.4500", S_OK, "123.45"},
                      dec_case{"1e28", S_OK, "10000000000000000000000000000"},
                      dec_case{"1e29", DISP_E_OVERFLOW, ""},
                      dec_case{"7922816251426433759354395033.5", S_OK, "7922816251426433759354395033.5"},
                      // 30 digits do not fit: the last decimal goes, then the one before, each half to even.
                      dec_case{"7922816251426433759354395033.55", S_OK, "7922816251426433759354395034"},
                      dec_case{"1.00000000000000000000000000005", S_OK, "1"},
                      dec_case{"0.00000000000000000000000000005", S_OK, "0"},
                      dec_case{"0.00000000000000000000000000006", S_OK, "0.0000000000000000000000000001"},
                      dec_case{"1,000,000.25", S_OK, "1000000.25"}, dec_case{"1.5e-3", S_OK, "0.0015"},
                      dec_case{"abc", DISP_E_TYPEMISMATCH, ""}));

TEST(auto_numbers, plain_texts_read_as_any_text_reads) {
    // A provider's plain digits take a short way; a leading blank sends the same text the general
    // way. Both must give the same result, bit for bit, over every length, scale and sign.
    std::uint64_t seed = 88172645463325252ULL;
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    std::vector<std::string> texts = {"0",
                                      "-0",
                                      "-0.000",
                                      "0.0",
                                      "00",
                                      "007.50",
                                      "12.",
                                      "1200",
                                      "-1200.00",
                                      "922337203685477",
                                      "922337203685477.5807",
                                      "-922337203685477.5808",
                                      "922337203685477.5808",
                                      "999999999999999999",
                                      "-999999999999999.999",
                                      "1234567890123456789",
                                      "0.000000000000000001",
                                      "100000000000000000.0"};
    for (int i = 0; i < 20000; ++i) {
        std::string t = next() % 3 == 0 ? "-" : "";
        int whole = 1 + int(next() % 18);
        for (int k = 0; k < whole; ++k) t += char('0' + (k == 0 && next() % 4 == 0 ? 0 : next() % 10));
        if (next() % 4 != 0) {
            t += '.';
            int decimals = int(next() % 8);
            for (int k = 0; k < decimals; ++k) t += char('0' + (next() % 3 == 0 ? 0 : next() % 10));
        }
        texts.push_back(t);
    }
    for (const std::string& narrow : texts) {
        std::u16string plain(narrow.begin(), narrow.end());
        std::u16string general = u" " + plain;
        CY a{-1}, b{-1};
        HRESULT ha = VarCyFromStr(plain.c_str(), LCID_ENGLISH_US, 0, &a);
        HRESULT hb = VarCyFromStr(general.c_str(), LCID_ENGLISH_US, 0, &b);
        ASSERT_EQ(ha, hb) << narrow;
        if (SUCCEEDED(ha)) {
            ASSERT_EQ(a.int64, b.int64) << narrow;
        }
        DECIMAL c{}, d{};
        bool ca = false, cb = true;
        ha = ole_dec_from_str(plain.c_str(), &c, &ca);
        hb = ole_dec_from_str(general.c_str(), &d, &cb);
        ASSERT_EQ(ha, hb) << narrow;
        if (FAILED(ha)) continue;
        ASSERT_EQ(ca, cb) << narrow;
        ASSERT_EQ(c.scale, d.scale) << narrow;
        ASSERT_EQ(c.sign, d.sign) << narrow;
        ASSERT_EQ(c.Hi32, d.Hi32) << narrow;
        ASSERT_EQ(c.Lo64, d.Lo64) << narrow;
    }
}

TEST(auto_numbers, currency_to_text_and_double) {
    BSTR b = nullptr;
    ASSERT_EQ(VarBstrFromCy(CY{-10000}, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"-1");
    SysFreeString(b);
    ASSERT_EQ(VarBstrFromCy(CY{5}, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"0.0005");
    SysFreeString(b);
    double d = 0;
    EXPECT_EQ(VarR8FromCy(CY{std::numeric_limits<std::int64_t>::max()}, &d), S_OK);
    EXPECT_EQ(d, 922337203685477.5807);
}

TEST(auto_numbers, decimal_to_integer_rounds_half_to_even) {
    auto to_i4 = [](const char16_t* text, std::int32_t& out) {
        DECIMAL d{};
        EXPECT_EQ(VarDecFromStr(text, LCID_ENGLISH_US, 0, &d), S_OK);
        return VarI4FromDec(&d, &out);
    };
    std::int32_t v = 0;
    EXPECT_EQ(to_i4(u"0.5", v), S_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(to_i4(u"1.5", v), S_OK);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(to_i4(u"-1.5", v), S_OK);
    EXPECT_EQ(v, -2);
    EXPECT_EQ(to_i4(u"2.5000000001", v), S_OK);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(to_i4(u"-2147483648.4", v), S_OK);
    EXPECT_EQ(v, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(to_i4(u"2147483647.5", v), DISP_E_OVERFLOW);
    DECIMAL bad{};
    bad.scale = 29;
    EXPECT_EQ(VarI4FromDec(&bad, &v), E_INVALIDARG);
    EXPECT_EQ(VarI4FromR8(-2.5, &v), S_OK);
    EXPECT_EQ(v, -2);
    EXPECT_EQ(VarI4FromR8(std::nan(""), &v), DISP_E_OVERFLOW);
}

// --- VariantChangeType from text ---

struct change_case {
    const char* text;
    VARTYPE vt;
    HRESULT hr;
};

class auto_change_type : public ::testing::TestWithParam<change_case> {};

TEST_P(auto_change_type, answers_like_the_platform) {
    std::string narrow = GetParam().text;
    std::u16string text(narrow.begin(), narrow.end());
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text.c_str());
    EXPECT_EQ(VariantChangeType(&v, &v, 0, GetParam().vt), GetParam().hr) << narrow;
    EXPECT_EQ(v.vt, SUCCEEDED(GetParam().hr) ? GetParam().vt : VARTYPE(VT_BSTR));
    VariantClear(&v);
}

INSTANTIATE_TEST_SUITE_P(
    texts, auto_change_type,
    ::testing::Values(change_case{"123", VT_I4, S_OK}, change_case{"2147483648", VT_I4, DISP_E_OVERFLOW},
                      change_case{"abc", VT_I4, DISP_E_TYPEMISMATCH},
                      change_case{"-1", VT_UI1, DISP_E_OVERFLOW}, change_case{" 1e2 ", VT_UI1, S_OK},
                      change_case{"True", VT_BOOL, S_OK}, change_case{"yes", VT_BOOL, DISP_E_TYPEMISMATCH},
                      change_case{"12/31/2005", VT_DATE, S_OK}, change_case{"1e39", VT_R4, DISP_E_OVERFLOW},
                      change_case{"1e308", VT_R8, S_OK}, change_case{"x", VT_EMPTY, S_OK},
                      change_case{"x", VT_NULL, S_OK}, change_case{"x", VT_ERROR, DISP_E_TYPEMISMATCH},
                      change_case{"5", VT_BLOB_OBJECT, DISP_E_BADVARTYPE}, change_case{"x", VT_BSTR, S_OK}));

TEST(auto_change_type_values, converts_values_exactly) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"2.5");
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_I2), S_OK);
    EXPECT_EQ(out.iVal, 2);
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_CY), S_OK);
    EXPECT_EQ(out.cyVal.int64, 25000);
    ASSERT_EQ(VariantChangeType(&out, &out, 0, VT_BSTR), S_OK);
    EXPECT_EQ(bstr_text(out.bstrVal), u"2.5");
    VariantClear(&out);
    VariantClear(&v);

    v.vt = VT_R8;
    v.dblVal = 0.1;
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_DECIMAL), S_OK);
    EXPECT_EQ(out.decVal.scale, 1);
    EXPECT_EQ(out.decVal.Lo64, 1u);
    v.vt = VT_I8;
    v.llVal = std::numeric_limits<std::int64_t>::min();
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(bstr_text(out.bstrVal), u"-9223372036854775808");
    VariantClear(&out);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, -1);
}

// --- Dates ---

double date_of(const char16_t* text) {
    DATE d = -1e9;
    std::u16string wide(text);
    EXPECT_EQ(VarDateFromStr(text, LCID_ENGLISH_US, 0, &d), S_OK) << std::string(wide.begin(), wide.end());
    return d;
}

TEST(auto_dates, system_time_counts_from_1899_12_30) {
    auto to_date = [](SYSTEMTIME t, DATE& d) { return SystemTimeToVariantTime(&t, &d); };
    DATE d = 0;
    ASSERT_TRUE(to_date({1899, 12, 0, 30, 0, 0, 0, 0}, d));
    EXPECT_EQ(d, 0.0);
    ASSERT_TRUE(to_date({1900, 1, 0, 1, 0, 0, 0, 0}, d));
    EXPECT_EQ(d, 2.0);
    ASSERT_TRUE(to_date({2005, 12, 0, 31, 18, 0, 0, 0}, d));
    EXPECT_EQ(d, 38717.75);
    ASSERT_TRUE(to_date({1899, 12, 0, 29, 6, 0, 0, 0}, d));
    EXPECT_EQ(d, -1.25);
    ASSERT_TRUE(to_date({100, 1, 0, 1, 0, 0, 0, 0}, d));
    EXPECT_EQ(d, -657434.0);
    ASSERT_TRUE(to_date({9999, 12, 0, 31, 0, 0, 0, 0}, d));
    EXPECT_EQ(d, 2958465.0);
    EXPECT_FALSE(to_date({99, 12, 0, 31, 0, 0, 0, 0}, d));
    EXPECT_FALSE(to_date({2005, 2, 0, 29, 0, 0, 0, 0}, d));
    EXPECT_FALSE(to_date({2005, 1, 0, 1, 24, 0, 0, 0}, d));
}

TEST(auto_dates, variant_time_rounds_to_the_second_and_reads_negative_dates) {
    SYSTEMTIME t{};
    ASSERT_TRUE(VariantTimeToSystemTime(-1.25, &t));
    EXPECT_EQ(t.wYear, 1899);
    EXPECT_EQ(t.wDay, 29);
    EXPECT_EQ(t.wHour, 6);
    ASSERT_TRUE(VariantTimeToSystemTime(38717.0 + 86399.4 / 86400.0, &t));
    EXPECT_EQ(t.wDay, 31);
    EXPECT_EQ(t.wSecond, 59);
    ASSERT_TRUE(VariantTimeToSystemTime(38717.0 + 86399.6 / 86400.0, &t));
    EXPECT_EQ(t.wYear, 2006);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wHour, 0);
    EXPECT_EQ(t.wDayOfWeek, 0); // a Sunday
    ASSERT_TRUE(VariantTimeToSystemTime(-657434.5, &t));
    EXPECT_EQ(t.wYear, 100);
    EXPECT_EQ(t.wHour, 12);
    EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &t));
    EXPECT_FALSE(VariantTimeToSystemTime(std::nan(""), &t));
    // Every day of a long span survives the round trip.
    for (DATE day = -700000; day < 3000000; day += 997) {
        SYSTEMTIME s{};
        if (!VariantTimeToSystemTime(day, &s)) continue;
        DATE back = 0;
        ASSERT_TRUE(SystemTimeToVariantTime(&s, &back));
        EXPECT_EQ(back, day);
    }
}

TEST(auto_dates, english_parser_accepts) {
    EXPECT_EQ(date_of(u"12/31/2005"), 38717.0);
    EXPECT_EQ(date_of(u"12-31-2005"), 38717.0);
    EXPECT_EQ(date_of(u"12.31.2005"), 38717.0);
    EXPECT_EQ(date_of(u"2005-12-31"), 38717.0);
    EXPECT_EQ(date_of(u"2005/12/31 18:00"), 38717.75);
    EXPECT_EQ(date_of(u"December 31, 2005"), 38717.0);
    EXPECT_EQ(date_of(u"31 dec 2005 6:00 PM"), 38717.75);
    EXPECT_EQ(date_of(u"Sept 1 2005"), date_of(u"9/1/2005"));
    EXPECT_EQ(date_of(u"1/2/05"), date_of(u"1/2/2005"));
    EXPECT_EQ(date_of(u"1/2/49"), date_of(u"1/2/2049"));
    EXPECT_EQ(date_of(u"1/2/50"), date_of(u"1/2/1950"));
    EXPECT_EQ(date_of(u"3 PM"), 0.625);
    EXPECT_EQ(date_of(u"12:00 AM"), 0.0);
    EXPECT_EQ(date_of(u"12:00:00 PM"), 0.5);
    EXPECT_EQ(date_of(u"00:00 p"), 0.5);
    EXPECT_EQ(date_of(u"13:00 AM"), date_of(u"13:00"));
    EXPECT_EQ(date_of(u"2 Jan 1970"), 25570.0);
    EXPECT_EQ(date_of(u"2-Jan-1970"), 25570.0);
    EXPECT_EQ(date_of(u"1 2 1970"), 25570.0);
    EXPECT_EQ(date_of(u"1753-01-01 06:00:00"), -53688.25);
}

TEST(auto_dates, english_parser_rejects) {
    for (const char16_t* text :
         {u"", u"hello", u"2005-12-31T10:00:00", u"12/31/2005 10:00:00.5", u"February 30, 2005",
          u"13/13/2005", u"0099-01-01", u"25:00", u"AM", u"12/31/2005 +", u"1/2/3/4", u"Dec Jan 5",
          u"12:30:15.250", u"12345678901"}) {
        DATE d = 0;
        std::u16string wide(text);
        EXPECT_TRUE(FAILED(VarDateFromStr(text, LCID_ENGLISH_US, 0, &d)))
            << std::string(wide.begin(), wide.end());
    }
}

TEST(auto_dates, date_to_text) {
    BSTR b = nullptr;
    ASSERT_EQ(VarBstrFromDate(38717.75, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"12/31/2005 6:00:00 PM");
    SysFreeString(b);
    ASSERT_EQ(VarBstrFromDate(38717.0, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"12/31/2005");
    SysFreeString(b);
    ASSERT_EQ(VarBstrFromDate(3.34, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"1/2/1900 8:09:36 AM");
    SysFreeString(b);
    ASSERT_EQ(VarBstrFromDate(-657434.0, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"1/1/100");
    SysFreeString(b);
    ASSERT_EQ(VarBstrFromDate(0.0, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"12:00:00 AM");
    SysFreeString(b);
    ASSERT_EQ(VarBstrFromDate(0.5, LCID_ENGLISH_US, 0, &b), S_OK);
    EXPECT_EQ(bstr_text(b), u"12:00:00 PM");
    SysFreeString(b);
}

} // namespace
