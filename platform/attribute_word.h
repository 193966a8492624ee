// The 32-bit attribute word every entry of a tree carries, and the questions
// the engine asks of one: what kind of entry it describes, its permissions,
// its read-only and set-id bits. Only the platform reads the bits.
#pragma once

#include <cstdint>

namespace torquelin {

namespace platform {

// The zip external-attribute convention: the high 16 bits hold the entry's
// mode (type and permissions), bit 0x10 marks a directory, 0x20 anything
// else, 0x01 an entry whose owner may not write it, and 0x400 ("reparse
// point") a symbolic link besides 0x20. A word made elsewhere may have a
// zero high half: then only the low bits say anything.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrNormal = 0x20;
inline constexpr uint32_t kAttrReparsePoint = 0x400;

// The word of an entry of mode `mode` (type and permission bits, as lstat
// gives them).
uint32_t AttributeWordFromMode(uint32_t mode);

// The low bit 0x10: the entry is a directory.
bool IsDirectoryWord(uint32_t word);
// The low bit 0x01: its owner may not write it.
bool IsReadOnlyWord(uint32_t word);
// The high half is the mode of a symbolic link; never for a zero high half.
bool IsLinkWord(uint32_t word);
// The high half is the mode of a regular file; never for a zero high half.
bool IsRegularFileWord(uint32_t word);

// The permission bits (07777) of the high half.
uint32_t PermissionBits(uint32_t word);
// PermissionBits with the owner's write bit added: what a directory its
// owner may not write has while entries inside it change.
uint32_t OwnerWritablePermissions(uint32_t word);

// Whether the high half asks for the set-user-id or set-group-id bit, and
// the word without both.
bool HasSetIdBits(uint32_t word);
uint32_t WithoutSetIdBits(uint32_t word);

// The permission bits (07777) a word asks for, given the entry's current
// mode: the high half's when it is not zero; else the current ones with
// every write bit removed (0x01 set) or the owner's added (0x01 clear).
uint32_t PermissionsForWord(uint32_t word, uint32_t currentMode);

}  // namespace platform

}  // namespace torquelin
