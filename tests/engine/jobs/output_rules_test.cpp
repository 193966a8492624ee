// The output rules, job by job: what is refused before any work, with which
// text, and what is left on disk.
#include "engine/jobs/output_rules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/encoding.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

namespace fs = std::filesystem;

// The "Message: " line of the run's message box, or "<none>".
std::string MessageOf(const RecordingSink& sink) {
  if (sink.messages.empty()) return "<none>";
  const std::string text = Narrow(sink.messages[0]);
  const size_t start = text.find("Message: ") + 9;
  return text.substr(start, text.find('\n', start) - start);
}

}  // namespace

TEST(OutputRules, RefusedBeforeAnyWorkAndNothingReplaced) {
  TempDir d;
  d.WriteFile("older/a.txt", "old");
  d.WriteFile("newer/a.txt", "new");
  d.WriteFile("out/p.dov", "");
  d.WriteFile("out/v.zov", "");
  const auto P = [&](const char* relative) { return platform::FromUtf8(d.Native(relative)); };
  const std::u16string older = P("older"), newer = P("newer");
  const auto patch = [&](const char* to, const char* report = "") {
    return CreatePatchParams{older, newer, P(to), *report ? P(report) : u"", u"", {}};
  };
  const auto apply = [&](const char* patchFile, const char* report) {
    return ApplyPatchParams{older, P(patchFile), P(report), false, false};
  };
  const std::string notAFile = "Refusing to replace what is not a regular file: ";
  const std::string same = "Two arguments name the same file: ";
  const std::string inside = "Refusing to write into a directory the job reads or changes: ";
  struct Case {
    const char* what;
    std::function<bool()> prepare;  // false: cannot be set up here (mknod needs root)
    JobKind kind;
    JobParams params;
    std::string message;  // "<none>": the job runs
    const char* remains;  // this entry is still there, of the same type
  } cases[] = {
      {"patch on a character device",
       [&] { return !mknod(d.Native("out/null").c_str(), S_IFCHR | 0666, makedev(1, 3)); },
       JobKind::CreatePatch, patch("out/null"), notAFile + d.Native("out/null"), "out/null"},
      {"report into a character device",
       [&] { return !mknod(d.Native("out/null").c_str(), S_IFCHR | 0666, makedev(1, 3)); },
       JobKind::CreatePatch, patch("out/q.dov", "out/null"), "<none>", "out/null"},
      {"vault on a full device",
       [&] { return !mknod(d.Native("out/full").c_str(), S_IFCHR | 0666, makedev(1, 7)); },
       JobKind::CreateVault, CreateVaultParams{older, u"", P("out/full")},
       notAFile + d.Native("out/full"), "out/full"},
      {"patch on a directory", [&] { return fs::create_directory(d.Native("out/somedir")); },
       JobKind::CreatePatch, patch("out/somedir"), notAFile + d.Native("out/somedir"),
       "out/somedir"},
      {"report through a link",
       [&] {
         fs::create_symlink("v.zov", d.Native("out/link"));
         return true;
       },
       JobKind::CreatePatch, patch("out/q.dov", "out/link"), "<none>", "out/link"},
      {"query into its own patch", [] { return true; }, JobKind::QueryPatch,
       QueryPatchParams{P("out/p.dov"), P("out/p.dov")},
       same + d.Native("out/p.dov") + " and " + d.Native("out/p.dov"), "out/p.dov"},
      {"report spelt otherwise", [] { return true; }, JobKind::CreatePatch,
       patch("out/n.dov", "out/./n.dov"),
       same + d.Native("out/n.dov") + " and " + d.Native("out/./n.dov"), "out"},
      {"apply's report is its patch", [] { return true; }, JobKind::ApplyPatch,
       apply("out/p.dov", "out/p.dov"),
       same + d.Native("out/p.dov") + " and " + d.Native("out/p.dov"), "out/p.dov"},
      {"patch is the vault it updates", [] { return true; }, JobKind::CreateVaultPatch,
       CreateVaultPatchParams{newer, P("out/v.zov"), P("out/v.zov"), u"", true, {}},
       same + d.Native("out/v.zov") + " and " + d.Native("out/v.zov"), "out/v.zov"},
      {"patch inside NEWER",
       [&] {
         d.WriteFile("newer/p.dov", "mine");
         return true;
       },
       JobKind::CreatePatch, patch("newer/p.dov"),
       inside + d.Native("newer/p.dov") + " is inside " + d.Native("newer"), "newer/p.dov"},
      {"report inside OLDER by a link",
       [&] {
         fs::create_directory_symlink(d.Native("older"), d.Native("out/to"));
         return true;
       },
       JobKind::CreatePatch, patch("out/q.dov", "out/to/r.xml"),
       inside + d.Native("out/to/r.xml") + " is inside " + d.Native("older"), "out/to"},
      {"apply's report in a missing directory", [] { return true; }, JobKind::ApplyPatch,
       apply("out/p.dov", "no/r.xml"),
       "Unable to create the report file:" + d.Native("no/r.xml") + ": No such file or directory",
       "older"},
      {"apply's report inside the target", [] { return true; }, JobKind::ApplyPatch,
       apply("out/p.dov", "older/r.xml"),
       inside + d.Native("older/r.xml") + " is inside " + d.Native("older"), "older"},
  };
  const auto type = [&](const char* relative) {
    return fs::symlink_status(d.Native(relative)).type();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.prepare()) continue;
    const fs::file_type before = type(c.remains);
    RecordingSink sink;
    RunJobForTest(sink, c.kind, c.params);
    EXPECT_EQ(MessageOf(sink), c.message);
    if (c.message != "<none>") {
      EXPECT_LE(sink.statuses.size(), 1u) << "work was done";
    }
    EXPECT_EQ(type(c.remains), before);
    // Nothing was written anywhere but where a run that works writes.
    EXPECT_EQ(d.ReadFile("older/a.txt"), "old");
    EXPECT_EQ(d.ReadFile("out/p.dov"), "");
    EXPECT_FALSE(fs::exists(d.Native("older/r.xml")) || fs::exists(d.Native("out/n.dov")));
    for (const char* made :
         {"out/null", "out/full", "out/somedir", "out/link", "out/to", "out/q.dov"}) {
      fs::remove(d.Native(made));
    }
  }
  // The report went through the link into the file it names.
  EXPECT_NE(d.ReadFile("out/v.zov").find("<roRaraVevodIzorov"), std::string::npos);
}
