// The directory fingerprint from a snapshot, and file ids hashed on several
// threads: the same ids, the same progress calls in the same order, the same
// first error and the same cancellation points as on one thread, and no
// thread left running afterwards.
#include "engine/tree/fingerprint.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/base/errors.h"
#include "engine/hash/sha1.h"
#include "engine/tree/walker.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

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

// The sink is single-threaded: every call must come from the thread that
// runs the job.
class OneThreadSink : public RecordingSink {
 public:
  using RecordingSink::RecordingSink;
  uint32_t GetBufferSize() override { return Check(), RecordingSink::GetBufferSize(); }
  uint8_t* GetBuffer() override { return Check(), RecordingSink::GetBuffer(); }
  void SetStatus(const std::u16string& t) override { Check(), RecordingSink::SetStatus(t); }
  void SetDetail(const std::u16string& t) override { Check(), RecordingSink::SetDetail(t); }
  void SetRange(uint32_t n) override { Check(), RecordingSink::SetRange(n); }
  void ResetProgress() override { Check(), RecordingSink::ResetProgress(); }
  void Step() override { Check(), RecordingSink::Step(); }
  bool foreignCall = false;

 private:
  void Check() { foreignCall = foreignCall || std::this_thread::get_id() != owner_; }
  std::thread::id owner_ = std::this_thread::get_id();
};

// The threads of this process, or -1 where the system does not list them.
long ThreadsNow() {
  std::error_code error;
  long count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}

// A joined thread may stay listed for a moment while the kernel reaps it:
// waits (up to a second) until no more than `most` threads are listed and
// returns the count then.
long ThreadsOnceAtMost(long most) {
  long now = ThreadsNow();
  for (int i = 0; i < 200 && now > most; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    now = ThreadsNow();
  }
  return now;
}

// The threads the process has while nothing is hashed, measured once after
// a thread has come and gone (a sanitizer's runtime starts a helper thread
// of its own along with the process's first one) and been reaped.
long QuietThreadCount() {
  static const long kQuietCount = [] {
    std::thread([] {}).join();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return ThreadsNow();
  }();
  return kQuietCount;
}

struct Outcome {
  std::vector<std::u16string> calls;
  TextMap ids;
  std::string outcome;  // "ok", "cancel" or the error's message and line
};

// Sizes from empty to several buffers of the small buffer the runs use, so
// one file is read in many chunks while its neighbours take one.
std::string Content(size_t i) {
  const size_t size = (i * 7919) % (i % 10 == 0 ? 40000 : 3000);
  std::string bytes(size, '\0');
  for (size_t b = 0; b < size; ++b) bytes[b] = static_cast<char>((b * 31 + i) & 0xFF);
  return bytes;
}

class FileIdsTest : public ::testing::Test {
 protected:
  static constexpr size_t kFiles = 300;

  void SetUp() override {
    files_.clear();
    for (size_t i = 0; i < kFiles; ++i) {
      dir_.WriteFile(Name(i), Content(i));
      std::u16string path;
      for (char c : "/" + Name(i)) path.push_back(c == '/' ? u'\\' : char16_t(c));
      files_.push_back(path);
    }
  }

  static std::string Name(size_t i) {
    return "d" + std::to_string(i / 50) + "/f" + std::to_string(i) + ".bin";
  }

  void TearDown() override { SetFileIdThreadCount(0); }

  // Hashes the list of files, or with scan the whole tree through
  // BuildSnapshot, which starts hashing before it reads the attributes.
  Outcome Hash(unsigned threads, uint64_t cancelAfterCalls = 0, bool scan = false) {
    SetFileIdThreadCount(threads);
    CDirSnapshot snapshot;
    snapshot.root = dir_.wpath();
    snapshot.files = files_;
    OneThreadSink sink(4096);
    sink.cancelAfterCalls = cancelAfterCalls;
    Outcome run;
    const long before = ThreadsOnceAtMost(QuietThreadCount());
    try {
      if (scan) {
        snapshot = BuildSnapshot(sink, dir_.wpath(), u"", FileIds::Compute);
      } else {
        ComputeFileIds(sink, snapshot);
      }
      run.outcome = "ok";
    } catch (const COPCancel&) {
      run.outcome = "cancel";
    } catch (const CZRErr& e) {
      run.outcome = Narrow(e.message) + " " + e.file + ":" + std::to_string(e.line);
    }
    EXPECT_EQ(ThreadsOnceAtMost(before), before) << "a hashing thread outlived the call";
    EXPECT_FALSE(sink.foreignCall) << "the sink was called from a hashing thread";
    run.calls = std::move(sink.calls);
    run.ids = std::move(snapshot.fileIds);
    return run;
  }

  // Compares a run on several threads with the run on one.
  void ExpectSameAsOneThread(uint64_t cancelAfterCalls = 0, bool scan = false) {
    const Outcome one = Hash(1, cancelAfterCalls, scan);
    for (unsigned threads : {2u, 5u}) {
      const Outcome many = Hash(threads, cancelAfterCalls, scan);
      EXPECT_EQ(many.outcome, one.outcome) << threads;
      EXPECT_TRUE(many.calls == one.calls) << threads << " threads: calls differ";
      EXPECT_EQ(many.ids, one.ids) << threads;
    }
  }

  TempDir dir_;
  PathList files_;
};

}  // namespace

TEST_F(FileIdsTest, ThreadsGiveTheSameIdsAndCallsAsOne) {
  const Outcome one = Hash(1);
  ASSERT_EQ(one.outcome, "ok");
  ASSERT_EQ(one.ids.size(), kFiles);
  // The single-threaded ids are the plain digests of the contents.
  for (size_t i : {0u, 10u, 299u}) {
    Sha1Context context;
    Sha1Init(context);
    const std::string content = Content(i);
    Sha1Update(context, content.data(), static_cast<uint32_t>(content.size()));
    Sha1Digest digest;
    Sha1Final(digest, context);
    EXPECT_EQ(one.ids.at(files_[i]), DigestToHex(digest)) << i;
  }
  ASSERT_EQ(one.calls.size(), 3 + 2 * kFiles);
  EXPECT_EQ(one.calls[3], u"detail:Processing: " + files_[0]);
  ExpectSameAsOneThread();
}

// A missing file and a FIFO, alone or both: the first in walk order is the
// one reported, even when a hashing thread met a later one first, and no id
// of a file after it is stored.
TEST_F(FileIdsTest, TheFirstUnreadableFileInWalkOrderRaisesItsError) {
  const struct {
    std::vector<size_t> missing, fifo;
  } cases[] = {{{150}, {}}, {{}, {150}}, {{200}, {120}}, {{0}, {}}, {{299}, {}}};
  for (const auto& c : cases) {
    for (size_t i : c.missing) std::filesystem::remove(dir_.Native(Name(i)));
    for (size_t i : c.fifo) {
      std::filesystem::remove(dir_.Native(Name(i)));
      ASSERT_EQ(mkfifo(dir_.Native(Name(i)).c_str(), 0644), 0);
    }
    const Outcome one = Hash(1);
    const size_t first =
        std::min(c.missing.empty() ? kFiles : c.missing[0], c.fifo.empty() ? kFiles : c.fifo[0]);
    const std::string expected =
        "Unable to open file:" + Narrow(dir_.wpath() + files_[first]) + " .\\fileReader:";
    EXPECT_EQ(one.outcome.substr(0, expected.size()), expected);
    EXPECT_EQ(one.ids.size(), first);
    ExpectSameAsOneThread();
    for (size_t i : c.fifo) std::filesystem::remove(dir_.Native(Name(i)));
    SetUp();  // put the files back
  }
}

// Cancelling at a file's detail line or at its step, early, midway and at the
// last file: the same calls and ids as on one thread, every thread joined.
// Repeated, since the hashing threads are at a different point each time.
TEST_F(FileIdsTest, CancelStopsAtTheSamePointAndJoinsEveryThread) {
  for (int round = 0; round < 5; ++round) {
    for (uint64_t after : {size_t{2}, size_t{3}, size_t{150}, size_t{301}, 2 * kFiles + 1}) {
      SCOPED_TRACE(after);
      ExpectSameAsOneThread(after);
      EXPECT_EQ(Hash(3, after).outcome, "cancel");
    }
  }
}

// A scan starts hashing before it reads the attributes: cancelled in the
// walk, among the attributes, among the ids or not at all, it makes the same
// calls and ids as on one thread and leaves no thread behind.
TEST_F(FileIdsTest, AScanHashesAlongsideTheAttributesWithTheSameCalls) {
  const Outcome whole = Hash(1, 0, true);
  ASSERT_EQ(whole.outcome, "ok");
  ASSERT_EQ(whole.ids.size(), kFiles);
  const auto at = [&](const std::u16string& call) {
    return std::find(whole.calls.begin(), whole.calls.end(), call) - whole.calls.begin();
  };
  const uint64_t attributes = at(u"status:Getting File attributes...");
  const uint64_t ids = at(u"status:Calculating file ids...");
  ASSERT_LT(attributes, ids);
  for (uint64_t after : {uint64_t{3}, attributes + 1, attributes + 100, ids + 50, uint64_t{0}}) {
    SCOPED_TRACE(after);
    ExpectSameAsOneThread(after, true);
  }
}

TEST(FileIdThreadCount, FollowsTheSetterThenTheEnvironmentThenTheMachine) {
  SetFileIdThreadCount(3);
  EXPECT_EQ(FileIdThreadCount(), 3u);
  SetFileIdThreadCount(0);
  setenv("TORQUELIN_HASH_THREADS", "5", 1);
  EXPECT_EQ(FileIdThreadCount(), 5u);
  setenv("TORQUELIN_HASH_THREADS", "none", 1);
  const unsigned cores = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  EXPECT_EQ(FileIdThreadCount(), cores);
  unsetenv("TORQUELIN_HASH_THREADS");
  EXPECT_EQ(FileIdThreadCount(), cores);
}

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

// A file the walk listed as short enough is read in one go; one whose length
// now differs from the listed one (it grew or shrank since), or that fills
// the buffer, or has no listed length, is read whole the general way. The id
// is always that of the content, on one thread and on two.
TEST(FileIdsFromListedSizes, TheIdIsTheContentWhateverTheListedLength) {
  constexpr uint32_t kBuffer = 4096;
  const struct {
    size_t size;
    uint32_t listed;
  } cases[] = {{0, 0},       {1, 1},       {4094, 4094},       {4095, 4095}, {4096, 4096},
               {9000, 9000}, {100, 99},    {100, 101},         {0, 5},       {5, 0},
               {4096, 4095}, {4095, 4096}, {100, kUnknownSize}};
  TempDir dir;
  CDirSnapshot snapshot;
  snapshot.root = dir.wpath();
  std::vector<uint32_t> sizes;
  std::vector<std::u16string> expected;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string content(cases[i].size, '\0');
    for (size_t b = 0; b < content.size(); ++b) content[b] = static_cast<char>(b * 13 + i);
    // The first file lies in the root itself, the others in two directories.
    const std::string name = i == 0 ? "f0" : "d" + std::to_string(i % 2) + "/f" + std::to_string(i);
    dir.WriteFile(name, content);
    std::u16string path;
    for (char c : "/" + name) path.push_back(c == '/' ? u'\\' : char16_t(c));
    snapshot.files.push_back(path);
    sizes.push_back(cases[i].listed);
    Sha1Context context;
    Sha1Init(context);
    Sha1Update(context, content.data(), static_cast<uint32_t>(content.size()));
    Sha1Digest digest;
    Sha1Final(digest, context);
    expected.push_back(DigestToHex(digest));
  }
  for (unsigned threads : {1u, 2u}) {
    SetFileIdThreadCount(threads);
    RecordingSink sink(kBuffer);
    snapshot.fileIds.clear();
    FileIdHasher hasher(sink, snapshot, sizes);
    hasher.Finish(sink, snapshot);
    for (size_t i = 0; i < std::size(cases); ++i) {
      EXPECT_EQ(snapshot.fileIds[snapshot.files[i]], expected[i])
          << threads << " threads, size " << cases[i].size << " listed " << cases[i].listed;
    }
  }
  SetFileIdThreadCount(0);
}

// Ids held as bytes beside the list give what the map gives: the same
// fingerprint, calls and sorted list, whatever order the files come in.
TEST(ComputeFingerprint, IdsBesideTheListGiveWhatTheMapGives) {
  CDirSnapshot viaMap;
  std::vector<FileId> ids;
  for (int i : {7, 3, 9, 0, 5, 1, 8, 2, 6, 4, 12, 11, 10}) {
    const std::u16string path = u"\\f" + std::u16string(1, char16_t(u'a' + i));
    viaMap.files.push_back(path);
    viaMap.attributes[path] = 0x81A40020u + i;
    FileId id{};
    id[0] = static_cast<uint8_t>(i * 17);
    id[19] = static_cast<uint8_t>(i);
    ids.push_back(id);
    viaMap.fileIds[path] = DigestToHex(id.data());
  }
  viaMap.directories = {u"\\z", u"\\b"};
  CDirSnapshot viaBytes = viaMap;
  viaBytes.fileIds.clear();
  RecordingSink mapSink, bytesSink;
  EXPECT_EQ(ComputeFingerprint(bytesSink, viaBytes, ids), ComputeFingerprint(mapSink, viaMap));
  EXPECT_EQ(viaBytes.files, viaMap.files);
  EXPECT_TRUE(bytesSink.calls == mapSink.calls);
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(DigestToHex(ids[i].data()), viaMap.fileIds[viaMap.files[i]]) << i;
  }
}

// A job that keeps the lists sorted takes the scan's order instead of
// sorting: lists, ids and calls must come out as the sorting form leaves
// them, on a tree whose listing order is not its path order.
TEST(ComputeFingerprint, TheScansOrderSortsListsAndIdsLikeSorting) {
  TempDir dir;
  for (const char* name : {"b/z", "b/a", "B.txt", "a b", "a/c", "a.txt", "a/\xC3\xA9"}) {
    dir.WriteFile(name, name);
  }
  RecordingSink sink;
  std::vector<FileId> sortedIds;
  CDirSnapshot sorted =
      BuildSnapshot(sink, dir.wpath(), CIgnoreFilter(u""), u"", FileIds::Compute, &sortedIds);
  const std::u16string expected = ComputeFingerprint(sink, sorted, sortedIds);

  std::vector<FileId> ids;
  PathOrder order;
  RecordingSink orderedSink;
  CDirSnapshot ordered = BuildSnapshot(orderedSink, dir.wpath(), CIgnoreFilter(u""), u"",
                                       FileIds::Compute, &ids, nullptr, &order);
  ASSERT_TRUE(order.Covers(ordered));
  EXPECT_EQ(ComputeFingerprintSorting(orderedSink, ordered, ids, order), expected);
  EXPECT_EQ(ordered.files, sorted.files);
  EXPECT_EQ(ordered.directories, sorted.directories);
  EXPECT_TRUE(ids == sortedIds);
  EXPECT_TRUE(orderedSink.calls == sink.calls);
}
