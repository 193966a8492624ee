// The job runner's outcomes and the host operations around them.
#include "engine/jobs/job_runner.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

namespace {

// Records what the runner asks of the window; ReadParameters can be made
// to fail in any way a page could.
class FakeHost : public CJobHost {
 public:
  explicit FakeHost(RecordingSink& sink) : sink_(sink) {}
  void ClearCancelRequest() override {
    calls.push_back("clear");
    sink_.cancelRequested = false;
  }
  void SetTabStripEnabled(bool on) override { calls.push_back(on ? "tabs on" : "tabs off"); }
  void SetCancelEnabled(bool on) override { calls.push_back(on ? "cancel on" : "cancel off"); }
  void SetPageLocked(JobKind, bool locked) override { calls.push_back(locked ? "lock" : "unlock"); }
  JobParams ReadParameters(JobKind) override {
    calls.push_back("read");
    if (readHook) readHook();
    return params;
  }
  void SetFingerprintField(const std::u16string& text) override {
    calls.push_back("field");
    field = text;
  }
  void SaveSettings(JobKind) override { calls.push_back("save"); }

  std::vector<std::string> calls;
  std::u16string field = u"old value";
  JobParams params = FingerprintParams{};
  std::function<void()> readHook;

 private:
  RecordingSink& sink_;
};

bool EndsWithCompletionLine(const RecordingSink& sink) {
  return !sink.calls.empty() && sink.calls.back().rfind(u"detail:Completed.  Time:00:00:0", 0) == 0;
}

}  // namespace

TEST(RunJob, SuccessSetsTheFieldSavesSettingsAndUnlocks) {
  TempDir dir;
  RecordingSink sink;
  FakeHost host(sink);
  host.params = FingerprintParams{dir.wpath(), u""};
  EXPECT_EQ(RunJob(host, sink, JobKind::Fingerprint), JobOutcome::Succeeded);
  EXPECT_EQ(host.field, u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"clear", "tabs off", "cancel on", "lock", "field", "read",
                                      "field", "save", "cancel off", "unlock", "tabs on"}));
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_TRUE(EndsWithCompletionLine(sink));
}

TEST(RunJob, FailuresShowOneMessageAndSaveNothing) {
  struct Case {
    const char* name;
    std::function<void()> hook;
    JobParams params;
    JobKind kind;
    std::u16string message;  // prefix of the message shown
  } cases[] = {
      {"CZRErr", nullptr, FingerprintParams{u"/no/such/dir", u""}, JobKind::Fingerprint,
       u"Error type:1\nMessage: Directory for fingerprinting does  not exists: /no/such/dir\n"
       u"Error Code: "},
      {"bare text", [] { throw std::u16string(u"plain words"); }, FingerprintParams{},
       JobKind::Fingerprint, u"plain words"},
      {"other exception", [] { throw std::runtime_error("x"); }, FingerprintParams{},
       JobKind::Fingerprint, u"A general unknown error has occured."},
      {"parameters of another job", nullptr, QueryPatchParams{}, JobKind::Fingerprint,
       u"A general unknown error has occured."},
      {"job this build lacks", nullptr, FingerprintParams{}, static_cast<JobKind>(kJobKindCount),
       u"A general unknown error has occured."},
  };
  for (Case& c : cases) {
    RecordingSink sink;
    FakeHost host(sink);
    host.readHook = c.hook;
    host.params = c.params;
    EXPECT_EQ(RunJob(host, sink, c.kind), JobOutcome::Failed) << c.name;
    ASSERT_EQ(sink.messages.size(), 1u) << c.name;
    EXPECT_EQ(sink.messages[0].rfind(c.message, 0), 0u)
        << c.name << ": " << Narrow(sink.messages[0]);
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "save"), 0) << c.name;
    EXPECT_EQ(host.calls.back(), "tabs on") << c.name;
    EXPECT_TRUE(EndsWithCompletionLine(sink)) << c.name;
    if (c.kind == JobKind::Fingerprint) {
      EXPECT_EQ(host.field, u"") << c.name;
    }
  }
}

TEST(RunJob, CancelShowsCancelledAndNeverEscapes) {
  TempDir dir;
  dir.WriteFile("a/b.txt", "");
  // cancelAfterCalls keeps re-arming the request, so the final reports meet a
  // pending cancel too; it must not leave the runner.
  for (uint64_t after : {1, 3, 1000000}) {
    RecordingSink sink;
    FakeHost host(sink);
    host.params = FingerprintParams{dir.wpath(), u""};
    if (after == 1000000) {
      sink.cancelOnStatus = u"Calculating file ids...";
    } else {
      sink.cancelAfterCalls = after;
    }
    JobOutcome outcome = JobOutcome::Succeeded;
    EXPECT_NO_THROW(outcome = RunJob(host, sink, JobKind::Fingerprint));
    EXPECT_EQ(outcome, JobOutcome::Cancelled);
    EXPECT_EQ(sink.statuses.back(), u"Cancelled");
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "clear"), 2);
    EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "save"), 0);
    EXPECT_EQ(host.field, u"");
    EXPECT_TRUE(EndsWithCompletionLine(sink));
  }
}

TEST(EntryPointFor, FingerprintIsDispatchedAndOutOfRangeIsNot) {
  EXPECT_NE(EntryPointFor(JobKind::Fingerprint), nullptr);
  EXPECT_EQ(EntryPointFor(static_cast<JobKind>(-1)), nullptr);
  EXPECT_EQ(EntryPointFor(static_cast<JobKind>(kJobKindCount)), nullptr);
}
