#include "ODBC/odbc_error.hpp"
#include "ODBC/odbc_read_ahead.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

odbc_row make_row(int number, size_t text_size = 0) {
    odbc_row row(2);
    row[0].status = DBSTATUS_S_OK;
    std::string digits = std::to_string(number);
    row[0].text = u"r" + std::u16string(digits.begin(), digits.end());
    row[1].status = text_size ? DBSTATUS_S_OK : DBSTATUS_S_ISNULL;
    row[1].text.assign(text_size, u'x');
    return row;
}

// Numbered rows; fails with an ODBC error instead of giving row `fail_at`, as a dropped
// connection does in the middle of a result.
class counting_source : public odbc_result {
public:
    counting_source(int rows, int fail_at = -1, size_t text_size = 0)
        : m_rows(rows), m_fail_at(fail_at), m_text_size(text_size) {
        m_columns.resize(2);
    }
    const std::vector<odbc_column>& columns() const override { return m_columns; }
    bool fetch(odbc_row& row) override {
        if (delay.count()) std::this_thread::sleep_for(delay);
        if (m_next == m_fail_at) throw odbc_error(E_FAIL, u"Communication link failure");
        if (m_next >= m_rows) return false;
        row = make_row(m_next++, m_text_size);
        ++fetched;
        return true;
    }
    void restart() override {
        m_next = 0;
        ++restarts;
    }

    std::atomic<int> fetched{0};
    int restarts = 0;
    std::chrono::milliseconds delay{0};

private:
    std::vector<odbc_column> m_columns;
    int m_rows;
    int m_fail_at;
    size_t m_text_size;
    int m_next = 0;
};

std::vector<std::u16string> read_all(odbc_result& result) {
    std::vector<std::u16string> names;
    odbc_row row;
    while (result.fetch(row)) names.push_back(row[0].text);
    return names;
}

std::vector<std::u16string> expected_names(int count) {
    std::vector<std::u16string> names;
    for (int i = 0; i < count; ++i) names.push_back(make_row(i)[0].text);
    return names;
}

} // namespace

TEST(odbc_read_ahead, gives_every_row_in_order_then_stays_at_the_end) {
    // Around the batch size: no row lost or doubled where batches meet.
    for (int count : {0, 1, 255, 256, 257, 1000}) {
        odbc_read_ahead result(std::make_unique<counting_source>(count));
        EXPECT_EQ(read_all(result), expected_names(count)) << count << " rows";
        odbc_row row;
        EXPECT_FALSE(result.fetch(row));
        EXPECT_FALSE(result.fetch(row));
    }
}

TEST(odbc_read_ahead, hands_over_the_values_whole) {
    odbc_read_ahead result(std::make_unique<counting_source>(3, -1, 70000));
    odbc_row row;
    ASSERT_TRUE(result.fetch(row));
    ASSERT_EQ(row.size(), 2u);
    EXPECT_EQ(row[1].status, DBSTATUS_S_OK);
    EXPECT_EQ(row[1].text, std::u16string(70000, u'x'));
}

TEST(odbc_read_ahead, raises_a_failure_after_the_rows_before_it) {
    odbc_read_ahead result(std::make_unique<counting_source>(1000, 300));
    odbc_row row;
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(result.fetch(row)) << i;
        ASSERT_EQ(row[0].text, make_row(i)[0].text);
    }
    try {
        result.fetch(row);
        FAIL() << "no failure";
    } catch (const odbc_error& e) {
        EXPECT_EQ(e.records().front().description, u"Communication link failure");
    }
    EXPECT_FALSE(result.fetch(row));
}

TEST(odbc_read_ahead, a_failure_on_the_first_row_comes_first) {
    odbc_read_ahead result(std::make_unique<counting_source>(10, 0));
    odbc_row row;
    EXPECT_THROW(result.fetch(row), odbc_error);
}

TEST(odbc_read_ahead, restart_reads_from_the_first_row_again) {
    auto source = std::make_unique<counting_source>(600);
    counting_source& counting = *source;
    odbc_read_ahead result(std::move(source));
    odbc_row row;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(result.fetch(row));
    result.restart();
    EXPECT_EQ(counting.restarts, 1);
    EXPECT_EQ(read_all(result), expected_names(600));
    result.restart();
    EXPECT_EQ(read_all(result), expected_names(600));
}

TEST(odbc_read_ahead, reads_only_a_few_batches_ahead_of_a_slow_caller) {
    auto source = std::make_unique<counting_source>(100000);
    counting_source& counting = *source;
    odbc_read_ahead result(std::move(source));
    odbc_row row;
    ASSERT_TRUE(result.fetch(row));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(counting.fetched.load(),
              static_cast<int>(odbc_read_ahead::batch_count * odbc_read_ahead::batch_rows));
}

TEST(odbc_read_ahead, rows_of_large_values_are_held_a_few_at_a_time) {
    // 200 rows of 600 KB: a batch ends after two, and the reader stops once 4 MB wait.
    auto source = std::make_unique<counting_source>(200, -1, 300000);
    counting_source& counting = *source;
    odbc_read_ahead result(std::move(source));
    odbc_row row;
    ASSERT_TRUE(result.fetch(row));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LE(counting.fetched.load(), 10);
    EXPECT_EQ(read_all(result).size(), 199u);
}

TEST(odbc_read_ahead, slow_rows_reach_a_waiting_caller_before_the_batch_is_full) {
    auto source = std::make_unique<counting_source>(60);
    source->delay = std::chrono::milliseconds(5);
    counting_source& counting = *source;
    odbc_read_ahead result(std::move(source));
    odbc_row row;
    ASSERT_TRUE(result.fetch(row));
    // Rows that trickle in are handed over after a short while, not when the result ends.
    EXPECT_LT(counting.fetched.load(), 40);
    EXPECT_EQ(read_all(result).size(), 59u);
}

TEST(odbc_read_ahead, going_away_in_the_middle_stops_the_reader) {
    {
        odbc_read_ahead result(std::make_unique<counting_source>(1000000));
        odbc_row row;
        ASSERT_TRUE(result.fetch(row));
    } // reaching here without reading the million rows is the point
    // Never started: nothing to stop.
    odbc_read_ahead unused(std::make_unique<counting_source>(5));
}
