// Job 4, Create Vault File.
#include "engine/create_vault.h"
#include "engine/errors.h"
#include "engine/fsops.h"
#include "engine/info_entries.h"
#include "engine/normalize_path.h"
#include "engine/vault_file.h"
#include "engine/walker.h"

void CreateVault(CProgressSink& progress, const std::u16string& directory,
                 const std::u16string& filter, const std::u16string& vaultPath) {
  const std::u16string root = NormalizePath(directory);
  if (!DirectoryExists(root)) {
    throw CZRErr(0, u"Directory for patch application does  not exists: " + root, location::kVault,
                 129);
  }
  if (vaultPath.empty()) {
    throw CZRErr(0, u"No vault file specified: ", location::kVault, 135);
  }
  CDirSnapshot snapshot = BuildSnapshot(progress, root, filter, true);
  AddInfoEntries(snapshot.info);
  WriteVault(progress, vaultPath, snapshot);
}
