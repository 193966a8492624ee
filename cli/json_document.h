// The one JSON document that "--json" prints on stdout for a job's result.
#pragma once

#include <string>

#include "engine/jobs/job_runner.h"

namespace torquelin {

// The document of a run that succeeded, pretty-printed, ending in a line
// feed. Every document is an object:
//   fingerprint:        {"fingerprint": "<40 hex digits>"}
//   query, apply --check, verify:
//     {"older_fingerprint": ..., "newer_fingerprint": ...,
//      "counts": {"added": N, "removed": N, "modified": N, "attributes": N},
//      "changes": [{"path": "sub/a.txt", "kind": "modified", "directory": false,
//                   "size": N or null}, ...]}
//   with, for a patch, "bytes_stored" (what its contents take in it) and
//   "patch_bytes" (the patch file's size); for verify "matches" (true when
//   nothing differs); for apply --check "check" ("can-be-applied").
// "kind" is "added", "removed", "modified" (content) or "attributes" (only
// the attribute word), the marks '+', '-', 'M' and 'A' of the listing; a
// path is shown as the listing shows it, '/' between its components, an
// undecodable byte as \xhh, without the listing's quotes; "size" is the
// content's length a patch stores, null where none is stored.
std::string JsonDocument(JobKind kind, const JobRun& run);

// The listing's closing line for stderr: the counts by kind and, for a
// patch, the bytes its contents take and its size, e.g.
//   "2 added, 2 removed, 2 modified, 1 attributes only; 1024 bytes stored in a patch of 2048 bytes"
std::string ListingSummary(const ChangeListing& listing);

}  // namespace torquelin
