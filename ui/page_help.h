// The help text behind each job page's "Help" button.
#pragma once

#include <QString>

#include "engine/jobs/job_runner.h"

namespace torquelin {

// What the page's fields mean and what its job does.
QString PageHelpTitle(JobKind kind);
QString PageHelpText(JobKind kind);

}  // namespace torquelin
