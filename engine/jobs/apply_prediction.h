// The fingerprints apply works out: the opening scan's, the one the tree
// will have once the patch is applied (refused before any change when it is
// not the patch's newer one), and the closing check's.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/hash/sha1.h"
#include "engine/io/large_file.h"
#include "engine/jobs/stored_files.h"
#include "engine/patch/change_set.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/snapshot.h"
#include "engine/tree/walker.h"
#include "platform/directory_handle.h"
#include "platform/files.h"

namespace torquelin {

// A file of the opening scan whose id the closing check may take over while
// it stays exactly as it was.
struct KnownFile {
  platform::EntryStamp stamp;
  FileId id;
};

// The known files, sorted by identity. A path is not needed: the same
// device and inode with the same size and times is the same content,
// whatever name it is found under at the end (a hard link of a known file
// is known too), and it takes far less room than a list of paths.
using KnownFiles = std::vector<KnownFile>;

// The opening scan, with its fingerprint: the snapshot's lists come back
// sorted, and `ids` holds the files' ids in that order (empty without ids).
// With `known`, each file is stamped by the walk's own lstat, before its
// content is read, and a file whose change and modification times are both
// before `clockNs` (the file system's own clock at the start) goes there:
// any later write or mode change moves its change time past the stamp, and
// a replacement brings another inode, so an equal stamp at the end means an
// equal content. A file changed in the same clock tick as the start could
// keep its stamp; it is never known. The journal (`leaveOut`) is no part of
// the tree.
CDirSnapshot OpeningScan(CProgressSink& progress, const std::u16string& directory,
                         const CIgnoreFilter& filter, const std::u16string& filterText,
                         bool withIds, int64_t clockNs, std::vector<FileId>& ids, KnownFiles* known,
                         const LeftOutEntry* leaveOut, std::u16string& fingerprint);

// The closing check: a new scan, whose ids are read afresh for every file
// but those `known` still stamped exactly as at the start (the walk's own
// lstat stamps them). The journal (`leaveOut`) is no part of the tree.
// Shows "New fingerprint verified." and returns true when the tree has the
// patch's newer fingerprint, else shows kAppliedFingerprintMismatchText.
bool ClosingCheck(CProgressSink& progress, const std::u16string& directory,
                  const CIgnoreFilter& filter, const ChangeSet& patch, const KnownFiles& known,
                  const LeftOutEntry* leaveOut);

// The id of each stored content, in the order of the patch's files; none
// for a damaged record or a file the tolerant mode skipped.
using ContentIds = std::vector<std::optional<FileId>>;

FileId ToFileId(const Sha1Digest digest);

// Reads every stored content once and returns its id.
ContentIds HashStoredContents(CProgressSink& progress, zrFile::Reader& reader,
                              const std::vector<StoredFile>& files);

// Refuses, before the commit, a patch whose stored contents would not give
// its newer fingerprint. Takes the opening scan apart.
void RefuseAnotherResult(CDirSnapshot& tree, std::vector<FileId>& ids, const ChangeSet& patch,
                         const std::vector<StoredFile>& files, const ContentIds& contentIds);

// The id of the content at `path` beneath the target: a regular file's
// bytes, or a link's target text; nothing when it cannot be read.
std::optional<FileId> ContentIdBeneath(CProgressSink& progress,
                                       const platform::DirectoryHandle& target,
                                       const std::u16string& path, bool isLink);

}  // namespace torquelin
