// The output rules, job by job: what is refused before any work, with which
// text, and what is left on disk.
#include "engine/jobs/output_rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "engine/jobs/job_runner.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

namespace {

namespace fs = std::filesystem;

// The "Message: " line of the run's one message box, or "<none>".
std::string MessageOf(const RecordingSink& sink) {
  if (sink.messages.empty()) return "<none>";
  const std::string text = Narrow(sink.messages[0]);
  const size_t start = text.find("Message: ") + 9;
  return text.substr(start, text.find('\n', start) - start);
}

bool IsCharacterDevice(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

class OutputRules : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.WriteFile("older/a.txt", "old");
    dir.WriteFile("newer/a.txt", "new");
    dir.WriteFile("newer/b.txt", "b");
    dir.MakeDir("out");
    RecordingSink sink;
    ASSERT_EQ(RunJobForTest(sink, JobKind::CreatePatch,
                            CreatePatchParams{P("older"), P("newer"), P("out/p.dov"), u"", u""})
                  .outcome,
              JobOutcome::Succeeded);
    ASSERT_EQ(RunJobForTest(sink, JobKind::CreateVault,
                            CreateVaultParams{P("older"), u"", P("out/v.zov")})
                  .outcome,
              JobOutcome::Succeeded);
    patch = dir.ReadFile("out/p.dov");
    vault = dir.ReadFile("out/v.zov");
  }
  std::u16string P(const std::string& relative) const {
    return dir.wpath() + u"/" + std::u16string(relative.begin(), relative.end());
  }
  std::string N(const std::string& relative) const { return dir.Native(relative); }

  // A character device like /dev/null (1,3) or /dev/full (1,7) inside the
  // test's directory: only root may make one.
  bool MakeDevice(const std::string& relative, unsigned minor) const {
    return ::mknod(N(relative).c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
  }

  TempDir dir;
  std::string patch, vault;
};

}  // namespace

TEST_F(OutputRules, RefusedBeforeAnyWorkAndNothingReplaced) {
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* what;
    bool needsRoot;
    std::function<void()> prepare;
    JobKind kind;
    std::function<JobParams()> params;
    std::function<std::string()> message;  // "<none>" when the job succeeds
    std::function<void()> check;           // what is on disk afterwards
  };
  const auto unchanged = [&] {
    EXPECT_EQ(dir.ReadFile("out/p.dov"), patch);
    EXPECT_EQ(dir.ReadFile("out/v.zov"), vault);
    EXPECT_EQ(dir.ReadFile("older/a.txt"), "old");
  };
  const std::string notAFile = "Refusing to replace what is not a regular file: ";
  const std::string same = "Two arguments name the same file: ";
  const std::string inside = "Refusing to write into a directory the job reads or changes: ";
  const Case cases[] = {
      {"patch on a character device", true, [&] { MakeDevice("out/null", 3); },
       JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("out/null"), u"", u""};
       },
       [&] { return notAFile + N("out/null"); },
       [&] { EXPECT_TRUE(IsCharacterDevice(N("out/null"))); }},
      {"report into a character device", true, [&] { MakeDevice("out/null", 3); },
       JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("out/q.dov"), P("out/null"), u""};
       },
       [&] { return std::string("<none>"); },
       [&] { EXPECT_TRUE(IsCharacterDevice(N("out/null"))); }},
      {"vault on a full device", true, [&] { MakeDevice("out/full", 7); }, JobKind::CreateVault,
       [&] {
         return CreateVaultParams{P("older"), u"", P("out/full")};
       },
       [&] { return notAFile + N("out/full"); },
       [&] { EXPECT_TRUE(IsCharacterDevice(N("out/full"))); }},
      {"patch on a directory", false, [&] { dir.MakeDir("out/somedir"); }, JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("out/somedir"), u"", u""};
       },
       [&] { return notAFile + N("out/somedir"); },
       [&] { EXPECT_TRUE(fs::is_directory(N("out/somedir"))); }},
      {"patch on a FIFO", false, [&] { ::mkfifo(N("out/fifo").c_str(), 0644); },
       JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("out/fifo"), u"", u""};
       },
       [&] { return notAFile + N("out/fifo"); }, [&] { EXPECT_TRUE(fs::is_fifo(N("out/fifo"))); }},
      {"query into its own patch", false, [] {}, JobKind::QueryPatch,
       [&] {
         return QueryPatchParams{P("out/p.dov"), P("out/p.dov")};
       },
       [&] { return same + N("out/p.dov") + " and " + N("out/p.dov"); }, unchanged},
      {"report spelt otherwise than the new patch", false, [] {}, JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("out/n.dov"), P("out/./n.dov"), u""};
       },
       [&] { return same + N("out/n.dov") + " and " + N("out/./n.dov"); },
       [&] { EXPECT_FALSE(fs::exists(N("out/n.dov"))); }},
      {"apply's report is its patch", false, [] {}, JobKind::ApplyPatch,
       [&] {
         return ApplyPatchParams{P("older"), P("out/p.dov"), P("out/p.dov"), false, false};
       },
       [&] { return same + N("out/p.dov") + " and " + N("out/p.dov"); }, unchanged},
      {"patch is the vault it updates", false, [] {}, JobKind::CreateVaultPatch,
       [&] {
         return CreateVaultPatchParams{P("newer"), P("out/v.zov"), P("out/v.zov"), u"", true};
       },
       [&] { return same + N("out/v.zov") + " and " + N("out/v.zov"); }, unchanged},
      {"patch inside NEWER", false, [&] { dir.WriteFile("newer/p.dov", "mine"); },
       JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("newer/p.dov"), u"", u""};
       },
       [&] { return inside + N("newer/p.dov") + " is inside " + N("newer"); },
       [&] { EXPECT_EQ(dir.ReadFile("newer/p.dov"), "mine"); }},
      {"report inside OLDER through a link", false,
       [&] { fs::create_directory_symlink(N("older"), N("out/link")); }, JobKind::CreatePatch,
       [&] {
         return CreatePatchParams{P("older"), P("newer"), P("out/q.dov"), P("out/link/r.xml"), u""};
       },
       [&] { return inside + N("out/link/r.xml") + " is inside " + N("older"); },
       [&] { EXPECT_FALSE(fs::exists(N("older/r.xml"))); }},
      {"vault inside its tree", false, [] {}, JobKind::CreateVault,
       [&] {
         return CreateVaultParams{P("older"), u"", P("older/sub/../v.zov")};
       },
       [&] { return inside + N("older/sub/../v.zov") + " is inside " + N("older"); },
       [&] { EXPECT_FALSE(fs::exists(N("older/v.zov"))); }},
      {"apply's report in a missing directory", false, [] {}, JobKind::ApplyPatch,
       [&] {
         return ApplyPatchParams{P("older"), P("out/p.dov"), P("missing/r.xml"), false, false};
       },
       [&] {
         return "Unable to create the report file:" + N("missing/r.xml") +
                ": No such file or directory";
       },
       unchanged},
      {"apply's report inside the target", false, [] {}, JobKind::ApplyPatch,
       [&] {
         return ApplyPatchParams{P("older"), P("out/p.dov"), P("older/r.xml"), false, false};
       },
       [&] { return inside + N("older/r.xml") + " is inside " + N("older"); },
       [&] {
         unchanged();
         EXPECT_FALSE(fs::exists(N("older/r.xml")));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root) continue;  // mknod needs root
    c.prepare();
    RecordingSink sink;
    const JobRun run = RunJobForTest(sink, c.kind, c.params());
    EXPECT_EQ(MessageOf(sink), c.message());
    EXPECT_EQ(run.outcome, c.message() == "<none>" ? JobOutcome::Succeeded : JobOutcome::Failed);
    if (run.outcome == JobOutcome::Failed) {
      // Refused before any work: the job showed nothing but its error.
      EXPECT_LE(sink.statuses.size(), 1u);
    }
    c.check();
    for (const char* leftover : {"out/null", "out/full", "out/somedir", "out/fifo", "out/link"}) {
      fs::remove(N(leftover));
    }
    fs::remove(N("out/q.dov"));
  }
}

// A report may go straight into a FIFO (and so to /dev/stdout on a pipe).
TEST_F(OutputRules, ReportFlowsIntoAFifo) {
  ASSERT_EQ(::mkfifo(N("out/fifo").c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] {
    const int fd = ::open(N("out/fifo").c_str(), O_RDONLY);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) received.append(buffer, got);
    ::close(fd);
  });
  RecordingSink sink;
  const JobRun run =
      RunJobForTest(sink, JobKind::QueryPatch, QueryPatchParams{P("out/p.dov"), P("out/fifo")});
  reader.join();
  EXPECT_EQ(run.outcome, JobOutcome::Succeeded) << MessageOf(sink);
  EXPECT_TRUE(fs::is_fifo(N("out/fifo")));
  EXPECT_EQ(received.rfind("<?xml version=\"1.0\"?>\n<xml version=\"1.0\">", 0), 0u) << received;
}
