// The About page: the credits start, stop and come round again.
#include "ui/about_page.h"

#include <QtTest>

#include "ui/main_window.h"
#include "ui_test_support.h"

namespace torquelin {

class AboutPageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(settingsDir_.isValid()); }
  void init() { UseTemporarySettings(settingsDir_); }

  void aboutTabRestartsTheCreditsAndOtherTabsStopThem() {
    MainWindow window;
    window.show();
    ScrollCredits& credits = window.About().Credits();
    QVERIFY(!credits.IsScrolling());
    for (int round = 0; round < 2; ++round) {
      window.Tabs().setCurrentIndex(kAboutTab);
      QVERIFY(credits.IsScrolling());
      QCOMPARE(credits.ScrollOffset(), 1);      // restarted at 0, first frame drawn at once
      QTRY_VERIFY(credits.ScrollOffset() > 2);  // the timer keeps it moving
      window.Tabs().setCurrentIndex(round == 0 ? 5 : 0);
      QVERIFY(!credits.IsScrolling());
      const int stoppedAt = credits.ScrollOffset();
      QTest::qWait(3 * ScrollCredits::kTickMilliseconds);
      QCOMPARE(credits.ScrollOffset(), stoppedAt);
    }
  }

  void creditsHaveTheirStructure() {
    QStringList headings;
    for (const char* const* line = kCreditLines; *line != nullptr; ++line) {
      const QByteArray text(*line);
      if (text.isEmpty() || text == kLogoLine) continue;
      QVERIFY2(text.endsWith('\t') || text.endsWith('\r') || text.endsWith(' '), *line);
      if (text.endsWith('\t')) headings << QString::fromLatin1(text.chopped(1));
    }
    QCOMPARE(QByteArray(kCreditLines[1]), QByteArray("IDB_ZRLOGO"));
    for (const char* heading : {"Software Development", "Testing", "Project Website",
                                "Bug submission", "Outsourcing", "Disclaimer", "THANKS"})
      QVERIFY2(headings.contains(heading), heading);
    QCOMPARE(headings.last(), QString("* * * * * * * * * "));
    const QPixmap logo = MakeProductLogo();
    QCOMPARE(logo.size(), QSize(373, 170));
  }

  // After the whole list and one more client height have left the top, the
  // list comes back in from three quarters of the height.
  void creditsReenterFromThreeQuartersDown() {
    MainWindow window;
    window.show();
    window.Tabs().setCurrentIndex(kAboutTab);
    ScrollCredits& credits = window.About().Credits();
    credits.StopScrolling();
    int previous = credits.ScrollOffset();
    for (int tick = 0; tick < 100000; ++tick) {
      credits.ScrollTick();
      if (credits.ScrollOffset() < previous) break;
      previous = credits.ScrollOffset();
    }
    QCOMPARE(credits.ScrollOffset(), -static_cast<int>(0.75 * credits.height()));
    QVERIFY(previous > credits.height());
  }

 private:
  QTemporaryDir settingsDir_;
};

}  // namespace torquelin

QTEST_MAIN(torquelin::AboutPageTest)
#include "about_page_test.moc"
