// Typed directory paths made into the one form the jobs compare and show.
#include "engine/tree/normalize_path.h"

#include <gtest/gtest.h>

#include "tests/support/test_sink.h"

using namespace torquelin;

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
