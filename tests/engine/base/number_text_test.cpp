// Numbers in the text forms the patch and report files hold.
#include "engine/base/number_text.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace torquelin;

TEST(NumberText, DecimalAndHexFollowPrintfForms) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(-2120941536), u"-2120941536");
  EXPECT_EQ(DecimalText(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(HexText(0), u"0");
  EXPECT_EQ(HexText(0x21), u"21");
  EXPECT_EQ(HexText(0x81A40020), u"81a40020");
}
