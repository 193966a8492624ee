// The system's words added to a shown error's code line, and only there.
#include "engine/base/error_code_text.h"

#include <gtest/gtest.h>

using namespace torquelin;

namespace {

struct Case {
  const char* name;
  std::u16string text;
  std::u16string shown;
};

}  // namespace

TEST(WithErrorCodeText, AddsTheSystemTextToTheCodeLineOnly) {
  const std::u16string head =
      u"Error type:1\nMessage: Directory for fingerprinting does  not exists: /x\n";
  const std::u16string tail = u"Location: .\\rezeriravodu line:64\n";
  const Case cases[] = {
      {"code 2", head + u"Error Code: 2\n" + tail,
       head + u"Error Code: 2 (No such file or directory)\n" + tail},
      {"hex code 1b", head + u"Error Code: 1b\n" + tail,
       head + u"Error Code: 1b (File too large)\n" + tail},
      {"code 0 names no error", head + u"Error Code: 0\n" + tail, head + u"Error Code: 0\n" + tail},
      {"message holding a code line",
       u"Error type:1\nMessage: a\nError Code: 5\nb\nError Code: 2\n" + tail,
       u"Error type:1\nMessage: a\nError Code: 5\nb\nError Code: 2 (No such file or directory)\n" +
           tail},
      {"not an error text", u"Error Code: 2\n", u"Error Code: 2\n"},
      {"unknown error text", u"A general unknown error has occured.",
       u"A general unknown error has occured."},
      {"code not ending its line", head + u"Error Code: 2x\n" + tail,
       head + u"Error Code: 2x\n" + tail},
  };
  for (const Case& c : cases) EXPECT_EQ(WithErrorCodeText(c.text), c.shown) << c.name;
}
