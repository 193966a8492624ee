// The four control visitors with the settings store: what the writer stores,
// damaged and oversized values, the most-recently-used rules and check states.
#include "ui/control_visitors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QtTest>

#include "ui/history_codec.h"
#include "ui/settings_store.h"
#include "ui_test_support.h"

namespace torquelin {

namespace {

std::optional<HistoryList> Decode(const QByteArray& bytes) {
  return DecodeHistory(reinterpret_cast<const uint8_t*>(bytes.constData()),
                       static_cast<size_t>(bytes.size()));
}

QStringList Numbered(const QString& stem, int from, int to) {
  QStringList out;
  for (int i = from; i <= to; ++i) out << stem + QString::number(i);
  return out;
}

QStringList ComboItems(const QComboBox& combo) { return ToStrings(ComboEntries(combo)); }

}  // namespace

class ControlVisitorsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(settingsDir_.isValid()); }
  void init() { UseTemporarySettings(settingsDir_); }

  void writerStoresTheLiteralLayout() {
    QComboBox combo;
    combo.setEditable(true);
    combo.addItem("ab");
    combo.setEditText("C:\\x");
    SettingsWriter().Visit(u"CrPatch_olddir", combo);
    const QVariant stored = StoredValue("CrPatch_olddir");
    QCOMPARE(stored.typeId(), int(QMetaType::QByteArray));
    QCOMPARE(stored.toByteArray().toHex(), QByteArray("0200"
                                                      "fffeff04"
                                                      "43003a005c007800"
                                                      "fffeff02"
                                                      "61006200"));
  }

  void damagedValuesReadAsAbsent_data() {
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("half a count") << QByteArray("01");
    QTest::newRow("count larger than the entries") << QByteArray(
        "0200"
        "fffeff0161 00");
    QTest::newRow("text cut short") << QByteArray(
        "0100"
        "fffeff03"
        "610062");
    QTest::newRow("tag missing") << QByteArray(
        "0100"
        "02"
        "61006200");
    QTest::newRow("tag damaged") << QByteArray(
        "0100"
        "fffefe02"
        "61006200");
    QTest::newRow("long length cut short") << QByteArray(
        "0100"
        "fffeff"
        "ff01");
    QTest::newRow("32-bit length beyond the data") << QByteArray(
        "0100"
        "fffeff"
        "ffffff"
        "ffffffff");
    QTest::newRow("32-bit count beyond the data") << QByteArray(
        "ffff"
        "ffffffff"
        "fffeff00");
  }
  void damagedValuesReadAsAbsent() {
    QFETCH(QByteArray, hex);
    QVERIFY(!Decode(QByteArray::fromHex(hex)).has_value());

    StoreValue("Apply_dir", QByteArray::fromHex(hex));
    QComboBox combo;
    combo.setEditable(true);
    HistoryList untouched{u"keep"};
    QVERIFY(!SettingsStore().ReadHistory("Apply_dir", untouched));
    QCOMPARE(ToStrings(untouched), QStringList{"keep"});
    SettingsReader().Visit(u"Apply_dir", combo);
    QCOMPARE(combo.count(), 0);
    QCOMPARE(combo.currentText(), QString());
  }

  void sizeLimitOfAStoredValue_data() {
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<int>("storedSize");
    QTest::addColumn<bool>("readable");
    QTest::newRow("ten paths of 210 characters")
        << QStringList(10, "/" + QString(209, 'p')) << 4242 << false;
    QTest::newRow("exactly 4096 bytes") << QStringList{QString(2044, 'q')} << 4096 << true;
    QTest::newRow("4098 bytes") << QStringList{QString(2045, 'q')} << 4098 << false;
  }
  void sizeLimitOfAStoredValue() {
    QFETCH(QStringList, list);
    QFETCH(int, storedSize);
    QFETCH(bool, readable);
    QVERIFY(SettingsStore().WriteHistory("CrVault_dir", ToHistory(list)));
    QCOMPARE(StoredValue("CrVault_dir").toByteArray().size(), storedSize);
    QComboBox combo;
    combo.setEditable(true);
    combo.addItem("before");
    SettingsReader().Visit(u"CrVault_dir", combo);
    QCOMPARE(ComboItems(combo), readable ? list.mid(0, 1) : QStringList{});
    QCOMPARE(combo.currentText(), readable ? list.front() : QString());
  }

  void nonBinaryValueReadsAsAbsent() {
    StoreValue("PatchInfo_patch", QStringLiteral("a plain text value"));
    QComboBox combo;
    combo.setEditable(true);
    SettingsReader().Visit(u"PatchInfo_patch", combo);
    QCOMPARE(combo.count(), 0);
  }

  void mostRecentlyUsedRules_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("used");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("first use") << QStringList{} << "/a" << QStringList{"/a"};
    QTest::newRow("reused third entry moves to the top")
        << QStringList{"/a", "/b", "/c", "/d"} << "/c" << QStringList{"/c", "/a", "/b", "/d"};
    QTest::newRow("eleventh value pushes out the oldest")
        << Numbered("/v", 1, 10) << "/v11" << QStringList{"/v11"} + Numbered("/v", 1, 9);
    QTest::newRow("other letter case is a second entry")
        << QStringList{"/data/Dir"} << "/data/dir" << QStringList{"/data/dir", "/data/Dir"};
    QTest::newRow("empty field puts an empty entry on top")
        << QStringList{"/a", "/b"} << "" << QStringList{"", "/a", "/b"};
    QTest::newRow("blanks are kept, not trimmed")
        << QStringList{"/a"} << " /a " << QStringList{" /a ", "/a"};
  }
  void mostRecentlyUsedRules() {
    QFETCH(QStringList, before);
    QFETCH(QString, used);
    QFETCH(QStringList, after);
    QVERIFY(SettingsStore().WriteHistory("Fingerprint_dir", ToHistory(before)));
    QComboBox combo;
    combo.setEditable(true);
    SettingsReader().Visit(u"Fingerprint_dir", combo);
    QCOMPARE(ComboItems(combo), before);
    combo.setEditText(used);
    SettingsWriter().Visit(u"Fingerprint_dir", combo);
    QCOMPARE(ComboItems(combo), after);
    QCOMPARE(combo.currentText(), used);
    const auto stored = Decode(StoredValue("Fingerprint_dir").toByteArray());
    QVERIFY(stored.has_value());
    QCOMPARE(ToStrings(*stored), after);
  }

  void checkStatesAreStoredAs32BitNumbers() {
    QCheckBox check;
    check.setChecked(true);
    SettingsWriter().Visit(u"Apply_fpignore", check);
    uint32_t value = 7;
    QVERIFY(SettingsStore().ReadNumber("Apply_fpignore", value));
    QCOMPARE(value, 1u);
    check.setChecked(false);
    SettingsWriter().Visit(u"Apply_fpignore", check);
    QVERIFY(SettingsStore().ReadNumber("Apply_fpignore", value));
    QCOMPARE(value, 0u);

    QCheckBox loaded;
    StoreValue("Apply_fsignore", 1u);
    SettingsReader().Visit(u"Apply_fsignore", loaded);
    QVERIFY(loaded.isChecked());
    loaded.setChecked(true);
    SettingsReader().Visit(u"CrPatchVault_updateVault", loaded);  // absent: unchanged
    QVERIFY(loaded.isChecked());
  }

 private:
  QTemporaryDir settingsDir_;
};

}  // namespace torquelin

QTEST_MAIN(torquelin::ControlVisitorsTest)
#include "control_visitors_test.moc"
