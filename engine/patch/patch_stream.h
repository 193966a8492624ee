// The patch file's record primitives: one write and one read per record form,
// the header check, and the chunked copy that moves file contents.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/io/large_file.h"
#include "engine/patch/patch_format.h"

namespace torquelin {

// Every failure below is a CZRErr of type 0 with the patchReader location,
// carrying the code of the read or write that failed (0 when the file merely
// ended or the bytes were wrong); any write may instead raise the type-1
// "larger then 4GB" error of the large-file layer. Nothing is retried; no
// partial value is returned.
// Used by one operation at a time on the job's thread.

// ---- Where records go to and come from -------------------------------------
// The patch info and the index are thousands of tiny records; one system call
// per tag or number would cost more than the data. So the primitives work on
// these small interfaces, with a direct and a buffered form of each.

// What a primitive writes, so that a short write, even one found only when
// a buffered block goes out, fails with that piece's own message.
enum class RecordPiece {
  Tag,    // "Unable write a type to a patch."
  Qword,  // "Unable write DWORD a patch."
  Dword,  // "Unable write DWORD to a patch."
  Raw,    // "Unable write buffer to a patch. exp:" n " actual:" written
};

class RecordOutput {
 public:
  virtual ~RecordOutput() = default;
  // The count written (short or -1 on failure), as zrFile::File::write.
  virtual int64_t write(const void* buffer, int64_t n, RecordPiece piece) = 0;
  // The path a failed write names after its message (" file:" + path), the
  // Writer's name(); empty: none.
  virtual std::u16string_view name() const { return {}; }
  // Why the last write came out short, as zrFile::File::error.
  virtual uint32_t error() const { return 0; }
};

class RecordInput {
 public:
  virtual ~RecordInput() = default;
  // The count read: short only at the end of the file, -1 on an error.
  virtual int64_t read(void* buffer, int64_t n) = 0;
  // Why the last read came out short, as zrFile::File::error.
  virtual uint32_t error() const { return 0; }
};

// Every write goes straight to the file.
class DirectOutput : public RecordOutput {
 public:
  explicit DirectOutput(zrFile::Writer& out) : out_(out) {}
  int64_t write(const void* buffer, int64_t n, RecordPiece) override {
    return out_.write(buffer, n);
  }
  std::u16string_view name() const override { return out_.name(); }
  uint32_t error() const override { return out_.error(); }

 private:
  zrFile::Writer& out_;
};

// Collects records and writes them in blocks. Call Flush before the Writer
// is used directly (positions, contents, sync); what is not flushed is lost.
// A block that cannot be written whole fails with the message of the first
// piece that did not get out, as if it had been written directly.
class BufferedOutput : public RecordOutput {
 public:
  explicit BufferedOutput(zrFile::Writer& out);
  // Always accepts all n bytes; a block that cannot be written raises.
  int64_t write(const void* buffer, int64_t n, RecordPiece piece) override;
  std::u16string_view name() const override { return out_.name(); }
  void Flush();

 private:
  zrFile::Writer& out_;
  std::string pending_;
  // Where each piece of pending_ ends, and what it is.
  std::vector<std::pair<size_t, RecordPiece>> pieces_;
};

// Every read comes straight from the file.
class DirectInput : public RecordInput {
 public:
  explicit DirectInput(zrFile::Reader& in) : in_(in) {}
  int64_t read(void* buffer, int64_t n) override { return in_.read(buffer, n); }
  uint32_t error() const override { return in_.error(); }

 private:
  zrFile::Reader& in_;
};

// Reads ahead in blocks from the Reader's position. When it is destroyed the
// Reader is moved back to just after the bytes actually consumed, so callers
// see the position an unbuffered read would have left.
class BufferedInput : public RecordInput {
 public:
  explicit BufferedInput(zrFile::Reader& in);
  ~BufferedInput() override;
  int64_t read(void* buffer, int64_t n) override;
  uint32_t error() const override { return error_; }

 private:
  zrFile::Reader& in_;
  std::string block_;
  size_t next_ = 0;   // first unconsumed byte of block_
  size_t end_ = 0;    // bytes of block_ that hold file data
  int64_t consumed_;  // file position just after the last byte handed out
  uint32_t error_ = 0;
};

// ---- Write side: each writes its tag, then its payload ---------------------

// "Unable write a type to a patch." when the byte cannot be written.
void WriteTag(RecordOutput& out, RecordType tag);
// "Unable write DWORD a patch." when the 8 bytes cannot be written.
void WriteQword(RecordOutput& out, int64_t value);
// "Unable write DWORD to a patch." when the 4 bytes cannot be written.
void WriteDword(RecordOutput& out, uint32_t value);
// No tag. "Unable write buffer to a patch. exp:" n " actual:" written.
void WriteRaw(RecordOutput& out, const void* buffer, int64_t n);
void WriteRaw(zrFile::Writer& out, const void* buffer, int64_t n);
// Stores the text up to its first NUL, so a stored string never holds one.
void WriteString(RecordOutput& out, std::u16string_view text);

// ---- Read side: each first checks its tag ----------------------------------

// "Unable to read a type." when no byte is left, "Type mismatch." when the
// byte is another tag.
void ExpectTag(RecordInput& in, RecordType tag);
// "Unable to read qword from a patch." when the 8 bytes are missing.
int64_t ReadQword(RecordInput& in);
// "Unable to read dword from a patch." when the 4 bytes are missing.
uint32_t ReadDword(RecordInput& in);
// No tag. "Unable to read a buffer from a patch." unless all n bytes arrive.
void ReadRaw(RecordInput& in, void* buffer, int64_t n);
// The stored length never sizes a buffer by itself: the text grows in bounded
// steps as its bytes arrive, so a length larger than the rest of the file
// fails as a short read ("Unable to read a buffer from a patch.") having held
// no more memory than the file could fill. A stored NUL ends the text: what
// follows it is read past and dropped.
std::u16string ReadString(RecordInput& in);
// Reads n raw bytes and compares them with text; a short read fails as
// ReadRaw, different bytes with "Unable to open a patch file, missing magic
// number."
void ExpectMagic(RecordInput& in, const char* text, int64_t n);

// Reads the 34-byte header from offset 0: magic, index offset, completion
// flag. A flag other than 1 fails with "This patch file has not been properly
// written.". Returns the index offset; the input then stands at offset 34.
int64_t ReadPatchHeader(RecordInput& in);
int64_t ReadPatchHeader(zrFile::Reader& in);

// ---- Contents --------------------------------------------------------------

// Moves up to `length` bytes from `source` into `writeChunk` through the
// caller's buffer: one read and one writeChunk call per chunk of at most
// bufferSize bytes, no other copy. Stops early when a read delivers nothing
// or fails. writeChunk judges (and raises on) its own write. Returns the
// number of bytes moved; the caller decides whether a shortfall is an error.
int64_t CopyThroughBuffer(zrFile::File& source, int64_t length, uint8_t* buffer,
                          uint32_t bufferSize,
                          const std::function<void(const uint8_t*, int64_t)>& writeChunk);

}  // namespace torquelin
