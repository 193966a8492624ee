// Apply Patch with a compact patch: every storage kind round-trips, damaged
// contents and wrong older files are refused before any change (or cost only
// their file when tolerated), and a wrong target is told file by file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "engine/jobs/apply_patch.h"
#include "engine/jobs/compact_staging.h"
#include "engine/jobs/create_patch.h"
#include "engine/patch/compact_reader.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace fs = std::filesystem;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// The tree's fingerprint: names, attribute words, contents and link targets.
std::u16string Tree(const std::string& root) {
  RecordingSink sink;
  CDirSnapshot snapshot = BuildSnapshot(sink, platform::FromUtf8(root), u"", FileIds::Compute);
  return ComputeFingerprint(sink, snapshot);
}

struct Applied {
  std::string error;  // message and line, empty when none
  ApplyResult result;
};

Applied Apply(const std::string& target, const std::string& patch, ApplyOptions options = {}) {
  Applied r;
  RecordingSink sink;
  try {
    r.result =
        ApplyPatch(sink, platform::FromUtf8(target), platform::FromUtf8(patch), u"", options);
  } catch (const CZRErr& e) {
    r.error = Narrow(e.message) + " @" + std::to_string(e.line);
  }
  return r;
}

// An older and a newer tree whose patch holds every storage kind, the
// compact patch between them, and a target to apply it to.
struct Scene {
  Scene() {
    // Contents from 1 MiB on have blocks of their own (smaller ones share
    // blocks and frames).
    const std::string base = RandomBytes(1200000, 1);
    dir.WriteFile("older/big.bin", base);
    // A delta: the older file with a stretch of new bytes inside.
    dir.WriteFile("newer/big.bin",
                  base.substr(0, 600000) + RandomBytes(30000, 2) + base.substr(600000));
    dir.WriteFile("older/moved.txt", "moved, a rename");
    dir.WriteFile("newer/renamed.txt", "moved, a rename");
    dir.WriteFile("older/kept.txt", "kept, and copied");
    dir.WriteFile("newer/kept.txt", "kept, and copied");
    dir.WriteFile("newer/sub/duplicate.txt", "kept, and copied");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 17) + "\n";
    dir.WriteFile("newer/sub/text.txt", text);                  // compressed
    dir.WriteFile("newer/noise.bin", RandomBytes(1100000, 3));  // stored
    dir.WriteFile("newer/empty", "");                           // empty
    fs::create_symlink("kept.txt", dir.Native("newer/link"));   // a link
    dir.WriteFile("older/gone/old.txt", "removed");
    RecordingSink sink;
    CreatePatchFromDirectories(sink, dir.wpath() + u"/older", dir.wpath() + u"/newer",
                               platform::FromUtf8(patch), u"", u"", {.compact = true});
    good = ReadBytes(patch);
  }
  void Reset() const {
    fs::remove_all(target);
    fs::copy(dir.Native("older"), target, fs::copy_options::recursive);
    WriteBytes(patch, good);
  }
  // Flips a byte in the middle of the big file's delta: its block holds it
  // alone, a small member table and then the frame.
  void FlipDeltaByte() const {
    RecordingSink sink;
    zrFile::Reader reader(platform::FromUtf8(patch));
    const CompactPatchInfo info = ReadCompactPatchInfo(reader, sink);
    const int64_t start = info.index.at(u"\\big.bin");
    int64_t end = info.indexOffset;
    for (const auto& [path, offset] : info.index) {
      if (offset > start) end = std::min(end, offset);
    }
    std::string bytes = good;
    bytes[static_cast<size_t>((start + end) / 2)] ^= 0x10;
    WriteBytes(patch, bytes);
  }
  TempDir dir;
  const std::string patch = dir.Native("p.dov");
  const std::string target = dir.Native("t");
  std::string good;
};

}  // namespace

// Every storage kind, staged, asked in place (a compact patch is always
// staged: its contents are made from the files the commit replaces) and
// checked, ends as the newer tree (or, checked, unchanged).
TEST(CompactApply, EveryStorageKindRoundTrips) {
  Scene scene;
  RecordingSink sink;
  StoredContents contents;
  (void)LoadAnyPatchInfo(sink, platform::FromUtf8(scene.patch), &contents);
  const std::pair<const char16_t*, ContentKind> kinds[] = {
      {u"\\big.bin", ContentKind::Delta},           {u"\\renamed.txt", ContentKind::Copy},
      {u"\\sub\\duplicate.txt", ContentKind::Copy}, {u"\\sub\\text.txt", ContentKind::Compressed},
      {u"\\noise.bin", ContentKind::Stored},
  };
  for (const auto& [path, kind] : kinds) {
    SCOPED_TRACE(Narrow(path));
    ASSERT_EQ(contents.count(path), 1u);
    EXPECT_EQ(contents.at(path).kind, kind);
  }
  const std::u16string newer = Tree(scene.dir.Native("newer"));
  struct Case {
    const char* name;
    ApplyOptions options;
    TreeCheck check;
  };
  const Case cases[] = {
      {"staged", {}, TreeCheck::Verified},
      {"in place", {.way = ApplyWay::InPlace}, TreeCheck::Verified},
      {"checked", {.checkOnly = true}, TreeCheck::CheckPassed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scene.Reset();
    const std::u16string before = Tree(scene.target);
    const Applied r = Apply(scene.target, scene.patch, c.options);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.result.check, c.check);
    EXPECT_EQ(Tree(scene.target), c.options.checkOnly ? before : newer);
  }
}

// A content that does not decode to its id, or an older file that is not
// the one the patch was made from, refuses the patch before any change,
// naming the file, in --check too; tolerated, only that file is lost.
TEST(CompactApply, DamageAndWrongOlderFilesAreNamedBeforeAnyChange) {
  Scene scene;
  const std::string outside = scene.dir.Native("outside.bin");
  WriteBytes(outside, ReadBytes(scene.dir.Native("older/big.bin")));
  const std::string kWrongOlder =
      "The older file a stored content is made from is not the one the patch expects: ";
  struct Case {
    const char* name;
    std::function<void()> spoil;  // after the target is a copy of older
    bool ignoreFingerprint;       // to reach the older files' own checks
    std::string error;            // its start, then the path it names
  };
  const Case cases[] = {
      {"a flipped byte in a delta", [&] { scene.FlipDeltaByte(); }, false, "\\big.bin"},
      {"a delta's older file changed",
       [&] { WriteBytes(scene.target + "/big.bin", RandomBytes(1200000, 9)); }, true,
       kWrongOlder + "\\big.bin"},
      {"a copy's older file changed", [&] { WriteBytes(scene.target + "/moved.txt", "other"); },
       true, kWrongOlder + "\\moved.txt"},
      {"an older file replaced by a link to its content",
       [&] {
         fs::remove(scene.target + "/big.bin");
         fs::create_symlink(outside, scene.target + "/big.bin");
       },
       true, kWrongOlder + "\\big.bin"},
  };
  for (const Case& c : cases) {
    for (const bool checkOnly : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (checkOnly ? " --check" : ""));
      scene.Reset();
      c.spoil();
      const std::u16string before = Tree(scene.target);
      const Applied r = Apply(scene.target, scene.patch,
                              {.ignoreFingerprint = c.ignoreFingerprint, .checkOnly = checkOnly});
      EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
      EXPECT_EQ(Tree(scene.target), before);
    }
  }
  // Tolerated, the damaged delta costs its own file; everything else is
  // applied, and the closing check tells the difference.
  scene.Reset();
  scene.FlipDeltaByte();
  const Applied r = Apply(scene.target, scene.patch, {.continueOnErrors = true});
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.result.skipped.size(), 1u);
  EXPECT_NE(Narrow(r.result.skipped[0]).find("\\big.bin"), std::string::npos)
      << Narrow(r.result.skipped[0]);
  EXPECT_EQ(r.result.check, TreeCheck::Differs);
  EXPECT_EQ(ReadBytes(scene.target + "/big.bin"), ReadBytes(scene.dir.Native("older/big.bin")));
  EXPECT_EQ(ReadBytes(scene.target + "/sub/text.txt"),
            ReadBytes(scene.dir.Native("newer/sub/text.txt")));
  EXPECT_EQ(fs::read_symlink(scene.target + "/link"), "kept.txt");
}

// A target that is not the older tree is refused with today's message, to
// which a compact patch adds the files that differ from what it expects:
// ten at most, then how many more.
TEST(CompactApply, WrongTargetNamesTheFilesThatDiffer) {
  TempDir dir;
  for (int i = 0; i < 14; ++i) {
    const std::string name = "f" + std::to_string(10 + i) + ".txt";
    dir.WriteFile("older/" + name, "old " + name);
    dir.WriteFile("newer/" + name, "new " + name);
  }
  dir.WriteFile("older/same.txt", "same");
  dir.WriteFile("newer/same.txt", "same");
  const std::string patch = dir.Native("p.dov");
  RecordingSink sink;
  CreatePatchFromDirectories(sink, dir.wpath() + u"/older", dir.wpath() + u"/newer",
                             platform::FromUtf8(patch), u"", u"", {.compact = true});
  const std::string target = dir.Native("t");
  const std::string kStart =
      "Trying to apply a patch to dirrectory with different fingerprint Calculated:";
  struct Case {
    const char* name;
    std::function<void()> spoil;
    std::string added;  // after "expected:" and the older fingerprint
  };
  const Case cases[] = {
      {"one changed, one missing",
       [&] {
         WriteBytes(target + "/f11.txt", "drift");
         fs::remove(target + "/f12.txt");
       },
       "\nFiles that are not as the patch expects them:\n  changed: \\f11.txt\n"
       "  missing: \\f12.txt"},
      {"a file the patch does not name", [&] { WriteBytes(target + "/same.txt", "drift"); }, ""},
      {"thirteen",
       [&] {
         for (int i = 0; i < 13; ++i)
           WriteBytes(target + "/f" + std::to_string(10 + i) + ".txt", "x");
       },
       "\nFiles that are not as the patch expects them:\n  changed: \\f10.txt\n"
       "  changed: \\f11.txt\n  changed: \\f12.txt\n  changed: \\f13.txt\n  changed: \\f14.txt\n"
       "  changed: \\f15.txt\n  changed: \\f16.txt\n  changed: \\f17.txt\n  changed: \\f18.txt\n"
       "  changed: \\f19.txt\n  and 3 more"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target);
    fs::copy(dir.Native("older"), target, fs::copy_options::recursive);
    c.spoil();
    const Applied r = Apply(target, patch);
    ASSERT_EQ(r.error.rfind(kStart, 0), 0u) << r.error;
    const size_t expected = r.error.find(" expected:");
    ASSERT_NE(expected, std::string::npos);
    EXPECT_EQ(r.error.substr(expected + 10 + 40), c.added + " @188");
  }
}

// The older files a compact patch names are read beneath the target, so
// their paths pass the checks of the patch's own paths.
TEST(CompactApply, OlderPathsPassThePathChecks) {
  const CIgnoreFilter filter(u"*.log");
  const std::pair<const char16_t*, std::string> cases[] = {
      {u"\\d\\a.txt", "<no error>"},
      {u"\\..\\outside", "Refusing an unsafe path stored in the patch: \\..\\outside"},
      {u"\\.torquelin-journal", "Refusing a path apply keeps for its journal: "},
      {u"\\d\\x.log", "Refusing a path the patch's own filter ignores: \\d\\x.log"},
  };
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(Narrow(path));
    EXPECT_EQ(ErrorOf([&] { CheckOlderPaths({{path, FileId{}}}, filter); }).rfind(error, 0), 0u);
  }
}
