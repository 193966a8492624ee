// Job 3: the patch info of a patch file written out as a report.
#include "engine/jobs/query_patch.h"

#include "engine/base/error_sites.h"
#include "engine/jobs/output_rules.h"
#include "engine/patch/compact_reader.h"
#include "engine/xml/diff_report.h"

namespace torquelin {

void QueryPatch(CProgressSink& progress, const std::u16string& patchPath,
                const std::u16string& reportPath) {
  if (reportPath.empty()) {
    Raise(site::kNoReportToQuery);
  }
  CheckOutputs({}, {{patchPath, FileArgument::Use::Read}, {reportPath, FileArgument::Use::Report}});
  StoredContents contents;
  const ChangeSet info = LoadAnyPatchInfo(progress, patchPath, &contents);
  WriteDiffReport(progress, reportPath, info, {}, &contents);
}

}  // namespace torquelin
