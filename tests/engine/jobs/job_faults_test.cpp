// Jobs meeting a full disk, an I/O error, or a source file that changes under
// them: each fails with its own message, reports no success, and leaves no
// broken file where a good one stood.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/jobs/apply_patch.h"
#include "engine/jobs/job_runner.h"
#include "engine/patch/patch_reader.h"
#include "engine/xml/vault_file.h"
#include "platform/fault_injection.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

namespace fs = std::filesystem;
using platform::fault_injection::Failing;
using platform::fault_injection::FaultPoint;

struct JobRun {
  JobOutcome outcome = JobOutcome::Failed;
  RecordingSink sink;

  bool Showed(const std::u16string& status) const {
    for (const std::u16string& s : sink.statuses) {
      if (s == status) return true;
    }
    return false;
  }
  // The "Message: " line of the one message box, or the whole text when the
  // box is not an error's.
  std::string Message() const {
    if (sink.messages.size() != 1) return "<" + std::to_string(sink.messages.size()) + " messages>";
    const std::string text = Narrow(sink.messages[0]);
    const size_t start = text.find("Message: ");
    if (start == std::string::npos) return text;
    const size_t end = text.find('\n', start);
    return text.substr(start + 9, end - start - 9);
  }
};

// Runs one job through the runner, as the window does, with `fault` armed
// only while the job runs.
template <typename Arm>
std::unique_ptr<JobRun> RunJobWith(JobKind kind, JobParams params, Arm arm) {
  auto run = std::make_unique<JobRun>();
  arm();
  run->outcome = RunJobForTest(run->sink, kind, std::move(params)).outcome;
  platform::fault_injection::DisarmAll();
  return run;
}

std::unique_ptr<JobRun> RunJobWith(JobKind kind, JobParams params) {
  return RunJobWith(kind, std::move(params), [] {});
}

// The message with which query refuses a patch file ("<accepted>" when it
// loads).
std::string QueryRefusal(const std::u16string& patchPath) {
  RecordingSink sink;
  const std::string error = ErrorOf([&] { LoadPatchInfo(sink, patchPath); });
  return error == "<no error>" ? "<accepted>" : error;
}

// Names of the entries of a directory: a failed save must leave no
// temporary file behind.
std::vector<std::string> Entries(const std::string& dir_) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// An older and a newer tree with a changed, a new, an empty and a removed
// file, and a file larger than one scratch buffer.
class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("older/a.txt", "one");
    dir_.WriteFile("older/keep.txt", "keep");
    dir_.WriteFile("older/sub/gone.txt", "gone");
    dir_.WriteFile("newer/a.txt", "two");
    dir_.WriteFile("newer/keep.txt", "keep");
    dir_.WriteFile("newer/empty.txt", "");
    dir_.WriteFile("newer/sub/big.bin", std::string(kScratchBufferSize + 5000, 'b'));
    dir_.WriteFile("newer/sub/new/z.txt", "zzz");
    dir_.MakeDir("out");
  }

  std::u16string W(const std::string& relative) const {
    return dir_.wpath() + u"/" + FromNarrow(relative);
  }
  static std::u16string FromNarrow(const std::string& s) {
    return std::u16string(s.begin(), s.end());
  }

  CreatePatchParams PatchParams() const {
    return {W("older"), W("newer"), W("out/p.pat"), u"", u"", {}};
  }

  // A complete patch from older to newer at out/good.pat.
  std::u16string GoodPatch() {
    CreatePatchParams p = PatchParams();
    p.patchPath = W("out/good.pat");
    EXPECT_EQ(RunJobWith(JobKind::CreatePatch, p)->outcome, JobOutcome::Succeeded);
    return p.patchPath;
  }

  TempDir dir_;
};

}  // namespace

// Every single write of patch creation failing in turn, once (an I/O error)
// or from then on (a full disk): the job fails with a patch-writing message
// that names the patch, never says "Patch created ok.", and the patch that
// was there before stays as it was, with no temporary file beside it.
TEST_F(FaultTest, CreatePatchWriteFailureAnywhereKeepsThePreviousPatch) {
  for (const auto& [error, failing] :
       {std::pair{ENOSPC, Failing::FromThenOn}, std::pair{EIO, Failing::Once}}) {
    bool finished = false;
    for (uint64_t nth = 1; nth < 200 && !finished; ++nth) {
      SCOPED_TRACE("errno " + std::to_string(error) + ", write " + std::to_string(nth));
      dir_.WriteFile("out/p.pat", "an earlier patch");
      const auto run = RunJobWith(JobKind::CreatePatch, PatchParams(), [&] {
        platform::fault_injection::Arm(FaultPoint::Write, nth, error, failing);
      });
      if (run->outcome == JobOutcome::Succeeded) {
        // Past the last write: the fault never fired.
        EXPECT_TRUE(run->Showed(u"Patch created ok."));
        EXPECT_EQ(QueryRefusal(W("out/p.pat")), "<accepted>");
        EXPECT_GT(nth, 3u);
        finished = true;
        break;
      }
      const std::string message = run->Message();
      EXPECT_EQ(message.rfind("Unable write ", 0), 0u) << message;
      const std::string named = " file:" + dir_.Native("out/p.pat");
      EXPECT_EQ(message.substr(message.size() - std::min(message.size(), named.size())), named);
      EXPECT_FALSE(run->Showed(u"Patch created ok."));
      EXPECT_TRUE(dir_.ReadFile("out/p.pat") == "an earlier patch");
      EXPECT_EQ(Entries(dir_.Native("out")), std::vector<std::string>{"p.pat"});
    }
    EXPECT_TRUE(finished);
  }
}

// Every write of an apply failing in turn, with and without tolerance: the
// run either fails without "Patch applied ok.", or, tolerating, ends with
// the fingerprint mismatch and a report that lists the failure. Only a run
// the fault never reached verifies the new fingerprint.
TEST_F(FaultTest, ApplyWriteFailureAnywhereIsNeverASilentSuccess) {
  const std::u16string patch = GoodPatch();
  for (const bool tolerant : {false, true}) {
    for (const auto& [error, failing] :
         {std::pair{ENOSPC, Failing::FromThenOn}, std::pair{EIO, Failing::Once}}) {
      bool finished = false;
      for (uint64_t nth = 1; nth < 100 && !finished; ++nth) {
        SCOPED_TRACE((tolerant ? "tolerant, errno " : "errno ") + std::to_string(error) +
                     ", write " + std::to_string(nth));
        fs::remove_all(dir_.Native("t"));
        fs::remove(dir_.Native("out/r.xml"));
        fs::copy(dir_.Native("older"), dir_.Native("t"), fs::copy_options::recursive);
        const auto run = RunJobWith(
            JobKind::ApplyPatch, ApplyPatchParams{W("t"), patch, W("out/r.xml"), tolerant, false},
            [&] { platform::fault_injection::Arm(FaultPoint::Write, nth, error, failing); });
        if (run->outcome == JobOutcome::Failed) {
          EXPECT_FALSE(run->Showed(u"Patch applied ok."));
          continue;
        }
        if (run->sink.statuses.back() == u"New fingerprint verified.") {
          EXPECT_GT(nth, 3u);
          finished = true;
          continue;
        }
        EXPECT_TRUE(tolerant);
        EXPECT_EQ(run->sink.statuses.back(), kAppliedFingerprintMismatchText);
        EXPECT_NE(dir_.ReadFile("out/r.xml")
                      .find("<Error msg=\"Error type:0&#10;Message: "
                            "Unable to write a dest file:"),
                  std::string::npos);
      }
      EXPECT_TRUE(finished);
    }
  }
}

TEST_F(FaultTest, UncreatablePatchOrDestinationNamesThePath) {
  const auto create = RunJobWith(JobKind::CreatePatch, PatchParams(), [] {
    platform::fault_injection::Arm(FaultPoint::Create, 1, ENOSPC);
  });
  EXPECT_EQ(create->outcome, JobOutcome::Failed);
  EXPECT_EQ(create->Message(), "Unable to open file:" + dir_.Native("out/p.pat"));
  EXPECT_FALSE(create->Showed(u"Patch created ok."));

  const std::u16string patch = GoodPatch();
  const auto apply =
      RunJobWith(JobKind::ApplyPatch, ApplyPatchParams{W("older"), patch, u"", false, false},
                 [] { platform::fault_injection::Arm(FaultPoint::Create, 1, EIO); });
  EXPECT_EQ(apply->outcome, JobOutcome::Failed);
  EXPECT_EQ(apply->Message(), "Unable to open file:" + dir_.Native("older") + "\\\\a.txt");
  EXPECT_FALSE(apply->Showed(u"Patch applied ok."));
}

// A save of a vault or a report that fails at its creation, its first write,
// any write from some point on, or its final rename: the job fails naming
// the file and the reason, and the file that was there before is untouched,
// with no temporary file left beside it.
TEST_F(FaultTest, FailedXmlSavesKeepThePreviousFile) {
  struct Fault {
    FaultPoint point;
    uint64_t nth;
    int error;
    Failing failing;
  };
  const Fault faults[] = {{FaultPoint::Create, 1, ENOSPC, Failing::Once},
                          {FaultPoint::Write, 1, ENOSPC, Failing::FromThenOn},
                          {FaultPoint::Write, 1, EIO, Failing::Once},
                          {FaultPoint::Rename, 1, EIO, Failing::Once},
                          {FaultPoint::Sync, 1, EIO, Failing::Once}};
  for (const Fault& f : faults) {
    SCOPED_TRACE("point " + std::to_string(static_cast<int>(f.point)) + " errno " +
                 std::to_string(f.error));
    const auto arm = [&] { platform::fault_injection::Arm(f.point, f.nth, f.error, f.failing); };
    dir_.WriteFile("out/v.zov", "previous vault");
    dir_.WriteFile("out/r.xml", "previous report");
    const std::vector<std::string> before = Entries(dir_.Native("out"));

    const auto vault =
        RunJobWith(JobKind::CreateVault, CreateVaultParams{W("newer"), u"", W("out/v.zov")}, arm);
    const auto saveFailure = [&](const char* file) {
      return "Unable to save an XML file:" + dir_.Native(file) + ": " + std::strerror(f.error);
    };
    EXPECT_EQ(vault->outcome, JobOutcome::Failed);
    EXPECT_EQ(vault->Message(), saveFailure("out/v.zov"));

    CreatePatchParams withReport = PatchParams();
    withReport.reportPath = W("out/r.xml");
    const auto report = RunJobWith(JobKind::CreatePatch, withReport, arm);
    EXPECT_EQ(report->outcome, JobOutcome::Failed);
    EXPECT_EQ(report->Message(), saveFailure("out/r.xml"));
    EXPECT_FALSE(report->Showed(u"Patch created ok."));

    EXPECT_EQ(dir_.ReadFile("out/v.zov"), "previous vault");
    EXPECT_EQ(dir_.ReadFile("out/r.xml"), "previous report");
    EXPECT_EQ(Entries(dir_.Native("out")), before);
  }
}

// The vault is rewritten only after the patch is complete; when that fails
// the patch stays valid, the old vault stays whole, and no success is shown.
TEST_F(FaultTest, FailedVaultUpdateKeepsTheOldVaultAndTheFinishedPatch) {
  ASSERT_EQ(
      RunJobWith(JobKind::CreateVault, CreateVaultParams{W("older"), u"", W("out/v.zov")})->outcome,
      JobOutcome::Succeeded);
  const std::string oldVault = dir_.ReadFile("out/v.zov");
  const CreateVaultPatchParams params{W("newer"), W("out/p.pat"), W("out/v.zov"), u"", true, {}};
  // The first creation and rename are the patch's, the second the vault's.
  for (const auto& [point, nth] :
       {std::pair{FaultPoint::Create, 2}, std::pair{FaultPoint::Rename, 2}}) {
    const auto run = RunJobWith(JobKind::CreateVaultPatch, params,
                                [&] { platform::fault_injection::Arm(point, nth, ENOSPC); });
    EXPECT_EQ(run->outcome, JobOutcome::Failed);
    EXPECT_EQ(run->Message(), "Unable to save an XML file:" + dir_.Native("out/v.zov") +
                                  ": No space left on device");
    EXPECT_FALSE(run->Showed(u"Patch created ok."));
    EXPECT_EQ(dir_.ReadFile("out/v.zov"), oldVault);
    EXPECT_EQ(QueryRefusal(W("out/p.pat")), "<accepted>");
    EXPECT_EQ(Entries(dir_.Native("out")), (std::vector<std::string>{"p.pat", "v.zov"}));
  }
}

// An extraction write that fails: the run stops with the destination named;
// with errors tolerated the later files are still written and the report
// lists the failure. A report that cannot be saved ends the run as failed.
TEST_F(FaultTest, ApplyExtractionAndReportFailures) {
  const std::u16string patch = GoodPatch();
  fs::copy(dir_.Native("older"), dir_.Native("strict"), fs::copy_options::recursive);
  fs::copy(dir_.Native("older"), dir_.Native("tolerant"), fs::copy_options::recursive);
  fs::copy(dir_.Native("older"), dir_.Native("reported"), fs::copy_options::recursive);
  const auto failFirstWrite = [] { platform::fault_injection::Arm(FaultPoint::Write, 1, ENOSPC); };

  const auto strict =
      RunJobWith(JobKind::ApplyPatch, ApplyPatchParams{W("strict"), patch, u"", false, false, true},
                 failFirstWrite);
  EXPECT_EQ(strict->outcome, JobOutcome::Failed);
  EXPECT_EQ(strict->Message(),
            "Unable to write a dest file:" + dir_.Native("strict") + "\\\\a.txt");
  EXPECT_FALSE(strict->Showed(u"Patch applied ok."));

  const auto tolerant = RunJobWith(
      JobKind::ApplyPatch,
      ApplyPatchParams{W("tolerant"), patch, W("out/t.xml"), true, false, true}, failFirstWrite);
  EXPECT_EQ(tolerant->outcome, JobOutcome::Succeeded);
  EXPECT_EQ(tolerant->sink.statuses.back(), kAppliedFingerprintMismatchText);
  EXPECT_EQ(dir_.ReadFile("tolerant/sub/new/z.txt"), "zzz");
  EXPECT_EQ(fs::file_size(dir_.Native("tolerant/sub/big.bin")), kScratchBufferSize + 5000);
  const std::string report = dir_.ReadFile("out/t.xml");
  EXPECT_NE(
      report.find("Message: Unable to write a dest file:" + dir_.Native("tolerant") + "\\\\a.txt"),
      std::string::npos)
      << report;
  const size_t written = report.find("<ModifyedFiles>");
  const std::string modified = report.substr(written, report.find("</ModifyedFiles>") - written);
  EXPECT_EQ(modified.find("path=\"a.txt\""), std::string::npos) << modified;
  EXPECT_NE(modified.find("path=\"z.txt\""), std::string::npos) << modified;

  const auto reported =
      RunJobWith(JobKind::ApplyPatch,
                 ApplyPatchParams{W("reported"), patch, W("out/r.xml"), false, false, true},
                 [] { platform::fault_injection::Arm(FaultPoint::Rename, 1, ENOSPC); });
  EXPECT_EQ(reported->outcome, JobOutcome::Failed);
  EXPECT_EQ(reported->Message(),
            "Unable to save an XML file:" + dir_.Native("out/r.xml") + ": No space left on device");
  EXPECT_FALSE(reported->Showed(u"Patch applied ok."));
  EXPECT_FALSE(fs::exists(dir_.Native("out/r.xml")));
}

namespace {

// Changes a file of the newer tree at one moment of patch writing: when the
// writer announces it ("Writing File: "), before it is opened, or when the
// writer takes the scratch buffer, after it was opened and measured.
class ChangingSink : public RecordingSink {
 public:
  enum class When { Announced, Opened };
  ChangingSink(std::u16string relative, When when, std::function<void()> change)
      : relative_(std::move(relative)), when_(when), change_(std::move(change)) {}

  void SetDetail(const std::u16string& text) override {
    RecordingSink::SetDetail(text);
    armed_ = text == u"Writing File: " + relative_;
    if (armed_ && when_ == When::Announced) Fire();
  }
  uint8_t* GetBuffer() override {
    if (armed_ && when_ == When::Opened) Fire();
    return RecordingSink::GetBuffer();
  }

 private:
  void Fire() {
    armed_ = false;
    if (change_) std::exchange(change_, nullptr)();
  }
  std::u16string relative_;
  When when_;
  std::function<void()> change_;
  bool armed_ = false;
};

}  // namespace

// A source file that vanishes or shrinks after the scan: the patch does not
// carry what the scan saw, so creation must fail and leave no patch. A file
// removed after it was opened is still read whole.
TEST_F(FaultTest, SourceFileChangingBetweenScanAndCopy) {
  const std::string big = dir_.Native("newer/sub/big.bin");
  const std::u16string bigText = W("newer") + u"\\sub\\big.bin";
  struct Case {
    const char* name;
    ChangingSink::When when;
    std::function<void()> change;
    std::string error;
  } cases[] = {
      {"vanishes", ChangingSink::When::Announced, [&] { fs::remove(big); },
       "Unable to ioen file:" + Narrow(bigText)},
      {"shrinks before it is opened", ChangingSink::When::Announced,
       [&] { fs::resize_file(big, 10); }, "Unable read a source file:" + Narrow(bigText)},
      {"shrinks while it is copied", ChangingSink::When::Opened, [&] { fs::resize_file(big, 10); },
       "Unable read a source file:" + Narrow(bigText)},
      {"changes in place", ChangingSink::When::Announced,
       [&] { WriteBytes(big, std::string(kScratchBufferSize + 5000, 'c')); },
       "Unable read a source file:" + Narrow(bigText)},
      {"is removed once open", ChangingSink::When::Opened, [&] { fs::remove(big); }, "<no error>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.WriteFile("newer/sub/big.bin", std::string(kScratchBufferSize + 5000, 'b'));
    ChangingSink sink(u"\\sub\\big.bin", c.when, c.change);
    const JobOutcome outcome = RunJobForTest(sink, JobKind::CreatePatch, PatchParams()).outcome;
    if (c.error == "<no error>") {
      EXPECT_EQ(outcome, JobOutcome::Succeeded);
      EXPECT_EQ(QueryRefusal(W("out/p.pat")), "<accepted>");
      continue;
    }
    EXPECT_EQ(outcome, JobOutcome::Failed);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(Narrow(sink.messages[0]).find("Message: " + c.error + "\n"), std::string::npos)
        << Narrow(sink.messages[0]);
    EXPECT_FALSE(fs::exists(dir_.Native("out/p.pat")));
    EXPECT_EQ(Entries(dir_.Native("out")), std::vector<std::string>{});
  }
}

// A create-patch that fails or is cancelled at any stage leaves the patch
// that was there before byte for byte, and nothing else: no temporary file.
// Each failure names the patch, or the source it could not read.
TEST_F(FaultTest, FailedCreatePatchKeepsThePreviousPatch) {
  GoodPatch();
  const std::string previous = dir_.ReadFile("out/good.pat");
  const std::string patch = dir_.Native("out/p.pat");
  const std::string big = dir_.Native("newer/sub/big.bin");
  RecordingSink* running = nullptr;
  // The writes are the patch info, then per file its record's head and its
  // content: the 6th is the first chunk of \sub\big.bin.
  const auto failWrite = [](int error, Failing failing) {
    return [=] { platform::fault_injection::Arm(FaultPoint::Write, 6, error, failing); };
  };
  struct Case {
    const char* name;
    std::function<void()> arm;
    std::function<void()> change;  // when \sub\big.bin is announced
    std::string message;           // empty for a cancel
  } cases[] = {
      {"unreadable source", [] {},
       [&] {
         fs::remove(big);
         fs::create_directory(big);
       },
       "Unable to ioen file:" + Narrow(W("newer") + u"\\sub\\big.bin")},
      {"full disk", failWrite(ENOSPC, Failing::FromThenOn), nullptr,
       "Unable write buffer to a patch. exp:2097152 actual:-1 file:" + patch},
      {"file too large", failWrite(EFBIG, Failing::Once), nullptr,
       "It appers that the output file is larger then 4GB, please verify that you are not using "
       "FAT filesystem for the storage. file:" +
           patch},
      {"cancel", [] {}, [&] { running->cancelRequested = true; }, ""},
      {"body not flushed", [] { platform::fault_injection::Arm(FaultPoint::Sync, 1, EIO); },
       nullptr, "Unable to flush a patch file to disk:" + patch},
      {"header not flushed", [] { platform::fault_injection::Arm(FaultPoint::Sync, 2, EIO); },
       nullptr, "Unable to flush a patch file to disk:" + patch},
      {"rename refused", [] { platform::fault_injection::Arm(FaultPoint::Rename, 1, EIO); },
       nullptr, "Unable to move a patch file into place:" + patch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.WriteFile("out/p.pat", previous);
    fs::remove_all(big);
    dir_.WriteFile("newer/sub/big.bin", std::string(kScratchBufferSize + 5000, 'b'));
    const std::vector<std::string> before = Entries(dir_.Native("out"));
    ChangingSink sink(u"\\sub\\big.bin", ChangingSink::When::Announced, c.change);
    running = &sink;
    c.arm();
    const JobOutcome outcome = RunJobForTest(sink, JobKind::CreatePatch, PatchParams()).outcome;
    platform::fault_injection::DisarmAll();
    if (c.message.empty()) {
      EXPECT_EQ(outcome, JobOutcome::Cancelled);
    } else {
      EXPECT_EQ(outcome, JobOutcome::Failed);
      ASSERT_EQ(sink.messages.size(), 1u);
      EXPECT_NE(Narrow(sink.messages[0]).find("Message: " + c.message + "\n"), std::string::npos)
          << Narrow(sink.messages[0]);
    }
    EXPECT_TRUE(dir_.ReadFile("out/p.pat") == previous);
    EXPECT_EQ(Entries(dir_.Native("out")), before);
  }
}
