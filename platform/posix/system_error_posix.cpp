// errno and strerror behind the platform's error helpers.
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/system_error.h"

namespace platform {

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

bool LastErrorIsFileTooLarge() { return errno == EFBIG; }

bool LastErrorIsLinkInTheWay() { return errno == ELOOP; }

bool LastErrorIsMissingEntry() { return errno == ENOENT; }

bool LastErrorIsLockHeld() { return errno == EWOULDBLOCK; }

bool LastErrorIsEntryInTheWay() { return errno == EEXIST || errno == EISDIR || errno == ENOTEMPTY; }

void ReportOversizedWritesAsErrors() { std::signal(SIGXFSZ, SIG_IGN); }

std::string ErrorCodeText(uint32_t code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be buffer.
  return strerror_r(static_cast<int>(code), buffer, sizeof buffer);
}

}  // namespace platform
