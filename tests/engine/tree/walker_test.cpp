// Scanning real trees into snapshots, file ids and the directory fingerprint.
#include "engine/tree/walker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "engine/base/errors.h"
#include "engine/jobs/calculate_fingerprint.h"
#include "engine/tree/fingerprint.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

namespace {

constexpr char16_t kEmptyId[] = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";

CDirSnapshot Snapshot(PathList directories, PathList files, AttributeMap attributes, TextMap ids) {
  CDirSnapshot s;
  s.directories = std::move(directories);
  s.files = std::move(files);
  s.attributes = std::move(attributes);
  s.fileIds = std::move(ids);
  return s;
}

std::u16string Fingerprint(CDirSnapshot s) {
  RecordingSink sink;
  return ComputeFingerprint(sink, s);
}

bool Contains(const PathList& list, const std::u16string& path) {
  return std::find(list.begin(), list.end(), path) != list.end();
}

}  // namespace

TEST(ComputeFingerprint, KnownValues) {
  const std::u16string bId = u"e9d71f5ee7c92d6dc9e92ffdad17b8bd49418f98";  // sha1("b")
  struct Case {
    const char* name;
    CDirSnapshot snapshot;
    const char16_t* fingerprint;
  } cases[] = {
      {"empty tree", {}, kEmptyId},
      {"one empty file", Snapshot({}, {u"\\a.txt"}, {{u"\\a.txt", 32}}, {{u"\\a.txt", kEmptyId}}),
       u"733e2150749e5a0cdfece713f0fa046597c5a47c"},
      // A word with the top bit set enters as a negative number.
      {"POSIX word",
       Snapshot({}, {u"\\a.txt"}, {{u"\\a.txt", 0x81A40020}}, {{u"\\a.txt", kEmptyId}}),
       u"c1cd8e1052fe58aacd10659b99ea85e2b87072e3"},
      // Directories first, then files, each sorted.
      {"directories then files",
       Snapshot({u"\\sub"}, {u"\\sub\\b.txt", u"\\a.txt"},
                {{u"\\sub", 16}, {u"\\a.txt", 32}, {u"\\sub\\b.txt", 33}},
                {{u"\\a.txt", kEmptyId}, {u"\\sub\\b.txt", bId}}),
       u"bb2d87d6567a7c7a0c4bc881b4180b1d0e3ad035"},
  };
  for (Case& c : cases) EXPECT_EQ(Fingerprint(c.snapshot), c.fingerprint) << c.name;
}

TEST(ComputeFingerprint, DependsOnContentNotOnListingOrder) {
  const CDirSnapshot base =
      Snapshot({u"\\a", u"\\b"}, {u"\\a\\x", u"\\b\\y", u"\\z"},
               {{u"\\a", 16}, {u"\\b", 16}, {u"\\a\\x", 32}, {u"\\b\\y", 32}, {u"\\z", 32}},
               {{u"\\a\\x", kEmptyId}, {u"\\b\\y", kEmptyId}, {u"\\z", kEmptyId}});
  const std::u16string fp = Fingerprint(base);

  CDirSnapshot reordered = base;
  std::reverse(reordered.directories.begin(), reordered.directories.end());
  std::rotate(reordered.files.begin(), reordered.files.begin() + 1, reordered.files.end());
  EXPECT_EQ(Fingerprint(reordered), fp);

  CDirSnapshot renamed = base;  // case of a name counts
  renamed.files[2] = u"\\Z";
  renamed.attributes[u"\\Z"] = 32;
  renamed.fileIds[u"\\Z"] = kEmptyId;
  EXPECT_NE(Fingerprint(renamed), fp);

  CDirSnapshot readOnly = base;  // any attribute bit counts
  readOnly.attributes[u"\\z"] = 33;
  EXPECT_NE(Fingerprint(readOnly), fp);

  CDirSnapshot withoutIds = base;
  withoutIds.fileIds.clear();
  EXPECT_NE(Fingerprint(withoutIds), fp);
}

TEST(ComputeFingerprint, SortsTheListsAndStepsOncePerEntry) {
  CDirSnapshot s = Snapshot({u"\\b", u"\\B", u"\\a"}, {u"\\b\\2", u"\\a\\1"}, {}, {});
  RecordingSink sink;
  ComputeFingerprint(sink, s);
  EXPECT_EQ(s.directories, (PathList{u"\\B", u"\\a", u"\\b"}));
  EXPECT_EQ(s.files, (PathList{u"\\a\\1", u"\\b\\2"}));
  EXPECT_EQ(sink.calls,
            (std::vector<std::u16string>{u"status:Calculating directory fingerprint...", u"range:5",
                                         u"reset", u"step", u"step", u"step", u"step", u"step"}));
}

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

TEST(CalculateFingerprint, MissingDirectoryIsATypeOneError) {
  TempDir dir;
  dir.WriteFile("file", "");
  struct Case {
    std::u16string typed, shown;
  } cases[] = {
      {dir.wpath() + u"/missing/", dir.wpath() + u"/missing"},
      {dir.wpath() + u"/file", dir.wpath() + u"/file"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    try {
      CalculateFingerprint(sink, c.typed, u"");
      ADD_FAILURE() << Narrow(c.typed);
    } catch (const CZRErr& e) {
      EXPECT_EQ(e.type, 1);
      EXPECT_EQ(e.message, u"Directory for fingerprinting does  not exists: " + c.shown);
      EXPECT_STREQ(e.file, ".\\rezeriravodu");
      EXPECT_TRUE(sink.calls.empty());
    }
  }
}

TEST(CalculateFingerprint, SameTreeSameValueWhereverItLiesAndHoweverTyped) {
  TempDir one, two;
  for (const TempDir* d : {&one, &two}) {
    d->WriteFile("a.txt", "alpha");
    d->WriteFile("sub/deeper/b.txt", "beta");
    d->MakeDir("empty");
  }
  RecordingSink sink;
  const std::u16string fp = CalculateFingerprint(sink, one.wpath(), u"");
  EXPECT_EQ(sink.statuses.back(), u"Fingerprint calculated.");
  EXPECT_EQ(CalculateFingerprint(sink, two.wpath(), u""), fp);
  EXPECT_EQ(CalculateFingerprint(sink, u"/" + one.wpath() + u"//", u""), fp);
  EXPECT_EQ(CalculateFingerprint(sink, one.wpath(), u"*"), kEmptyId);

  ASSERT_EQ(chmod(two.Native("a.txt").c_str(), 0444), 0);
  EXPECT_NE(CalculateFingerprint(sink, two.wpath(), u""), fp);
}
