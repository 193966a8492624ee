// The torquelin program: argument parsing, the console host, and end-to-end
// runs of the built binary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/commands.h"
#include "cli/console_host.h"
#include "engine/base/errors.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "platform/console.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

namespace {

Invocation Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "torquelin");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the built program with stdout and stderr captured in files (so stderr
// is not a terminal: status texts come out as lines).
RunResult RunProgram(const std::string& args) {
  const char* bin = std::getenv("TORQUELIN_BIN");
  EXPECT_NE(bin, nullptr) << "TORQUELIN_BIN must name the directory of the program";
  TempDir capture;
  const std::string command = std::string(bin ? bin : ".") + "/torquelin " + args + " >" +
                              capture.Native("out") + " 2>" + capture.Native("err") + " </dev/null";
  const int status = std::system(command.c_str());
  RunResult r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = Slurp(capture.Native("out"));
  r.err = Slurp(capture.Native("err"));
  return r;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

}  // namespace

TEST(ParseCommandLine, MapsArgumentsToTheJob) {
  const Invocation full = Parse({"fingerprint", "/d", "--filter", "*.obj"});
  ASSERT_EQ(full.action, Invocation::Action::RunJob);
  EXPECT_EQ(full.kind, JobKind::Fingerprint);
  const auto& p = std::get<FingerprintParams>(full.params);
  EXPECT_EQ(p.directory, u"/d");
  EXPECT_EQ(p.filter, u"*.obj");

  const auto params = [](const Invocation& i) { return std::get<FingerprintParams>(i.params); };
  EXPECT_EQ(params(Parse({"-q", "fingerprint", "--filter=a;b", "/d"})).filter, u"a;b");
  EXPECT_TRUE(Parse({"fingerprint", "/d", "-q"}).quiet);
  // A missing positional reaches the job as empty text; the job names it.
  EXPECT_EQ(params(Parse({"fingerprint"})).directory, u"");
  // After "--" a leading '-' is a name, and an option value may start with '-'.
  EXPECT_EQ(params(Parse({"fingerprint", "--", "-dir"})).directory, u"-dir");
  EXPECT_EQ(params(Parse({"fingerprint", "/d", "--filter", "-x"})).filter, u"-x");
  // Bytes that are not UTF-8 survive.
  EXPECT_EQ(params(Parse({"fingerprint", "/caf\xE9"})).directory, u"/caf\uEFE9");
}

TEST(ParseCommandLine, UsageErrorsHelpAndVersion) {
  struct Case {
    std::vector<const char*> args;
    Invocation::Action action;
    const char* error;
  } cases[] = {
      {{}, Invocation::Action::UsageError, "no command given"},
      {{"-q"}, Invocation::Action::UsageError, "no command given"},
      {{"frobnicate"}, Invocation::Action::UsageError, "unknown command 'frobnicate'"},
      {{"fingerprint", "/a", "/b"},
       Invocation::Action::UsageError,
       "too many arguments for 'fingerprint'"},
      {{"fingerprint", "/a", "--bogus"},
       Invocation::Action::UsageError,
       "unknown option '--bogus'"},
      {{"fingerprint", "/a", "--filter"},
       Invocation::Action::UsageError,
       "option '--filter' needs a value"},
      {{"--filter", "x", "fingerprint"},
       Invocation::Action::UsageError,
       "unknown option '--filter'"},
      {{"--help"}, Invocation::Action::ShowHelp, ""},
      {{"fingerprint", "-h"}, Invocation::Action::ShowHelp, ""},
      {{"--version"}, Invocation::Action::ShowVersion, ""},
  };
  for (const Case& c : cases) {
    const Invocation i = Parse(c.args);
    EXPECT_EQ(i.action, c.action) << c.error;
    EXPECT_EQ(i.error, c.error);
  }
}

TEST(CConsoleHost, InterruptCancelsTheRunningJob) {
  TempDir dir;
  dir.WriteFile("a.txt", "a");
  // The interrupt arrives once the job is under way, as a Ctrl-C during the
  // scan would.
  std::FILE* err = std::tmpfile();
  CConsoleHost host(CConsoleHost::Mode::Lines, err);
  platform::SetCancelFlagOnInterrupt(&host.CancelFlag());
  std::raise(SIGINT);
  const JobRun run =
      RunJob(host, host.CancelFlag(), JobKind::Fingerprint, FingerprintParams{dir.wpath(), u""});
  const JobOutcome outcome = run.outcome;
  host.Finish(outcome);
  std::signal(SIGINT, SIG_DFL);
  EXPECT_EQ(outcome, JobOutcome::Cancelled);
  EXPECT_EQ(ExitCodeFor(outcome), 130);
  EXPECT_EQ(run.result, u"");
  std::rewind(err);
  char buffer[512] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, err);
  std::fclose(err);
  EXPECT_EQ(std::string(buffer, n).rfind("Counting all files\nCancelled\nCompleted.  Time:", 0), 0u)
      << buffer;
}

TEST(CConsoleHost, CancelFlagSetOnAnotherThreadIsSeen) {
  CConsoleHost host(CConsoleHost::Mode::Quiet, stderr);
  EXPECT_NO_THROW(host.Step());
  std::thread([&] { host.CancelFlag().store(true); }).join();
  EXPECT_THROW(host.SetDetail(u"x"), COPCancel);
  EXPECT_THROW(host.Step(), COPCancel);
  host.CancelFlag().store(false);
  EXPECT_NO_THROW(host.SetStatus(u"x"));
}

TEST(Program, FingerprintsTreesWhereverTheyLie) {
  TempDir one, two, empty;
  for (const TempDir* d : {&one, &two}) {
    d->WriteFile("a.txt", "alpha");
    d->WriteFile("sub/b.txt", "beta");
    chmod(d->Native("a.txt").c_str(), 0644);
    chmod(d->Native("sub/b.txt").c_str(), 0644);
    chmod(d->Native("sub").c_str(), 0755);
  }
  const RunResult first = RunProgram("fingerprint " + Quote(one.path()));
  ASSERT_EQ(first.exitCode, 0) << first.err;
  ASSERT_EQ(first.out.size(), 41u) << first.out;
  // Whole seconds: a run that straddles a second boundary shows 00:00:01.
  EXPECT_EQ(first.err.rfind("Counting all files\nCollecting files...\nGetting File attributes...\n"
                            "Calculating file ids...\nCalculating directory fingerprint...\n"
                            "Fingerprint calculated.\nCompleted.  Time:00:00:0",
                            0),
            0u)
      << first.err;
  // Fixed content, names and modes give a fixed value.
  EXPECT_EQ(first.out, "7a7051126fff229080b2bcb9e09d76415b49f2d6\n");
  EXPECT_EQ(RunProgram("-q fingerprint " + Quote(two.path() + "//")).out, first.out);
  EXPECT_EQ(RunProgram("fingerprint -q " + Quote(one.path()) + " --filter '*.txt'").out,
            "d7f905e85ab732fbaf832b718f2a59813b3c2ba8\n");

  const RunResult none = RunProgram("-q fingerprint " + Quote(empty.path()));
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_EQ(none.out, "da39a3ee5e6b4b0d3255bfef95601890afd80709\n");
  EXPECT_EQ(none.err, "");
}

TEST(Program, FailureExitCodesAndTexts) {
  TempDir dir;
  const std::string missing = dir.path() + "/missing";
  const RunResult r = RunProgram("-q fingerprint " + Quote(missing + "/"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  const std::string expected =
      "Error type:1\nMessage: Directory for fingerprinting does  not exists: " + missing +
      "\nError Code: 2 (No such file or directory)\nLocation: .\\rezeriravodu line:";
  EXPECT_EQ(r.err.rfind(expected, 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;

  const RunResult noDir = RunProgram("-q fingerprint");
  EXPECT_EQ(noDir.exitCode, 1);
  EXPECT_NE(noDir.err.find("does  not exists: \n"), std::string::npos) << noDir.err;

  for (const char* bad : {"", "bogus", "fingerprint /a /b", "fingerprint --nope /a"}) {
    const RunResult usage = RunProgram(bad);
    EXPECT_EQ(usage.exitCode, 2) << bad;
    EXPECT_NE(usage.err.find("usage: torquelin"), std::string::npos) << bad;
  }
  const RunResult help = RunProgram("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("fingerprint DIR [--filter TEXT]"), std::string::npos);
  EXPECT_EQ(RunProgram("--version").out, "torquelin 1.2.0\n");
}

TEST(ParseCommandLine, PatchAndVaultCommandsFillTheirJobsParameters) {
  const Invocation patch = Parse({"create-patch", "/o", "/n", "/p.dov", "--report", "/r.xml"});
  ASSERT_EQ(patch.action, Invocation::Action::RunJob);
  EXPECT_EQ(patch.kind, JobKind::CreatePatch);
  const auto& p = std::get<CreatePatchParams>(patch.params);
  EXPECT_EQ(p.olderDir + p.newerDir + p.patchPath + p.reportPath + p.filter, u"/o/n/p.dov/r.xml");

  // The command names the vault before the patch; the job takes them the
  // other way round.
  const Invocation fromVault =
      Parse({"create-patch-vault", "/n", "/v.zov", "/p.dov", "--update-vault"});
  EXPECT_EQ(fromVault.kind, JobKind::CreateVaultPatch);
  const auto& v = std::get<CreateVaultPatchParams>(fromVault.params);
  EXPECT_EQ(v.newerDir, u"/n");
  EXPECT_EQ(v.patchPath, u"/p.dov");
  EXPECT_EQ(v.vaultPath, u"/v.zov");
  EXPECT_TRUE(v.updateVault);
  EXPECT_FALSE(std::get<CreateVaultPatchParams>(Parse({"create-patch-vault"}).params).updateVault);

  const auto vault =
      std::get<CreateVaultParams>(Parse({"create-vault", "/d", "/v.zov", "--filter=*.o"}).params);
  EXPECT_EQ(vault.directory + u"|" + vault.filter + u"|" + vault.vaultPath, u"/d|*.o|/v.zov");
  const auto query = std::get<QueryPatchParams>(Parse({"query", "/p.dov"}).params);
  EXPECT_EQ(query.patchPath, u"/p.dov");
  EXPECT_EQ(query.reportPath, u"");
  EXPECT_EQ(Parse({"query", "/p", "/r", "/x"}).error, "too many arguments for 'query'");
}

TEST(Program, CreatesVaultsPatchesAndReports) {
  TempDir older, newer, out;
  older.WriteFile("a.txt", "old");
  older.WriteFile("gone/x.txt", "x");
  newer.WriteFile("a.txt", "new");
  newer.WriteFile("fresh/y.txt", "y");
  const std::string patch = Quote(out.Native("p.dov"));
  const std::string vault = Quote(out.Native("v.zov"));
  // The line before the completion line is the job's own last status.
  const auto lastStatus = [](const std::string& err) {
    const size_t completed = err.rfind("Completed.  Time:");
    if (completed == std::string::npos || completed == 0) return std::string("<none>");
    const size_t start = err.rfind('\n', completed - 2);
    return err.substr(start == std::string::npos ? 0 : start + 1,
                      completed - 1 - (start == std::string::npos ? 0 : start + 1));
  };
  struct Case {
    std::string args;
    int exitCode;
    std::string lastStatus;
  } cases[] = {
      {"create-patch " + Quote(older.path()) + " " + Quote(newer.path()) + " " + patch +
           " --report " + Quote(out.Native("made.xml")),
       0, "Patch created ok."},
      {"query " + patch + " " + Quote(out.Native("queried.xml")), 0, "XML Report Created. "},
      {"create-vault " + Quote(older.path()) + " " + vault, 0, "riDerev file Created. "},
      {"create-patch-vault " + Quote(newer.path()) + " " + vault + " " + patch + " --update-vault",
       0, "Patch created ok."},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.err;
    EXPECT_EQ(lastStatus(r.err), c.lastStatus) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(out.ReadFile("queried.xml"), out.ReadFile("made.xml"));
  // The vault now records the newer tree: a second patch has nothing to do.
  const RunResult again = RunProgram("-q create-patch-vault " + Quote(newer.path()) + " " + vault +
                                     " " + patch + " --report " + Quote(out.Native("again.xml")));
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(out.ReadFile("again.xml").find("<infoEntry name=\"ChangedFiles\" value=\"0\" />"),
            std::string::npos);
}

TEST(Program, MissingArgumentsReachTheJobAsEmptyText) {
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"create-patch", "Newer directory for patch creation does  not exists: \n"},
      {"create-patch . .", "No patch file specified: \n"},
      {"create-vault .", "No vault file specified: \n"},
      {"create-patch-vault . '' p.dov", "No vault file specified: \n"},
      {"query", "No XML report file specified: \n"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(std::string("-q ") + c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args;
    EXPECT_EQ(r.err.find(std::string("Message: ") + c.message), r.err.find('\n') + 1)
        << c.args << "\n"
        << r.err;
  }
}

TEST(Program, TheReadmesFirstRunWorksOnTheSampleTrees) {
  const std::string examples = std::string(TORQUELIN_SOURCE_DIR) + "/examples";
  TempDir out;
  const RunResult r = RunProgram("-q create-patch " + Quote(examples + "/older") + " " +
                                 Quote(examples + "/newer") + " " + Quote(out.Native("p.dov")) +
                                 " --report " + Quote(out.Native("r.xml")));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string report = out.ReadFile("r.xml");
  for (const char* count :
       {"ChangedFiles\" value=\"2\"", "NewFiles\" value=\"2\"", "UnlinkedFiles\" value=\"2\"",
        "NewDirs\" value=\"1\"", "UnlinkedDirectories\" value=\"1\""}) {
    EXPECT_NE(report.find(count), std::string::npos) << count;
  }
}

TEST(ParseCommandLine, ApplyTakesTwoPathsAReportAndTwoFlags) {
  const auto params = [](const Invocation& i) { return std::get<ApplyPatchParams>(i.params); };
  const Invocation full = Parse({"apply", "/d", "p.dov", "--report", "r.xml",
                                 "--continue-on-errors", "--ignore-fingerprint"});
  ASSERT_EQ(full.action, Invocation::Action::RunJob);
  EXPECT_EQ(full.kind, JobKind::ApplyPatch);
  EXPECT_EQ(params(full).directory, u"/d");
  EXPECT_EQ(params(full).patchPath, u"p.dov");
  EXPECT_EQ(params(full).reportPath, u"r.xml");
  EXPECT_TRUE(params(full).continueOnErrors);
  EXPECT_TRUE(params(full).ignoreFingerprint);
  const ApplyPatchParams plain = params(Parse({"apply", "/d", "p.dov"}));
  EXPECT_FALSE(plain.continueOnErrors || plain.ignoreFingerprint);
  EXPECT_EQ(plain.reportPath, u"");
  EXPECT_EQ(Parse({"apply", "/d", "p", "x"}).error, "too many arguments for 'apply'");
}

TEST(Program, ApplyExitsZeroOneOrThreeForAMismatchAfterwards) {
  TempDir older, newer, out;
  older.WriteFile("a.txt", "old");
  newer.WriteFile("a.txt", "new");
  for (const TempDir* d : {&older, &newer}) chmod(d->Native("a.txt").c_str(), 0644);
  RecordingSink sink;
  const auto fingerprint = [&](const TempDir& d) {
    CDirSnapshot s = BuildSnapshot(sink, d.wpath(), u"", true);
    return ComputeFingerprint(sink, s);
  };
  ChangeSet changes;
  changes.OlderTreeID = fingerprint(older);
  changes.NewerTreeID = fingerprint(newer);
  changes.ChangedFiles = {u"\\a.txt"};
  changes.AttributeChanges[u"\\a.txt"] = 0x81A40020;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/good.dov");
  changes.NewerTreeID = changes.OlderTreeID;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/wrong.dov");
  const std::string dir = Quote(older.path());

  const RunResult ok = RunProgram("apply " + dir + " " + Quote(out.Native("good.dov")) +
                                  " --report " + Quote(out.Native("r.xml")));
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_NE(ok.err.find("Restoring FS attributes.\nCreating an XML report\nXML Report Created. \n"
                        "Patch applied ok.\n"),
            std::string::npos)
      << ok.err;
  EXPECT_NE(ok.err.find("New fingerprint verified.\nCompleted.  Time:"), std::string::npos);
  EXPECT_EQ(older.ReadFile("a.txt"), "new");
  EXPECT_NE(out.ReadFile("r.xml").find("<ModifyedFiles>"), std::string::npos);

  // Now in the newer state, the target no longer passes the first check.
  const RunResult again = RunProgram("-q apply " + dir + " " + Quote(out.Native("good.dov")));
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err.rfind("Error type:0\nMessage: Trying to apply a patch to dirrectory", 0), 0u)
      << again.err;

  older.WriteFile("a.txt", "old");
  const RunResult differs = RunProgram("-q apply " + dir + " " + Quote(out.Native("wrong.dov")));
  EXPECT_EQ(differs.exitCode, 3);
  EXPECT_EQ(differs.err, "After patch has been aplied fingerprints do not match.\n");
  EXPECT_EQ(older.ReadFile("a.txt"), "new");
}
