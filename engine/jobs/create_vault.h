// Job 4: records a directory's state in a vault file.
#pragma once

#include <string>

#include "engine/base/progress.h"

namespace torquelin {

// Normalises directory, then raises CZRErr (type 0, .\vault) for a directory
// that does not exist ("Directory for patch application does  not exists: "
// + directory, line 129) and, after that, for an empty vaultPath ("No vault
// file specified: ", line 135), before anything is scanned. Scans with the
// filter and file ids, adds the standard info entries and writes the vault,
// replacing an existing one atomically: a failed or cancelled run leaves an
// existing vault untouched. Shows no closing status of its own.
void CreateVault(CProgressSink& progress, const std::u16string& directory,
                 const std::u16string& filter, const std::u16string& vaultPath);

}  // namespace torquelin
