// Fuzz target: a patch file read the way applying and querying read it. The
// patch info and the index are loaded; a classic patch's indexed files are
// extracted into a target directory, a compact patch's contents are skimmed
// as query does and decoded block by block against an older tree. Besides
// the sanitizers' own checks, the target aborts when anything appears
// outside that directory.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/base/error_sites.h"
#include "engine/base/errors.h"
#include "engine/patch/compact_reader.h"
#include "engine/patch/content_decoder.h"
#include "engine/patch/patch_reader.h"
#include "fuzz/fuzz_support.h"
#include "platform/safe_path.h"

using namespace torquelin;

namespace fs = std::filesystem;

namespace {

// The layout around the target: scratch/patch.dov, scratch/outside/target/,
// and one directory inside the target so nested stored paths can land.
struct Layout {
  ScratchDir scratch;
  fs::path patch = scratch.path() / "patch.dov";
  fs::path outside = scratch.path() / "outside";
  fs::path target = outside / "target";
  fs::path older = outside / "older";

  Layout() { MakeOlderTree(older); }

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
      if (e.path() != target && e.path() != older) Escaped(e.path());
    }
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(target)) {
      const fs::file_status status = e.symlink_status();
      const bool ourDir = e.path() == target / "sub" && fs::is_directory(status);
      if (!ourDir && !fs::is_regular_file(status)) Escaped(e.path());
    }
  }
};

// The older tree, opened as apply would: a path that is not a clean
// relative one is refused before anything is opened.
class OlderTree : public ContentOpener {
 public:
  explicit OlderTree(const std::u16string& root) : files_(root) {}
  std::unique_ptr<ContentReader> Open(const std::u16string& relativePath) override {
    if (!platform::IsSafeRelativePath(relativePath)) Raise(site::kExtractUnsafePath, relativePath);
    return files_.Open(relativePath);
  }
  std::u16string Describe(const std::u16string& relativePath) const override {
    return files_.Describe(relativePath);
  }

 private:
  TreeContentOpener files_;
};

// Takes decoded contents and keeps nothing but their count.
class CountingOutput : public ContentOutput {
 public:
  void Begin(const ContentMember&) override {}
  void Write(const uint8_t*, size_t size) override { bytes += size; }
  void End(const ContentMember&) override {}
  uint64_t bytes = 0;
};

void DecodeCompactContents(const std::u16string& patchPath, const std::u16string& olderRoot,
                           bool tolerate, CProgressSink& sink) {
  zrFile::Reader reader(patchPath);
  {
    DirectInput in(reader);
    if (ReadPatchMagic(in) != PatchFormat::Compact) return;
  }
  const CompactPatchInfo info = ReadCompactPatchInfo(reader, sink);
  PositionedInput in(reader, info.contentStart);
  OlderTree older(olderRoot);
  CountingOutput out;
  ContentBlockDecoder decoder;
  while (in.position() < info.indexOffset) {
    decoder.Decode(in, info.head.olderIds, older, out, tolerate);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Layout kLayout;
  kLayout.Reset();
  WriteInput(kLayout.patch, data, size);
  const std::u16string patchPath = ScratchDir::Engine(kLayout.patch);
  const std::u16string target = ScratchDir::Engine(kLayout.target);
  CSilentSink sink(kFuzzScratchSize);

  try {
    StoredContents contents;
    LoadAnyPatchInfo(sink, patchPath, &contents);
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

  try {
    DecodeCompactContents(patchPath, ScratchDir::Engine(kLayout.older),
                          tolerateShort == ShortContent::Tolerate, sink);
  } catch (const CZRErr&) {
  }

  kLayout.CheckNothingEscaped();
  return 0;
}
