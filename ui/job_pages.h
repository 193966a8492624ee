// The six job pages: their fields, pickers and buttons, the order in which
// they list their controls, and how they turn their fields into a job's
// parameters.
#pragma once

#include <string>

#include <QWidget>

#include "engine/jobs/job_runner.h"
#include "ui/cmn_dlg_functions.h"
#include "ui/dialog_units.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// A page inside the main window's tab control. Every listed control has a
// settings name made of the page's prefix and a suffix (buttons: the bare
// prefix). The page never checks its fields: the job reports bad input.
// Lives and is used on the interface thread.
class CJobPage : public QWidget, public CCmnDlgFunctions {
  Q_OBJECT

 public:
  JobKind Kind() const { return kind_; }
  const std::u16string& Prefix() const { return prefix_; }
  // The job's parameters as the fields show them now, untrimmed.
  virtual JobParams ReadParameters() const = 0;

 signals:
  // The action button was pressed.
  void jobRequested(JobKind kind);

 protected:
  enum class Picker { Folder, OpenFile, SaveFile };

  CJobPage(JobKind kind, std::u16string prefix, const CDialogUnits& units, QWidget* parent);

  // A labelled field on the row at y; its object name is its settings name.
  QComboBox* AddField(int y, const QString& label, const char16_t* suffix);
  // The "..." button right of a field's row.
  QPushButton* AddBrowse(int y, QComboBox* field, Picker picker,
                         const FileFilter* filter = nullptr);
  QCheckBox* AddCheck(int x, int y, const QString& label, const char16_t* suffix);
  // The bottom row. reportField is the field "View XML Diff Report" opens.
  QPushButton* AddHelpButton();
  QPushButton* AddViewReportButton(QComboBox* reportField);
  QPushButton* AddActionButton(const QString& caption);

  // Hands one control to the visitor under prefix + suffix.
  void Item(CDlgItemsItSink& visitor, const char16_t* suffix, QWidget* control) const;
  static std::u16string Text(const QWidget* control) { return GetControlText(*control); }
  static bool IsSet(const QCheckBox* check);

  // Enter and Escape inside a page neither start a job nor close the window.
  void keyPressEvent(QKeyEvent* event) override;

  CDialogUnits units_;

 private:
  QPushButton* AddButton(int x, int width, const QString& caption, const char* objectName);

  JobKind kind_;
  std::u16string prefix_;
};

class CDlgCrPatch : public CJobPage {
 public:
  CDlgCrPatch(const CDialogUnits& units, QWidget* parent);
  void ForEachItem(CDlgItemsItSink& visitor) override;
  JobParams ReadParameters() const override;

 private:
  QComboBox *oldDir_, *newDir_, *patch_, *report_, *filter_;
  QPushButton *oldDirBrowse_, *newDirBrowse_, *patchBrowse_, *reportBrowse_;
  QPushButton *help_, *view_, *action_;
};

class CDlgCrVaultPatch : public CJobPage {
 public:
  CDlgCrVaultPatch(const CDialogUnits& units, QWidget* parent);
  void ForEachItem(CDlgItemsItSink& visitor) override;
  JobParams ReadParameters() const override;

 private:
  QComboBox *dir_, *vault_, *patch_, *report_;
  QPushButton *dirBrowse_, *vaultBrowse_, *patchBrowse_, *reportBrowse_;
  QCheckBox* updateVault_;
  QPushButton *help_, *view_, *action_;
};

class CDlgCrValut : public CJobPage {
 public:
  CDlgCrValut(const CDialogUnits& units, QWidget* parent);
  void ForEachItem(CDlgItemsItSink& visitor) override;
  JobParams ReadParameters() const override;

 private:
  QComboBox *dir_, *vault_, *filter_;
  QPushButton *dirBrowse_, *vaultBrowse_;
  QPushButton *help_, *action_;
};

class CDlgApply : public CJobPage {
 public:
  CDlgApply(const CDialogUnits& units, QWidget* parent);
  void ForEachItem(CDlgItemsItSink& visitor) override;
  JobParams ReadParameters() const override;

 private:
  QComboBox *dir_, *patch_, *report_;
  QPushButton *dirBrowse_, *patchBrowse_, *reportBrowse_;
  QCheckBox *fpIgnore_, *fsIgnore_;
  QPushButton *help_, *view_, *action_;
};

class CDlgPatchInfo : public CJobPage {
 public:
  CDlgPatchInfo(const CDialogUnits& units, QWidget* parent);
  void ForEachItem(CDlgItemsItSink& visitor) override;
  JobParams ReadParameters() const override;

 private:
  QComboBox *patch_, *report_;
  QPushButton *patchBrowse_, *reportBrowse_;
  QPushButton *help_, *view_, *action_;
};

class CDlgFinger : public CJobPage {
 public:
  CDlgFinger(const CDialogUnits& units, QWidget* parent);
  void ForEachItem(CDlgItemsItSink& visitor) override;
  JobParams ReadParameters() const override;
  // The read-only result box; it is not listed, so it stays usable (and its
  // text copyable) while a job runs.
  void SetFingerprint(const std::u16string& text);
  std::u16string Fingerprint() const;

 private:
  QComboBox *dir_, *filter_;
  QPushButton* dirBrowse_;
  QLineEdit* result_;
  QPushButton *help_, *action_;
};
