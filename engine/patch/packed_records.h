// Packed records: a run of ordinary records compressed as one zstd frame, the
// form a compact patch keeps its patch info, member tables and index in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/patch/patch_stream.h"
#include "engine/patch/zstd_frames.h"

namespace torquelin {

// Records collected in memory as they are, for a record whose size must be
// known before it is written, and for tests.
class MemoryOutput : public RecordOutput {
 public:
  int64_t write(const void* buffer, int64_t n, RecordPiece) override {
    bytes.append(static_cast<const char*>(buffer), static_cast<size_t>(n));
    return n;
  }
  std::string bytes;
};

// Records read from memory; a read past the end is short, as at the end of a
// file.
class MemoryInput : public RecordInput {
 public:
  MemoryInput(const void* bytes, size_t size)
      : bytes_(static_cast<const uint8_t*>(bytes)), size_(size) {}
  explicit MemoryInput(const std::string& bytes) : MemoryInput(bytes.data(), bytes.size()) {}
  int64_t read(void* buffer, int64_t n) override;
  size_t left() const { return size_ - next_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t next_ = 0;
};

// Takes records and compresses them, holding only the compressed bytes
// beyond the first 256 KiB (compressed at level 19 at least when that
// is all). WriteTo then writes the Packed record:
//   tag 18 | Qword decoded length | Qword size S | S bytes of one frame,
//   with zstd's checksum of the records, so that damage is found at the
//   frame's end (PackedInput::Finish) rather than read as other records
// Compression failures raise "Unable to compress a file for the patch: " +
// what. One thread; WriteTo once.
class PackingOutput : public RecordOutput {
 public:
  PackingOutput(FrameEncoder& encoder, int level, const std::u16string& what);
  int64_t write(const void* buffer, int64_t n, RecordPiece piece) override;
  void WriteTo(RecordOutput& out);

 private:
  void Compress();

  FrameEncoder& encoder_;
  int level_;
  std::u16string what_;
  bool started_ = false;  // the frame has been begun
  std::string pending_;   // records not compressed yet
  std::string frame_;
  uint64_t decoded_ = 0;
};

// Reads the records of a Packed record as they decompress; the frame's bytes
// come from `in` a block at a time. The constructor reads the record's tag
// and lengths ("Type mismatch." and the other record errors). Damage found
// later raises "Refusing a damaged compact patch: " + what (+ the library's
// reason), and so does a record claiming more than maxDecoded bytes: memory
// stays small whatever the lengths say. A read past the decoded end is
// short, so the record primitives fail as at the end of a file.
class PackedInput : public RecordInput {
 public:
  PackedInput(RecordInput& in, uint64_t maxDecoded, const std::u16string& what);
  int64_t read(void* buffer, int64_t n) override;
  // Refuses a record whose frame or decoded bytes go on beyond what its
  // reader took, or end before the lengths it stated.
  void Finish();

 private:
  [[noreturn]] void Damaged(const char* reason = nullptr) const;
  // Decodes the next bytes into out_; false once the frame has ended.
  bool Refill();

  RecordInput& in_;
  std::u16string what_;
  uint64_t decodedLeft_;  // of the stated decoded length, not produced yet
  uint64_t frameLeft_;    // of the stated frame size, not read from in_ yet
  FrameDecoder decoder_;
  bool ended_ = false;
  std::string input_;
  size_t inputUsed_ = 0;
  size_t inputEnd_ = 0;
  std::string out_;
  size_t outNext_ = 0;
  size_t outEnd_ = 0;
};

}  // namespace torquelin
