// Patch record primitives: tags, numbers, raw bytes, strings, the header
// check and the chunked content copy (patchReader module).
#include "engine/patch_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/errors.h"
#include "engine/number_text.h"

namespace {

[[noreturn]] void Fail(const char16_t* message, int line) {
  throw CZRErr(0, message, location::kPatchReader, line);
}

void PutLittleEndian(uint8_t* bytes, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLittleEndian(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return value;
}

// Stored text is UTF-16LE; a big-endian host swaps each unit in place.
void SwapUnitsOnBigEndian(char16_t* units, size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) {
      units[i] = static_cast<char16_t>((units[i] >> 8) | (units[i] << 8));
    }
  }
}

// Strings are read in steps of this many code units, so a lying length can
// never reserve more than one step beyond what the file really holds.
constexpr size_t kStringStepUnits = 32768;

}  // namespace

void WriteTag(zrFile::Writer& out, RecordType tag) {
  const uint8_t byte = static_cast<uint8_t>(tag);
  if (out.write(&byte, 1) < 1) Fail(u"Unable write a type to a patch.", __LINE__);
}

void WriteQword(zrFile::Writer& out, int64_t value) {
  WriteTag(out, RecordType::Qword);
  uint8_t bytes[8];
  PutLittleEndian(bytes, static_cast<uint64_t>(value), 8);
  if (out.write(bytes, 8) < 8) Fail(u"Unable write DWORD a patch.", __LINE__);
}

void WriteDword(zrFile::Writer& out, uint32_t value) {
  WriteTag(out, RecordType::Dword);
  uint8_t bytes[4];
  PutLittleEndian(bytes, value, 4);
  if (out.write(bytes, 4) < 4) Fail(u"Unable write DWORD to a patch.", __LINE__);
}

void WriteRaw(zrFile::Writer& out, const void* buffer, int64_t n) {
  const int64_t written = out.write(buffer, n);
  if (written != n) {
    throw CZRErr(0,
                 u"Unable write buffer to a patch. exp:" + DecimalText(n) + u" actual:" +
                     DecimalText(written),
                 location::kPatchReader, __LINE__);
  }
}

void WriteString(zrFile::Writer& out, std::u16string_view text) {
  text = text.substr(0, text.find(u'\0'));
  WriteTag(out, RecordType::String);
  WriteDword(out, static_cast<uint32_t>(text.size()));
  if constexpr (std::endian::native == std::endian::big) {
    std::u16string swapped(text);
    SwapUnitsOnBigEndian(swapped.data(), swapped.size());
    WriteRaw(out, swapped.data(), static_cast<int64_t>(swapped.size()) * 2);
  } else {
    WriteRaw(out, text.data(), static_cast<int64_t>(text.size()) * 2);
  }
}

void ExpectTag(zrFile::Reader& in, RecordType tag) {
  uint8_t byte = 0;
  if (in.read(&byte, 1) != 1) Fail(u"Unable to read a type.", __LINE__);
  if (byte != static_cast<uint8_t>(tag)) Fail(u"Type mismatch.", __LINE__);
}

int64_t ReadQword(zrFile::Reader& in) {
  ExpectTag(in, RecordType::Qword);
  uint8_t bytes[8];
  if (in.read(bytes, 8) != 8) Fail(u"Unable to read qword from a patch.", __LINE__);
  return static_cast<int64_t>(GetLittleEndian(bytes, 8));
}

uint32_t ReadDword(zrFile::Reader& in) {
  ExpectTag(in, RecordType::Dword);
  uint8_t bytes[4];
  if (in.read(bytes, 4) != 4) Fail(u"Unable to read dword from a patch.", __LINE__);
  return static_cast<uint32_t>(GetLittleEndian(bytes, 4));
}

void ReadRaw(zrFile::Reader& in, void* buffer, int64_t n) {
  if (in.read(buffer, n) != n) Fail(u"Unable to read a buffer from a patch.", __LINE__);
}

std::u16string ReadString(zrFile::Reader& in) {
  ExpectTag(in, RecordType::String);
  size_t left = ReadDword(in);
  std::u16string text;
  while (left > 0) {
    const size_t step = std::min(left, kStringStepUnits);
    const size_t start = text.size();
    text.resize(start + step);
    ReadRaw(in, text.data() + start, static_cast<int64_t>(step) * 2);
    SwapUnitsOnBigEndian(text.data() + start, step);
    left -= step;
  }
  return text;
}

void ExpectMagic(zrFile::Reader& in, const char* text, int64_t n) {
  std::string bytes(static_cast<size_t>(n), '\0');
  ReadRaw(in, bytes.data(), n);
  if (std::memcmp(bytes.data(), text, static_cast<size_t>(n)) != 0) {
    Fail(u"Unable to open a patch file, missing magic number.", __LINE__);
  }
}

int64_t ReadPatchHeader(zrFile::Reader& in) {
  ExpectMagic(in, kPatchMagic, kPatchMagicSize);
  const int64_t indexOffset = ReadQword(in);
  if (ReadDword(in) != kPatchComplete) {
    Fail(u"This patch file has not been properly written.", __LINE__);
  }
  return indexOffset;
}

int64_t CopyThroughBuffer(zrFile::File& source, int64_t length, uint8_t* buffer,
                          uint32_t bufferSize,
                          const std::function<void(const uint8_t*, int64_t)>& writeChunk) {
  int64_t done = 0;
  while (done < length) {
    const int64_t want = std::min<int64_t>(bufferSize, length - done);
    const int64_t got = source.read(buffer, want);
    if (got <= 0) break;
    writeChunk(buffer, got);
    done += got;
  }
  return done;
}
