#include "TK/tk_converter.hpp"
#include "TK/tk_log.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

using test_support::read_file;
using test_support::temp_dir;

namespace {
std::tm march_fifth() {
    std::tm t{};
    t.tm_mday = 5;
    t.tm_mon = 2;
    t.tm_year = 114;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 3;
    return t;
}
} // namespace

TEST(tk_log, writes_text_then_crlf_at_or_above_threshold_only) {
    temp_dir dir;
    std::string name = dir.file("run.log");
    tk_log log(name.c_str(), true, 3, false);
    tk_log::trace(3, "Converting table %s", "Orders");
    tk_log::trace(2, "hidden %d", 2);
    TK_TRACE(4, "level %d", 4);
    EXPECT_EQ(read_file(name), "Converting table Orders\r\nlevel 4\r\n");
}

TEST(tk_log, first_call_empties_the_file_whatever_its_level) {
    temp_dir dir;
    std::string name = dir.file("old.log");
    test_support::write_file(name, "from an earlier run\r\n");
    tk_log log(name.c_str(), false, 3, false);
    tk_log::trace(3, "not written while disabled");
    EXPECT_EQ(read_file(name), "from an earlier run\r\n");
    log.enable();
    EXPECT_TRUE(tk_log::wants(1)); // the pending emptying makes a level-1 call count
    TK_TRACE(1, "detail");
    EXPECT_EQ(read_file(name), "");
    EXPECT_FALSE(tk_log::wants(1));
    // Switching to another file later appends to it without emptying.
    std::string second = dir.file("second.log");
    test_support::write_file(second, "kept\r\n");
    log.set_file_name(second.c_str());
    tk_log::trace(3, "more");
    EXPECT_EQ(read_file(second), "kept\r\nmore\r\n");
}

TEST(tk_log, wide_lines_are_utf8_and_narrow_lines_byte_for_byte) {
    temp_dir dir;
    std::string name = dir.file("wide.log");
    tk_log log(name.c_str(), true, 1, false);
    tk_log::wtrace(3, u"Table %s: %d", u"Заказы 注文", 7);
    tk_log::trace(3, "raw \xE9\xFF");
    EXPECT_EQ(read_file(name),
              "Table \xD0\x97\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7\xD1\x8B \xE6\xB3\xA8\xE6\x96\x87: 7\r\n"
              "raw \xE9\xFF\r\n");
}

TEST(tk_log, overlong_wide_line_is_cut_but_keeps_its_line_break) {
    temp_dir dir;
    std::string name = dir.file("long.log");
    tk_log log(name.c_str(), true, 1, false);
    std::u16string text(20000, u'й'); // two UTF-8 bytes each
    tk_log::wtrace(3, u"%s", text.c_str());
    std::string bytes = read_file(name);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_LE(bytes.size(), 10240u + 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    EXPECT_EQ(bytes.size() % 2, 0u); // no half character
}

TEST(tk_log, time_stamps_prefix_every_line) {
    temp_dir dir;
    std::string name = dir.file("stamped.log");
    tk_log log(name.c_str(), true, 3, true);
    tk_log::trace(3, "x");
    std::string bytes = read_file(name);
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes[2], ':');
    EXPECT_EQ(bytes.substr(8), " x\r\n");
}

TEST(tk_log, without_a_file_name_takes_the_program_path_with_log_extension) {
    tk_log log(nullptr, false, 3, false);
    std::string name = log.file_name();
    ASSERT_GT(name.size(), 4u);
    EXPECT_EQ(name.substr(name.size() - 4), ".log");
    EXPECT_EQ(name.find("tests_TK"), name.rfind('/') + 1);
}

TEST(tk_log, trace_without_instance_does_nothing_and_second_instance_is_internal_error) {
    tk_log::trace(3, "nobody listens");
    EXPECT_FALSE(tk_log::wants(3));
    temp_dir dir;
    std::string name = dir.file("one.log");
    tk_log log(name.c_str(), false, 3, false);
    try {
        tk_log second(name.c_str(), false, 3, false);
        FAIL() << "a second log was created";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 2);
    }
    EXPECT_EQ(tk_log::instance(), &log);
    EXPECT_THROW(log.set_file_name(nullptr), tk_mail_assertion);
}

TEST(init_conversion, start_and_end_lines_day_first_with_extra_line_feed) {
    temp_dir dir;
    std::string name = dir.file("run.log");
    tk_log log(name.c_str(), true, 3, false);
    init_conversion::local_time = march_fifth;
    std::atomic<bool> finished{false};
    { init_conversion marker(&finished); }
    init_conversion::local_time = nullptr;
    EXPECT_TRUE(finished);
    EXPECT_EQ(read_file(name), "Conversion started on 05/03/2014 at 09:07:03\n\r\n"
                               "Conversion ended on 05/03/2014 at 09:07:03\n\r\n");
}

namespace {
class probe_converter : public tk_converter {
public:
    void operator()() override {}
};
} // namespace

TEST(set_logfile, switches_the_log_on_and_refuses_bad_paths) {
    temp_dir dir;
    tk_log log(dir.file("unused.log").c_str(), false, 3, false);
    probe_converter converter;

    try {
        converter.set_logfile(dir.file("missing/x.log"));
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Logfile path does not exist.\nPlease verify the correct path was given.");
        EXPECT_EQ(e.level(), 1);
    }
    EXPECT_TRUE(converter.logfile().empty());
    EXPECT_FALSE(tk_log::wants(3));

    converter.set_logfile("");
    EXPECT_FALSE(tk_log::wants(3));

    std::string name = dir.file("agent.log");
    converter.set_logfile(name);
    EXPECT_EQ(converter.logfile(), name);
    EXPECT_EQ(log.file_name(), name);
    tk_log::trace(3, "on");
    EXPECT_EQ(read_file(name), "on\r\n");
    // An empty name leaves an enabled log on.
    converter.set_logfile("");
    EXPECT_TRUE(tk_log::wants(3));
}

TEST(set_logfile, existing_read_only_file_is_refused_for_an_unprivileged_user) {
    temp_dir dir;
    std::string name = dir.file("readonly.log");
    test_support::write_file(name, "x");
    chmod(name.c_str(), 0444);
    bool refused = test_support::run_unprivileged([&] {
        probe_converter converter;
        try {
            converter.set_logfile(name);
        } catch (const tk_exception& e) {
            return std::string(e.what()) == "Logfile name specifies an existing read-only file.";
        }
        return false;
    });
    EXPECT_TRUE(refused);
}
