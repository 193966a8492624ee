// The main window: tabs, pages, their labels and visit orders, the About
// page, screenshots of every tab, and jobs run through the window.
#include "ui/main_window.h"

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

namespace torquelin {

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
class PacedWindow : public MainWindow {
 public:
  void Step() override {
    MainWindow::Step();
    if (QThread::currentThread() != thread()) QThread::usleep(pace);
  }
  std::atomic<unsigned long> pace{2000};
};

// Serves the window until the worker reports it is done.
bool WaitForJob(MainWindow& window, QSignalSpy& finished, int count = 1) {
  for (int i = 0; i < 600 && finished.count() < count; ++i) finished.wait(100);
  return finished.count() >= count && !window.IsJobRunning();
}

// Serves the window one short pass at a time until a running job's window
// shows what shown() looks for.
bool WaitUntilShown(MainWindow& window, const std::function<bool()>& shown) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (window.CancelButton().isEnabled() && shown()) return true;
  }
  return false;
}

bool WaitUntilRunning(MainWindow& window) {
  return WaitUntilShown(window, [&] { return !window.StatusLine().text().isEmpty(); });
}

// A shown window on the fingerprint page with its directory field set.
struct FingerprintWindow {
  explicit FingerprintWindow(const QString& dir) {
    window.show();
    window.Tabs().setCurrentIndex(5);
    Field(window, JobKind::Fingerprint, "Fingerprint_dir").setEditText(dir);
  }
  FingerprintPage& Page() { return *static_cast<FingerprintPage*>(window.PageForJob(5)); }
  void Press() { Action(window, JobKind::Fingerprint).click(); }
  bool WaitForJob(int count = 1) { return torquelin::WaitForJob(window, finished, count); }

  PacedWindow window;
  QSignalSpy finished{&window, &MainWindow::JobFinished};
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

void CheckIdle(MainWindow& window) {
  QVERIFY(window.Tabs().tabBar()->isEnabled());
  QVERIFY(!window.CancelButton().isEnabled());
  for (int kind = 0; kind < kJobKindCount; ++kind)
    if (window.PageForJob(kind) != nullptr) QVERIFY(AllListedEnabled(*window.PageForJob(kind)));
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(settingsDir_.isValid()); }
  void init() { UseTemporarySettings(settingsDir_); }

  void startsIdleWithEmptyStatusLines() {
    MainWindow window;
    QCOMPARE(window.windowTitle(), QString("Torquelin"));
    QCOMPARE(window.size(), window.Units().Size(445, 241));
    QCOMPARE(window.minimumSize(), window.size());  // it may grow, never shrink
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(window.GetBufferSize(), 2097152u);
    QCOMPARE(window.StatusLine().text(), QString());
    QCOMPARE(window.DetailLine().text(), QString());
    QCOMPARE(window.ProgressBar().value(), 0);
    QCOMPARE(window.Tabs().currentIndex(), 0);
    CheckIdle(window);
  }

  // The cancellation points show their change first, then throw.
  void sinkShowsItsWorkBeforeCancelling() {
    MainWindow window;
    window.CancelButton().setEnabled(true);
    window.CancelButton().click();
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"status", [&] { window.SetStatus(u"Counting all files"); }},
        {"detail", [&] { window.SetDetail(u"Processing: \\a<b>"); }},
        {"step", [&] { window.Step(); }},
    };
    window.SetRange(10);
    for (const auto& [name, call] : calls) {
      bool cancelled = false;
      try {
        call();
      } catch (const COPCancel&) {
        cancelled = true;
      }
      QVERIFY2(cancelled, name);
    }
    QCOMPARE(window.StatusLine().text(), QString("Counting all files"));
    QCOMPARE(window.DetailLine().text(), QString("Processing: \\a<b>"));  // plain text, not markup
    QCOMPARE(window.DetailLine().textFormat(), Qt::PlainText);
    QCOMPARE(window.ProgressBar().value(), 1);
    window.ClearCancelRequest();
    window.SetStatus(u"goes on");
  }

  // SetRange keeps the position; a step past the end starts the bar over.
  void progressBarWrapsPastItsEnd() {
    MainWindow window;
    window.SetRange(2);
    window.ResetProgress();
    QList<int> positions;
    for (int i = 0; i < 4; ++i) {
      window.Step();
      positions << window.ProgressBar().value();
    }
    QCOMPARE(positions, (QList<int>{1, 2, 0, 1}));
    window.SetRange(5);
    QCOMPARE(window.ProgressBar().value(), 1);
    QCOMPARE(window.ProgressBar().maximum(), 5);
  }

  void tabsInOrderWithTheirJobs() {
    MainWindow window;
    QStringList captions;
    for (int i = 0; i < window.Tabs().count(); ++i) captions << window.Tabs().tabText(i);
    QCOMPARE(captions,
             (QStringList{"Create Patch(Directory)", "Create Patch(Vault)", "Create Vault File",
                          "Apply Patch", "Query Patch", "Calculate Fingerprint", "About"}));
    // Tab index -> job number: the tabs are not in job order.
    const int jobOfTab[] = {0, 1, 4, 2, 3, 5};
    for (int tab = 0; tab < 6; ++tab) {
      auto* page = qobject_cast<JobPage*>(window.Tabs().widget(tab));
      QVERIFY(page != nullptr);
      QCOMPARE(int(page->Kind()), jobOfTab[tab]);
      QCOMPARE(window.PageForJob(jobOfTab[tab]), page);
    }
    QCOMPARE(window.Tabs().widget(kAboutTab), &window.About());
    QCOMPARE(window.PageForJob(6), nullptr);
    QCOMPARE(window.PageForJob(-1), nullptr);
  }

  void historiesLoadAtStartWithTheMostRecentShown() {
    SettingsStore().WriteHistory("CrPatch_olddir", {u"/recent", u"/older"});
    SettingsStore().WriteNumber("CrPatchVault_updateVault", 1);
    MainWindow window;
    QComboBox& field = Field(window, JobKind::CreatePatch, "CrPatch_olddir");
    QCOMPARE(field.currentText(), QString("/recent"));
    QCOMPARE(field.count(), 2);
    QVERIFY(window.PageForJob(1)->findChild<QCheckBox*>("CrPatchVault_updateVault")->isChecked());
    QCOMPARE(Field(window, JobKind::CreatePatch, "CrPatch_newdir").currentText(), QString());
  }

  // The designed size is the smallest; beyond it the fields and the status
  // area take the extra room, and the buttons right of the fields keep
  // their distance from the edge. Leaves a picture of every tab at both sizes.
  void windowGrowsWithItsFieldsAndStatusArea() {
    MainWindow window;
    window.show();
    Field(window, JobKind::CreatePatch, "CrPatch_olddir").setEditText("/srv/site/2026-11");
    Field(window, JobKind::CreatePatch, "CrPatch_newdir").setEditText("/srv/site/2026-12");
    Field(window, JobKind::CreatePatch, "CrPatch_patch")
        .setEditText("/srv/patches/site-2026-12.dov");
    Field(window, JobKind::CreatePatch, "CrPatch_filter").setEditText("*.tmp;*.bak");
    window.SetStatus(u"Calculating file ids...");
    window.SetDetail(
        u"Processing: \\srv\\site\\2026-12\\a rather long directory name\\"
        u"and a file name long enough to need the width.txt");
    const QSize designed = window.size();
    const QSize grown(300, 160);
    JobPage& page = *window.PageForJob(int(JobKind::CreatePatch));
    QWidget* followers[] = {&Field(window, JobKind::CreatePatch, "CrPatch_olddir"),
                            page.findChild<QPushButton*>("CrPatch_olddir_browse"),
                            &Action(window, JobKind::CreatePatch),
                            page.findChild<QPushButton*>("help"),
                            &window.StatusLine(),
                            &window.DetailLine(),
                            &window.CancelButton()};
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
      window.resize(size);
      for (int tab = 0; tab < 7; ++tab) {
        window.Tabs().setCurrentIndex(tab);
        QCoreApplication::processEvents();
        SaveScreenshot(window, QString(names[tab]) + (size == designed ? "_min" : "_large"));
      }
    }
    window.Tabs().setCurrentIndex(0);
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
    window.resize(designed - QSize(40, 40));
    QCOMPARE(window.size(), designed);
  }

  void fingerprintJobFillsTheFieldAndSavesSettings() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 3, 4);
    FingerprintWindow w(tree.path() + "/");
    w.Page().SetFingerprint(u"stale");
    QApplication::setActiveWindow(&w.window);
    Action(w.window, JobKind::Fingerprint).setFocus();
    w.Press();
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.window.LastOutcome(), JobOutcome::Succeeded);
    const QString expected = QString::fromStdU16String(EngineFingerprint(tree.path()));
    QCOMPARE(expected.size(), 40);
    QCOMPARE(QString::fromStdU16String(w.Page().Fingerprint()), expected);
    const QString fromCommandLine = CommandLineFingerprint(tree.path());
    if (!fromCommandLine.isEmpty()) QCOMPARE(fromCommandLine, expected);
    QCOMPARE(w.window.StatusLine().text(), QString("Fingerprint calculated."));
    QVERIFY(w.window.DetailLine().text().startsWith("Completed.  Time:"));
    HistoryList dirs, filters;
    QVERIFY(SettingsStore().ReadHistory("Fingerprint_dir", dirs));
    QCOMPARE(ToStrings(dirs), QStringList{tree.path() + "/"});
    QVERIFY(SettingsStore().ReadHistory("Fingerprint_filter", filters));
    QCOMPARE(ToStrings(filters), QStringList{""});
    CheckIdle(w.window);
    // Locking the page took the focus from the button; it comes back.
    QCOMPARE(QApplication::focusWidget(), &Action(w.window, JobKind::Fingerprint));
  }

  void missingDirectoryShowsOneMessageAndSavesNothing() {
    QTemporaryDir parent;
    const QString missing = parent.path() + "/not here";
    FingerprintWindow w(missing);
    w.Page().SetFingerprint(u"from an earlier run");
    // What an earlier job left must not pass for this one's.
    w.window.SetStatus(u"Fingerprint calculated.");
    w.window.SetRange(2);
    w.window.Step();
    w.window.Step();
    MessageBoxCloser closer;
    w.Press();
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.window.LastOutcome(), JobOutcome::Failed);
    QCOMPARE(closer.texts.size(), 1);
    const QStringList lines = closer.texts.front().split('\n');
    QCOMPARE(lines.size(), 5);  // four lines, each ending in a line feed
    QCOMPARE(lines[0], QString("Error type:1"));
    QCOMPARE(lines[1], "Message: Directory for fingerprinting does  not exists: " + missing);
    QCOMPARE(lines[2], QString("Error Code: 2 (No such file or directory)"));
    QVERIFY(lines[3].startsWith("Location: .\\rezeriravodu line:"));
    QCOMPARE(lines[4], QString());
    QCOMPARE(w.Page().Fingerprint(), std::u16string());
    QCOMPARE(w.window.StatusLine().text(),
             "Job failed: Directory for fingerprinting does  not exists: " + missing);
    QVERIFY(w.window.DetailLine().text().startsWith("Completed.  Time:"));
    QCOMPARE(w.window.ProgressBar().value(), 0);
    QVERIFY(!StoredValue("Fingerprint_dir").isValid());
    QVERIFY(!StoredValue("Fingerprint_filter").isValid());
    CheckIdle(w.window);
  }

  void cancelDuringAScanShowsCancelled() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    FingerprintWindow w(tree.path());
    w.Press();
    // Well into digesting the files, so the picture shows a job at work.
    QVERIFY(WaitUntilShown(w.window, [&] {
      const QProgressBar& bar = w.window.ProgressBar();
      return w.window.StatusLine().text() == "Calculating file ids..." &&
             w.window.DetailLine().text().endsWith(".txt") && bar.value() > bar.maximum() / 3 &&
             bar.value() < bar.maximum() * 2 / 3;
    }));
    // While the job runs: tab strip, page and its buttons locked, Cancel open;
    // the result box is not listed and stays usable.
    QVERIFY(!w.window.Tabs().tabBar()->isEnabled());
    QVERIFY(NoneListedEnabled(w.Page()));
    QVERIFY(w.Page().findChild<QLineEdit*>("Fingerprint_result")->isEnabled());
    SaveScreenshot(w.window, "window_during_job");
    // Enter on the focused Cancel button presses it and closes nothing.
    w.window.CancelButton().setFocus();
    QTest::keyClick(&w.window.CancelButton(), Qt::Key_Return);
    QVERIFY(w.WaitForJob());
    QVERIFY(w.window.isVisible());
    QCOMPARE(w.window.LastOutcome(), JobOutcome::Cancelled);
    QCOMPARE(w.window.StatusLine().text(), QString("Cancelled"));
    QVERIFY(w.window.DetailLine().text().startsWith("Completed.  Time:"));
    QCOMPARE(w.Page().Fingerprint(), std::u16string());
    QVERIFY(!StoredValue("Fingerprint_dir").isValid());
    CheckIdle(w.window);
  }

  void twoQuickPressesStartOneJob() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 2, 3);
    FingerprintWindow w(tree.path());
    w.Press();
    w.Press();
    w.window.StartJob(JobKind::CreatePatch);
    QVERIFY(w.WaitForJob());
    QTest::qWait(200);
    QCOMPARE(w.finished.count(), 1);
    QCOMPARE(w.window.LastOutcome(), JobOutcome::Succeeded);
    CheckIdle(w.window);
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
      if (w.window.PageForJob(kind) == nullptr) continue;  // a job the window does not offer
      w.window.StartJob(JobKind(kind));
      QVERIFY(w.WaitForJob(kind + 1));
      QVERIFY(w.window.DetailLine().text().startsWith("Completed.  Time:"));
      CheckIdle(w.window);
    }
  }

  // Closing asks first: "No" keeps the job running, "Yes" cancels it and
  // closes once it has ended.
  void closingDuringAJobAsks() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    FingerprintWindow w(tree.path());
    w.Press();
    QVERIFY(WaitUntilRunning(w.window));
    {
      MessageBoxCloser no(QMessageBox::No);
      QVERIFY(!w.window.close());
      QCOMPARE(no.texts, QStringList{"A job is running. Cancel it and quit?"});
    }
    QTest::qWait(100);
    QVERIFY(w.window.isVisible());
    QVERIFY(w.window.IsJobRunning());
    QVERIFY(!w.window.CancelButton().isHidden() && w.window.CancelButton().isEnabled());
    {
      MessageBoxCloser yes(QMessageBox::Yes);
      QVERIFY(!w.window.close());  // not yet: the job must end first
      QCOMPARE(yes.texts.size(), 1);
    }
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.window.LastOutcome(), JobOutcome::Cancelled);
    QTRY_VERIFY(!w.window.isVisible());
  }

  void closingWhenIdleAsksNothing() {
    MainWindow window;
    window.show();
    MessageBoxCloser closer;
    QVERIFY(window.close());
    QVERIFY(closer.texts.isEmpty());
  }

  // Enter and Escape, wherever the focus is, neither close the window nor
  // start or stop a job.
  void enterAndEscapeNeverCloseTheWindow() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    FingerprintWindow w(tree.path());
    QApplication::setActiveWindow(&w.window);
    const Qt::Key keys[] = {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter};
    auto pressAll = [&](QWidget* target) {
      for (Qt::Key key : keys) {
        QTest::keyClick(target, key);
        QTest::keyClick(&w.window, key);
      }
    };
    for (int tab = 0; tab < w.window.Tabs().count(); ++tab) {
      w.window.Tabs().setCurrentIndex(tab);
      QWidget* page = w.window.Tabs().widget(tab);
      QList<QWidget*> focusable;
      for (QWidget* child : page->findChildren<QWidget*>())
        if (child->focusPolicy() & Qt::TabFocus) focusable << child;
      if (focusable.isEmpty()) focusable << page;
      for (QWidget* target : focusable) {
        target->setFocus();
        pressAll(target);
      }
      QVERIFY2(w.window.isVisible(), qPrintable(w.window.Tabs().tabText(tab)));
      QVERIFY(!w.window.IsJobRunning());
    }
    w.window.Tabs().setCurrentIndex(5);
    w.Press();
    QVERIFY(WaitUntilRunning(w.window));
    QWidget* focused = QApplication::focusWidget();
    pressAll(focused != nullptr ? focused : &w.window);
    QTest::qWait(50);
    QVERIFY(w.window.isVisible());
    QVERIFY(w.window.IsJobRunning());
    w.window.CancelButton().click();
    QVERIFY(w.WaitForJob());
    QCOMPARE(w.window.LastOutcome(), JobOutcome::Cancelled);
    QVERIFY(w.window.isVisible());
  }

  void destroyingTheWindowDuringAJobEndsTheJobFirst() {
    QTemporaryDir tree;
    WriteTree(tree.path(), 20, 100);
    auto w = std::make_unique<FingerprintWindow>(tree.path());
    w->Press();
    QVERIFY(WaitUntilRunning(w->window));
    w.reset();  // must neither hang nor let the worker touch freed controls
  }

 private:
  QTemporaryDir settingsDir_;
};

}  // namespace torquelin

QTEST_MAIN(torquelin::MainWindowTest)
#include "main_window_test.moc"
