// The "Create Patch(Directory)" page: two directories in, one patch out.
#include "ui/create_patch_page.h"

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::kField, "&Older Directory", u"olddir", 3},
    {ControlKind::kBrowse, "...", u"", 3, 0, Picker::kFolder},
    {ControlKind::kField, "&Newer Directory", u"newdir", 20},
    {ControlKind::kBrowse, "...", u"", 20, 0, Picker::kFolder},
    {ControlKind::kField, "&Patch File", u"patch", 37},
    {ControlKind::kField, "&XML Diff Report", u"report", 54},
    {ControlKind::kBrowse, "...", u"", 37, 0, Picker::kSaveFile, &kPatchFilter},
    {ControlKind::kBrowse, "...", u"", 54, 0, Picker::kSaveFile, &kReportFilter},
    {ControlKind::kField, "&File Ignore Filter", u"filter", 71},
    {ControlKind::kAction, "C&reate Patch"},
    {ControlKind::kViewReport, "&View XML Diff Report"},
    {ControlKind::kHelp, "&Help"},
};

}  // namespace

CreatePatchPage::CreatePatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::CreatePatch, u"CrPatch_", kControls, units, parent) {}

JobParams CreatePatchPage::ReadParameters() const {
  return CreatePatchParams{Text(u"olddir"), Text(u"newdir"), Text(u"patch"), Text(u"report"),
                           Text(u"filter")};
}
