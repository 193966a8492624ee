// Fuzz target: a vault file as creating a patch from a vault reads it, then
// the fingerprint of the snapshot it yields.
#include <filesystem>

#include "engine/base/errors.h"
#include "engine/tree/fingerprint.h"
#include "engine/xml/vault_file.h"
#include "fuzz/fuzz_support.h"

using namespace torquelin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ScratchDir kScratch;
  static const std::filesystem::path kVault = kScratch.path() / "vault.zov";
  WriteInput(kVault, data, size);
  CSilentSink sink(kFuzzScratchSize);
  try {
    CDirSnapshot snapshot = ReadVault(sink, ScratchDir::Engine(kVault));
    ComputeFingerprint(sink, snapshot);
  } catch (const CZRErr&) {
  }
  return 0;
}
