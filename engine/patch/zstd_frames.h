// zstd frames as the compact patch uses them: one context per object, made
// once and reused, so that a thread encoding many contents allocates its
// tables once. Only zstd_frames.cpp includes zstd.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torquelin {

// Makes whole frames from content held in memory. One object per thread.
class FrameEncoder {
 public:
  FrameEncoder();
  ~FrameEncoder();
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  // What Encode asks of zstd beyond the level.
  struct FrameOptions {
    bool longMatches = false;  // long-distance matching, with a prefix
    bool checksum = false;     // zstd's checksum at the frame's end
  };

  // Appends one frame of `content` to `out` and returns its size. The frame
  // names the content size in its header, and carries zstd's checksum only
  // when asked (a content has its SHA-1 id beside it; records do not). With
  // a prefix, the frame is made
  // with those bytes as its reference (they must stay unchanged until the
  // call returns), through a window that covers prefix and content, with
  // long-distance matching when `longMatches`; a decoder then needs the
  // same prefix. Raises CZRErr naming `what` when zstd fails (out of
  // memory, mostly).
  size_t Encode(int level, const uint8_t* content, size_t contentSize, const uint8_t* prefix,
                size_t prefixSize, std::string& out, const std::u16string& what,
                FrameOptions options);

  // The same for content that arrives in pieces, with no prefix and with a
  // checksum: Begin, then Append for every piece, then End, each appending
  // the frame's next bytes to `out`. End returns the frame's whole size.
  void Begin(int level, const std::u16string& what);
  void Append(const uint8_t* piece, size_t size, std::string& out);
  size_t End(std::string& out);

  // The memory the context holds now, for the benchmarks.
  size_t MemoryInUse() const;

 private:
  // Runs one streaming step, the frame's last with End; raises naming what_
  // when zstd fails.
  enum class Step { Continue, End };
  size_t Stream(const uint8_t* piece, size_t size, Step step, std::string& out);

  struct Context;
  Context* context_;
  std::u16string what_;
  size_t streamed_ = 0;
};

// The window a frame with a prefix is made with: the smallest power of two
// holding prefix and content, at least 1 KiB.
int FrameWindowLog(uint64_t prefixSize, uint64_t contentSize);

// Decodes one frame at a time from input fed in pieces, into output the
// caller drains. Refuses a frame whose window exceeds 2^windowLogMax.
class FrameDecoder {
 public:
  explicit FrameDecoder(int windowLogMax);
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Starts a frame; with a prefix, the one it was made with (kept unchanged
  // by the caller until the frame ends). False when zstd refuses.
  bool Begin(const uint8_t* prefix, size_t prefixSize);
  // Decodes from input[*inputUsed..inputSize) into output[*outputUsed..
  // outputSize), advancing both. Returns 1 while the frame goes on, 0 when
  // it has ended exactly at *inputUsed, -1 on damaged input (error() then
  // tells why).
  int Step(const uint8_t* input, size_t inputSize, size_t* inputUsed, uint8_t* output,
           size_t outputSize, size_t* outputUsed);
  // Why the last call failed, as zstd words it.
  const char* error() const { return error_; }
  size_t MemoryInUse() const;

 private:
  struct Context;
  Context* context_;
  const char* error_ = "";
};

// The content size a frame names in its header, from its first bytes
// (kFrameHeaderMax of them, or the whole frame when shorter); -1 when the
// header is damaged or names none.
int64_t FrameContentSize(const uint8_t* frame, size_t available);
inline constexpr size_t kFrameHeaderMax = 18;

// The largest frame zstd makes from contentSize bytes: anything larger is
// damage.
uint64_t FrameBound(uint64_t contentSize);

}  // namespace torquelin
