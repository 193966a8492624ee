// The "Create Patch(Directory)" page: two directories in, one patch out.
#include "ui/create_patch_page.h"

namespace torquelin {

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::Field, "&Older Directory", u"olddir", 3},
    {ControlKind::Browse, "...", u"", 3, 0, Picker::Folder},
    {ControlKind::Field, "&Newer Directory", u"newdir", 20},
    {ControlKind::Browse, "...", u"", 20, 0, Picker::Folder},
    {ControlKind::Field, "&Patch File", u"patch", 37},
    {ControlKind::Field, "&XML Diff Report", u"report", 54},
    {ControlKind::Browse, "...", u"", 37, 0, Picker::SaveFile, &kPatchFilter},
    {ControlKind::Browse, "...", u"", 54, 0, Picker::SaveFile, &kReportFilter},
    {ControlKind::Field, "&File Ignore Filter", u"filter", 71},
    {ControlKind::Action, "C&reate Patch"},
    {ControlKind::ViewReport, "&View XML Diff Report"},
    {ControlKind::Help, "&Help"},
    {ControlKind::Check, "Compact patch (smaller; Torquelin 1.3 or later to apply)", u"compact", 86,
     6},
};

}  // namespace

CreatePatchPage::CreatePatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::CreatePatch, u"CrPatch_", kControls, units, parent) {}

JobParams CreatePatchPage::ReadParameters() const {
  return CreatePatchParams{Text(u"olddir"), Text(u"newdir"), Text(u"patch"),
                           Text(u"report"), Text(u"filter"), {.compact = IsSet(u"compact")}};
}

}  // namespace torquelin
