// The "Create Patch(Vault)" page: a vault and a directory in, one patch out.
#include "ui/vault_patch_page.h"

namespace torquelin {

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::Field, "&Directory", u"dir", 3},
    {ControlKind::Browse, "...", u"", 3, 0, Picker::Folder},
    {ControlKind::Field, "&Patch File", u"patch", 37},
    {ControlKind::Field, "&XML Diff Report", u"report", 54},
    {ControlKind::Field, "V&ault File", u"vault", 20},
    {ControlKind::Browse, "...", u"", 37, 0, Picker::SaveFile, &kPatchFilter},
    {ControlKind::Browse, "...", u"", 20, 0, Picker::OpenFile, &kVaultFilter},
    {ControlKind::Browse, "...", u"", 54, 0, Picker::SaveFile, &kReportFilter},
    {ControlKind::Action, "C&reate Patch"},
    {ControlKind::ViewReport, "&View XML Diff Report"},
    {ControlKind::Help, "&Help"},
    {ControlKind::Check, "&Update Vault File", u"updateVault", 77, 6},
    // Its box reaches a unit into Update Vault File's, so the page keeps its
    // height; the two texts do not touch.
    {ControlKind::Check, "Compact patch (smaller; Torquelin 1.3 or later to apply)", u"compact", 86,
     6},
};

}  // namespace

VaultPatchPage::VaultPatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::CreateVaultPatch, u"CrPatchVault_", kControls, units, parent) {}

JobParams VaultPatchPage::ReadParameters() const {
  return CreateVaultPatchParams{Text(u"dir"),          Text(u"patch"),
                                Text(u"vault"),        Text(u"report"),
                                IsSet(u"updateVault"), {.compact = IsSet(u"compact")}};
}

}  // namespace torquelin
