// The main window: a tab per job plus About, the status area, and the
// bridge between the job running on its worker thread and the controls.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <thread>

#include <QTimer>
#include <QWidget>

#include "engine/base/progress.h"
#include "engine/jobs/job_runner.h"
#include "ui/dialog_units.h"
#include "ui/progress_state.h"
#include "ui/stretch_layout.h"
#include "ui/tab_strip.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace torquelin {

class AboutPage;
class FingerprintPage;
class JobPage;

// The tab holding the About page.
inline constexpr int kAboutTab = 6;
// How often the window shows a running job's progress.
inline constexpr int kProgressRefreshMilliseconds = 40;
// Asked when the window is closed while a job runs.
inline constexpr char16_t kQuitDuringJobQuestion[] = u"A job is running. Cancel it and quit?";

// The one main window. Lives on the interface thread. While a job runs, the
// worker thread reports progress into a shared record that the window shows
// on a timer and at each status change, so progress never waits for the
// window; the window's own steps around a job (locking, reading the fields,
// showing the result, saving settings, message boxes) are blocking calls
// carried out on the interface thread. Enter and Escape never close it;
// closing it while a job runs asks first, then cancels the job and closes
// once the job has ended.
class MainWindow : public QWidget, public CProgressSink {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Starts the job on a worker thread unless one is running already, in
  // which case the press is ignored. Interface thread only.
  void StartJob(JobKind kind);
  bool IsJobRunning() const { return worker_.joinable(); }
  // The outcome of the last finished job.
  JobOutcome LastOutcome() const { return lastOutcome_; }

  // The page of a job number; nullptr for a number without a page.
  JobPage* PageForJob(int kind) const;
  TabStrip& Tabs() const { return *tabs_; }
  AboutPage& About() const { return *about_; }
  QLabel& StatusLine() const { return *statusLine_; }
  QLabel& DetailLine() const { return *detailLine_; }
  QProgressBar& ProgressBar() const { return *progress_; }
  QPushButton& CancelButton() const { return *cancel_; }
  const DialogUnits& Units() const { return units_; }

  // CProgressSink, called by the worker thread (or by the window itself).
  uint32_t GetBufferSize() override;
  uint8_t* GetBuffer() override;
  void SetStatus(const std::u16string& text) override;
  void SetDetail(const std::u16string& text) override;
  void ShowMessage(const std::u16string& text) override;
  void SetRange(uint32_t count) override;
  void ResetProgress() override;
  void Step() override;

  // Sets the cancellation request back to "none".
  void ClearCancelRequest();

 signals:
  // A job's worker has ended and the window is idle again.
  void JobFinished();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnInitDialog();
  void OnTabChanged(int index);
  void OnCancelButton();
  void OnWorkerFinished();
  // The worker's body: the window's steps around RunJob.
  JobOutcome RunJobOnWorker(JobKind kind);
  // Whether the user can work a control.
  enum class ControlState { Enabled, Disabled };
  // Each carried out on the interface thread; called by the worker.
  void SetTabStripState(ControlState state);
  void SetCancelState(ControlState state);
  // A disabled page's listed controls are disabled and the focus leaves it.
  void SetPageState(JobKind kind, ControlState state);
  JobParams ReadParameters(JobKind kind);
  void SetFingerprintField(const std::u16string& text);
  void SaveSettings(JobKind kind);
  // Runs fn on the interface thread and returns when it has run.
  template <typename Fn>
  void OnUiThread(Fn&& fn);
  // Throws COPCancel when the user asked to cancel; read afresh each time.
  void CheckCancel() const;
  // Shows the shared progress record now (interface thread), or soon
  // (worker thread).
  void ShowProgress();
  void RequestShowProgress();
  // Whether the user agrees to cancel the running job and quit.
  bool ConfirmQuitDuringJob();

  DialogUnits units_;
  StretchLayout layout_;
  TabStrip* tabs_ = nullptr;
  // Indexed by job number.
  std::array<JobPage*, kJobKindCount> pages_{};
  FingerprintPage* fingerprint_ = nullptr;
  AboutPage* about_ = nullptr;
  QGroupBox* statusBox_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* detailLine_ = nullptr;

  std::atomic<bool> cancelRequested_{false};
  // The jobs' shared work buffer; its contents start undefined.
  std::unique_ptr<uint8_t[]> scratchBuffer_;
  // Joinable exactly while a job's worker exists; touched only on the
  // interface thread.
  std::thread worker_;
  JobKind runningKind_ = JobKind::CreatePatch;
  JobOutcome lastOutcome_ = JobOutcome::Succeeded;
  // The last message box text of the running job; worker thread only.
  std::u16string lastMessage_;
  // The window was closed during a job and closes when the job has ended.
  bool closePending_ = false;

  ProgressState progressState_;
  // The version of progressState_ the controls show.
  uint64_t shownVersion_ = ~uint64_t{0};
  std::atomic<bool> showProgressQueued_{false};
  QTimer progressTimer_;
};

}  // namespace torquelin
