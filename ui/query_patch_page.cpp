// The "Query Patch" page: a patch described in a report.
#include "ui/query_patch_page.h"

namespace torquelin {

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::Field, "&Patch File", u"patch", 3},
    {ControlKind::Field, "&XML Diff Report", u"report", 20},
    {ControlKind::Browse, "...", u"", 3, 0, Picker::OpenFile, &kPatchFilter},
    // The job writes the report, so it is picked like a file to save.
    {ControlKind::Browse, "...", u"", 20, 0, Picker::SaveFile, &kReportFilter},
    {ControlKind::Action, "&Querry Patch"},
    {ControlKind::ViewReport, "&View XML Diff Report"},
    {ControlKind::Help, "&Help"},
};

}  // namespace

QueryPatchPage::QueryPatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::QueryPatch, u"PatchInfo_", kControls, units, parent) {}

JobParams QueryPatchPage::ReadParameters() const {
  return QueryPatchParams{Text(u"patch"), Text(u"report")};
}

}  // namespace torquelin
