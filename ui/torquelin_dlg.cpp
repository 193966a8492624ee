// The main window.
#include "ui/torquelin_dlg.h"

#include <climits>
#include <system_error>

#include <QApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QThread>

#include "engine/base/errors.h"
#include "ui/about_page.h"
#include "ui/apply_patch_page.h"
#include "ui/control_visitors.h"
#include "ui/create_patch_page.h"
#include "ui/create_vault_page.h"
#include "ui/fingerprint_page.h"
#include "ui/query_patch_page.h"
#include "ui/vault_patch_page.h"

namespace {

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

QIcon MakeIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(QColor(0, 100, 0));
  QPainter painter(&pixmap);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(24);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("T"));
  painter.end();
  return QIcon(pixmap);
}

// A status line: plain text (a path may contain '<'), wrapped at words.
QLabel* MakeStatusLine(QWidget* parent, const QRect& geometry) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(geometry);
  return label;
}

// The seven captions must all be visible at once, as they are in the
// layout's own font; a wider desktop font shrinks the tab captions a little
// instead of hiding tabs behind scroll arrows.
void FitTabsIntoStrip(CZRTabCtrl& tabs) {
  QTabBar& bar = *tabs.tabBar();
  QFont font = bar.font();
  const int room = tabs.width() - 4;
  for (qreal size = font.pointSizeF(); size > 6.0 && bar.sizeHint().width() > room; size -= 0.5) {
    font.setPointSizeF(size - 0.5);
    bar.setFont(font);
  }
}

}  // namespace

CTorquelinDlg::CTorquelinDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint),
      units_(font()),
      scratchBuffer_(new uint8_t[kScratchBufferSize]) {
  setWindowTitle(QStringLiteral("Torquelin"));
  setFixedSize(units_.Size(445, 241));

  tabs_ = new CZRTabCtrl(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  tabs_->setGeometry(units_.Rect(7, 7, 431, 141));
  tabs_->setUsesScrollButtons(true);
  tabs_->setElideMode(Qt::ElideNone);

  statusBox_ = new QGroupBox(QStringLiteral("Status"), this);
  statusBox_->setGeometry(units_.Rect(7, 150, 431, 84));
  statusLine_ = MakeStatusLine(this, units_.Rect(15, 159, 415, 27));
  statusLine_->setObjectName(QStringLiteral("statusLine"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setGeometry(units_.Rect(14, 189, 372, 14));
  progress_->setTextVisible(false);
  progress_->setRange(0, static_cast<int>(range_));
  progress_->setValue(0);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  // Enter on the focused Cancel button presses it rather than closing the
  // window.
  cancel_->setAutoDefault(true);
  cancel_->setGeometry(units_.Rect(390, 189, 41, 14));
  cancel_->setEnabled(false);
  connect(cancel_, &QPushButton::clicked, this, &CTorquelinDlg::OnCancelButton);
  detailLine_ = MakeStatusLine(this, units_.Rect(14, 206, 417, 27));
  detailLine_->setObjectName(QStringLiteral("detailLine"));

  OnInitDialog();
}

CTorquelinDlg::~CTorquelinDlg() {
  // A window torn down without closing (the application quitting) must not
  // leave a job writing into freed controls: cancel it and serve its last
  // window calls until it has ended.
  if (worker_.joinable()) {
    closePending_ = false;
    cancelRequested_.store(true);
    QEventLoop loop;
    connect(this, &CTorquelinDlg::JobFinished, &loop, &QEventLoop::quit);
    if (worker_.joinable()) loop.exec();
  }
}

void CTorquelinDlg::OnInitDialog() {
  const QIcon icon = MakeIcon();
  setWindowIcon(icon);

  auto* crPatch = new CDlgCrPatch(units_, tabs_);
  auto* crVaultPatch = new CDlgCrVaultPatch(units_, tabs_);
  auto* crVault = new CDlgCrValut(units_, tabs_);
  auto* apply = new CDlgApply(units_, tabs_);
  auto* patchInfo = new CDlgPatchInfo(units_, tabs_);
  finger_ = new CDlgFinger(units_, tabs_);
  about_ = new CDlgHelp(units_, tabs_);

  const std::pair<QWidget*, const char*> tabs[] = {
      {crPatch, "Create Patch(Directory)"},
      {crVaultPatch, "Create Patch(Vault)"},
      {crVault, "Create Vault File"},
      {apply, "Apply Patch"},
      {patchInfo, "Query Patch"},
      {finger_, "Calculate Fingerprint"},
      {about_, "About"},
  };
  for (const auto& [page, caption] : tabs) tabs_->addTab(page, QString::fromLatin1(caption));
  FitTabsIntoStrip(*tabs_);

  for (CJobPage* page : std::initializer_list<CJobPage*>{crPatch, crVaultPatch, crVault, apply,
                                                         patchInfo, finger_}) {
    pages_[static_cast<size_t>(page->Kind())] = page;
    connect(page, &CJobPage::JobRequested, this, &CTorquelinDlg::StartJob);
  }

  tabs_->setCurrentIndex(0);
  connect(tabs_, &QTabWidget::currentChanged, this, &CTorquelinDlg::OnTabChanged);
  OnTabChanged(0);

  CRegistryReader reader;
  for (CJobPage* page : pages_) page->ForEachItem(reader);

  SetDetail(u"");
  SetStatus(u"");
}

void CTorquelinDlg::OnTabChanged(int index) {
  // The tab widget shows the selected page itself; the credits run only
  // while their page is the one shown, and restart from the top each time.
  if (index != kAboutTab)
    about_->StopScrolling();
  else
    about_->StartScrolling();
}

CJobPage* CTorquelinDlg::PageForJob(int kind) const {
  if (kind < 0 || kind >= kJobKindCount) return nullptr;
  return pages_[static_cast<size_t>(kind)];
}

void CTorquelinDlg::OnCancelButton() { cancelRequested_.store(true); }

void CTorquelinDlg::StartJob(JobKind kind) {
  if (worker_.joinable()) return;
  if (PageForJob(static_cast<int>(kind)) == nullptr) return;
  try {
    worker_ = std::thread([this, kind] {
      lastOutcome_ = RunJobOnWorker(kind);
      // Queued, not blocking: the window joins the thread once it has
      // returned from here.
      QMetaObject::invokeMethod(
          this, [this] { OnWorkerFinished(); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    // No thread: nothing happens and the user may press again.
  }
}

void CTorquelinDlg::OnWorkerFinished() {
  if (worker_.joinable()) worker_.join();
  emit JobFinished();
  if (closePending_) {
    closePending_ = false;
    QDialog::done(closeResult_);
  }
}

void CTorquelinDlg::done(int result) {
  if (worker_.joinable()) {
    closePending_ = true;
    closeResult_ = result;
    cancelRequested_.store(true);
    return;
  }
  QDialog::done(result);
}

void CTorquelinDlg::keyPressEvent(QKeyEvent* event) {
  // Enter outside the pages (and off the Cancel button) ends the dialog like
  // Escape does; the pages swallow both.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

template <typename Fn>
void CTorquelinDlg::OnUiThread(Fn&& fn) {
  if (QThread::currentThread() == thread())
    fn();
  else
    QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}

void CTorquelinDlg::CheckCancel() const {
  if (cancelRequested_.load()) throw COPCancel();
}

// --- CProgressSink -----------------------------------------------------------

uint32_t CTorquelinDlg::GetBufferSize() { return kScratchBufferSize; }

uint8_t* CTorquelinDlg::GetBuffer() { return scratchBuffer_.get(); }

void CTorquelinDlg::SetStatus(const std::u16string& text) {
  OnUiThread([&] { statusLine_->setText(Q(text)); });
  CheckCancel();
}

void CTorquelinDlg::SetDetail(const std::u16string& text) {
  OnUiThread([&] { detailLine_->setText(Q(text)); });
  CheckCancel();
}

void CTorquelinDlg::ShowMessage(const std::u16string& text) {
  OnUiThread([&] {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Torquelin"), Q(text), QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  });
}

void CTorquelinDlg::ShowProgress() {
  // The bar holds int; a range beyond that is shown scaled.
  if (range_ <= static_cast<uint32_t>(INT_MAX)) {
    progress_->setRange(0, range_ == 0 ? 1 : static_cast<int>(range_));
    progress_->setValue(static_cast<int>(position_));
  } else {
    constexpr int kScaled = 1 << 30;
    progress_->setRange(0, kScaled);
    progress_->setValue(static_cast<int>(uint64_t{position_} * kScaled / range_));
  }
}

void CTorquelinDlg::SetRange(uint32_t count) {
  OnUiThread([&] {
    range_ = count;
    if (position_ > range_) position_ = range_;
    ShowProgress();
  });
}

void CTorquelinDlg::ResetProgress() {
  OnUiThread([&] {
    position_ = 0;
    ShowProgress();
  });
}

void CTorquelinDlg::Step() {
  OnUiThread([&] {
    // A step past the end starts the bar over, as progress bars always have.
    position_ = position_ >= range_ ? 0 : position_ + 1;
    ShowProgress();
  });
  CheckCancel();
}

// --- Around a job, on the worker thread ------------------------------------------

// The window's part of a run: clear the request and lock before the job,
// show the fingerprint and keep the page's values after success, unlock in
// every case.
JobOutcome CTorquelinDlg::RunJobOnWorker(JobKind kind) {
  ClearCancelRequest();
  SetTabStripEnabled(false);
  SetCancelEnabled(true);
  SetPageLocked(kind, true);
  if (kind == JobKind::Fingerprint) SetFingerprintField(u"");
  const JobRun run = RunJob(*this, cancelRequested_, kind, ReadParameters(kind),
                            [&](const std::u16string& result) {
                              if (kind == JobKind::Fingerprint) SetFingerprintField(result);
                              SaveSettings(kind);
                            });
  SetCancelEnabled(false);
  SetPageLocked(kind, false);
  SetTabStripEnabled(true);
  return run.outcome;
}

void CTorquelinDlg::ClearCancelRequest() { cancelRequested_.store(false); }

void CTorquelinDlg::SetTabStripEnabled(bool enabled) {
  OnUiThread([&] { tabs_->tabBar()->setEnabled(enabled); });
}

void CTorquelinDlg::SetCancelEnabled(bool enabled) {
  OnUiThread([&] {
    if (enabled)
      CControlEnabler().Visit(u"", *cancel_);
    else
      CControlDisabler().Visit(u"", *cancel_);
  });
}

void CTorquelinDlg::SetPageLocked(JobKind kind, bool locked) {
  OnUiThread([&] {
    CJobPage* page = PageForJob(static_cast<int>(kind));
    if (page == nullptr) return;
    if (locked) {
      CControlDisabler disabler;
      page->ForEachItem(disabler);
    } else {
      CControlEnabler enabler;
      page->ForEachItem(enabler);
    }
  });
}

JobParams CTorquelinDlg::ReadParameters(JobKind kind) {
  JobParams params;
  OnUiThread([&] {
    if (CJobPage* page = PageForJob(static_cast<int>(kind))) params = page->ReadParameters();
  });
  return params;
}

void CTorquelinDlg::SetFingerprintField(const std::u16string& text) {
  OnUiThread([&] { finger_->SetFingerprint(text); });
}

void CTorquelinDlg::SaveSettings(JobKind kind) {
  OnUiThread([&] {
    if (CJobPage* page = PageForJob(static_cast<int>(kind))) {
      CRegistryWriter writer;
      page->ForEachItem(writer);
    }
  });
}
