// Shared pieces of the fuzz targets: the sinks' buffer size, a scratch
// directory that lives as long as the fuzzing process, and the older tree
// compact patches are made from and read against.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/base/silent_sink.h"

namespace torquelin {

// A small scratch buffer for the targets' sinks, so that the copy loops run
// more than one chunk on fuzz-sized inputs.
inline constexpr uint32_t kFuzzScratchSize = 1024;

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

// Writes the older tree of the compact seeds below root: older versions of
// some of the seed tree's files, a file the newer tree holds under another
// name, and one it removes. The patch reader target decodes against it.
void MakeOlderTree(const std::filesystem::path& root);

}  // namespace torquelin
