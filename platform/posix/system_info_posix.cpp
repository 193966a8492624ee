// POSIX host name, user name and local time.
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <vector>

#include "platform/encoding.h"
#include "platform/posix/posix_failure.h"
#include "platform/system_info.h"

namespace torquelin {

namespace platform {

Result<std::u16string> GetHostName() {
  char buffer[256];
  if (::gethostname(buffer, sizeof buffer) != 0) return LastFailure();
  buffer[sizeof buffer - 1] = '\0';
  return NameFromNative(buffer);
}

Result<std::u16string> GetUserName() {
  struct passwd pw;
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  const int error = ::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &result);
  // No entry for the user is no error of a call: ENOENT says what is missing.
  if (error != 0 || result == nullptr) return FailureOf(error != 0 ? error : ENOENT);
  return NameFromNative(result->pw_name);
}

bool RunsAsSuperuser() { return ::geteuid() == 0; }

int64_t CurrentTime() { return static_cast<int64_t>(::time(nullptr)); }

LocalTimeParts ToLocalTime(int64_t t) {
  const time_t value = static_cast<time_t>(t);
  struct tm tm {};
  ::localtime_r(&value, &tm);
  LocalTimeParts parts;
  parts.year = tm.tm_year + 1900;
  parts.month = tm.tm_mon;
  parts.dayOfMonth = tm.tm_mday;
  parts.weekday = tm.tm_wday;
  parts.hour = tm.tm_hour;
  parts.minute = tm.tm_min;
  parts.second = tm.tm_sec;
  return parts;
}

}  // namespace platform

}  // namespace torquelin
