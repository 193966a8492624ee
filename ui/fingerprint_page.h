// The "Calculate Fingerprint" page: a directory in, its fingerprint shown.
#pragma once

#include "ui/job_page.h"

namespace torquelin {

class FingerprintPage : public JobPage {
 public:
  FingerprintPage(const DialogUnits& units, QWidget* parent);
  JobParams ReadParameters() const override;
  // The read-only result box.
  void SetFingerprint(const std::u16string& text);
  std::u16string Fingerprint() const;
};

}  // namespace torquelin
