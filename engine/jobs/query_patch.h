// Job 3: writes the patch info stored in a patch file as an XML report.
#pragma once

#include <string>

#include "engine/base/progress.h"

namespace torquelin {

// Raises "No XML report file specified: " (type 0, .\rezeriravodu) for an
// empty reportPath before looking at the patch; then loads the patch info of
// a patch of either format (LoadAnyPatchInfo's errors, e.g. "No patch file
// specified: ", propagate and no report is written) and writes it as a
// report with no error texts; a compact patch's report also tells how each
// content is stored (WriteDiffReport's `contents`). Decodes no file
// contents; changes nothing but the report.
void QueryPatch(CProgressSink& progress, const std::u16string& patchPath,
                const std::u16string& reportPath);

}  // namespace torquelin
