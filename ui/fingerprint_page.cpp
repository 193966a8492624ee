// The "Calculate Fingerprint" page: a directory in, its fingerprint shown.
#include "ui/fingerprint_page.h"

#include <QLineEdit>

namespace torquelin {

namespace {

// In visit order.
const PageControl kControls[] = {
    {ControlKind::Field, "&Directory", u"dir", 3},
    {ControlKind::Field, "&File Ignore Filter", u"filter", 20},
    {ControlKind::Browse, "...", u"", 3, 0, Picker::Folder},
    {ControlKind::Action, "F&ingerprint"},
    {ControlKind::Help, "&Help"},
    // Not listed, so it stays usable (and its text copyable) while a job runs.
    {ControlKind::Result, "Fin&gerprint", u"result", 38},
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

}  // namespace torquelin
