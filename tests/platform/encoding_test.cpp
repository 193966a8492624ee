// The lossless mapping between native names and engine text.
#include "platform/encoding.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <vector>

#include "platform/directory_listing.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

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

TEST(DirectoryListing, ReportsNamesAndKindsWithoutFollowingLinks) {
  TempDir dir;
  dir.WriteFile("f", "");
  dir.MakeDir("d");
  dir.WriteFile("caf\xE9", "");
  ASSERT_EQ(symlink("d", dir.Native("to-d").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.Native("dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.Native("pipe").c_str(), 0644), 0);
  using Kind = platform::EntryKind;
  for (const bool withWords : {false, true}) {
    platform::DirectoryListing listing;
    ASSERT_TRUE(listing.OpenRoot(dir.wpath()));
    std::vector<platform::ListedEntry> entries;
    std::u16string failed;
    ASSERT_TRUE(listing.ReadEntries(withWords, entries, failed));
    std::map<std::u16string, Kind> seen;
    for (const auto& e : entries) {
      seen[e.name] = e.kind;
      if (withWords && e.name == u"to-d") EXPECT_EQ(e.word, 0xA1FF0420u);
    }
    EXPECT_EQ(seen, (std::map<std::u16string, Kind>{{u"f", Kind::Other},
                                                    {u"d", Kind::Directory},
                                                    {u"caf\uEFE9", Kind::Other},
                                                    {u"to-d", Kind::Link},
                                                    {u"dangling", Kind::Link},
                                                    {u"pipe", Kind::Other}}));
    platform::DirectoryListing child;
    EXPECT_FALSE(child.OpenChild(listing, "to-d"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_TRUE(child.OpenChild(listing, "d"));
  }
  platform::DirectoryListing file;
  EXPECT_FALSE(file.OpenRoot(dir.wpath() + u"/f"));
}
