// The collecting pass on several threads against the plain serial walk:
// the same lists, words, stamps, ids and progress calls on a tree of every
// kind of entry and deeper than the directories it keeps open; the first
// unreadable file in walk order named whatever thread met it first; and the
// fingerprint from the scan's own order equal to the sorted one.
#include "engine/tree/collect_pass.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/jobs/calculate_fingerprint.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

// Sets the thread count for one scope.
class Threads {
 public:
  explicit Threads(unsigned count) { SetFileIdThreadCount(count); }
  ~Threads() { SetFileIdThreadCount(0); }
};

// What the serial walk gives: the calls up to the attribute phase, the
// lists, words and stamps, and the ids read the general way.
struct Reference {
  std::vector<std::u16string> calls;
  CDirSnapshot snapshot;
  std::vector<platform::EntryStamp> stamps;
};

Reference SerialScan(const std::u16string& root, const std::u16string& filter, bool ids) {
  Reference r;
  RecordingSink sink;
  const CIgnoreFilter compiled(filter);
  CFileCounterSink counter;
  sink.SetStatus(u"Counting all files");
  WalkDirectory(sink, root, u"", counter, compiled);
  sink.SetStatus(u"Collecting files...");
  sink.SetRange(counter.total);
  sink.ResetProgress();
  r.snapshot.root = root;
  r.snapshot.filter = filter;
  CFSLocator locator(&r.snapshot);
  std::vector<uint32_t> sizes;
  WalkDirectory(sink, root, u"", locator, compiled, &r.snapshot.attributes, &sizes, &r.stamps);
  r.calls = sink.calls;
  if (ids) {
    const Threads one(1);
    ComputeFileIds(sink, r.snapshot);
  }
  return r;
}

// A comb: each level holds the next, eight empty siblings and a file, so
// that most levels stay open for siblings still to come, past the count
// the pass keeps open; the top holds a directory of many files, files of
// every size class, a link, an ignored directory and the journal.
void MakeTree(TempDir& dir, int levels) {
  std::string level = "comb";
  for (int i = 0; i < levels; ++i) {
    for (char sibling = 'a'; sibling <= 'h'; ++sibling) dir.MakeDir(level + "/" + sibling);
    dir.WriteFile(level + "/file", std::to_string(i));
    level += "/next";
  }
  // More than one thread looks at the entries of a directory this large.
  for (int i = 0; i < 5000; ++i)
    dir.WriteFile("many/" + std::to_string(i), std::string(i % 300, 'x'));
  const size_t limit = kCollectReadLimit;
  for (const size_t size : {limit - 1, limit, limit + 1, size_t{3} << 20}) {
    dir.WriteFile("sizes/" + std::to_string(size), std::string(size, 's'));
  }
  ASSERT_EQ(symlink("many/1", dir.Native("link").c_str()), 0);
  dir.WriteFile("skip.obj/inside", "");
  dir.WriteFile(".torquelin-journal", "");
}

}  // namespace

TEST(CollectTree, GivesWhatTheSerialWalkGivesOnAnyThreadCount) {
  TempDir dir;
  MakeTree(dir, 160);
  for (const bool withFifo : {false, true}) {
    if (withFifo) {
      ASSERT_EQ(mkfifo(dir.Native("many/pipe").c_str(), 0644), 0);
    }
    // A FIFO fails when read: lists only.
    const bool ids = !withFifo;
    const Reference reference = SerialScan(dir.wpath(), u"*.obj", ids);
    ASSERT_GT(reference.snapshot.directories.size(), 1400u);
    for (const unsigned threads : {1u, 2u, 5u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, fifo " + std::to_string(withFifo));
      const Threads scope(threads);
      RecordingSink sink;
      std::vector<platform::EntryStamp> stamps;
      CDirSnapshot s = BuildSnapshot(sink, dir.wpath(), CIgnoreFilter(u"*.obj"), u"*.obj",
                                     ids ? FileIds::Compute : FileIds::Skip, nullptr, &stamps);
      const auto attributes =
          std::find(sink.calls.begin(), sink.calls.end(), u"status:Getting File attributes...");
      EXPECT_TRUE(std::vector<std::u16string>(sink.calls.begin(), attributes) == reference.calls);
      EXPECT_EQ(s.directories, reference.snapshot.directories);
      EXPECT_EQ(s.files, reference.snapshot.files);
      EXPECT_EQ(s.ignored, reference.snapshot.ignored);
      EXPECT_EQ(s.attributes, reference.snapshot.attributes);
      EXPECT_EQ(s.fileIds, reference.snapshot.fileIds);
      EXPECT_TRUE(stamps == reference.stamps);
    }
  }
}

// FIFOs in several directories, among enough files that the threads run
// ahead: whichever they meet first, the error names the first in walk
// order, and only after every entry was collected.
TEST(CollectTree, TheFirstUnreadableFileInWalkOrderIsReported) {
  TempDir dir;
  for (int d = 0; d < 6; ++d) {
    for (int i = 0; i < 200; ++i) {
      dir.WriteFile("d" + std::to_string(d) + "/" + std::to_string(i), std::to_string(i));
    }
  }
  for (const char* fifo : {"d1/p", "d3/p", "d3/q", "d5/p"}) {
    ASSERT_EQ(mkfifo(dir.Native(fifo).c_str(), 0644), 0);
  }
  const Reference reference = SerialScan(dir.wpath(), u"", false);
  const auto first = std::find_if(
      reference.snapshot.files.begin(), reference.snapshot.files.end(),
      [](const std::u16string& path) { return path.back() == u'p' || path.back() == u'q'; });
  ASSERT_NE(first, reference.snapshot.files.end());
  for (const unsigned threads : {1u, 2u, 5u}) {
    const Threads scope(threads);
    for (int round = 0; round < 3; ++round) {
      RecordingSink sink;
      // Ids before it stay, none after it.
      std::vector<FileId> ids;
      try {
        BuildSnapshot(sink, dir.wpath(), CIgnoreFilter(u""), u"", FileIds::Compute, &ids);
        ADD_FAILURE() << "a FIFO has no content id";
      } catch (const CZRErr& e) {
        EXPECT_EQ(e.message, u"Unable to open file:" + dir.wpath() + *first) << threads;
      }
      EXPECT_EQ(sink.statuses.back(), u"Calculating file ids...");
      EXPECT_EQ(ids.size(), static_cast<size_t>(first - reference.snapshot.files.begin()));
    }
  }
}

// Names on both sides of '\' in code-unit order, where the sorted order of
// paths is not that of a walk that sorts each directory by name, and names
// whose bytes become several stand-ins.
TEST(CollectTree, TheFingerprintFromTheScansOrderIsTheSortedOne) {
  TempDir dir;
  for (const char* file :
       {"a/x", "a/x y", "a/x-/1", "a/x]/2", "a b", "a_/3", "a.txt", "A/4", "a0/5", "a\\b",
        "z/a/b/c/d", "a\x80", "a\xEE\xBE\x80/6", "a\xEE\xBE\x80\xEF\x81\x9C", "a\xEF\x81\x9C/7"}) {
    dir.WriteFile(file, file);
  }
  dir.MakeDir("a/empty");
  for (const unsigned threads : {1u, 2u}) {
    const Threads scope(threads);
    RecordingSink sorted;
    CDirSnapshot s = BuildSnapshot(sorted, dir.wpath(), u"", FileIds::Compute);
    const std::u16string expected = ComputeFingerprint(sorted, s);
    RecordingSink sink;
    EXPECT_EQ(CalculateFingerprint(sink, dir.wpath(), u""), expected) << threads;
    EXPECT_EQ(sink.steps, sorted.steps) << threads;
  }
}

// A directory gone between its listing and its opening fails the scan by
// name, after the step and detail line of its own entry, as a walk does.
// (On one thread, so that nothing opens it early.)
TEST(CollectTree, ADirectoryVanishingBeforeItIsOpenedFailsTheScanInWalkOrder) {
  class RemovingSink : public RecordingSink {
   public:
    std::string gone;
    int seen = 0;
    void SetDetail(const std::u16string& text) override {
      RecordingSink::SetDetail(text);
      // The second time: the collecting pass, past the counting one.
      if (text == u"Processing: \\b\\c" && ++seen == 2) rmdir(gone.c_str());
    }
  };
  TempDir dir;
  dir.MakeDir("b/c");
  dir.WriteFile("b/f", "f");
  const Threads scope(1);
  RemovingSink sink;
  sink.gone = dir.Native("b/c");
  try {
    BuildSnapshot(sink, dir.wpath(), u"", FileIds::Compute);
    ADD_FAILURE() << "the scan passed over a vanished directory";
  } catch (const CZRErr& e) {
    EXPECT_EQ(e.message,
              u"An entry vanished while its directory was read: " + dir.wpath() + u"\\b\\c");
  }
  EXPECT_EQ(sink.calls.back(), u"detail:Processing: \\b\\c");
  EXPECT_EQ(sink.statuses.back(), u"Collecting files...");
}

// Cancelled at points across the collecting pass (inside a directory the
// threads share among them too): the same calls as on one thread, and the
// call returns, every thread joined.
TEST(CollectTree, CancelInTheCollectingPassMakesTheSameCallsOnAnyThreadCount) {
  TempDir dir;
  MakeTree(dir, 20);
  for (const uint64_t after : {uint64_t{400}, uint64_t{2000}, uint64_t{4000}, uint64_t{5300}}) {
    std::vector<std::u16string> one;
    for (const unsigned threads : {1u, 2u, 5u}) {
      const Threads scope(threads);
      RecordingSink sink;
      sink.cancelAfterCalls = after;
      EXPECT_THROW(BuildSnapshot(sink, dir.wpath(), u"*.obj", FileIds::Compute), COPCancel);
      ASSERT_NE(std::find(sink.calls.begin(), sink.calls.end(), u"status:Collecting files..."),
                sink.calls.end());
      if (threads == 1) one = sink.calls;
      EXPECT_TRUE(sink.calls == one) << after << " calls, " << threads << " threads";
    }
  }
}
