// CElapsedTimer.
#include "engine/base/elapsed_timer.h"

#include "engine/base/number_text.h"
#include "platform/system_info.h"

namespace torquelin {

void CElapsedTimer::Clear() { end = start = 0; }

void CElapsedTimer::Start() {
  end = 0;
  start = platform::CurrentTime();
}

void CElapsedTimer::Stop() { end = platform::CurrentTime(); }

namespace {
// "%.2d": at least two digits, a '-' in front of negative values.
std::u16string TwoDigits(int64_t value) {
  const bool negative = value < 0;
  std::u16string digits = DecimalText(negative ? -value : value);
  if (digits.size() < 2) digits.insert(0, 1, u'0');
  return negative ? u"-" + digits : digits;
}
}  // namespace

std::u16string CElapsedTimer::Format() const {
  const int64_t seconds = end - start;
  const int64_t hours = seconds / 3600;
  const int64_t minutes = (seconds - hours * 3600) / 60;
  const int64_t rest = seconds - hours * 3600 - minutes * 60;
  return TwoDigits(hours) + u":" + TwoDigits(minutes) + u":" + TwoDigits(rest);
}

}  // namespace torquelin
