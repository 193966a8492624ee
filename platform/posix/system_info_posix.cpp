// POSIX host name, user name and local time.
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <vector>

#include "platform/encoding.h"
#include "platform/system_info.h"

namespace platform {

bool GetHostName(std::u16string& name) {
  char buffer[256];
  if (::gethostname(buffer, sizeof buffer) != 0) return false;
  buffer[sizeof buffer - 1] = '\0';
  name = NameFromNative(buffer);
  return true;
}

bool GetUserName(std::u16string& name) {
  struct passwd pw;
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr) {
    return false;
  }
  name = NameFromNative(result->pw_name);
  return true;
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
