// The failure switch of platform/fault_injection.h: one call counter per point.
#include "platform/fault_injection.h"

#include <atomic>

namespace platform::fault_injection {
namespace {

struct Switch {
  std::atomic<bool> armed{false};
  std::atomic<uint64_t> calls{0};
  uint64_t nth = 0;
  int error = 0;
  bool sticky = false;
};

Switch gSwitches[static_cast<int>(FaultPoint::Count)];

}  // namespace

void Arm(FaultPoint point, uint64_t nth, int error, bool sticky) {
  Switch& s = gSwitches[static_cast<int>(point)];
  s.armed = false;
  s.calls = 0;
  s.nth = nth;
  s.error = error;
  s.sticky = sticky;
  s.armed = true;
}

void DisarmAll() {
  for (Switch& s : gSwitches) s.armed = false;
}

int Take(FaultPoint point) {
  Switch& s = gSwitches[static_cast<int>(point)];
  if (!s.armed.load()) return 0;
  const uint64_t call = ++s.calls;
  return call == s.nth || (s.sticky && call > s.nth) ? s.error : 0;
}

}  // namespace platform::fault_injection
