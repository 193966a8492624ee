// Writing a change set and the contents it names as one patch file.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_stream.h"

// Writes the patch at patchPath: the header with completion flag 0, the
// change set as the patch info, the content of every new and changed file
// (read from newerRoot + relative path, ascending code-unit order), and the
// file index; then it stores the index offset and flag 1 in the header. The
// body is flushed to the device before the flag is set, so a crash can never
// leave a complete-looking patch with missing contents.
//
// An existing file at patchPath is removed first (a failure to remove it is
// ignored; opening then reports); a symbolic link there stays, and the file
// it names is the one replaced. Every failure raises CZRErr and leaves the
// partial file with flag 0, which every reader refuses; COPCancel from
// SetDetail or Step propagates the same way. Progress: SetStatus("Creating a
// patch file"), SetRange(number of files), ResetProgress, then per file
// SetDetail("Writing File: " + path) and Step. Contents pass through the
// sink's scratch buffer, one read and one write per chunk.
//
// scannedIds, when given, maps relative paths to the file ids the scan
// computed: a copied content whose SHA-1 differs (the file changed, shrank
// or was replaced after the scan) raises "Unable read a source file:" +
// path, since such a patch could not produce the tree its fingerprint names.
void WritePatch(CProgressSink& progress, const ChangeSet& changes, const std::u16string& newerRoot,
                const std::u16string& patchPath, const TextMap* scannedIds = nullptr);

// The compound records of the patch info, as patch_format.h lays them out;
// the compact format's head holds the same ones.
void WriteStringList(RecordOutput& out, const PathList& list);
void WriteInfoMap(RecordOutput& out, const TextMap& map);
void WriteAttributeMap(RecordOutput& out, const AttributeMap& map);
