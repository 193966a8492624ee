// The patch file's record tags and header layout: the one place that fixes
// the bytes every writer and reader of a .dov file must agree on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torquelin {

// A patch is a stream of typed records. Every value is preceded by its
// one-byte tag, and a reader names the tag it expects before every read, so a
// damaged or foreign file is caught at the first value that does not fit.
// Little-endian throughout; text is UTF-16LE without terminator.
//
//   String       10 | Dword N | 2N bytes of UTF-16LE (N code units, no NUL)
//   Dword        11 | 4 bytes, unsigned
//   StringList   12 | Dword K | K String records
//   FileContent  13 | String path | Qword L | L raw bytes
//   Qword        14 | 8 bytes, signed (offsets and lengths)
//   FileIndex    15 | Dword K | K x (String path, Qword offset of the 13 tag)
//   AttributeMap 16 | Dword K | K x (String path, Dword attribute word)
//   InfoMap      17 | Dword K | K x (String key, String value)
//
// Counts and string lengths are whole Dword records, tag included: the text
// "ab" is 10 11 02 00 00 00 61 00 62 00. Maps are stored in ascending key
// order (UTF-16 code units) with unique keys.
// GCC's -Wshadow takes the enumerator AttributeMap for a second declaration
// of the map type of that name; a scoped enumerator can never stand for it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class RecordType : uint8_t {
  String = 0x10,
  Dword = 0x11,
  StringList = 0x12,
  FileContent = 0x13,
  Qword = 0x14,
  FileIndex = 0x15,
  AttributeMap = 0x16,
  InfoMap = 0x17,
};
#pragma GCC diagnostic pop

// Header, 34 bytes at offset 0:
//
//   +0   20  magic "zeRizeDuvuz 01.01.02", 8-bit, no tag, no terminator
//   +20   1  tag 14
//   +21   8  offset of the FileIndex record (0 while the file is written)
//   +29   1  tag 11
//   +30   4  completion flag: 1 once the writer has finished, else 0
//   +34      body: patch info, file contents, file index
//
// The writer fills offset and flag last, so an interrupted file keeps flag 0
// and every reader refuses it.
inline constexpr char kPatchMagic[] = "zeRizeDuvuz 01.01.02";
inline constexpr size_t kPatchMagicSize = sizeof(kPatchMagic) - 1;
inline constexpr int64_t kPatchIndexOffsetPosition = 20;
inline constexpr int64_t kPatchHeaderSize = 34;
inline constexpr uint32_t kPatchComplete = 1;

static_assert(kPatchMagicSize == 20);
static_assert(kPatchIndexOffsetPosition + 9 + 5 == kPatchHeaderSize);

}  // namespace torquelin
