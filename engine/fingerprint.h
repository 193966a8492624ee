// File ids (the SHA-1 of a file's content) and the directory fingerprint
// (one SHA-1 over a snapshot's sorted paths, attribute words and ids).
#pragma once

#include <string>

#include "engine/progress.h"
#include "engine/snapshot.h"

// Fills fileIds for every path in files, in list order. The progress calls
// come from the calling thread alone, in list order ("Processing: " + path,
// then a step, per file), whatever the thread count. Files are read on
// FileIdThreadCount() threads, each through one buffer of the sink's buffer
// size (the first through the sink's own); with one thread, on the calling
// thread. Raises the CZRErr of the first file in list order that cannot be
// read completely (ids of earlier files stay, no later id is stored);
// COPCancel passes. No thread outlives the call.
void ComputeFileIds(CProgressSink& progress, CDirSnapshot& snapshot);

// The number of threads ComputeFileIds hashes on: the count last set here
// when not 0; else the TORQUELIN_HASH_THREADS environment variable when it
// holds a positive number (benchmarks); else one per processor core, at
// most 8. Set it while no ComputeFileIds runs.
void SetFileIdThreadCount(unsigned count);
unsigned FileIdThreadCount();

// The 40-character fingerprint. Sorts directories and files in place (UTF-16
// code-unit order), which later readers of the snapshot rely on. Hashes, for
// each sorted directory, its path (UTF-16LE) and its attribute word as signed
// decimal, then for each sorted file its path, word and id (empty if none).
std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot);
