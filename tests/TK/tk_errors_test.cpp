#include "TK/error_handler.hpp"
#include "TK/tk_cmdli.hpp"
#include "TK/tk_errco.hpp"
#include "TK/tk_exception.hpp"

#include <gtest/gtest.h>

TEST(tk_exception, messages_codes_and_levels) {
    EXPECT_STREQ(tk_exception(0).what(), "Unknown exception");
    EXPECT_STREQ(tk_exception("", 1).what(), "Unknown exception");
    tk_exception wide(u"Заказы", 0);
    EXPECT_EQ(wide.message(), "Заказы");
    EXPECT_EQ(wide.code(), 0);
    tk_exception_ex system("Cannot open: ", 2);
    EXPECT_EQ(system.level(), 1);
    EXPECT_EQ(system.code(), 2);
    EXPECT_EQ(system.message(), "Cannot open: No such file or directory");
}

TEST(tk_exception, assertion_message_is_the_location_in_hexadecimal) {
    tk_mail_assertion a("tk_cmdli.cpp", 19);
    EXPECT_EQ(a.level(), 2);
    EXPECT_EQ(a.message(), "Internal error: \ncode=746b5f636d646c692e6370705c3139");
}

TEST(tk_error_converter, keeps_the_first_text_of_a_code) {
    int rows = 0;
    const tk_error_row* table = tk_provider_messages(&rows);
    ASSERT_EQ(rows, 27);
    tk_error_converter messages(rows, table);
    EXPECT_EQ(messages.convert(0x80E4D), "Invalid user name or password.");
    EXPECT_EQ(
        messages.convert(0x80E07),
        "A literal value could not be converted to the correct type.Contact to support@example.com for the "
        "solution.");
    EXPECT_EQ(messages.convert(12345), "");
    const tk_error_row twice[] = {{1, "first"}, {1, "second"}};
    EXPECT_EQ(tk_error_converter(2, twice).convert(1), "first");
    EXPECT_THROW(tk_error_converter(1, nullptr), tk_mail_assertion);
    EXPECT_EQ(tk_error_converter().size(), 0u);
}

TEST(error_handler_console, level_0_prints_context_and_flattened_message_and_returns) {
    error_handler handler;
    handler.set_context("Orders, record #7");
    testing::internal::CaptureStdout();
    handler.handle(tk_exception("Conversion failed\nfor this value", 0), false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error:\nOrders, record #7: Conversion failed for this value\n");
    handler.set_silent(true);
    testing::internal::CaptureStdout();
    handler.handle(tk_exception("quiet", 0), false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(error_handler_console, level_1_ends_the_process_even_when_silent) {
    EXPECT_EXIT(
        {
            error_handler handler;
            handler.set_silent(true);
            handler.handle(tk_exception("fatal", 1), false);
        },
        testing::ExitedWithCode(255), "");
}

TEST(error_handler_console, internal_error_is_shown_even_when_silent) {
    EXPECT_EXIT(
        {
            error_handler handler;
            handler.set_silent(true);
            handler.handle(tk_mail_assertion("tk_cmdli.cpp", 19), false);
        },
        testing::ExitedWithCode(255), "");
    error_handler* none = error_handler::instance();
    EXPECT_EQ(none, nullptr);
}

TEST(error_handler_console, a_second_handler_is_an_internal_error) {
    error_handler handler;
    EXPECT_THROW(error_handler second, tk_mail_assertion);
    EXPECT_EQ(error_handler::instance(), &handler);
}

namespace {
const tk_cmd_option options[] = {{0, "--dest="}, {1, "--help"}, {10, "--silent"}, {0, ""}};
}

TEST(tk_cmdli, first_matching_prefix_wins_and_the_rest_is_collected) {
    const char* argv[] = {"prog", "--dest=", "--helpme", "--silentx", "-dest=x", "bare"};
    tk_cmdli scanner(6, argv, options);
    std::vector<std::pair<int, std::string>> seen;
    for (; scanner.has_current(); scanner.next()) seen.emplace_back(scanner.id(), scanner.value());
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{
                        {0, ""}, {1, "me"}, {10, "x"}, {-1, "-dest=x"}, {-1, "bare"}}));
    EXPECT_EQ(scanner.unrecognised_count(), 2);
    EXPECT_THROW(scanner.next(), tk_mail_assertion);
}

TEST(tk_cmdli, a_21st_unrecognised_argument_is_an_internal_error) {
    std::vector<const char*> argv{"prog"};
    for (int i = 0; i < 21; ++i) argv.push_back("x");
    tk_cmdli scanner(static_cast<int>(argv.size()), argv.data(), options);
    for (int i = 0; i < 19; ++i) scanner.next();
    EXPECT_EQ(scanner.unrecognised_count(), 20);
    try {
        scanner.next();
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_NE(e.message().find("746b5f636d646c692e637070"), std::string::npos); // tk_cmdli.cpp
    }
}
