// The "Create Patch(Vault)" page: a vault and a directory in, one patch out.
#pragma once

#include "ui/job_page.h"

namespace torquelin {

class VaultPatchPage : public JobPage {
 public:
  VaultPatchPage(const DialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};

}  // namespace torquelin
