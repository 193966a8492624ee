// The "Apply Patch" page: a patch applied to an older directory.
#pragma once

#include "ui/job_page.h"

namespace torquelin {

class ApplyPatchPage : public JobPage {
 public:
  ApplyPatchPage(const DialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};

}  // namespace torquelin
