// The progress record a job writes and the window reads.
#include "ui/progress_state.h"

#include <thread>

#include <QtTest>

class ProgressStateTest : public QObject {
  Q_OBJECT

 private slots:
  // SetRange keeps the position within the range; a step past the end
  // starts the bar over.
  void stepsWrapPastTheEnd() {
    CProgressState state;
    state.SetRange(2);
    QList<uint32_t> positions;
    for (int i = 0; i < 4; ++i) {
      state.Step();
      positions << state.Take().position;
    }
    QCOMPARE(positions, (QList<uint32_t>{1, 2, 0, 1}));
    state.Step();
    state.SetRange(1);
    QCOMPARE(state.Take().position, 1u);
  }

  void clearEmptiesLinesAndBar() {
    CProgressState state;
    state.SetStatus(u"Fingerprint calculated.");
    state.SetDetail(u"Completed.  Time:00:00:01");
    state.SetRange(3);
    state.Step();
    const uint64_t before = state.Version();
    state.Clear();
    const CProgressState::Snapshot now = state.Take();
    QVERIFY(now.status.empty() && now.detail.empty());
    QCOMPARE(now.position, 0u);
    QCOMPARE(now.range, 3u);
    QVERIFY(now.version > before);
  }

  // A reader running beside the writer always sees a whole text and, once
  // the writer is done, its last one.
  void readerSeesWholeTextsAndTheLastOne() {
    CProgressState state;
    const std::u16string texts[] = {std::u16string(300, u'a'), std::u16string(7, u'b')};
    std::atomic<bool> done{false};
    std::thread writer([&] {
      for (int i = 0; i < 20000; ++i) {
        state.SetDetail(texts[i % 2]);
        state.Step();
      }
      done = true;
    });
    bool whole = true;
    while (!done) {
      const std::u16string seen = state.Take().detail;
      whole = whole && (seen.empty() || seen == texts[0] || seen == texts[1]);
    }
    writer.join();
    QVERIFY(whole);
    QVERIFY(state.Take().detail == texts[1]);
  }
};

QTEST_MAIN(ProgressStateTest)
#include "progress_state_test.moc"
