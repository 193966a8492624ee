// The remembered history of one page field: its stored byte layout and the
// most-recently-used rules. Plain standard C++ so that a fuzzer can link it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torquelin {

// A history lists values most recent first.
using HistoryList = std::vector<std::u16string>;

// At most this many values are kept per field.
inline constexpr size_t kMaxHistoryEntries = 10;
// A stored value longer than this reads back as absent.
inline constexpr size_t kMaxHistoryBytes = 4096;

// Stored layout, all integers little-endian (the archive form of a string
// list that earlier versions wrote, so existing settings stay readable):
//
//   count       u16                  (FF FF + u32 when count >= 0xFFFF)
//   per entry:
//     tag       FF FE FF             (0xFF, then u16 0xFFFE: "UTF-16 follows")
//     length    u8 when < 0xFF,      in UTF-16 code units
//               else FF + u16 when < 0xFFFE,
//               else FF FF FF + u32
//     text      2 * length bytes of UTF-16LE, no terminator
inline constexpr uint8_t kUnicodeTag[3] = {0xFF, 0xFE, 0xFF};

// The stored bytes of a list. Never fails.
std::vector<uint8_t> EncodeHistory(const HistoryList& list);

// The list stored in data[0..size). Returns nothing for damaged data (a
// truncated entry, a missing tag, a count larger than the entries present)
// and for data longer than kMaxHistoryBytes; never reads outside the data.
// Bytes after the last entry are ignored. At most kMaxHistoryEntries values
// are returned, the oldest dropped.
std::optional<HistoryList> DecodeHistory(const uint8_t* data, size_t size);

// Records that value was used in a successful job: an equal entry (exact,
// case-sensitive) is removed, value goes on top, and the list is cut to
// kMaxHistoryEntries. An empty value is recorded like any other.
void RecordHistoryUse(HistoryList& list, const std::u16string& value);

}  // namespace torquelin
