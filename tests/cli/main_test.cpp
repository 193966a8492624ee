// The torquelin program end to end: the built binary run on real trees, its
// exit codes and what it prints.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "engine/base/errors.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

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

// An error is one line a person reads at a glance; the system's words come
// only when a system call failed, the location only when asked for.
TEST(Program, ErrorsAreOneLineWithTheSystemsReasonWhenThereIsOne) {
  TempDir dir;
  dir.WriteFile("file", "x");
  const std::string missing = dir.path() + "/missing";
  const std::string missingMessage =
      "torquelin: Directory for fingerprinting does  not exists: " + missing + "\n";
  struct Case {
    std::string args;
    std::string err;  // the whole of stderr, or its start when verbose
  } cases[] = {
      {"-q fingerprint " + Quote(missing + "/"),
       missingMessage + "torquelin: reason: No such file or directory (errno 2)\n"},
      // A check refused it: no system call failed, so no reason.
      {"-q fingerprint " + Quote(dir.Native("file")),
       "torquelin: Directory for fingerprinting does  not exists: " + dir.Native("file") + "\n"},
      // Not quiet: the statuses before the failure, no completion line after it.
      {"fingerprint " + Quote(missing), missingMessage +
                                            "torquelin: reason: No such file or directory "
                                            "(errno 2)\n"},
      {"-v -q fingerprint " + Quote(missing),
       missingMessage +
           "torquelin: reason: No such file or directory (errno 2)\nError type:1\n"
           "Message: Directory for fingerprinting does  not exists: " +
           missing +
           "\nError Code: 2 (No such file or directory)\nLocation: .\\rezeriravodu line:"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
    if (c.args.find("-v") == std::string::npos) {
      EXPECT_EQ(r.err, c.err);
    }
  }

  const RunResult help = RunProgram("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("fingerprint DIR [--filter TEXT]"), std::string::npos);
  EXPECT_EQ(RunProgram("--version").out, "torquelin 1.2.0\n");
}

// Each exit status a script branches on, provoked once (4 and 130 are the
// console host's and the signal tests').
TEST(Program, ExitStatusesTellTheOutcomesApart) {
  TempDir older, newer, other, out;
  older.WriteFile("a.txt", "old");
  newer.WriteFile("a.txt", "new");
  other.WriteFile("a.txt", "other");
  const std::string patch = Quote(out.Native("p.dov"));
  ASSERT_EQ(
      RunProgram("-q create-patch " + Quote(older.path()) + " " + Quote(newer.path()) + " " + patch)
          .exitCode,
      0);
  ASSERT_EQ(RunProgram("-q create-vault " + Quote(older.path()) + " " + Quote(out.Native("v.zov")))
                .exitCode,
            0);
  struct Case {
    std::string args;
    int exitCode;
    std::string errStart;
  } cases[] = {
      {"fingerprint " + Quote(older.path()), 0, "Counting all files\n"},
      {"fingerprint " + Quote(out.Native("p.dov")), 1, "torquelin: Directory for fingerprinting"},
      {"fingerprint", 2,
       "torquelin: missing DIR for 'fingerprint'\nusage: torquelin [-q] [-v] "
       "fingerprint DIR [--filter TEXT] [--json]\n"},
      {"apply " + Quote(older.path()), 2, "torquelin: missing PATCH for 'apply'\n"},
      {"query " + patch + " a b", 2, "torquelin: too many arguments for 'query'\n"},
      {"verify --nope " + Quote(older.path()), 2, "torquelin: unknown option '--nope'\n"},
      {"bogus", 2, "torquelin: unknown command 'bogus'\nusage: torquelin [-q] [-v] COMMAND"},
      {"-q verify " + Quote(newer.path()) + " " + Quote(out.Native("v.zov")), 3,
       "Directory differs from the vault.\n"},
      // Not the older tree: refused before any change, told apart from any
      // other failure, with or without the check.
      {"-q apply " + Quote(other.path()) + " " + patch, 5,
       "torquelin: Trying to apply a patch to dirrectory with different fingerprint Calculated:"},
      {"-q apply --check " + Quote(other.path()) + " " + patch, 5, "torquelin: Trying"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart) << c.args;
  }
  EXPECT_EQ(other.ReadFile("a.txt"), "other");
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

TEST(Program, EmptyArgumentsReachTheJobWhichNamesThem) {
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"create-patch '' '' p.dov", "Newer directory for patch creation does  not exists: \n"},
      {"create-patch . . ''", "No patch file specified: \n"},
      {"create-vault . ''", "No vault file specified: \n"},
      {"create-patch-vault . '' p.dov", "No vault file specified: \n"},
      {"query p.dov ''", "No XML report file specified: \n"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(std::string("-q ") + c.args);
    EXPECT_EQ(r.exitCode, 1) << c.args;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), std::string("torquelin: ") + c.message)
        << c.args;
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

TEST(Program, ApplyExitsZeroOneOrThreeForAMismatchAfterwards) {
  TempDir older, newer, out;
  older.WriteFile("a.txt", "old");
  newer.WriteFile("a.txt", "new");
  for (const TempDir* d : {&older, &newer}) chmod(d->Native("a.txt").c_str(), 0644);
  RecordingSink sink;
  const auto fingerprint = [&](const TempDir& d) {
    CDirSnapshot s = BuildSnapshot(sink, d.wpath(), u"", FileIds::Compute);
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

  // Now in the newer state, the same command again changes nothing and
  // succeeds; so does a check.
  for (const std::string option : {"", " --check"}) {
    const RunResult again =
        RunProgram("apply " + dir + " " + Quote(out.Native("good.dov")) + option);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.err.find("Directory already has the newer fingerprint.\nCompleted.  Time:"),
              std::string::npos)
        << again.err;
  }

  // A patch whose contents would not give its newer fingerprint is refused
  // before anything changes (exit 3 is left to a tree changed meanwhile).
  older.WriteFile("a.txt", "old");
  for (const std::string option : {" --check", ""}) {
    const RunResult differs =
        RunProgram("-q apply " + dir + " " + Quote(out.Native("wrong.dov")) + option);
    EXPECT_EQ(differs.exitCode, 1);
    EXPECT_NE(differs.err.find("torquelin: The patch's stored contents do not give its newer "
                               "fingerprint, nothing was changed. Calculated:"),
              std::string::npos)
        << differs.err;
    EXPECT_EQ(older.ReadFile("a.txt"), "old");
  }
  const RunResult check = RunProgram("apply " + dir + " " + Quote(out.Native("good.dov")) +
                                     " --check --report " + Quote(out.Native("c.xml")));
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_NE(check.err.find("The patch can be applied.\nCompleted.  Time:"), std::string::npos)
      << check.err;
  EXPECT_EQ(older.ReadFile("a.txt"), "old");
}

// A command's --help explains each of its options, so an option added to the
// table without its line of help is caught.
TEST(Program, CommandHelpShowsTheCommandsUsageAndEveryOption) {
  for (const CommandEntry& c : Commands()) {
    const RunResult r = RunProgram(std::string(c.name) + " --help");
    EXPECT_EQ(r.exitCode, 0) << c.name;
    EXPECT_EQ(r.out.rfind(
                  "usage: torquelin [-q] [-v] " + std::string(c.name) + " " + c.synopsis + "\n", 0),
              0u)
        << r.out;
    for (const auto* options : {&c.valueOptions, &c.flagOptions}) {
      for (const char* option : *options) {
        EXPECT_NE(r.out.find("\n  " + std::string(option) + " "), std::string::npos)
            << c.name << " " << option;
      }
    }
  }
}

TEST(Program, VerifyPrintsOneLinePerDifferenceAndExitsThreeWhenTheTreeDrifted) {
  TempDir tree, out;
  for (const char* name : {"a.txt", "c.txt", "keep.txt", "old/x.txt"}) tree.WriteFile(name, name);
  chmod(tree.Native("keep.txt").c_str(), 0644);
  const std::string verify = "verify " + Quote(tree.path()) + " " + Quote(out.Native("v.zov"));
  ASSERT_EQ(
      RunProgram("-q create-vault " + Quote(tree.path()) + " " + out.Native("v.zov")).exitCode, 0);
  const RunResult same = RunProgram(verify);
  EXPECT_EQ(same.exitCode, 0) << same.err;
  EXPECT_EQ(same.out, "");
  EXPECT_NE(same.err.find("Comparing files...\nDirectory matches the vault.\n"), std::string::npos);

  tree.WriteFile("a.txt", "ALPHA");
  chmod(tree.Native("keep.txt").c_str(), 0600);
  for (const char* gone : {"c.txt", "old/x.txt", "old"}) std::remove(tree.Native(gone).c_str());
  tree.WriteFile("new/n.txt", "n");
  const RunResult drifted = RunProgram("-q " + verify + " --report " + Quote(out.Native("r.xml")));
  EXPECT_EQ(drifted.exitCode, 3) << drifted.err;
  EXPECT_EQ(drifted.out,
            "M a.txt\n- c.txt\nA keep.txt\n+ new/\n+ new/n.txt\n- old/\n- old/x.txt\n");
  EXPECT_EQ(drifted.err, "Directory differs from the vault.\n");
  EXPECT_EQ(out.ReadFile("r.xml").rfind("<?xml version=\"1.0\"?>\n<xml version=\"1.0\">\n", 0), 0u);
}

// The desktop program hands the engine the text as typed; so does the command
// line now: a filter with '\\' matches whole paths.
TEST(Program, TypedBackslashesAreBackslashes) {
  TempDir tree;
  tree.WriteFile("sub/a.txt", "a");
  tree.WriteFile("b.txt", "b");
  RecordingSink sink;
  CDirSnapshot filtered = BuildSnapshot(sink, tree.wpath(), u"sub\\*.txt", FileIds::Compute);
  const std::string expected = Narrow(ComputeFingerprint(sink, filtered)) + "\n";
  const RunResult r = RunProgram("-q fingerprint " + Quote(tree.path()) + " --filter 'sub\\*.txt'");
  EXPECT_EQ(r.out, expected) << r.err;
  EXPECT_EQ(filtered.ignored, PathList{u"\\sub\\a.txt"});
  // A trailing backslash is a separator, as '/' is.
  EXPECT_EQ(
      RunProgram("-q fingerprint " + Quote(tree.path() + "\\") + " --filter 'sub\\*.txt'").out,
      expected);
  // In a filter '/' separates folders as '\\' does.
  for (const char* filter : {"sub/*.txt", "x;sub/*.txt", "sub/a.TXT"}) {
    RecordingSink same;
    std::u16string engineFilter = platform::TextFromArgument(filter);
    std::replace(engineFilter.begin(), engineFilter.end(), u'/', u'\\');
    CDirSnapshot s = BuildSnapshot(same, tree.wpath(), engineFilter, FileIds::Compute);
    EXPECT_EQ(RunProgram("-q fingerprint " + Quote(tree.path()) + " --filter " + Quote(filter)).out,
              Narrow(ComputeFingerprint(same, s)) + "\n")
        << filter;
    EXPECT_FALSE(s.ignored.empty()) << filter;
  }
}

// What a patch changes, for eyes (one line each, a summary on stderr) and
// for scripts (one JSON document, read back here), alike for both formats.
TEST(Program, QueryListsAPatchsChangesAndJsonCarriesTheSame) {
  TempDir older, newer, out;
  older.WriteFile("a.txt", "old");
  older.WriteFile("gone/x.txt", "x");
  older.WriteFile("mode.txt", "m");
  newer.WriteFile("a.txt", "newer");
  newer.WriteFile("fresh/y.txt", "yy");
  newer.WriteFile("mode.txt", "m");
  chmod(older.Native("mode.txt").c_str(), 0644);
  chmod(newer.Native("mode.txt").c_str(), 0600);
  const std::string listing =
      "M a.txt\n+ fresh/\n+ fresh/y.txt\n- gone/\n- gone/x.txt\nA mode.txt\n";
  for (const char* format : {"", " --compact"}) {
    const std::string patch = Quote(out.Native("p.dov"));
    ASSERT_EQ(RunProgram("-q create-patch " + Quote(older.path()) + " " + Quote(newer.path()) +
                         " " + patch + format)
                  .exitCode,
              0);
    const RunResult list = RunProgram("query " + patch);
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(list.out, listing) << format;
    EXPECT_NE(list.err.find("\n2 added, 2 removed, 1 modified, 1 attributes only; "),
              std::string::npos)
        << list.err;

    const RunResult json = RunProgram("-q query --json " + patch);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["counts"],
              nlohmann::json::parse(R"({"added":2,"removed":2,"modified":1,"attributes":1})"));
    EXPECT_EQ(doc["patch_bytes"], std::filesystem::file_size(out.Native("p.dov")));
    const auto& changes = doc["changes"];
    ASSERT_EQ(changes.size(), 6u);
    EXPECT_EQ(changes[0], nlohmann::json::parse(
                              R"({"path":"a.txt","kind":"modified","directory":false,"size":5})"));
    EXPECT_EQ(changes[1], nlohmann::json::parse(
                              R"({"path":"fresh","kind":"added","directory":true,"size":null})"));
    EXPECT_EQ(changes[2]["size"], 2);
    EXPECT_EQ(changes[5]["kind"], "attributes");

    // The check lists what the apply would do, and says it in JSON too (for
    // the patches apply reads today).
    if (*format != '\0') continue;
    const std::string apply = "apply --check " + Quote(older.path()) + " " + patch;
    EXPECT_EQ(RunProgram("-q -v " + apply).out, listing);
    EXPECT_EQ(RunProgram("-q " + apply).out, "");
    const auto checked = nlohmann::json::parse(RunProgram("-q " + apply + " --json").out);
    EXPECT_EQ(checked["check"], "can-be-applied");
    EXPECT_EQ(checked["changes"], changes);
  }
  const auto fingerprint =
      nlohmann::json::parse(RunProgram("-q fingerprint --json " + Quote(older.path())).out);
  EXPECT_EQ(fingerprint["fingerprint"].get<std::string>().size(), 40u);
  ASSERT_EQ(RunProgram("-q create-vault " + Quote(older.path()) + " " + Quote(out.Native("v.zov")))
                .exitCode,
            0);
  const RunResult verify =
      RunProgram("-q verify --json " + Quote(newer.path()) + " " + Quote(out.Native("v.zov")));
  EXPECT_EQ(verify.exitCode, 3);
  const auto verified = nlohmann::json::parse(verify.out);
  EXPECT_EQ(verified["matches"], false);
  EXPECT_EQ(verified["changes"].size(), 6u);
  EXPECT_EQ(verified["changes"][2]["size"], nullptr);
}
