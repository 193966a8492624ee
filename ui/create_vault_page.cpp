// The "Create Vault File" page: a directory in, its vault out.
#include "ui/create_vault_page.h"

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::kField, "&Older Directory", u"dir", 3},
    {ControlKind::kBrowse, "...", u"", 3, 0, Picker::kFolder},
    {ControlKind::kField, "V&ault File", u"vault", 20},
    {ControlKind::kBrowse, "...", u"", 20, 0, Picker::kSaveFile, &kVaultFilter},
    {ControlKind::kField, "&File Ignore Filter", u"filter", 37},
    {ControlKind::kAction, "C&reate Vault"},
    {ControlKind::kHelp, "&Help"},
};

}  // namespace

CreateVaultPage::CreateVaultPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::CreateVault, u"CrVault_", kControls, units, parent) {}

JobParams CreateVaultPage::ReadParameters() const {
  return CreateVaultParams{Text(u"dir"), Text(u"filter"), Text(u"vault")};
}
