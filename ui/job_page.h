// The base of the six job pages: a page declares its controls once, in one
// table, and that table builds the page, lists the controls to the visitors
// and names the fields the job's parameters are read from.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QWidget>

#include "engine/jobs/job_runner.h"
#include "ui/dialog_units.h"
#include "ui/file_pickers.h"
#include "ui/stretch_layout.h"

class QPushButton;

namespace torquelin {

class ControlVisitor;

enum class ControlKind {
  Field,       // editable drop-down with its history, label left of it
  Browse,      // "..." right of the field on the same row
  Check,       // check box
  Result,      // read-only text box, label left of it; not listed
  Action,      // starts the page's job (bottom row, right)
  ViewReport,  // opens the page's "report" field (bottom row)
  Help,        // the page's help (bottom row, left)
};

enum class Picker { None, Folder, OpenFile, SaveFile };

// One control of a page. A page's table lists its controls in the order the
// visitors see them; the page creates them (and so orders Tab) by position
// on screen.
struct PageControl {
  ControlKind kind;
  // The caption; '&' marks the Alt+letter mnemonic and is not shown.
  const char* label;
  // The settings suffix; empty for controls that store nothing.
  const char16_t* key = u"";
  // Top edge in dialog units (fields, "...", check boxes, result box); the
  // bottom row's buttons have theirs fixed.
  int y = 0;
  int x = 0;  // left edge of a check box
  Picker picker = Picker::None;
  const FileFilter* filter = nullptr;
};

// A page inside the main window's tab control. Every listed control is
// visited under its settings name, the page's prefix plus its key (the bare
// prefix for controls without one). The page never checks its fields: the
// job reports bad input. Lives and is used on the interface thread.
class JobPage : public QWidget {
  Q_OBJECT

 public:
  JobKind Kind() const { return kind_; }
  const std::u16string& Prefix() const { return prefix_; }

  // Hands every listed control, with its settings name, to the visitor in
  // the page's fixed order.
  void ForEachItem(ControlVisitor& visitor);
  // The job's parameters as the fields show them now, untrimmed.
  virtual JobParams ReadParameters() const = 0;
  QPushButton& ActionButton() const;
  // Widens the fields (and moves what sits right of them) by extraWidth
  // pixels beyond the designed width.
  void Stretch(int extraWidth);

 signals:
  // The action button was pressed.
  void JobRequested(JobKind kind);

 protected:
  JobPage(JobKind kind, std::u16string prefix, std::span<const PageControl> table,
          const DialogUnits& units, QWidget* parent);

  // The shown text of the field (or result box) with this key.
  std::u16string Text(std::u16string_view key) const;
  // Whether the check box with this key is set.
  bool IsSet(std::u16string_view key) const;
  QWidget& Control(std::u16string_view key) const;

 private:
  QWidget* Build(const PageControl& control);
  QWidget* FieldAt(int y) const;

  JobKind kind_;
  std::u16string prefix_;
  std::span<const PageControl> table_;
  DialogUnits units_;
  StretchLayout layout_;
  // controls_[i] is the control of table_[i].
  std::vector<QWidget*> controls_;
};

// The caption without its mnemonic mark, as the user reads it.
QString ShownText(const QString& caption);

// The control's current text (a field's edit text as shown, a button's
// caption).
std::u16string ControlText(const QWidget& control);

}  // namespace torquelin
