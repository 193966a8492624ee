// Reading a patch back: its patch info, its file index, and any stored file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "engine/base/progress.h"
#include "engine/hash/sha1.h"
#include "engine/io/large_file.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_stream.h"
#include "platform/directory_handle.h"

namespace torquelin {

// Relative path (with its leading '\') to the offset of its FileContent
// record.
using PatchFileIndex = std::map<std::u16string, int64_t>;

// Opens the patch, checks its header, and returns the change set it carries.
// It also reads the file index once, so a file damaged there is refused
// here; contents are never read. Raises "No patch file specified: " for an
// empty path, the reader's open error, or the record errors of the stream.
// Progress: SetStatus("Loading patch info."), SetRange(9) (position kept),
// one Step after each of the seven lists, the attribute map and the index.
ChangeSet LoadPatchInfo(CProgressSink& progress, const std::u16string& patchPath);
// The same on a patch already open, from offset 0; leaves the reader after
// the index.
ChangeSet ReadPatchInfo(zrFile::Reader& reader, CProgressSink& progress);

// The patch info after the header, at the input's position, with
// ReadPatchInfo's progress (its last Step, for the index, left out).
ChangeSet ReadPatchInfoRecords(RecordInput& in, CProgressSink& progress);
// The same records without a status: afterEachList (when set) is called
// after each of the seven lists and after the attribute map. The compact
// format's head starts with them.
ChangeSet ReadPatchInfoRecords(RecordInput& in, const std::function<void()>& afterEachList);

// Reads the FileIndex record at the reader's position and leaves the reader
// just after it. Reports no progress. A key stored twice keeps the later
// offset.
PatchFileIndex ReadFileIndex(zrFile::Reader& in, CProgressSink& progress);
PatchFileIndex ReadFileIndex(RecordInput& in);

// What restoring a content does when the patch ends before it does: raise,
// or let the short file stay.
enum class ShortContent { Raise, Tolerate };
// What a stored content is restored as.
enum class ExtractAs { File, Link };

// Restores the file whose FileContent record starts at `offset` to
// targetDirectory + "\" + stored path: opens a DirectoryHandle on
// targetDirectory and does what ExtractFileBeneath does for the stored path.
// A stored path that is not a clean relative path (IsSafeRelativePath) is
// refused, naming it, before anything is touched; a directory that cannot be
// opened fails as "Unable to open file:" + destination.
bool ExtractFile(zrFile::Reader& in, ShortContent tolerateShort, CProgressSink& progress,
                 int64_t offset, const std::u16string& targetDirectory);

// Restores the record at `offset`, which must be stored under relPath (its
// index key; "Refusing a patch whose file index entry " otherwise), as
// relPath beneath `target`, whose path targetDirectory names it in messages
// (destination = targetDirectory + "\" + relPath). Before anything is
// touched: the record's tag, path and length are read, a negative length is
// refused ("Refusing a stored file whose length does not fit in the patch:
// "), and a link's target text is read whole. Then the entry at relPath, if
// any, is removed as the entry it is ("Unable to remove item. "), and a new
// file is created ("Unable to open file:" + destination) and filled through
// the sink's scratch buffer ("Unable to write a dest file:"), or, asLink
// Link, a symbolic link holding the content is made. A symbolic link met on the way
// raises "Refusing to follow a symbolic link on the way to: " + destination;
// nothing outside `target` is touched. Content cut short by the end of the
// patch raises "Unable to fully read a patch file content" unless
// tolerateShort is Tolerate (never for a link): then the short file stays.
// Attributes are not set. Returns true when the whole content was written,
// false only when tolerateShort let a short content pass. With writeAs, the
// content goes to that new entry instead (which must not exist; nothing at
// relPath is touched), messages still naming the destination. With digest,
// every byte written is fed to it too, so reading and checking the content
// take one pass. A new file gets `permissions` (less the umask).
bool ExtractFileBeneath(zrFile::Reader& in, ShortContent tolerateShort, CProgressSink& progress,
                        int64_t offset, const platform::DirectoryHandle& target,
                        const std::u16string& targetDirectory, const std::u16string& relPath,
                        ExtractAs asLink, const std::u16string& writeAs = {},
                        Sha1Context* digest = nullptr, uint32_t permissions = 0666);

// The compound reads, each at the input's position. A count larger than the
// records that follow fails in the first read that runs out of data; nothing
// is reserved from a count. In the maps a key stored twice keeps the later
// value.
void ReadStringList(RecordInput& in, PathList& into);
AttributeMap ReadAttributeMap(RecordInput& in);
TextMap ReadInfoMap(RecordInput& in);

}  // namespace torquelin
