// The visitor a page hands each of its listed controls to, and the four
// visitors that lock, unlock, load and save a page.
#pragma once

#include <string>
#include <vector>

class QComboBox;
class QWidget;

namespace torquelin {

// Visits one listed control of a page. name is the control's settings name
// (page prefix + suffix, or the bare prefix for controls that store
// nothing). Called on the interface thread.
class ControlVisitor {
 public:
  virtual ~ControlVisitor() = default;
  virtual void Visit(std::u16string name, QWidget& control) = 0;
};

class ControlEnabler : public ControlVisitor {
 public:
  void Visit(std::u16string name, QWidget& control) override;
};

class ControlDisabler : public ControlVisitor {
 public:
  void Visit(std::u16string name, QWidget& control) override;
};

// Loads histories into combo boxes and check states into check boxes; other
// controls are skipped. What cannot be read leaves the control as it is.
class SettingsReader : public ControlVisitor {
 public:
  void Visit(std::u16string name, QWidget& control) override;
};

// Records each combo box's current text in its history and stores the
// history; stores each check box's state (0 or 1). Other controls are skipped.
// A failed write is ignored: the history stays in the control.
class SettingsWriter : public ControlVisitor {
 public:
  void Visit(std::u16string name, QWidget& control) override;
};

// The combo box's list entries, top first.
std::vector<std::u16string> ComboEntries(const QComboBox& combo);

}  // namespace torquelin
