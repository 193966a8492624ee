// Shared pieces of the fuzz targets: a silent progress sink and a scratch
// directory that lives as long as the fuzzing process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/progress.h"

// Reports nothing and never cancels. The scratch buffer is small so that the
// copy loops run more than one chunk on fuzz-sized inputs.
class SilentSink : public CProgressSink {
 public:
  uint32_t GetBufferSize() override { return static_cast<uint32_t>(buffer_.size()); }
  uint8_t* GetBuffer() override { return buffer_.data(); }
  void SetStatus(const std::u16string&) override {}
  void SetDetail(const std::u16string&) override {}
  void ShowMessage(const std::u16string&) override {}
  void SetRange(uint32_t) override {}
  void ResetProgress() override {}
  void Step() override {}

 private:
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(1024);
};

// A fresh directory under the system's temporary directory, removed with
// everything in it when the process ends normally.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  // Engine text for a native path (the path mapping of the platform layer).
  static std::u16string Engine(const std::filesystem::path& native);

 private:
  std::filesystem::path path_;
};

// Writes size bytes to a file, replacing it. Aborts when that fails: the
// fuzzer cannot go on without its input on disk.
void WriteInput(const std::filesystem::path& file, const uint8_t* data, size_t size);
