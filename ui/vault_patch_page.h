// The "Create Patch(Vault)" page: a vault and a directory in, one patch out.
#pragma once

#include "ui/job_page.h"

class CDlgCrVaultPatch : public CJobPage {
 public:
  CDlgCrVaultPatch(const CDialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};
