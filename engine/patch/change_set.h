// The difference between an older and a newer tree, as a patch carries it.
#pragma once

#include "engine/base/tree_types.h"

namespace torquelin {

// A plain value with its fields in declared order; the patch file and the
// report use orders of their own.
struct ChangeSet {
  std::u16string OlderTreeID;
  std::u16string NewerTreeID;
  TextMap Info;
  PathList UnlinkedFiles;
  PathList NewFiles;
  PathList ChangedFiles;
  PathList NewDirs;
  PathList UnlinkedDirectories;
  AttributeMap AttributeChanges;
  std::u16string IgnoreFilter;
  PathList ignoredNew;
  PathList ignoredOld;

  bool operator==(const ChangeSet&) const = default;
};

}  // namespace torquelin
