// errno values behind the platform's error questions, and strerror.
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/system_error.h"

namespace torquelin {

namespace platform {

bool IsFileTooLarge(uint32_t code) { return code == EFBIG; }

bool IsLinkInTheWay(uint32_t code) { return code == ELOOP; }

bool IsMissingEntry(uint32_t code) { return code == ENOENT; }

bool IsLockHeld(uint32_t code) { return code == EWOULDBLOCK; }

bool IsEntryInTheWay(uint32_t code) {
  return code == EEXIST || code == EISDIR || code == ENOTEMPTY;
}

void ReportOversizedWritesAsErrors() { std::signal(SIGXFSZ, SIG_IGN); }

std::string ErrorCodeText(uint32_t code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be buffer.
  return strerror_r(static_cast<int>(code), buffer, sizeof buffer);
}

}  // namespace platform

}  // namespace torquelin
