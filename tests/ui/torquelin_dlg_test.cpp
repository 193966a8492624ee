// The main window: tabs, pages, their labels and visit orders, the About
// page, screenshots of every tab, and jobs run through the window.
#include "ui/torquelin_dlg.h"

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QThread>
#include <QtTest>

#include "engine/base/errors.h"
#include "engine/base/progress.h"
#include "engine/base/silent_sink.h"
#include "engine/jobs/job_runner.h"
#include "ui/about_page.h"
#include "ui/control_visitors.h"
#include "ui/fingerprint_page.h"
#include "ui/job_page.h"
#include "ui_test_support.h"

namespace {

void WriteTree(const QString& root, int directories, int filesEach) {
  for (int d = 0; d < directories; ++d) {
    const QString dir = root + "/d" + QString::number(d);
    QDir().mkpath(dir);
    for (int f = 0; f < filesEach; ++f) {
      QFile file(dir + "/f" + QString::number(f) + ".txt");
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QByteArray("content ") + QByteArray::number(d * 1000 + f));
    }
  }
}

void SaveScreenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(TORQUELIN_SCREENSHOT_DIR);
  QVERIFY(widget.grab().save(QString(TORQUELIN_SCREENSHOT_DIR) + "/" + name + ".png"));
}

// A window whose job takes a while per step, so that a test sees, and acts
// on, a job at work.
class PacedWindow : public CTorquelinDlg {
 public:
  void Step() override {
    CTorquelinDlg::Step();
    if (QThread::currentThread() != thread()) QThread::usleep(pace);
  }
  std::atomic<unsigned long> pace{2000};
};

// Serves the window until the worker reports it is done.
bool WaitForJob(CTorquelinDlg& dlg, QSignalSpy& finished, int count = 1) {
  for (int i = 0; i < 600 && finished.count() < count; ++i) finished.wait(100);
  return finished.count() >= count && !dlg.IsJobRunning();
}

// Serves the window one short pass at a time until a running job's window
// shows what shown() looks for.
bool WaitUntilShown(CTorquelinDlg& dlg, const std::function<bool()>& shown) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (dlg.CancelButton().isEnabled() && shown()) return true;
  }
  return false;
}

bool WaitUntilRunning(CTorquelinDlg& dlg) {
  return WaitUntilShown(dlg, [&] { return !dlg.StatusLine().text().isEmpty(); });
}

// A shown window on the fingerprint page with its directory field set.
struct FingerprintWindow {
  explicit FingerprintWindow(const QString& dir) {
    dlg.show();
    dlg.TabCtrl().setCurrentIndex(5);
    Field(dlg, JobKind::Fingerprint, "Fingerprint_dir").setEditText(dir);
  }
  CDlgFinger& Page() { return *static_cast<CDlgFinger*>(dlg.PageForJob(5)); }
  void Press() { Action(dlg, JobKind::Fingerprint).click(); }
  bool WaitForJob(int count = 1) { return ::WaitForJob(dlg, finished, count); }

  PacedWindow dlg;
  QSignalSpy finished{&dlg, &CTorquelinDlg::JobFinished};
};

std::u16string EngineFingerprint(const QString& dir) {
  CSilentSink sink;
  FingerprintParams params{dir.toStdU16String(), u""};
  return EntryPointFor(JobKind::Fingerprint)(sink, JobParams(params)).text;
}

// What `torquelin -q fingerprint dir` prints, or nothing without the program.
QString CommandLineFingerprint(const QString& dir) {
  const QString program = QString(TORQUELIN_BIN_DIR) + "/torquelin";
  if (!QFileInfo(program).isExecutable()) return {};
  QProcess process;
  process.start(program, {"-q", "fingerprint", dir});
  if (!process.waitForFinished(30000) || process.exitCode() != 0) return "(failed)";
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

void CheckIdle(CTorquelinDlg& dlg) {
  QVERIFY(dlg.TabCtrl().tabBar()->isEnabled());
  QVERIFY(!dlg.CancelButton().isEnabled());
  for (int kind = 0; kind < kJobKindCount; ++kind)
    if (dlg.PageForJob(kind) != nullptr) QVERIFY(AllListedEnabled(*dlg.PageForJob(kind)));
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(settingsDir_.isValid()); }
  void init() { UseTemporarySettings(settingsDir_); }

  void startsIdleWithEmptyStatusLines() {
    CTorquelinDlg dlg;
    QCOMPARE(dlg.windowTitle(), QString("Torquelin"));
    QCOMPARE(dlg.size(), dlg.Units().Size(445, 241));
    QCOMPARE(dlg.minimumSize(), dlg.size());  // it may grow, never shrink
    QVERIFY(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(dlg.GetBufferSize(), 2097152u);
    QCOMPARE(dlg.StatusLine().text(), QString());
    QCOMPARE(dlg.DetailLine().text(), QString());
    QCOMPARE(dlg.ProgressBar().value(), 0);
    QCOMPARE(dlg.TabCtrl().currentIndex(), 0);
    CheckIdle(dlg);
  }

  // The cancellation points show their change first, then throw.
  void sinkShowsItsWorkBeforeCancelling() {
    CTorquelinDlg dlg;
    dlg.CancelButton().setEnabled(true);
    dlg.CancelButton().click();
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"status", [&] { dlg.SetStatus(u"Counting all files"); }},
        {"detail", [&] { dlg.SetDetail(u"Processing: \\a<b>"); }},
        {"step", [&] { dlg.Step(); }},
    };
    dlg.SetRange(10);
    for (const auto& [name, call] : calls) {
      bool cancelled = false;
      try {
        call();
      } catch (const COPCancel&) {
        cancelled = true;
      }
      QVERIFY2(cancelled, name);
    }
    QCOMPARE(dlg.StatusLine().text(), QString("Counting all files"));
    QCOMPARE(dlg.DetailLine().text(), QString("Processing: \\a<b>"));  // plain text, not markup
    QCOMPARE(dlg.DetailLine().textFormat(), Qt::PlainText);
    QCOMPARE(dlg.ProgressBar().value(), 1);
    dlg.ClearCancelRequest();
    dlg.SetStatus(u"goes on");
  }

  // SetRange keeps the position; a step past the end starts the bar over.
  void progressBarWrapsPastItsEnd() {
    CTorquelinDlg dlg;
    dlg.SetRange(2);
    dlg.ResetProgress();
    QList<int> positions;
    for (int i = 0; i < 4; ++i) {
      dlg.Step();
      positions << dlg.ProgressBar().value();
    }
    QCOMPARE(positions, (QList<int>{1, 2, 0, 1}));
    dlg.SetRange(5);
    QCOMPARE(dlg.ProgressBar().value(), 1);
    QCOMPARE(dlg.ProgressBar().maximum(), 5);
  }

  void tabsInOrderWithTheirJobs() {
    CTorquelinDlg dlg;
    QStringList captions;
    for (int i = 0; i < dlg.TabCtrl().count(); ++i) captions << dlg.TabCtrl().tabText(i);
    QCOMPARE(captions,
             (QStringList{"Create Patch(Directory)", "Create Patch(Vault)", "Create Vault File",
                          "Apply Patch", "Query Patch", "Calculate Fingerprint", "About"}));
    // Tab index -> job number: the tabs are not in job order.
    const int jobOfTab[] = {0, 1, 4, 2, 3, 5};
    for (int tab = 0; tab < 6; ++tab) {
      auto* page = qobject_cast<CJobPage*>(dlg.TabCtrl().widget(tab));
      QVERIFY(page != nullptr);
      QCOMPARE(int(page->Kind()), jobOfTab[tab]);
      QCOMPARE(dlg.PageForJob(jobOfTab[tab]), page);
    }
    QCOMPARE(dlg.TabCtrl().widget(kAboutTab), &dlg.AboutPage());
    QCOMPARE(dlg.PageForJob(6), nullptr);
    QCOMPARE(dlg.PageForJob(-1), nullptr);
  }

  void historiesLoadAtStartWithTheMostRecentShown() {
    CRegistry().WriteStringList("CrPatch_olddir", {u"/recent", u"/older"});
    CRegistry().WriteDword("CrPatchVault_updateVault", 1);
    CTorquelinDlg dlg;
    QComboBox& field = Field(dlg, JobKind::CreatePatch, "CrPatch_olddir");
    QCOMPARE(field.currentText(), QString("/recent"));
    QCOMPARE(field.count(), 2);
    QVERIFY(dlg.PageForJob(1)->findChild<QCheckBox*>("CrPatchVault_updateVault")->isChecked());
    QCOMPARE(Field(dlg, JobKind::CreatePatch, "CrPatch_newdir").currentText(), QString());
  }

  // The designed size is the smallest; beyond it the fields and the status
  // area take the extra room, and the buttons right of the fields keep
  // their distance from the edge. Leaves a picture of every tab at both sizes.
  void windowGrowsWithItsFieldsAndStatusArea() {
    CTorquelinDlg dlg;
    dlg.show();
    Field(dlg, JobKind::CreatePatch, "CrPatch_olddir").setEditText("/srv/site/2026-11");
    Field(dlg, JobKind::CreatePatch, "CrPatch_newdir").setEditText("/srv/site/2026-12");
    Field(dlg, JobKind::CreatePatch, "CrPatch_patch").setEditText("/srv/patches/site-2026-12.dov");
    Field(dlg, JobKind::CreatePatch, "CrPatch_filter").setEditText("*.tmp;*.bak");
    dlg.SetStatus(u"Calculating file ids...");
    dlg.SetDetail(
        u"Processing: \\srv\\site\\2026-12\\a rather long directory name\\"
        u"and a file name long enough to need the width.txt");
    const QSize designed = dlg.size();
    const QSize grown(300, 160);
    CJobPage& page = *dlg.PageForJob(int(JobKind::CreatePatch));
    QWidget* followers[] = {&Field(dlg, JobKind::CreatePatch, "CrPatch_olddir"),
                            page.findChild<QPushButton*>("CrPatch_olddir_browse"),
                            &Action(dlg, JobKind::CreatePatch),
                            page.findChild<QPushButton*>("help"),
                            &dlg.StatusLine(),
                            &dlg.DetailLine(),
                            &dlg.CancelButton()};
    QList<QRect> before;
    for (QWidget* w : followers) before << w->geometry();
    const char* names[] = {"tab0_create_patch_directory",
                           "tab1_create_patch_vault",
                           "tab2_create_vault_file",
                           "tab3_apply_patch",
                           "tab4_query_patch",
                           "tab5_calculate_fingerprint",
                           "tab6_about"};
    for (const QSize& size : {designed, designed + grown}) {
      dlg.resize(size);
      for (int tab = 0; tab < 7; ++tab) {
        dlg.TabCtrl().setCurrentIndex(tab);
        QCoreApplication::processEvents();
        SaveScreenshot(dlg, QString(names[tab]) + (size == designed ? "_min" : "_large"));
      }
    }
    dlg.TabCtrl().setCurrentIndex(0);
    QCoreApplication::processEvents();
    const QRect expected[] = {
        before[0].adjusted(0, 0, grown.width(), 0),                   // field widens
        before[1].translated(grown.width(), 0),                       // "..." keeps right
        before[2].translated(grown.width(), 0),                       // action keeps right
        before[3],                                                    // Help stays
        before[4].adjusted(0, 0, grown.width(), grown.height() / 2),  // status line
        before[5].adjusted(0, grown.height() / 2, grown.width(), grown.height()),
        before[6].translated(grown.width(), grown.height() / 2),  // Cancel
    };
    for (int i = 0; i < 7; ++i) QCOMPARE(followers[i]->geometry(), expected[i]);
    dlg.resize(designed - QSize(40, 40));
    QCOMPARE(dlg.size(), designed);
  }

  void fingerprintJobFillsTheFieldAndSavesSettings() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 3, 4);
    FingerprintWindow w(tree.path() + "/");
    w.Page().SetFingerprint(u"stale");
    QApplication::setActiveWindow(&w.dlg);
    Action(w.dlg, JobKind::Fingerprint).setFocus();
    w.Press();
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.dlg.LastOutcome(), JobOutcome::Succeeded);
    const QString expected = QString::fromStdU16String(EngineFingerprint(tree.path()));
    QCOMPARE(expected.size(), 40);
    QCOMPARE(QString::fromStdU16String(w.Page().Fingerprint()), expected);
    const QString fromCommandLine = CommandLineFingerprint(tree.path());
    if (!fromCommandLine.isEmpty()) QCOMPARE(fromCommandLine, expected);
    QCOMPARE(w.dlg.StatusLine().text(), QString("Fingerprint calculated."));
    QVERIFY(w.dlg.DetailLine().text().startsWith("Completed.  Time:"));
    HistoryList dirs, filters;
    QVERIFY(CRegistry().ReadStringList("Fingerprint_dir", dirs));
    QCOMPARE(ToStrings(dirs), QStringList{tree.path() + "/"});
    QVERIFY(CRegistry().ReadStringList("Fingerprint_filter", filters));
    QCOMPARE(ToStrings(filters), QStringList{""});
    CheckIdle(w.dlg);
    // Locking the page took the focus from the button; it comes back.
    QCOMPARE(QApplication::focusWidget(), &Action(w.dlg, JobKind::Fingerprint));
  }

  void missingDirectoryShowsOneMessageAndSavesNothing() {
    QTemporaryDir parent;
    const QString missing = parent.path() + "/not here";
    FingerprintWindow w(missing);
    w.Page().SetFingerprint(u"from an earlier run");
    // What an earlier job left must not pass for this one's.
    w.dlg.SetStatus(u"Fingerprint calculated.");
    w.dlg.SetRange(2);
    w.dlg.Step();
    w.dlg.Step();
    MessageBoxCloser closer;
    w.Press();
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.dlg.LastOutcome(), JobOutcome::Failed);
    QCOMPARE(closer.texts.size(), 1);
    const QStringList lines = closer.texts.front().split('\n');
    QCOMPARE(lines.size(), 5);  // four lines, each ending in a line feed
    QCOMPARE(lines[0], QString("Error type:1"));
    QCOMPARE(lines[1], "Message: Directory for fingerprinting does  not exists: " + missing);
    QCOMPARE(lines[2], QString("Error Code: 2 (No such file or directory)"));
    QVERIFY(lines[3].startsWith("Location: .\\rezeriravodu line:"));
    QCOMPARE(lines[4], QString());
    QCOMPARE(w.Page().Fingerprint(), std::u16string());
    QCOMPARE(w.dlg.StatusLine().text(),
             "Job failed: Directory for fingerprinting does  not exists: " + missing);
    QVERIFY(w.dlg.DetailLine().text().startsWith("Completed.  Time:"));
    QCOMPARE(w.dlg.ProgressBar().value(), 0);
    QVERIFY(!StoredValue("Fingerprint_dir").isValid());
    QVERIFY(!StoredValue("Fingerprint_filter").isValid());
    CheckIdle(w.dlg);
  }

  void cancelDuringAScanShowsCancelled() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    FingerprintWindow w(tree.path());
    w.Press();
    // Well into digesting the files, so the picture shows a job at work.
    QVERIFY(WaitUntilShown(w.dlg, [&] {
      const QProgressBar& bar = w.dlg.ProgressBar();
      return w.dlg.StatusLine().text() == "Calculating file ids..." &&
             w.dlg.DetailLine().text().endsWith(".txt") && bar.value() > bar.maximum() / 3 &&
             bar.value() < bar.maximum() * 2 / 3;
    }));
    // While the job runs: tab strip, page and its buttons locked, Cancel open;
    // the result box is not listed and stays usable.
    QVERIFY(!w.dlg.TabCtrl().tabBar()->isEnabled());
    QVERIFY(NoneListedEnabled(w.Page()));
    QVERIFY(w.Page().findChild<QLineEdit*>("Fingerprint_result")->isEnabled());
    SaveScreenshot(w.dlg, "window_during_job");
    // Enter on the focused Cancel button presses it and closes nothing.
    w.dlg.CancelButton().setFocus();
    QTest::keyClick(&w.dlg.CancelButton(), Qt::Key_Return);
    QVERIFY(w.WaitForJob());
    QVERIFY(w.dlg.isVisible());
    QCOMPARE(w.dlg.LastOutcome(), JobOutcome::Cancelled);
    QCOMPARE(w.dlg.StatusLine().text(), QString("Cancelled"));
    QVERIFY(w.dlg.DetailLine().text().startsWith("Completed.  Time:"));
    QCOMPARE(w.Page().Fingerprint(), std::u16string());
    QVERIFY(!StoredValue("Fingerprint_dir").isValid());
    CheckIdle(w.dlg);
  }

  void twoQuickPressesStartOneJob() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 2, 3);
    FingerprintWindow w(tree.path());
    w.Press();
    w.Press();
    w.dlg.StartJob(JobKind::CreatePatch);
    QVERIFY(w.WaitForJob());
    QTest::qWait(200);
    QCOMPARE(w.finished.count(), 1);
    QCOMPARE(w.dlg.LastOutcome(), JobOutcome::Succeeded);
    CheckIdle(w.dlg);
  }

  // Every job, whatever its outcome with empty fields, leaves the window idle.
  void windowUnlockedAfterEveryJob() {
    QTemporaryDir workDir;  // whatever a job makes of empty paths lands here
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());
    auto restore = qScopeGuard([&] { QDir::setCurrent(previousDir); });
    FingerprintWindow w("");
    MessageBoxCloser closer;
    for (int kind = 0; kind < kJobKindCount; ++kind) {
      if (w.dlg.PageForJob(kind) == nullptr) continue;  // a job the window does not offer
      w.dlg.StartJob(JobKind(kind));
      QVERIFY(w.WaitForJob(kind + 1));
      QVERIFY(w.dlg.DetailLine().text().startsWith("Completed.  Time:"));
      CheckIdle(w.dlg);
    }
  }

  // Closing asks first: "No" keeps the job running, "Yes" cancels it and
  // closes once it has ended.
  void closingDuringAJobAsks() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    FingerprintWindow w(tree.path());
    w.Press();
    QVERIFY(WaitUntilRunning(w.dlg));
    {
      MessageBoxCloser no(QMessageBox::No);
      QVERIFY(!w.dlg.close());
      QCOMPARE(no.texts, QStringList{"A job is running. Cancel it and quit?"});
    }
    QTest::qWait(100);
    QVERIFY(w.dlg.isVisible());
    QVERIFY(w.dlg.IsJobRunning());
    QVERIFY(!w.dlg.CancelButton().isHidden() && w.dlg.CancelButton().isEnabled());
    {
      MessageBoxCloser yes(QMessageBox::Yes);
      QVERIFY(!w.dlg.close());  // not yet: the job must end first
      QCOMPARE(yes.texts.size(), 1);
    }
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.dlg.LastOutcome(), JobOutcome::Cancelled);
    QTRY_VERIFY(!w.dlg.isVisible());
  }

  void closingWhenIdleAsksNothing() {
    CTorquelinDlg dlg;
    dlg.show();
    MessageBoxCloser closer;
    QVERIFY(dlg.close());
    QVERIFY(closer.texts.isEmpty());
  }

  // Enter and Escape, wherever the focus is, neither close the window nor
  // start or stop a job.
  void enterAndEscapeNeverCloseTheWindow() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    FingerprintWindow w(tree.path());
    QApplication::setActiveWindow(&w.dlg);
    const Qt::Key keys[] = {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter};
    auto pressAll = [&](QWidget* target) {
      for (Qt::Key key : keys) {
        QTest::keyClick(target, key);
        QTest::keyClick(&w.dlg, key);
      }
    };
    for (int tab = 0; tab < w.dlg.TabCtrl().count(); ++tab) {
      w.dlg.TabCtrl().setCurrentIndex(tab);
      QWidget* page = w.dlg.TabCtrl().widget(tab);
      QList<QWidget*> focusable;
      for (QWidget* child : page->findChildren<QWidget*>())
        if (child->focusPolicy() & Qt::TabFocus) focusable << child;
      if (focusable.isEmpty()) focusable << page;
      for (QWidget* target : focusable) {
        target->setFocus();
        pressAll(target);
      }
      QVERIFY2(w.dlg.isVisible(), qPrintable(w.dlg.TabCtrl().tabText(tab)));
      QVERIFY(!w.dlg.IsJobRunning());
    }
    w.dlg.TabCtrl().setCurrentIndex(5);
    w.Press();
    QVERIFY(WaitUntilRunning(w.dlg));
    QWidget* focused = QApplication::focusWidget();
    pressAll(focused != nullptr ? focused : &w.dlg);
    QTest::qWait(50);
    QVERIFY(w.dlg.isVisible());
    QVERIFY(w.dlg.IsJobRunning());
    w.dlg.CancelButton().click();
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.dlg.LastOutcome(), JobOutcome::Cancelled);
    QVERIFY(w.dlg.isVisible());
  }

  void destroyingTheWindowDuringAJobEndsTheJobFirst() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    auto w = std::make_unique<FingerprintWindow>(tree.path());
    w->Press();
    QVERIFY(WaitUntilRunning(w->dlg));
    w.reset();  // must neither hang nor let the worker touch freed controls
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(WindowTest)
#include "torquelin_dlg_test.moc"
