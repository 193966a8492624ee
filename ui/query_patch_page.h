// The "Query Patch" page: a patch described in a report.
#pragma once

#include "ui/job_page.h"

class CDlgPatchInfo : public CJobPage {
 public:
  CDlgPatchInfo(const CDialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
};
