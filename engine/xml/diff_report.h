// The XML diff report: a readable account of one ChangeSet, written by the
// patch jobs, Query Patch and Apply Patch. Nothing reads it back.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "engine/base/tree_types.h"
#include "engine/patch/change_set.h"
#include "engine/patch/compact_reader.h"

namespace torquelin {

// Writes the report of `changes` to `reportPath`, replacing an existing file
// atomically: xml/roRaraVevodIzorov with its ten sections in fixed order
// (PatchInfo, newIgnoredItems, oldIgnoredItems, UnlinkedFiles, UnlinkedDirs,
// NewFiles, NewDirs, ModifyedFiles, AttributeChanges, Errors). `errorTexts`
// become the Error items, in order (only Apply Patch passes any).
// Progress: status "Creating an XML report", range 10, a step after each
// section and one after saving, then status "XML Report Created. " and the
// path as detail. Catches nothing: a failing save raises XmlFailure, which
// the job runner reports as an unknown failure; COPCancel from the sink
// passes, and a cancelled report leaves no file.
//
// With `contents` (Query Patch of a compact patch), the node of each path of
// NewFiles and ModifyedFiles that `contents` holds gets attributes of our
// own after `path`: `storage` (stored, compressed, delta or copy),
// `storedSize` (decimal bytes; see StoredContent), `block` (decimal, from
// 0) and, for a delta or a copy, `reference` (the older file's path).
void WriteDiffReport(CProgressSink& progress, const std::u16string& reportPath,
                     const ChangeSet& changes, const PathList& errorTexts,
                     const StoredContents* contents = nullptr);

}  // namespace torquelin
