// An EntryStamp from a stat record, for the POSIX sources that take one.
#pragma once

#include <sys/stat.h>

#include "platform/files.h"

namespace torquelin {

namespace platform {

inline int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

inline EntryStamp StampFromStat(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), st.st_size,
          Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

}  // namespace platform

}  // namespace torquelin
