// Runs a job through the runner as the front ends do, with the sink's own
// cancel request as the one the runner clears.
#pragma once

#include <utility>

#include "engine/jobs/job_runner.h"
#include "tests/support/test_sink.h"

namespace torquelin {

inline JobRun RunJobForTest(RecordingSink& sink, JobKind kind, JobParams params) {
  sink.cancelRequested = false;
  return RunJob(sink, sink.cancelRequested, kind, std::move(params));
}

}  // namespace torquelin
