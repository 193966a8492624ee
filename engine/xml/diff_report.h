// The XML diff report: a readable account of one ChangeSet, written by the
// patch jobs, Query Patch and Apply Patch. Nothing reads it back.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "engine/base/tree_types.h"
#include "engine/patch/change_set.h"

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
void WriteDiffReport(CProgressSink& progress, const std::u16string& reportPath,
                     const ChangeSet& changes, const PathList& errorTexts);
