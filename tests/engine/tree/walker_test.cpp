// Scanning real trees into snapshots: phases, ignored entries, links as
// entries of their own, odd names, trees deeper than a path can name, the
// directories and entries a scan cannot read (which fail it by name), and
// cancellation.
#include "engine/tree/walker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/base/number_text.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

constexpr char16_t kEmptyId[] = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";

bool Contains(const PathList& list, const std::u16string& path) {
  return std::find(list.begin(), list.end(), path) != list.end();
}

PathList Sorted(PathList list) {
  std::sort(list.begin(), list.end());
  return list;
}

// The message of the CZRErr a scan raises, or "<no error>".
std::string ScanError(const std::u16string& root) {
  RecordingSink sink;
  try {
    BuildSnapshot(sink, root, u"", FileIds::Skip);
  } catch (const CZRErr& e) {
    return Narrow(e.message);
  }
  return "<no error>";
}

}  // namespace

TEST(BuildSnapshot, ReportsPhasesInOrderAndStepsOncePerEntry) {
  TempDir dir;
  dir.WriteFile("a.txt", "");
  dir.WriteFile("sub/b.txt", "b");
  RecordingSink sink;
  CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
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

// The stamps ride along with the files, so a job can tell later whether a
// file is still the one that was read.
TEST(BuildSnapshot, HandsBackEachFilesStampInFileOrder) {
  TempDir dir;
  dir.WriteFile("a.txt", "a");
  dir.WriteFile("sub/b.txt", "bb");
  dir.WriteFile("sub/c.txt", "ccc");
  RecordingSink sink;
  std::vector<platform::EntryStamp> stamps;
  CDirSnapshot s =
      BuildSnapshot(sink, dir.wpath(), CIgnoreFilter(u""), u"", FileIds::Skip, nullptr, &stamps);
  ASSERT_EQ(stamps.size(), s.files.size());
  for (size_t i = 0; i < s.files.size(); ++i) {
    const platform::Result<platform::EntryStamp> now =
        platform::StampEntry(dir.wpath() + s.files[i]);
    ASSERT_TRUE(now);
    EXPECT_EQ(stamps[i], *now) << Narrow(s.files[i]);
  }
}

TEST(BuildSnapshot, IgnoredEntriesAndWhatLiesBelowThemAreLeftOut) {
  TempDir dir;
  dir.WriteFile("Debug/x.obj", "");
  dir.WriteFile("src/debug/y.txt", "");
  dir.WriteFile("src/mydebug/z.txt", "");
  dir.WriteFile("src/a.obj", "");
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"debug;*.obj", FileIds::Skip);
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

// A file a job keeps in the root is left out by the node it is, never by
// its name: a user's file of that name is part of the tree like any other.
TEST(BuildSnapshot, OnlyTheHeldFileItselfIsLeftOut) {
  TempDir dir;
  dir.WriteFile(".torquelin-journal", "journal");
  dir.WriteFile("sub/.torquelin-journal", "a user's file");
  struct stat st;
  ASSERT_EQ(stat(dir.Native(".torquelin-journal").c_str(), &st), 0);
  const LeftOutEntry held{u".torquelin-journal", {st.st_dev, st.st_ino}};
  const LeftOutEntry other{u".torquelin-journal", {st.st_dev, st.st_ino + 1}};
  struct Case {
    const LeftOutEntry* leaveOut;
    PathList files;
  };
  const Case cases[] = {
      {nullptr, {u"\\.torquelin-journal", u"\\sub\\.torquelin-journal"}},
      {&held, {u"\\sub\\.torquelin-journal"}},
      {&other, {u"\\.torquelin-journal", u"\\sub\\.torquelin-journal"}},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), CIgnoreFilter(u""), u"", FileIds::Compute,
                                   nullptr, nullptr, nullptr, c.leaveOut);
    std::sort(s.files.begin(), s.files.end());
    EXPECT_EQ(s.files, c.files);
    EXPECT_TRUE(s.ignored.empty());
    // The counting pass agrees: the bar's range is every entry collected.
    const auto range =
        std::find(sink.calls.begin(), sink.calls.end(), u"status:Collecting files...");
    ASSERT_NE(range, sink.calls.end());
    EXPECT_EQ(*(range + 1), u"range:" + DecimalText(static_cast<int64_t>(c.files.size() + 1)));
  }
}

TEST(BuildSnapshot, AFifoIsListedAsAFileAndFailsOnlyWhenRead) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.Native("pipe").c_str(), 0644), 0);
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", FileIds::Skip);
  EXPECT_EQ(s.files, PathList{u"\\pipe"});
  try {
    BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
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
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
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
    EXPECT_THROW(BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute), COPCancel)
        << Narrow(phase);
  }
}

TEST(Walk, LinksAreEntriesOfTheirOwnAndNeverEntered) {
  TempDir dir;
  dir.WriteFile("a/f.txt", "f");
  // Each kind of target a link can hold: a cycle up, itself, a sibling
  // directory, a file, nothing, an absolute path.
  for (const auto& [name, target] :
       std::vector<std::pair<std::string, std::string>>{{"a/up", ".."},
                                                        {"a/self", "."},
                                                        {"link", "a"},
                                                        {"file-link", "a/f.txt"},
                                                        {"dangling", "nowhere"},
                                                        {"absolute", "/etc"}}) {
    ASSERT_EQ(symlink(target.c_str(), dir.Native(name).c_str()), 0);
  }
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
  EXPECT_EQ(s.directories, PathList{u"\\a"});
  EXPECT_EQ(Sorted(s.files), (PathList{u"\\a\\f.txt", u"\\a\\self", u"\\a\\up", u"\\absolute",
                                       u"\\dangling", u"\\file-link", u"\\link"}));
  // The id is the SHA-1 of the target text, whatever (if anything) is there.
  const std::pair<const char16_t*, const char16_t*> ids[] = {
      {u"\\link", u"86f7e437faa5a7fce15d1ddcb9eaeaea377667b8"},
      {u"\\a\\up", u"9d891e731f75deae56884d79e9816736b7488080"},
      {u"\\file-link", u"fe3d13b08daeae45a4735f8000c2d0ecb99d2a89"},
      {u"\\dangling", u"916001a3bfa343d010b9fde88ef915507f6f6205"},
      {u"\\absolute", u"c0bc6f00fb44f015c1ed113e5bb202fd0597bec2"}};
  for (const auto& [path, id] : ids) {
    EXPECT_EQ(s.fileIds.at(path), id) << Narrow(path);
    EXPECT_EQ(s.attributes.at(path), 0xA1FF0420u) << Narrow(path);
  }
}

// 24 levels, each with two links to the next: once every one of the 2^24
// paths through them was walked; now each link is one entry. (Its time is
// held to a budget by bench/walk_bench.)
TEST(Walk, ALadderOfLinksIsListedOnce) {
  TempDir dir;
  for (int i = 0; i <= 24; ++i) dir.MakeDir("d" + std::to_string(i));
  for (int i = 0; i < 24; ++i) {
    const std::string next = "../d" + std::to_string(i + 1);
    for (const char* name : {"/x1", "/x2"}) {
      ASSERT_EQ(symlink(next.c_str(), dir.Native("d" + std::to_string(i) + name).c_str()), 0);
    }
  }
  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
  EXPECT_EQ(s.directories.size(), 25u);
  EXPECT_EQ(s.files.size(), 48u);
}

// 300 levels of 40-character names: far beyond the 4,096 bytes a path may
// have, and beyond the levels the walk keeps open at once; the file and the
// link at the bottom are read for their ids all the same.
TEST(Walk, ATreeDeeperThanAPathCanNameIsWalkedWhole) {
  TempDir dir;
  const std::string name(40, 'n');
  constexpr int kLevels = 300;
  std::vector<int> fds{open(dir.path().c_str(), O_RDONLY | O_DIRECTORY)};
  for (int i = 0; i < kLevels; ++i) {
    ASSERT_EQ(mkdirat(fds.back(), name.c_str(), 0755), 0);
    fds.push_back(openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(fds.back(), 0);
  }
  const int bottom = openat(fds.back(), "bottom.txt", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(bottom, 0);
  close(bottom);
  ASSERT_EQ(symlinkat("bottom.txt", fds.back(), "link"), 0);

  RecordingSink sink;
  const CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
  EXPECT_EQ(s.directories.size(), size_t{kLevels});
  ASSERT_EQ(s.files.size(), 2u);
  const std::u16string& file = s.files[0].back() == u't' ? s.files[0] : s.files[1];
  EXPECT_EQ(file.size(), kLevels * (name.size() + 1) + 11);
  EXPECT_EQ(s.attributes.at(file), 0x81A40020u);
  EXPECT_EQ(s.fileIds.at(file), u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
  // SHA-1 of "bottom.txt", the link's target text.
  EXPECT_EQ(s.fileIds.at(file.substr(0, file.size() - 10) + u"link"),
            u"6f12a6fd202da3c4ca62c680623269419b9c0e55");

  // The temporary directory's own removal goes by paths, which cannot reach
  // this deep.
  unlinkat(fds.back(), "bottom.txt", 0);
  unlinkat(fds.back(), "link", 0);
  for (int i = kLevels; i > 0; --i) {
    close(fds[i]);
    unlinkat(fds[i - 1], name.c_str(), AT_REMOVEDIR);
  }
  close(fds[0]);
}

// Run as an unprivileged user (as root, in a child that becomes nobody):
// a directory it may not list is no silent hole.
TEST(Walk, ADirectoryThatCannotBeListedFailsTheScanNamingIt) {
  TempDir dir;
  dir.WriteFile("open/x.txt", "x");
  dir.MakeDir("closed/inside");
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.Native("open").c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.Native("closed").c_str(), 0), 0);
  const std::string expected = "Unable to list a directory: " + dir.path() + "\\closed";
  if (geteuid() != 0) {
    EXPECT_EQ(ScanError(dir.wpath()), expected);
    return;
  }
  // The child, as nobody, exits 0 only when it saw exactly that error.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const uid_t nobody = 65534;
    if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(3);
    _exit(ScanError(dir.wpath()) == expected ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Walk, AnEntryVanishingWhileItsDirectoryIsReadFailsTheScan) {
  // Removes the directory once it has been listed, before it is entered.
  class RemovingSink : public RecordingSink {
   public:
    std::function<void()> onGone;
    void SetDetail(const std::u16string& text) override {
      RecordingSink::SetDetail(text);
      if (text == u"Processing: \\gone" && onGone) std::exchange(onGone, nullptr)();
    }
  };
  TempDir dir;
  dir.MakeDir("gone");
  RemovingSink sink;
  sink.onGone = [&] { rmdir(dir.Native("gone").c_str()); };
  try {
    BuildSnapshot(sink, dir.wpath(), u"", FileIds::Skip);
    ADD_FAILURE() << "the scan passed over a vanished directory";
  } catch (const CZRErr& e) {
    EXPECT_EQ(Narrow(e.message),
              "An entry vanished while its directory was read: " + dir.path() + "\\gone");
    EXPECT_EQ(e.line, 66);
  }
}
