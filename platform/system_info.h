// Host and user names and the clock, as the engine's info entries need them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/result.h"

namespace torquelin {

namespace platform {

// Stands in for GetComputerNameW.
Result<std::u16string> GetHostName();
// Stands in for GetUserNameW: the name of the user running the program.
Result<std::u16string> GetUserName();

// True when the program runs with the superuser's rights (effective user
// 0): it may then give entries to other users, and must take care which.
bool RunsAsSuperuser();

// Seconds since the epoch, 64-bit.
int64_t CurrentTime();

struct LocalTimeParts {
  int year = 1970;     // e.g. 2026
  int month = 0;       // 0-11
  int dayOfMonth = 1;  // 1-31
  int weekday = 4;     // 0 = Sunday
  int hour = 0, minute = 0, second = 0;
};
// The local (time-zone adjusted) calendar time of t.
LocalTimeParts ToLocalTime(int64_t t);

}  // namespace platform

}  // namespace torquelin
