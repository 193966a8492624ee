// A CJobHost for tests: hands a job the parameters it was given and, when it
// knows the sink, clears that sink's cancel request as the window would.
#pragma once

#include <utility>

#include "engine/jobs/job_runner.h"
#include "tests/support/test_sink.h"

class ParamsHost : public CJobHost {
 public:
  explicit ParamsHost(JobParams params, RecordingSink* sink = nullptr)
      : params_(std::move(params)), sink_(sink) {}
  void ClearCancelRequest() override {
    if (sink_ != nullptr) sink_->cancelRequested = false;
  }
  void SetTabStripEnabled(bool) override {}
  void SetCancelEnabled(bool) override {}
  void SetPageLocked(JobKind, bool) override {}
  JobParams ReadParameters(JobKind) override { return params_; }
  void SetFingerprintField(const std::u16string&) override {}
  void SaveSettings(JobKind) override {}

 private:
  JobParams params_;
  RecordingSink* sink_;
};
