// Job 4, Create Vault File.
#include "engine/jobs/create_vault.h"

#include "engine/base/error_sites.h"
#include "engine/base/info_entries.h"
#include "engine/io/file_system.h"
#include "engine/jobs/output_rules.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"
#include "engine/xml/vault_file.h"

namespace torquelin {

void CreateVault(CProgressSink& progress, const std::u16string& directory,
                 const std::u16string& filter, const std::u16string& vaultPath) {
  const std::u16string root = NormalizePath(directory);
  RequireDirectory(site::kVaultDirectoryMissing, root);
  if (vaultPath.empty()) {
    Raise(site::kNoVaultToCreate);
  }
  CheckOutputs({root}, {{vaultPath, FileArgument::Use::Write}});
  CDirSnapshot snapshot = BuildSnapshot(progress, root, filter, FileIds::Compute);
  AddInfoEntries(snapshot.info);
  WriteVault(progress, vaultPath, snapshot);
}

}  // namespace torquelin
