// The main window.
#include "ui/main_window.h"

#include <climits>
#include <system_error>

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QThread>

#include "engine/base/error_code_text.h"
#include "engine/base/errors.h"
#include "ui/about_page.h"
#include "ui/apply_patch_page.h"
#include "ui/control_visitors.h"
#include "ui/create_patch_page.h"
#include "ui/create_vault_page.h"
#include "ui/fingerprint_page.h"
#include "ui/job_messages.h"
#include "ui/query_patch_page.h"
#include "ui/vault_patch_page.h"

namespace torquelin {

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
QLabel* MakeStatusLine(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

// The seven captions must all be visible at once, as they are in the
// layout's own font; a wider desktop font shrinks the tab captions a little
// instead of hiding tabs behind scroll arrows.
void FitTabsIntoStrip(TabStrip& tabs) {
  QTabBar& bar = *tabs.tabBar();
  QFont font = bar.font();
  const int room = tabs.width() - 4;
  for (qreal size = font.pointSizeF(); size > 6.0 && bar.sizeHint().width() > room; size -= 0.5) {
    font.setPointSizeF(size - 0.5);
    bar.setFont(font);
  }
}

// Extra height goes to the status area, shared by its two text lines, so a
// long path can be read in full.
constexpr Stretch kStatusBox{0, 1, 0, 1};
constexpr Stretch kUpperLine{0, 1, 0, 0.5};
constexpr Stretch kBarRow{0, 1, 0.5, 0};
constexpr Stretch kCancelPlace{1, 0, 0.5, 0};
constexpr Stretch kLowerLine{0, 1, 0.5, 0.5};

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      units_(font()),
      scratchBuffer_(new uint8_t[kScratchBufferSize]) {
  setWindowTitle(QStringLiteral("Torquelin"));
  // The designed size is the smallest: every caption fits in it.
  setMinimumSize(units_.Size(445, 241));
  resize(minimumSize());

  tabs_ = new TabStrip(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  layout_.Place(tabs_, units_.Rect(7, 7, 431, 141), kGrowWide);
  tabs_->setUsesScrollButtons(true);
  tabs_->setElideMode(Qt::ElideNone);

  statusBox_ = new QGroupBox(QStringLiteral("Status"), this);
  layout_.Place(statusBox_, units_.Rect(7, 150, 431, 84), kStatusBox);
  statusLine_ = MakeStatusLine(this);
  statusLine_->setObjectName(QStringLiteral("statusLine"));
  layout_.Place(statusLine_, units_.Rect(15, 159, 415, 27), kUpperLine);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  layout_.Place(progress_, units_.Rect(14, 189, 372, 14), kBarRow);
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  cancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  // Enter on the focused Cancel button presses it.
  cancel_->setAutoDefault(true);
  layout_.Place(cancel_, units_.Rect(390, 189, 41, 14), kCancelPlace);
  cancel_->setEnabled(false);
  connect(cancel_, &QPushButton::clicked, this, &MainWindow::OnCancelButton);
  detailLine_ = MakeStatusLine(this);
  detailLine_->setObjectName(QStringLiteral("detailLine"));
  layout_.Place(detailLine_, units_.Rect(14, 206, 417, 27), kLowerLine);

  auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
  connect(quit, &QShortcut::activated, this, &QWidget::close);

  progressTimer_.setInterval(kProgressRefreshMilliseconds);
  connect(&progressTimer_, &QTimer::timeout, this, &MainWindow::ShowProgress);

  OnInitDialog();
}

MainWindow::~MainWindow() {
  // A window torn down without closing (the application quitting) must not
  // leave a job writing into freed controls: cancel it and serve its last
  // window calls until it has ended.
  if (worker_.joinable()) {
    closePending_ = false;
    cancelRequested_.store(true);
    QEventLoop loop;
    connect(this, &MainWindow::JobFinished, &loop, &QEventLoop::quit);
    if (worker_.joinable()) loop.exec();
  }
}

void MainWindow::OnInitDialog() {
  const QIcon icon = MakeIcon();
  setWindowIcon(icon);

  auto* createPatch = new CreatePatchPage(units_, tabs_);
  auto* vaultPatch = new VaultPatchPage(units_, tabs_);
  auto* createVault = new CreateVaultPage(units_, tabs_);
  auto* apply = new ApplyPatchPage(units_, tabs_);
  auto* queryPatch = new QueryPatchPage(units_, tabs_);
  fingerprint_ = new FingerprintPage(units_, tabs_);
  about_ = new AboutPage(units_, tabs_);

  const std::pair<QWidget*, const char*> tabs[] = {
      {createPatch, "Create Patch(Directory)"},
      {vaultPatch, "Create Patch(Vault)"},
      {createVault, "Create Vault File"},
      {apply, "Apply Patch"},
      {queryPatch, "Query Patch"},
      {fingerprint_, "Calculate Fingerprint"},
      {about_, "About"},
  };
  for (const auto& [page, caption] : tabs) tabs_->addTab(page, QString::fromLatin1(caption));
  FitTabsIntoStrip(*tabs_);

  for (JobPage* page : std::initializer_list<JobPage*>{createPatch, vaultPatch, createVault, apply,
                                                       queryPatch, fingerprint_}) {
    pages_[static_cast<size_t>(page->Kind())] = page;
    connect(page, &JobPage::JobRequested, this, &MainWindow::StartJob);
  }

  tabs_->setCurrentIndex(0);
  connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::OnTabChanged);
  OnTabChanged(0);

  SettingsReader reader;
  for (JobPage* page : pages_)
    if (page != nullptr) page->ForEachItem(reader);

  SetDetail(u"");
  SetStatus(u"");
}

void MainWindow::OnTabChanged(int index) {
  // The tab widget shows the selected page itself; the credits run only
  // while their page is the one shown, and restart from the top each time.
  if (index != kAboutTab)
    about_->StopScrolling();
  else
    about_->StartScrolling();
}

JobPage* MainWindow::PageForJob(int kind) const {
  if (kind < 0 || kind >= kJobKindCount) return nullptr;
  return pages_[static_cast<size_t>(kind)];
}

void MainWindow::OnCancelButton() { cancelRequested_.store(true); }

void MainWindow::StartJob(JobKind kind) {
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
    return;
  }
  runningKind_ = kind;
  progressTimer_.start();
}

void MainWindow::OnWorkerFinished() {
  if (worker_.joinable()) worker_.join();
  progressTimer_.stop();
  // Whatever the job set last stays on screen.
  ShowProgress();
  // The action button lost the focus when its page was locked; the user
  // goes on where they started.
  if (JobPage* page = PageForJob(static_cast<int>(runningKind_)); page && page->isVisible())
    page->ActionButton().setFocus(Qt::OtherFocusReason);
  emit JobFinished();
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

bool MainWindow::ConfirmQuitDuringJob() {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Torquelin"), Q(kQuitDuringJobQuestion),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!worker_.joinable()) {
    event->accept();
    return;
  }
  event->ignore();
  if (closePending_) return;  // already cancelling; closes when the job ends
  if (!ConfirmQuitDuringJob()) return;
  // The job may have ended while the question was open.
  if (!worker_.joinable()) {
    event->accept();
    return;
  }
  closePending_ = true;
  cancelRequested_.store(true);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // A main window is closed on purpose, never by a stray Enter or Escape;
  // the pages leave both keys to it, so they start and stop nothing either.
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

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int extraWidth = width() - minimumWidth();
  layout_.Apply(extraWidth, height() - minimumHeight());
  for (JobPage* page : pages_)
    if (page != nullptr) page->Stretch(extraWidth);
  if (about_ != nullptr) about_->Stretch(extraWidth);
}

template <typename Fn>
void MainWindow::OnUiThread(Fn&& fn) {
  if (QThread::currentThread() == thread())
    fn();
  else
    QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}

void MainWindow::CheckCancel() const {
  if (cancelRequested_.load()) throw COPCancel();
}

// --- Progress ------------------------------------------------------------------

void MainWindow::ShowProgress() {
  showProgressQueued_.store(false);
  if (progressState_.Version() == shownVersion_) return;
  const ProgressState::Snapshot now = progressState_.Take();
  shownVersion_ = now.version;
  statusLine_->setText(Q(now.status));
  detailLine_->setText(Q(now.detail));
  // The bar holds int; a range beyond that is shown scaled.
  if (now.range <= static_cast<uint32_t>(INT_MAX)) {
    progress_->setRange(0, now.range == 0 ? 1 : static_cast<int>(now.range));
    progress_->setValue(static_cast<int>(now.position));
  } else {
    constexpr int kScaled = 1 << 30;
    progress_->setRange(0, kScaled);
    progress_->setValue(static_cast<int>(uint64_t{now.position} * kScaled / now.range));
  }
}

void MainWindow::RequestShowProgress() {
  if (QThread::currentThread() == thread()) {
    ShowProgress();
    return;
  }
  // One pending request is enough: it shows whatever is latest when it runs.
  if (!showProgressQueued_.exchange(true))
    QMetaObject::invokeMethod(
        this, [this] { ShowProgress(); }, Qt::QueuedConnection);
}

// --- CProgressSink -----------------------------------------------------------

uint32_t MainWindow::GetBufferSize() { return kScratchBufferSize; }

uint8_t* MainWindow::GetBuffer() { return scratchBuffer_.get(); }

void MainWindow::SetStatus(const std::u16string& text) {
  progressState_.SetStatus(text);
  // A new phase is shown at once; details and steps wait for the timer.
  RequestShowProgress();
  CheckCancel();
}

void MainWindow::SetDetail(const std::u16string& text) {
  progressState_.SetDetail(text);
  if (QThread::currentThread() == thread()) ShowProgress();
  CheckCancel();
}

void MainWindow::ShowMessage(const std::u16string& text) {
  if (QThread::currentThread() != thread()) lastMessage_ = text;
  OnUiThread([&] {
    ShowProgress();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Torquelin"), Q(WithErrorCodeText(text)),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  });
}

void MainWindow::SetRange(uint32_t count) {
  progressState_.SetRange(count);
  if (QThread::currentThread() == thread()) ShowProgress();
}

void MainWindow::ResetProgress() {
  progressState_.ResetPosition();
  if (QThread::currentThread() == thread()) ShowProgress();
}

void MainWindow::Step() {
  progressState_.Step();
  if (QThread::currentThread() == thread()) ShowProgress();
  CheckCancel();
}

// --- Around a job, on the worker thread ------------------------------------------

// The window's part of a run: clear the request and lock before the job,
// show the fingerprint and keep the page's values after success, unlock in
// every case.
JobOutcome MainWindow::RunJobOnWorker(JobKind kind) {
  ClearCancelRequest();
  SetTabStripState(ControlState::Disabled);
  SetCancelState(ControlState::Enabled);
  SetPageState(kind, ControlState::Disabled);
  // Nothing of an earlier job may pass for this one's.
  progressState_.Clear();
  lastMessage_.clear();
  RequestShowProgress();
  if (kind == JobKind::Fingerprint) SetFingerprintField(u"");
  const JobRun run = RunJob(*this, cancelRequested_, kind, ReadParameters(kind),
                            [&](const std::u16string& result) {
                              if (kind == JobKind::Fingerprint) SetFingerprintField(result);
                              SaveSettings(kind);
                            });
  if (run.outcome == JobOutcome::Failed) {
    // The box is gone once dismissed; the reason stays on the status line.
    progressState_.SetStatus(FailedJobStatus(lastMessage_));
    RequestShowProgress();
  }
  // An apply that went on past errors lists what it skipped.
  if (run.outcome == JobOutcome::Succeeded && !run.skipped.empty())
    ShowMessage(SkippedItemsMessage(run.skipped));
  SetCancelState(ControlState::Disabled);
  SetPageState(kind, ControlState::Enabled);
  SetTabStripState(ControlState::Enabled);
  return run.outcome;
}

void MainWindow::ClearCancelRequest() { cancelRequested_.store(false); }

void MainWindow::SetTabStripState(ControlState state) {
  OnUiThread([&] { tabs_->tabBar()->setEnabled(state == ControlState::Enabled); });
}

void MainWindow::SetCancelState(ControlState state) {
  OnUiThread([&] {
    if (state == ControlState::Enabled)
      ControlEnabler().Visit(u"", *cancel_);
    else
      ControlDisabler().Visit(u"", *cancel_);
  });
}

void MainWindow::SetPageState(JobKind kind, ControlState state) {
  OnUiThread([&] {
    JobPage* page = PageForJob(static_cast<int>(kind));
    if (page == nullptr) return;
    if (state == ControlState::Disabled) {
      // Left to itself the focus would move on to the next control, often
      // Cancel, where a stray Enter would end the job; the window swallows
      // Enter and Escape instead. Alt+C still reaches Cancel.
      if (page->isAncestorOf(QApplication::focusWidget())) setFocus(Qt::OtherFocusReason);
      ControlDisabler disabler;
      page->ForEachItem(disabler);
    } else {
      ControlEnabler enabler;
      page->ForEachItem(enabler);
    }
  });
}

JobParams MainWindow::ReadParameters(JobKind kind) {
  JobParams params;
  OnUiThread([&] {
    if (JobPage* page = PageForJob(static_cast<int>(kind))) params = page->ReadParameters();
  });
  return params;
}

void MainWindow::SetFingerprintField(const std::u16string& text) {
  OnUiThread([&] { fingerprint_->SetFingerprint(text); });
}

void MainWindow::SaveSettings(JobKind kind) {
  OnUiThread([&] {
    if (JobPage* page = PageForJob(static_cast<int>(kind))) {
      SettingsWriter writer;
      page->ForEachItem(writer);
    }
  });
}

}  // namespace torquelin
