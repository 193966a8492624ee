// The vault file: a CDirSnapshot stored as XML, so a patch can be made later
// against a tree state that is no longer on disk.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "engine/tree/snapshot.h"

namespace torquelin {

// Writes `snapshot` (all but its root) to `vaultPath`, replacing an existing
// file atomically: xml/riDerev Version "1.1" with ignoredItems (filter),
// Files, Directories, FSAttributes (words in signed decimal), FileIDs and
// VaultInfo. Status "Creating vault file.", then "riDerev file Created. " and
// the path as detail. Catches nothing: a failing save raises XmlFailure.
void WriteVault(CProgressSink& progress, const std::u16string& vaultPath,
                const CDirSnapshot& snapshot);

// Reads a vault back; the snapshot's root is the vault path itself. Reports
// nothing through the sink. Every failure becomes one of two CZRErr (.\xmlrep):
// "Unable to make an XML object " + description (line 267) when the file is
// not XML or a list or required attribute is missing, "Unable to read vault
// file:" + path (line 273) when riDerev is missing, its Version is not "1.1",
// or anything else fails.
CDirSnapshot ReadVault(CProgressSink& progress, const std::u16string& vaultPath);

}  // namespace torquelin
