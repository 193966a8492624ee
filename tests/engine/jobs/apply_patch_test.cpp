// Apply Patch: the round trip, patches and targets it must refuse untouched,
// every failure in the strict and the tolerant mode, and cancellation.
#include "engine/jobs/apply_patch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "engine/jobs/create_patch.h"
#include "engine/jobs/create_vault.h"
#include "engine/jobs/job_runner.h"
#include "engine/jobs/verify_tree.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"
#include "platform/fault_injection.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace fs = std::filesystem;

namespace {

const std::string kPartlyChanged =
    " (The directory is partly changed; once the cause is fixed, running the same command again "
    "finishes the apply.)";

std::u16string Fingerprint(const std::u16string& root) {
  RecordingSink sink;
  CDirSnapshot snapshot = BuildSnapshot(sink, root, u"", FileIds::Compute);
  return ComputeFingerprint(sink, snapshot);
}

// What comparing the two trees yields, by the comparison's rules.
ChangeSet Compare(const std::u16string& olderRoot, const std::u16string& newerRoot) {
  RecordingSink sink;
  CDirSnapshot older = BuildSnapshot(sink, olderRoot, u"", FileIds::Compute);
  CDirSnapshot newer = BuildSnapshot(sink, newerRoot, u"", FileIds::Compute);
  ChangeSet c;
  c.NewerTreeID = ComputeFingerprint(sink, newer);
  c.OlderTreeID = ComputeFingerprint(sink, older);
  const auto attr = [](const CDirSnapshot& s, const std::u16string& p) {
    const auto it = s.attributes.find(p);
    return it == s.attributes.end() ? 0u : it->second;
  };
  const auto isDir = [](uint32_t word) { return (word & 0x10) != 0; };
  const auto id = [](const CDirSnapshot& s, const std::u16string& p) {
    const auto it = s.fileIds.find(p);
    return it == s.fileIds.end() ? std::u16string() : it->second;
  };
  for (const auto& p : older.files) {
    if (attr(newer, p) == 0 || isDir(attr(newer, p))) c.UnlinkedFiles.push_back(p);
  }
  for (const auto& p : older.directories) {
    if (!isDir(attr(newer, p))) c.UnlinkedDirectories.push_back(p);
  }
  for (const auto& p : newer.files) {
    const uint32_t n = attr(newer, p), o = attr(older, p);
    if (o == 0)
      c.NewFiles.push_back(p);
    else if (id(older, p) != id(newer, p))
      c.ChangedFiles.push_back(p);
    if (o == 0 || id(older, p) != id(newer, p) || n != o) c.AttributeChanges[p] = n;
  }
  for (const auto& p : newer.directories) {
    const uint32_t n = attr(newer, p), o = attr(older, p);
    if (!isDir(o)) c.NewDirs.push_back(p);
    if (!isDir(o) || n != o) c.AttributeChanges[p] = n;
  }
  return c;
}

std::u16string WritePatchFile(const ChangeSet& changes, const TempDir& newer, const TempDir& out) {
  RecordingSink sink;
  const std::u16string path = out.wpath() + u"/p.dov";
  WritePatch(sink, changes, newer.wpath(), path);
  return path;
}

// Every entry below root, sorted: path, mode (lstat) and content or link
// target. Equal listings mean equal trees, names, modes and bytes.
std::string Listing(const std::string& root) {
  std::vector<std::string> lines;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st;
    lstat(e.path().c_str(), &st);
    std::string line = e.path().string().substr(root.size()) + " " + std::to_string(st.st_mode);
    if (S_ISLNK(st.st_mode))
      line += " -> " + fs::read_symlink(e.path()).string();
    else if (S_ISREG(st.st_mode))
      line += " " + ReadBytes(e.path());
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

struct Applied {
  std::string error;  // message and line of the CZRErr, empty when none
  std::vector<std::u16string> skipped;
  RecordingSink sink;
};

std::unique_ptr<Applied> Apply(const std::u16string& dir, const std::u16string& patch,
                               bool tolerant = false, bool ignoreFingerprint = false,
                               const std::u16string& report = u"", ApplyWay way = ApplyWay::Staged,
                               bool checkOnly = false) {
  auto r = std::make_unique<Applied>();
  try {
    r->skipped =
        ApplyPatch(r->sink, dir, patch, report, {tolerant, ignoreFingerprint, way, checkOnly})
            .skipped;
  } catch (const CZRErr& e) {
    r->error = Narrow(e.message) + " @" + std::to_string(e.line);
  }
  return r;
}

// The detail texts shown in the given phase, in order.
std::vector<std::string> Details(const RecordingSink& sink, const std::u16string& status) {
  std::vector<std::string> out;
  bool inside = false;
  for (const auto& call : sink.calls) {
    if (call.rfind(u"status:", 0) == 0)
      inside = call == u"status:" + status;
    else if (inside && call.rfind(u"detail:", 0) == 0)
      out.push_back(Narrow(call.substr(7)));
  }
  return out;
}

// One section of a saved report, from its opening tag to its end.
std::string Section(const std::string& xml, const std::string& name) {
  const size_t start = xml.find("<" + name);
  size_t end = xml.find("</" + name + ">", start);
  if (end == std::string::npos) end = xml.find("/>", start);
  return xml.substr(start, end - start);
}

// "Patch applied ok." and the status shown last, once the scan after it is
// done; just the last status when the first never came.
std::vector<std::u16string> Closing(const RecordingSink& sink) {
  std::vector<std::u16string> out;
  const auto ok = std::find(sink.statuses.begin(), sink.statuses.end(), u"Patch applied ok.");
  if (ok != sink.statuses.end() && ok + 1 != sink.statuses.end()) out.push_back(*ok);
  if (!sink.statuses.empty()) out.push_back(sink.statuses.back());
  return out;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(ApplyPatch, RoundTripRestoresNamesContentsAndModes) {
  TempDir older, newer, out;
  for (const TempDir* d : {&older, &newer}) {
    d->WriteFile("same.txt", "unchanged");
    d->WriteFile("deep/er/still.txt", "kept");
    d->WriteFile("tool.sh", "#!/bin/sh\n");
  }
  older.WriteFile("gone/a/b.txt", "removed with its directories");
  older.WriteFile("becomes-dir", "a file first");
  older.WriteFile("deep/er/edit.txt", "old text");
  older.WriteFile("locked.txt", "read-only, removed");
  chmod(older.Native("locked.txt").c_str(), 0444);
  older.WriteFile("mode-only.txt", "x");
  newer.WriteFile("mode-only.txt", "x");
  chmod(newer.Native("mode-only.txt").c_str(), 0600);
  chmod(newer.Native("tool.sh").c_str(), 0755);
  newer.WriteFile("becomes-dir/inside.txt", "now a directory");
  newer.WriteFile("deep/er/edit.txt", "new text, longer than before");
  newer.WriteFile("caf\xC3\xA9/\xE2\x82\xAC \xF0\x9F\x98\x80.txt", "unicode");
  newer.WriteFile("back\\slash.txt", "a backslash in a name");
  newer.WriteFile("raw\xFF\xFE.bin", std::string("\0\x01\xFF", 3));
  newer.WriteFile("ro-new.txt", "read-only new file");
  chmod(newer.Native("ro-new.txt").c_str(), 0444);
  newer.WriteFile("ro-dir/f.txt", "in a directory made read-only");
  chmod(newer.Native("ro-dir").c_str(), 0555);
  newer.WriteFile("empty.txt", "");

  const ChangeSet changes = Compare(older.wpath(), newer.wpath());
  ASSERT_NE(changes.OlderTreeID, changes.NewerTreeID);
  const std::u16string patch = WritePatchFile(changes, newer, out);
  const auto r = Apply(older.wpath(), patch, false, false, out.wpath() + u"/report.xml");
  ASSERT_EQ(r->error, "");
  EXPECT_EQ(Closing(r->sink),
            (std::vector<std::u16string>{u"Patch applied ok.", u"New fingerprint verified."}));
  EXPECT_EQ(Fingerprint(older.wpath()), changes.NewerTreeID);
  EXPECT_EQ(Listing(older.path()), Listing(newer.path()));
  EXPECT_EQ(
      std::system(("diff -r '" + older.path() + "' '" + newer.path() + "' >/dev/null").c_str()), 0);

  // The report tells what was done and nothing it was not asked.
  const std::string xml = out.ReadFile("report.xml");
  EXPECT_NE(Section(xml, "UnlinkedFiles").find("path=\"locked.txt\""), std::string::npos);
  EXPECT_NE(Section(xml, "UnlinkedDirs").find("path=\"gone\""), std::string::npos);
  EXPECT_NE(Section(xml, "ModifyedFiles").find("path=\"edit.txt\""), std::string::npos);
  EXPECT_EQ(Section(xml, "NewFiles"), "<NewFiles ");
  EXPECT_NE(xml.find("<newIgnoredItems filter=\"\" />"), std::string::npos);
  EXPECT_NE(Section(xml, "PatchInfo").find("zrEngineVersion"), std::string::npos);
  EXPECT_EQ(Section(xml, "Errors"), "<Errors ");
}

TEST(ApplyPatch, ReadOnlyDirectoriesOfTheTargetChangeAndKeepTheirModes) {
  TempDir older, newer, out;
  for (const TempDir* d : {&older, &newer}) d->WriteFile("ro/f.txt", "same name");
  older.WriteFile("ro/f.txt", "old");
  older.WriteFile("ro/gone.txt", "g");
  older.MakeDir("ro/sub");
  older.WriteFile("top.txt", "t");
  newer.WriteFile("ro/f.txt", "new");
  newer.WriteFile("ro/added/a.txt", "a");
  for (const TempDir* d : {&older, &newer}) {
    chmod(d->Native("ro").c_str(), 0555);
    chmod(d->path().c_str(), 0555);
  }
  const ChangeSet changes = Compare(older.wpath(), newer.wpath());
  const std::u16string patch = WritePatchFile(changes, newer, out);
  const auto mode = [](const std::string& path) {
    struct stat st;
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
  };

  // (Run as root, the write bits are not needed, but the modes must still be
  // put back.) Stopped while writing files, the directories get their modes
  // back all the same.
  RecordingSink cancelled;
  cancelled.cancelOnStatus = u"Restoring files.";
  EXPECT_THROW(ApplyPatch(cancelled, older.wpath(), patch, u""), COPCancel);
  EXPECT_EQ(mode(older.Native("ro")), 0555u);
  EXPECT_EQ(mode(older.path()), 0555u);
  EXPECT_FALSE(fs::exists(older.Native("top.txt")));

  // What the cancelled run removed and created is tolerated as already done.
  const auto r = Apply(older.wpath(), patch, true, true);
  ASSERT_EQ(r->error, "");
  EXPECT_EQ(Fingerprint(older.wpath()), changes.NewerTreeID);
  EXPECT_EQ(Listing(older.path()), Listing(newer.path()));
  EXPECT_EQ(mode(older.path()), 0555u);
}

TEST(ApplyPatch, PhasesReportInOrderWithoutResettingTheBar) {
  TempDir older, newer, out;
  older.WriteFile("old.txt", "o");
  older.MakeDir("od");
  newer.WriteFile("nd/new.txt", "n");
  const ChangeSet changes = Compare(older.wpath(), newer.wpath());
  const auto r = Apply(older.wpath(), WritePatchFile(changes, newer, out));
  ASSERT_EQ(r->error, "");
  const std::u16string dir = older.wpath();
  std::vector<std::u16string> phases;
  auto it = std::find(r->sink.calls.begin(), r->sink.calls.end(), u"status:Removing Files.");
  phases.assign(it, std::find(it, r->sink.calls.end(), u"status:Patch applied ok."));
  EXPECT_EQ(phases,
            (std::vector<std::u16string>{u"status:Removing Files.",
                                         u"range:1",
                                         u"step",
                                         u"detail:Removing: \\old.txt",
                                         u"status:Removing Directories.",
                                         u"range:1",
                                         u"step",
                                         u"detail:Removing: \\od",
                                         u"status:Creating Directories.",
                                         u"range:1",
                                         u"step",
                                         u"detail:Creating: \\nd",
                                         u"status:Restoring files.",
                                         u"range:1",
                                         u"step",
                                         u"detail:Extructing file: \\nd\\new.txt",
                                         u"status:Restoring FS attributes.",
                                         u"range:2",
                                         u"step",
                                         u"detail:Restoring: " + dir + u"\\\\nd",
                                         u"step",
                                         u"detail:Restoring: " + dir + u"\\\\nd\\new.txt"}));
  EXPECT_EQ(std::count(r->sink.calls.begin(), r->sink.calls.end(), u"status:Applying a file"), 1);
  // The first status comes before the patch is read, the scan after it.
  EXPECT_EQ(r->sink.statuses[0], u"Applying a file");
  EXPECT_EQ(r->sink.statuses[1], u"Loading patch info.");
}

TEST(ApplyPatch, RefusesAndLeavesTheTargetUntouched) {
  // Target, newer tree and patch side by side, with a file one level above
  // the target that the hostile paths aim at.
  TempDir base;
  base.WriteFile("t/a/x.txt", "old");
  base.WriteFile("t/keep.txt", "k");
  base.WriteFile("n/a/x.txt", "new");
  base.WriteFile("n/keep.txt", "k");
  base.WriteFile("n/ab/x", "stored under a safe path");
  base.WriteFile("x", "outside");
  base.MakeDir("p");
  const std::u16string target = base.wpath() + u"/t", newer = base.wpath() + u"/n";
  const std::u16string patchPath = base.wpath() + u"/p/p.dov";
  const std::u16string missing = target + u"/missing";
  const ChangeSet good = Compare(target, newer);

  struct Case {
    const char* name;
    std::function<void(ChangeSet&)> edit;     // of the patch info
    std::function<void(std::string&)> bytes;  // of the written patch
    std::u16string dir, patch;                // when not the usual ones ("-": empty)
    bool ignoreFingerprint;
    std::string error;
  };
  const auto add = [](PathList ChangeSet::*field, std::u16string p) {
    return [=](ChangeSet& c) { (c.*field).push_back(p); };
  };
  // Same length as "\ab\x", so the index stays well formed.
  const auto indexKey = [](const char16_t* key) {
    return [=](std::string& b) {
      const std::u16string from = u"\\ab\\x", to = key;
      const std::string f(reinterpret_cast<const char*>(from.data()), from.size() * 2);
      const std::string t(reinterpret_cast<const char*>(to.data()), to.size() * 2);
      b.replace(b.rfind(f), f.size(), t);
    };
  };
  const std::string unsafe = "Refusing an unsafe path stored in the patch: ";
  const Case cases[] = {
      {"one byte changed", nullptr, nullptr, u"", u"", false, " @188"},
      {"empty patch path before the directory check", nullptr, nullptr, missing, u"-", false,
       "No patch file specified: "},
      {"missing directory", nullptr, nullptr, missing + u"//", u"", false,
       "Directory for patch application does  not exists: " + Narrow(missing) + " @165"},
      {"unfinished patch", nullptr, [](std::string& b) { b[30] = 0; }, u"", u"", false,
       "This patch file has not been properly written."},
      {"parent in UnlinkedFiles", add(&ChangeSet::UnlinkedFiles, u"\\..\\x"), nullptr, u"", u"",
       true, unsafe + "\\..\\x @"},
      {"climb in UnlinkedDirectories", add(&ChangeSet::UnlinkedDirectories, u"\\a\\..\\..\\x"),
       nullptr, u"", u"", true, unsafe + "\\a\\..\\..\\x @"},
      {"slash in NewDirs", add(&ChangeSet::NewDirs, u"\\a/../../x"), nullptr, u"", u"", true,
       unsafe + "\\a/../../x @"},
      {"no leading separator", add(&ChangeSet::UnlinkedFiles, u"keep.txt"), nullptr, u"", u"", true,
       unsafe + "keep.txt @"},
      {"attribute change outside",
       [](ChangeSet& c) { c.AttributeChanges[u"\\..\\x"] = 0x81FF0020; }, nullptr, u"", u"", true,
       unsafe + "\\..\\x @"},
      {"index key outside", nullptr, indexKey(u"\\..\\x"), u"", u"", true, unsafe + "\\..\\x @"},
      // The index holds exactly the new and changed files.
      {"index key differs from the stored path", nullptr, indexKey(u"\\ab\\y"), u"", u"", true,
       "Refusing a path the patch lists twice or in lists that contradict each other: \\ab\\x "
       "@33"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChangeSet changes = good;
    if (c.edit) c.edit(changes);
    RecordingSink sink;
    WritePatch(sink, changes, newer, patchPath);
    if (c.bytes) {
      std::string b = ReadBytes(base.Native("p/p.dov"));
      c.bytes(b);
      WriteBytes(base.Native("p/p.dov"), b);
    }
    if (std::string(c.name) == "one byte changed") base.WriteFile("t/keep.txt", "K");
    const std::string before = Listing(base.path());
    const auto r = Apply(c.dir.empty() ? target : c.dir, c.patch == u"-" ? u"" : patchPath, false,
                         c.ignoreFingerprint);
    EXPECT_NE(r->error.find(c.error), std::string::npos) << r->error;
    EXPECT_EQ(Listing(base.path()), before);
    base.WriteFile("t/keep.txt", "k");
  }
}

TEST(ApplyPatch, EveryFailureInBothModes) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&, ChangeSet&)> setup;  // target and patch info
    std::string strictError;                                // empty: both modes succeed
    std::vector<std::string> details;                       // of the phase below
    std::u16string phase;
    std::function<void(const TempDir&, const std::string& report)> tolerantResult;
  };
  const Case cases[] = {
      {"read-only file removed",
       [](const TempDir& t, ChangeSet& c) {
         t.WriteFile("ro.txt", "r");
         chmod(t.Native("ro.txt").c_str(), 0444);
         c.UnlinkedFiles = {u"\\ro.txt"};
       },
       "",
       {"Removing: \\ro.txt"},
       u"Removing Files.",
       [](const TempDir& t, const std::string& report) {
         EXPECT_FALSE(fs::exists(t.Native("ro.txt")));
         EXPECT_NE(Section(report, "UnlinkedFiles").find("ro.txt"), std::string::npos);
       }},
      {"non-empty directory",
       [](const TempDir& t, ChangeSet& c) {
         t.WriteFile("full/unlisted.txt", "u");
         t.MakeDir("empty");
         c.UnlinkedDirectories = {u"\\empty", u"\\full"};
       },
       // Refused before any change: the commit would stop halfway.
       "A directory the patch removes holds an entry the patch does not remove: @200",
       {"Removing: \\full", "Removing: \\empty"},
       u"Removing Directories.",
       [](const TempDir& t, const std::string& report) {
         EXPECT_TRUE(fs::exists(t.Native("full/unlisted.txt")));
         EXPECT_EQ(Section(report, "UnlinkedDirs").find("full"), std::string::npos);
         EXPECT_NE(Section(report, "UnlinkedDirs").find("empty"), std::string::npos);
       }},
      {"nested removals deepest first",
       [](const TempDir& t, ChangeSet& c) {
         t.MakeDir("a/b/c");
         t.MakeDir("a/b2");
         c.UnlinkedDirectories = {u"\\a", u"\\a\\b2", u"\\a\\b\\c", u"\\a\\b"};
       },
       "",
       {"Removing: \\a\\b\\c", "Removing: \\a\\b2", "Removing: \\a\\b", "Removing: \\a"},
       u"Removing Directories.",
       [](const TempDir& t, const std::string&) { EXPECT_FALSE(fs::exists(t.Native("a"))); }},
      {"new directory already there",
       [](const TempDir& t, ChangeSet& c) {
         t.MakeDir("there");
         c.NewDirs = {u"\\there", u"\\fresh"};
       },
       "Unable to create a directory. @238",
       {"Creating: \\there", "Creating: \\fresh"},
       u"Creating Directories.",
       [](const TempDir& t, const std::string& report) {
         EXPECT_TRUE(fs::is_directory(t.Native("fresh")));
         EXPECT_EQ(Section(report, "NewDirs").find("there"), std::string::npos);
       }},
      {"attributes of a missing item",
       [](const TempDir& t, ChangeSet& c) {
         t.WriteFile("f.txt", "f");
         c.AttributeChanges = {{u"\\absent", 0x81A40020}, {u"\\f.txt", 0x81800020}};
       },
       "Unable to set attributes on a file \\absent @287",
       {},
       u"",
       [](const TempDir& t, const std::string& report) {
         struct stat st;
         stat(t.Native("f.txt").c_str(), &st);
         EXPECT_EQ(st.st_mode & 07777, 0600u);
         EXPECT_EQ(Section(report, "AttributeChanges").find("absent"), std::string::npos);
         EXPECT_NE(Section(report, "AttributeChanges").find("attr=\"81800020\""),
                   std::string::npos);
       }},
  };
  for (const Case& c : cases) {
    for (const bool tolerant : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (tolerant ? " tolerant" : " strict"));
      TempDir target, newer, out;
      ChangeSet changes;
      c.setup(target, changes);
      const std::u16string report = out.wpath() + u"/r.xml";
      const auto r =
          Apply(target.wpath(), WritePatchFile(changes, newer, out), tolerant, true, report);
      if (tolerant || c.strictError.empty()) {
        EXPECT_EQ(r->error, "");
        if (!c.phase.empty()) {
          EXPECT_EQ(Details(r->sink, c.phase), c.details);
        }
        c.tolerantResult(target, out.ReadFile("r.xml"));
      } else {
        const std::string message = c.strictError.substr(0, c.strictError.find(" @"));
        EXPECT_EQ(r->error.rfind(message, 0), 0u) << r->error;
        EXPECT_EQ(r->error.substr(r->error.find(" @")), c.strictError.substr(message.size()));
        EXPECT_FALSE(fs::exists(out.Native("r.xml")));
      }
    }
  }
}

TEST(ApplyPatch, FailedExtractionsAreReportedAndTheOthersStillWritten) {
  TempDir newer, out;
  for (const char* f : {"a.txt", "b/x.txt", "c.txt", "d/y.txt", "e.txt"}) newer.WriteFile(f, f);
  ChangeSet changes;
  changes.NewFiles = {u"\\a.txt", u"\\b\\x.txt", u"\\c.txt", u"\\d\\y.txt", u"\\e.txt"};
  // \b and \d are not created, so their files cannot be opened.
  const std::u16string patch = WritePatchFile(changes, newer, out);
  for (const bool tolerant : {false, true}) {
    SCOPED_TRACE(tolerant ? "tolerant" : "strict");
    TempDir target;
    const auto r =
        Apply(target.wpath(), patch, tolerant, true, out.wpath() + u"/r.xml", ApplyWay::InPlace);
    EXPECT_EQ(target.ReadFile("a.txt"), "a.txt");
    if (!tolerant) {
      EXPECT_EQ(r->error.rfind("Unable to open file:" + target.path() + "\\\\b\\x.txt", 0), 0u)
          << r->error;
      EXPECT_FALSE(fs::exists(target.Native("c.txt")));
      continue;
    }
    EXPECT_EQ(r->error, "");
    EXPECT_EQ(target.ReadFile("e.txt"), "e.txt");
    const std::string report = out.ReadFile("r.xml");
    const std::string errors = Section(report, "Errors");
    EXPECT_EQ(Count(errors, "<Error msg="), 2u) << errors;
    EXPECT_LT(errors.find("\\b\\x.txt"), errors.find("\\d\\y.txt"));
    const std::string modified = Section(report, "ModifyedFiles");
    EXPECT_EQ(Count(modified, "<fNode"), 3u) << modified;
    EXPECT_EQ(modified.find("x.txt"), std::string::npos);
  }
}

// A stored length reaching past the index is caught before anything changes:
// strict, the patch is refused whole; tolerant, only that file is skipped.
TEST(ApplyPatch, StoredLengthBeyondTheIndexRefusesOrCostsThatFile) {
  TempDir newer, out;
  newer.WriteFile("a.txt", "first");
  newer.WriteFile("z.txt", "last file, its length will claim more than the patch holds");
  ChangeSet changes;
  changes.NewFiles = {u"\\a.txt", u"\\z.txt"};
  WritePatchFile(changes, newer, out);
  std::string bytes = ReadBytes(out.Native("p.dov"));
  const size_t length = bytes.find("last file") - 8;
  bytes[length + 4] = 0x7F;  // the length now reaches far beyond the end of the file
  WriteBytes(out.Native("p.dov"), bytes);
  for (const bool tolerant : {false, true}) {
    TempDir target;
    const auto r =
        Apply(target.wpath(), out.wpath() + u"/p.dov", tolerant, true, out.wpath() + u"/r.xml");
    if (!tolerant) {
      EXPECT_EQ(r->error,
                "Refusing a stored file whose length does not fit in the patch: \\z.txt @60");
      EXPECT_FALSE(fs::exists(target.Native("a.txt")));
      continue;
    }
    EXPECT_EQ(r->error, "");
    EXPECT_EQ(target.ReadFile("a.txt"), "first");
    EXPECT_FALSE(fs::exists(target.Native("z.txt")));
    const std::string errors = Section(out.ReadFile("r.xml"), "Errors");
    EXPECT_EQ(Count(errors, "<Error msg="), 1u) << errors;
    EXPECT_NE(errors.find("Refusing a stored file whose length does not fit in the patch: "
                          "\\z.txt"),
              std::string::npos)
        << errors;
  }
}

TEST(ApplyPatch, SymbolicLinksAtADestinationAreReplacedNeverWrittenThrough) {
  TempDir older, newer, out, outside;
  older.WriteFile("live.txt", "same");
  older.WriteFile("dangling.txt", "x");
  newer.WriteFile("live.txt", "changed");
  newer.WriteFile("dangling.txt", "changed too");
  chmod(older.Native("live.txt").c_str(), 0444);
  chmod(newer.Native("live.txt").c_str(), 0444);
  const ChangeSet changes = Compare(older.wpath(), newer.wpath());
  const std::u16string patch = WritePatchFile(changes, newer, out);

  // The target's live.txt is a link to a read-only file of the same content
  // and mode (a link is an entry of its own, so the fingerprint is skipped).
  outside.WriteFile("real.txt", "same");
  chmod(outside.Native("real.txt").c_str(), 0444);
  fs::remove(older.Native("live.txt"));
  fs::create_symlink(outside.Native("real.txt"), older.Native("live.txt"));
  ASSERT_NE(Fingerprint(older.wpath()), changes.OlderTreeID);
  const auto r = Apply(older.wpath(), patch, false, true);
  ASSERT_EQ(r->error, "");
  EXPECT_EQ(Fingerprint(older.wpath()), changes.NewerTreeID);
  EXPECT_FALSE(fs::is_symlink(older.Native("live.txt")));
  EXPECT_EQ(outside.ReadFile("real.txt"), "same");
  struct stat st;
  stat(outside.Native("real.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0444u);

  // A dangling link would make a file wherever it points.
  fs::remove(older.Native("dangling.txt"));
  fs::create_symlink(outside.Native("made.txt"), older.Native("dangling.txt"));
  fs::remove(older.Native("live.txt"));
  older.WriteFile("live.txt", "same");
  chmod(older.Native("live.txt").c_str(), 0444);
  const auto again = Apply(older.wpath(), patch, false, true);
  ASSERT_EQ(again->error, "");
  EXPECT_FALSE(fs::exists(outside.Native("made.txt")));
  EXPECT_EQ(older.ReadFile("dangling.txt"), "changed too");
  EXPECT_FALSE(fs::is_symlink(older.Native("dangling.txt")));
}

TEST(ApplyPatch, IgnoringTheFingerprintSkipsIdsAndTheClosingCheck) {
  TempDir older, newer, out;
  older.WriteFile("a.txt", "a");
  newer.WriteFile("a.txt", "b");
  ChangeSet changes = Compare(older.wpath(), newer.wpath());
  changes.OlderTreeID = u"not this tree";
  const std::u16string patch = WritePatchFile(changes, newer, out);
  const auto r = Apply(older.wpath(), patch, false, true);
  ASSERT_EQ(r->error, "");
  EXPECT_EQ(
      std::count(r->sink.statuses.begin(), r->sink.statuses.end(), u"Calculating file ids..."), 0);
  EXPECT_EQ(Closing(r->sink), std::vector<std::u16string>{u"Patch applied ok."});
  EXPECT_EQ(older.ReadFile("a.txt"), "b");
}

// A patch whose contents would not give its newer fingerprint (here the
// fingerprint itself is wrong) is refused before anything changes, either way.
TEST(ApplyPatch, AResultThatWouldDifferIsRefusedBeforeAnyChange) {
  TempDir older, newer, out;
  older.WriteFile("a.txt", "a");
  newer.WriteFile("a.txt", "b");
  ChangeSet changes = Compare(older.wpath(), newer.wpath());
  const std::string expected = Narrow(changes.NewerTreeID);
  changes.NewerTreeID = changes.OlderTreeID;
  const std::u16string patch = WritePatchFile(changes, newer, out);
  for (const ApplyWay way : {ApplyWay::Staged, ApplyWay::InPlace}) {
    const auto r = Apply(older.wpath(), patch, false, false, u"", way);
    EXPECT_EQ(r->error,
              "The patch's stored contents do not give its newer fingerprint, nothing "
              "was changed. Calculated:" +
                  expected + " expected:" + Narrow(changes.OlderTreeID) + " @192");
    EXPECT_EQ(older.ReadFile("a.txt"), "a");
  }
}

TEST(ApplyPatch, CancelBetweenPhasesKeepsWhatWasDone) {
  TempDir older, newer, out;
  older.WriteFile("old.txt", "o");
  newer.WriteFile("nd/new.txt", "n");
  const ChangeSet changes = Compare(older.wpath(), newer.wpath());

  RecordingSink sink;
  sink.cancelOnStatus = u"Creating Directories.";
  const ApplyPatchParams params{
      older.wpath(), WritePatchFile(changes, newer, out), u"", false, false, true};
  EXPECT_EQ(RunJobForTest(sink, JobKind::ApplyPatch, params).outcome, JobOutcome::Cancelled);
  EXPECT_EQ(sink.statuses.back(), u"Cancelled");
  EXPECT_FALSE(fs::exists(older.Native("old.txt")));
  EXPECT_FALSE(fs::exists(older.Native("nd")));
}

// Hostile targets and patches against a target with a sentinel directory
// beside it that each of them aims at: every one is refused or skipped, and
// the sentinel stays byte for byte and mode for mode as it was, in both modes.
TEST(ApplyPatch, NothingOutsideTheTargetIsEverTouched) {
  using platform::fault_injection::FaultPoint;
  struct Scratch {
    TempDir base;
    std::u16string Target() const { return base.wpath() + u"/t"; }
    std::u16string Patch() const { return base.wpath() + u"/p/p.dov"; }
    std::string T(const std::string& relative) const { return base.Native("t/" + relative); }
  };
  struct Case {
    const char* name;
    // Builds the target and writes the patch; returns the expected error.
    std::function<std::string(Scratch&)> setup;
    std::function<void(Scratch&)> duringRun;  // between the checks and the first change
    bool refusedWhole;                        // in both modes, before anything changes
  };
  // The patch a crafted file would hold: its older fingerprint is the
  // target's own, whatever the target holds.
  const auto write = [](Scratch& s, ChangeSet changes, const std::string& newer = "n") {
    if (changes.OlderTreeID.empty()) changes.OlderTreeID = Fingerprint(s.Target());
    RecordingSink sink;
    WritePatch(sink, changes, s.base.wpath() + u"/" + platform::FromUtf8(newer), s.Patch());
  };
  const std::string link = "Refusing to follow a symbolic link on the way to: ";
  const Case cases[] = {
      {"directory link out",
       [&](Scratch& s) {
         EXPECT_EQ(symlink("../sentinel", s.T("sub").c_str()), 0);
         s.base.WriteFile("n/sub/new.txt", "new");
         ChangeSet c;
         c.UnlinkedFiles = {u"\\sub\\file"};
         c.NewFiles = {u"\\sub\\new.txt"};
         c.AttributeChanges = {{u"\\sub\\new.txt", 0x81A40020}};
         write(s, c);
         return link + Narrow(s.Target()) + "\\sub\\file @35";
       },
       nullptr, true},
      {"file link out for a permission change",
       [&](Scratch& s) {
         EXPECT_EQ(symlink("../sentinel/file", s.T("f").c_str()), 0);
         ChangeSet c;
         c.AttributeChanges = {{u"\\f", 0x89FF0020}};
         write(s, c);
         return link + Narrow(s.Target()) + "\\\\f @35";
       },
       nullptr, false},
      {"link swapped in between the check and the first write",
       [&](Scratch& s) {
         s.base.WriteFile("t/sub/file", "old");
         s.base.WriteFile("n/sub/file", "new");
         ChangeSet c;
         c.ChangedFiles = {u"\\sub\\file"};
         c.AttributeChanges = {{u"\\sub\\file", 0x81A40020}};
         write(s, c);
         return link + Narrow(s.Target()) + "\\\\sub\\file @35";
       },
       [](Scratch& s) {
         fs::rename(s.T("sub"), s.T("moved"));
         fs::create_directory_symlink("../sentinel", s.T("sub"));
       },
       false},
      {"filter * hides the whole target",
       [&](Scratch& s) {
         ChangeSet c;
         c.IgnoreFilter = u"*";
         c.OlderTreeID = c.NewerTreeID = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";
         c.UnlinkedFiles = {u"\\keep.txt"};
         write(s, c);
         return std::string("Refusing a path the patch's own filter ignores: \\keep.txt @31");
       },
       nullptr, true},
      {"a path below an ignored directory",
       [&](Scratch& s) {
         s.base.WriteFile("n/build/x", "x");
         ChangeSet c;
         c.IgnoreFilter = u"build";
         c.NewFiles = {u"\\build\\x"};
         write(s, c);
         return std::string("Refusing a path the patch's own filter ignores: \\build\\x @31");
       },
       nullptr, true},
      {"negative stored length",
       [&](Scratch& s) {
         s.base.WriteFile("n/keep.txt", "longer new content");
         ChangeSet c;
         c.ChangedFiles = {u"\\keep.txt"};
         write(s, c);
         std::string b = ReadBytes(s.base.Native("p/p.dov"));
         const size_t at = b.find("longer new content") - 8;
         b.replace(at, 8, Bytes({0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));  // -5
         WriteBytes(s.base.Native("p/p.dov"), b);
         return std::string(
             "Refusing a stored file whose length does not fit in the patch: \\keep.txt @60");
       },
       nullptr, false},
  };
  for (const Case& c : cases) {
    for (const bool tolerant : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (tolerant ? " tolerant" : " strict"));
      Scratch s;
      s.base.WriteFile("sentinel/file", "sentinel");
      s.base.WriteFile("sentinel/sub/file", "deeper");
      chmod(s.base.Native("sentinel/file").c_str(), 0640);
      s.base.WriteFile("t/keep.txt", "keep");
      s.base.MakeDir("n");
      s.base.MakeDir("p");
      const std::string error = c.setup(s);
      const std::string sentinel = Listing(s.base.Native("sentinel"));
      const std::string target = Listing(s.base.Native("t"));
      if (c.duringRun) {
        platform::fault_injection::ArmAction(FaultPoint::Create, 1, [&] { c.duringRun(s); });
      }
      // A crafted patch's newer fingerprint is not the point here: the
      // refusals at the changes themselves are.
      const auto r = Apply(s.Target(), s.Patch(), tolerant, !c.refusedWhole || c.duringRun);
      platform::fault_injection::DisarmAll();
      EXPECT_EQ(Listing(s.base.Native("sentinel")), sentinel);
      if (c.refusedWhole) {
        EXPECT_EQ(Listing(s.base.Native("t")), target);
      }
      if (!tolerant || c.refusedWhole) {
        // A failure during the commit says that the same command finishes it.
        const bool inCommit =
            !c.refusedWhole && error.find("@35") != std::string::npos && !c.duringRun;
        EXPECT_EQ(r->error, inCommit ? error.substr(0, error.rfind(" @")) + kPartlyChanged +
                                           error.substr(error.rfind(" @"))
                                     : error);
        continue;
      }
      EXPECT_EQ(r->error, "");
      // The first skipped item is the refused one (a swapped directory also
      // costs the attributes of what lies below it).
      ASSERT_FALSE(r->skipped.empty());
      EXPECT_EQ(Narrow(r->skipped[0]) + " @", error.substr(0, error.rfind('@') + 1));
    }
  }
  EXPECT_EQ(platform::fault_injection::Take(FaultPoint::Create), 0);
}

// Files and links turn into each other, a link's target changes, and new
// links (dangling, absolute) arrive; from two trees and from a vault, the
// target ends exactly as the newer tree, links as links.
TEST(ApplyPatch, LinksRoundTripAsLinks) {
  TempDir older, newer, out;
  const auto makeLink = [](const TempDir& d, const char* target, const char* name) {
    ASSERT_EQ(symlink(target, d.Native(name).c_str()), 0);
  };
  older.WriteFile("becomes-link", "file first");
  makeLink(newer, "somewhere", "becomes-link");
  makeLink(older, "was-link-target", "becomes-file");
  newer.WriteFile("becomes-file", "now a file");
  makeLink(older, "old-target", "retargeted");
  makeLink(newer, "new-target", "retargeted");
  makeLink(newer, "nowhere/at/all", "dangling");
  makeLink(newer, "/etc/hostname", "absolute");
  makeLink(newer, "sub", "to-dir");
  // Same id, other kind: the file's content is the link's target text.
  older.WriteFile("same-bytes", "x/y");
  makeLink(newer, "x/y", "same-bytes");
  // A link replaced by a directory, and a directory by a link.
  makeLink(older, "sub", "link-then-dir");
  newer.WriteFile("link-then-dir/inner.txt", "i");
  older.WriteFile("dir-then-link/inner.txt", "i");
  makeLink(newer, "sub", "dir-then-link");
  for (const TempDir* d : {&older, &newer}) {
    d->WriteFile("sub/plain.txt", "p");
    makeLink(*d, "plain.txt", "sub/kept-link");
  }
  const fs::copy_options copyLinks = fs::copy_options::recursive | fs::copy_options::copy_symlinks;
  fs::copy(older.path(), out.Native("second"), copyLinks);

  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"", u"");
  const auto r = Apply(older.wpath(), out.wpath() + u"/p.dov");
  ASSERT_EQ(r->error, "");
  EXPECT_EQ(r->sink.statuses.back(), u"New fingerprint verified.");
  EXPECT_EQ(Listing(older.path()), Listing(newer.path()));

  // Vaults record links like files.
  CreateVault(sink, out.wpath() + u"/second", u"", out.wpath() + u"/v.zov");
  CreatePatchFromVault(sink, newer.wpath(), out.wpath() + u"/pv.dov", out.wpath() + u"/v.zov", u"",
                       false);
  const auto fromVault = Apply(out.wpath() + u"/second", out.wpath() + u"/pv.dov");
  ASSERT_EQ(fromVault->error, "");
  EXPECT_EQ(fromVault->sink.statuses.back(), u"New fingerprint verified.");
  EXPECT_EQ(Listing(out.Native("second")), Listing(newer.path()));
}

// Tolerant, one damaged record in the middle of the index costs that one
// file; strict, it refuses the patch before anything changes.
TEST(ApplyPatch, ADamagedRecordCostsOnlyItsFileWhenTolerated) {
  TempDir newer, out;
  for (const char* f : {"a.txt", "m.txt", "z.txt"}) newer.WriteFile(f, std::string(f) + " content");
  ChangeSet changes;
  changes.NewFiles = {u"\\a.txt", u"\\m.txt", u"\\z.txt"};
  WritePatchFile(changes, newer, out);
  std::string bytes = ReadBytes(out.Native("p.dov"));
  const std::u16string stored = u"\\m.txt";
  const size_t path = bytes.find(std::string(reinterpret_cast<const char*>(stored.data()), 12),
                                 bytes.find("a.txt content"));
  bytes[path - 7] = 0x42;  // the record's tag, before its path's two tags and length
  WriteBytes(out.Native("p.dov"), bytes);
  for (const bool tolerant : {false, true}) {
    SCOPED_TRACE(tolerant ? "tolerant" : "strict");
    TempDir target;
    const auto r =
        Apply(target.wpath(), out.wpath() + u"/p.dov", tolerant, true, out.wpath() + u"/r.xml");
    if (!tolerant) {
      EXPECT_EQ(r->error.rfind("Type mismatch. @", 0), 0u) << r->error;
      EXPECT_TRUE(fs::is_empty(target.path()));
      continue;
    }
    ASSERT_EQ(r->error, "");
    EXPECT_EQ(target.ReadFile("a.txt"), "a.txt content");
    EXPECT_EQ(target.ReadFile("z.txt"), "z.txt content");
    EXPECT_FALSE(fs::exists(target.Native("m.txt")));
    EXPECT_EQ(r->skipped, std::vector<std::u16string>{u"Type mismatch."});
    const std::string report = out.ReadFile("r.xml");
    EXPECT_EQ(Count(Section(report, "Errors"), "<Error msg="), 1u);
    EXPECT_EQ(Count(Section(report, "ModifyedFiles"), "<fNode"), 2u);
  }
}

namespace {

// Staged files and journals anywhere below root.
std::vector<std::string> Leftovers(const std::string& root) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename();
    if (name.rfind(".tq-", 0) == 0 || name == ".torquelin-journal") found.push_back(name);
  }
  return found;
}

struct Killed {};  // thrown from a hook: the run stops as if killed, unwinding

}  // namespace

// The staged way: every refusal before the first change leaves the target
// as it was, a check changes nothing, a run stopped during its commit is
// finished by the next, a second run meanwhile is refused, and a finished
// run leaves no staged file and no journal.
TEST(ApplyPatch, StagedRunsRefuseOrFinishWithoutATrace) {
  using platform::fault_injection::FaultPoint;
  TempDir base;
  for (const char* f : {"keep.txt", "gone.txt", "changed.txt", "dir/gone/x", "was-file"}) {
    base.WriteFile(std::string("older/") + f, std::string("old ") + f);
  }
  for (const char* f : {"keep.txt", "changed.txt", "new/deep/n.txt", "was-file/inside"}) {
    base.WriteFile(std::string("newer/") + f, std::string(f) == "keep.txt" ? "old keep.txt" : f);
  }
  base.MakeDir("newer/dir");
  base.MakeDir("p");
  const ChangeSet changes = Compare(base.wpath() + u"/older", base.wpath() + u"/newer");
  RecordingSink sink;
  const std::u16string patch = base.wpath() + u"/p/p.dov";
  WritePatch(sink, changes, base.wpath() + u"/newer", patch);
  const std::string good = ReadBytes(base.Native("p/p.dov"));
  const std::string newerListing = Listing(base.Native("newer"));
  const std::string t = base.Native("t");
  const std::u16string target = platform::FromUtf8(t);
  const std::string otherJournal =
      "torquelin-journal 2\nolder 1111\nnewer 2222\nsize 9\ndigest 3333\npatch /x/other%20p.dov\n"
      "token 0123456789abcdef\nend\n";

  struct Case {
    const char* name;
    std::function<void()> setup;  // after the target is a copy of older
    bool checkOnly;
    std::string result;                // the error with its line, or the last status
    bool changed;                      // the target ends as newer, else as it was
    std::function<void()> rerunSetup;  // when set, run again after it: the newer tree
  };
  std::unique_ptr<Applied> second;
  const Case cases[] = {
      {"applied", nullptr, false, "New fingerprint verified.", true, nullptr},
      {"checked", nullptr, true, Narrow(kApplyCheckedText), false, nullptr},
      {"checked on a drifted target", [&] { base.WriteFile("t/keep.txt", "drift"); }, true, " @188",
       false, nullptr},
      {"already newer",
       [&] { fs::remove_all(t), fs::copy(base.Native("newer"), t, fs::copy_options::recursive); },
       false, Narrow(kAlreadyAppliedText), false, nullptr},
      {"a flipped content byte",
       [&] {
         std::string bytes = good;
         bytes[bytes.find("new/deep/n.txt", 40)] ^= 1;
         WriteBytes(base.Native("p/p.dov"), bytes);
       },
       false,
       "The patch's stored contents do not give its newer fingerprint, nothing was changed. "
       "Calculated:",
       false, nullptr},
      {"another patch pending", [&] { base.WriteFile("t/.torquelin-journal", otherJournal); },
       false,
       "An interrupted apply of another patch must be finished first in this directory: "
       "/x/other p.dov (fingerprints 1111 to 2222) @175",
       false, nullptr},
      {"a write fails while staging",
       [] {
         platform::fault_injection::Arm(FaultPoint::Write, 2, ENOSPC,
                                        platform::fault_injection::Failing::FromThenOn);
       },
       false, "Unable to write a dest file:", false, nullptr},
      {"killed during the commit",
       [] { platform::fault_injection::ArmAction(FaultPoint::Rename, 2, [] { throw Killed(); }); },
       false, "killed", false, [] {}},
      {"a rename refused during the commit",
       [] { platform::fault_injection::Arm(FaultPoint::Rename, 3, EIO); }, false,
       "Unable to move a new file into place: ", false, [] {}},
      {"a root its owner may not write", [&] { fs::permissions(t, fs::perms(0555)); }, false,
       "New fingerprint verified.", true, nullptr},
      {"a second apply while one runs",
       [&] {
         platform::fault_injection::ArmAction(FaultPoint::Rename, 1,
                                              [&] { second = Apply(target, patch); });
       },
       false, "New fingerprint verified.", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(t);
    fs::copy(base.Native("older"), t, fs::copy_options::recursive);
    WriteBytes(base.Native("p/p.dov"), good);
    if (c.setup) c.setup();
    const std::string before = Listing(t);
    std::unique_ptr<Applied> r;
    try {
      r = Apply(target, patch, false, false, u"", ApplyWay::Staged, c.checkOnly);
    } catch (const Killed&) {
      r = std::make_unique<Applied>();
      r->error = "killed";
    }
    platform::fault_injection::DisarmAll();
    const std::string result = r->error.empty() ? Narrow(r->sink.statuses.back()) : r->error;
    EXPECT_NE(result.find(c.result), std::string::npos) << result;
    if (c.rerunSetup) {
      // Stopped during its commit: the journal stays, and the same command
      // finishes the tree.
      const std::vector<std::string> left = Leftovers(t);
      EXPECT_NE(std::find(left.begin(), left.end(), ".torquelin-journal"), left.end());
      const auto again = Apply(target, patch);
      EXPECT_EQ(again->error, "");
      EXPECT_EQ(again->sink.statuses[2], u"Finishing an interrupted apply.");
      EXPECT_EQ(again->sink.statuses.back(), u"New fingerprint verified.");
    }
    if (c.changed || c.rerunSetup) {
      EXPECT_EQ(Listing(t), newerListing);
    } else {
      EXPECT_EQ(Listing(t), before);
    }
    if (std::string(c.name) != "another patch pending") {
      EXPECT_EQ(Leftovers(t), std::vector<std::string>());
    }
    // The root gets its own mode back, last.
    const bool readOnly = std::string(c.name) == "a root its owner may not write";
    EXPECT_EQ(fs::status(t).permissions() & fs::perms::owner_write,
              readOnly ? fs::perms::none : fs::perms::owner_write);
    fs::permissions(t, fs::perms::owner_write, fs::perm_options::add);
  }
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->error, "Another apply is already running on this directory: " + t + " @170");
}

// The closing check takes over the opening id of a file stamped exactly as
// before the run, found by device and inode (b.txt is a second name of
// a.txt), and reads every other file again. Touching a kept file behind the
// run's back (during the commit) moves its stamp, so both its names are read
// again: a different content is caught even with the same size and time.
TEST(ApplyPatch, ClosingCheckReReadsWhatMayHaveChanged) {
  using platform::fault_injection::FaultPoint;
  TempDir older, newer, out;
  for (const char* kept : {"a.txt", "b.txt"}) {
    older.WriteFile(kept, "same a");
    newer.WriteFile(kept, "same a");
  }
  older.WriteFile("c.txt", "old c");
  newer.WriteFile("c.txt", "new c");
  const std::u16string patch = WritePatchFile(Compare(older.wpath(), newer.wpath()), newer, out);
  const auto sameTime = [](const std::string& a, const std::string& from, const char* text) {
    const auto mtime = fs::last_write_time(a);
    std::ofstream(from, std::ios::binary | std::ios::trunc) << text;
    fs::last_write_time(from, mtime);
    if (from != a) fs::rename(from, a);
  };
  const struct {
    const char* name;
    std::function<void(const std::string&)> touch;
    bool differs;
  } cases[] = {
      {"left alone", nullptr, false},
      {"rewritten, same size and time", [&](auto& a) { sameTime(a, a, "SAME A"); }, true},
      {"renamed over, same size and time", [&](auto& a) { sameTime(a, a + ".n", "SAME A"); }, true},
      {"mode changed and put back",
       [&](auto& a) {
         fs::permissions(a, fs::perms::owner_exec, fs::perm_options::add);
         fs::permissions(a, fs::perms::owner_exec, fs::perm_options::remove);
       },
       false}};
  for (const auto& [name, touch, differs] : cases) {
    SCOPED_TRACE(name);
    const std::string target = out.Native(name);
    fs::copy(older.path(), target, fs::copy_options::recursive);
    fs::remove(target + "/b.txt");
    fs::create_hard_link(target + "/a.txt", target + "/b.txt");
    // Files changed in the very clock tick the run starts in are never taken over.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (touch) {
      platform::fault_injection::ArmAction(FaultPoint::Rename, 1,
                                           [&] { touch(target + "/a.txt"); });
    }
    const auto r = Apply(platform::FromUtf8(target), patch);
    platform::fault_injection::DisarmAll();
    EXPECT_EQ(r->sink.statuses.back(),
              differs ? kAppliedFingerprintMismatchText : u"New fingerprint verified.");
    // The opening scan read all three; the closing one what may differ.
    std::vector<std::string> read = Details(r->sink, u"Calculating file ids...");
    ASSERT_GE(read.size(), 3u);
    read.erase(read.begin(), read.begin() + 3);
    std::sort(read.begin(), read.end());
    EXPECT_EQ(read.size(), touch ? 3u : 1u);  // a touched file under both its names
    EXPECT_EQ(read.back(), "Processing: \\c.txt");
  }
}

// The fingerprint foretold before the commit is the one the tree ends with,
// whatever the shape of the change (new names sorting around kept ones, in
// UTF-16 order where U+1F600 sorts below U+FF01; files and directories
// swapping), in each way of applying: a wrong forecast refuses the patch.
TEST(ApplyPatch, ForecastFingerprintMatchesEveryShapeOfChange) {
  TempDir older, newer, out;
  for (const char* name : {"d/b", "d/n", "k/\xef\xbc\x81", "z"}) {
    older.WriteFile(name, name);
    newer.WriteFile(name, name);
  }
  for (const char* name : {"d/a", "d/m", "d/z", "!", "k/\xf0\x9f\x98\x80", "x/in", "y"}) {
    newer.WriteFile(name, name);
  }
  for (const char* name : {"d/c", "x", "y/in", "gone/f"}) older.WriteFile(name, name);
  const std::u16string patch = WritePatchFile(Compare(older.wpath(), newer.wpath()), newer, out);
  for (const ApplyWay way : {ApplyWay::Staged, ApplyWay::InPlace}) {
    const std::string target = out.Native(way == ApplyWay::Staged ? "staged" : "in-place");
    fs::copy(older.path(), target, fs::copy_options::recursive);
    EXPECT_EQ(Apply(platform::FromUtf8(target), patch, false, false, u"", way, true)->error, "");
    const auto r = Apply(platform::FromUtf8(target), patch, false, false, u"", way);
    EXPECT_EQ(r->sink.statuses.back(), u"New fingerprint verified.");
    EXPECT_EQ(Listing(target), Listing(newer.path()));
  }
}

// Without room for the new contents beside the old ones, nothing changes.
TEST(ApplyPatch, WithoutRoomForTheNewContentsNothingChanges) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir base, newer, out;
  base.MakeDir("small");
  const std::string small = base.Native("small");
  if (std::system(("mount -t tmpfs -o size=2m tmpfs " + small + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "mount refused";
  }
  std::string content(3 << 20, 'x');
  newer.WriteFile("big.bin", content);
  fs::create_directory(small + "/t");
  const std::u16string target = platform::FromUtf8(small + "/t");
  const std::u16string patch = WritePatchFile(Compare(target, newer.wpath()), newer, out);
  const auto r = Apply(target, patch);
  EXPECT_EQ(
      r->error.rfind(
          "Not enough free space for the patch's new contents in " + small + "/t: needed ", 0),
      0u)
      << r->error;
  EXPECT_NE(r->error.find(" bytes, available "), std::string::npos);
  EXPECT_TRUE(fs::is_empty(small + "/t"));
  // Cleaning up: a mount left behind fails no check of this test.
  [[maybe_unused]] const int unmounted = std::system(("umount " + small).c_str());
}

// Whatever stands at the journal's name that this program did not write for
// this patch and this tree is refused, naming it, before any change: nothing
// in it can steer a run, and nothing outside the target is touched.
TEST(ApplyPatch, PlantedJournalsAreRefusedBeforeAnyChange) {
  using platform::fault_injection::FaultPoint;
  TempDir base;
  base.WriteFile("older/keep.txt", "k");
  base.WriteFile("older/gone.txt", "g");
  base.WriteFile("older/d/f.txt", "old");
  base.WriteFile("newer/keep.txt", "k");
  base.WriteFile("newer/d/f.txt", "new");
  base.WriteFile("outside/secret", "secret");
  base.MakeDir("p");
  RecordingSink sink;
  const std::u16string patch = base.wpath() + u"/p/p.dov";
  CreatePatchFromDirectories(sink, base.wpath() + u"/older", base.wpath() + u"/newer", patch, u"",
                             u"");
  const std::string t = base.Native("t"), journal = t + "/.torquelin-journal";
  const auto reset = [&] {
    fs::remove_all(t);
    fs::copy(base.Native("older"), t, fs::copy_options::recursive);
  };
  // A real journal of this patch, left by a run stopped as its commit began.
  reset();
  platform::fault_injection::ArmAction(FaultPoint::Rename, 1, [] { throw Killed(); });
  EXPECT_THROW(Apply(platform::FromUtf8(t), patch), Killed);
  platform::fault_injection::DisarmAll();
  const std::string committing = ReadBytes(journal);
  ASSERT_NE(committing.find("\ncommit\n"), std::string::npos);
  const std::string staging = committing.substr(0, committing.find("end\n") + 4);

  const std::string outside = Listing(base.Native("outside"));
  struct Case {
    const char* name;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"an old journal naming a path outside",
       [&] {
         WriteBytes(journal,
                    "torquelin-journal 1\nolder x\nstage \\..\\outside\\secret \\keep.txt\nend\n"
                    "commit\n");
       }},
      {"garbage",
       [&] {
         WriteBytes(journal, std::string("\x7f"
                                         "ELF\0\0",
                                         6));
       }},
      {"a commit of this patch with nothing staged", [&] { WriteBytes(journal, committing); }},
      {"a directory outside the patch",
       [&] {
         WriteBytes(journal,
                    staging.substr(0, staging.size() - 4) + "opened \\outside 41ed0011\nend\n");
       }},
      {"a hard link to a file outside",
       [&] { ASSERT_EQ(link(base.Native("outside/secret").c_str(), journal.c_str()), 0); }},
      {"a symbolic link", [&] { fs::create_symlink("../outside/secret", journal); }},
      {"a directory", [&] { fs::create_directory(journal); }},
      {"a FIFO", [&] { ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0); }},
  };
  for (const Case& c : cases) {
    for (const bool checkOnly : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (checkOnly ? " --check" : ""));
      reset();
      c.plant();
      const std::string before = Listing(t);
      const auto r =
          Apply(platform::FromUtf8(t), patch, false, false, u"", ApplyWay::Staged, checkOnly);
      EXPECT_EQ(r->error,
                "Refusing an entry that is not a valid apply journal (move it away to apply): " +
                    t + "\\.torquelin-journal @179");
      EXPECT_EQ(Listing(t), before);
      EXPECT_EQ(Listing(base.Native("outside")), outside);
    }
  }
}

// What would stop the commit halfway, or give another tree than the patch
// promises, is refused before any change, and --check says so too.
TEST(ApplyPatch, WhatWouldFailHalfwayIsRefusedBeforeAnyChange) {
  TempDir base;
  base.WriteFile("t/keep.txt", "k");
  base.WriteFile("t/gone.txt", "g");
  base.WriteFile("t/d2/a", "a");
  base.WriteFile("t/d2/x.tmp", "ignored");
  base.WriteFile("n/.torquelin-journal", "n");
  base.WriteFile("n/keep.txt", "K");
  base.MakeDir("p");
  const std::u16string target = base.wpath() + u"/t";
  const std::string t = base.Native("t");
  struct Case {
    const char* name;
    std::function<void(ChangeSet&)> edit;
    std::string error;
  };
  const std::string twice =
      "Refusing a path the patch lists twice or in lists that contradict each other: ";
  const Case cases[] = {
      {"a path listed twice",
       [](ChangeSet& c) {
         c.NewDirs = {u"\\x", u"\\x"};
       },
       twice + "\\x @33"},
      {"removed and changed",
       [](ChangeSet& c) {
         c.UnlinkedFiles = {u"\\keep.txt"};
         c.ChangedFiles = {u"\\keep.txt"};
       },
       twice + "\\keep.txt @33"},
      {"the journal's own name",
       [](ChangeSet& c) {
         c.NewFiles = {u"\\.torquelin-journal"};
         c.AttributeChanges[u"\\.torquelin-journal"] = 0x81A40020;
       },
       "Refusing a path apply keeps for its journal: \\.torquelin-journal @29"},
      {"a new directory without a word", [](ChangeSet& c) { c.NewDirs = {u"\\x"}; },
       "Refusing a patch whose newer tree cannot be foreseen: \\x @190"},
      {"no contents and another newer tree",
       [](ChangeSet& c) {
         c.UnlinkedFiles = {u"\\gone.txt"};
         c.NewerTreeID = std::u16string(40, u'0');
       },
       "The patch's stored contents do not give its newer fingerprint, nothing was changed."},
      {"an ignored entry in a removed directory",
       [](ChangeSet& c) {
         c.UnlinkedFiles = {u"\\d2\\a"};
         c.UnlinkedDirectories = {u"\\d2"};
       },
       "A directory the patch removes holds an entry the patch does not remove: " + t +
           "\\d2\\x.tmp @200"},
  };
  for (const Case& c : cases) {
    for (const bool checkOnly : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (checkOnly ? " --check" : ""));
      ChangeSet changes;
      changes.IgnoreFilter = u"*.tmp";
      RecordingSink sink;
      CDirSnapshot snapshot = BuildSnapshot(sink, target, u"*.tmp", FileIds::Compute);
      changes.OlderTreeID = ComputeFingerprint(sink, snapshot);
      c.edit(changes);
      const std::u16string patch = base.wpath() + u"/p/p.dov";
      WritePatch(sink, changes, base.wpath() + u"/n", patch);
      const std::string before = Listing(t);
      const auto r = Apply(target, patch, false, false, u"", ApplyWay::Staged, checkOnly);
      EXPECT_EQ(r->error.rfind(c.error, 0), 0u) << r->error;
      EXPECT_EQ(Listing(t), before);
    }
  }
}

// The system's own refusal to change a file (immutable, append-only) is
// found before any change.
TEST(ApplyPatch, AnUnchangeableEntryIsRefusedBeforeAnyChange) {
  if (geteuid() != 0) GTEST_SKIP() << "marking a file immutable needs the superuser";
  TempDir older, newer, out;
  older.WriteFile("a.txt", "a");
  older.WriteFile("locked.txt", "old");
  newer.WriteFile("locked.txt", "new");
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"", u"");
  const std::string locked = older.Native("locked.txt");
  if (std::system(("chattr +i '" + locked + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "the file system keeps no immutable flag";
  }
  const std::string before = Listing(older.path());
  const auto r = Apply(older.wpath(), out.wpath() + u"/p.dov");
  [[maybe_unused]] const int unlocked = std::system(("chattr -i '" + locked + "'").c_str());
  EXPECT_EQ(r->error,
            "The system keeps an entry the patch changes from being changed (immutable or "
            "append-only): " +
                older.path() + "\\locked.txt @202");
  EXPECT_EQ(Listing(older.path()), before);
}

// New contents wait for the commit readable by their owner alone, and new
// directories are the owner's until the patch's attributes are set.
TEST(ApplyPatch, StagedContentsArePrivateUntilTheCommit) {
  using platform::fault_injection::FaultPoint;
  TempDir older, newer, out;
  older.WriteFile("secret.txt", "old");
  newer.WriteFile("secret.txt", "new secret");
  newer.WriteFile("nd/inner.txt", "i");
  chmod(newer.Native("secret.txt").c_str(), 0644);
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"", u"");
  std::vector<std::string> seen;
  platform::fault_injection::ArmAction(FaultPoint::Rename, 1, [&] {
    for (const auto& e : fs::recursive_directory_iterator(older.path())) {
      struct stat st;
      lstat(e.path().c_str(), &st);
      const std::string name = e.path().filename();
      if (name.rfind(".tq-", 0) == 0 || name == "nd") {
        seen.push_back((name == "nd" ? "nd " : ".tq ") + std::to_string(st.st_mode & 07777));
      }
    }
  });
  const auto r = Apply(older.wpath(), out.wpath() + u"/p.dov");
  platform::fault_injection::DisarmAll();
  EXPECT_EQ(r->error, "");
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{".tq 384", ".tq 384", "nd 448"}));  // 0600, 0700
  EXPECT_EQ(Listing(older.path()), Listing(newer.path()));
}

// Run by the superuser, a replaced file keeps its owner and a new one takes
// its directory's; set-id bits come only with the owner the file had, and
// those left off are listed as skipped.
TEST(ApplyPatch, AsSuperuserOwnersStayAndSetIdBitsNeedTheirOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "giving files away needs the superuser";
  constexpr uid_t kNobody = 65534;
  TempDir older, newer, out;
  for (const TempDir* d : {&older, &newer}) {
    d->WriteFile("prog", d == &older ? "old program" : "new program");
    d->MakeDir("sub");
  }
  newer.WriteFile("sub/new-prog", "another program");
  newer.WriteFile("new.txt", "n");
  // chown drops set-id bits, so the modes come after.
  ASSERT_EQ(chown(older.Native("prog").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chown(older.Native("sub").c_str(), kNobody, kNobody), 0);
  for (const std::string& p :
       {older.Native("prog"), newer.Native("prog"), newer.Native("sub/new-prog")}) {
    chmod(p.c_str(), 04755);
  }
  chmod(newer.Native("new.txt").c_str(), 0644);
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"", u"");
  const auto r = Apply(older.wpath(), out.wpath() + u"/p.dov");
  EXPECT_EQ(r->error, "");
  ASSERT_EQ(r->skipped.size(), 1u);
  EXPECT_EQ(Narrow(r->skipped[0]),
            "Set-user-id and set-group-id bits left off, the owner is not the replaced file's: "
            "\\sub\\new-prog");
  EXPECT_EQ(r->sink.statuses.back(), kAppliedFingerprintMismatchText);
  struct Expected {
    const char* path;
    uid_t owner;
    mode_t mode;
  };
  for (const Expected& e :
       {Expected{"prog", kNobody, 04755}, Expected{"sub/new-prog", kNobody, 0755},
        Expected{"new.txt", getuid(), 0644}}) {
    SCOPED_TRACE(e.path);
    struct stat st;
    ASSERT_EQ(lstat(older.Native(e.path).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, e.owner);
    EXPECT_EQ(st.st_mode & 07777, e.mode);
  }
}

// Names a tree may hold that look like apply's own (a staged name, the
// journal's name below the root) are entries like any other; the journal's
// name in the root is one too for every job that only reads the tree.
TEST(ApplyPatch, TreesHoldingReservedNamesRoundTrip) {
  TempDir older, newer, out;
  for (const TempDir* d : {&older, &newer}) {
    d->WriteFile(".tq-0123456789abcdef.0", d == &older ? "staged-looking" : "changed");
    d->WriteFile("sub/.torquelin-journal", d == &older ? "a user's file" : "still the user's");
  }
  newer.WriteFile(".tq-new", "n");
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"", u"");
  const auto r = Apply(older.wpath(), out.wpath() + u"/p.dov");
  EXPECT_EQ(r->error, "");
  EXPECT_EQ(r->sink.statuses.back(), u"New fingerprint verified.");
  EXPECT_EQ(Listing(older.path()), Listing(newer.path()));

  // In the root: fingerprinted, vaulted and verified as part of the tree.
  const std::u16string without = Fingerprint(newer.wpath());
  newer.WriteFile(".torquelin-journal", "a user's file in the root");
  EXPECT_NE(Fingerprint(newer.wpath()), without);
  CreateVault(sink, newer.wpath(), u"", out.wpath() + u"/v.zov");
  EXPECT_EQ(VerifyTree(sink, newer.wpath(), out.wpath() + u"/v.zov", u""), u"");
  // A patch that would write it there is refused before any change.
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p2.dov", u"",
                             u"");
  const std::string before = Listing(older.path());
  EXPECT_EQ(Apply(older.wpath(), out.wpath() + u"/p2.dov")->error,
            "Refusing a path apply keeps for its journal: \\.torquelin-journal @29");
  EXPECT_EQ(Listing(older.path()), before);
}
