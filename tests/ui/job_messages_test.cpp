// The window's own texts at a job's end.
#include "ui/job_messages.h"

#include <QtTest>

namespace torquelin {

class JobMessagesTest : public QObject {
  Q_OBJECT

 private slots:
  void failedJobStatus_data() {
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QString>("status");
    QTest::newRow("an error's four lines")
        << "Error type:1\nMessage: Directory for fingerprinting does  not exists: /x\n"
           "Error Code: 2\nLocation: .\\rezeriravodu line:64\n"
        << "Job failed: Directory for fingerprinting does  not exists: /x";
    QTest::newRow("one line") << "A general unknown error has occured."
                              << "Job failed: A general unknown error has occured.";
    QTest::newRow("several lines, no message line") << "first\nsecond"
                                                    << "Job failed: first";
    QTest::newRow("nothing reported") << ""
                                      << "Job failed.";
  }
  void failedJobStatus() {
    QFETCH(QString, reported);
    QFETCH(QString, status);
    QCOMPARE(QString::fromStdU16String(FailedJobStatus(reported.toStdU16String())), status);
  }

  void skippedItemsMessage_data() {
    QTest::addColumn<QStringList>("skipped");
    QTest::addColumn<QString>("message");
    QTest::newRow("one") << QStringList{"\\a\\b.txt"}
                         << "Patch applied, but 1 item was skipped:\n\\a\\b.txt";
    QTest::newRow("two") << QStringList{"\\a", "\\b"}
                         << "Patch applied, but 2 items were skipped:\n\\a\n\\b";
    QStringList twelve;
    QString shown;
    for (int i = 1; i <= 12; ++i) {
      twelve << "\\f" + QString::number(i);
      if (i <= kSkippedItemsShown) shown += "\n\\f" + QString::number(i);
    }
    QTest::newRow("more than are shown")
        << twelve << "Patch applied, but 12 items were skipped:" + shown + "\n... and 2 more.";
  }
  void skippedItemsMessage() {
    QFETCH(QStringList, skipped);
    QFETCH(QString, message);
    std::vector<std::u16string> items;
    for (const QString& item : skipped) items.push_back(item.toStdU16String());
    QCOMPARE(QString::fromStdU16String(SkippedItemsMessage(items)), message);
  }
};

}  // namespace torquelin

QTEST_MAIN(torquelin::JobMessagesTest)
#include "job_messages_test.moc"
