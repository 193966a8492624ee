// The "Query Patch" page: a patch described in a report.
#pragma once

#include "ui/job_page.h"

namespace torquelin {

class QueryPatchPage : public JobPage {
 public:
  QueryPatchPage(const DialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};

}  // namespace torquelin
