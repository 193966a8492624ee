// A progress sink that shows nothing and never cancels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/base/progress.h"

namespace torquelin {

// For work that needs a sink only for its scratch buffer: the hashing
// threads, which must not report (the sink belongs to the job thread), and
// the benchmark, seed and fuzzing tools.
class CSilentSink : public CProgressSink {
 public:
  // Owns a scratch buffer of bufferSize bytes.
  explicit CSilentSink(uint32_t bufferSize = kScratchBufferSize)
      : owned_(std::make_unique_for_overwrite<uint8_t[]>(bufferSize)),
        buffer_(owned_.get()),
        size_(bufferSize) {}
  // Lends out a buffer that the caller owns and keeps alive.
  CSilentSink(uint8_t *buffer, uint32_t size) : buffer_(buffer), size_(size) {}

  uint32_t GetBufferSize() override { return size_; }
  uint8_t *GetBuffer() override { return buffer_; }
  void SetStatus(const std::u16string &) override {}
  void SetDetail(const std::u16string &) override {}
  void ShowMessage(const std::u16string &) override {}
  void SetRange(uint32_t) override {}
  void ResetProgress() override {}
  void Step() override {}

 private:
  std::unique_ptr<uint8_t[]> owned_;
  uint8_t *buffer_;
  uint32_t size_;
};

}  // namespace torquelin
