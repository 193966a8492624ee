// The four control visitors.
#include "ui/control_visitors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QWidget>

#include "ui/history_codec.h"
#include "ui/settings_store.h"

namespace torquelin {

namespace {

QString NameText(const std::u16string& name) { return QString::fromStdU16String(name); }

// Shows list in the combo box, entry 0 on top and selected; an empty list
// leaves the field empty.
void ShowHistory(QComboBox& combo, const HistoryList& list) {
  combo.clear();
  combo.clearEditText();
  for (const std::u16string& entry : list) combo.addItem(QString::fromStdU16String(entry));
  if (!list.empty()) combo.setCurrentIndex(0);
}

}  // namespace

std::vector<std::u16string> ComboEntries(const QComboBox& combo) {
  std::vector<std::u16string> entries;
  for (int i = 0; i < combo.count(); ++i) entries.push_back(combo.itemText(i).toStdU16String());
  return entries;
}

void ControlEnabler::Visit(std::u16string, QWidget& control) { control.setEnabled(true); }

void ControlDisabler::Visit(std::u16string, QWidget& control) { control.setEnabled(false); }

void SettingsReader::Visit(std::u16string name, QWidget& control) {
  if (auto* check = qobject_cast<QCheckBox*>(&control)) {
    uint32_t state = 0;
    if (SettingsStore().ReadNumber(NameText(name), state))
      check->setCheckState(state != 0 ? Qt::Checked : Qt::Unchecked);
  } else if (auto* combo = qobject_cast<QComboBox*>(&control)) {
    HistoryList list;
    SettingsStore().ReadHistory(NameText(name), list);
    ShowHistory(*combo, list);
  }
}

void SettingsWriter::Visit(std::u16string name, QWidget& control) {
  if (auto* check = qobject_cast<QCheckBox*>(&control)) {
    SettingsStore().WriteNumber(NameText(name), check->checkState() != Qt::Unchecked ? 1 : 0);
  } else if (auto* combo = qobject_cast<QComboBox*>(&control)) {
    HistoryList list = ComboEntries(*combo);
    RecordHistoryUse(list, combo->currentText().toStdU16String());
    ShowHistory(*combo, list);
    SettingsStore().WriteHistory(NameText(name), list);
  }
}

}  // namespace torquelin
