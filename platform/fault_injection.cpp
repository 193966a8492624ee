// The failure switch of platform/fault_injection.h: one call counter per point.
#include "platform/fault_injection.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace torquelin {

namespace platform::fault_injection {
namespace {

struct Switch {
  std::atomic<bool> armed{false};
  std::atomic<uint64_t> calls{0};
  uint64_t nth = 0;
  int error = 0;
  bool sticky = false;
  std::function<void()> action;  // guarded by gActionMutex
};

Switch gSwitches[static_cast<int>(FaultPoint::Count)];
std::mutex gActionMutex;

}  // namespace

void Arm(FaultPoint point, uint64_t nth, int error, Failing failing) {
  Switch& s = gSwitches[static_cast<int>(point)];
  s.armed = false;
  s.calls = 0;
  s.nth = nth;
  s.error = error;
  s.sticky = failing == Failing::FromThenOn;
  {
    std::lock_guard<std::mutex> lock(gActionMutex);
    s.action = nullptr;
  }
  s.armed = true;
}

void ArmAction(FaultPoint point, uint64_t nth, std::function<void()> action) {
  Arm(point, nth, 0);
  std::lock_guard<std::mutex> lock(gActionMutex);
  gSwitches[static_cast<int>(point)].action = std::move(action);
}

void DisarmAll() {
  for (Switch& s : gSwitches) s.armed = false;
  std::lock_guard<std::mutex> lock(gActionMutex);
  for (Switch& s : gSwitches) s.action = nullptr;
}

int Take(FaultPoint point) {
  Switch& s = gSwitches[static_cast<int>(point)];
  if (!s.armed.load()) return 0;
  const uint64_t call = ++s.calls;
  if (call == s.nth) {
    std::function<void()> action;
    {
      std::lock_guard<std::mutex> lock(gActionMutex);
      action = std::move(s.action);
      s.action = nullptr;
    }
    // Outside the lock: the action may itself reach a point of the switch.
    if (action) action();
  }
  return call == s.nth || (s.sticky && call > s.nth) ? s.error : 0;
}

}  // namespace platform::fault_injection

}  // namespace torquelin
