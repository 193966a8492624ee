// What a compact patch carries and how: the older ids it names and, for
// every new or changed file, whether it is made from its older version,
// copied from an older file, or stored by itself.
#pragma once

#include <vector>

#include "engine/patch/change_set.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/content_encoder.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/snapshot.h"

namespace torquelin {

// A compared tree: its files in ascending order (as the comparison leaves
// them) and ids[i] the id of files[i]. An id of kNoFileId stands for none
// (a vault entry whose id is not one).
struct ComparedFiles {
  const CDirSnapshot& snapshot;
  const std::vector<FileId>& ids;
};
inline constexpr FileId kNoFileId{};

// A snapshot's fileIds in the order of its files, kNoFileId where one is
// missing or is not 40 lower-case hexadecimal digits.
std::vector<FileId> IdsInFileOrder(const CDirSnapshot& snapshot);

struct CompactContents {
  CompactHead head;
  std::vector<ContentRequest> requests;  // one per carried path, ascending
};

// What the older tree of a patch is: a directory, whose files a delta can be
// made from, or a vault, which holds no contents.
enum class OlderSource { Vault, Directory };

// Decides, for the change set `changes` made from `newer` and `older`:
//   Copy        a new or changed file whose content (not empty) equals an
//               older regular file's (the first in path order);
//   Delta       else, when olderContents is Directory, a changed regular file whose
//               older version is a regular file too (made from it);
//   Compressed  else (the encoder stores it raw where that is smaller).
// Symbolic links are never a reference and never take one. head.olderIds
// holds the older id of every path of ChangedFiles and UnlinkedFiles that
// was a file, and of every reference. Lengths come from a look at each
// file (lstat) in newer.snapshot.root and, for a delta's reference, in
// older.snapshot.root; one that cannot be looked at raises "Unable to ioen
// file:" + its path (.\fileReader). Linear in the carried and older files,
// plus a map of the carried ids.
CompactContents PlanCompactContents(ChangeSet changes, const ComparedFiles& newer,
                                    const ComparedFiles& older, OlderSource olderContents);

}  // namespace torquelin
