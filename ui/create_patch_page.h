// The "Create Patch(Directory)" page: two directories in, one patch out.
#pragma once

#include "ui/job_page.h"

namespace torquelin {

class CreatePatchPage : public JobPage {
 public:
  CreatePatchPage(const DialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};

}  // namespace torquelin
