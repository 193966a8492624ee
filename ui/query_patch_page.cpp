// The "Query Patch" page: a patch described in a report.
#include "ui/query_patch_page.h"

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::kField, "&Patch File", u"patch", 3},
    {ControlKind::kField, "&XML Diff Report", u"report", 20},
    {ControlKind::kBrowse, "...", u"", 3, 0, Picker::kOpenFile, &kPatchFilter},
    // The job writes the report, so it is picked like a file to save.
    {ControlKind::kBrowse, "...", u"", 20, 0, Picker::kSaveFile, &kReportFilter},
    {ControlKind::kAction, "&Querry Patch"},
    {ControlKind::kViewReport, "&View XML Diff Report"},
    {ControlKind::kHelp, "&Help"},
};

}  // namespace

QueryPatchPage::QueryPatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::QueryPatch, u"PatchInfo_", kControls, units, parent) {}

JobParams QueryPatchPage::ReadParameters() const {
  return QueryPatchParams{Text(u"patch"), Text(u"report")};
}
