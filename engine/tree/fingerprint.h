// File ids (the SHA-1 of a file's content) and the directory fingerprint
// (one SHA-1 over a snapshot's sorted paths, attribute words and ids).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/tree/snapshot.h"

namespace torquelin {

class WorkerThreads;

// Fills fileIds for every path in files, in list order. The progress calls
// come from the calling thread alone, in list order ("Processing: " + path,
// then a step, per file), whatever the thread count. Files are read on
// FileIdThreadCount() threads, each through one buffer of the sink's buffer
// size (the first through the sink's own); with one thread, on the calling
// thread. Raises the CZRErr of the first file in list order that cannot be
// read completely (ids of earlier files stay, no later id is stored);
// COPCancel passes. No thread outlives the call.
void ComputeFileIds(CProgressSink& progress, CDirSnapshot& snapshot);

// A file id as its 20 bytes, for a job that holds a great many of them
// only until it has the fingerprint.
using FileId = std::array<uint8_t, 20>;

// A length the walk did not give (not a regular file, or 4 GiB and more).
inline constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

// ComputeFileIds in two steps, so that the files are read while the job
// thread does other work first. The constructor starts the hashing threads
// (none with one thread) and makes no progress call; from then until Finish
// returns or the object is destroyed, snapshot.root and snapshot.files must
// stay unchanged and the sink's buffer belongs to the hasher. Finish does
// exactly what ComputeFileIds documents, progress calls included. The
// destructor stops the threads and waits for them. `sizes`, when not empty,
// holds each file's length as the walk listed it (kUnknownSize where it has
// none): a file shorter than the scratch buffer is then read in one open and
// one read of that length plus one byte; any difference (the file grew,
// shrank or changed kind) reads it again the general way, so the id is
// always that of the whole content as one open saw it.
class FileIdHasher {
 public:
  FileIdHasher(CProgressSink& progress, const CDirSnapshot& snapshot,
               std::vector<uint32_t> sizes = {});
  // The same for a snapshot whose walk hashed some files already: file i's
  // id is known[i] where hashed[i] is set (both as long as the file list),
  // and only the other files are read. Finish makes the same calls. With
  // `threads` (which must outlive the object), the files are read on those
  // rather than on threads of its own.
  FileIdHasher(CProgressSink& progress, const CDirSnapshot& snapshot, std::vector<uint32_t> sizes,
               std::vector<FileId> known, std::vector<bool> hashed,
               WorkerThreads* threads = nullptr);
  ~FileIdHasher();
  FileIdHasher(const FileIdHasher&) = delete;
  FileIdHasher& operator=(const FileIdHasher&) = delete;
  // With `ids`, the ids go there in list order instead of into fileIds.
  void Finish(CProgressSink& progress, CDirSnapshot& snapshot, std::vector<FileId>* ids = nullptr);

 private:
  class Pool;
  std::vector<uint32_t> sizes_;
  std::vector<FileId> known_;
  std::vector<bool> hashed_;
  std::vector<uint32_t> pending_;  // with hashed_: the files to read, in order
  std::unique_ptr<Pool> pool_;
};

// The number of threads ComputeFileIds hashes on: the count last set here
// when not 0; else the TORQUELIN_HASH_THREADS environment variable when it
// holds a positive number (benchmarks); else one per processor core, at
// most 8. Set it while no ComputeFileIds runs.
void SetFileIdThreadCount(unsigned count);
unsigned FileIdThreadCount();

// The 40-character fingerprint. Sorts directories and files in place (UTF-16
// code-unit order), which later readers of the snapshot rely on. Hashes, for
// each sorted directory, its path (UTF-16LE) and its attribute word as signed
// decimal, then for each sorted file its path, word and id (empty if none).
std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot);
// The same with the files' ids in `ids`, in the order of snapshot.files (as
// Finish leaves them), instead of in fileIds; `ids` is sorted with the files.
std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot,
                                  std::vector<FileId>& ids);

// The sorted order of a snapshot's lists and its words, as a scan works
// them out on the way (see BuildSnapshot), all by position in the lists'
// walk order: sorting and searching a large tree's paths costs more than
// the rest of the fingerprint.
struct PathOrder {
  std::vector<uint32_t> directories;     // positions, in path order
  std::vector<uint32_t> files;           // positions, in path order
  std::vector<uint32_t> directoryWords;  // each directory's attribute word
  std::vector<uint32_t> fileWords;       // each file's attribute word

  // Whether it covers the snapshot's lists: then the fingerprint reads
  // neither their order nor the snapshot's attribute map.
  bool Covers(const CDirSnapshot& snapshot) const {
    return files.size() == snapshot.files.size() && fileWords.size() == files.size() &&
           directories.size() == snapshot.directories.size() &&
           directoryWords.size() == directories.size();
  }
};
// The same, taking the order and the words from `order` (consumed) when it
// covers the lists, else as above. The same value and calls; the lists and
// ids stay in walk order then, for a job that wants the value alone.
std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot,
                                  std::vector<FileId>& ids, PathOrder& order);
// The same, but leaving the lists and ids sorted as the two-argument form
// does: put in place by the scan's order rather than sorted again.
std::u16string ComputeFingerprintSorting(CProgressSink& progress, CDirSnapshot& snapshot,
                                         std::vector<FileId>& ids, PathOrder& order);

}  // namespace torquelin
