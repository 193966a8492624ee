// Listing a directory by descriptor: names and kinds, never through a link.
#include "platform/directory_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <vector>

#include "tests/support/temp_dir.h"

using namespace torquelin;

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
      if (withWords && e.name == u"to-d") {
        EXPECT_EQ(e.word, 0xA1FF0420u);
      }
    }
    EXPECT_EQ(seen, (std::map<std::u16string, Kind>{{u"f", Kind::Other},
                                                    {u"d", Kind::Directory},
                                                    {u"caf\uEFE9", Kind::Other},
                                                    {u"to-d", Kind::Link},
                                                    {u"dangling", Kind::Link},
                                                    {u"pipe", Kind::Other}}));
    platform::DirectoryListing child;
    const platform::Status throughLink = child.OpenChild(listing, "to-d");
    EXPECT_FALSE(throughLink);
    EXPECT_EQ(throughLink.error(), static_cast<uint32_t>(ELOOP));
    EXPECT_TRUE(child.OpenChild(listing, "d"));
  }
  platform::DirectoryListing file;
  EXPECT_FALSE(file.OpenRoot(dir.wpath() + u"/f"));
}
