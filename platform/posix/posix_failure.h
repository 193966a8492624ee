// errno turned into a failed Result in one place, read right where the call
// failed, and the descriptor behind a FileHandle, for the POSIX sources.
#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/fault_injection.h"
#include "platform/file_handle.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

// The failure of a system call that has just failed. A call that failed
// without saying why counts as an I/O error, so the code names a failure.
inline Failure LastFailure() {
  const int error = errno;
  return {static_cast<uint32_t>(error != 0 ? error : EIO)};
}

inline Failure FailureOf(int error) { return {static_cast<uint32_t>(error)}; }

// The errno a test has armed at this point (fault_injection.h), or 0.
inline int InjectedError(fault_injection::FaultPoint point) { return fault_injection::Take(point); }

inline int Fd(const FileHandle& handle) { return static_cast<int>(handle.native()); }

}  // namespace platform

}  // namespace torquelin
