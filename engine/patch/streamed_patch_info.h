// The patch info of a patch arriving on standard input, read front to back
// once and never kept: what a query of "-" needs of it.
#pragma once

#include "engine/base/progress.h"
#include "engine/patch/change_set.h"
#include "engine/patch/compact_reader.h"

namespace torquelin {

// LoadAnyPatchInfo for the patch on standard input, read in one pass that
// never seeks. A classic patch: its header, its patch info, its contents
// passed over up to the index its header names, and the index. A compact
// patch: its head, every content block's member table and chunk heads (the
// chunks' bytes passed over) into `contents` when given, its index, and its
// End record, which must name where the index began and end the stream.
// The checks, errors and progress are LoadAnyPatchInfo's, but a compact
// patch's blocks come before its index, so damage to both is told by the
// blocks; and a compact stream that ends early is refused as a file
// without its End record is ("This patch file has not been properly
// written."). Raises first what OpenPatchInput raises; a read that fails
// raises the record error with its code.
ChangeSet LoadStreamedPatchInfo(CProgressSink& progress, StoredContents* contents = nullptr);

}  // namespace torquelin
