// Scanning real trees into snapshots: phases, ignored entries, links, odd
// names and cancellation.
#include "engine/tree/walker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "engine/base/errors.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

namespace {

constexpr char16_t kEmptyId[] = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";

bool Contains(const PathList& list, const std::u16string& path) {
  return std::find(list.begin(), list.end(), path) != list.end();
}

}  // namespace

TEST(BuildSnapshot, ReportsPhasesInOrderAndStepsOncePerEntry) {
  TempDir dir;
  dir.WriteFile("a.txt", "");
  dir.WriteFile("sub/b.txt", "b");
  RecordingSink sink;
  CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", true);
  EXPECT_EQ(s.root, dir.wpath());
  EXPECT_EQ(s.directories, PathList{u"\\sub"});
  EXPECT_TRUE(Contains(s.files, u"\\a.txt") && Contains(s.files, u"\\sub\\b.txt"));
  EXPECT_EQ(s.attributes.at(u"\\sub") & 0x10, 0x10u);
  EXPECT_EQ(s.fileIds.at(u"\\a.txt"), kEmptyId);
  EXPECT_EQ(s.fileIds.at(u"\\sub\\b.txt"), u"e9d71f5ee7c92d6dc9e92ffdad17b8bd49418f98");
  EXPECT_EQ(sink.statuses, (std::vector<std::u16string>{
                               u"Counting all files", u"Collecting files...",
                               u"Getting File attributes...", u"Calculating file ids..."}));
  // 3 entries collected, 3 attributes read, 2 files hashed.
  EXPECT_EQ(sink.steps, 8u);
  EXPECT_EQ(std::count(sink.calls.begin(), sink.calls.end(), u"detail:Processing: \\sub"), 2);
  EXPECT_EQ(std::count(sink.calls.begin(), sink.calls.end(), u"range:3"), 2);
}

TEST(BuildSnapshot, IgnoredEntriesAndWhatLiesBelowThemAreLeftOut) {
  TempDir dir;
  dir.WriteFile("Debug/x.obj", "");
  dir.WriteFile("src/debug/y.txt", "");
  dir.WriteFile("src/mydebug/z.txt", "");
  dir.WriteFile("src/a.obj", "");
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"debug;*.obj", false);
  EXPECT_EQ(s.filter, u"debug;*.obj");
  PathList ignored = s.ignored;
  std::sort(ignored.begin(), ignored.end());
  EXPECT_EQ(ignored, (PathList{u"\\Debug", u"\\src\\a.obj", u"\\src\\debug"}));
  PathList dirs = s.directories;
  std::sort(dirs.begin(), dirs.end());
  EXPECT_EQ(dirs, (PathList{u"\\src", u"\\src\\mydebug"}));
  EXPECT_EQ(s.files, PathList{u"\\src\\mydebug\\z.txt"});
  EXPECT_TRUE(s.fileIds.empty());
  EXPECT_EQ(s.attributes.size(), 3u);
}

TEST(BuildSnapshot, FollowsLinksButNeverLoopsOnACycle) {
  TempDir dir;
  dir.WriteFile("a/f.txt", "f");
  ASSERT_EQ(symlink("..", dir.Native("a/up").c_str()), 0);
  ASSERT_EQ(symlink(".", dir.Native("a/self").c_str()), 0);
  ASSERT_EQ(symlink("a", dir.Native("link").c_str()), 0);
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", true);
  PathList dirs = s.directories;
  std::sort(dirs.begin(), dirs.end());
  // The cycle links are recorded but not entered; the plain link to a
  // sibling is a directory of its own and is entered.
  EXPECT_EQ(dirs, (PathList{u"\\a", u"\\a\\self", u"\\a\\up", u"\\link", u"\\link\\self",
                            u"\\link\\up"}));
  EXPECT_TRUE(Contains(s.files, u"\\link\\f.txt"));
  EXPECT_EQ(s.files.size(), 2u);
}

TEST(BuildSnapshot, AFifoIsListedAsAFileAndFailsOnlyWhenRead) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.Native("pipe").c_str(), 0644), 0);
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", false);
  EXPECT_EQ(s.files, PathList{u"\\pipe"});
  try {
    BuildSnapshot(sink, dir.wpath(), u"", true);
    ADD_FAILURE() << "a FIFO has no content id";
  } catch (const CZRErr& e) {
    EXPECT_EQ(e.message, u"Unable to open file:" + dir.wpath() + u"\\pipe");
  }
}

TEST(BuildSnapshot, UndecodableNamesAndBackslashesSurviveTheScan) {
  TempDir dir;
  const std::string raw = "caf\xE9";  // Latin-1, not UTF-8
  dir.WriteFile(raw + "/x", "x");
  dir.WriteFile("a\\b", "ab");
  dir.WriteFile("\xC3\xA9t\xC3\xA9", "e");  // valid UTF-8 stays plain text
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", true);
  const std::u16string rawDir = u"\\caf\uEFE9";
  EXPECT_EQ(s.directories, PathList{rawDir});
  EXPECT_TRUE(Contains(s.files, rawDir + u"\\x"));
  EXPECT_TRUE(Contains(s.files, u"\\a\uF05Cb"));
  EXPECT_TRUE(Contains(s.files, u"\\\u00E9t\u00E9"));
  // Each id was read through the mapped name, so the mapping led back to
  // the right bytes on disk.
  EXPECT_EQ(s.fileIds.at(rawDir + u"\\x"), u"11f6ad8ec52a2984abaafd7c3b516503785c2072");
  EXPECT_EQ(s.fileIds.at(u"\\a\uF05Cb"), u"da23614e02469a0d7c7bd1bdab5c9c474b1904dc");
  EXPECT_NE(s.attributes.at(rawDir), 0u);
}

TEST(BuildSnapshot, CancelStopsTheScan) {
  TempDir dir;
  dir.WriteFile("a/b.txt", "");
  for (const char16_t* phase : {u"Counting all files", u"Collecting files...",
                                u"Getting File attributes...", u"Calculating file ids..."}) {
    RecordingSink sink;
    sink.cancelOnStatus = phase;
    EXPECT_THROW(BuildSnapshot(sink, dir.wpath(), u"", true), COPCancel) << Narrow(phase);
  }
}
