// The program meeting a file-size limit, asked to stop by a signal, and being
// killed at random moments: whatever is left behind is either refused or
// whole, never half-good.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/errors.h"
#include "engine/jobs/apply_patch.h"
#include "engine/patch/patch_reader.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/walker.h"
#include "engine/xml/vault_file.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::u16string Wide(const std::string& native) { return platform::FromUtf8(native); }

// The program started with stdout and stdin on /dev/null and stderr in a
// file; optionally under a file-size limit. SIGXFSZ starts at its default
// (a test runner may ignore it, and exec keeps that): the program itself
// must make a write beyond the limit fail with EFBIG instead of dying.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::string& errPath,
        rlim_t fileSizeLimit = RLIM_INFINITY) {
    const char* bin = std::getenv("TORQUELIN_BIN");
    EXPECT_NE(bin, nullptr) << "TORQUELIN_BIN must name the directory of the program";
    const std::string program = std::string(bin ? bin : ".") + "/torquelin";
    std::vector<std::string> all = {program, "-q"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec. The requests to
      // stop too: a runner may ignore them, and the program keeps that.
      for (const int signal : {SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
      const struct rlimit limit = {fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const int null = ::open("/dev/null", O_RDWR);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(err, 2);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }
  // Waits for the end; the raw wait status.
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }
  void Kill() { ::kill(pid_, SIGKILL); }
  void Signal(int signal) { ::kill(pid_, signal); }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

struct Result {
  int exitCode = -1;  // -1 when killed by a signal
  std::string err;
};

Result RunProgram(const std::vector<std::string>& args, const TempDir& scratch,
                  rlim_t fileSizeLimit = RLIM_INFINITY) {
  const std::string errPath = scratch.Native("stderr.txt");
  Child child(args, errPath, fileSizeLimit);
  const int status = child.Wait();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(errPath)};
}

const std::string kTooLarge =
    "torquelin: It appers that the output file is larger then 4GB, please verify "
    "that you are not using FAT filesystem for the storage.";

}  // namespace

// A write refused for the file's size (EFBIG): creation fails with the type-1
// message naming the patch and leaves no patch; apply fails with the same
// message, and with errors tolerated writes the later files and reports the
// failure.
TEST(ProgramFaults, FileSizeLimitGivesTheTooLargeError) {
  TempDir dir;
  constexpr rlim_t kLimit = 64 * 1024;
  dir.MakeDir("older");
  dir.WriteFile("newer/a.txt", std::string(1000, 'a'));
  dir.WriteFile("newer/b.bin", std::string(4 * kLimit, 'b'));
  dir.WriteFile("newer/c.txt", "c");

  const Result create =
      RunProgram({"create-patch", dir.Native("older"), dir.Native("newer"), dir.Native("big.pat")},
                 dir, kLimit);
  EXPECT_EQ(create.exitCode, 1);
  EXPECT_NE(create.err.find(kTooLarge + " file:" + dir.Native("big.pat") +
                            "\ntorquelin: reason: File too large (errno 27)\n"),
            std::string::npos)
      << create.err;
  EXPECT_FALSE(fs::exists(dir.Native("big.pat")));

  ASSERT_EQ(
      RunProgram({"create-patch", dir.Native("older"), dir.Native("newer"), dir.Native("p.pat")},
                 dir)
          .exitCode,
      0);
  dir.MakeDir("strict");
  const Result strict =
      RunProgram({"apply", dir.Native("strict"), dir.Native("p.pat")}, dir, kLimit);
  EXPECT_EQ(strict.exitCode, 1);
  EXPECT_NE(strict.err.find(kTooLarge), std::string::npos) << strict.err;
  EXPECT_FALSE(fs::exists(dir.Native("strict/c.txt")));

  dir.MakeDir("tolerant");
  const Result tolerant = RunProgram({"apply", dir.Native("tolerant"), dir.Native("p.pat"),
                                      "--continue-on-errors", "--report", dir.Native("r.xml")},
                                     dir, kLimit);
  // Applied, but the tree is not the newer one: the mismatch exit status.
  EXPECT_EQ(tolerant.exitCode, 3) << tolerant.err;
  EXPECT_EQ(dir.ReadFile("tolerant/c.txt"), "c");
  EXPECT_EQ(dir.ReadFile("tolerant/a.txt"), std::string(1000, 'a'));
  const std::string report = dir.ReadFile("r.xml");
  EXPECT_NE(report.find("<Error msg=\"Error type:1&#10;Message: It appers that the output file"),
            std::string::npos)
      << report;
}

namespace {

// A tree big enough that each job takes some milliseconds: many small files
// in a few directories and some larger ones, with every kind of change
// between older and newer.
void BuildTrees(const TempDir& dir) {
  for (int d = 0; d < 4; ++d) {
    for (int f = 0; f < 40; ++f) {
      const std::string name = "d" + std::to_string(d) + "/f" + std::to_string(f) + ".txt";
      dir.WriteFile("older/" + name, "old " + name);
      if (f % 3 != 0) dir.WriteFile("newer/" + name, (f % 3 == 1 ? "old " : "new ") + name);
    }
    dir.WriteFile("newer/d" + std::to_string(d) + "/added/big.bin",
                  std::string(1 << 20, static_cast<char>('a' + d)));
  }
  dir.MakeDir("older/gone/deeper");
}

int KillRuns() {
  if (const char* runs = std::getenv("TORQUELIN_KILL_RUNS")) return std::atoi(runs);
  return std::getenv("TORQUELIN_LARGE_TESTS") ? 50 : 10;
}

// Runs a job to its end once to learn its length, then `runs` times more,
// killing it after delays spread evenly over 0 to 1.2 times that length
// (plus the process start); after each, `check` judges what was left and
// names it for the statistics printed at the end.
template <typename Prepare, typename Check>
void KillRepeatedly(const char* job, const std::vector<std::string>& args, const TempDir& scratch,
                    Prepare prepare, Check check) {
  const std::string errPath = scratch.Native("stderr.txt");
  prepare();
  const auto start = std::chrono::steady_clock::now();
  {
    Child whole(args, errPath);
    EXPECT_EQ(whole.Wait(), 0) << job << ": " << Slurp(errPath);
  }
  const auto length = std::chrono::steady_clock::now() - start;
  std::map<std::string, int> outcomes;
  const int runs = KillRuns();
  for (int i = 0; i < runs; ++i) {
    prepare();
    const auto delay = length * 12 / 10 * i / runs;
    Child child(args, errPath);
    std::this_thread::sleep_for(delay);
    child.Kill();
    const int status = child.Wait();
    const bool killed = WIFSIGNALED(status);
    if (!killed) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << job << ": " << Slurp(errPath);
    }
    SCOPED_TRACE(std::string(job) + " run " + std::to_string(i));
    ++outcomes[(killed ? "killed, " : "finished, ") + check()];
  }
  std::cout << job << " (" << runs << " runs, whole run "
            << std::chrono::duration_cast<std::chrono::milliseconds>(length).count() << " ms):";
  for (const auto& [label, count] : outcomes) std::cout << " [" << label << ": " << count << "]";
  std::cout << "\n";
}

// The error with which loading the patch refuses it, or "" when it loads.
std::string Refusal(const std::string& patch) {
  RecordingSink sink;
  try {
    LoadPatchInfo(sink, Wide(patch));
  } catch (const CZRErr& e) {
    return Narrow(e.message);
  }
  return "";
}

// Applies a patch to a fresh copy of the older tree: true when the result has
// the newer fingerprint, i.e. the patch was whole.
bool AppliesCleanly(const TempDir& dir, const std::string& patch) {
  fs::remove_all(dir.Native("check"));
  fs::copy(dir.Native("older"), dir.Native("check"), fs::copy_options::recursive);
  RecordingSink sink;
  ApplyPatch(sink, Wide(dir.Native("check")), Wide(patch), u"");
  return sink.statuses.back() == u"New fingerprint verified.";
}

std::vector<std::string> TemporaryFiles(const std::string& directory) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(directory)) {
    if (e.path().extension() == ".tmp") found.push_back(e.path());
  }
  return found;
}

// The vault as it was before a run, with no temporary file beside it.
void PutBack(const std::string& vault, const std::string& bytes) {
  std::ofstream(vault, std::ios::binary | std::ios::trunc) << bytes;
  for (const std::string& leftover : TemporaryFiles(fs::path(vault).parent_path())) {
    fs::remove(leftover);
  }
}

}  // namespace

// A killed create-patch leaves the earlier patch or the finished new one,
// which applies cleanly; at most a temporary file of ours beside it.
TEST(ProgramKilled, CreatePatchLeavesTheEarlierOrTheNewPatch) {
  TempDir dir;
  BuildTrees(dir);
  dir.MakeDir("out");
  const std::string patch = dir.Native("out/p.pat");
  KillRepeatedly(
      "create-patch", {"create-patch", dir.Native("older"), dir.Native("newer"), patch}, dir,
      [&] { PutBack(patch, "an earlier patch"); },
      [&]() -> std::string {
        const std::vector<std::string> temporaries = TemporaryFiles(dir.Native("out"));
        for (const std::string& t : temporaries) {
          EXPECT_EQ(fs::path(t).filename().string().rfind(".torquelin-", 0), 0u) << t;
        }
        EXPECT_LE(temporaries.size(), 1u);
        const std::string leftover = temporaries.empty() ? "" : ", temp left";
        if (Slurp(patch) == "an earlier patch") return "earlier patch" + leftover;
        EXPECT_EQ(Refusal(patch), "");
        EXPECT_TRUE(AppliesCleanly(dir, patch));
        return "new patch" + leftover;
      });
}

// A killed create-patch-vault --update-vault leaves the old vault or the new
// one, byte for byte; never a mixture, never an unreadable file.
TEST(ProgramKilled, VaultUpdateLeavesTheOldOrTheNewVault) {
  TempDir dir;
  BuildTrees(dir);
  dir.MakeDir("v");
  const std::string vault = dir.Native("v/v.zov");
  ASSERT_EQ(RunProgram({"create-vault", dir.Native("older"), vault}, dir).exitCode, 0);
  const std::string oldVault = Slurp(vault);
  const std::vector<std::string> args = {"create-patch-vault", dir.Native("newer"), vault,
                                         dir.Native("p.pat"), "--update-vault"};
  ASSERT_EQ(RunProgram(args, dir).exitCode, 0);
  const std::string newVault = Slurp(vault);
  ASSERT_NE(oldVault, newVault);

  KillRepeatedly(
      "create-patch-vault --update-vault", args, dir, [&] { PutBack(vault, oldVault); },
      [&]() -> std::string {
        const std::string now = Slurp(vault);
        EXPECT_TRUE(now == oldVault || now == newVault);
        const std::string leftover = TemporaryFiles(dir.Native("v")).empty() ? "" : ", temp left";
        return (now == oldVault   ? "old vault"
                : now == newVault ? "new vault"
                                  : "BROKEN") +
               leftover;
      });
}

// A killed create-vault over an existing vault leaves that vault whole, or a
// complete new one.
TEST(ProgramKilled, CreateVaultKeepsTheExistingVaultWhole) {
  TempDir dir;
  BuildTrees(dir);
  dir.MakeDir("v");
  const std::string vault = dir.Native("v/v.zov");
  ASSERT_EQ(RunProgram({"create-vault", dir.Native("older"), vault}, dir).exitCode, 0);
  const std::string oldVault = Slurp(vault);
  RecordingSink sink;
  ASSERT_EQ(
      RunProgram({"create-vault", dir.Native("newer"), dir.Native("reference.zov")}, dir).exitCode,
      0);
  const CDirSnapshot reference = ReadVault(sink, Wide(dir.Native("reference.zov")));

  KillRepeatedly(
      "create-vault", {"create-vault", dir.Native("newer"), vault}, dir,
      [&] { PutBack(vault, oldVault); },
      [&]() -> std::string {
        if (Slurp(vault) == oldVault) return "old vault";
        try {
          const CDirSnapshot now = ReadVault(sink, Wide(vault));
          EXPECT_EQ(now.files, reference.files);
          EXPECT_EQ(now.directories, reference.directories);
          EXPECT_EQ(now.fileIds, reference.fileIds);
        } catch (const CZRErr& e) {
          ADD_FAILURE() << Narrow(e.message);
          return "BROKEN";
        }
        return "new vault";
      });
}

namespace {

std::string TreeFingerprint(const std::string& root) {
  RecordingSink sink;
  CDirSnapshot snapshot = BuildSnapshot(sink, Wide(root), u"", FileIds::Compute);
  return Narrow(ComputeFingerprint(sink, snapshot));
}

// What a killed apply left: the journal's phase when there is one, else
// which tree the target is.
std::string LeftBehind(const std::string& target, const std::string& older,
                       const std::string& newer) {
  const std::string journal = target + "/.torquelin-journal";
  if (fs::exists(journal)) {
    const std::string text = Slurp(journal);
    if (text.empty()) return "empty journal";
    return text.find("\ncommit\n") != std::string::npos ? "committing" : "staging";
  }
  const std::string now = TreeFingerprint(target);
  return now == older ? "older tree" : now == newer ? "newer tree" : "OTHER TREE";
}

// Makes `directories` (relative to root) read-only, or writable again.
void SetReadOnly(const std::string& root, const std::vector<std::string>& directories,
                 bool readOnly) {
  for (const std::string& d : directories) {
    fs::permissions(root + "/" + d, fs::perms::owner_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
  }
}

// A patch from the built trees and a target reset to the older tree before
// each run. Directories whose owner may not write them, the target's root
// among them, hold entries the patch changes; one of them becomes writable.
struct ApplyScene {
  explicit ApplyScene(const TempDir& scratch, bool compact = false) : dir(scratch) {
    BuildTrees(dir);
    SetReadOnly(dir.Native("older"), {"d0", "d1"}, true);
    SetReadOnly(dir.Native("newer"), {"d0"}, true);
    std::vector<std::string> args = {"create-patch", dir.Native("older"), dir.Native("newer"),
                                     patch};
    if (compact) args.push_back("--compact");
    EXPECT_EQ(RunProgram(args, dir).exitCode, 0);
  }
  ~ApplyScene() { Unlock(); }
  void Unlock() const {
    if (fs::exists(target)) SetReadOnly(target, {".", "d0", "d1"}, false);
  }
  void Reset() const {
    Unlock();
    fs::remove_all(target);
    SetReadOnly(dir.Native("older"), {"d0", "d1"}, false);
    fs::copy(dir.Native("older"), target, fs::copy_options::recursive);
    SetReadOnly(dir.Native("older"), {"d0", "d1"}, true);
    SetReadOnly(target, {"d0", "d1", "."}, true);
  }
  // The target's root has its own mode back.
  bool RootReadOnly() const {
    return (fs::status(target).permissions() & fs::perms::owner_write) == fs::perms::none;
  }
  const TempDir& dir;
  const std::string patch = dir.Native("p.pat");
  const std::string target = dir.Native("target");
};

// Staged files and journals anywhere below root.
std::vector<std::string> Leftovers(const std::string& root) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename();
    if (name.rfind(".tq-", 0) == 0 || name == ".torquelin-journal") found.push_back(e.path());
  }
  return found;
}

// After a killed apply, the same command finishes the job, whatever moment
// the kill came at: the tree ends with the newer fingerprint, and no staged
// file or journal is left.
void ExpectApplyAgainFinishes(bool compact) {
  TempDir dir;
  const ApplyScene scene(dir, compact);
  const std::string& patch = scene.patch;
  const std::string& target = scene.target;
  const std::string older = TreeFingerprint(dir.Native("older"));
  const std::string newer = TreeFingerprint(dir.Native("newer"));
  KillRepeatedly(
      "apply", {"apply", target, patch}, dir, [&] { scene.Reset(); },
      [&]() -> std::string {
        const std::string left = LeftBehind(target, older, newer);
        EXPECT_NE(left, "OTHER TREE");
        const Result again = RunProgram({"apply", target, patch}, dir);
        EXPECT_EQ(again.exitCode, 0) << again.err;
        // The fingerprint holds every directory's mode but the root's.
        EXPECT_EQ(TreeFingerprint(target), newer);
        // Only an ordinary user must open the root before its journal can
        // record the root's mode: a kill between the two leaves it open.
        if (geteuid() == 0 || left != "older tree") {
          EXPECT_TRUE(scene.RootReadOnly()) << left;
        }
        EXPECT_EQ(Leftovers(target), std::vector<std::string>());
        return left;
      });
}

}  // namespace

TEST(ProgramKilled, ApplyAgainFinishesTheJob) { ExpectApplyAgainFinishes(false); }

// A compact patch's contents are decoded from the older files while they
// are staged: a kill at any moment still leaves what the rerun finishes.
TEST(ProgramKilled, CompactApplyAgainFinishesTheJob) { ExpectApplyAgainFinishes(true); }

// The in-place way is not crash-safe: after a kill, a second apply either
// refuses with the fingerprint message (something had changed) or, when
// nothing had or everything had, ends with the newer tree.
TEST(ProgramKilled, ApplyInPlaceAgainRefusesOrCompletes) {
  TempDir dir;
  const ApplyScene scene(dir);
  KillRepeatedly(
      "apply --in-place", {"apply", scene.target, scene.patch, "--in-place"}, dir,
      [&] { scene.Reset(); },
      [&]() -> std::string {
        RecordingSink sink;
        try {
          ApplyPatch(sink, Wide(scene.target), Wide(scene.patch), u"", {.way = ApplyWay::InPlace});
        } catch (const CZRErr& e) {
          EXPECT_EQ(Narrow(e.message).rfind(
                        "Trying to apply a patch to dirrectory with different fingerprint", 0),
                    0u)
              << Narrow(e.message);
          return "second apply refused";
        }
        if (sink.statuses.back() == kAlreadyAppliedText) return "already newer";
        EXPECT_EQ(sink.statuses.back(), u"New fingerprint verified.");
        return "second apply completed";
      });
}

// A result that cannot be written to standard output (a full disk, a closed
// pipe) must not pass for a delivered one.
TEST(ProgramFaults, UndeliverableResultIsAFailure) {
  TempDir dir;
  dir.WriteFile("tree/a.txt", "a");
  const char* bin = std::getenv("TORQUELIN_BIN");
  ASSERT_NE(bin, nullptr);
  for (const std::string& args : {"fingerprint " + dir.Native("tree"), std::string("--version")}) {
    SCOPED_TRACE(args);
    const std::string command = std::string(bin) + "/torquelin -q " + args + " >/dev/full 2>" +
                                dir.Native("err") + " </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(dir.ReadFile("err"),
              "torquelin: unable to write to standard output: No space left on device\n");
  }
}

namespace {

// Polls `done` for up to 30 seconds.
bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Whether the process has a handler of its own for `signal` (SigCgt in its
// status): the program's handler serves once, then puts the default back.
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    }
  }
  return false;
}

}  // namespace

// SIGINT, SIGTERM and SIGHUP each ask the job to stop at its next
// cancellation point: it says "Cancelled", exits 130 and leaves no patch. A
// second signal, of any of the three, ends the program at once.
TEST(ProgramSignals, FirstRequestCancelsTheJobSecondEndsTheProgram) {
  TempDir dir;
  dir.MakeDir("older");
  for (int i = 0; i < 100; ++i) dir.WriteFile("newer/f" + std::to_string(i), "new");
  const std::string fifo = dir.Native("report.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::string> args = {"create-patch",      dir.Native("older"),
                                         dir.Native("newer"), dir.Native("p.pat"),
                                         "--report",          fifo};
  struct Case {
    std::vector<int> signals;
    int endedBy;  // 0: the job is cancelled
  } cases[] = {
      {{SIGINT}, 0},
      {{SIGTERM}, 0},
      {{SIGHUP}, 0},
      {{SIGTERM, SIGTERM}, SIGTERM},
      {{SIGHUP, SIGINT}, SIGINT},
      {{SIGINT, SIGHUP}, SIGHUP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("first signal " + std::to_string(c.signals[0]) + ", " +
                 std::to_string(c.signals.size()) + " in all");
    // The report goes into a FIFO whose one-page buffer the test lets fill:
    // the job then waits in a write, past the scans, before the patch.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const int capacity = ::fcntl(reader, F_SETPIPE_SZ, 4096);
    Child child(args, dir.Native("stderr.txt"));
    const bool waiting = Eventually([&] {
      int queued = 0;
      return Catches(child.pid(), SIGINT) && Catches(child.pid(), SIGTERM) &&
             Catches(child.pid(), SIGHUP) && ::ioctl(reader, FIONREAD, &queued) == 0 &&
             queued >= capacity;
    });
    EXPECT_TRUE(waiting);
    child.Signal(c.signals[0]);
    EXPECT_TRUE(Eventually([&] { return !Catches(child.pid(), c.signals[0]); }));
    if (c.signals.size() > 1) child.Signal(c.signals[1]);
    if (c.endedBy == 0) {
      // Drain the report; the job goes on to its next cancellation point.
      char buffer[4096];
      EXPECT_TRUE(Eventually([&] { return ::read(reader, buffer, sizeof buffer) == 0; }));
    }
    if (!waiting) child.Kill();
    const int status = child.Wait();
    ::close(reader);
    if (c.endedBy != 0) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.endedBy) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
      EXPECT_EQ(dir.ReadFile("stderr.txt"), "Cancelled\n");
    }
    EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(dir.Native("p.pat")));
  }
}
