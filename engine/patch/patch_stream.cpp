// Patch record primitives: tags, numbers, raw bytes, strings, the header
// check and the chunked content copy (errors located .\patchReader).
#include "engine/patch/patch_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"

namespace torquelin {

namespace {

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

// Block size of the buffered record input and output.
constexpr size_t kRecordBlock = 65536;

[[noreturn]] void RaiseShortWrite(RecordPiece piece, int64_t expected, int64_t written,
                                  std::u16string_view name, uint32_t code) {
  const std::u16string file = site::FileNameDetail(name);
  switch (piece) {
    case RecordPiece::Tag:
      Raise(site::kWriteType, file, code);
    case RecordPiece::Qword:
      Raise(site::kWriteQword, file, code);
    case RecordPiece::Dword:
      Raise(site::kWriteDword, file, code);
    case RecordPiece::Raw:
      break;
  }
  Raise(site::kWriteBuffer, DecimalText(expected) + u" actual:" + DecimalText(written) + file,
        code);
}

void Put(RecordOutput& out, const void* buffer, int64_t n, RecordPiece piece) {
  const int64_t written = out.write(buffer, n, piece);
  if (written != n) RaiseShortWrite(piece, n, written, out.name(), out.error());
}

}  // namespace

BufferedOutput::BufferedOutput(zrFile::Writer& out) : out_(out) { pending_.reserve(kRecordBlock); }

int64_t BufferedOutput::write(const void* buffer, int64_t n, RecordPiece piece) {
  const size_t size = static_cast<size_t>(n);
  if (pending_.size() + size > kRecordBlock) Flush();
  if (size >= kRecordBlock) {
    DirectOutput direct(out_);
    Put(direct, buffer, n, piece);
  } else {
    pending_.append(static_cast<const char*>(buffer), size);
    pieces_.emplace_back(pending_.size(), piece);
  }
  return n;
}

void BufferedOutput::Flush() {
  if (pending_.empty()) return;
  const int64_t written = out_.write(pending_.data(), static_cast<int64_t>(pending_.size()));
  if (written != static_cast<int64_t>(pending_.size())) {
    // The failure belongs to the first piece that did not get out whole.
    size_t start = 0;
    for (const auto& [end, piece] : pieces_) {
      if (written < 0 || end > static_cast<size_t>(written)) {
        RaiseShortWrite(piece, static_cast<int64_t>(end - start),
                        written < 0 ? -1 : written - static_cast<int64_t>(start), out_.name(),
                        out_.error());
      }
      start = end;
    }
  }
  pending_.clear();
  pieces_.clear();
}

BufferedInput::BufferedInput(zrFile::Reader& in)
    : in_(in), block_(kRecordBlock, '\0'), consumed_(in.tell()) {}

BufferedInput::~BufferedInput() {
  if (next_ != end_) in_.seek(consumed_);
}

int64_t BufferedInput::read(void* buffer, int64_t n) {
  char* out = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < n) {
    if (next_ == end_) {
      // The block is used up, so the Reader stands exactly at consumed_.
      const int64_t want = n - done;
      const bool direct = want >= static_cast<int64_t>(kRecordBlock);
      const int64_t got =
          direct ? in_.read(out + done, want) : in_.read(block_.data(), kRecordBlock);
      error_ = in_.error();
      if (got <= 0) return (got < 0 && done == 0) ? -1 : done;
      next_ = end_ = 0;
      if (direct) {
        done += got;
        consumed_ += got;
        continue;
      }
      end_ = static_cast<size_t>(got);
    }
    const size_t take = std::min(end_ - next_, static_cast<size_t>(n - done));
    std::memcpy(out + done, block_.data() + next_, take);
    next_ += take;
    done += static_cast<int64_t>(take);
    consumed_ += static_cast<int64_t>(take);
  }
  return done;
}

void WriteTag(RecordOutput& out, RecordType tag) {
  const uint8_t byte = static_cast<uint8_t>(tag);
  Put(out, &byte, 1, RecordPiece::Tag);
}

void WriteQword(RecordOutput& out, int64_t value) {
  WriteTag(out, RecordType::Qword);
  uint8_t bytes[8];
  PutLittleEndian(bytes, static_cast<uint64_t>(value), 8);
  Put(out, bytes, 8, RecordPiece::Qword);
}

void WriteDword(RecordOutput& out, uint32_t value) {
  WriteTag(out, RecordType::Dword);
  uint8_t bytes[4];
  PutLittleEndian(bytes, value, 4);
  Put(out, bytes, 4, RecordPiece::Dword);
}

void WriteRaw(zrFile::Writer& out, const void* buffer, int64_t n) {
  DirectOutput direct(out);
  WriteRaw(direct, buffer, n);
}

void WriteRaw(RecordOutput& out, const void* buffer, int64_t n) {
  Put(out, buffer, n, RecordPiece::Raw);
}

void WriteString(RecordOutput& out, std::u16string_view text) {
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

void ExpectTag(RecordInput& in, RecordType tag) {
  uint8_t byte = 0;
  if (in.read(&byte, 1) != 1) Raise(site::kReadType, {}, in.error());
  if (byte != static_cast<uint8_t>(tag)) Raise(site::kTypeMismatch);
}

int64_t ReadQword(RecordInput& in) {
  ExpectTag(in, RecordType::Qword);
  uint8_t bytes[8];
  if (in.read(bytes, 8) != 8) Raise(site::kReadQword, {}, in.error());
  return static_cast<int64_t>(GetLittleEndian(bytes, 8));
}

uint32_t ReadDword(RecordInput& in) {
  ExpectTag(in, RecordType::Dword);
  uint8_t bytes[4];
  if (in.read(bytes, 4) != 4) Raise(site::kReadDword, {}, in.error());
  return static_cast<uint32_t>(GetLittleEndian(bytes, 4));
}

void ReadRaw(RecordInput& in, void* buffer, int64_t n) {
  if (in.read(buffer, n) != n) Raise(site::kReadBuffer, {}, in.error());
}

std::u16string ReadString(RecordInput& in) {
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
  const size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  return text;
}

void ExpectMagic(RecordInput& in, const char* text, int64_t n) {
  std::string bytes(static_cast<size_t>(n), '\0');
  ReadRaw(in, bytes.data(), n);
  if (std::memcmp(bytes.data(), text, static_cast<size_t>(n)) != 0) {
    Raise(site::kMissingMagic);
  }
}

int64_t ReadPatchHeader(RecordInput& in) {
  ExpectMagic(in, kPatchMagic, kPatchMagicSize);
  const int64_t indexOffset = ReadQword(in);
  if (ReadDword(in) != kPatchComplete) {
    Raise(site::kUnfinishedPatch);
  }
  return indexOffset;
}

int64_t ReadPatchHeader(zrFile::Reader& in) {
  DirectInput direct(in);
  return ReadPatchHeader(direct);
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

}  // namespace torquelin
