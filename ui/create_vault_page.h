// The "Create Vault File" page: a directory in, its vault out.
#pragma once

#include "ui/job_page.h"

namespace torquelin {

class CreateVaultPage : public JobPage {
 public:
  CreateVaultPage(const DialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};

}  // namespace torquelin
