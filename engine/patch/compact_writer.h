// Writing a compact patch: its head, the content blocks encoded on threads,
// the index and the end record, into one file that takes its place at once.
#pragma once

#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/content_encoder.h"
#include "engine/patch/content_files.h"

namespace torquelin {

// Writes the compact patch of `head` at patchPath: the magic, the head, a
// ContentBlock per group of `requests` (ascending paths, one per path of
// NewFiles and ChangedFiles; PlanContentBlocks groups them), the index and
// the End record. The blocks are encoded on `threads` threads and written
// in order on the calling thread. The new contents are read through
// `newer`, the older files deltas are made from through `older`; each must
// be exactly as the request states (length and id), else "Unable read a
// source file:" + the file's path (Describe). A Copy's newer file is read
// too, and checked the same way, since nothing else would notice that it
// changed after its scan.
//
// The file is made as WritePatch makes a classic one: under a temporary
// name beside patchPath (platform::ReplacementFile), flushed to the device
// once the End record is written and renamed over patchPath; every failure
// and a cancel remove the temporary and leave the previous file as it was,
// with the same messages naming patchPath. Progress: SetStatus("Creating a
// patch file"); once the head is written SetStatus("Compressing the file
// contents"), SetRange(number of requests), ResetProgress; then, as each
// block's record starts, SetDetail("Writing File: " + path) and Step per
// member, and SetDetail again for every further piece of a large file, so
// that a cancel is seen within a chunk. COPCancel from the sink stops the
// threads and propagates.
void WriteCompactPatch(CProgressSink& progress, const CompactHead& head,
                       std::vector<ContentRequest> requests, ContentOpener& newer,
                       ContentOpener& older, const std::u16string& patchPath,
                       const CompactOptions& options, unsigned threads);

}  // namespace torquelin
