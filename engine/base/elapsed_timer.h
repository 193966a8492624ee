// The elapsed-time clock shown when a job ends and stored as "AnalysisTime".
#pragma once

#include <cstdint>
#include <string>

namespace torquelin {

// Whole seconds since the epoch, 64-bit so that times after 2038 work.
class CElapsedTimer {
 public:
  void Clear();
  void Start();  // end = 0, start = now
  void Stop();   // end = now
  // end - start as hours, minutes and seconds, "%.2d:%.2d:%.2d"; hours may
  // grow past two digits.
  std::u16string Format() const;

  int64_t end = 0;
  int64_t start = 0;
};

}  // namespace torquelin
