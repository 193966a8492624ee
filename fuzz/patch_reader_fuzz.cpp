// Fuzz target: a patch file read the way applying reads it. The patch info
// and the index are loaded, then every indexed file is extracted into a
// target directory. Besides the sanitizers' own checks, the target aborts
// when anything appears outside that directory.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/base/errors.h"
#include "engine/patch/patch_reader.h"
#include "fuzz/fuzz_support.h"

namespace fs = std::filesystem;

namespace {

// The layout around the target: scratch/patch.dov, scratch/outside/target/,
// and one directory inside the target so nested stored paths can land.
struct Layout {
  ScratchDir scratch;
  fs::path patch = scratch.path() / "patch.dov";
  fs::path outside = scratch.path() / "outside";
  fs::path target = outside / "target";

  void Reset() const {
    fs::remove_all(target);
    fs::create_directories(target / "sub");
  }

  [[noreturn]] static void Escaped(const fs::path& where) {
    std::fprintf(stderr, "extraction wrote outside the target: %s\n", where.c_str());
    std::abort();
  }

  // Everything that exists must be one of the layout's own entries or a
  // plain file inside the target (extraction makes no directories or links).
  void CheckNothingEscaped() const {
    for (const fs::directory_entry& e : fs::directory_iterator(scratch.path())) {
      if (e.path() != patch && e.path() != outside) Escaped(e.path());
    }
    for (const fs::directory_entry& e : fs::directory_iterator(outside)) {
      if (e.path() != target) Escaped(e.path());
    }
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(target)) {
      const fs::file_status status = e.symlink_status();
      const bool ourDir = e.path() == target / "sub" && fs::is_directory(status);
      if (!ourDir && !fs::is_regular_file(status)) Escaped(e.path());
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Layout kLayout;
  kLayout.Reset();
  WriteInput(kLayout.patch, data, size);
  const std::u16string patchPath = ScratchDir::Engine(kLayout.patch);
  const std::u16string target = ScratchDir::Engine(kLayout.target);
  CSilentSink sink(kFuzzScratchSize);

  try {
    LoadPatchInfo(sink, patchPath);
  } catch (const CZRErr&) {
  }

  // Extraction runs even when the patch info is damaged, so its code sees
  // every index the header can lead to. Both settings of the tolerate flag
  // are reached, chosen by a bit the fuzzer controls.
  const ShortContent tolerateShort =
      size > 0 && (data[size - 1] & 1) != 0 ? ShortContent::Tolerate : ShortContent::Raise;
  try {
    zrFile::Reader reader(patchPath);
    const int64_t indexOffset = ReadPatchHeader(reader);
    reader.seek(indexOffset);
    const PatchFileIndex index = ReadFileIndex(reader, sink);
    for (const auto& [path, offset] : index) {
      try {
        ExtractFile(reader, tolerateShort, sink, offset, target);
      } catch (const CZRErr&) {
      }
    }
  } catch (const CZRErr&) {
  }

  kLayout.CheckNothingEscaped();
  return 0;
}
