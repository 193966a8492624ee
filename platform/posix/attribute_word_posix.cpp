// The attribute word on POSIX: its high half is st_mode.
#include <sys/stat.h>

#include "platform/attribute_word.h"

namespace torquelin {

namespace platform {
namespace {

mode_t ModeOf(uint32_t word) { return static_cast<mode_t>(word >> 16); }

constexpr uint32_t kSetIdModeBits = S_ISUID | S_ISGID;

}  // namespace

uint32_t AttributeWordFromMode(uint32_t mode) {
  uint32_t word = (mode & 0xFFFF) << 16;
  word |= S_ISDIR(mode) ? kAttrDirectory : kAttrNormal;
  if (S_ISLNK(mode)) word |= kAttrReparsePoint;
  if ((mode & S_IWUSR) == 0) word |= kAttrReadOnly;
  return word;
}

bool IsDirectoryWord(uint32_t word) { return (word & kAttrDirectory) != 0; }

bool IsReadOnlyWord(uint32_t word) { return (word & kAttrReadOnly) != 0; }

bool IsLinkWord(uint32_t word) { return S_ISLNK(ModeOf(word)); }

bool IsRegularFileWord(uint32_t word) { return S_ISREG(ModeOf(word)); }

uint32_t PermissionBits(uint32_t word) { return ModeOf(word) & 07777; }

uint32_t OwnerWritablePermissions(uint32_t word) { return PermissionBits(word) | S_IWUSR; }

bool HasSetIdBits(uint32_t word) { return (ModeOf(word) & kSetIdModeBits) != 0; }

uint32_t WithoutSetIdBits(uint32_t word) { return word & ~(kSetIdModeBits << 16); }

uint32_t PermissionsForWord(uint32_t word, uint32_t currentMode) {
  if ((word >> 16) != 0) return PermissionBits(word);
  uint32_t mode = currentMode & 07777;
  if (word & kAttrReadOnly) return mode & ~static_cast<uint32_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  return mode | S_IWUSR;
}

}  // namespace platform

}  // namespace torquelin
