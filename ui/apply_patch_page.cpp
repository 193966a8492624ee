// The "Apply Patch" page: a patch applied to an older directory.
#include "ui/apply_patch_page.h"

namespace torquelin {

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::Field, "&Older Directory", u"dir", 3},
    {ControlKind::Browse, "...", u"", 3, 0, Picker::Folder},
    {ControlKind::Field, "&Patch File", u"patch", 20},
    {ControlKind::Field, "&XML Diff Report", u"report", 37},
    {ControlKind::Browse, "...", u"", 20, 0, Picker::OpenFile, &kPatchFilter},
    {ControlKind::Browse, "...", u"", 37, 0, Picker::SaveFile, &kReportFilter},
    {ControlKind::Action, "&Apply Patch"},
    {ControlKind::ViewReport, "&View XML Diff Report"},
    {ControlKind::Help, "&Help"},
    {ControlKind::Check, "&Ignore Directory Fingerprint(Not Recomnded)", u"fpignore", 60, 6},
    {ControlKind::Check, "Continue on Filesystem &Errors(Not Recomnded)", u"fsignore", 78, 6},
};

}  // namespace

ApplyPatchPage::ApplyPatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::ApplyPatch, u"Apply_", kControls, units, parent) {}

JobParams ApplyPatchPage::ReadParameters() const {
  return ApplyPatchParams{Text(u"dir"), Text(u"patch"), Text(u"report"), IsSet(u"fsignore"),
                          IsSet(u"fpignore")};
}

}  // namespace torquelin
