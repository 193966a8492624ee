// Job 5, Calculate Fingerprint: the fingerprint of one directory under a filter.
#pragma once

#include <string>

#include "engine/base/progress.h"

namespace torquelin {

// Normalises directory, scans it with file ids and returns its fingerprint
// (40 lower-case hex digits). Changes nothing on disk. A directory that does
// not exist (or names a file, or is empty text) raises the type-1 error
// "Directory for fingerprinting does  not exists: " + normalised directory.
std::u16string CalculateFingerprint(CProgressSink& progress, const std::u16string& directory,
                                    const std::u16string& filter);

}  // namespace torquelin
