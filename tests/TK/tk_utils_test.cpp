#include "TK/tk_exception.hpp"
#include "TK/tk_fname.hpp"
#include "TK/tk_format.hpp"
#include "TK/tk_utils.hpp"
#include "support/test_support.hpp"

#include <algorithm>
#include <clocale>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using test_support::temp_dir;
using test_support::write_file;

TEST(tk_text, utf8_round_trip_keeps_every_plane_and_embedded_nul) {
    std::u16string wide = u"a\u00E9\u0416\u6CE8\U0001F600";
    wide.push_back(u'\0');
    wide += u"z";
    std::string utf8 = tk_to_utf8(wide);
    EXPECT_EQ(utf8, std::string("a\xC3\xA9\xD0\x96\xE6\xB3\xA8\xF0\x9F\x98\x80\0z", 14));
    EXPECT_EQ(tk_utf8_to_wstring(utf8), wide);
}

TEST(tk_text, invalid_utf8_raises_the_conversion_message) {
    for (std::string bad : {"\xC3", "\xFF", "\xC0\xAF", "\xED\xA0\x80", "ok\x80"}) {
        try {
            tk_utf8_to_wstring(bad);
            ADD_FAILURE() << "accepted invalid UTF-8";
        } catch (const tk_exception& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot convert to UNICODE string: ", 0), 0u) << e.what();
            EXPECT_EQ(e.level(), 1);
        }
    }
}

TEST(tk_text, lone_surrogate_becomes_replacement_character) {
    std::u16string lone = u"a";
    lone.push_back(static_cast<char16_t>(0xD800));
    lone += u"b";
    EXPECT_EQ(tk_to_utf8(lone), "a\xEF\xBF\xBD"
                                "b");
}

TEST(tk_text, utf8_of_a_character_at_any_place_among_ascii) {
    // ASCII goes four units at a time: a character of each length, a pair and a lone half at
    // every place must still come out whole.
    struct unit {
        std::u16string wide;
        std::string utf8;
    };
    const unit units[] = {{u"\u00e9", "\xC3\xA9"},
                          {u"\u20ac", "\xE2\x82\xAC"},
                          {u"\U0001F600", "\xF0\x9F\x98\x80"},
                          {std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},
                          {std::u16string(1, char16_t(0xD83D)), "\xEF\xBF\xBD"}};
    const std::string ascii = "abcdefghijk";
    for (const unit& u : units) {
        for (size_t at = 0; at <= ascii.size(); ++at) {
            std::u16string wide(ascii.begin(), ascii.begin() + at);
            wide += u.wide;
            wide.append(ascii.begin() + at, ascii.end());
            EXPECT_EQ(tk_to_utf8(wide), ascii.substr(0, at) + u.utf8 + ascii.substr(at)) << at;
        }
    }
}

TEST(tk_text, c_locale_counts_as_utf8) {
    std::setlocale(LC_CTYPE, "C");
    tk_reset_ansi_codeset();
    EXPECT_TRUE(tk_ansi_is_utf8());
    std::string narrow;
    EXPECT_TRUE(tk_to_ansi(u"Straße", narrow));
    EXPECT_EQ(narrow, "Stra\xC3\x9F"
                      "e");
    EXPECT_FALSE(tk_to_ansi(static_cast<const char16_t*>(nullptr), narrow));
}

TEST(tk_text, latin1_locale_converts_exactly_or_refuses) {
    if (!std::setlocale(LC_CTYPE, "en_US.ISO-8859-1")) GTEST_SKIP() << "locale en_US.ISO-8859-1 missing";
    tk_reset_ansi_codeset();
    std::string narrow;
    EXPECT_TRUE(tk_to_ansi(u"Caf\u00E9", narrow));
    EXPECT_EQ(narrow, "Caf\xE9");
    EXPECT_EQ(tk_ansi_to_wstring("Caf\xE9"), u"Caf\u00E9");
    // A file name never gets a lossy '?'; shown text may.
    EXPECT_FALSE(tk_to_ansi(u"\u0416\u6CE8", narrow));
    EXPECT_EQ(tk_to_ansi_lossy(u"a\u0416\U0001F600b"), "a??b");
    std::setlocale(LC_CTYPE, "C");
    tk_reset_ansi_codeset();
}

TEST(tk_text, hex_of_bytes_is_upper_case_high_nibble_first) {
    const unsigned char bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    char out[9];
    tk_bin_to_hex(bytes, 4, out);
    EXPECT_STREQ(out, "009FA0FF");
    EXPECT_THROW(tk_bin_to_hex(bytes, 4, nullptr), tk_mail_assertion);
}

TEST(tk_text, trims_remove_only_blanks) {
    EXPECT_EQ(tk_trim(std::string("   ")), "");
    EXPECT_EQ(tk_trim(std::string(" a b ")), "a b");
    EXPECT_EQ(tk_trim(std::u16string(u"\ta b\t")), u"\ta b\t");
    EXPECT_EQ(tk_ltrim(std::u16string(u"  x ")), u"x ");
    EXPECT_EQ(tk_rtrim(std::u16string(u"  x \n")), u"  x \n");
}

TEST(tk_text, wstring_edits) {
    EXPECT_EQ(tk_wstring(u"a\r\nb\nc").replace_all(u"\n", u" "), u"a\r b c");
    EXPECT_EQ(tk_wstring(u"ÄÖÜ ORDERS Σ").to_lower(), u"äöü orders σ");
    EXPECT_TRUE(tk_equal_nocase(u"STRASSE", u"straße"));
    EXPECT_TRUE(tk_equal_nocase(u"Заказы", u"ЗАКАЗЫ"));
    EXPECT_FALSE(tk_equal_nocase(u"Orders", u"Order"));
}

TEST(tk_format, windows_size_prefix_and_wide_strings) {
    const char* windows_format = "%I64d|%I64u";
    EXPECT_EQ(tk_format(windows_format, -9223372036854775807LL - 1, 18446744073709551615ULL),
              "-9223372036854775808|18446744073709551615");
    EXPECT_EQ(tk_wformat(u"%s, record #%d", u"Заказы", 7), u"Заказы, record #7");
    EXPECT_EQ(tk_wformat(u"[%5s|%-3d|%08X|%c|%%]", u"ab", 4, 0x80E4Du, u'Ж'), u"[   ab|4  |00080E4D|Ж|%]");
}

TEST(tk_file_name, splits_absolute_paths_and_sets_extensions) {
    tk_file_name a("/var/lib/data.base/report.tar.csv");
    EXPECT_EQ(a.get_path(), "/var/lib/data.base/");
    EXPECT_EQ(a.name(), "report.tar");
    EXPECT_EQ(a.ext(), ".csv");
    a.set_extension("log");
    EXPECT_EQ(a.full_name(), "/var/lib/data.base/report.tar.log");
    a.set_extension(".log");
    EXPECT_EQ(a.full_name(), "/var/lib/data.base/report.tar.log");

    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    tk_file_wname relative(u"sub/x.txt");
    EXPECT_EQ(relative.get_path(), tk_ansi_to_wstring(cwd) + u"/sub/");
    EXPECT_EQ(relative.name(), u"x");

    tk_file_name program("");
    EXPECT_EQ(program.get_path(), tk_get_module_path());
    EXPECT_TRUE(program.name().empty());
    EXPECT_THROW(tk_file_name(static_cast<const char*>(nullptr)), tk_mail_assertion);
}

TEST(tk_exists, files_and_folders_are_told_apart_without_changing_directory) {
    temp_dir dir;
    std::string file = dir.file("a.csv");
    write_file(file, "x");
    char before[4096], after[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    EXPECT_TRUE(tk_is_file_exist(file, 0x4000));
    EXPECT_TRUE(tk_is_file_exist(tk_utf8_to_wstring(file), 1));
    EXPECT_FALSE(tk_is_file_exist(dir.path(), 0x4000)); // a folder is not a file
    EXPECT_FALSE(tk_is_file_exist(dir.file("missing"), 0x4000));
    EXPECT_TRUE(tk_is_path_exist(dir.path()));
    EXPECT_FALSE(tk_is_path_exist(file));
    EXPECT_FALSE(tk_is_path_exist(std::u16string(u"/no/such/folder")));
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after);
}

TEST(tk_exists, read_only_file_exists_but_is_not_writable_for_an_unprivileged_user) {
    temp_dir dir;
    std::string file = dir.file("ro.csv");
    write_file(file, "x");
    chmod(file.c_str(), 0444);
    EXPECT_TRUE(test_support::run_unprivileged([&] { return tk_is_file_exist(file, 0x4000); }));
    EXPECT_TRUE(test_support::run_unprivileged([&] { return !tk_is_file_exist(file, 1); }));
}

TEST(tk_temp_chdir, lists_regular_csv_files_in_any_case) {
    temp_dir dir;
    write_file(dir.file("Orders.CSV"), "");
    write_file(dir.file("orders.csv"), "");
    write_file(dir.file("notes.txt"), "");
    mkdir(dir.file("x.csv").c_str(), 0755);
    tk_temp_chdir folder(dir.path());
    ASSERT_TRUE(folder.entered());
    std::vector<std::u16string> names{u"stale"};
    EXPECT_TRUE(folder.find_files(u"*.csv", names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Orders.CSV", u"orders.csv"}));
    EXPECT_FALSE(folder.find_files(u"*.xls", names));
    EXPECT_TRUE(names.empty());

    tk_temp_chdir missing(dir.file("nothing"));
    EXPECT_FALSE(missing.entered());
    EXPECT_FALSE(missing.find_files(u"*.csv", names));
}
