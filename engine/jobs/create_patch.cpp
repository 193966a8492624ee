// Jobs 0 and 1: a patch from two directories, or from a vault and a directory.
#include "engine/jobs/create_patch.h"

#include <optional>

#include "engine/base/elapsed_timer.h"
#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "engine/io/file_system.h"
#include "engine/jobs/compare_trees.h"
#include "engine/jobs/output_rules.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"
#include "engine/xml/vault_file.h"

namespace torquelin {

namespace {

void RequireNewerDirectory(const std::u16string& newerDir) {
  RequireDirectory(site::kNewerDirectoryMissing, newerDir);
}

void RequirePatchPath(const std::u16string& patchPath) {
  if (patchPath.empty()) {
    Raise(site::kNoPatchToCreate);
  }
}

// The codec's options for a compact patch, or null for a classic one. A
// level zstd does not have is refused rather than quietly changed.
std::optional<CompactOptions> CompactOptionsFor(const CreatePatchOptions& options) {
  if (!options.compact) return std::nullopt;
  if (options.level < kMinCompactLevel || options.level > kMaxCompactLevel) {
    Raise(site::kCompactLevelRange, DecimalText(options.level));
  }
  CompactOptions compact;
  compact.level = options.level;
  return compact;
}

CElapsedTimer StartedTimer() {
  CElapsedTimer timer;
  timer.Clear();
  timer.Start();
  return timer;
}

}  // namespace

void CreatePatchFromDirectories(CProgressSink& progress, const std::u16string& olderDir,
                                const std::u16string& newerDir, const std::u16string& patchPath,
                                const std::u16string& reportPath, const std::u16string& filter,
                                const CreatePatchOptions& options) {
  const std::u16string older = NormalizePath(olderDir);
  const std::u16string newer = NormalizePath(newerDir);
  CElapsedTimer timer = StartedTimer();
  RequireNewerDirectory(newer);
  RequireDirectory(site::kOlderDirectoryMissing, older);
  RequirePatchPath(patchPath);
  const std::optional<CompactOptions> compact = CompactOptionsFor(options);
  CheckOutputs({older, newer},
               {{patchPath, FileArgument::Use::Patch}, {reportPath, FileArgument::Use::Report}});

  const CIgnoreFilter compiled(filter);
  // Both trees are held at once: their ids stay raw bytes beside the lists.
  CompactTree newerTree;
  newerTree.snapshot = BuildSnapshot(progress, newer, compiled, filter, FileIds::Compute,
                                     &newerTree.ids, nullptr, &newerTree.order);
  CompactTree olderTree;
  olderTree.snapshot = BuildSnapshot(progress, older, compiled, filter, FileIds::Compute,
                                     &olderTree.ids, nullptr, &olderTree.order);
  CompareTrees(progress, newerTree, olderTree, timer, patchPath, reportPath,
               compact ? &*compact : nullptr);
  progress.SetStatus(u"Patch created ok.");
}

void CreatePatchFromVault(CProgressSink& progress, const std::u16string& newerDir,
                          const std::u16string& patchPath, const std::u16string& vaultPath,
                          const std::u16string& reportPath, bool updateVault,
                          const CreatePatchOptions& options) {
  const std::u16string newer = NormalizePath(newerDir);
  CElapsedTimer timer = StartedTimer();
  RequireNewerDirectory(newer);
  RequirePatchPath(patchPath);
  if (vaultPath.empty()) {
    Raise(site::kNoVaultForPatch);
  }
  const std::optional<CompactOptions> compact = CompactOptionsFor(options);
  CheckOutputs({newer},
               {{patchPath, FileArgument::Use::Patch},
                {vaultPath, updateVault ? FileArgument::Use::Write : FileArgument::Use::Read},
                {reportPath, FileArgument::Use::Report}});

  CDirSnapshot olderSnapshot = ReadVault(progress, vaultPath);
  CDirSnapshot newerSnapshot =
      BuildSnapshot(progress, newer, olderSnapshot.filter, FileIds::Compute);
  // A vault holds no contents: a compact patch's contents are stored by
  // themselves, or copied where an older file listed has the same id.
  CompareTrees(progress, newerSnapshot, olderSnapshot, timer, patchPath, reportPath,
               compact ? &*compact : nullptr, OlderSource::Vault);
  // Only now: the vault still describes the targets until a complete patch
  // exists that moves them on.
  if (updateVault) WriteVault(progress, vaultPath, newerSnapshot);
  progress.SetStatus(u"Patch created ok.");
}

}  // namespace torquelin
