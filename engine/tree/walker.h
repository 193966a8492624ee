// The directory walk: its visitor interface, the two visitors that count and
// collect a tree, and BuildSnapshot, which turns a tree into a CDirSnapshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/snapshot.h"
#include "platform/files.h"

namespace torquelin {

// An entry of the root that a scan must not see: the file a job keeps there
// for itself while it runs, known by its name and by the node it is. An
// entry of the same name that is another node (a user's own file, or one put
// there to be mistaken for ours) is part of the tree like any other.
struct LeftOutEntry {
  std::u16string name;
  platform::NodeId id;
};

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
// file system's listing order (relPath is empty for the whole tree). Each
// directory is opened relative to its parent's descriptor, so neither depth
// nor path length limits the walk. A symbolic link is an entry like a file
// (OnFile) and is never entered. When `words` is given, every directory and
// file gets its attribute word there, read without following a link (one
// stat per entry); without it the listing's own entry types suffice. The
// entry `leaveOut` names, when it is found in the root, is not visited.
// Raises "Unable to list a directory: " + path (.\fileio 62) for a
// directory that cannot be opened or read, the starting one included, and
// "An entry vanished while its directory was read: " + path (66) for an
// entry gone between the listing and its stat: a silent hole would pass for
// removed files. COPCancel from the sink passes through. When `sizes` is
// given too, each OnFile appends the length that same stat saw for a
// regular file, kUnknownSize for anything else (see FileIdHasher); with
// `stamps` as well, each OnFile appends that stat's stamp.
void WalkDirectory(CProgressSink& progress, const std::u16string& root,
                   const std::u16string& relPath, CDirIterSink& sink, const CIgnoreFilter& filter,
                   AttributeMap* words = nullptr, std::vector<uint32_t>* sizes = nullptr,
                   std::vector<platform::EntryStamp>* stamps = nullptr,
                   const LeftOutEntry* leaveOut = nullptr);

// Whether a scan reads every file for its id, or lists the tree only.
enum class FileIds { Skip, Compute };

// Scans a tree: a counting pass, a collecting pass under the filter that
// also reads every entry's attribute word, the attribute phase's progress,
// and (when computeFileIds is Compute) every file's id; a link's id is that of its
// target text. root must be normalised and must exist. Raises what
// WalkDirectory and ComputeFileIds raise; COPCancel passes through and the
// half-built snapshot is dropped.
CDirSnapshot BuildSnapshot(CProgressSink& progress, const std::u16string& root,
                           const std::u16string& filterText, FileIds computeFileIds);
// The same with the filter already compiled from filterText, for a job that
// scans more than once. With `ids` (and computeFileIds), the ids go there,
// in the order of the snapshot's files, rather than into its fileIds. With
// `stamps`, each file's stamp as the collecting pass saw it (before its
// content is read) goes there, in the order of the snapshot's files as the
// walk left them. With `order`, the lists' path order and words go there
// for ComputeFingerprint (left empty where the names do not allow it).
// With `leaveOut`, that entry of the root is not part of the tree.
// The collecting pass runs on several threads (see TreeCollector) with the
// same entries, calls and errors as WalkDirectory.
CDirSnapshot BuildSnapshot(CProgressSink& progress, const std::u16string& root,
                           const CIgnoreFilter& filter, const std::u16string& filterText,
                           FileIds computeFileIds, std::vector<FileId>* ids = nullptr,
                           std::vector<platform::EntryStamp>* stamps = nullptr,
                           PathOrder* order = nullptr, const LeftOutEntry* leaveOut = nullptr);

}  // namespace torquelin
