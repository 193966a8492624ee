// The folder and file pickers with their defaults, and the file filters.
#include "ui/file_pickers.h"

#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QPushButton>
#include <QtTest>

#include "ui/job_page.h"
#include "ui/main_window.h"
#include "ui_test_support.h"

namespace torquelin {

namespace {

// Runs act on the next file dialog that opens.
void OnNextFileDialog(std::function<void(QFileDialog&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      timer->stop();
      timer->deleteLater();
      act(*dialog);
      return;
    }
  });
  timer->start();
}

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

}  // namespace

class FilePickersTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(settingsDir_.isValid() && files_.isValid()); }
  void init() { UseTemporarySettings(settingsDir_); }

  void filtersAndTheirDefaultExtensions_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QString>("extension");
    QTest::newRow("patch") << 0
                           << QStringList{"zoDuvur files (*.dov)", "*.dov", "All files (*.*)",
                                          "*.*"}
                           << "dov";
    QTest::newRow("report") << 1
                            << QStringList{"zoDuvur Report files (*.xml)", "*.xml",
                                           "All files (*.*)", "*.*"}
                            << "xml";
    QTest::newRow("vault") << 2
                           << QStringList{"riDerev files (*.zov)", "*.zov", "All files (*.*)",
                                          "*.*"}
                           << "zov";
  }
  void filtersAndTheirDefaultExtensions() {
    QFETCH(int, which);
    QFETCH(QStringList, pairs);
    QFETCH(QString, extension);
    const FileFilter& filter = which == 0   ? kPatchFilter
                               : which == 1 ? kReportFilter
                                            : kVaultFilter;
    QStringList actual;
    for (const FileFilterPair& pair : filter)
      actual << QString::fromUtf16(pair.description) << QString::fromUtf16(pair.pattern);
    QCOMPARE(actual, pairs);
    QCOMPARE(Q(DefaultExtension(filter)), extension);
  }

  void saveDialogAddsTheExtensionOfTheFirstPattern_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("report") << 1 << "out"
                            << "out.xml";
    QTest::newRow("patch") << 0 << "site"
                           << "site.dov";
    QTest::newRow("name with its own extension") << 0 << "site.bin"
                                                 << "site.bin";
  }
  void saveDialogAddsTheExtensionOfTheFirstPattern() {
    QFETCH(int, which);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    const FileFilter& filter = which == 0 ? kPatchFilter : kReportFilter;
    OnNextFileDialog([](QFileDialog& dialog) {
      QVERIFY(dialog.testOption(QFileDialog::DontConfirmOverwrite));
      static_cast<QDialog&>(dialog).accept();
    });
    const std::u16string chosen =
        BrowseForFile(FileDialogMode::Save, (files_.path() + "/" + typed).toStdU16String(), filter);
    QCOMPARE(Q(chosen), files_.path() + "/" + expected);
  }

  void openDialogAcceptsANameThatDoesNotExistYet() {
    const QString absent = files_.path() + "/later.zov";
    OnNextFileDialog([](QFileDialog& dialog) {
      QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
      static_cast<QDialog&>(dialog).accept();
    });
    QCOMPARE(Q(BrowseForFile(FileDialogMode::Open, absent.toStdU16String(), kVaultFilter)), absent);
  }

  void cancelledPickersReturnTheirInput() {
    OnNextFileDialog([](QFileDialog& dialog) { dialog.reject(); });
    QCOMPARE(Q(BrowseForFile(FileDialogMode::Open, u"as typed", kPatchFilter)),
             QString("as typed"));
    QString title;
    OnNextFileDialog([&title](QFileDialog& dialog) {
      title = dialog.windowTitle();
      dialog.reject();
    });
    QCOMPARE(Q(BrowseForFolder(u"/as/typed")), QString("/as/typed"));
    QCOMPARE(title, QString("Select directory to scan."));
  }

  void browseButtonWritesThePickedPathIntoItsField() {
    MainWindow window;
    JobPage& page = *window.PageForJob(int(JobKind::QueryPatch));
    auto* field = page.findChild<QComboBox*>("PatchInfo_report");
    field->setEditText(files_.path() + "/query");
    OnNextFileDialog([](QFileDialog& dialog) {
      QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);  // the job writes the report
      static_cast<QDialog&>(dialog).accept();
    });
    page.findChild<QPushButton*>("PatchInfo_report_browse")->click();
    QCOMPARE(field->currentText(), files_.path() + "/query.xml");
  }

 private:
  QTemporaryDir settingsDir_;
  QTemporaryDir files_;
};

}  // namespace torquelin

QTEST_MAIN(torquelin::FilePickersTest)
#include "file_pickers_test.moc"
