// The "Create Vault File" page: a directory in, its vault out.
#pragma once

#include "ui/job_page.h"

class CDlgCrValut : public CJobPage {
 public:
  CDlgCrValut(const CDialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};
