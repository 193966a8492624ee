// The torquelin program with "-" as its patch: real pipes between real runs,
// streams cut short, and terminals refused.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

using namespace torquelin;

extern char** environ;

namespace {

std::string Program() {
  const char* bin = std::getenv("TORQUELIN_BIN");
  EXPECT_NE(bin, nullptr) << "TORQUELIN_BIN must name the directory of the program";
  return std::string(bin ? bin : ".") + "/torquelin";
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Runs a shell pipeline in which $T is the program and temporary files go to
// `tmp`; its exit status (of the last command), -1 when it did not exit.
int Shell(const std::string& pipeline, const TempDir& tmp) {
  const std::string command =
      "export T=" + Quote(Program()) + " TMPDIR=" + Quote(tmp.path()) + "; " + pipeline;
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t EntryCount(const std::string& directory) {
  size_t count = 0;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") ++count;
  }
  closedir(dir);
  return count;
}

// Two small trees and a copy of the older one to apply to.
struct Trees {
  TempDir older, newer, target, out, tmp;
  Trees() {
    for (const TempDir* d : {&older, &target}) {
      d->WriteFile("a.txt", "the older text of a, long enough to be worth a delta");
      d->WriteFile("gone/x.txt", "x");
    }
    newer.WriteFile("a.txt", "the newer text of a, long enough to be worth a delta");
    newer.WriteFile("fresh/y.txt", std::string(100000, 'y'));
  }
  std::string Fingerprint(const TempDir& tree) const {
    const std::string file = out.Native("fingerprint");
    EXPECT_EQ(std::system(
                  (Quote(Program()) + " -q fingerprint " + Quote(tree.path()) + " > " + Quote(file))
                      .c_str()),
              0);
    return out.ReadFile("fingerprint");
  }
};

struct Format {
  const char* name;
  const char* option;
  bool compact;
  bool applies;  // whether apply takes this format yet
};
constexpr Format kFormats[] = {{"classic", "", false, true}, {"compact", " --compact", true, true}};

}  // namespace

TEST(ProgramPipes, PatchesTravelThroughPipesAsTheyWouldInFiles) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    Trees t;
    const std::string dirs = Quote(t.older.path()) + " " + Quote(t.newer.path());
    const std::string file = Quote(t.out.Native("p.dov"));
    // Byte for byte the patch a file gets, the classic header's index offset
    // and completion flag included. A patch records the time it was made to
    // the second, so a pair of runs that straddles one is made again.
    bool same = false;
    for (int pair = 0; pair < 3 && !same; ++pair) {
      ASSERT_EQ(Shell("$T -q create-patch " + dirs + " " + file + format.option, t.tmp), 0);
      same = Shell("$T -q create-patch " + dirs + " -" + format.option + " | cmp -s - " + file,
                   t.tmp) == 0;
    }
    EXPECT_TRUE(same);
    EXPECT_EQ(Shell("$T -q query " + file + " " + Quote(t.out.Native("file.xml")) +
                        " && $T -q query - " + Quote(t.out.Native("pipe.xml")) + " < " + file,
                    t.tmp),
              0);
    EXPECT_EQ(t.out.ReadFile("pipe.xml"), t.out.ReadFile("file.xml"));
    // Bytes after the End record are no part of a patch a file could hold.
    if (format.compact) {
      EXPECT_EQ(Shell("(cat " + file + "; echo) | $T -q query - " + Quote(t.out.Native("r.xml")) +
                          " 2>/dev/null",
                      t.tmp),
                1);
    }
    // A query reads the stream as it comes: it needs no room for a copy.
    EXPECT_EQ(
        Shell("TMPDIR=/nonexistent $T -q query - " + Quote(t.out.Native("pipe.xml")) + " < " + file,
              t.tmp),
        0);
    // A file behind standard output obeys the rules of an output path.
    EXPECT_EQ(Shell("$T -q create-patch " + dirs + " -" + format.option + " > " +
                        Quote(t.newer.Native("p.dov")) + " 2> " + Quote(t.out.Native("err")),
                    t.tmp),
              1);
    EXPECT_NE(t.out.ReadFile("err").find(t.newer.Native("p.dov") + " is inside "),
              std::string::npos)
        << t.out.ReadFile("err");
    std::remove(t.newer.Native("p.dov").c_str());
    // Apply keeps what comes through a pipe, and says so when it cannot.
    EXPECT_EQ(Shell("cat " + file + " | TMPDIR=/nonexistent $T -q apply " + Quote(t.target.path()) +
                        " - 2> " + Quote(t.out.Native("err")),
                    t.tmp),
              1);
    EXPECT_NE(t.out.ReadFile("err").find(
                  "Unable to keep the patch read from standard input in a temporary file"),
              std::string::npos)
        << t.out.ReadFile("err");
    if (format.applies) {
      // A file redirected to it is read where it is.
      EXPECT_EQ(Shell("TMPDIR=/nonexistent $T -q apply --check " + Quote(t.target.path()) +
                          " - < " + file,
                      t.tmp),
                0);
      EXPECT_EQ(Shell("$T -q create-patch " + dirs + " -" + format.option + " | $T -q apply " +
                          Quote(t.target.path()) + " -",
                      t.tmp),
                0);
      EXPECT_EQ(t.Fingerprint(t.target), t.Fingerprint(t.newer));
    }
    EXPECT_EQ(EntryCount(t.tmp.path()), 0u) << "a temporary file was left behind";
  }
}

TEST(ProgramPipes, AStreamCutShortIsRefusedAndTheTreeStaysAsItWas) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    Trees t;
    const std::string file = Quote(t.out.Native("p.dov"));
    ASSERT_EQ(Shell("$T -q create-patch " + Quote(t.older.path()) + " " + Quote(t.newer.path()) +
                        " " + file + format.option,
                    t.tmp),
              0);
    const std::string before = t.Fingerprint(t.target);
    const std::string cut = t.out.Native("cut.dov");
    // Nothing, inside the header, inside the contents, and all but the end.
    const std::string keeps[] = {"0", "10", "300", "$(( $(stat -c %s " + file + ") - 1 ))"};
    for (const std::string& keep : keeps) {
      SCOPED_TRACE(keep);
      ASSERT_EQ(Shell("head -c " + keep + " " + file + " > " + Quote(cut), t.tmp), 0);
      for (const char* command : {"apply", "apply --check", "query"}) {
        const auto run = [&](const std::string& patch) {
          return std::string(command) == "query"
                     ? "$T -q query " + patch + " " + Quote(t.out.Native("r.xml"))
                     : "$T -q " + std::string(command) + " " + Quote(t.target.path()) + " " + patch;
        };
        // Refused as the same bytes in a file are.
        EXPECT_EQ(Shell("head -c " + keep + " " + file + " | " + run("-") + " 2> " +
                            Quote(t.out.Native("piped")),
                        t.tmp),
                  1)
            << command;
        Shell(run(Quote(cut)) + " 2> " + Quote(t.out.Native("filed")), t.tmp);
        std::string filed = t.out.ReadFile("filed");
        for (size_t at = filed.find(cut); at != std::string::npos; at = filed.find(cut)) {
          filed.replace(at, cut.size(), "-");
        }
        EXPECT_EQ(t.out.ReadFile("piped"), filed) << command;
      }
      EXPECT_EQ(t.Fingerprint(t.target), before);
    }
    EXPECT_EQ(EntryCount(t.tmp.path()), 0u) << "a temporary file was left behind";
  }
}

// The program run with the slave side of a pseudo-terminal as its standard
// input or output: a patch is never read from or written to a terminal.
TEST(ProgramPipes, TerminalsAreRefusedAsUsageErrors) {
  Trees t;
  struct Case {
    std::vector<std::string> args;
    int terminalFd;
    const char* error;
  } cases[] = {
      {{"create-patch", t.older.path(), t.newer.path(), "-"},
       STDOUT_FILENO,
       "refusing to write a patch to a terminal"},
      {{"create-patch", t.older.path(), t.newer.path(), "-", "--compact"},
       STDOUT_FILENO,
       "refusing to write a patch to a terminal"},
      {{"apply", t.target.path(), "-"}, STDIN_FILENO, "refusing to read a patch from a terminal"},
      {{"query", "-", t.out.Native("r.xml")},
       STDIN_FILENO,
       "refusing to read a patch from a terminal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string errPath = t.out.Native("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, c.terminalFd);
    posix_spawn_file_actions_addopen(&actions,
                                     c.terminalFd == STDIN_FILENO ? STDOUT_FILENO : STDIN_FILENO,
                                     "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string program = Program();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    // Nothing reached the terminal: the master has nothing to read.
    fcntl(master, F_SETFL, O_NONBLOCK);
    char byte = 0;
    EXPECT_LE(read(master, &byte, 1), 0);
    close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(t.out.ReadFile("err").rfind(std::string("torquelin: ") + c.error, 0), 0u)
        << t.out.ReadFile("err");
  }
}
