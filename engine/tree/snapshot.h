// One scan of a directory tree: the tree model every job works on.
#pragma once

#include "engine/base/tree_types.h"

namespace torquelin {

// A plain value. Paths are relative to the root: they begin with '\' and use
// '\' between components (\sub\file.txt). The lists keep walk order until
// ComputeFingerprint sorts them in place.
struct CDirSnapshot {
  std::u16string root;      // as passed to BuildSnapshot (a vault path for a vault)
  std::u16string filter;    // the ignore-filter text, unparsed
  PathList ignored;         // entries the filter matched, walk order
  TextMap info;             // empty after a scan; filled by jobs that store it
  PathList directories;     // non-ignored directories, walk order
  PathList files;           // non-ignored files, walk order
  AttributeMap attributes;  // every directory and file: its word, 0 if unreadable
  TextMap fileIds;          // every file: 40 hex digits, when ids were computed
};

}  // namespace torquelin
