#include "agent/agent_progress.hpp"

#include <gtest/gtest.h>

TEST(agent_progress, line_tells_pace_and_time_left_and_fits_the_terminal) {
    // 2 of 4 tables done in 30 s; this one half done in 10 s.
    EXPECT_EQ(agent_progress::format(u"Orders", 500, 1000, 2, 4, 10, 40, 200),
              "[3/4] Orders: 500 of 1000 records, 50 rows/s, 0:10 left, run 0:25");
    // Nothing done yet: no rate to guess from.
    EXPECT_EQ(agent_progress::format(u"Orders", 0, 1000, 0, 1, 0, 0, 200), "[1/1] Orders: 0 of 1000 records, 0 rows/s");
    // Cut short of the last column, never inside a character.
    std::string line = agent_progress::format(u"\u00e9\u00e9\u00e9\u00e9", 0, 1, 0, 1, 0, 0, 11);
    EXPECT_EQ(line, "[1/1] \xC3\xA9\xC3\xA9");
}
