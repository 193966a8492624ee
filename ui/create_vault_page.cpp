// The "Create Vault File" page: a directory in, its vault out.
#include "ui/create_vault_page.h"

namespace torquelin {

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::Field, "&Older Directory", u"dir", 3},
    {ControlKind::Browse, "...", u"", 3, 0, Picker::Folder},
    {ControlKind::Field, "V&ault File", u"vault", 20},
    {ControlKind::Browse, "...", u"", 20, 0, Picker::SaveFile, &kVaultFilter},
    {ControlKind::Field, "&File Ignore Filter", u"filter", 37},
    {ControlKind::Action, "C&reate Vault"},
    {ControlKind::Help, "&Help"},
};

}  // namespace

CreateVaultPage::CreateVaultPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::CreateVault, u"CrVault_", kControls, units, parent) {}

JobParams CreateVaultPage::ReadParameters() const {
  return CreateVaultParams{Text(u"dir"), Text(u"filter"), Text(u"vault")};
}

}  // namespace torquelin
