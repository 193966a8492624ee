// The safe-path rule that every stored path of a patch must pass.
#include "platform/safe_path.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_sink.h"

using namespace torquelin;

TEST(SafePath, AcceptsOnlyCleanRelativePaths) {
  struct Case {
    std::u16string path;
    bool safe;
  } cases[] = {
      {u"\\a.txt", true},
      {u"\\sub\\f.txt", true},
      {u"\\a:b", true},  // ':' is an ordinary byte on POSIX
      {u"\\...", true},  // three dots is a name, not a step up
      {u"\\.hidden\\..x", true},
      {u"\\ \\x ", true},
      {u"\\Grüße\\\U0001F600", true},
      {u"\\back\xF05Cslash", true},     // becomes a '\' byte inside one name
      {u"\\\xF05C..", true},            // the name "\..", not ".."
      {u"\\\xEF80\xEFFF", true},        // raw bytes 0x80 and 0xFF
      {u"\\\xEF2E", true},              // outside the raw-byte range: stays U+EF2E
      {u"\\\xEFEE\xEFBE\xEF80", true},  // a name really holding U+EF80
      // Second texts for a name on disk: U+FFFD, and e acute spelled in stand-ins.
      {u"\\\xD800", false},
      {u"\\\xEFC3\xEFA9", false},
      {u"", false},
      {u"\\", false},
      {u"a.txt", false},
      {u"/etc/passwd", false},
      {u"\\\\a", false},
      {u"\\a\\\\b", false},
      {u"\\a\\", false},
      {u"\\.", false},
      {u"\\..", false},
      {u"\\..\\x", false},
      {u"\\a\\..\\..\\x", false},
      {u"\\a\\.\\x", false},
      {u"\\a/../../x", false},
      {u"\\a/b", false},
      {std::u16string(u"\\a\0b", 4), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::IsSafeRelativePath(c.path), c.safe) << Narrow(c.path);
  }
}
