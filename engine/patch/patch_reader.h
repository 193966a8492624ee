// Reading a patch back: its patch info, its file index, and any stored file.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "engine/base/progress.h"
#include "engine/io/large_file.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_stream.h"

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

// Reads the FileIndex record at the reader's position and leaves the reader
// just after it. Reports no progress. A key stored twice keeps the later
// offset.
PatchFileIndex ReadFileIndex(zrFile::Reader& in, CProgressSink& progress);

// Restores the file whose FileContent record starts at `offset` to
// targetDirectory + "\" + stored path. A stored path that is not a clean
// relative path (IsSafeRelativePath) is refused, naming it, before anything
// is touched; so is a record whose header cannot be read. Then an existing
// item at the destination is removed ("Unable to remove item. "; a symbolic
// link is removed itself and never written through), the file
// is created ("Unable to open file:" + destination; missing directories are
// not made) and the content copied through the sink's scratch buffer
// ("Unable to write a dest file:" + destination). Content cut short by the
// end of the patch raises "Unable to fully read a patch file content" unless
// tolerateShort, in which case the short file stays. Attributes are not set.
// Each call seeks first; the reader is left after the bytes consumed.
// Returns true when the whole content was written, false only when
// tolerateShort let a short content pass; every failure raises.
bool ExtractFile(zrFile::Reader& in, bool tolerateShort, CProgressSink& progress, int64_t offset,
                 const std::u16string& targetDirectory);

// The compound reads, each at the input's position. A count larger than the
// records that follow fails in the first read that runs out of data; nothing
// is reserved from a count. In the maps a key stored twice keeps the later
// value.
void ReadStringList(RecordInput& in, PathList& into);
AttributeMap ReadAttributeMap(RecordInput& in);
TextMap ReadInfoMap(RecordInput& in);
