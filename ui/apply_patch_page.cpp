// The "Apply Patch" page: a patch applied to an older directory.
#include "ui/apply_patch_page.h"

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::kField, "&Older Directory", u"dir", 3},
    {ControlKind::kBrowse, "...", u"", 3, 0, Picker::kFolder},
    {ControlKind::kField, "&Patch File", u"patch", 20},
    {ControlKind::kField, "&XML Diff Report", u"report", 37},
    {ControlKind::kBrowse, "...", u"", 20, 0, Picker::kOpenFile, &kPatchFilter},
    {ControlKind::kBrowse, "...", u"", 37, 0, Picker::kSaveFile, &kReportFilter},
    {ControlKind::kAction, "&Apply Patch"},
    {ControlKind::kViewReport, "&View XML Diff Report"},
    {ControlKind::kHelp, "&Help"},
    {ControlKind::kCheck, "&Ignore Directory Fingerprint(Not Recomnded)", u"fpignore", 60, 6},
    {ControlKind::kCheck, "Continue on Filesystem &Errors(Not Recomnded)", u"fsignore", 78, 6},
};

}  // namespace

ApplyPatchPage::ApplyPatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::ApplyPatch, u"Apply_", kControls, units, parent) {}

JobParams ApplyPatchPage::ReadParameters() const {
  return ApplyPatchParams{Text(u"dir"), Text(u"patch"), Text(u"report"), IsSet(u"fsignore"),
                          IsSet(u"fpignore")};
}
