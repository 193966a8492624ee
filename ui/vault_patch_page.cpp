// The "Create Patch(Vault)" page: a vault and a directory in, one patch out.
#include "ui/vault_patch_page.h"

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::kField, "&Directory", u"dir", 3},
    {ControlKind::kBrowse, "...", u"", 3, 0, Picker::kFolder},
    {ControlKind::kField, "&Patch File", u"patch", 37},
    {ControlKind::kField, "&XML Diff Report", u"report", 54},
    {ControlKind::kField, "V&ault File", u"vault", 20},
    {ControlKind::kBrowse, "...", u"", 37, 0, Picker::kSaveFile, &kPatchFilter},
    {ControlKind::kBrowse, "...", u"", 20, 0, Picker::kOpenFile, &kVaultFilter},
    {ControlKind::kBrowse, "...", u"", 54, 0, Picker::kSaveFile, &kReportFilter},
    {ControlKind::kAction, "C&reate Patch"},
    {ControlKind::kViewReport, "&View XML Diff Report"},
    {ControlKind::kHelp, "&Help"},
    {ControlKind::kCheck, "&Update Vault File", u"updateVault", 77, 6},
};

}  // namespace

VaultPatchPage::VaultPatchPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::CreateVaultPatch, u"CrPatchVault_", kControls, units, parent) {}

JobParams VaultPatchPage::ReadParameters() const {
  return CreateVaultPatchParams{Text(u"dir"), Text(u"patch"), Text(u"vault"), Text(u"report"),
                                IsSet(u"updateVault")};
}
