// Scratch directory and input file helpers of the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/encoding.h"

namespace torquelin {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "torquelin-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::u16string ScratchDir::Engine(const std::filesystem::path& native) {
  return platform::NameFromNative(native.string());
}

void WriteInput(const std::filesystem::path& file, const uint8_t* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write the fuzz input to %s\n", file.c_str());
    std::abort();
  }
}

void MakeOlderTree(const std::filesystem::path& root) {
  std::filesystem::create_directories(root / "sub" / "deeper");
  std::filesystem::create_directories(root / "gone");
  const auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(root / name, std::ios::binary | std::ios::trunc) << bytes;
  };
  write("a.txt", "alpha, as it was\n");
  write("B.txt", std::string(700, 'b') + "middle" + std::string(700, 'b'));
  write("sub/deeper/old-d.txt", "delta");
  write("gone/x.txt", "removed");
}

}  // namespace torquelin
