// The collecting pass of a scan, with the directories listed and the small
// files hashed on several threads ahead of the job thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/snapshot.h"
#include "platform/files.h"

namespace torquelin {

struct LeftOutEntry;
class WorkerThreads;

// The threads a scan runs on, the collecting pass and the file ids alike:
// FileIdThreadCount() when more than one, else none.
unsigned ScanThreadCount();

// What the pass learns of each file beside the snapshot, in file order.
struct CollectedFiles {
  std::vector<uint32_t> sizes;  // for FileIdHasher
  std::vector<FileId> ids;      // valid where `hashed` is set
  std::vector<bool> hashed;     // read whole and hashed while listed
};

// The files the pass reads and hashes itself, when asked to: a regular
// file up to this length is read in the same open that gives its stat.
inline constexpr uint32_t kCollectReadLimit = 64 * 1024;

// The collecting pass. Fills the snapshot's lists and attribute words and
// steps the bar exactly as WalkDirectory does with a CFSLocator and `words`
// (same entries, same progress calls in the same order, same errors raised
// at the same point), and fills `files` (and `stamps` when given). With
// readFiles, regular files up to kCollectReadLimit are hashed on the way.
// Directories are listed, their entries looked at and their small files
// read on FileIdThreadCount() threads (none with one; a large directory's
// entries by several of them together), which start when the
// object is made, so that they work while the job thread counts the tree;
// they run a bounded number of entries ahead of the job thread, which puts
// their results together in walk order in Collect, running a directory
// itself when no thread has started it yet. What goes wrong on a thread is
// raised by Collect where a walk would have met it. The destructor stops
// the threads and waits for them. `leaveOut` (walker.h), when given, must
// outlive the object. With `threads` (ScanThreadCount() of them, which
// must outlive the object), the pass runs on those rather than on threads
// of its own, and leaves them free for other work once Collect returns.
class TreeCollector {
 public:
  TreeCollector(const std::u16string& root, const CIgnoreFilter& filter, bool readFiles,
                const LeftOutEntry* leaveOut = nullptr, WorkerThreads* threads = nullptr);
  ~TreeCollector();
  TreeCollector(const TreeCollector&) = delete;
  TreeCollector& operator=(const TreeCollector&) = delete;

  // Once. With `order`, fills it for the fingerprint, or leaves it empty
  // where the tree's names do not allow it. COPCancel from the sink passes.
  void Collect(CProgressSink& progress, CDirSnapshot& snapshot, CollectedFiles& files,
               std::vector<platform::EntryStamp>* stamps, PathOrder* order = nullptr);

 private:
  class Work;
  std::unique_ptr<Work> work_;
};

}  // namespace torquelin
