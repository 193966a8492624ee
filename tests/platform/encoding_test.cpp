// The lossless mapping between native names and engine text.
#include "platform/encoding.h"

#include <gtest/gtest.h>

#include <string>

using namespace torquelin;

TEST(NameMapping, EveryByteSequenceRoundTrips) {
  struct Case {
    std::string native;
    std::u16string text;
  } cases[] = {
      {"plain.txt", u"plain.txt"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"caf\xE9", u"caf\uEFE9"},  // Latin-1 byte
      {"\xFF\xFE", u"\uEFFF\uEFFE"},
      {"a\\b", u"a\uF05Cb"},                    // '\' is not a separator here
      {"\xC0\xAF", u"\uEFC0\uEFAF"},            // overlong '/'
      {"\xED\xA0\x80", u"\uEFED\uEFA0\uEF80"},  // an encoded surrogate
      {"\xE2\x82", u"\uEFE2\uEF82"},            // truncated sequence
      {"\x80x", u"\uEF80x"},                    // stray continuation byte
      // A name really holding a stand-in character carries its bytes' stand-ins,
      // apart from the names above that the character alone stands for.
      {"\xEE\xBE\x80", u"\uEFEE\uEFBE\uEF80"},        // U+EF80, not byte 0x80
      {"\xEE\xBF\xBF", u"\uEFEE\uEFBF\uEFBF"},        // U+EFFF, not byte 0xFF
      {"a\xEF\x81\x9C", u"a\uEFEF\uEF81\uEF9C"},      // U+F05C, not "a\\"
      {"\xEE\xBD\xBF\xEF\x81\x9B", u"\uEF7F\uF05B"},  // their neighbours are plain
      {"\xEE\xBE", u"\uEFEE\uEFBE"},                  // U+EF80 cut short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::NameFromNative(c.native), c.text) << c.native;
    EXPECT_EQ(platform::NameToNative(c.text), c.native) << c.native;
  }
}

TEST(NameMapping, NativePathsUseSlashesAndMapEachComponent) {
  EXPECT_EQ(platform::ToNativePath(u"/tmp/root\\sub\\caf\uEFE9\\a\uF05Cb"),
            "/tmp/root/sub/caf\xE9/a\\b");
  EXPECT_EQ(platform::ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");  // lone surrogate
}

// Typed text maps bytes as names do (a typed '\' stays a backslash), so a
// typed path names the file on disk; the console shows the bytes on disk.
TEST(NameMapping, TypedAndShownTextMeanTheBytesOnDisk) {
  struct Case {
    std::string native;
    std::u16string typed, shown;
    std::string terminal;
  } cases[] = {
      {"/d/caf\xE9", u"/d/caf\uEFE9", u"/d/caf\xDCE9", "/d/caf\\xe9"},
      {"/d/\xEE\xBE\x80", u"/d/\uEFEE\uEFBE\uEF80", u"/d/\uEF80", "/d/\xEE\xBE\x80"},
      {"/d/a\xEF\x81\x9C", u"/d/a\uEFEF\uEF81\uEF9C", u"/d/a\uF05C", "/d/a\xEF\x81\x9C"},
      {"/\xF0\x90\x82\x80", u"/\U00010080", u"/\U00010080", "/\xF0\x90\x82\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::TextFromArgument(c.native), c.typed) << c.terminal;
    EXPECT_EQ(platform::ToNativePath(c.typed), c.native);
    EXPECT_EQ(platform::ShownText(c.typed), c.shown) << c.terminal;
    EXPECT_EQ(platform::ToTerminalUtf8(c.typed), c.terminal);
  }
  // Text no name maps to shows as its bytes read: a lone surrogate, and
  // stand-ins that spell e acute; a name's '\' is a '\' again.
  EXPECT_EQ(platform::ShownText(u"x\xD800\uEFC3\uEFA9\\a\uF05Cb"), u"x\uFFFD\u00E9\\a\\b");
}
