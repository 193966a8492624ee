// The job pages: their captions, the order they list their controls in,
// the parameters they hand to their job, and keys inside a page.
#include "ui/job_page.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "ui/main_window.h"
#include "ui_test_support.h"

namespace torquelin {

namespace {

// Texts on the page in screen order: labels, check boxes and bottom buttons.
QStringList Captions(QWidget& page) {
  QList<QWidget*> widgets;
  for (QWidget* w : page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w) ||
        (qobject_cast<QPushButton*>(w) && static_cast<QPushButton*>(w)->text() != "..."))
      widgets << w;
  std::stable_sort(widgets.begin(), widgets.end(), [](QWidget* a, QWidget* b) {
    return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
  });
  QStringList out;
  for (QWidget* w : widgets) {
    if (auto* label = qobject_cast<QLabel*>(w))
      out << ShownText(label->text());
    else
      out << ShownText(static_cast<QAbstractButton*>(w)->text());
  }
  return out;
}

}  // namespace

class JobPageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(settingsDir_.isValid()); }
  void init() { UseTemporarySettings(settingsDir_); }

  void pagesShowTheirLabels_data() {
    QTest::addColumn<int>("job");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("Create Patch(Directory)")
        << 0
        << QStringList{"Older Directory",
                       "Newer Directory",
                       "Patch File",
                       "XML Diff Report",
                       "File Ignore Filter",
                       "Compact patch (smaller; Torquelin 1.3 or later to apply)",
                       "Help",
                       "View XML Diff Report",
                       "Create Patch"};
    QTest::newRow("Create Patch(Vault)")
        << 1
        << QStringList{"Directory",
                       "Vault File",
                       "Patch File",
                       "XML Diff Report",
                       "Update Vault File",
                       "Compact patch (smaller; Torquelin 1.3 or later to apply)",
                       "Help",
                       "View XML Diff Report",
                       "Create Patch"};
    QTest::newRow("Apply Patch") << 2
                                 << QStringList{"Older Directory",
                                                "Patch File",
                                                "XML Diff Report",
                                                "Ignore Directory Fingerprint(Not Recomnded)",
                                                "Continue on Filesystem Errors(Not Recomnded)",
                                                "Help",
                                                "View XML Diff Report",
                                                "Apply Patch"};
    QTest::newRow("Query Patch") << 3
                                 << QStringList{"Patch File", "XML Diff Report", "Help",
                                                "View XML Diff Report", "Querry Patch"};
    QTest::newRow("Create Vault File") << 4
                                       << QStringList{"Older Directory", "Vault File",
                                                      "File Ignore Filter", "Help", "Create Vault"};
    QTest::newRow("Calculate Fingerprint")
        << 5
        << QStringList{"Directory", "File Ignore Filter", "Fingerprint", "Help", "Fingerprint"};
  }

  void pagesShowTheirLabels() {
    QFETCH(int, job);
    QFETCH(QStringList, captions);
    MainWindow window;
    QCOMPARE(Captions(*window.PageForJob(job)), captions);
  }

  void pagesListTheirControlsInOrder_data() {
    QTest::addColumn<int>("job");
    QTest::addColumn<QStringList>("visits");
    const QString b = ":button:...";
    QTest::newRow("Create Patch(Directory)")
        << 0
        << QStringList{"CrPatch_olddir:field",
                       "CrPatch_" + b,
                       "CrPatch_newdir:field",
                       "CrPatch_" + b,
                       "CrPatch_patch:field",
                       "CrPatch_report:field",
                       "CrPatch_" + b,
                       "CrPatch_" + b,
                       "CrPatch_filter:field",
                       "CrPatch_:button:Create Patch",
                       "CrPatch_:button:View XML Diff Report",
                       "CrPatch_:button:Help",
                       "CrPatch_compact:check:"
                       "Compact patch (smaller; Torquelin 1.3 or later to apply)"};
    QTest::newRow("Create Patch(Vault)")
        << 1
        << QStringList{"CrPatchVault_dir:field",
                       "CrPatchVault_" + b,
                       "CrPatchVault_patch:field",
                       "CrPatchVault_report:field",
                       "CrPatchVault_vault:field",
                       "CrPatchVault_" + b,
                       "CrPatchVault_" + b,
                       "CrPatchVault_" + b,
                       "CrPatchVault_:button:Create Patch",
                       "CrPatchVault_:button:View XML Diff Report",
                       "CrPatchVault_:button:Help",
                       "CrPatchVault_updateVault:check:Update Vault File",
                       "CrPatchVault_compact:check:"
                       "Compact patch (smaller; Torquelin 1.3 or later to apply)"};
    QTest::newRow("Apply Patch")
        << 2
        << QStringList{"Apply_dir:field",
                       "Apply_" + b,
                       "Apply_patch:field",
                       "Apply_report:field",
                       "Apply_" + b,
                       "Apply_" + b,
                       "Apply_:button:Apply Patch",
                       "Apply_:button:View XML Diff Report",
                       "Apply_:button:Help",
                       "Apply_fpignore:check:Ignore Directory Fingerprint(Not Recomnded)",
                       "Apply_fsignore:check:Continue on Filesystem Errors(Not Recomnded)"};
    QTest::newRow("Query Patch") << 3 << QStringList{"PatchInfo_patch:field",
                                                     "PatchInfo_report:field",
                                                     "PatchInfo_" + b,
                                                     "PatchInfo_" + b,
                                                     "PatchInfo_:button:Querry Patch",
                                                     "PatchInfo_:button:View XML Diff Report",
                                                     "PatchInfo_:button:Help"};
    QTest::newRow("Create Vault File")
        << 4 << QStringList{"CrVault_dir:field",    "CrVault_" + b,
                            "CrVault_vault:field",  "CrVault_" + b,
                            "CrVault_filter:field", "CrVault_:button:Create Vault",
                            "CrVault_:button:Help"};
    QTest::newRow("Calculate Fingerprint")
        << 5
        << QStringList{"Fingerprint_dir:field", "Fingerprint_filter:field", "Fingerprint_" + b,
                       "Fingerprint_:button:Fingerprint", "Fingerprint_:button:Help"};
  }

  void pagesListTheirControlsInOrder() {
    QFETCH(int, job);
    QFETCH(QStringList, visits);
    MainWindow window;
    QCOMPARE(Visits(*window.PageForJob(job)), visits);
  }

  void pagesHandTheirFieldsToTheJob() {
    MainWindow window;
    Field(window, JobKind::ApplyPatch, "Apply_dir").setEditText(" /tree ");
    Field(window, JobKind::ApplyPatch, "Apply_patch").setEditText("p.dov");
    Field(window, JobKind::ApplyPatch, "Apply_report").setEditText("");
    window.PageForJob(2)->findChild<QCheckBox*>("Apply_fsignore")->setChecked(true);
    const auto apply = std::get<ApplyPatchParams>(window.PageForJob(2)->ReadParameters());
    QVERIFY(apply.directory == u" /tree ");  // untrimmed
    QVERIFY(apply.patchPath == u"p.dov");
    QVERIFY(apply.reportPath.empty());
    QVERIFY(apply.continueOnErrors);
    QVERIFY(!apply.ignoreFingerprint);

    Field(window, JobKind::CreateVaultPatch, "CrPatchVault_patch").setEditText("new.dov");
    Field(window, JobKind::CreateVaultPatch, "CrPatchVault_vault").setEditText("old.zov");
    const auto vault = std::get<CreateVaultPatchParams>(window.PageForJob(1)->ReadParameters());
    QVERIFY(vault.patchPath == u"new.dov");
    QVERIFY(vault.vaultPath == u"old.zov");
  }

  // Both Create Patch pages offer the compact format: off until chosen, and
  // the choice comes back with the page's other remembered values.
  void compactBoxChoosesTheFormat_data() {
    QTest::addColumn<int>("job");
    QTest::addColumn<QString>("key");
    QTest::newRow("Create Patch(Directory)") << 0 << "CrPatch_compact";
    QTest::newRow("Create Patch(Vault)") << 1 << "CrPatchVault_compact";
  }

  void compactBoxChoosesTheFormat() {
    QFETCH(int, job);
    QFETCH(QString, key);
    const auto compact = [job](JobPage& page) {
      const JobParams params = page.ReadParameters();
      return job == 0 ? std::get<CreatePatchParams>(params).options.compact
                      : std::get<CreateVaultPatchParams>(params).options.compact;
    };
    {
      MainWindow window;
      auto* box = window.PageForJob(job)->findChild<QCheckBox*>(key);
      QVERIFY(box != nullptr);
      QVERIFY(!box->isChecked());
      QVERIFY(!compact(*window.PageForJob(job)));
      box->setChecked(true);
      QVERIFY(compact(*window.PageForJob(job)));
    }
    SettingsStore().WriteNumber(key, 1);
    MainWindow window;
    QVERIFY(window.PageForJob(job)->findChild<QCheckBox*>(key)->isChecked());
    QVERIFY(compact(*window.PageForJob(job)));
  }

  void enterAndEscapeInsideAPageDoNothing() {
    MainWindow window;
    window.show();
    QComboBox& field = Field(window, JobKind::CreatePatch, "CrPatch_olddir");
    field.setFocus();
    field.setEditText("/typed");
    QSignalSpy finished(&window, &MainWindow::JobFinished);
    QTest::keyClick(field.lineEdit(), Qt::Key_Return);
    QTest::keyClick(field.lineEdit(), Qt::Key_Escape);
    QTest::qWait(50);
    QVERIFY(window.isVisible());
    QVERIFY(!window.IsJobRunning());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(field.count(), 0);  // Enter does not add to the history
    QCOMPARE(field.currentText(), QString("/typed"));
  }

  // Typing the start of a remembered path leaves exactly what was typed.
  void historyDoesNotCompleteWhatIsTyped() {
    SettingsStore().WriteHistory("Fingerprint_dir", {u"/older/tools", u"/other"});
    MainWindow window;
    window.show();
    QApplication::setActiveWindow(&window);  // completion acts on the focused field only
    window.Tabs().setCurrentIndex(5);
    QComboBox& field = Field(window, JobKind::Fingerprint, "Fingerprint_dir");
    field.setFocus();
    field.clearEditText();
    QTest::keyClicks(field.lineEdit(), "/older");
    QCOMPARE(field.currentText(), QString("/older"));
    QCOMPARE(field.lineEdit()->selectedText(), QString());
    const auto params = std::get<FingerprintParams>(window.PageForJob(5)->ReadParameters());
    QVERIFY(params.directory == u"/older");
    QCOMPARE(field.count(), 2);  // the drop-down history stays
  }

  // Tab walks each page as it reads: row by row, left to right.
  void tabOrderFollowsTheScreen() {
    MainWindow window;
    for (int job = 0; job < kJobKindCount; ++job) {
      if (window.PageForJob(job) == nullptr) continue;  // a job the window does not offer
      JobPage& page = *window.PageForJob(job);
      QList<QWidget*> chain;
      for (QWidget* w = page.nextInFocusChain(); w != &page; w = w->nextInFocusChain())
        if (w->parentWidget() == &page && (w->focusPolicy() & Qt::TabFocus)) chain << w;
      QVERIFY(chain.size() >= 5);
      for (qsizetype i = 1; i < chain.size(); ++i) {
        const QRect a = chain[i - 1]->geometry(), b = chain[i]->geometry();
        QVERIFY2(a.y() < b.y() || (a.y() == b.y() && a.x() < b.x()),
                 qPrintable(chain[i - 1]->objectName() + " before " + chain[i]->objectName()));
      }
    }
  }

  // Within a page no two captions share their Alt+letter, and none takes
  // Cancel's.
  void mnemonicsDoNotClash() {
    MainWindow window;
    for (int job = 0; job < kJobKindCount; ++job) {
      if (window.PageForJob(job) == nullptr) continue;
      QStringList letters{"c"};
      for (QWidget* w : window.PageForJob(job)->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) text = button->text();
        const qsizetype mark = text.indexOf('&');
        if (mark < 0) continue;
        const QString letter = text.mid(mark + 1, 1).toLower();
        QVERIFY2(!letters.contains(letter), qPrintable(text));
        letters << letter;
      }
      QVERIFY(letters.size() >= 5);
    }
  }

  // The report goes to xdg-open as its absolute path; when no opener exists, or
  // xdg-open finds no program, a box says so and names the report.
  void viewReportSaysWhenNoViewerIsFound_data() {
    QTest::addColumn<QString>("opener");  // xdg-open's script; empty: none on PATH
    QTest::addColumn<bool>("told");
    QTest::newRow("no opener at all") << "" << true;
    QTest::newRow("opener finds no program") << "exit 3" << true;
    QTest::newRow("opener shows it") << "printf %s \"$1\" > \"$0.arg\"" << false;
  }
  void viewReportSaysWhenNoViewerIsFound() {
    QFETCH(QString, opener);
    QFETCH(bool, told);
    QTemporaryDir bin;
    const QString script = bin.path() + "/xdg-open";
    if (!opener.isEmpty()) {
      QFile file(script);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(("#!/bin/sh\n" + opener + "\n").toUtf8());
      file.close();
      file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", (bin.path() + (opener.isEmpty() ? "" : ":/usr/bin:/bin")).toUtf8());
    auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    MainWindow window;
    Field(window, JobKind::QueryPatch, "PatchInfo_report").setEditText("/tmp/a report.xml");
    MessageBoxCloser closer;
    window.PageForJob(int(JobKind::QueryPatch))->findChild<QPushButton*>("view")->click();
    const QStringList box{
        "No program to show XML files was found.\n\nThe report is at:\n"
        "/tmp/a report.xml"};
    if (told) {
      QTRY_COMPARE(closer.texts, box);
    } else {
      QTRY_VERIFY(QFileInfo(script + ".arg").size() > 0);
      QFile arg(script + ".arg");
      QVERIFY(arg.open(QIODevice::ReadOnly));
      QCOMPARE(arg.readAll(), QByteArray("/tmp/a report.xml"));
      QTest::qWait(100);
      QVERIFY(closer.texts.isEmpty());
    }
  }

 private:
  QTemporaryDir settingsDir_;
};

}  // namespace torquelin

QTEST_MAIN(torquelin::JobPageTest)
#include "job_page_test.moc"
