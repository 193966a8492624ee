// File ids (the SHA-1 of a file's content) and the directory fingerprint
// (one SHA-1 over a snapshot's sorted paths, attribute words and ids).
#pragma once

#include <string>

#include "engine/progress.h"
#include "engine/snapshot.h"

// Fills fileIds for every path in files, in list order, reading each file
// through the sink's scratch buffer. Raises the CZRErr of the first file that
// cannot be read completely (ids of earlier files stay); COPCancel passes.
void ComputeFileIds(CProgressSink& progress, CDirSnapshot& snapshot);

// The 40-character fingerprint. Sorts directories and files in place (UTF-16
// code-unit order), which later readers of the snapshot rely on. Hashes, for
// each sorted directory, its path (UTF-16LE) and its attribute word as signed
// decimal, then for each sorted file its path, word and id (empty if none).
std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot);
