// The "Create Patch(Directory)" page: two directories in, one patch out.
#pragma once

#include "ui/job_page.h"

class CDlgCrPatch : public CJobPage {
 public:
  CDlgCrPatch(const CDialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};
