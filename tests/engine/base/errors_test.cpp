// The small utilities every job uses: numbers, error text, timer, paths.
#include "engine/base/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "engine/base/elapsed_timer.h"
#include "engine/base/number_text.h"
#include "engine/tree/normalize_path.h"
#include "tests/support/test_sink.h"

TEST(NumberText, DecimalAndHexFollowPrintfForms) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(-2120941536), u"-2120941536");
  EXPECT_EQ(DecimalText(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(HexText(0), u"0");
  EXPECT_EQ(HexText(0x21), u"21");
  EXPECT_EQ(HexText(0x81A40020), u"81a40020");
}

TEST(CZRErr, GetTextHasFourLinesAndRecordsErrno) {
  errno = 0;
  CZRErr zero(1, u"Directory for fingerprinting does  not exists: /x", ".\\rezeriravodu", 42);
  EXPECT_EQ(zero.GetText(),
            u"Error type:1\nMessage: Directory for fingerprinting does  not exists: /x\n"
            u"Error Code: 0\nLocation: .\\rezeriravodu line:42\n");
  errno = ENOENT;
  CZRErr e(0, u"m", ".\\fileio", 7);
  EXPECT_EQ(e.lastError, static_cast<uint32_t>(ENOENT));
  e.lastError = 0x80070005;
  EXPECT_NE(e.GetText().find(u"Error Code: 80070005\n"), std::u16string::npos);
}

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

TEST(NormalizePath, SplitsAtBothSeparatorsAndKeepsTheLeadingOne) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"C:/data//sub/", u"C:/data/sub"}, {u"C:\\", u"C:"},           {u"", u""},
      {u"/tmp//a/", u"/tmp/a"},           {u"\\\\srv\\x", u"/srv/x"}, {u"///", u"/"},
      {u"rel\\dir", u"rel/dir"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizePath(c.in), c.out) << Narrow(c.in);
}
