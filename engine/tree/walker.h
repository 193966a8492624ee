// The directory walk: its visitor interface, the two visitors that count and
// collect a tree, and BuildSnapshot, which turns a tree into a CDirSnapshot.
#pragma once

#include <cstdint>
#include <string>

#include "engine/base/progress.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/snapshot.h"

// Visitor of WalkDirectory. Each call gets the progress sink, the root passed
// to the walk and the entry's relative path. Progress calls inside may throw
// COPCancel, which passes through the walk unchanged.
class CDirIterSink {
 public:
  virtual ~CDirIterSink() = default;
  // An entry the filter matched; a directory reported here is not entered.
  virtual void OnIgnored(CProgressSink& progress, const std::u16string& root,
                         const std::u16string& relPath) = 0;
  // A directory the filter let through; called before the walk enters it.
  virtual void OnDirectory(CProgressSink& progress, const std::u16string& root,
                           const std::u16string& relPath) = 0;
  // Any other entry the filter let through (files, and FIFOs, sockets,
  // devices, which later fail when their content is read).
  virtual void OnFile(CProgressSink& progress, const std::u16string& root,
                      const std::u16string& relPath) = 0;
};

// The counting pass: counts directories and files, never ignored entries,
// and shows each directory on the detail line.
class CFileCounterSink : public CDirIterSink {
 public:
  void OnIgnored(CProgressSink&, const std::u16string&, const std::u16string&) override {}
  void OnDirectory(CProgressSink& progress, const std::u16string& root,
                   const std::u16string& relPath) override;
  void OnFile(CProgressSink& progress, const std::u16string& root,
              const std::u16string& relPath) override;

  uint32_t files = 0;
  uint32_t directories = 0;
  uint32_t total = 0;
};

// The collecting pass: appends each entry to the snapshot's lists (which it
// does not own) and steps the bar once per directory and file.
class CFSLocator : public CDirIterSink {
 public:
  explicit CFSLocator(CDirSnapshot* snapshot) : snapshot_(snapshot) {}
  void OnIgnored(CProgressSink& progress, const std::u16string& root,
                 const std::u16string& relPath) override;
  void OnDirectory(CProgressSink& progress, const std::u16string& root,
                   const std::u16string& relPath) override;
  void OnFile(CProgressSink& progress, const std::u16string& root,
              const std::u16string& relPath) override;

 private:
  CDirSnapshot* snapshot_;
};

// Visits every entry below root + relPath, depth first and pre-order, in the
// file system's listing order (relPath is empty for the whole tree). A
// directory that cannot be listed contributes nothing and raises nothing.
// Symbolic links are followed; a directory that is already on the path from
// the root to it (a link cycle) is reported to OnDirectory but not entered.
void WalkDirectory(CProgressSink& progress, const std::u16string& root,
                   const std::u16string& relPath, CDirIterSink& sink, const CIgnoreFilter& filter);

// Scans a tree: a counting pass, a collecting pass under the filter, the
// attribute of every entry, and (when computeFileIds) every file's id.
// root must be normalised and must exist. Raises only what ComputeFileIds
// raises; COPCancel passes through and the half-built snapshot is dropped.
CDirSnapshot BuildSnapshot(CProgressSink& progress, const std::u16string& root,
                           const std::u16string& filterText, bool computeFileIds);
