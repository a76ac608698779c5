#include "TK/tk_exception.hpp"
#include "TK/tk_format.hpp"
#include "UDB/csv_validator.hpp"
#include "UDB/udb_validator.hpp"

#include <gtest/gtest.h>

namespace {
// The conversion run's use of the validator, per table.
std::u16string base_name(csv_validator& v, const std::u16string& name) {
    std::u16string base = name;
    if (!v.is_acceptable(name)) {
        base = v.get_safe_name(name);
        v.add_existing_name(base);
    }
    v.add_restricted_name(base);
    return base;
}

std::vector<std::u16string> base_names(std::initializer_list<std::u16string> names) {
    csv_validator v(u"/data");
    std::vector<std::u16string> out;
    for (const auto& name : names) out.push_back(base_name(v, name));
    return out;
}

using names = std::vector<std::u16string>;
} // namespace

TEST(csv_validator, names_that_map_to_one_base_name_are_numbered_in_order) {
    EXPECT_EQ(base_names({u"dbo.Orders", u"dbo,Orders", u"dbo Orders"}),
              (names{u"dbo_Orders", u"dbo_Orders000", u"dbo_Orders001"}));
}

TEST(csv_validator, a_given_out_name_is_restricted_for_later_tables) {
    EXPECT_EQ(base_names({u"dbo.Orders", u"dbo_Orders"}), (names{u"dbo_Orders", u"dbo_Orders000"}));
    // Numbering skips what is already taken, whether given out unchanged or generated.
    EXPECT_EQ(base_names({u"dbo_Orders000", u"dbo.Orders", u"dbo_Orders", u"dbo-Orders"}),
              (names{u"dbo_Orders000", u"dbo_Orders", u"dbo_Orders001", u"dbo-Orders"}));
}

TEST(csv_validator, names_compare_ignoring_case_with_full_folding) {
    EXPECT_EQ(base_names({u"Orders", u"ORDERS", u"orders"}), (names{u"Orders", u"ORDERS000", u"orders001"}));
    // Full case folding: ß equals SS, final sigma equals sigma.
    EXPECT_EQ(base_names({u"STRASSE", u"straße"}), (names{u"STRASSE", u"straße000"}));
    EXPECT_EQ(base_names({u"ΟΔΟΣ", u"οδος"}), (names{u"ΟΔΟΣ", u"οδος000"}));
    // Different when folded, one file when lowered: the second must not overwrite the first.
    EXPECT_EQ(base_names({u"TITLE", u"T\u0130TLE"}), (names{u"TITLE", u"T\u0130TLE000"}));
}

TEST(csv_validator, letters_and_digits_of_any_script_are_kept) {
    csv_validator v(u"/data");
    for (std::u16string name : {u"Order_Details-2", u"Заказы", u"注文明細", u"٣٤Ψ", u"", u"𠀀𠀁"})
        EXPECT_TRUE(v.is_acceptable(name)) << std::string(name.begin(), name.end());
    EXPECT_EQ(v.get_safe_name(u"Заказы.Клиенты"), u"Заказы_Клиенты");
    EXPECT_EQ(v.get_safe_name(u"注文 明細"), u"注文_明細");
    // A character outside the basic plane is one character: two surrogates, one '_' at most.
    EXPECT_EQ(v.get_safe_name(u"a😀b𠀀"), u"a_b𠀀");
}

TEST(csv_validator, everything_else_becomes_an_underscore) {
    csv_validator v(u"/data");
    EXPECT_EQ(v.get_safe_name(u"Order Details"), u"Order_Details");
    EXPECT_EQ(v.get_safe_name(u"../etc/passwd"), u"___etc_passwd");
    EXPECT_EQ(v.get_safe_name(u"a\tb\\c:d*e?f\"g<h>i|j"), u"a_b_c_d_e_f_g_h_i_j");
    std::u16string lone = u"x";
    lone.push_back(static_cast<char16_t>(0xD800));
    EXPECT_FALSE(v.is_acceptable(lone));
    EXPECT_EQ(v.get_safe_name(lone), u"x_");
}

TEST(csv_validator, runs_out_after_a_thousand_numbered_names) {
    csv_validator v(u"/data");
    v.add_restricted_name(u"a_b");
    for (int i = 0; i < 999; ++i) v.add_existing_name(tk_wformat(u"A_B%03d", i));
    EXPECT_EQ(base_name(v, u"a.b"), u"a_b999");
    EXPECT_THROW(v.get_safe_name(u"a.b"), tk_mail_assertion);
}

TEST(udb_validator, ten_character_limit_cuts_and_numbers) {
    udb_validator v(10);
    EXPECT_TRUE(v.is_acceptable(u"ABCDEFGHIJ"));
    EXPECT_FALSE(v.is_acceptable(u"ABCDEFGHIJK"));
    // A 12-character name is cut to 9 characters.
    EXPECT_EQ(v.get_safe_name(u"ABCDEFGHIJKL"), u"ABCDEFGHI");
    v.add_existing_name(u"ABCDEFGHI");
    // A numbered candidate keeps at most 4 characters before its five digits.
    EXPECT_EQ(v.get_safe_name(u"ABCDEFGHIJKL"), u"ABCD00000");
    v.add_existing_name(u"ABCD00000");
    EXPECT_EQ(v.get_safe_name(u"abcdefghijkl"), u"abcd00001");
    // A short name is numbered without being cut.
    v.add_restricted_name(u"XY");
    EXPECT_EQ(v.get_safe_name(u"xy"), u"xy00000");
}

TEST(udb_validator, cut_never_splits_a_surrogate_pair) {
    udb_validator v(4);
    // Cut to 3 units would leave half of the emoji.
    EXPECT_EQ(v.get_safe_name(u"ab😀cd"), u"ab");
}

TEST(udb_validator, illegal_characters_and_restricted_names) {
    udb_validator v(0);
    v.set_illegal_chars(u" .");
    EXPECT_FALSE(v.is_acceptable(u"dbo.Orders"));
    EXPECT_FALSE(v.is_acceptable(u"Order Details"));
    EXPECT_EQ(v.get_safe_name(u"dbo.Order Details"), u"dbo_Order_Details");
    v.add_restricted_name(u"Orders");
    EXPECT_FALSE(v.is_acceptable(u"orders"));
    EXPECT_EQ(v.get_safe_name(u"ORDERS"), u"ORDERS00000");
    EXPECT_TRUE(v.is_acceptable(u"Orders2"));
}

TEST(udb_validator, existing_names_make_duplicates_not_unacceptable) {
    udb_validator v(0);
    v.add_existing_name(u"Orders");
    EXPECT_TRUE(v.is_duplicated(u"ORDERS"));
    EXPECT_TRUE(v.is_acceptable(u"ORDERS"));
    EXPECT_FALSE(v.is_duplicated(u"Orders "));
    EXPECT_EQ(v.get_safe_name(u"orders"), u"orders00000");
}

// A file name takes 255 bytes at most, its hidden twin while written 9 more: a longer name is cut
// on a character boundary and numbered like any cut name.
TEST(csv_validator, long_names_are_cut_to_fit_a_file_name) {
    std::u16string cjk(84, u'\u6CE8'); // three bytes each in UTF-8: 256 with ".csv"
    std::u16string fits(78, u'\u6CE8');
    std::u16string other = std::u16string(83, u'\u6CE8') + u"x";
    EXPECT_EQ(base_names({cjk, other}), (names{fits + u"000", fits + u"001"}));
    // Characters outside the basic plane (four bytes) are never split.
    std::u16string wide;
    for (int i = 0; i < 70; ++i) wide += u"𠀀";
    std::u16string cut = base_names({wide})[0];
    EXPECT_EQ(cut, wide.substr(0, 2 * 58) + u"000");
    // 242 bytes with ".csv" fits: its hidden compressed form ".NAME.csv.zst.partial" takes 255.
    std::u16string ascii(238, u'a');
    EXPECT_EQ(base_names({ascii, ascii + u"b"}), (names{ascii, std::u16string(235, u'a') + u"000"}));
}
