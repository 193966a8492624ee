// The "Calculate Fingerprint" page: a directory in, its fingerprint shown.
#include "ui/fingerprint_page.h"

#include <QLineEdit>

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::kField, "&Directory", u"dir", 3},
    {ControlKind::kField, "&File Ignore Filter", u"filter", 20},
    {ControlKind::kBrowse, "...", u"", 3, 0, Picker::kFolder},
    {ControlKind::kAction, "F&ingerprint"},
    {ControlKind::kHelp, "&Help"},
    // Not listed, so it stays usable (and its text copyable) while a job runs.
    {ControlKind::kResult, "Fin&gerprint", u"result", 38},
};

}  // namespace

FingerprintPage::FingerprintPage(const DialogUnits& units, QWidget* parent)
    : JobPage(JobKind::Fingerprint, u"Fingerprint_", kControls, units, parent) {}

JobParams FingerprintPage::ReadParameters() const {
  return FingerprintParams{Text(u"dir"), Text(u"filter")};
}

void FingerprintPage::SetFingerprint(const std::u16string& text) {
  auto& result = static_cast<QLineEdit&>(Control(u"result"));
  result.setText(QString::fromStdU16String(text));
  result.setCursorPosition(0);
}

std::u16string FingerprintPage::Fingerprint() const { return Text(u"result"); }
