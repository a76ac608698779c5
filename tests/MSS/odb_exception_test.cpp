#include "MSS/odb_error_object.hpp"
#include "MSS/odb_exception.hpp"
#include "odb_test_util.hpp"

#include <gtest/gtest.h>
#include <thread>

using odb_test::trace_capture;

namespace {
odb_exception caught(HRESULT hr) {
    try {
        odb_check(hr);
    } catch (const odb_exception& e) {
        return e;
    }
    ADD_FAILURE() << "odb_check did not raise";
    return odb_exception(hr);
}
} // namespace

TEST(odb_exception, login_failure_keeps_low_bits_and_the_servers_text) {
    trace_capture trace;
    odb_post_error({{DB_SEC_E_AUTH_FAILED, u"28000", 18456, u"Microsoft SQL Server Native Client 11.0",
                     u"Login failed for user 'clerk'."}});
    odb_exception e = caught(DB_SEC_E_AUTH_FAILED);
    EXPECT_EQ(e.code(), 0x80E4D);
    EXPECT_EQ(e.level(), 0);
    EXPECT_EQ(e.message(), "Login failed for user 'clerk'.");
    EXPECT_EQ(e.source(), u"Microsoft SQL Server Native Client 11.0");
    EXPECT_TRUE(trace.has_line("Error code: 80040E4D"));
    EXPECT_TRUE(trace.has_line("odb_exception::odb_exception(80040E4D)"));
    EXPECT_TRUE(trace.has_line("HRESULT:\t0x80040E4D"));
    EXPECT_TRUE(trace.has_line("SQLSTATE:\t28000"));
    EXPECT_TRUE(trace.has_line("Native Error:\t18456"));
    EXPECT_TRUE(trace.has_line("Source:\t\tMicrosoft SQL Server Native Client 11.0\n"));
    EXPECT_TRUE(trace.has_line("Error message:\tLogin failed for user 'clerk'."));
}

TEST(odb_exception, first_record_without_description_gives_way_to_the_second) {
    trace_capture trace;
    odb_post_error({{DB_E_ERRORSOCCURRED, u"01000", 5701, u"first source", u""},
                    {DB_E_NOTABLE, u"42S02", 208, u"second source", u"Invalid object name 'x'."},
                    {E_FAIL, u"", 0, u"third source", u"never read"}});
    odb_exception e = caught(DB_E_NOTABLE);
    EXPECT_EQ(e.code(), 0x80E37);
    EXPECT_EQ(e.message(), "Invalid object name 'x'.");
    EXPECT_EQ(e.source(), u"second source");
    EXPECT_TRUE(trace.has_line("Got 3 record(s)"));
    EXPECT_TRUE(trace.has_line("HRESULT:\t0x80040E21"));
    EXPECT_TRUE(trace.has_line("Native Error:\t5701"));
    EXPECT_TRUE(trace.has_line("Process 0 record: msg=, source=first source"));
    EXPECT_TRUE(trace.has_line("Process 1 record: msg=Invalid object name 'x'., source=second source"));
    EXPECT_EQ(trace.count("never read"), 0u);
}

TEST(odb_exception, records_without_any_description_leave_the_message_empty) {
    odb_post_error({{E_FAIL, u"HY000", 1, u"s", u""}});
    odb_exception e = caught(E_FAIL);
    EXPECT_EQ(e.message(), "");
    EXPECT_EQ(e.code(), 0x84005);
}

TEST(odb_exception, no_error_object_gives_unknown_exception) {
    trace_capture trace;
    odb_clear_error();
    odb_exception e = caught(E_FAIL);
    EXPECT_EQ(e.message(), "Unknown exception");
    EXPECT_EQ(e.level(), 0);
    EXPECT_TRUE(e.source().empty());
    EXPECT_TRUE(trace.has_line("dump_error: GetErrorInfo failed"));
}

TEST(odb_exception, error_object_without_records_is_read_directly) {
    trace_capture trace;
    odb_post_error_info(u"plain source", u"plain text");
    odb_exception e = caught(E_FAIL);
    EXPECT_EQ(e.message(), "plain text");
    EXPECT_EQ(e.source(), u"plain source");
    EXPECT_FALSE(trace.has_line("Got IErrorRecords"));
}

TEST(odb_exception, the_error_object_is_used_once_and_per_thread) {
    odb_post_error({{E_FAIL, u"", 0, u"s", u"mine"}});
    std::thread other([] { odb_post_error({{E_FAIL, u"", 0, u"s", u"other thread"}}); });
    other.join();
    EXPECT_EQ(caught(E_FAIL).message(), "mine");
    // Taken by the first exception: a later failure without a new object knows nothing.
    EXPECT_EQ(caught(E_FAIL).message(), "Unknown exception");
}

TEST(odb_check, success_codes_pass) {
    EXPECT_NO_THROW(odb_check(S_OK));
    EXPECT_NO_THROW(odb_check(S_FALSE));
    EXPECT_NO_THROW(odb_check(DB_S_ENDOFROWSET));
    EXPECT_NO_THROW(odb_check(DB_S_ERRORSOCCURRED));
    EXPECT_THROW(odb_check(DB_E_ERRORSOCCURRED), odb_exception);
}
