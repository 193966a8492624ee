// The files a patch carries, as apply reads and checks them before anything
// changes, and the patch's identity the journal records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/base/progress.h"
#include "engine/io/large_file.h"
#include "engine/jobs/apply_journal.h"
#include "engine/patch/change_set.h"

namespace torquelin {

// One file the patch carries, as checked before anything changes.
struct StoredFile {
  std::u16string path;
  int64_t offset = 0;
  int64_t length = 0;
  // Why its record cannot be used; only ever set when errors are tolerated,
  // and then only this file is skipped.
  std::optional<CZRErr> damage;
};

// The file index at `indexOffset`, in index order (lengths not known yet).
std::vector<StoredFile> ReadStoredFiles(CProgressSink& progress, zrFile::Reader& reader,
                                        int64_t indexOffset);

// The files' paths, in their order.
std::vector<std::u16string> PathsOf(const std::vector<StoredFile>& files);

// Where a file's content starts in the patch, once its record is checked.
int64_t ContentStart(const StoredFile& file);

// Reads each record's head as extraction will, so no later step can fail
// on a record this check let pass: its place between the header and the
// index (line 58), its tag, its path (the index key that leads to it: the
// report and the attributes would otherwise speak of one file while
// another is written, line 56), and a length that ends before the index
// (60); fills each file's length. Records laid out one after the other, as a
// writer lays them out, are read in one buffered pass. A damaged record
// refuses the patch, or, tolerated, costs only its file.
enum class DamagedRecord { Refuse, Tolerate };
void CheckRecords(zrFile::Reader& reader, int64_t indexOffset, std::vector<StoredFile>& files,
                  DamagedRecord damaged);

// The journal's name for the patch: both fingerprints, its size, and the
// SHA-1 of its first `headEnd` bytes (the classic header; a compact patch's
// magic and head) and of everything from its file index on.
PatchIdentity IdentifyPatch(CProgressSink& progress, zrFile::Reader& reader, int64_t indexOffset,
                            const ChangeSet& patch, const std::u16string& patchPath,
                            int64_t headEnd);

// Whether the carried file at `path` is a symbolic link: its word says so.
bool CarriedAsLink(const ChangeSet& patch, const std::u16string& path);

}  // namespace torquelin
