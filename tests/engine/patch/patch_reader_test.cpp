// The patch reader: round trips, damaged files with their exact errors, and
// extraction, including stored paths that try to leave the target.
#include "engine/patch/patch_reader.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "engine/base/number_text.h"
#include "engine/patch/patch_stream.h"
#include "engine/patch/patch_writer.h"
#include "platform/encoding.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

const std::string kMagic = "zeRizeDuvuz 01.01.02";
const std::string kFinished = kMagic + Bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x11, 1, 0, 0, 0});

// The record bytes of a String, built with the writer the golden tests pin.
std::string StringRecord(const std::u16string& text) {
  TempDir dir;
  {
    zrFile::Writer out(dir.wpath() + u"/s");
    DirectOutput direct(out);
    WriteString(direct, text);
  }
  return ReadBytes(dir.Native("s"));
}

std::string FileContentRecord(const std::u16string& path, const std::string& content) {
  std::string bytes = Bytes({0x13}) + StringRecord(path) + Bytes({0x14});
  const uint64_t length = content.size();
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(length >> (8 * i)));
  return bytes + content;
}

// A patch of one new file \a.txt holding abc: its FileContent record starts
// at 147, its index at 178, and the file ends at 211.
struct TinyPatch {
  TempDir newer, out;
  std::string path;
  std::u16string wpath;
  TinyPatch() : path(out.Native("p.dov")), wpath(out.wpath() + u"/p.dov") {
    newer.WriteFile("a.txt", "abc");
    ChangeSet changes;
    changes.NewFiles = {u"\\a.txt"};
    changes.AttributeChanges[u"\\a.txt"] = 0x81A40020;
    RecordingSink sink;
    WritePatch(sink, changes, newer.wpath(), wpath);
  }
};

}  // namespace

TEST(PatchReader, EveryFieldRoundTripsInOrder) {
  ChangeSet changes;
  changes.OlderTreeID = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";
  changes.NewerTreeID = u"0123456789abcdef0123456789abcdef01234567";
  changes.Info = {{u"DateCreated", u"Mon Dec 07 06:40:00 2026\n"},
                  {u"Käse", u"\U0001F600"},
                  {u"", u"empty key"}};
  changes.UnlinkedFiles = {u"\\z", u"\\a", u"\\M\\n"};
  changes.NewFiles = {u"\\Grüße.txt", u"\\sub\\日本.txt", u"\\back\xF05Cslash", u"\\raw\xEF80"};
  changes.ChangedFiles = {u"\\a:b", u"\\B"};
  changes.NewDirs = {u"\\sub", u"\\empty dir"};
  changes.UnlinkedDirectories = {u"\\old\\deep", u"\\old"};
  changes.AttributeChanges = {{u"\\Grüße.txt", 0x81A40020},
                              {u"\\sub", 0x41ED0010},
                              {u"\\B", 0xFFFFFFFF},
                              {u"\\a:b", 0x81240021}};
  changes.IgnoreFilter = u"*.tmp;~*";
  changes.ignoredNew = {u"\\x.tmp", u"\\~lock"};
  changes.ignoredOld = {u"\\y.tmp"};
  // Enough records to cross many read-ahead blocks, and one text longer than
  // a block, which is written and read around the blocks.
  for (int i = 0; i < 5000; ++i) changes.ignoredOld.push_back(u"\\gone\\" + DecimalText(i));
  changes.Info[u"long"] = std::u16string(40000, u'\x263A');

  TempDir newer, out;
  for (const PathList* list : {&changes.NewFiles, &changes.ChangedFiles}) {
    for (const std::u16string& path : *list) {
      newer.WriteFile(platform::ToNativePath(path).substr(1), "content of " + Narrow(path));
    }
  }
  RecordingSink sink;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/p.dov");

  RecordingSink loadSink;
  const ChangeSet loaded = LoadPatchInfo(loadSink, out.wpath() + u"/p.dov");
  EXPECT_TRUE(loaded == changes);
  EXPECT_EQ(loaded.UnlinkedFiles, changes.UnlinkedFiles);
  EXPECT_EQ(loaded.UnlinkedDirectories, changes.UnlinkedDirectories);
  std::vector<std::u16string> expectedCalls = {u"status:Loading patch info.", u"range:9"};
  expectedCalls.insert(expectedCalls.end(), 9, u"step");
  EXPECT_EQ(loadSink.calls, expectedCalls);

  // Every stored file comes back under its own name, byte for byte.
  TempDir target;
  target.MakeDir("sub");
  zrFile::Reader in(out.wpath() + u"/p.dov");
  in.seek(ReadPatchHeader(in));
  for (const auto& [path, offset] : ReadFileIndex(in, sink)) {
    ExtractFile(in, ShortContent::Raise, sink, offset, target.wpath());
    const std::string native = platform::ToNativePath(path).substr(1);
    EXPECT_EQ(target.ReadFile(native), newer.ReadFile(native)) << Narrow(path);
  }
}

TEST(PatchReader, EmptyChangeSetLoadsBackEmpty) {
  TempDir newer, out;
  RecordingSink sink;
  WritePatch(sink, ChangeSet{}, newer.wpath(), out.wpath() + u"/p.dov");
  EXPECT_TRUE(LoadPatchInfo(sink, out.wpath() + u"/p.dov") == ChangeSet{});
}

TEST(PatchReader, AKeyStoredTwiceKeepsTheLaterValue) {
  const std::string key = StringRecord(u"\\k");
  TempDir dir;
  const std::string info = Bytes({0x17, 0x11, 2, 0, 0, 0}) + key + StringRecord(u"first") + key +
                           StringRecord(u"second");
  const std::string attributes = Bytes({0x16, 0x11, 2, 0, 0, 0}) + key + Bytes({0x11, 1, 0, 0, 0}) +
                                 key + Bytes({0x11, 0x21, 0, 0x24, 0x81});
  WriteBytes(dir.Native("m"), info + attributes);
  zrFile::Reader reader(dir.wpath() + u"/m");
  BufferedInput in(reader);
  EXPECT_EQ(ReadInfoMap(in), (TextMap{{u"\\k", u"second"}}));
  EXPECT_EQ(ReadAttributeMap(in), (AttributeMap{{u"\\k", 0x81240021}}));
}

// Each case edits the bytes of the tiny patch and names the error.
TEST(PatchReader, DamagedPatchesAreRefusedWithTheirMessage) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    const char* message;
    int stepsBeforeFailure;  // -1: fails before "Loading patch info."
  } cases[] = {
      {"wrong magic", [](auto& b) { b[0] = 'Z'; },
       "Unable to open a patch file, missing magic number.", -1},
      {"shorter than 20 bytes", [](auto& b) { b.resize(19); },
       "Unable to read a buffer from a patch.", -1},
      {"completion flag 0", [](auto& b) { b[30] = 0; },
       "This patch file has not been properly written.", -1},
      {"dword tag where NewerTreeID's string is", [](auto& b) { b[34] = 0x11; }, "Type mismatch.",
       0},
      {"ends just before the first record", [](auto& b) { b.resize(34); }, "Unable to read a type.",
       0},
      {"a string's length cut short", [](auto& b) { b.resize(37); },
       "Unable to read dword from a patch.", 0},
      {"a path of NewFiles cut short", [](auto& b) { b.resize(110); },
       "Unable to read a buffer from a patch.", 6},
      {"index cut inside its last offset", [](auto& b) { b.resize(211 - 4); },
       "Unable to read qword from a patch.", 8},
      {"index cut before its first key", [](auto& b) { b.resize(184); }, "Unable to read a type.",
       8},
      {"index count larger than its entries", [](auto& b) { b[180] = 2; }, "Unable to read a type.",
       8},
      {"index count 0xffffffff", [](auto& b) { b.replace(180, 4, "\xff\xff\xff\xff"); },
       "Unable to read a type.", 8},
      {"list count larger than its entries", [](auto& b) { b[96] = 2; }, "Type mismatch.", 6},
      {"header points past the end",
       [](auto& b) {
         b[21] = 0x7F;
         b[24] = 0x7F;
       },
       "Unable to read a type.", 8},
  };
  for (const Case& c : cases) {
    TinyPatch patch;
    std::string bytes = ReadBytes(patch.path);
    ASSERT_EQ(bytes.size(), 211u);
    c.damage(bytes);
    WriteBytes(patch.path, bytes);
    RecordingSink sink;
    EXPECT_EQ(ErrorOf([&] { LoadPatchInfo(sink, patch.wpath); }), c.message) << c.name;
    EXPECT_EQ(sink.calls.empty(), c.stepsBeforeFailure < 0) << c.name;
    if (c.stepsBeforeFailure >= 0) {
      EXPECT_EQ(sink.steps, uint64_t(c.stepsBeforeFailure)) << c.name;
    }
  }
}

TEST(PatchReader, MissingOrUnnamedPatchIsReported) {
  RecordingSink sink;
  EXPECT_EQ(ErrorOf([&] { LoadPatchInfo(sink, u""); }), "No patch file specified: ");
  EXPECT_EQ(ErrorOf([&] { LoadPatchInfo(sink, u"/nonexistent/p.dov"); }),
            "Unable to ioen file:/nonexistent/p.dov");
}

// Runs in a death-test child: caps the address space at 1 GiB, loads the
// patch, prints the error and exits 0 when it is the short-read error.
[[noreturn]] void LoadUnderA1GiBCap(const std::u16string& path) {
  const rlimit limit = {rlim_t{1} << 30, rlim_t{1} << 30};
  setrlimit(RLIMIT_AS, &limit);
  RecordingSink sink(4096);
  const std::string error = ErrorOf([&] { LoadPatchInfo(sink, path); });
  std::fprintf(stderr, "%s\n", error.c_str());
  std::_Exit(error == "Unable to read a buffer from a patch." ? 0 : 1);
}

// A length of 0x7fffffff code units (4 GiB) in a 100-byte file must fail as a
// short read without ever asking for that much memory: the child runs with
// its address space capped at 1 GiB, where such a request would fail.
TEST(PatchReader, AHugeStringLengthFailsAsAShortRead) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer needs more address space than the cap allows";
#else
  TempDir dir;
  std::string bytes = kFinished + Bytes({0x10, 0x11, 0xFF, 0xFF, 0xFF, 0x7F});
  bytes.resize(100, 'x');
  WriteBytes(dir.Native("p.dov"), bytes);
  const std::u16string path = dir.wpath() + u"/p.dov";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(LoadUnderA1GiBCap(path), ::testing::ExitedWithCode(0),
              "Unable to read a buffer from a patch.");
#endif
}

TEST(PatchReader, ExtractionWritesExactlyTheStoredFile) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> before;
    std::string content;
  } cases[] = {
      {"new file", [](const TempDir&) {}, "abc"},
      {"zero-length file", [](const TempDir&) {}, ""},
      {"over a longer read-only file",
       [](const TempDir& t) {
         t.WriteFile("f", "an older and much longer content");
         ::chmod(t.Native("f").c_str(), 0444);
       },
       "abc"},
      {"over an empty directory", [](const TempDir& t) { t.MakeDir("f"); }, "abc"},
  };
  for (const Case& c : cases) {
    TempDir patch, target;
    WriteBytes(patch.Native("p"), FileContentRecord(u"\\f", c.content));
    c.before(target);
    RecordingSink sink;
    zrFile::Reader in(patch.wpath() + u"/p");
    EXPECT_TRUE(ExtractFile(in, ShortContent::Raise, sink, 0, target.wpath())) << c.name;
    EXPECT_EQ(ReadBytes(target.Native("f")), c.content) << c.name;
  }
}

TEST(PatchReader, ExtractionIntoAMissingDirectoryNamesTheDestination) {
  TinyPatch patch;
  TempDir target;
  RecordingSink sink;
  zrFile::Reader in(patch.wpath);
  const std::u16string missing = target.wpath() + u"/missing";
  EXPECT_EQ(ErrorOf([&] { ExtractFile(in, ShortContent::Raise, sink, 147, missing); }),
            "Unable to open file:" + target.path() + "/missing\\\\a.txt");
}

TEST(PatchReader, ARecordCutBeforeItsLengthLeavesTheDestinationAlone) {
  TinyPatch patch;
  std::string bytes = ReadBytes(patch.path);
  bytes.resize(147 + 19);  // tag and path, no length
  WriteBytes(patch.path, bytes);
  TempDir target;
  target.WriteFile("a.txt", "precious");
  RecordingSink sink;
  zrFile::Reader in(patch.wpath);
  EXPECT_EQ(ErrorOf([&] { ExtractFile(in, ShortContent::Tolerate, sink, 147, target.wpath()); }),
            "Unable to read a type.");
  EXPECT_EQ(target.ReadFile("a.txt"), "precious");
}

TEST(PatchReader, ContentCutShortFailsOrStaysShortOnRequest) {
  TinyPatch patch;
  std::string bytes = ReadBytes(patch.path);
  bytes.resize(147 + 30);  // two of the three content bytes
  WriteBytes(patch.path, bytes);
  struct Case {
    ShortContent tolerateShort;
    const char* error;
  } cases[] = {{ShortContent::Raise, "Unable to fully read a patch file content"},
               {ShortContent::Tolerate, "<no error>"}};
  for (const Case& c : cases) {
    TempDir target;
    RecordingSink sink;
    zrFile::Reader in(patch.wpath);
    EXPECT_EQ(ErrorOf([&] { ExtractFile(in, c.tolerateShort, sink, 147, target.wpath()); }),
              c.error);
    EXPECT_EQ(target.ReadFile("a.txt"), "ab") << c.error;
  }
}

// The target sits two levels down, so an escape of one or two levels lands
// in directories the test can inspect.
TEST(PatchReader, UnsafeStoredPathsAreRefusedBeforeAnythingIsWritten) {
  const std::u16string unsafe[] = {
      u"\\..\\x", u"\\a\\..\\..\\x", u"\\a/../../x", u"x",         u"/x",   u"\\",
      u"\\\\x",   u"\\a\\\\x",       u"\\.",         u"\\a\\.\\x", u"\\..",
  };
  for (const std::u16string& path : unsafe) {
    TempDir root;
    root.MakeDir("t/target/a");
    root.WriteFile("t/target/x", "keep");
    WriteBytes(root.Native("p"), FileContentRecord(path, "evil"));
    RecordingSink sink;
    zrFile::Reader in(root.wpath() + u"/p");
    EXPECT_EQ(ErrorOf([&] {
                ExtractFile(in, ShortContent::Raise, sink, 0, root.wpath() + u"/t/target");
              }),
              "Refusing an unsafe path stored in the patch: " + Narrow(path));
    EXPECT_FALSE(std::filesystem::exists(root.Native("t/x")));
    EXPECT_FALSE(std::filesystem::exists(root.Native("x")));
    EXPECT_EQ(root.ReadFile("t/target/x"), "keep");
  }
}

// Above 4 GiB every size and offset needs 64 bits. The patch and the
// extracted copy are written in full (about 8 GiB of disk, some seconds), so
// this runs only when TORQUELIN_LARGE_TESTS is set.
TEST(PatchReader, ASparseFileAbove4GiBRoundTrips) {
  if (std::getenv("TORQUELIN_LARGE_TESTS") == nullptr) {
    GTEST_SKIP() << "set TORQUELIN_LARGE_TESTS=1 to run";
  }
  constexpr int64_t kSize = (int64_t{1} << 32) + 3;
  TempDir newer, out, target;
  {
    std::FILE* f = std::fopen(newer.Native("big").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("head", f);
    std::fseek(f, (int64_t{1} << 32) - 3, SEEK_SET);
    std::fputs("midend", f);  // "end" starts at exactly 4 GiB
    std::fclose(f);
  }
  ASSERT_EQ(std::filesystem::file_size(newer.Native("big")), uint64_t(kSize));
  ChangeSet changes;
  changes.ChangedFiles = {u"\\big"};
  RecordingSink sink;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/p.dov");
  std::filesystem::remove(newer.Native("big"));

  zrFile::Reader in(out.wpath() + u"/p.dov");
  in.seek(ReadPatchHeader(in));
  ExtractFile(in, ShortContent::Raise, sink, ReadFileIndex(in, sink).at(u"\\big"), target.wpath());
  in.close();
  std::filesystem::remove(out.Native("p.dov"));

  EXPECT_EQ(std::filesystem::file_size(target.Native("big")), uint64_t(kSize));
  // SHA-1 of that content, taken once from the source with sha1sum.
  constexpr const char* kBigDigest = "94b2dffd4e067ea80d9a8fe364d267d832992c53";
  std::FILE* pipe = ::popen(("sha1sum < '" + target.Native("big") + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char digest[41] = {};
  ASSERT_EQ(std::fread(digest, 1, 40, pipe), 40u);
  ::pclose(pipe);
  EXPECT_STREQ(digest, kBigDigest);
}
