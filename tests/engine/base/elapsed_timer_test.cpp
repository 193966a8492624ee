// The run time shown when a job ends.
#include "engine/base/elapsed_timer.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace torquelin;

TEST(CElapsedTimer, FormatsHoursMinutesSeconds) {
  struct Case {
    int64_t seconds;
    const char16_t* text;
  } cases[] = {{3700, u"01:01:40"}, {59, u"00:00:59"}, {360000, u"100:00:00"}, {0, u"00:00:00"}};
  for (const Case& c : cases) {
    CElapsedTimer t;
    t.start = 4102444800;  // 2100-01-01: past 2038, where 32-bit seconds overflow
    t.end = t.start + c.seconds;
    EXPECT_EQ(t.Format(), c.text) << c.seconds;
  }
}
