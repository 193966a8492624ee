// The six job pages.
#include "ui/job_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "ui/history_codec.h"
#include "ui/item_visitors.h"
#include "ui/page_help.h"

namespace {

// The page grid, in dialog units.
constexpr int kLabelX = 7;
constexpr int kLabelWidth = 62;  // room for the longest label in any desktop font
// A label's text line sits 6 units below its row and is 8 high; its box is
// a little taller and centres the text, so a taller desktop font still fits.
constexpr int kLabelTop = 3;
constexpr int kLabelHeight = 11;
constexpr int kFieldX = 71;
constexpr int kFieldWidth = 319;
constexpr int kRowHeight = 14;
constexpr int kBrowseX = 396;
constexpr int kBrowseWidth = 18;
constexpr int kCheckWidth = 300;
constexpr int kCheckHeight = 10;
constexpr int kBottomY = 96;
constexpr int kRow[] = {3, 20, 37, 54, 71};

QString Q(const char16_t* text) { return QString::fromUtf16(text); }

}  // namespace

CJobPage::CJobPage(JobKind kind, std::u16string prefix, const CDialogUnits& units, QWidget* parent)
    : QWidget(parent), units_(units), kind_(kind), prefix_(std::move(prefix)) {
  setObjectName(QString::fromStdU16String(prefix_));
  setWhatsThis(PageHelpText(kind_));
}

QComboBox* CJobPage::AddField(int y, const QString& label, const char16_t* suffix) {
  auto* caption = new QLabel(label, this);
  caption->setGeometry(units_.Rect(kLabelX, y + kLabelTop, kLabelWidth, kLabelHeight));
  caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  auto* field = new QComboBox(this);
  field->setEditable(true);
  // The history changes only after a successful job, never by typing Enter.
  field->setInsertPolicy(QComboBox::NoInsert);
  field->setMaxVisibleItems(static_cast<int>(kMaxHistoryEntries));
  field->setGeometry(units_.Rect(kFieldX, y, kFieldWidth, kRowHeight));
  field->setObjectName(QString::fromStdU16String(prefix_) + Q(suffix));
  caption->setBuddy(field);
  return field;
}

QPushButton* CJobPage::AddBrowse(int y, QComboBox* field, Picker picker, const FileFilter* filter) {
  auto* button = new QPushButton(QStringLiteral("..."), this);
  button->setAutoDefault(false);
  button->setGeometry(units_.Rect(kBrowseX, y, kBrowseWidth, kRowHeight));
  button->setObjectName(field->objectName() + QStringLiteral("_browse"));
  connect(button, &QPushButton::clicked, this, [field, picker, filter] {
    const std::u16string current = GetControlText(*field);
    const std::u16string chosen = picker == Picker::Folder
                                      ? BrowseForFolder(current)
                                      : BrowseForFile(picker == Picker::OpenFile, current, *filter);
    field->setEditText(QString::fromStdU16String(chosen));
  });
  return button;
}

QCheckBox* CJobPage::AddCheck(int x, int y, const QString& label, const char16_t* suffix) {
  auto* check = new QCheckBox(label, this);
  check->setGeometry(units_.Rect(x, y, kCheckWidth, kCheckHeight));
  check->setObjectName(QString::fromStdU16String(prefix_) + Q(suffix));
  return check;
}

QPushButton* CJobPage::AddButton(int x, int width, const QString& caption, const char* objectName) {
  auto* button = new QPushButton(caption, this);
  button->setAutoDefault(false);
  button->setGeometry(units_.Rect(x, kBottomY, width, kRowHeight));
  button->setObjectName(QLatin1String(objectName));
  return button;
}

QPushButton* CJobPage::AddHelpButton() {
  QPushButton* button = AddButton(7, 33, QStringLiteral("Help"), "help");
  connect(button, &QPushButton::clicked, this,
          [this] { QMessageBox::information(this, PageHelpTitle(kind_), PageHelpText(kind_)); });
  return button;
}

QPushButton* CJobPage::AddViewReportButton(QComboBox* reportField) {
  QPushButton* button = AddButton(258, 90, QStringLiteral("View XML Diff Report"), "view");
  connect(button, &QPushButton::clicked, this,
          [reportField] { ViewReport(GetControlText(*reportField)); });
  return button;
}

QPushButton* CJobPage::AddActionButton(const QString& caption) {
  QPushButton* button = AddButton(354, 60, caption, "action");
  connect(button, &QPushButton::clicked, this, [this] { emit jobRequested(kind_); });
  return button;
}

void CJobPage::Item(CDlgItemsItSink& visitor, const char16_t* suffix, QWidget* control) const {
  visitor.Visit(prefix_ + suffix, *control);
}

bool CJobPage::IsSet(const QCheckBox* check) { return check->checkState() != Qt::Unchecked; }

void CJobPage::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

// --- Create Patch(Directory) -------------------------------------------------

CDlgCrPatch::CDlgCrPatch(const CDialogUnits& units, QWidget* parent)
    : CJobPage(JobKind::CreatePatch, u"CrPatch_", units, parent) {
  oldDir_ = AddField(kRow[0], QStringLiteral("Older Directory"), u"olddir");
  oldDirBrowse_ = AddBrowse(kRow[0], oldDir_, Picker::Folder);
  newDir_ = AddField(kRow[1], QStringLiteral("Newer Directory"), u"newdir");
  newDirBrowse_ = AddBrowse(kRow[1], newDir_, Picker::Folder);
  patch_ = AddField(kRow[2], QStringLiteral("Patch File"), u"patch");
  patchBrowse_ = AddBrowse(kRow[2], patch_, Picker::SaveFile, &kPatchFilter);
  report_ = AddField(kRow[3], QStringLiteral("XML Diff Report"), u"report");
  reportBrowse_ = AddBrowse(kRow[3], report_, Picker::SaveFile, &kReportFilter);
  filter_ = AddField(kRow[4], QStringLiteral("File Ignore Filter"), u"filter");
  help_ = AddHelpButton();
  view_ = AddViewReportButton(report_);
  action_ = AddActionButton(QStringLiteral("Create Patch"));
}

void CDlgCrPatch::ForEachItem(CDlgItemsItSink& v) {
  Item(v, u"olddir", oldDir_);
  Item(v, u"", oldDirBrowse_);
  Item(v, u"newdir", newDir_);
  Item(v, u"", newDirBrowse_);
  Item(v, u"patch", patch_);
  Item(v, u"report", report_);
  Item(v, u"", patchBrowse_);
  Item(v, u"", reportBrowse_);
  Item(v, u"filter", filter_);
  Item(v, u"", action_);
  Item(v, u"", view_);
  Item(v, u"", help_);
}

JobParams CDlgCrPatch::ReadParameters() const {
  return CreatePatchParams{Text(oldDir_), Text(newDir_), Text(patch_), Text(report_),
                           Text(filter_)};
}

// --- Create Patch(Vault) -----------------------------------------------------

CDlgCrVaultPatch::CDlgCrVaultPatch(const CDialogUnits& units, QWidget* parent)
    : CJobPage(JobKind::CreateVaultPatch, u"CrPatchVault_", units, parent) {
  dir_ = AddField(kRow[0], QStringLiteral("Directory"), u"dir");
  dirBrowse_ = AddBrowse(kRow[0], dir_, Picker::Folder);
  vault_ = AddField(kRow[1], QStringLiteral("Vault File"), u"vault");
  vaultBrowse_ = AddBrowse(kRow[1], vault_, Picker::OpenFile, &kVaultFilter);
  patch_ = AddField(kRow[2], QStringLiteral("Patch File"), u"patch");
  patchBrowse_ = AddBrowse(kRow[2], patch_, Picker::SaveFile, &kPatchFilter);
  report_ = AddField(kRow[3], QStringLiteral("XML Diff Report"), u"report");
  reportBrowse_ = AddBrowse(kRow[3], report_, Picker::SaveFile, &kReportFilter);
  updateVault_ = AddCheck(6, 77, QStringLiteral("Update Vault File"), u"updateVault");
  help_ = AddHelpButton();
  view_ = AddViewReportButton(report_);
  action_ = AddActionButton(QStringLiteral("Create Patch"));
}

void CDlgCrVaultPatch::ForEachItem(CDlgItemsItSink& v) {
  Item(v, u"dir", dir_);
  Item(v, u"", dirBrowse_);
  Item(v, u"patch", patch_);
  Item(v, u"report", report_);
  Item(v, u"vault", vault_);
  Item(v, u"", patchBrowse_);
  Item(v, u"", vaultBrowse_);
  Item(v, u"", reportBrowse_);
  Item(v, u"", action_);
  Item(v, u"", view_);
  Item(v, u"", help_);
  Item(v, u"updateVault", updateVault_);
}

JobParams CDlgCrVaultPatch::ReadParameters() const {
  return CreateVaultPatchParams{Text(dir_), Text(patch_), Text(vault_), Text(report_),
                                IsSet(updateVault_)};
}

// --- Create Vault File -------------------------------------------------------

CDlgCrValut::CDlgCrValut(const CDialogUnits& units, QWidget* parent)
    : CJobPage(JobKind::CreateVault, u"CrVault_", units, parent) {
  dir_ = AddField(kRow[0], QStringLiteral("Older Directory"), u"dir");
  dirBrowse_ = AddBrowse(kRow[0], dir_, Picker::Folder);
  vault_ = AddField(kRow[1], QStringLiteral("Vault File"), u"vault");
  vaultBrowse_ = AddBrowse(kRow[1], vault_, Picker::SaveFile, &kVaultFilter);
  filter_ = AddField(kRow[2], QStringLiteral("File Ignore Filter"), u"filter");
  help_ = AddHelpButton();
  action_ = AddActionButton(QStringLiteral("Create Vault"));
}

void CDlgCrValut::ForEachItem(CDlgItemsItSink& v) {
  Item(v, u"dir", dir_);
  Item(v, u"", dirBrowse_);
  Item(v, u"vault", vault_);
  Item(v, u"", vaultBrowse_);
  Item(v, u"filter", filter_);
  Item(v, u"", action_);
  Item(v, u"", help_);
}

JobParams CDlgCrValut::ReadParameters() const {
  return CreateVaultParams{Text(dir_), Text(filter_), Text(vault_)};
}

// --- Apply Patch -------------------------------------------------------------

CDlgApply::CDlgApply(const CDialogUnits& units, QWidget* parent)
    : CJobPage(JobKind::ApplyPatch, u"Apply_", units, parent) {
  dir_ = AddField(kRow[0], QStringLiteral("Older Directory"), u"dir");
  dirBrowse_ = AddBrowse(kRow[0], dir_, Picker::Folder);
  patch_ = AddField(kRow[1], QStringLiteral("Patch File"), u"patch");
  patchBrowse_ = AddBrowse(kRow[1], patch_, Picker::OpenFile, &kPatchFilter);
  report_ = AddField(kRow[2], QStringLiteral("XML Diff Report"), u"report");
  reportBrowse_ = AddBrowse(kRow[2], report_, Picker::SaveFile, &kReportFilter);
  fpIgnore_ =
      AddCheck(6, 60, QStringLiteral("Ignore Directory Fingerprint(Not Recomnded)"), u"fpignore");
  fsIgnore_ =
      AddCheck(6, 78, QStringLiteral("Continue on Filesystem Errors(Not Recomnded)"), u"fsignore");
  help_ = AddHelpButton();
  view_ = AddViewReportButton(report_);
  action_ = AddActionButton(QStringLiteral("Apply Patch"));
}

void CDlgApply::ForEachItem(CDlgItemsItSink& v) {
  Item(v, u"dir", dir_);
  Item(v, u"", dirBrowse_);
  Item(v, u"patch", patch_);
  Item(v, u"report", report_);
  Item(v, u"", patchBrowse_);
  Item(v, u"", reportBrowse_);
  Item(v, u"", action_);
  Item(v, u"", view_);
  Item(v, u"", help_);
  Item(v, u"fpignore", fpIgnore_);
  Item(v, u"fsignore", fsIgnore_);
}

JobParams CDlgApply::ReadParameters() const {
  return ApplyPatchParams{Text(dir_), Text(patch_), Text(report_), IsSet(fsIgnore_),
                          IsSet(fpIgnore_)};
}

// --- Query Patch -------------------------------------------------------------

CDlgPatchInfo::CDlgPatchInfo(const CDialogUnits& units, QWidget* parent)
    : CJobPage(JobKind::QueryPatch, u"PatchInfo_", units, parent) {
  patch_ = AddField(kRow[0], QStringLiteral("Patch File"), u"patch");
  patchBrowse_ = AddBrowse(kRow[0], patch_, Picker::OpenFile, &kPatchFilter);
  report_ = AddField(kRow[1], QStringLiteral("XML Diff Report"), u"report");
  // The job writes the report, so it is picked like a file to save.
  reportBrowse_ = AddBrowse(kRow[1], report_, Picker::SaveFile, &kReportFilter);
  help_ = AddHelpButton();
  view_ = AddViewReportButton(report_);
  action_ = AddActionButton(QStringLiteral("Querry Patch"));
}

void CDlgPatchInfo::ForEachItem(CDlgItemsItSink& v) {
  Item(v, u"patch", patch_);
  Item(v, u"report", report_);
  Item(v, u"", patchBrowse_);
  Item(v, u"", reportBrowse_);
  Item(v, u"", action_);
  Item(v, u"", view_);
  Item(v, u"", help_);
}

JobParams CDlgPatchInfo::ReadParameters() const {
  return QueryPatchParams{Text(patch_), Text(report_)};
}

// --- Calculate Fingerprint ---------------------------------------------------

CDlgFinger::CDlgFinger(const CDialogUnits& units, QWidget* parent)
    : CJobPage(JobKind::Fingerprint, u"Fingerprint_", units, parent) {
  dir_ = AddField(kRow[0], QStringLiteral("Directory"), u"dir");
  dirBrowse_ = AddBrowse(kRow[0], dir_, Picker::Folder);
  filter_ = AddField(kRow[1], QStringLiteral("File Ignore Filter"), u"filter");
  auto* caption = new QLabel(QStringLiteral("Fingerprint"), this);
  caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  caption->setGeometry(units_.Rect(kLabelX, kRow[2] + kLabelTop, kLabelWidth, kLabelHeight));
  result_ = new QLineEdit(this);
  result_->setReadOnly(true);
  result_->setObjectName(QStringLiteral("Fingerprint_result"));
  result_->setGeometry(units_.Rect(kFieldX, 38, kFieldWidth, kRowHeight));
  caption->setBuddy(result_);
  help_ = AddHelpButton();
  action_ = AddActionButton(QStringLiteral("Fingerprint"));
}

void CDlgFinger::ForEachItem(CDlgItemsItSink& v) {
  Item(v, u"dir", dir_);
  Item(v, u"filter", filter_);
  Item(v, u"", dirBrowse_);
  Item(v, u"", action_);
  Item(v, u"", help_);
}

JobParams CDlgFinger::ReadParameters() const {
  return FingerprintParams{Text(dir_), Text(filter_)};
}

void CDlgFinger::SetFingerprint(const std::u16string& text) {
  result_->setText(QString::fromStdU16String(text));
  result_->setCursorPosition(0);
}

std::u16string CDlgFinger::Fingerprint() const { return result_->text().toStdU16String(); }
