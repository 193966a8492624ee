// The "Create Patch(Directory)" page: two directories in, one patch out.
#pragma once

#include "ui/job_page.h"

class CreatePatchPage : public JobPage {
 public:
  CreatePatchPage(const CDialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};
